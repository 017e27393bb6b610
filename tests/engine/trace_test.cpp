#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine_fixture.h"
#include "fake_device.h"
#include "protocol/commands.h"

namespace veltr::test {
namespace {

std::string Hex(const uint8_t* bytes, uint32_t count) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (uint32_t i = 0; i < count; ++i) {
    text += i == 0 ? "" : " ";
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  return text;
}

// One trace line cut at its first two spaces: time, port, and what happened.
struct TraceLine {
  long long time = -1;
  std::string port;
  std::string what;
};

std::vector<TraceLine> ParseTrace(const std::string& text) {
  std::vector<TraceLine> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') {
      continue;
    }
    TraceLine parsed;
    std::istringstream fields(line);
    fields >> parsed.time >> parsed.port;
    std::getline(fields >> std::ws, parsed.what);
    lines.push_back(parsed);
  }
  return lines;
}

class TraceTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    path_ = (folder_ / "wire.trace").string();
    std::string error;
    ASSERT_TRUE(engine_.StartTrace(path_, error)) << error;
  }

  std::string FileText() const {
    std::ifstream in(path_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // Stops the trace, so that everything is on disk, and reads it.
  std::string StopAndRead() {
    engine_.StopTrace();
    return FileText();
  }

  std::string path_;
};

TEST_F(TraceTest, OnlyATracedEngineStandsBetweenItselfAndThePort) {
  ScriptedPort port;
  engine_.SetCurrentPort(port);
  EXPECT_NE(&engine_.CurrentPort(), &port) << "traced: the engine talks to the trace";
  EXPECT_STREQ(engine_.CurrentPort().GetName(), "RS232");
  engine_.SetCurrentPort(engine_.CurrentPort());
  engine_.StopTrace();
  EXPECT_EQ(&engine_.CurrentPort(), &port) << "untraced: nothing in between";
  engine_.SetCurrentPort(port);
  EXPECT_EQ(&engine_.CurrentPort(), &port);
}

// A device answers the exit with its carriage return; the access sequence follows at once, then
// the identity and the information block.
class ProgramModeDevice : public ScriptedPort {
 public:
  ProgramModeDevice() {
    SetResponder([](ScriptedPort& port, const Bytes& written) {
      if (written == Bytes{0x80, 0x55, 0x1A, 0x1B}) {
        port.QueueAnswer({0x0D});
      } else if (written.size() == 16) {
        Bytes identity(16, 0);
        identity[4] = 1;
        identity[5] = 1;
        port.QueueAnswer(identity);
      } else if (written == Bytes{0x40}) {
        port.QueueAnswer(Bytes(128, 0xFF));
      }
    });
  }
};

TEST_F(TraceTest, ConnectionTraceShowsTheAccessSequenceOnlyAsAPlaceholder) {
  ProgramModeDevice device;
  engine_.SetCurrentPort(device);
  IVeltrPort& port = engine_.CurrentPort();
  CVeltrCommandProgramModeEnter entry;
  CVeltrCommandProgramModeExit exit;
  ASSERT_EQ(exit.Execute(port, &entry), Ok);
  uint32_t alreadySent = 0;  // and once more by the entry itself
  DeviceIdentity identity;
  ASSERT_EQ(entry.Execute(port, &alreadySent, &identity), Ok);
  CVeltrCommandEEPROMRead read;
  EepromInfoRecord record;
  ASSERT_EQ(read.Execute(port, &record), Ok);

  const Bytes clear(entry.At(0), entry.At(0) + entry.GetSize());
  const auto chunks = device.Chunks();
  ASSERT_EQ(std::count(chunks.begin(), chunks.end(), clear), 2) << "the device got it in clear";
  const std::string text = StopAndRead();
  const std::string sequence = Hex(entry.At(0), entry.GetSize());
  EXPECT_EQ(text.find(sequence), std::string::npos);
  EXPECT_EQ(text.find(sequence.substr(0, 23)), std::string::npos) << "its first half";
  EXPECT_EQ(text.find(sequence.substr(24)), std::string::npos) << "its second half";

  std::vector<std::string> whats;
  for (const auto& line : ParseTrace(text)) {
    whats.push_back(line.what);
  }
  const std::vector<std::string> expected = {
      "timeout 250",
      "> 4 80 55 1A 1B",
      "< 1 0D",
      "> 16 <access sequence, 16 bytes>",
      "timeout 1000",
      "> 16 <access sequence, 16 bytes>",
      "< 16 00 00 00 00 01 01 00 00 00 00 00 00 00 00 00 00",
  };
  ASSERT_GE(whats.size(), expected.size() + 2);
  EXPECT_EQ(std::vector<std::string>(whats.begin(), whats.begin() + 7), expected);
  EXPECT_EQ(whats[whats.size() - 2], "> 1 40");
  EXPECT_EQ(whats.back(), "< 128 " + Hex(Bytes(128, 0xFF).data(), 128));
}

// A warm boot into a silent line: the line speed changes, the time-out and the reads that timed
// out are all there, in order, with their times never going back.
TEST_F(TraceTest, SpeedChangesTimeoutsAndSilentReadsAreTraced) {
  ScriptedPort silent("RS232", kPortSerialObject, 115200);
  silent.QueueSilence(3);
  engine_.SetCurrentPort(silent);
  CVeltrCommandWarmBoot warmBoot;
  EXPECT_EQ(warmBoot.Execute(engine_.CurrentPort(), nullptr), NoResponse);

  const auto lines = ParseTrace(StopAndRead());
  const std::vector<std::string> attempt = {
      "baud 57600", "timeout 500", "> 5 04 55 1A 1B 8E", "baud 115200", "<! 1 timed-out",
  };
  ASSERT_EQ(lines.size(), 3 * attempt.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].what, attempt[i % attempt.size()]) << "line " << i;
    EXPECT_EQ(lines[i].port, "RS232");
    ASSERT_GE(lines[i].time, i == 0 ? 0 : lines[i - 1].time) << "line " << i;
  }
}

// A front end may hand the file on as soon as a job has ended, with the engine still running.
TEST_F(TraceTest, AJobEndPutsTheTraceOnDisk) {
  FakeDevicePort device;
  Connect(KL1A, 101, device);
  ASSERT_TRUE(engine_.StartJob(
      [](UpgradeEngine& e) {
        CVeltrCommandProgramModeExit exit;
        static_cast<void>(exit.Execute(e.CurrentPort(), nullptr));
      },
      JobRequest{}));
  for (;;) {
    const auto notice = engine_.Notices().Take(std::chrono::seconds(30));
    ASSERT_TRUE(notice) << "no job-finished notice";
    if (notice->kind == Notice::Kind::JobFinished) {
      break;
    }
  }
  engine_.WaitForWorker();
  engine_.ClearBusy();
  EXPECT_NE(FileText().find(" > 4 80 55 1A 1B\n"), std::string::npos) << FileText();
}

TEST(TraceFile, AnUnwritablePathIsRefusedWithTheSystemsReason) {
  CVeltrPortMap portMap;
  UpgradeEngine engine(MakeSystemPorts(portMap));
  std::string error;
  EXPECT_FALSE(engine.StartTrace("/nonexistent-folder/wire.trace", error));
  EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
  EXPECT_FALSE(engine.Tracing());
  EXPECT_EQ(&engine.CurrentPort(), &engine.PortFor(kPortCom1));
}

}  // namespace
}  // namespace veltr::test
