// Waiting for the window and answering its modal dialogs from a test.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace veltr_app_test {

// Runs the event loop until pred holds or the time is up; the result of pred at the end.
bool WaitUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout);

// Answers modal widgets as they open, in the order the test gave the answers. Every message box
// seen is recorded with its caption, text and icon, answered or not.
class ModalAnswerer {
 public:
  using Answer = std::function<void(QWidget*)>;

  struct SeenBox {
    std::string caption;
    std::string text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
  };

  ModalAnswerer();
  ~ModalAnswerer();

  void Then(Answer answer) { answers_.push_back(std::move(answer)); }
  // A message box answered with one of its buttons.
  void ThenBox(QMessageBox::StandardButton button);

  bool AllAnswered() const { return answers_.empty(); }
  // Modal widgets that opened when no answer was left (they were closed with Cancel).
  int Unexpected() const { return unexpected_; }
  const std::vector<SeenBox>& Boxes() const { return boxes_; }
  const std::vector<std::string>& ModalClasses() const { return classes_; }

 private:
  void Poll();

  QTimer timer_;
  std::deque<Answer> answers_;
  QPointer<QWidget> last_;
  std::vector<SeenBox> boxes_;
  std::vector<std::string> classes_;
  int unexpected_ = 0;
};

}  // namespace veltr_app_test
