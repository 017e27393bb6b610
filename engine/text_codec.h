#pragma once

#include <cstddef>
#include <string>

namespace veltr {

// Texts kept in a device are narrow 8-bit texts in the Windows-1252 code page (the code page the
// devices' texts were always written in); everything on screen is UTF-8. Both directions map all
// 256 byte values: the five bytes 1252 leaves undefined stand for the C1 control characters of
// the same number, as the platform's own conversion does.
std::string AnsiToUtf8(const std::string& narrow);
// Characters 1252 cannot hold, and bytes that are not UTF-8, become '?'.
std::string Utf8ToAnsi(const std::string& utf8);

inline constexpr size_t kUserTextChars = 30;

// Why a device cannot keep utf8 as its user text `which` (1 or 2), in words for the user; empty
// when it can. A device field is 30 single bytes padded with FF, so FF itself ends the text early;
// control characters (C0, DEL and the five C1 controls 1252 leaves undefined) are refused too,
// since the devices' displays and every screen that shows the text would act on them.
std::string UserTextProblem(int which, const std::string& utf8);

}  // namespace veltr
