#pragma once

#include <string>

namespace veltr {

// Texts kept in a device are narrow 8-bit texts in the Windows-1252 code page (the code page the
// devices' texts were always written in); everything on screen is UTF-8. Both directions map all
// 256 byte values: the five bytes 1252 leaves undefined stand for the C1 control characters of
// the same number, as the platform's own conversion does.
std::string AnsiToUtf8(const std::string& narrow);
// Characters 1252 cannot hold, and bytes that are not UTF-8, become '?'.
std::string Utf8ToAnsi(const std::string& utf8);

}  // namespace veltr
