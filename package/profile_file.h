#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace veltr {

// The integer at the head of a profile value, as the profile functions read it: blanks, an
// optional sign, decimal digits (none read as 0).
struct ProfileInteger {
  bool negative = false;
  uint32_t wrapped = 0;    // the digits accumulated in 32 bits, wrapping as those functions do
  uint64_t magnitude = 0;  // the digits without wrapping, held at 2^32 once past it
  int32_t Value() const { return static_cast<int32_t>(negative ? 0u - wrapped : wrapped); }
};
ProfileInteger ParseProfileInteger(const std::string& text);

// A profile (INI) file read the way the platform's profile functions read one: sections and keys
// are found without regard to case, the first occurrence wins, integers are read as decimal.
class CVeltrProfileFile {
 public:
  // A description runs to a few kilobytes; anything near this is no profile file.
  static constexpr uint64_t kMaxLength = 1 << 20;

  // False when the file cannot be read, is no plain file or is longer than kMaxLength.
  bool Load(const std::string& path);

  // The integer of a key: leading decimal digits (an optional sign), the default when the key is
  // missing.
  int32_t GetInt(const std::string& section, const std::string& key, int32_t defaultValue) const;
  std::optional<std::string> GetString(const std::string& section, const std::string& key) const;
  // A structure stored as hexadecimal digits and a trailing sum8; none when the length or the sum
  // is wrong.
  std::optional<std::vector<uint8_t>> GetStruct(const std::string& section, const std::string& key,
                                                size_t size) const;
  // The section names in file order as a list limited to bufferChars characters, each name with
  // its terminating zero; names that do not fit are lost.
  std::vector<std::string> SectionNames(size_t bufferChars) const;

 private:
  struct Entry {
    std::string key;
    std::string value;
  };
  struct Section {
    std::string name;
    std::vector<Entry> entries;
  };
  const Section* FindSection(const std::string& name) const;

  std::vector<Section> sections_;
};

}  // namespace veltr
