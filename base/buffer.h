#pragma once

#include <cstdint>
#include <memory>

namespace veltr {

// A resizable block of bytes: what ports send and receive, and the base of every command and of
// the page buffer. Resizing does not keep the old contents. Buffers are never copied.
class CVeltrBuffer {
 public:
  CVeltrBuffer() = default;
  virtual ~CVeltrBuffer() = default;
  CVeltrBuffer(const CVeltrBuffer&) = delete;
  CVeltrBuffer& operator=(const CVeltrBuffer&) = delete;

  // n = 0 frees the block; n equal to the size changes nothing; otherwise a fresh block of n
  // uninitialised bytes. On a failed allocation the buffer is empty and the result false.
  virtual bool Resize(uint32_t n);
  // Grows through Resize when the size is below n; never shrinks.
  virtual bool Reserve(uint32_t n);
  // No bounds check: callers stay below GetSize().
  virtual uint8_t* At(uint32_t offset);
  virtual const uint8_t* At(uint32_t offset) const;
  virtual uint32_t GetSize() const;

  // The raw byte block, whatever GetSize() means for a derived buffer.
  uint8_t* Data() { return data_.get(); }
  const uint8_t* Data() const { return data_.get(); }
  uint32_t ByteCount() const { return size_; }

  // A buffer whose bytes must never be shown or written anywhere outside the exchange itself
  // (a wire trace writes "<what, n bytes>" in their place). what names the contents and must
  // outlive the buffer; a string literal does. Survives Resize.
  void MarkSecret(const char* what) { secret_ = what; }
  // What the secret bytes are, or null for an ordinary buffer.
  const char* Secret() const { return secret_; }

 private:
  uint32_t size_ = 0;
  const char* secret_ = nullptr;
  std::unique_ptr<uint8_t[]> data_;
};

}  // namespace veltr
