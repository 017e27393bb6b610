#include "package/profile_file.h"

#include <algorithm>
#include <cctype>
#include <sstream>

#include "package/regular_file.h"
#include "protocol/sums.h"

namespace veltr {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string Trim(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) {
    ++begin;
  }
  while (end > begin && IsBlank(text[end - 1])) {
    --end;
  }
  return text.substr(begin, end - begin);
}

char Lower(char c) {
  return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool SameIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) {
      return false;
    }
  }
  return true;
}

// A value written "305" or '305' reads 305; a lone or unmatched quote stays part of the value.
std::string Unquote(const std::string& value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  c = Lower(c);
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  return -1;
}

}  // namespace

bool CVeltrProfileFile::Load(const std::string& path) {
  CVeltrRegularFile file;
  if (!file.Open(path) || file.Length() > kMaxLength) {
    return false;
  }
  std::string content(static_cast<size_t>(file.Length()), '\0');
  if (!file.Read(reinterpret_cast<uint8_t*>(content.data()), content.size())) {
    return false;
  }
  // An editor may have put a UTF-8 byte order mark in front of the first line.
  if (content.rfind("\xEF\xBB\xBF", 0) == 0) {
    content.erase(0, 3);
  }

  sections_.clear();
  std::istringstream lines(content);
  std::string line;
  while (std::getline(lines, line)) {
    const std::string text = Trim(line);
    if (text.empty() || text[0] == ';') {
      continue;
    }
    if (text[0] == '[') {
      const size_t close = text.find(']');
      if (close != std::string::npos) {
        // The name is taken as it stands between the brackets, blanks included.
        sections_.push_back({text.substr(1, close - 1), {}});
      }
      continue;  // a header without its closing bracket is ignored
    }
    const size_t equals = text.find('=');
    // Lines before the first section, and lines without an equals sign, hold no key.
    if (sections_.empty() || equals == std::string::npos) {
      continue;
    }
    sections_.back().entries.push_back(
        {Trim(text.substr(0, equals)), Trim(text.substr(equals + 1))});
  }
  return true;
}

const CVeltrProfileFile::Section* CVeltrProfileFile::FindSection(const std::string& name) const {
  for (const Section& section : sections_) {
    if (SameIgnoringCase(section.name, name)) {
      return &section;
    }
  }
  return nullptr;
}

std::optional<std::string> CVeltrProfileFile::GetString(const std::string& section,
                                                        const std::string& key) const {
  const Section* found = FindSection(section);
  if (found == nullptr) {
    return std::nullopt;
  }
  for (const Entry& entry : found->entries) {
    if (SameIgnoringCase(entry.key, key)) {
      return Unquote(entry.value);
    }
  }
  return std::nullopt;
}

ProfileInteger ParseProfileInteger(const std::string& text) {
  constexpr uint64_t kHeld = uint64_t{1} << 32;
  ProfileInteger result;
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) {
    ++i;
  }
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    result.negative = text[i] == '-';
    ++i;
  }
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    const auto digit = static_cast<uint32_t>(text[i] - '0');
    result.wrapped = result.wrapped * 10 + digit;
    result.magnitude = std::min(result.magnitude * 10 + digit, kHeld);
  }
  return result;
}

int32_t CVeltrProfileFile::GetInt(const std::string& section, const std::string& key,
                                  int32_t defaultValue) const {
  const std::optional<std::string> value = GetString(section, key);
  if (!value) {
    return defaultValue;
  }
  return ParseProfileInteger(*value).Value();
}

std::optional<std::vector<uint8_t>> CVeltrProfileFile::GetStruct(const std::string& section,
                                                                 const std::string& key,
                                                                 size_t size) const {
  const std::optional<std::string> value = GetString(section, key);
  if (!value || value->size() != 2 * size + 2) {
    return std::nullopt;
  }
  std::vector<uint8_t> bytes(size + 1);
  for (size_t i = 0; i <= size; ++i) {
    const int high = HexDigit((*value)[2 * i]);
    const int low = HexDigit((*value)[2 * i + 1]);
    if (high < 0 || low < 0) {
      return std::nullopt;
    }
    bytes[i] = static_cast<uint8_t>(high * 16 + low);
  }
  const uint8_t storedSum = bytes.back();
  bytes.pop_back();
  if (Sum8(bytes.data(), bytes.size()) != storedSum) {
    return std::nullopt;
  }
  return bytes;
}

// The list is what a caller would find in a buffer of bufferChars characters filled with the names
// in file order, each followed by a zero, the whole ended by one more zero. So the names with their
// zeros may take bufferChars - 1 characters: a name survives when it and every name before it fit
// in that room. The first name that does not fit is lost whole (a cut-off head such as "KL1A" of
// "KL1A-96k" must not pass for another section), and so is every name after it, even a short one
// that would still fit. Every section header counts, a repeated name as often as it appears; a
// header with an empty name holds no place.
std::vector<std::string> CVeltrProfileFile::SectionNames(size_t bufferChars) const {
  std::vector<std::string> names;
  if (bufferChars < 2) {
    return names;
  }
  size_t room = bufferChars - 1;
  for (const Section& section : sections_) {
    if (section.name.empty()) {
      continue;
    }
    const size_t needed = section.name.size() + 1;
    if (needed > room) {
      break;
    }
    names.push_back(section.name);
    room -= needed;
  }
  return names;
}

}  // namespace veltr
