#pragma once

#include <QDialog>
#include <QTreeWidget>
#include <optional>
#include <string>
#include <vector>

#include "base/port.h"

namespace veltr {

// The device list of the found-devices dialogs: a double click on a row counts as a choice.
class CVeltrListCtrl : public QTreeWidget {
  Q_OBJECT

 public:
  explicit CVeltrListCtrl(QWidget* parent = nullptr);

 signals:
  // A double click landed on a row (not on the empty space below the rows).
  void RowDoubleClicked();

 protected:
  void mouseDoubleClickEvent(QMouseEvent* event) override;
};

// "Found devices": what a listing Open found on USB or Ethernet. OK (or a double click) on a row
// whose device answered chooses it; any other row is refused with "Device is not available" and
// the dialog stays open. OK without a marked row closes with no result.
class CVeltrFoundDevicesDlg : public QDialog {
  Q_OBJECT

 public:
  CVeltrListCtrl* ListCtrl() const { return list_; }
  // The chosen device's serial number (USB) or address (Ethernet); empty when none was chosen.
  const std::string& Result() const { return result_; }
  // The chosen entry; none after Cancel or OK without a marked row.
  std::optional<FoundDevice> Chosen() const { return chosen_; }

  void accept() override;

 protected:
  CVeltrFoundDevicesDlg(std::vector<FoundDevice> found, bool showAddress, QWidget* parent);
  // What a chosen entry gives as the result text.
  virtual std::string ResultOf(const FoundDevice& device) const = 0;

 private:
  void InsertColumns(bool showAddress);
  void InsertRows(bool showAddress);
  void RefuseUnavailable();

  CVeltrListCtrl* list_ = nullptr;
  std::string result_;
  std::optional<FoundDevice> chosen_;
  std::vector<FoundDevice> found_;
};

// The devices found on USB; the result is the serial number.
class CVeltrSeveralDevicesDlg : public CVeltrFoundDevicesDlg {
  Q_OBJECT

 public:
  explicit CVeltrSeveralDevicesDlg(std::vector<FoundDevice> found, QWidget* parent = nullptr);

 protected:
  std::string ResultOf(const FoundDevice& device) const override;
};

// The devices found on Ethernet, with their addresses; the result is the address.
class CVeltrSeveralDevicesEthernetDlg : public CVeltrFoundDevicesDlg {
  Q_OBJECT

 public:
  explicit CVeltrSeveralDevicesEthernetDlg(std::vector<FoundDevice> found,
                                           QWidget* parent = nullptr);

 protected:
  std::string ResultOf(const FoundDevice& device) const override;
};

inline constexpr const char* kDeviceNotAvailableText = "Device is not available";

}  // namespace veltr
