#include "engine/text_codec.h"

#include <cstdint>
#include <cstdio>

namespace veltr {
namespace {

// Code points of the bytes 0x80 to 0x9F; the rest of the page equals Latin-1.
constexpr char32_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

char32_t CodePointOf(uint8_t byte) {
  if (byte >= 0x80 && byte < 0xA0) {
    return kHighControls[byte - 0x80];
  }
  return byte;
}

// One code point from UTF-8 at pos; false for a malformed sequence (pos then skips one byte).
bool NextCodePoint(const std::string& s, size_t& pos, char32_t& cp) {
  const auto lead = static_cast<uint8_t>(s[pos]);
  int extra = 0;
  char32_t minimum = 0;
  if (lead < 0x80) {
    cp = lead;
    ++pos;
    return true;
  } else if ((lead & 0xE0) == 0xC0) {
    extra = 1;
    cp = lead & 0x1F;
    minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2;
    cp = lead & 0x0F;
    minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3;
    cp = lead & 0x07;
    minimum = 0x10000;
  } else {
    ++pos;
    return false;
  }
  if (pos + extra >= s.size()) {
    ++pos;
    return false;
  }
  for (int i = 1; i <= extra; ++i) {
    const auto next = static_cast<uint8_t>(s[pos + i]);
    if ((next & 0xC0) != 0x80) {
      ++pos;
      return false;
    }
    cp = (cp << 6) | (next & 0x3F);
  }
  pos += extra + 1;
  return cp >= minimum && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
}

std::string Hex(const char* format, uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, format, static_cast<unsigned>(value));
  return text;
}

bool IsControl(char32_t cp) {
  return cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0);
}

std::string ControlName(char32_t cp) {
  return cp < 0x80 ? Hex("\\x%02x", cp) : Hex("\\u%04x", cp);
}

}  // namespace

std::string UserTextProblem(int which, const std::string& utf8) {
  const std::string field = "user text " + std::to_string(which);
  size_t pos = 0;
  size_t characters = 0;
  while (pos < utf8.size()) {
    const size_t start = pos;
    char32_t cp = 0;
    const bool valid = NextCodePoint(utf8, pos, cp);
    ++characters;
    const std::string where = field + ": character " + std::to_string(characters);
    if (!valid) {
      return where + " (byte " + Hex("%02X", static_cast<uint8_t>(utf8[start])) +
             ") is not UTF-8 text";
    }
    if (IsControl(cp)) {
      return where + " is a control character (" + ControlName(cp) + ")";
    }
    const std::string narrow = Utf8ToAnsi(utf8.substr(start, pos - start));
    if (narrow == "?" && cp != '?') {
      return where + " (\"" + utf8.substr(start, pos - start) +
             "\") has no byte in the device's code page (Windows-1252)";
    }
    if (static_cast<uint8_t>(narrow[0]) == 0xFF) {
      return where + " (\"" + utf8.substr(start, pos - start) +
             "\", byte FF) ends a text field on the device";
    }
  }
  if (characters > kUserTextChars) {
    return field + " has " + std::to_string(characters) +
           " characters; the device keeps at most 30";
  }
  return {};
}

std::string AnsiToUtf8(const std::string& narrow) {
  std::string out;
  out.reserve(narrow.size());
  for (char c : narrow) {
    AppendUtf8(out, CodePointOf(static_cast<uint8_t>(c)));
  }
  return out;
}

std::string Utf8ToAnsi(const std::string& utf8) {
  std::string out;
  size_t pos = 0;
  while (pos < utf8.size()) {
    char32_t cp = 0;
    if (!NextCodePoint(utf8, pos, cp)) {
      out += '?';
      continue;
    }
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
      out += static_cast<char>(cp);
      continue;
    }
    char mapped = '?';
    for (int i = 0; i < 32; ++i) {
      if (kHighControls[i] == cp) {
        mapped = static_cast<char>(0x80 + i);
        break;
      }
    }
    out += mapped;
  }
  return out;
}

}  // namespace veltr
