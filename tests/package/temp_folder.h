#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <ostream>
#include <string>

namespace veltr {

// What can stand under a package file's name besides a plain file.
enum class SpecialFile { Fifo, LinkToRandom, DanglingLink, Folder };

// A fresh folder per test, removed afterwards, for the small files a test writes.
class TempFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "veltr-package-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  std::string PathOf(const std::string& name) const { return (folder_ / name).string(); }

  std::string Write(const std::string& name, const std::string& bytes) const {
    const std::string path = PathOf(name);
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    EXPECT_TRUE(out.good()) << path;
    return path;
  }

  std::string MakeSpecial(const std::string& name, SpecialFile kind) const {
    const std::string path = PathOf(name);
    switch (kind) {
      case SpecialFile::Fifo:
        EXPECT_EQ(mkfifo(path.c_str(), 0644), 0) << path;
        break;
      case SpecialFile::LinkToRandom:
        std::filesystem::create_symlink("/dev/urandom", path);
        break;
      case SpecialFile::DanglingLink:
        std::filesystem::create_symlink(PathOf("nowhere"), path);
        break;
      case SpecialFile::Folder:
        std::filesystem::create_directory(path);
        break;
    }
    return path;
  }

  // A file of length zero bytes that takes no room on the disk.
  std::string MakeSparse(const std::string& name, uint64_t length) const {
    const std::string path = Write(name, "");
    std::filesystem::resize_file(path, length);
    return path;
  }

  // Runs read on another thread and gives its result, or none when it was still waiting after a
  // generous bound. A read stuck in the open of a FIFO is then let go by opening the FIFO's far end
  // once, so the test ends either way.
  template <typename Read>
  static std::optional<bool> UnlessBlocked(const std::string& fifoPath, Read read) {
    auto done = std::async(std::launch::async, read);
    if (done.wait_for(std::chrono::seconds(10)) == std::future_status::ready) {
      return done.get();
    }
    const int writer = open(fifoPath.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) {
      close(writer);
    }
    done.wait();
    return std::nullopt;
  }

  std::filesystem::path folder_;
};

inline const char* SpecialFileName(SpecialFile kind) {
  switch (kind) {
    case SpecialFile::Fifo:
      return "Fifo";
    case SpecialFile::LinkToRandom:
      return "LinkToRandom";
    case SpecialFile::DanglingLink:
      return "DanglingLink";
    case SpecialFile::Folder:
      return "Folder";
  }
  return "Unknown";
}

// Test names and their listings show the kind by name.
inline void PrintTo(SpecialFile kind, std::ostream* os) {
  *os << SpecialFileName(kind);
}

}  // namespace veltr
