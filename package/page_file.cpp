#include "package/page_file.h"

#include <sys/stat.h>

#include <cstdio>
#include <limits>
#include <memory>

namespace veltr {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

bool CVeltrPageFile::Load(const std::string& path) {
  const uint32_t pageSize = GetPageSize();
  if (pageSize == 0) {
    return false;
  }
  FileHandle file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    return false;
  }
  struct stat info {};
  // A folder opens for reading here but is no image.
  if (fstat(fileno(file.get()), &info) != 0 || !S_ISREG(info.st_mode)) {
    return false;
  }
  fileLength_ = static_cast<uint64_t>(info.st_size);

  // An image of 4 GiB or more can never load whole (the block is counted in 32 bits), so it is
  // refused before anything is allocated or read; Resize refuses a rounded-up page count whose
  // bytes no longer fit.
  if (fileLength_ > std::numeric_limits<uint32_t>::max()) {
    return false;
  }
  const uint64_t pageCount = (fileLength_ + pageSize - 1) / pageSize;
  if (!Resize(static_cast<uint32_t>(pageCount))) {
    return false;
  }
  const size_t length = static_cast<size_t>(fileLength_);
  const size_t read = length == 0 ? 0 : std::fread(Data(), 1, length, file.get());
  file.reset();
  return read == length;
}

uint64_t CVeltrPageFile::ByteSum() const {
  // Bounded by the block: after a failed load the recorded length may exceed what is held.
  const uint64_t count = fileLength_ < ByteCount() ? fileLength_ : ByteCount();
  const uint8_t* bytes = Data();
  uint64_t sum = 0;
  for (uint64_t i = 0; i < count; ++i) {
    sum += bytes[i];
  }
  return sum;
}

}  // namespace veltr
