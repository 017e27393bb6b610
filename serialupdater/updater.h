// The updater's whole working state and its operations: start-up and detection of the device on
// COM1 or COM2, its identification, and the three jobs. Everything runs on the window's thread;
// every wait blocks on the line for a short slice and lets the window handle its events between
// slices, so the window stays alive and the processor idle.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "device_tables.h"
#include "serial_line.h"
#include "updater_view.h"

namespace su {

constexpr int kWakeUpBaud = 57600;
constexpr int kLineCount = 13;

struct PortPaths {
  std::string com1 = "/dev/ttyS0";
  std::string com2 = "/dev/ttyS1";
};

struct DeviceRecord {
  int typeCode = 0;
  int hardwareVersion = 0;
  int uploaderVersion = 0;
  int logicVersion = 0;
  int procVersion = 0;
  std::string serialNumber;
  std::string userText1;
  std::string userText2;
  char hwVariant = '0';
};

class Updater {
 public:
  // lineBaud: the build's program-mode speed, 19200, 57600 or 115200.
  Updater(IUpdaterView& view, int lineBaud, PortPaths ports);

  // Start-up once the window shows: detection until a device answers or the user gives up.
  void Main();
  void FormLoad();
  void FormUnload();

  void ComConnect();
  void AutoComSelect();
  void DisplayStat();
  void ProgModeExit();

  void UploadFirmwareJob();
  void EraseSettingsJob();
  void UploadTextJob();
  void About();

  // Firmware files and "Build.txt" are read from here; the current folder unless set.
  void SetFolder(const std::filesystem::path& folder) { folder_ = folder; }

  // A search or job is running: the window must not close under it.
  bool Busy() const { return busy_; }
  const std::string& Line(int line) const { return lines_.at(static_cast<std::size_t>(line)); }
  const std::string& Caption() const { return caption_; }
  const DeviceRecord& Device() const { return device_; }
  bool PortError() const { return portError_; }
  bool NoAnswer() const { return noAnswer_; }
  bool PortOpen() const { return line_.IsOpen(); }
  int CommPort() const { return commPort_; }
  int LineBaud() const { return lineBaud_; }

 private:
  class BusyScope;

  void SetLine(int line, const std::string& text);
  void AppendLine(int line, const std::string& text);
  void SetCaption(const std::string& caption);
  void Repaint() { view_.ProcessEvents(); }

  // Waits.
  bool WaitForData(double seconds);
  void Pause(double seconds);
  bool ReadByteWithin(double seconds, std::uint8_t& byte);
  void Send(const std::uint8_t* data, std::size_t count);
  void SendByte(std::uint8_t byte) { Send(&byte, 1); }
  void DiscardInput();

  void ColdBootWait();
  bool ReadIdentification();
  bool ReadInformationBlock();

  // Firmware job steps.
  void FirmwareFailed();
  bool ConnectIfClosed();
  bool Lnk40eFileIsSound();
  void LoadLogicFiles();
  void LoadProcFiles();
  void LoadProcFilesByWord();
  void LoadProcDspFiles();
  void UploadLogicFiles();
  void UploadProcFiles();
  void UploadProcFilesByWord();
  void UploadProcDspFiles();
  bool WordHandshake(std::uint8_t command, const char* refusal);
  void EEPromWrite();
  void EEPromErase();
  void ApplyBuildText();
  void ReportTransferError(int line);
  bool TransferFailed() const { return noAnswer_ || errorCount_ != 0; }

  // Reads a whole file into the image buffer (FF past its end); the length, or nothing when the
  // file is missing or does not fit.
  std::optional<std::size_t> ReadImage(const std::filesystem::path& file);
  // The loading lines of the processor image, then its length; none when it has no file here.
  std::optional<std::size_t> ReadProcImage();
  bool ConfirmJob(const std::string& title, const std::string& text);
  void FillBlocks(std::size_t length, int progressLine);
  std::string FileVersionText(const std::string& name, const std::string& version) const;
  std::uint16_t BlockSum(std::size_t offset) const;
  bool SendBlockAndCheck(std::uint8_t code, std::uint8_t first, std::uint8_t second,
                         std::size_t offset, bool blank);

  IUpdaterView& view_;
  const int lineBaud_;
  const PortPaths ports_;
  std::filesystem::path folder_ = ".";
  SerialLine line_;

  std::array<std::string, kLineCount + 1> lines_;  // index 0 unused
  std::string caption_;
  bool busy_ = false;

  bool portError_ = false;
  bool noAnswer_ = false;
  bool fileError_ = false;
  int coldBootPort_ = 0;
  int commPort_ = 1;
  int errorCount_ = 0;
  int blockCount_ = 0;
  std::string procFileName_;
  std::array<std::uint8_t, kInfoBlockSize> rxBuffer_{};
  std::vector<std::uint8_t> pageBuffer_;
  DeviceRecord device_;
};

// The 16-byte access sequence that puts a device into program mode.
std::array<std::uint8_t, 16> IdentifyRequest();

constexpr std::size_t kIdentificationSize = 16;
using Identification = std::array<std::uint8_t, kIdentificationSize>;

// What the identification answer says: type code, hardware and uploader version (high byte
// first) and the hardware variant they give.
void TakeIdentification(const Identification& answer, DeviceRecord& device);
// The byte kept at `index` of the information block for one that arrived: an erased user text
// (FF) reads as blanks.
std::uint8_t InfoBlockByte(std::size_t index, std::uint8_t received);
// What the information block says: the two user texts, the firmware versions (low byte first)
// and the serial number.
void TakeInformationBlock(const InfoBlock& block, DeviceRecord& device);

}  // namespace su
