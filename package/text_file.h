#pragma once

#include <string>

#include "package/regular_file.h"

namespace veltr {

// Reads the head of a file as a narrow text: the build text of "Build.txt".
class CVeltrTextFile {
 public:
  static constexpr size_t kHeadLength = 30;

  // Binary reading, of a regular file only: a FIFO or a device under the name counts as no file.
  bool Open(const std::string& path);
  // Reads the first min(length, 30) bytes as they are into Text() and closes the file; true when
  // all bytes asked for were read.
  bool ReadHead();
  const std::string& Text() const { return text_; }

 private:
  CVeltrRegularFile file_;
  std::string text_;
};

}  // namespace veltr
