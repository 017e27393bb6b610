#include "app/dlg_units.h"

#include <QFontMetrics>
#include <QLayout>
#include <QWidget>
#include <algorithm>

namespace veltr {

QSize DialogUnitsToPixels(const QWidget* widget, int width, int height) {
  const QFontMetrics metrics(widget->font());
  // The average character width the way dialog units have always measured it: the 52 letters,
  // halved and rounded.
  const int letters = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  const int averageWidth = std::max(1, (letters / 26 + 1) / 2);
  return {width * averageWidth / 4, height * metrics.height() / 8};
}

void FixDialogSize(QWidget* dialog, int widthUnits, int heightUnits) {
  dialog->ensurePolished();
  if (dialog->layout() != nullptr) {
    dialog->layout()->activate();
  }
  const QSize wanted = DialogUnitsToPixels(dialog, widthUnits, heightUnits);
  dialog->setFixedSize(wanted.expandedTo(dialog->minimumSizeHint()).expandedTo(dialog->sizeHint()));
}

}  // namespace veltr
