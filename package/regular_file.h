#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace veltr {

// A package file opened for reading only when it is a plain file. A FIFO, a device or a folder
// under a package file's name is refused before it is opened, so that no open or read can wait
// for a writer that never comes or stream without end; the length is known before anything is
// read and no read goes beyond it.
class CVeltrRegularFile {
 public:
  CVeltrRegularFile() = default;
  ~CVeltrRegularFile();
  CVeltrRegularFile(const CVeltrRegularFile&) = delete;
  CVeltrRegularFile& operator=(const CVeltrRegularFile&) = delete;

  // False for a missing path, anything but a regular file, and a file that cannot be opened.
  bool Open(const std::string& path);
  // The file's length when it was opened.
  uint64_t Length() const { return length_; }
  // Reads exactly count bytes from the current position; false on an error or an early end.
  bool Read(uint8_t* into, size_t count);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
  uint64_t length_ = 0;
};

}  // namespace veltr
