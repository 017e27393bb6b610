#pragma once

#include <cstdio>
#include <string>

namespace veltr {

// Reads the head of a file as a narrow text: the build text of "Build.txt".
class CVeltrTextFile {
 public:
  static constexpr size_t kHeadLength = 30;

  CVeltrTextFile() = default;
  ~CVeltrTextFile();
  CVeltrTextFile(const CVeltrTextFile&) = delete;
  CVeltrTextFile& operator=(const CVeltrTextFile&) = delete;

  bool Open(const std::string& path);  // binary reading
  // Reads the first min(length, 30) bytes as they are into Text() and closes the file; true when
  // all bytes asked for were read.
  bool ReadHead();
  const std::string& Text() const { return text_; }

 private:
  std::FILE* file_ = nullptr;
  std::string text_;
};

}  // namespace veltr
