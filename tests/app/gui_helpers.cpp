#include "gui_helpers.h"

#include <QAbstractButton>
#include <QPushButton>
#include <QThread>

namespace veltr_app_test {

bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) {
      return pred();
    }
    QApplication::processEvents(QEventLoop::AllEvents, 20);
    QThread::msleep(5);
  }
  return true;
}

ModalAnswerer::ModalAnswerer() {
  QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
  timer_.start(20);
}

ModalAnswerer::~ModalAnswerer() {
  timer_.stop();
}

void ModalAnswerer::ThenBox(QMessageBox::StandardButton button) {
  Then([button](QWidget* widget) {
    auto* box = qobject_cast<QMessageBox*>(widget);
    if (box != nullptr && box->button(button) != nullptr) {
      box->button(button)->click();
    } else if (auto* dialog = qobject_cast<QDialog*>(widget)) {
      dialog->reject();
    }
  });
}

void ModalAnswerer::Poll() {
  QWidget* modal = QApplication::activeModalWidget();
  if (modal == nullptr || modal == last_ || !modal->isVisible()) {
    return;
  }
  last_ = modal;
  classes_.push_back(modal->metaObject()->className());
  if (auto* box = qobject_cast<QMessageBox*>(modal)) {
    SeenBox seen;
    seen.caption = box->windowTitle().toStdString();
    seen.text = box->text().toStdString();
    seen.icon = box->icon();
    seen.buttons = box->standardButtons();
    seen.defaultButton = box->standardButton(box->defaultButton());
    boxes_.push_back(seen);
  }
  if (answers_.empty()) {
    // Nobody expected it: closed, so that the test goes on and fails on what it checks.
    ++unexpected_;
    if (auto* dialog = qobject_cast<QDialog*>(modal)) {
      dialog->reject();
    }
    return;
  }
  Answer answer = std::move(answers_.front());
  answers_.pop_front();
  answer(modal);
}

}  // namespace veltr_app_test
