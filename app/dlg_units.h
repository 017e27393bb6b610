#pragma once

#include <QSize>

class QWidget;

namespace veltr {

// The dialogs' sizes are given in dialog units: a quarter of the font's average character width
// across, an eighth of its height down. Converted from the widget's own font, so a dialog keeps
// its proportions under any font and screen density.
QSize DialogUnitsToPixels(const QWidget* widget, int width, int height);

// Gives the dialog the size of its template, or more when its controls need more room, and keeps
// it there: these dialogs were never resizable.
void FixDialogSize(QWidget* dialog, int widthUnits, int heightUnits);

}  // namespace veltr
