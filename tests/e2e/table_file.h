#pragma once

// A markdown table in the build folder written by tests that run as separate processes: each case
// writes its own row file, then the table is rebuilt from every row present, one writer at a time.

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace veltr::e2e {

// dir/rows/<key> holds the row; dir/<table> the header and all rows sorted by key.
inline bool WriteTableRow(const std::filesystem::path& dir, const std::string& table,
                          const std::string& header, const std::string& key,
                          const std::string& row) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::create_directories(dir / "rows", ec);
  {
    std::ofstream out(dir / "rows" / key);
    out << row << "\n";
    if (!out) {
      return false;
    }
  }
  const int lock = open((dir / "lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
  if (lock < 0) {
    return false;
  }
  flock(lock, LOCK_EX);
  std::vector<fs::path> rows;
  for (const auto& entry : fs::directory_iterator(dir / "rows", ec)) {
    rows.push_back(entry.path());
  }
  std::sort(rows.begin(), rows.end());
  const fs::path fresh = dir / (table + ".new");
  {
    std::ofstream out(fresh);
    out << header;
    for (const auto& path : rows) {
      std::ifstream in(path);
      out << in.rdbuf();
    }
  }
  fs::rename(fresh, dir / table, ec);
  flock(lock, LOCK_UN);
  close(lock);
  return !ec;
}

}  // namespace veltr::e2e
