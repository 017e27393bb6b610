#include "package/page_buffer.h"

#include <cstddef>
#include <cstring>
#include <limits>

namespace veltr {

bool CVeltrPageBuffer::Resize(uint32_t pageCount) {
  const uint64_t bytes = static_cast<uint64_t>(pageCount) * pageSize_;
  // The byte block is counted in 32 bits: a page count whose bytes do not fit is refused rather
  // than wrapped into a block smaller than the pages it claims to hold.
  if (bytes > std::numeric_limits<uint32_t>::max() ||
      !CVeltrBuffer::Resize(static_cast<uint32_t>(bytes))) {
    CVeltrBuffer::Resize(0);
    pageCount_ = 0;
    return false;
  }
  if (bytes != 0) {
    std::memset(Data(), 0xFF, static_cast<size_t>(bytes));
  }
  pageCount_ = pageCount;
  return true;
}

uint8_t* CVeltrPageBuffer::At(uint32_t page) {
  return Data() + static_cast<size_t>(page) * pageSize_;
}

const uint8_t* CVeltrPageBuffer::At(uint32_t page) const {
  return Data() + static_cast<size_t>(page) * pageSize_;
}

}  // namespace veltr
