#include "app/message_box.h"

#include <QCoreApplication>

namespace veltr {

QMessageBox::StandardButton ShowMessageBox(QWidget* parent, const QString& text,
                                           QMessageBox::Icon icon,
                                           QMessageBox::StandardButtons buttons,
                                           QMessageBox::StandardButton defaultButton) {
  QMessageBox box(icon, QCoreApplication::applicationName(), text, buttons, parent);
  if (defaultButton != QMessageBox::NoButton) {
    box.setDefaultButton(defaultButton);
  }
  return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace veltr
