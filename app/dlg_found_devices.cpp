#include "app/dlg_found_devices.h"

#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QVBoxLayout>

#include "app/dlg_small.h"
#include "app/dlg_units.h"
#include "protocol/device_types.h"
#include "transport/device_identity.h"

namespace veltr {
namespace {

enum Column { kNumber, kType, kSerialNumber, kAddress, kMode, kStatus };

// Column headings and the sample texts whose width sets each column.
struct ColumnLayout {
  Column column;
  const char* heading;
  const char* sample;
};
constexpr ColumnLayout kColumns[] = {
    {kNumber, "", "88"},
    {kType, "Type", "KL1B-96k"},
    {kSerialNumber, "Serial number", "Serial number"},
    {kAddress, "IP address", "888.888.888.888"},
    {kMode, "Mode", "Veltrano"},
    {kStatus, "Status", "Not responding"},
};

// Only a device that answered and is not known to be unreachable shows what it said.
bool ShowsIdentity(int32_t status) {
  return status == kDeviceOk || status == kDeviceNotReachable;
}

}  // namespace

CVeltrListCtrl::CVeltrListCtrl(QWidget* parent) : QTreeWidget(parent) {}

void CVeltrListCtrl::mouseDoubleClickEvent(QMouseEvent* event) {
  QTreeWidget::mouseDoubleClickEvent(event);
  if (event->button() == Qt::LeftButton && itemAt(event->position().toPoint()) != nullptr) {
    emit RowDoubleClicked();
  }
}

CVeltrFoundDevicesDlg::CVeltrFoundDevicesDlg(std::vector<FoundDevice> found, bool showAddress,
                                             QWidget* parent)
    : QDialog(parent), found_(std::move(found)) {
  setWindowTitle(tr("Found devices"));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  list_ = new CVeltrListCtrl(this);
  list_->setObjectName(QStringLiteral("devices"));
  list_->setRootIsDecorated(false);
  list_->setItemsExpandable(false);
  list_->setUniformRowHeights(true);
  list_->setAllColumnsShowFocus(true);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setSortingEnabled(false);
  list_->header()->setSectionsClickable(false);
  list_->header()->setSectionsMovable(false);
  InsertColumns(showAddress);
  InsertRows(showAddress);
  if (list_->topLevelItemCount() > 0) {
    list_->setCurrentItem(list_->topLevelItem(0));
  }
  connect(list_, &CVeltrListCtrl::RowDoubleClicked, this, &CVeltrFoundDevicesDlg::accept);

  auto* group = new QGroupBox(tr("Devices"), this);
  auto* groupLayout = new QVBoxLayout(group);
  auto* prompt = new QLabel(tr("Select device you want to upgrade"), group);
  prompt->setBuddy(list_);
  groupLayout->addWidget(prompt);
  groupLayout->addWidget(list_);

  auto* buttons =
      new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, Qt::Vertical, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &CVeltrFoundDevicesDlg::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QHBoxLayout(this);
  layout->addWidget(group, 1);
  layout->addWidget(buttons, 0, Qt::AlignTop);
  FixDialogSize(this, 367, 122);
  list_->setFocus();
}

void CVeltrFoundDevicesDlg::InsertColumns(bool showAddress) {
  QStringList headings;
  std::vector<int> widths;
  const QFontMetrics metrics(list_->font());
  // A cell has a margin on each side that the sample text alone does not include.
  const int margin = 2 * list_->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list_) +
                     metrics.horizontalAdvance(QLatin1Char('8'));
  for (const ColumnLayout& layout : kColumns) {
    if (layout.column == kAddress && !showAddress) {
      continue;
    }
    headings << QString::fromUtf8(layout.heading);
    widths.push_back(metrics.horizontalAdvance(QString::fromUtf8(layout.sample)) + margin);
  }
  list_->setColumnCount(static_cast<int>(headings.size()));
  list_->setHeaderLabels(headings);
  list_->headerItem()->setTextAlignment(0, Qt::AlignRight | Qt::AlignVCenter);
  for (size_t i = 0; i < widths.size(); ++i) {
    list_->setColumnWidth(static_cast<int>(i), widths[i]);
  }
}

void CVeltrFoundDevicesDlg::InsertRows(bool showAddress) {
  const QString unknown = QStringLiteral("Unknown");
  int row = 0;
  for (const FoundDevice& device : found_) {
    QStringList cells;
    cells << QString::number(++row);
    if (ShowsIdentity(device.status)) {
      cells << QString::fromUtf8(GetShortName(device.type))
            << QString::fromStdString(device.serialNumber);
    } else {
      cells << unknown << unknown;
    }
    if (showAddress) {
      cells << QString::fromStdString(device.address);
    }
    cells << (ShowsIdentity(device.status) ? QString::fromUtf8(ModeText(device.mode)) : unknown);
    cells << QString::fromUtf8(DeviceStatusText(device.status));
    auto* item = new QTreeWidgetItem(cells);
    item->setTextAlignment(0, Qt::AlignRight | Qt::AlignVCenter);
    list_->addTopLevelItem(item);
  }
}

void CVeltrFoundDevicesDlg::accept() {
  // The row last marked, like the old list's selection mark: it stays when the selection is lost
  // by a click beside the rows.
  const int row = list_->indexOfTopLevelItem(list_->currentItem());
  if (row >= 0 && static_cast<size_t>(row) < found_.size()) {
    const FoundDevice& device = found_[static_cast<size_t>(row)];
    if (device.status != kDeviceOk) {
      RefuseUnavailable();
      return;
    }
    result_ = ResultOf(device);
    chosen_ = device;
  }
  QDialog::accept();
}

void CVeltrFoundDevicesDlg::RefuseUnavailable() {
  QMessageBox box(QMessageBox::Warning, QString::fromLatin1(kApplicationName),
                  QString::fromLatin1(kDeviceNotAvailableText), QMessageBox::Ok, this);
  box.exec();
}

CVeltrSeveralDevicesDlg::CVeltrSeveralDevicesDlg(std::vector<FoundDevice> found, QWidget* parent)
    : CVeltrFoundDevicesDlg(std::move(found), false, parent) {}

std::string CVeltrSeveralDevicesDlg::ResultOf(const FoundDevice& device) const {
  return device.serialNumber;
}

CVeltrSeveralDevicesEthernetDlg::CVeltrSeveralDevicesEthernetDlg(std::vector<FoundDevice> found,
                                                                 QWidget* parent)
    : CVeltrFoundDevicesDlg(std::move(found), true, parent) {}

std::string CVeltrSeveralDevicesEthernetDlg::ResultOf(const FoundDevice& device) const {
  return device.address;
}

}  // namespace veltr
