// The device's memory on disk, its reload, and what the options may change in it.
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "device_rig.h"
#include "devsim/serial_number.h"

namespace devsim_test {
namespace {

using devsim::Mode;

class StateTest : public DeviceRig {
 protected:
  devsim::SimulatorOptions Options() {
    devsim::SimulatorOptions options;
    options.start = Mode::kProgram;
    options.stateDir = dir.path();
    return options;
  }
  TempDir dir;
};

TEST_F(StateTest, SavedOnceTheLineIsQuiet) {
  StartDevice(Device("MT30E"), Options());
  line.SetSpeed(B115200);
  const Bytes data = PagePattern(42);
  ASSERT_EQ(line.Exchange(LogicPageFrame(9, data), 4), PageAck(data));

  std::optional<devsim::DeviceState> saved;
  for (int i = 0; i < 40; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    saved = devsim::LoadState(dir.path());
    if (saved && saved->LogicPage(9) == data) {
      break;
    }
  }
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->LogicPage(9), data) << "written while the device still runs";
  EXPECT_EQ(saved->LogicPage(8), Bytes(256, 0xFF));
}

TEST_F(StateTest, MemorySurvivesARestart) {
  devsim::IdentityChanges changes;
  changes.serialNumber = "C-12-0042";
  StartDevice(Device("VR2-TP", changes), Options());
  line.SetSpeed(B115200);
  Bytes texts(64, 0xFF);
  std::copy_n("first run", 9, texts.begin());
  texts[60] = 0x02;
  texts[61] = 0x11;
  EXPECT_EQ(EchoExchange(0x42, texts), texts);
  const Bytes logic = PagePattern(1);
  const Bytes processor = PagePattern(2);
  ASSERT_EQ(line.Exchange(LogicPageFrame(5, logic), 4), PageAck(logic));
  ASSERT_EQ(line.Exchange(ProcessorPageFrame(700, processor), 4), PageAck(processor));
  StopDevice();

  std::string error;
  auto reloaded = devsim::LoadState(dir.path(), &error);
  ASSERT_TRUE(reloaded) << error;
  EXPECT_EQ(reloaded->identity.type, 30);
  EXPECT_EQ(reloaded->identity.serialNumber, "C-12-0042");
  EXPECT_EQ(reloaded->LogicPage(5), logic);
  EXPECT_EQ(reloaded->ProcessorPage(700), processor);
  ASSERT_EQ(reloaded->writeLog.size(), 3u);
  const std::uint64_t lastSequence = reloaded->writeLog.back().sequence;

  StartDevice(*reloaded, Options());
  const Bytes identity = line.Exchange(AccessSequence(), 16);
  ASSERT_EQ(identity.size(), 16u);
  EXPECT_EQ(std::string(identity.begin() + 8, identity.end()), "  VR2-TP");
  const Bytes info = line.Exchange({0x40}, 128);
  ASSERT_EQ(info.size(), 128u);
  EXPECT_EQ(DecodeSerial(info.data()), "C-12-0042");
  EXPECT_TRUE(std::equal(texts.begin(), texts.end(), info.begin() + 64));
  ASSERT_EQ(line.Exchange(ProcessorPageFrame(0, logic), 4), PageAck(logic));
  StopDevice();

  const auto again = devsim::LoadState(dir.path());
  ASSERT_TRUE(again);
  EXPECT_GT(again->writeLog.back().sequence, lastSequence) << "numbering goes on";
  EXPECT_EQ(again->ProcessorPage(700), processor);
}

TEST_F(StateTest, ChangesTouchOnlyWhatTheyName) {
  devsim::IdentityChanges first;
  first.hardwareVersion = 120;
  first.serialNumber = "D-01-0203";
  first.text1 = "one";
  first.text2 = "two";
  devsim::DeviceState state = Device("MT20E", first);
  const auto before = state;

  devsim::IdentityChanges second;
  second.text2 = "second";
  second.uploaderVersion = 111;
  std::string error;
  ASSERT_TRUE(devsim::ApplyChanges(state, second, &error)) << error;
  EXPECT_EQ(state.identity.type, before.identity.type);
  EXPECT_EQ(state.identity.hardwareVersion, 120);
  EXPECT_EQ(state.identity.uploaderVersion, 111);
  EXPECT_TRUE(std::equal(before.eeprom.begin(), before.eeprom.begin() + 94, state.eeprom.begin()))
      << "serial and text 1";
  EXPECT_EQ(std::string(state.eeprom.begin() + 94, state.eeprom.begin() + 100), "second");
  EXPECT_EQ(state.eeprom[100], 0xFF);
}

TEST_F(StateTest, DamagedFolderIsReportedNotGuessed) {
  std::string error;
  EXPECT_FALSE(devsim::LoadState(dir.Sub("missing"), &error));
  EXPECT_NE(error.find("identity.json"), std::string::npos) << error;

  ASSERT_TRUE(devsim::SaveState(dir.path(), Device("HS1")));
  std::ofstream(dir.Sub("eeprom.bin"), std::ios::binary | std::ios::trunc) << "short";
  EXPECT_FALSE(devsim::LoadState(dir.path(), &error));
  EXPECT_NE(error.find("eeprom.bin"), std::string::npos) << error;
}

struct BadChangeCase {
  const char* what;
  devsim::IdentityChanges changes;
};

devsim::IdentityChanges Serial(const char* text) {
  devsim::IdentityChanges c;
  c.serialNumber = text;
  return c;
}

const BadChangeCase kBadChanges[] = {
    {"lower-case letter", Serial("b-07-1234")},
    {"group without its leading zero", Serial("B-7-1234")},
    {"group above a byte", Serial("B-256-1234")},
    {"number out of reach", Serial("B-07-25656")},
    {"no dashes", Serial("B071234")},
    {"empty", Serial("")},
    {"text of 31 bytes",
     [] {
       devsim::IdentityChanges c;
       c.text1 = std::string(31, 'x');
       return c;
     }()},
    {"identifier of 7 bytes",
     [] {
       devsim::IdentityChanges c;
       c.identifier = "  KL1 A";
       return c;
     }()},
    {"type 33",
     [] {
       devsim::IdentityChanges c;
       c.type = 33;
       return c;
     }()},
};

TEST_F(StateTest, BadChangesAreRefusedWithAReason) {
  for (const BadChangeCase& c : kBadChanges) {
    devsim::DeviceState state = Device("KL1A");
    std::string error;
    EXPECT_FALSE(devsim::ApplyChanges(state, c.changes, &error)) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
  }
}

struct TypeNameCase {
  const char* name;
  std::optional<int> type;
};

const TypeNameCase kTypeNames[] = {
    {"KL1A", 0},
    {"KL1A-96k", 1},
    {"PXR(-TP)", 24},
    {"pxr(-tp)", 24},
    {"RIF Engine", 10},
    {"32", 32},
    {"0", 0},
    {"33", std::nullopt},
    {"-1", std::nullopt},
    {"Unknown", std::nullopt},
    {"", std::nullopt},
    {"KL1A ", std::nullopt},
};

TEST(TypeNameTest, ShortNamesAndNumbers) {
  for (const TypeNameCase& c : kTypeNames) {
    EXPECT_EQ(devsim::ParseTypeName(c.name), c.type) << '"' << c.name << '"';
  }
}

}  // namespace
}  // namespace devsim_test
