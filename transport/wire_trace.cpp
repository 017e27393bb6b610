#include "transport/wire_trace.h"

#include <cerrno>
#include <cstring>
#include <ctime>

namespace veltr {
namespace {

// Big enough that a whole upload stays in memory between two flushes of a job end on any
// reasonable machine, small enough not to matter: a 261-byte page frame is about 800 characters.
constexpr size_t kFileBufferSize = 1 << 20;
constexpr size_t kLineReserve = 1024;

std::string UtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &utc);
  return text;
}

}  // namespace

CVeltrWireTrace::~CVeltrWireTrace() {
  Close();
}

bool CVeltrWireTrace::Open(const std::string& path, std::string& error) {
  Close();
  std::lock_guard lock(mutex_);
  file_ = std::fopen(path.c_str(), "w");
  if (file_ == nullptr) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  std::setvbuf(file_, nullptr, _IOFBF, kFileBufferSize);
  line_.reserve(kLineReserve);
  start_ = std::chrono::steady_clock::now();
  std::fprintf(file_,
               "# veltr wire trace\n"
               "# opened %s; time in microseconds since then, monotonic\n"
               "# time port direction count bytes\n",
               UtcNow().c_str());
  return true;
}

void CVeltrWireTrace::Flush() {
  std::lock_guard lock(mutex_);
  if (file_ != nullptr) {
    std::fflush(file_);
  }
}

void CVeltrWireTrace::Close() {
  std::lock_guard lock(mutex_);
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
}

void CVeltrWireTrace::Bytes(const std::string& port, const char* dir, const CVeltrBuffer& buffer,
                            const std::string& why) {
  std::lock_guard lock(mutex_);
  if (file_ == nullptr) {
    return;
  }
  const uint32_t count = buffer.GetSize();
  Begin(port);
  line_ += dir;
  line_ += ' ';
  line_ += std::to_string(count);
  if (buffer.Secret() != nullptr) {
    line_ += " <";
    line_ += buffer.Secret();
    line_ += ", ";
    line_ += std::to_string(count);
    line_ += " bytes>";
  } else if (count != 0) {
    AppendHex(buffer.At(0), count);
  }
  if (!why.empty()) {
    line_ += " # ";
    line_ += why;
  }
  End();
}

void CVeltrWireTrace::ReadFailed(const std::string& port, uint32_t count, const std::string& why) {
  std::lock_guard lock(mutex_);
  if (file_ == nullptr) {
    return;
  }
  Begin(port);
  line_ += "<! ";
  line_ += std::to_string(count);
  if (why.empty()) {
    line_ += " timed-out";
  } else {
    line_ += " failed # ";
    line_ += why;
  }
  End();
}

void CVeltrWireTrace::Event(const std::string& port, const char* event,
                            const std::string& arguments) {
  std::lock_guard lock(mutex_);
  if (file_ == nullptr) {
    return;
  }
  Begin(port);
  line_ += event;
  if (!arguments.empty()) {
    line_ += ' ';
    line_ += arguments;
  }
  End();
}

void CVeltrWireTrace::Begin(const std::string& port) {
  const auto elapsed = std::chrono::steady_clock::now() - start_;
  line_.clear();
  line_ += std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count());
  line_ += ' ';
  line_ += port;
  line_ += ' ';
}

void CVeltrWireTrace::AppendHex(const uint8_t* bytes, uint32_t count) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  const size_t at = line_.size();
  line_.resize(at + size_t{count} * 3);
  char* out = line_.data() + at;
  for (uint32_t i = 0; i < count; ++i) {
    *out++ = ' ';
    *out++ = kDigits[bytes[i] >> 4];
    *out++ = kDigits[bytes[i] & 0x0F];
  }
}

void CVeltrWireTrace::End() {
  line_ += '\n';
  std::fwrite(line_.data(), 1, line_.size(), file_);
}

}  // namespace veltr
