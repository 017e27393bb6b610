#pragma once

#include <QDialog>
#include <array>
#include <string>

#include "base/port.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

namespace veltr {

// "Cold boot": offered when no device answered. The user powers the device down, picks the COM
// port and powers it up again after OK.
class CVeltrColdBootDlg : public QDialog {
  Q_OBJECT

 public:
  // port: the port that was searched (a COM port; any other starts with COM1 selected).
  // searchedAll: the search tried COM1 to COM4, not just port.
  CVeltrColdBootDlg(PortId port, bool searchedAll, QWidget* parent = nullptr);

  // After OK: the COM port picked.
  PortId Port() const { return port_; }
  QString Message() const;
  QComboBox* PortBox() const { return portBox_; }

  void accept() override;

 private:
  PortId port_;
  QLabel* message_ = nullptr;
  QComboBox* portBox_ = nullptr;
};

// "User text": the two lines a device keeps, at most 30 characters each.
class CVeltrUserTextDlg : public QDialog {
  Q_OBJECT

 public:
  // current: the device's texts, UTF-8.
  explicit CVeltrUserTextDlg(const std::array<std::string, 2>& current, QWidget* parent = nullptr);

  // After "Upload": the texts as typed, UTF-8.
  const std::array<std::string, 2>& EditText() const { return editText_; }
  // After "Upload": the same texts in the devices' 8-bit code page, as they are sent.
  const std::array<std::string, 2>& UserText() const { return userText_; }
  QLineEdit* Edit(int index) const { return edits_.at(index); }

  void accept() override;

 private:
  std::array<QLineEdit*, 2> edits_{};
  std::array<std::string, 2> editText_;
  std::array<std::string, 2> userText_;
};

// "Succeeded": the outcome of a job, with the choice to take the device out of upgrade mode.
class CVeltrSuccessDlg : public QDialog {
  Q_OBJECT

 public:
  CVeltrSuccessDlg(const QString& message, bool exitUpgradeMode, QWidget* parent = nullptr);

  // After the dialog closed: the state of "Exit upgrade mode".
  bool ExitUpgradeMode() const { return exitUpgradeMode_; }
  QCheckBox* ExitUpgradeModeBox() const { return exitBox_; }

  void accept() override;

 private:
  QCheckBox* exitBox_ = nullptr;
  bool exitUpgradeMode_;
};

// "About Veltrano Upgrade".
class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
};

// The caption of every message box of the program.
inline constexpr const char* kApplicationName = "Upgrade";

}  // namespace veltr
