#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <memory>

namespace veltr::test {

// Watches for the next message box to open, keeps its text and presses its default button, so
// that a dialog that refuses something does not leave the test waiting on a modal loop.
class MessageBoxAnswerer {
 public:
  MessageBoxAnswerer() {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) {
        return;
      }
      text_ = box->text();
      icon_ = box->icon();
      caption_ = box->windowTitle();
      ++seen_;
      box->accept();
    });
    timer_.start();
  }

  int Seen() const { return seen_; }
  const QString& Text() const { return text_; }
  const QString& Caption() const { return caption_; }
  QMessageBox::Icon Icon() const { return icon_; }

 private:
  QTimer timer_;
  QString text_;
  QString caption_;
  QMessageBox::Icon icon_ = QMessageBox::NoIcon;
  int seen_ = 0;
};

}  // namespace veltr::test
