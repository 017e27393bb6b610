#pragma once

#include <cstdint>
#include <limits>
#include <string>

#include "package/page_buffer.h"

namespace veltr {

// An image file read whole into pages; the last page is filled up with FF.
class CVeltrPageFile : public CVeltrPageBuffer {
 public:
  // The most a page file holds: its block is counted in 32 bits.
  static constexpr uint64_t kMaxLength = std::numeric_limits<uint32_t>::max();

  explicit CVeltrPageFile(uint32_t pageSize) : CVeltrPageBuffer(pageSize) {}

  // True when the whole file is in the buffer. Page size 0 fails without opening anything; a
  // FIFO, device or folder is refused without being opened. A file longer than maxLength is
  // refused unread; its length is still recorded, so the caller can tell "too long" from
  // "not there".
  bool Load(const std::string& path, uint64_t maxLength = kMaxLength);
  // Sum of all file bytes, each 0 to 255.
  uint64_t ByteSum() const;
  uint64_t GetFileLength() const { return fileLength_; }

 private:
  uint64_t fileLength_ = 0;
};

}  // namespace veltr
