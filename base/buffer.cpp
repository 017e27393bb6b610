#include "base/buffer.h"

#include <new>

namespace veltr {

bool CVeltrBuffer::Resize(uint32_t n) {
  if (n == size_) {
    return true;
  }
  data_.reset();
  size_ = 0;
  if (n == 0) {
    return true;
  }
  data_.reset(new (std::nothrow) uint8_t[n]);
  if (!data_) {
    return false;
  }
  size_ = n;
  return true;
}

bool CVeltrBuffer::Reserve(uint32_t n) {
  // Compared in the buffer's own unit, so a page buffer grows by pages.
  if (GetSize() < n) {
    return Resize(n);
  }
  return true;
}

uint8_t* CVeltrBuffer::At(uint32_t offset) {
  return data_.get() + offset;
}

const uint8_t* CVeltrBuffer::At(uint32_t offset) const {
  return data_.get() + offset;
}

uint32_t CVeltrBuffer::GetSize() const {
  return size_;
}

}  // namespace veltr
