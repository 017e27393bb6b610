#include "app/job_ui.h"

#include <QString>

#include "app/message_box.h"
#include "engine/upgrade_engine.h"

namespace veltr {
namespace {

QMessageBox::Icon BoxIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Information:
      return QMessageBox::Information;
    case MessageIcon::Question:
      return QMessageBox::Question;
    case MessageIcon::Exclamation:
      return QMessageBox::Warning;
    case MessageIcon::Stop:
      return QMessageBox::Critical;
    case MessageIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

bool CVeltrJobUi::Confirm(const std::string& question) {
  // Yes is the default button, as the platform's question boxes always had it.
  return ShowMessageBox(parent_, QString::fromStdString(question), QMessageBox::Question,
                        QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) == QMessageBox::Yes;
}

void CVeltrJobUi::ShowMessage(const std::string& text, MessageIcon icon) {
  ShowMessageBox(parent_, QString::fromStdString(text), BoxIcon(icon));
}

}  // namespace veltr
