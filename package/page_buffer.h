#pragma once

#include <cstdint>

#include "base/buffer.h"

namespace veltr {

// Pages of a fixed size back to back, new pages all FF. GetSize() counts pages, At(i) is page i.
class CVeltrPageBuffer : public CVeltrBuffer {
 public:
  explicit CVeltrPageBuffer(uint32_t pageSize) : pageSize_(pageSize) {}

  bool Resize(uint32_t pageCount) override;
  uint8_t* At(uint32_t page) override;
  const uint8_t* At(uint32_t page) const override;
  uint32_t GetSize() const override { return pageCount_; }

  uint32_t GetPageSize() const { return pageSize_; }

 private:
  uint32_t pageSize_;
  uint32_t pageCount_ = 0;
};

}  // namespace veltr
