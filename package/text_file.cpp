#include "package/text_file.h"

#include <sys/stat.h>

namespace veltr {

CVeltrTextFile::~CVeltrTextFile() {
  if (file_ != nullptr) {
    std::fclose(file_);
  }
}

bool CVeltrTextFile::Open(const std::string& path) {
  if (file_ != nullptr) {
    std::fclose(file_);
  }
  file_ = std::fopen(path.c_str(), "rb");
  return file_ != nullptr;
}

bool CVeltrTextFile::ReadHead() {
  if (file_ == nullptr) {
    return false;
  }
  struct stat info {};
  // Only a regular file has a length to go by; a folder opens for reading but holds no text.
  const bool known = fstat(fileno(file_), &info) == 0 && S_ISREG(info.st_mode);
  const uint64_t length = known ? static_cast<uint64_t>(info.st_size) : 0;
  const size_t wanted = length >= kHeadLength ? kHeadLength : static_cast<size_t>(length);

  text_.assign(wanted, '\0');
  const size_t read = wanted == 0 ? 0 : std::fread(text_.data(), 1, wanted, file_);
  // A short read keeps only the bytes that arrived, never a tail of zeros posing as text.
  text_.resize(read);
  std::fclose(file_);
  file_ = nullptr;
  return known && read == wanted;
}

}  // namespace veltr
