#include "package/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace veltr {

CVeltrRegularFile::~CVeltrRegularFile() {
  Close();
}

bool CVeltrRegularFile::Open(const std::string& path) {
  Close();
  struct stat before {};
  // Opening a FIFO for reading waits for a writer; only a name that stats as a plain file is
  // opened at all.
  if (path.empty() || stat(path.c_str(), &before) != 0 || !S_ISREG(before.st_mode)) {
    return false;
  }
  // Non-blocking, in case the name was swapped for a FIFO or a device after the check; a plain
  // file reads the same either way.
  const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  struct stat after {};
  if (fstat(fd, &after) != 0 || !S_ISREG(after.st_mode)) {
    close(fd);
    return false;
  }
  fd_ = fd;
  length_ = static_cast<uint64_t>(after.st_size);
  return true;
}

bool CVeltrRegularFile::Read(uint8_t* into, size_t count) {
  if (fd_ < 0) {
    return false;
  }
  size_t done = 0;
  while (done < count) {
    const ssize_t n = read(fd_, into + done, count - done);
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

void CVeltrRegularFile::Close() {
  if (fd_ >= 0) {
    close(fd_);
    fd_ = -1;
  }
  length_ = 0;
}

}  // namespace veltr
