#pragma once

// The fuzzers' view of their input: bytes taken from the front as the target needs them, and a
// scratch file for the parsers that read from a path.

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace veltr::fuzz {

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  // Up to count bytes; fewer at the end of the input.
  std::vector<uint8_t> Take(size_t count) {
    const size_t n = std::min(count, size_ - at_);
    std::vector<uint8_t> bytes(data_ + at_, data_ + at_ + n);
    at_ += n;
    return bytes;
  }
  std::vector<uint8_t> Rest() { return Take(size_ - at_); }
  bool Empty() const { return at_ >= size_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// A plain file in the temporary folder, rewritten for every input and removed at exit.
class ScratchFile {
 public:
  explicit ScratchFile(const char* name) {
    // Memory-backed where there is such a folder: a file on disk costs most of the run time.
    const char* dir = getenv("TMPDIR");
    if (dir == nullptr) {
      dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    }
    path_ = std::string(dir) + "/veltr-fuzz-" + name + "-XXXXXX";
    const int fd = mkstemp(path_.data());
    if (fd >= 0) {
      close(fd);
    }
  }
  ~ScratchFile() { unlink(path_.c_str()); }
  const std::string& Write(const uint8_t* data, size_t size) {
    const int fd = open(path_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd >= 0) {
      size_t done = 0;
      while (done < size) {
        const ssize_t n = write(fd, data + done, size - done);
        if (n <= 0) {
          break;
        }
        done += static_cast<size_t>(n);
      }
      close(fd);
    }
    return path_;
  }

 private:
  std::string path_;
};

}  // namespace veltr::fuzz
