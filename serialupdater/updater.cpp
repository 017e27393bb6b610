#include "updater.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <system_error>

namespace su {
namespace {

using Clock = std::chrono::steady_clock;

// How long one blocking poll of the line lasts before the window gets its events again: short
// enough for the window to repaint and move smoothly, long enough to keep the processor idle.
constexpr int kSliceMs = 15;

constexpr std::size_t kPageBufferSize = 800001;
constexpr std::size_t kBlockSize = 256;
constexpr std::size_t kUserTextSize = 30;
constexpr std::size_t kInfoAreaSize = 64;

constexpr std::uint8_t kCarriageReturn = 0x0D;
constexpr std::uint8_t kPageAccepted = 0x55;
constexpr std::uint8_t kEepromRead = 0x40;
constexpr std::uint8_t kEepromWrite = 0x42;
constexpr std::uint8_t kEepromErase = 0x43;
constexpr std::uint8_t kLogicPage = 0x10;
constexpr std::uint8_t kProcBlock = 0x20;
constexpr std::uint8_t kLoaderConnect = 0x20;
constexpr std::uint8_t kLoaderErase = 0x21;
constexpr std::uint8_t kLoaderWrite = 0x24;

constexpr std::array<std::uint8_t, 5> kWakeUpSequence = {0x04, 0x55, 0x1A, 0x1B, 0x8E};
constexpr std::array<std::uint8_t, 4> kProgModeExit = {0x80, 0x55, 0x1A, 0x1B};

const char* const kNoResponseBoxText =
    "There was no response!\rPlease check connection and try again!";

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void SleepMs(int ms) {
  poll(nullptr, 0, ms);
}

std::string Padded(std::string text) {
  text.resize(kUserTextSize, ' ');
  return text;
}

std::string CrcErrorText(int count) {
  return "There were " + std::to_string(count) + " Crc Error(s) during upload.\rPlease try again!";
}

}  // namespace

std::array<std::uint8_t, 16> IdentifyRequest() {
  // Kept out of any table: built byte by byte when it is sent.
  std::array<std::uint8_t, 16> r{};
  r[0] = 0xA5;
  r[1] = 0x3C;
  r[2] = 0x51;
  r[3] = 0xE7;
  r[4] = 0x19;
  r[5] = 0xB4;
  r[6] = 0x6D;
  r[7] = 0x02;
  r[8] = 0xF3;
  r[9] = 0x7E;
  r[10] = 0x28;
  r[11] = 0xC5;
  r[12] = 0x90;
  r[13] = 0x4B;
  r[14] = 0xD6;
  r[15] = 0x1F;
  return r;
}

// Marks a search or job as running for as long as it lives.
class Updater::BusyScope {
 public:
  explicit BusyScope(Updater& u) : u_(u), was_(u.busy_) { u_.busy_ = true; }
  ~BusyScope() { u_.busy_ = was_; }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  Updater& u_;
  bool was_;
};

Updater::Updater(IUpdaterView& view, int lineBaud, PortPaths ports)
    : view_(view),
      lineBaud_(lineBaud),
      ports_(std::move(ports)),
      pageBuffer_(kPageBufferSize, 0xFF) {}

// --- status lines -------------------------------------------------------------------------------

void Updater::SetLine(int line, const std::string& text) {
  lines_.at(static_cast<std::size_t>(line)) = text;
  view_.ShowLine(line, text);
}

void Updater::AppendLine(int line, const std::string& text) {
  SetLine(line, Line(line) + text);
}

void Updater::SetCaption(const std::string& caption) {
  caption_ = caption;
  view_.ShowCaption(caption);
}

// --- waiting on the line ------------------------------------------------------------------------

bool Updater::WaitForData(double seconds) {
  const Clock::time_point start = Clock::now();
  for (;;) {
    if (line_.InputCount() > 0) {
      return true;
    }
    const double left = seconds - SecondsSince(start);
    if (left <= 0) {
      return false;
    }
    const int ms = std::min(kSliceMs, static_cast<int>(std::ceil(left * 1000)));
    if (line_.IsOpen()) {
      line_.WaitReadable(ms);
    } else {
      SleepMs(ms);
    }
    view_.ProcessEvents();
  }
}

void Updater::Pause(double seconds) {
  const Clock::time_point start = Clock::now();
  for (;;) {
    view_.ProcessEvents();
    const double left = seconds - SecondsSince(start);
    if (left <= 0) {
      return;
    }
    SleepMs(std::min(kSliceMs, static_cast<int>(std::ceil(left * 1000))));
  }
}

bool Updater::ReadByteWithin(double seconds, std::uint8_t& byte) {
  return WaitForData(seconds) && line_.ReadByte(byte);
}

// Port errors are not reported here: a byte that did not go out shows up as a missing answer.
void Updater::Send(const std::uint8_t* data, std::size_t count) {
  (void)line_.Write(data, count);
}

void Updater::DiscardInput() {
  line_.Discard();
}

// --- start-up and detection ---------------------------------------------------------------------

void Updater::FormLoad() {
  for (int i = 1; i <= kLineCount; ++i) {
    SetLine(i, "");
  }
  Repaint();
}

void Updater::Main() {
  BusyScope busy(*this);
  device_.hwVariant = '0';
  SetCaption("Update: AutoSelect COM Port ...");
  coldBootPort_ = 0;
  for (;;) {
    AutoComSelect();
    view_.EnableControls(true);
    if (!noAnswer_ && !portError_) {
      break;
    }
    MessageBox box;
    box.title = "AutoSelect";
    box.text =
        "No Device found at COM1 or COM2!\r"
        "If you click <Yes>, the program tries to ColdBoot from COM1.\r"
        "If you click  <No>, the program tries to ColdBoot from COM2.\r"
        "Hit <Cancel> if you want to quit.";
    box.buttons = BoxButtons::kYesNoCancel;
    box.icon = BoxIcon::kCritical;
    box.defaultButton = 3;
    const BoxAnswer answer = view_.Ask(box);
    if (answer == BoxAnswer::kYes) {
      coldBootPort_ = 1;
    } else if (answer == BoxAnswer::kNo) {
      coldBootPort_ = 2;
    } else {
      FormUnload();
      return;
    }
  }
  DisplayStat();
  if (const auto caption = CaptionOf(device_.typeCode, device_.hardwareVersion)) {
    SetCaption(*caption);
  }
}

void Updater::FormUnload() {
  ProgModeExit();
  view_.Quit();
}

void Updater::AutoComSelect() {
  view_.EnableControls(false);
  SetLine(1, " Establish Connection ...");
  SetLine(2, " Searching COM1 ...  ");
  SetLine(3, "");

  commPort_ = 1;
  if (coldBootPort_ == 2) {
    SetLine(2, " Searching COM1 ...  skipped.");
  } else {
    ComConnect();
    if (portError_) {
      AppendLine(2, "Com1 not available or used by another program.");
    } else if (!noAnswer_) {
      AppendLine(2, "Connection established.");
      SetLine(3, " Searching COM2 ...  skipped.");
      return;
    } else {
      AppendLine(2, "No Device connected to COM1.");
      line_.Close();
    }
  }

  SetLine(3, " Searching COM2 ...  ");
  commPort_ = 2;
  if (coldBootPort_ == 1) {
    SetLine(3, " Searching COM2 ...  skipped.");
    return;
  }
  ComConnect();
  if (portError_) {
    AppendLine(3, "Com2 not available or used by another program.");
  } else if (noAnswer_) {
    AppendLine(3, "No Device connected to COM2.");
    line_.Close();
  } else {
    AppendLine(3, "Connection established.");
  }
}

void Updater::ComConnect() {
  const std::string& path = commPort_ == 1 ? ports_.com1 : ports_.com2;
  if (!line_.Open(path, lineBaud_)) {
    portError_ = true;
    return;
  }
  portError_ = false;
  for (int i = 0; i < 4; ++i) {
    DiscardInput();
  }
  // A device that talks already is in its loader: no wake-up needed.
  if (!WaitForData(0.25)) {
    line_.SetSpeed(kWakeUpBaud);
    Send(kWakeUpSequence.data(), kWakeUpSequence.size());
    Pause(0.05);
    if (lineBaud_ != kWakeUpBaud) {
      line_.SetSpeed(lineBaud_);
    }
    DiscardInput();
    if (!WaitForData(0.5) && coldBootPort_ == commPort_) {
      ColdBootWait();
    }
  }
  DiscardInput();
  const auto request = IdentifyRequest();
  Send(request.data(), request.size());
  if (!ReadIdentification()) {
    noAnswer_ = true;
    return;
  }
  noAnswer_ = false;
  Identification answer{};
  std::copy_n(rxBuffer_.begin(), answer.size(), answer.begin());
  TakeIdentification(answer, device_);

  SendByte(kEepromRead);
  if (!ReadInformationBlock()) {
    noAnswer_ = true;
    return;
  }
  TakeInformationBlock(rxBuffer_, device_);
}

void TakeIdentification(const Identification& answer, DeviceRecord& device) {
  const std::string identifier(answer.begin() + 8, answer.begin() + 16);
  device.typeCode = TypeFromIdentifier(identifier);
  device.hardwareVersion = answer[4] << 8 | answer[5];
  device.uploaderVersion = answer[6] << 8 | answer[7];
  device.hwVariant = HwVariantOf(device.hardwareVersion, device.typeCode);
}

std::uint8_t InfoBlockByte(std::size_t index, std::uint8_t received) {
  return index >= 4 && index <= 63 && received == 0xFF ? ' ' : received;
}

void TakeInformationBlock(const InfoBlock& b, DeviceRecord& device) {
  device.userText1.clear();
  for (int i = 63; i >= 34; --i) {
    device.userText1 += static_cast<char>(b[static_cast<std::size_t>(i)]);
  }
  device.userText2.clear();
  for (int i = 33; i >= 4; --i) {
    device.userText2 += static_cast<char>(b[static_cast<std::size_t>(i)]);
  }
  device.logicVersion = b[3] << 8 | b[2];
  device.procVersion = b[1] << 8 | b[0];
  device.serialNumber = DecodeSerialNumber(b);
}

// The user switches the device on within ten seconds; its loader announces itself with a carriage
// return.
void Updater::ColdBootWait() {
  const std::string label = commPort_ == 1 ? " ColdBoot COM1 ... " : " ColdBoot COM2 ... ";
  const int statusLine = commPort_ == 1 ? 2 : 3;
  constexpr double kColdBootSeconds = 10;
  int countdown = 10;
  const Clock::time_point start = Clock::now();
  for (;;) {
    const double left = kColdBootSeconds - SecondsSince(start);
    if (left <= 0) {
      return;
    }
    if (left < countdown) {
      SetLine(statusLine, label + std::to_string(countdown) + "     ");
      --countdown;
    }
    if (WaitForData(std::min(left, kSliceMs / 1000.0))) {
      std::uint8_t byte = 0;
      if (line_.ReadByte(byte)) {
        rxBuffer_[0] = byte;
        if (byte == kCarriageReturn) {
          return;
        }
      }
    }
  }
}

bool Updater::ReadIdentification() {
  for (std::size_t i = 0; i < 16; ++i) {
    if (!ReadByteWithin(1.0, rxBuffer_[i])) {
      return false;
    }
  }
  return true;
}

// The device sends the block highest index first.
bool Updater::ReadInformationBlock() {
  for (int i = static_cast<int>(kInfoBlockSize) - 1; i >= 0; --i) {
    std::uint8_t byte = 0;
    if (!ReadByteWithin(1.0, byte)) {
      return false;
    }
    const auto index = static_cast<std::size_t>(i);
    rxBuffer_[index] = InfoBlockByte(index, byte);
  }
  return true;
}

void Updater::DisplayStat() {
  if (const auto text = ConnectedText(device_.typeCode, device_.hardwareVersion)) {
    SetLine(5, *text);
  }
  SetLine(6, " Hardware Version: " + VersionText(device_.hardwareVersion));
  SetLine(7, " Uploader Version: " + VersionText(device_.uploaderVersion));
  SetLine(8, " Serial Number: " + device_.serialNumber);
  SetLine(9, " Current Logic and DSP Firmware Version: " + VersionText(device_.logicVersion));
  SetLine(10, " Current Processor and HI Firmware Version: " + VersionText(device_.procVersion));
  SetLine(11, " Current User Text 1: " + device_.userText1);
  SetLine(12, " Current User Text 2: " + device_.userText2);
}

void Updater::ProgModeExit() {
  if (!line_.IsOpen()) {
    return;
  }
  Send(kProgModeExit.data(), kProgModeExit.size());
  // Closing waits for the bytes to leave; the speed is unchanged.
  line_.SetSpeed(line_.Speed());
  line_.Close();
}

void Updater::About() {
  MessageBox box;
  box.title = "About";
  box.text = "Version 1.25.1\rFirmware Updater\rVeltrano";
  view_.Ask(box);
}

// --- the jobs -----------------------------------------------------------------------------------

// A port that cannot be opened fails the job as a silent device does: the job must not go on to
// write into a closed port.
bool Updater::ConnectIfClosed() {
  if (line_.IsOpen()) {
    return true;
  }
  ComConnect();
  return !noAnswer_ && !portError_;
}

void Updater::FirmwareFailed() {
  MessageBox box;
  box.title = caption_;
  box.text = "Upload Firmware failed!";
  box.icon = BoxIcon::kCritical;
  view_.Ask(box);
}

void Updater::ReportTransferError(int line) {
  if (noAnswer_) {
    AppendLine(line, "    No Response!");
  } else if (errorCount_ != 0) {
    AppendLine(line, "    CRC Error!");
  }
}

// The question before a job that cannot be cancelled once it runs; Cancel is the default.
bool Updater::ConfirmJob(const std::string& title, const std::string& text) {
  MessageBox confirm;
  confirm.title = title;
  confirm.text = text;
  confirm.buttons = BoxButtons::kOkCancel;
  confirm.icon = BoxIcon::kQuestion;
  confirm.defaultButton = 2;
  return view_.Ask(confirm) == BoxAnswer::kOk;
}

void Updater::UploadFirmwareJob() {
  if (!ConfirmJob("Upload Firmware",
                  "Ok to update the Firmware of your system?\r"
                  "WARNING: You can not cancel the upload procedure!")) {
    return;
  }
  BusyScope busy(*this);
  view_.EnableControls(false);
  const std::array<std::string, 3> kept = {Line(1), Line(2), Line(3)};
  for (int i = 2; i <= kLineCount; ++i) {
    SetLine(i, "");
  }

  const auto run = [&]() -> bool {
    if (!ConnectIfClosed()) {
      SetLine(1, " No Response!");
      return false;
    }
    // The device already in program mode must not see a byte of an image that cannot be right.
    if (device_.typeCode == kLnk40eType && !Lnk40eFileIsSound()) {
      AppendLine(2, " Corrupt File(s) found. Please try to reinstall the package.");
      AppendLine(3, " If the problem still exists, please contact factory.");
      return false;
    }
    const FileRule noRule;
    const FileRule rule = FileRuleOf(device_.typeCode).value_or(noRule);
    if (rule.name == nullptr || rule.logicCode != nullptr) {
      LoadLogicFiles();
      if (fileError_) {
        AppendLine(2, "    File missing or damaged!");
        return false;
      }
      UploadLogicFiles();
      if (TransferFailed()) {
        ReportTransferError(5);
        return false;
      }
    }
    device_.logicVersion = VersionNumber(LogicVersionText(device_.typeCode));
    SetLine(6, "        Upload Version Info: " + VersionText(device_.logicVersion));
    EEPromWrite();
    if (TransferFailed()) {
      ReportTransferError(6);
      return false;
    }
    if (RebootsBetweenImages(device_.typeCode, device_.hardwareVersion)) {
      AppendLine(6, " ... booting");
      ProgModeExit();
      Pause(device_.typeCode == 1 ? 3.5 : 1.0);
      if (!ConnectIfClosed()) {
        AppendLine(6, "    No Response!");
        return false;
      }
    }
    AppendLine(6, " ... done.");

    const ProcLoader loader = ProcLoaderOf(device_.typeCode, device_.hardwareVersion);
    switch (loader) {
      case ProcLoader::kConsole:
        LoadProcDspFiles();
        break;
      case ProcLoader::kWords:
        LoadProcFilesByWord();
        break;
      case ProcLoader::kBlocks:
        LoadProcFiles();
        break;
      case ProcLoader::kNone:
        fileError_ = true;
        break;
    }
    if (fileError_) {
      AppendLine(9, "    File missing or damaged!");
      return false;
    }
    switch (loader) {
      case ProcLoader::kConsole:
        UploadProcDspFiles();
        break;
      case ProcLoader::kWords:
        UploadProcFilesByWord();
        break;
      default:
        UploadProcFiles();
        break;
    }
    if (TransferFailed()) {
      ReportTransferError(12);
      return false;
    }
    device_.procVersion = VersionNumber(ProcVersionText(device_.typeCode));
    ApplyBuildText();
    SetLine(13, "        Upload Version Info: " + VersionText(device_.procVersion));
    EEPromWrite();
    if (TransferFailed()) {
      ReportTransferError(13);
      return false;
    }
    AppendLine(13, " ... booting");
    ProgModeExit();
    Pause(1.0);
    AppendLine(13, " ... done.");
    return true;
  };

  if (run()) {
    MessageBox done;
    done.title = caption_;
    done.text = "Firmware upload succeeded.";
    view_.Ask(done);
  } else {
    FirmwareFailed();
  }
  for (int i = 1; i <= 3; ++i) {
    SetLine(i, kept[static_cast<std::size_t>(i - 1)]);
  }
  SetLine(4, "");
  SetLine(13, "");
  DisplayStat();
  view_.EnableControls(true);
}

bool Updater::Lnk40eFileIsSound() {
  const auto rule = FileRuleOf(kLnk40eType);
  std::error_code ec;
  const auto path = folder_ / ProcFileName(*rule, device_.hwVariant, kLnk40eType);
  if (!std::filesystem::is_regular_file(path, ec)) {
    return false;
  }
  const auto size = std::filesystem::file_size(path, ec);
  return !ec && size == kLnk40eProcLength;
}

void Updater::ApplyBuildText() {
  std::ifstream in(folder_ / "Build.txt", std::ios::binary);
  if (!in) {
    return;
  }
  std::string text;
  char c = 0;
  // Only the first line: a line end in a device text would show as garbage on its display.
  while (text.size() < kUserTextSize && in.get(c) && c != '\r' && c != '\n') {
    text += c;
  }
  if (text.empty()) {
    return;
  }
  device_.userText1 = Padded(text);
}

void Updater::EraseSettingsJob() {
  if (!ConfirmJob("Erase Settings",
                  "Ok to erase all EEProm Settings of your system?\r"
                  "WARNING: You can not cancel the EEProm erase!")) {
    return;
  }
  BusyScope busy(*this);
  view_.EnableControls(false);
  MessageBox result;
  result.title = caption_;
  result.icon = BoxIcon::kCritical;
  if (!ConnectIfClosed()) {
    SetLine(1, " No Response!");
    result.text = "Upload Firmware failed!";
  } else {
    EEPromErase();
    if (noAnswer_) {
      result.text = kNoResponseBoxText;
    } else if (errorCount_ != 0) {
      result.text = CrcErrorText(errorCount_);
    } else {
      result.text = "Settings erase succeeded.";
      result.icon = BoxIcon::kNone;
    }
  }
  view_.Ask(result);
  view_.EnableControls(true);
}

void Updater::UploadTextJob() {
  const auto ask = [this](int which, const std::string& preset) -> std::optional<std::string> {
    const std::string prompt = "Please Enter User Text " + std::to_string(which) +
                               " (max. 30 Chars): \r\r"
                               "If you want to upload a blank text line,\r"
                               "please enter at least one space.";
    auto answer = view_.Input("Enter User Text", prompt, preset);
    if (!answer || answer->empty()) {
      return std::nullopt;
    }
    answer->resize(std::min(answer->size(), kUserTextSize));
    return Padded(*answer);
  };
  const auto text1 = ask(1, device_.userText1);
  if (!text1) {
    return;
  }
  const auto text2 = ask(2, device_.userText2);
  if (!text2) {
    return;
  }
  BusyScope busy(*this);
  view_.EnableControls(false);
  MessageBox result;
  result.title = caption_;
  result.icon = BoxIcon::kCritical;
  if (!ConnectIfClosed()) {
    result.text = "Upload User Text failed!";
  } else {
    device_.userText1 = *text1;
    device_.userText2 = *text2;
    EEPromWrite();
    if (noAnswer_) {
      result.text = kNoResponseBoxText;
    } else if (errorCount_ != 0) {
      result.text = CrcErrorText(errorCount_);
    } else {
      ProgModeExit();
      result.text = "User Text upload succeeded.";
      result.icon = BoxIcon::kNone;
    }
  }
  view_.Ask(result);
  view_.EnableControls(true);
  SetLine(11, " Current User Text 1: " + device_.userText1);
  SetLine(12, " Current User Text 2: " + device_.userText2);
}

// --- loaders ------------------------------------------------------------------------------------

std::optional<std::size_t> Updater::ReadImage(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    return std::nullopt;
  }
  std::fill(pageBuffer_.begin(), pageBuffer_.end(), std::uint8_t{0xFF});
  // One byte more than the buffer holds tells a file that does not fit.
  in.read(reinterpret_cast<char*>(pageBuffer_.data()),
          static_cast<std::streamsize>(pageBuffer_.size()));
  const auto length = static_cast<std::size_t>(in.gcount());
  // The last block of an image that fills the buffer would run past it.
  if (length + kBlockSize > pageBuffer_.size() || in.peek() != std::char_traits<char>::eof()) {
    return std::nullopt;
  }
  return length;
}

std::string Updater::FileVersionText(const std::string& name, const std::string& version) const {
  std::string text = "        File Version " + name + ": V";
  if (version.size() == 3) {
    text += version.substr(0, 1) + "." + version.substr(1, 2) + ".";
  }
  text += device_.hwVariant;
  return text;
}

void Updater::FillBlocks(std::size_t length, int progressLine) {
  blockCount_ = static_cast<int>(length / kBlockSize);
  for (int b = 0; b <= blockCount_; ++b) {
    SetLine(progressLine,
            "        Reading Block: " + std::to_string(b) + " of " + std::to_string(blockCount_));
    Repaint();
  }
  AppendLine(progressLine, " ... done.");
}

void Updater::LoadLogicFiles() {
  const int type = device_.typeCode;
  const bool logicOnly = type == 1 || type == 100;
  SetLine(1, logicOnly ? " Load Logic Files ..." : " Load Logic and DSP Files ...");
  Repaint();
  fileError_ = true;
  const auto rule = FileRuleOf(type);
  if (!rule || rule->logicCode == nullptr) {
    return;
  }
  SetLine(2, FileVersionText(rule->name, LogicVersionText(type)));
  const auto required = RequiredLogicLength(type, device_.hardwareVersion, device_.hwVariant);
  const auto length = ReadImage(folder_ / LogicFileName(*rule, device_.hwVariant, type));
  if (!required || !length || *length != *required) {
    return;
  }
  fileError_ = false;
  FillBlocks(*length, 3);
}

std::optional<std::size_t> Updater::ReadProcImage() {
  const int type = device_.typeCode;
  SetLine(8, " Load Processor and HI Files ...");
  Repaint();
  fileError_ = true;
  const auto rule = FileRuleOf(type);
  if (!rule || rule->procCode == nullptr) {
    return std::nullopt;
  }
  SetLine(9, FileVersionText(rule->name, ProcVersionText(type)));
  return ReadImage(folder_ / ProcFileName(*rule, device_.hwVariant, type));
}

void Updater::LoadProcFiles() {
  const auto length = ReadProcImage();
  if (!length || *length == 0) {
    return;
  }
  fileError_ = false;
  FillBlocks(*length, 10);
}

void Updater::LoadProcFilesByWord() {
  const auto length = ReadProcImage();
  // Word addresses are 16 bits wide: a longer image would wrap onto its own start.
  constexpr std::size_t kWordImageLimit = 2 * 65536;
  if (!length || *length == 0 || *length > kWordImageLimit) {
    return;
  }
  fileError_ = false;
  blockCount_ = static_cast<int>(*length) - 1;
  const std::string total = std::to_string(blockCount_ / 2);
  for (int i = 0; i <= blockCount_; i += 2) {
    SetLine(10, "        Reading Block: " + std::to_string(i / 2) + " of " + total);
    if (i % 512 == 0) {
      Repaint();
    }
  }
  AppendLine(10, " ... done.");
}

void Updater::LoadProcDspFiles() {
  SetLine(8, " Load Processor and DSP Files ...");
  Repaint();
  fileError_ = true;
  // The first "*.bin" by name, so that the choice does not depend on the file system's order.
  std::vector<std::filesystem::path> candidates;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder_, ec)) {
    std::string ext = entry.path().extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == ".bin" && entry.is_regular_file(ec)) {
      candidates.push_back(entry.path());
    }
  }
  if (candidates.empty()) {
    return;
  }
  const auto file = *std::min_element(candidates.begin(), candidates.end());
  SetLine(9, "        File Version RC16: " + file.filename().string());
  const auto length = ReadImage(file);
  // The block index goes out as one byte.
  constexpr std::size_t kConsoleImageLimit = 256 * kBlockSize - 1;
  if (!length || *length == 0 || *length > kConsoleImageLimit) {
    return;
  }
  fileError_ = false;
  FillBlocks(*length, 10);
}

// --- transfers ----------------------------------------------------------------------------------

std::uint16_t Updater::BlockSum(std::size_t offset) const {
  unsigned sum = 0;
  for (std::size_t i = 0; i < kBlockSize; ++i) {
    sum += pageBuffer_[offset + i];
  }
  return static_cast<std::uint16_t>(sum);
}

// One 256-byte block with its two address bytes and its sum (high byte first); false when the
// four answer bytes did not come. A first answer byte other than 55 counts as a failed block.
bool Updater::SendBlockAndCheck(std::uint8_t code, std::uint8_t first, std::uint8_t second,
                                std::size_t offset, bool blank) {
  std::array<std::uint8_t, kBlockSize> data;
  if (blank) {
    data.fill(0xFF);
  } else {
    std::copy_n(pageBuffer_.begin() + static_cast<std::ptrdiff_t>(offset), kBlockSize,
                data.begin());
  }
  unsigned sum = 0;
  for (std::uint8_t byte : data) {
    sum += byte;
  }
  SendByte(code);
  const std::uint8_t address[2] = {first, second};
  Send(address, 2);
  Send(data.data(), data.size());
  const std::uint8_t sumBytes[2] = {static_cast<std::uint8_t>(sum >> 8),
                                    static_cast<std::uint8_t>(sum & 0xFF)};
  Send(sumBytes, 2);
  std::uint8_t answer[4] = {};
  for (std::uint8_t& byte : answer) {
    if (!ReadByteWithin(1.0, byte)) {
      noAnswer_ = true;
      return false;
    }
  }
  if (answer[0] != kPageAccepted) {
    ++errorCount_;
  }
  return true;
}

void Updater::UploadLogicFiles() {
  const int type = device_.typeCode;
  SetLine(4,
          type == 1 || type == 100 ? " Upload Logic Files ..." : " Upload Logic and DSP Files ...");
  errorCount_ = 0;
  noAnswer_ = false;
  for (int b = 0; b <= blockCount_; ++b) {
    // The logic PROM is addressed in 16-bit words, high byte first.
    const int page = 2 * b;
    if (!SendBlockAndCheck(kLogicPage, static_cast<std::uint8_t>(page >> 8),
                           static_cast<std::uint8_t>(page & 0xFF),
                           static_cast<std::size_t>(b) * kBlockSize, false)) {
      return;
    }
    SetLine(5, "        Upload Block: " + std::to_string(b) + " of " + std::to_string(blockCount_) +
                   "  CRC Error: " + std::to_string(errorCount_));
    Repaint();
  }
  AppendLine(5, " ... done.");
}

void Updater::UploadProcFiles() {
  SetLine(11, " Upload Processor and HI Files ...");
  errorCount_ = 0;
  noAnswer_ = false;
  // Highest block first; block 0 is blanked before anything else goes and written last, so that a
  // cut upload leaves a device that does not start a half-written image.
  for (int b = blockCount_ + 1; b >= 0; --b) {
    const bool blank = b == blockCount_ + 1;
    const int number = blank ? 0 : b;
    // The processor flash takes its block number low byte first.
    if (!SendBlockAndCheck(kProcBlock, static_cast<std::uint8_t>(number & 0xFF),
                           static_cast<std::uint8_t>(number >> 8),
                           static_cast<std::size_t>(number) * kBlockSize, blank)) {
      return;
    }
    SetLine(12, "        Upload Block: " + std::to_string(blockCount_ + 1 - b) + " of " +
                    std::to_string(blockCount_ + 1) +
                    "  CRC Error: " + std::to_string(errorCount_));
    Repaint();
  }
  AppendLine(12, " ... done.");
}

bool Updater::WordHandshake(std::uint8_t command, const char* refusal) {
  SendByte(command);
  std::uint8_t answer = 0;
  if (!ReadByteWithin(1.0, answer) || answer != kCarriageReturn) {
    SetLine(12, refusal);
    noAnswer_ = true;
    return false;
  }
  Pause(0.1);
  return true;
}

void Updater::UploadProcFilesByWord() {
  SetLine(11, " Upload Processor and HI Files ...");
  errorCount_ = 0;
  noAnswer_ = false;
  if (!WordHandshake(kLoaderConnect, "   Can't connect!") ||
      !WordHandshake(kLoaderErase, "   Can't erase!") ||
      !WordHandshake(kLoaderConnect, "   Can't reconnect!")) {
    return;
  }
  const int words = blockCount_ / 2;
  for (int w = 0; w <= words; ++w) {
    // Word address high byte first; each data byte is echoed before the next goes.
    const std::uint8_t head[3] = {kLoaderWrite, static_cast<std::uint8_t>(w >> 8),
                                  static_cast<std::uint8_t>(w & 0xFF)};
    Send(head, 3);
    for (int half = 0; half < 2; ++half) {
      const std::uint8_t sent = pageBuffer_[static_cast<std::size_t>(2 * w + half)];
      SendByte(sent);
      std::uint8_t echo = 0;
      if (!ReadByteWithin(1.0, echo)) {
        noAnswer_ = true;
        return;
      }
      if (echo != sent) {
        ++errorCount_;
      }
    }
    SetLine(12, "        Upload Block: " + std::to_string(w) + " of " + std::to_string(words) +
                    "  CRC Error: " + std::to_string(errorCount_));
  }
  AppendLine(12, " ... done.");
}

void Updater::UploadProcDspFiles() {
  SetLine(11, " Upload Processor and DSP Files ...");
  errorCount_ = 0;
  noAnswer_ = false;
  long failedBytes = 0;
  SendByte(kLoaderErase);
  std::uint8_t answer = 0;
  if (!ReadByteWithin(1.0, answer)) {
    noAnswer_ = true;
    return;
  }
  if (answer != kCarriageReturn) {
    SetLine(12, "   Can't erase!");
    noAnswer_ = true;
    return;
  }
  // The flash erase takes about ten seconds and the device says nothing while it runs.
  for (int k = 0; k <= 9; ++k) {
    SetLine(12, "        Erase Flash: " + std::to_string(k) + " of 9");
    Pause(1.0);
  }
  for (int b = 0; b <= blockCount_; ++b) {
    const std::uint8_t head[3] = {kLoaderWrite, 0x00, static_cast<std::uint8_t>(b)};
    Send(head, 3);
    const std::size_t offset = static_cast<std::size_t>(b) * kBlockSize;
    Send(pageBuffer_.data() + offset, kBlockSize);
    std::uint8_t reply[3] = {};
    for (std::uint8_t& byte : reply) {
      if (!ReadByteWithin(1.0, byte)) {
        noAnswer_ = true;
        return;
      }
    }
    failedBytes += reply[0];
    if ((reply[1] << 8 | reply[2]) != BlockSum(offset)) {
      ++errorCount_;
    }
    SetLine(12, "        Upload Block: " + std::to_string(b) + " of " +
                    std::to_string(blockCount_) + "  CRC Error: " + std::to_string(errorCount_) +
                    "  Byte Failure: " + std::to_string(failedBytes));
  }
  AppendLine(12, " ... done.");
}

void Updater::EEPromWrite() {
  DiscardInput();
  errorCount_ = 0;
  noAnswer_ = false;
  SendByte(kEepromWrite);
  std::array<std::uint8_t, kInfoAreaSize> area{};
  area[0] = static_cast<std::uint8_t>(device_.procVersion & 0xFF);
  area[1] = static_cast<std::uint8_t>(device_.procVersion >> 8);
  area[2] = static_cast<std::uint8_t>(device_.logicVersion & 0xFF);
  area[3] = static_cast<std::uint8_t>(device_.logicVersion >> 8);
  const std::string text1 = Padded(device_.userText1);
  const std::string text2 = Padded(device_.userText2);
  for (std::size_t i = 0; i < kUserTextSize; ++i) {
    area[33 - i] = static_cast<std::uint8_t>(text2[i]);
    area[63 - i] = static_cast<std::uint8_t>(text1[i]);
  }
  std::copy(area.begin(), area.end(), pageBuffer_.begin());
  for (int i = static_cast<int>(kInfoAreaSize) - 1; i >= 0; --i) {
    const std::uint8_t sent = area[static_cast<std::size_t>(i)];
    SendByte(sent);
    std::uint8_t echo = 0;
    if (!ReadByteWithin(1.0, echo)) {
      noAnswer_ = true;
      return;
    }
    if (echo != sent) {
      ++errorCount_;
    }
  }
  noAnswer_ = false;
}

void Updater::EEPromErase() {
  DiscardInput();
  errorCount_ = 0;
  noAnswer_ = false;
  SendByte(kEepromErase);
  const int count = EraseCount(device_.typeCode, device_.hardwareVersion);
  for (int i = 0; i < count; ++i) {
    SendByte(0xFF);
    std::uint8_t echo = 0;
    if (!ReadByteWithin(1.0, echo)) {
      noAnswer_ = true;
      return;
    }
    if (echo != 0xFF) {
      ++errorCount_;
    }
  }
  noAnswer_ = false;
}

}  // namespace su
