#pragma once

#include <cstdint>
#include <string>

#include "package/page_buffer.h"

namespace veltr {

// An image file read whole into pages; the last page is filled up with FF.
class CVeltrPageFile : public CVeltrPageBuffer {
 public:
  explicit CVeltrPageFile(uint32_t pageSize) : CVeltrPageBuffer(pageSize) {}

  // True when the whole file is in the buffer. Page size 0 fails without opening anything.
  bool Load(const std::string& path);
  // Sum of all file bytes, each 0 to 255.
  uint64_t ByteSum() const;
  uint64_t GetFileLength() const { return fileLength_; }

 private:
  uint64_t fileLength_ = 0;
};

}  // namespace veltr
