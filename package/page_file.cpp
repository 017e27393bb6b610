#include "package/page_file.h"

#include <algorithm>

#include "package/regular_file.h"

namespace veltr {

bool CVeltrPageFile::Load(const std::string& path, uint64_t maxLength) {
  const uint32_t pageSize = GetPageSize();
  fileLength_ = 0;
  if (pageSize == 0) {
    return false;
  }
  CVeltrRegularFile file;
  if (!file.Open(path)) {
    return false;
  }
  fileLength_ = file.Length();
  // Refused before anything is allocated or read: an image longer than the device takes (or
  // than the 32-bit block can hold) can only be a wrong file.
  if (fileLength_ > std::min(maxLength, kMaxLength)) {
    return false;
  }
  const uint64_t pageCount = (fileLength_ + pageSize - 1) / pageSize;
  if (!Resize(static_cast<uint32_t>(pageCount))) {
    return false;
  }
  // A file that shrank since it was opened ends early: a short read, and the load fails.
  return file.Read(Data(), static_cast<size_t>(fileLength_));
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
