#include "transport/port_holders.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "pty_pair.h"
#include "tests/support/port_holder.h"

namespace veltr {
namespace {

namespace fs = std::filesystem;

// The holder is found by the device behind the path, whatever name each side used for it.
TEST(PortHoldersTest, FoundThroughAnyNameOfTheDevice) {
  test::PtyPair pty;
  test::PortHolderProcess holder(pty.SlavePath());
  ASSERT_TRUE(holder.Holds());
  const fs::path link = fs::temp_directory_path() / ("veltr-by-id-" + std::to_string(getpid()));
  fs::remove(link);
  fs::create_symlink(pty.SlavePath(), link);

  for (const std::string& path : {pty.SlavePath(), link.string()}) {
    SCOPED_TRACE(path);
    const auto holders = FindPortHolders(path);
    ASSERT_EQ(holders.size(), 1u);
    EXPECT_EQ(holders[0].pid, holder.Pid());
    EXPECT_EQ(holders[0].name, holder.CommandName());
  }
  fs::remove(link);
}

// This process holds the pty too (the test's own pair) but is never its own rival.
TEST(PortHoldersTest, NoneWhenOnlyThisProcessHoldsIt) {
  test::PtyPair pty;
  EXPECT_TRUE(FindPortHolders(pty.SlavePath()).empty());
  EXPECT_EQ(InUseText(pty.SlavePath()), pty.SlavePath() + " is in use by another program");
}

TEST(PortHoldersTest, NoneForWhatIsNoDevice) {
  EXPECT_TRUE(FindPortHolders("/dev/veltr-no-such-tty").empty());
  EXPECT_TRUE(FindPortHolders(fs::temp_directory_path().string()).empty());
}

}  // namespace
}  // namespace veltr
