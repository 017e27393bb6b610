#include "package/text_file.h"

namespace veltr {

bool CVeltrTextFile::Open(const std::string& path) {
  return file_.Open(path);
}

bool CVeltrTextFile::ReadHead() {
  if (!file_.IsOpen()) {
    return false;
  }
  const uint64_t length = file_.Length();
  const size_t wanted = length >= kHeadLength ? kHeadLength : static_cast<size_t>(length);
  text_.assign(wanted, '\0');
  const bool read = file_.Read(reinterpret_cast<uint8_t*>(text_.data()), wanted);
  file_.Close();
  if (!read) {
    // A short read keeps nothing rather than a tail of zeros posing as text.
    text_.clear();
  }
  return read;
}

}  // namespace veltr
