#pragma once

#include <QMessageBox>
#include <QString>

namespace veltr {

// Every message box of the program: the application's name ("Upgrade") as its caption.
QMessageBox::StandardButton ShowMessageBox(
    QWidget* parent, const QString& text, QMessageBox::Icon icon,
    QMessageBox::StandardButtons buttons = QMessageBox::Ok,
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

}  // namespace veltr
