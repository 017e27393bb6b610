#pragma once

#include <QIcon>

namespace veltr {

// The tool bar's button images, 16 x 15 at their normal size, drawn as shapes so that every
// pixel density gets its own sharp copy.
enum class ToolImage {
  EnterUpgradeMode,
  EraseSettings,
  UploadFirmware,
  UploadUserText,
  Preferences
};

inline constexpr int kToolImageWidth = 16;
inline constexpr int kToolImageHeight = 15;

QIcon MakeToolIcon(ToolImage image);
// One copy at the given scale (1 is 16 x 15 pixels).
QPixmap MakeToolPixmap(ToolImage image, qreal scale);
// The program's own icon (also installed with the desktop entry), size x size pixels.
QPixmap MakeAppIconPixmap(int size);

}  // namespace veltr
