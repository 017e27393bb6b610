#include "transport/port_usb.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <utility>

#include "transport/device_identity.h"

namespace veltr {

namespace {

constexpr int kTransactionAttempts = 3;

// Reports needed for size payload bytes at reportLength bytes a report (one of them the id);
// none when a report carries no payload (a length below 2 must not divide by zero) or the reports
// would not fit the area.
std::optional<uint32_t> ReportsFor(uint32_t size, uint32_t reportLength, uint32_t areaSize) {
  if (reportLength < 2) {
    return std::nullopt;
  }
  const uint32_t payload = reportLength - 1;
  const uint32_t count = size / payload + (size % payload != 0 ? 1 : 0);
  if (count > areaSize / reportLength) {
    return std::nullopt;
  }
  return count;
}

// Where the identify answer of a form keeps its bytes, told apart by the length byte L. Offsets
// are into the answer frame F (F[0] = L); kNone marks a byte the layout does not have.
struct IdentifyLayout {
  uint8_t length;
  uint8_t code;
  uint8_t variant;
  uint8_t serial;  // letter, number, high, low from here on
  uint8_t number;
};
constexpr uint8_t kNone = 0xFF;
// Older devices answer without the variant byte. The short answer over USB carries no number
// byte that the code table may use, so 0x91 always reads as PXR there.
constexpr IdentifyLayout kAddressedLayouts[] = {{15, 4, 5, 11, 12}, {13, 4, kNone, 9, 10}};
constexpr IdentifyLayout kShortLayouts[] = {{13, 2, 3, 9, kNone}, {11, 2, kNone, 7, kNone}};

constexpr uint32_t kModeByteAddressed = 16;
constexpr uint32_t kModeByteShort = 2;

}  // namespace

CVeltrPortUSB::CVeltrPortUSB(std::unique_ptr<IVeltrHidBackend> backend)
    : backend_(std::move(backend)) {}

CVeltrPortUSB::~CVeltrPortUSB() {
  CloseHandle();
}

bool CVeltrPortUSB::Close() {
  if (handle_ < 0) {
    return true;
  }
  const bool closed = backend_->Close(handle_);
  handle_ = -1;
  return closed;
}

void CVeltrPortUSB::CloseHandle() {
  static_cast<void>(Close());
}

bool CVeltrPortUSB::SetTimeout(uint32_t milliseconds) {
  readTimeoutMs_ = milliseconds;
  return true;
}

bool CVeltrPortUSB::OpenNode(const std::string& node) {
  handle_ = backend_->Open(node);
  if (handle_ < 0) {
    openError_ = backend_->LastError();
    return false;
  }
  return true;
}

bool CVeltrPortUSB::ReadReportLengths() {
  input_.reportLength = 0;
  output_.reportLength = 0;
  uint32_t input = 0;
  uint32_t output = 0;
  // Reports too short for the addressed requests, or longer than the area, cannot carry frames.
  const uint32_t shortest = sizeof kIdentifyAddressed + 1;
  if (!backend_->ReportLengths(handle_, input, output) || input < shortest || output < shortest ||
      input > kAreaSize || output > kAreaSize) {
    return false;
  }
  input_.reportLength = input;
  output_.reportLength = output;
  return true;
}

bool CVeltrPortUSB::Write(const CVeltrBuffer& buffer) {
  const uint32_t length = output_.reportLength;
  const uint32_t size = buffer.GetSize();
  const std::optional<uint32_t> count = ReportsFor(size, length, kAreaSize);
  if (handle_ < 0 || !count) {
    return false;
  }
  output_.block.fill(0);
  for (uint32_t i = 0; i < size; ++i) {
    output_.block[(i / (length - 1)) * length + 1 + i % (length - 1)] = *buffer.At(i);
  }
  output_.reportCount = *count;
  return WriteArea();
}

bool CVeltrPortUSB::WriteArea() {
  // Reports that came in since the last exchange, an answer that arrived after its time-out
  // above all, are thrown away as the serial port's purge throws away bytes: read as the
  // answer to this request, each answer after it would be one behind.
  backend_->DiscardInput(handle_);
  for (uint32_t k = 0; k < output_.reportCount; ++k) {
    const uint8_t* report = output_.block.data() + k * output_.reportLength;
    if (!backend_->WriteReport(handle_, report, output_.reportLength)) {
      lastError_ = backend_->LastError();
      return false;
    }
  }
  return true;
}

bool CVeltrPortUSB::ReadReports(uint32_t count) {
  input_.reportCount = 0;
  for (uint32_t k = 0; k < count; ++k) {
    uint8_t* report = input_.block.data() + k * input_.reportLength;
    if (!backend_->ReadReport(handle_, report, input_.reportLength, readTimeoutMs_)) {
      lastError_ = backend_->LastError();
      return false;
    }
    input_.reportCount = k + 1;
  }
  return true;
}

bool CVeltrPortUSB::Read(CVeltrBuffer& buffer) {
  const uint32_t length = input_.reportLength;
  const uint32_t size = buffer.GetSize();
  const std::optional<uint32_t> count = ReportsFor(size, length, kAreaSize);
  if (handle_ < 0 || !count) {
    return false;
  }
  if (!ReadReports(*count)) {
    return false;
  }
  // Bytes behind the frame in the last report are padding.
  for (uint32_t i = 0; i < size; ++i) {
    *buffer.At(i) = input_.block[(i / (length - 1)) * length + 1 + i % (length - 1)];
  }
  return true;
}

bool CVeltrPortUSB::Transaction(const uint8_t* request, uint32_t size) {
  if (output_.reportLength < size + 1 || input_.reportLength < 2) {
    return false;
  }
  output_.block.fill(0);
  std::memcpy(output_.block.data() + 1, request, size);
  output_.reportCount = 1;
  for (int attempt = 0; attempt < kTransactionAttempts; ++attempt) {
    if (WriteArea() && ReadReports(1) && input_.block[1] != 0) {
      return true;
    }
  }
  return false;
}

CVeltrPortUSB::Identified CVeltrPortUSB::Identify(Form& form, Identity& identity) {
  const IdentifyLayout* layouts = nullptr;
  if (Transaction(kIdentifyAddressed, sizeof kIdentifyAddressed)) {
    form = Form::Addressed;
    layouts = kAddressedLayouts;
  } else if (Transaction(kIdentifyShort, sizeof kIdentifyShort)) {
    form = Form::Short;
    layouts = kShortLayouts;
  } else {
    return Identified::NoAnswer;
  }
  const uint8_t* frame = input_.block.data() + 1;
  const uint32_t room = input_.reportLength - 1;
  for (int i = 0; i < 2; ++i) {
    const IdentifyLayout& layout = layouts[i];
    // The whole frame, its sum8 included, must have come in the one report.
    if (frame[0] != layout.length || uint32_t{layout.length} + 1 > room) {
      continue;
    }
    const uint8_t* serial = frame + layout.serial;
    identity.type =
        DecodeDeviceType(frame[layout.code], layout.variant == kNone ? 0xFF : frame[layout.variant],
                         layout.number == kNone ? 0xFF : frame[layout.number]);
    identity.serialNumber = SerialNumberText(serial[0], serial[1], serial[2], serial[3]);
    return Identified::Decoded;
  }
  return Identified::Undecodable;
}

bool CVeltrPortUSB::AskMode(Form form, int32_t& mode) {
  const bool addressed = form == Form::Addressed;
  const bool answered = addressed ? Transaction(kModeAddressed, sizeof kModeAddressed)
                                  : Transaction(kModeShort, sizeof kModeShort);
  const uint32_t at = addressed ? kModeByteAddressed : kModeByteShort;
  if (!answered || at + 1 > input_.reportLength - 1) {
    return false;
  }
  mode = ModeIndex(input_.block[1 + at]);
  return true;
}

ConnectResult CVeltrPortUSB::Open(const PortSettings& settings) {
  // Whatever an earlier connection left open goes first: the search closes after a failure,
  // but a second Open on a connected port must not leak the node.
  CloseHandle();
  openError_.clear();
  const ConnectResult result =
      settings.serialNumber.empty() ? List() : Connect(settings.serialNumber);
  // Devices that are silent or strange are told by the result and the list; what the user can
  // put right is a node that would not open.
  lastError_ = openError_;
  return result;
}

ConnectResult CVeltrPortUSB::Connect(const std::string& serialNumber) {
  for (const std::string& node : backend_->Enumerate()) {
    if (!OpenNode(node)) {
      continue;
    }
    if (!ReadReportLengths()) {
      CloseHandle();
      continue;
    }
    Form form = Form::Addressed;
    Identity identity;
    if (Identify(form, identity) != Identified::Decoded || identity.serialNumber != serialNumber) {
      CloseHandle();
      continue;
    }
    int32_t mode = -1;
    if (!AskMode(form, mode)) {
      // The device named did answer its identity; another with the same number is not sought.
      CloseHandle();
      return ConnectResult::NoDeviceFound;
    }
    deviceType_ = identity.type;
    serialNumber_ = identity.serialNumber;
    mode_ = mode;
    return ConnectResult::Connected;
  }
  return ConnectResult::NoDeviceFound;
}

ConnectResult CVeltrPortUSB::List() {
  found_.clear();
  for (const std::string& node : backend_->Enumerate()) {
    if (!OpenNode(node)) {
      continue;  // held by another program or not permitted: not listed, LastError() tells
    }
    FoundDevice& entry = found_.emplace_back();
    entry.status = kDeviceNotAvailable;
    if (ReadReportLengths()) {
      Form form = Form::Addressed;
      Identity identity;
      const Identified identified = Identify(form, identity);
      if (identified == Identified::NoAnswer) {
        entry.status = kDeviceNotResponding;
      } else if (identified == Identified::Decoded) {
        entry.type = identity.type;
        entry.serialNumber = identity.serialNumber;
        int32_t mode = -1;
        if (AskMode(form, mode)) {
          entry.mode = mode;
          entry.status = kDeviceOk;
        } else {
          entry.status = kDeviceNotResponding;
        }
      }
    }
    CloseHandle();
  }
  return found_.empty() ? ConnectResult::NoDeviceFound : ConnectResult::SelectionRequired;
}

}  // namespace veltr
