#include "app/dlg_settings.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QStyle>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

#include "app/dlg_units.h"
#include "protocol/device_types.h"

namespace veltr {
namespace {

constexpr DeviceType kFirstUsbType = 23;
constexpr DeviceType kLastUsbType = 31;
constexpr DeviceType kLastEthernetType = 32;

// OK and Cancel in a column at the right, as all of these dialogs have them.
QDialogButtonBox* MakeButtonColumn(QDialog* dialog) {
  auto* buttons =
      new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, Qt::Vertical, dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return buttons;
}

// A label and its combo box on one line.
QHBoxLayout* LabelledRow(QLabel* label, QComboBox* box) {
  auto* row = new QHBoxLayout;
  label->setBuddy(box);
  row->addWidget(label);
  row->addWidget(box, 1);
  return row;
}

}  // namespace

CVeltrSettingsDlg::CVeltrSettingsDlg(AppSettings& settings, const PackageVersionTable& package,
                                     const char* startupText, QWidget* parent)
    : QDialog(parent), package_(package) {
  SetSettings(&settings);
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  deviceType_ = new QComboBox(this);
  deviceType_->setObjectName(QStringLiteral("deviceType"));
  port_ = new QComboBox(this);
  port_->setObjectName(QStringLiteral("port"));
  autoselect_ = new QCheckBox(tr("Autoselect"), this);
  autoselect_->setObjectName(QStringLiteral("autoselect"));
  autoselect_->setChecked(true);
  startup_ = new QCheckBox(QString::fromUtf8(startupText), this);
  startup_->setObjectName(QStringLiteral("startup"));
  startup_->setChecked(true);
  deviceTypeLabel_ = new QLabel(tr("Device type"), this);
  portLabel_ = new QLabel(tr("Use port"), this);
  // The two combo boxes sit in different groups; one label width lines them up.
  const int labelWidth =
      std::max(deviceTypeLabel_->sizeHint().width(), portLabel_->sizeHint().width());
  deviceTypeLabel_->setMinimumWidth(labelWidth);
  portLabel_->setMinimumWidth(labelWidth);

  connect(port_, &QComboBox::currentIndexChanged, this, &CVeltrSettingsDlg::ApplyPortRule);
  connect(autoselect_, &QCheckBox::clicked, this, &CVeltrSettingsDlg::OnAutoselectClicked);
}

QWidget* CVeltrSettingsDlg::PortSelectionGroup() const {
  auto* group = new QGroupBox(tr("Port selection"));
  auto* layout = new QVBoxLayout(group);
  layout->addLayout(LabelledRow(portLabel_, port_));
  layout->addWidget(autoselect_);
  return group;
}

QGroupBox* CVeltrSettingsDlg::DeviceTypeGroup(const char* title) const {
  auto* group = new QGroupBox(QString::fromUtf8(title));
  auto* layout = new QVBoxLayout(group);
  layout->addLayout(LabelledRow(deviceTypeLabel_, deviceType_));
  return group;
}

QWidget* CVeltrSettingsDlg::StartupCheck() const {
  return startup_;
}

void CVeltrSettingsDlg::LoadFromRecord() {
  const AppSettings& record = *settings_;
  // The list is first filled for every port, so that the port rule below finds the type the
  // record names and carries it over into a USB or Ethernet list.
  listKind_ = DeviceListKind::All;
  FillDeviceTypes(0, kDeviceTypeCount - 1);
  SelectByData(deviceType_, record.deviceType);

  {
    // The port rule runs once, below, with the list complete.
    const QSignalBlocker quiet(port_);
    for (const PortId id : kSelectablePorts) {
      AddEntry(port_, PortNameOf(id), id);
    }
    if (!SelectByData(port_, record.port)) {
      port_->setCurrentIndex(-1);
    }
  }
  ApplyPortRule();

  autoselect_->setChecked(record.autoselect != 0);
  port_->setEnabled(record.autoselect == 0);
  startup_->setChecked(record.selectDialog != 0);
}

void CVeltrSettingsDlg::FillDeviceTypes(int32_t first, int32_t last) {
  deviceType_->clear();
  for (DeviceType type = first; type <= last; ++type) {
    if (!package_.Covers(type)) {
      continue;
    }
    // The list is sorted by name, as the old sorted combo box did it: without regard to case.
    const QString name = QString::fromUtf8(GetShortName(type));
    int at = 0;
    while (at < deviceType_->count() &&
           QString::compare(deviceType_->itemText(at), name, Qt::CaseInsensitive) <= 0) {
      ++at;
    }
    deviceType_->insertItem(at, name, type);
  }
  deviceType_->setCurrentIndex(-1);
}

void CVeltrSettingsDlg::ApplyPortRule() {
  const int32_t port = SelectedData(port_);
  const int32_t remembered = SelectedData(deviceType_);
  if (port != kPortUsb && port != kPortEthernet) {
    if (listKind_ != DeviceListKind::All) {
      FillDeviceTypes(0, kDeviceTypeCount - 1);
      SelectByData(deviceType_, remembered);
      listKind_ = DeviceListKind::All;
    }
    return;
  }
  const DeviceListKind kind = port == kPortUsb ? DeviceListKind::Usb : DeviceListKind::Ethernet;
  if (listKind_ == kind) {
    return;
  }
  FillDeviceTypes(kFirstUsbType, kind == DeviceListKind::Usb ? kLastUsbType : kLastEthernetType);
  if (!SelectByData(deviceType_, remembered) && deviceType_->count() > 0) {
    deviceType_->setCurrentIndex(0);
  }
  listKind_ = kind;
}

void CVeltrSettingsDlg::OnAutoselectClicked() {
  port_->setEnabled(!autoselect_->isChecked());
}

void CVeltrSettingsDlg::accept() {
  AppSettings& record = *settings_;
  const int32_t type = SelectedData(deviceType_);
  // As unsigned: no selection (-1) changes nothing.
  if (static_cast<uint32_t>(type) < static_cast<uint32_t>(kDeviceTypeCount)) {
    record.deviceType = type;
  }
  const int32_t port = SelectedData(port_);
  if (IsSelectablePort(port)) {
    record.port = port;
  }
  record.autoselect = autoselect_->isChecked() ? 1 : 0;
  record.selectDialog = startup_->isChecked() ? 1 : 0;
  QDialog::accept();
}

CVeltrSelectDlg::CVeltrSelectDlg(AppSettings& settings, const PackageVersionTable& package,
                                 QWidget* parent)
    : CVeltrSettingsDlg(settings, package, "Show this dialog at startup", parent) {
  setWindowTitle(tr("Select device"));
  auto* left = new QVBoxLayout;
  left->addWidget(DeviceTypeGroup("Device"));
  left->addWidget(PortSelectionGroup());
  left->addWidget(StartupCheck());
  left->addStretch(1);
  auto* layout = new QHBoxLayout(this);
  layout->addLayout(left, 1);
  layout->addWidget(MakeButtonColumn(this), 0, Qt::AlignTop);
  LoadFromRecord();
  FixDialogSize(this, 178, 102);
}

CVeltrPreferencesDlg::CVeltrPreferencesDlg(AppSettings& settings,
                                           const PackageVersionTable& package,
                                           CVeltrPortMap& portMap, QWidget* parent)
    : CVeltrPreferencesDlg(settings, package, portMap, ListSerialDevices(), parent) {}

CVeltrPreferencesDlg::CVeltrPreferencesDlg(AppSettings& settings,
                                           const PackageVersionTable& package,
                                           CVeltrPortMap& portMap,
                                           std::vector<SerialDeviceInfo> devices, QWidget* parent)
    : CVeltrSettingsDlg(settings, package, "Show select dialog at startup", parent),
      portMap_(portMap),
      devices_(std::move(devices)) {
  setWindowTitle(tr("Preferences"));

  auto* first = new QWidget;
  auto* firstLayout = new QVBoxLayout(first);
  firstLayout->addWidget(PortSelectionGroup());
  QGroupBox* general = DeviceTypeGroup("General");
  general->layout()->addWidget(StartupCheck());
  firstLayout->addWidget(general);
  firstLayout->addStretch(1);

  pages_ = new QTabWidget(this);
  pages_->addTab(first, tr("Device"));
  pages_->addTab(MakeSerialPortsPage(), tr("Serial ports"));

  auto* layout = new QHBoxLayout(this);
  layout->addWidget(pages_, 1);
  layout->addWidget(MakeButtonColumn(this), 0, Qt::AlignTop);
  LoadFromRecord();
  FixDialogSize(this, 178, 97);
}

QWidget* CVeltrPreferencesDlg::MakeSerialPortsPage() {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  auto* note = new QLabel(tr("Serial device behind each port name:"), page);
  layout->addWidget(note);
  auto* grid = new QGridLayout;
  grid->setColumnStretch(1, 1);
  for (int i = 0; i < CVeltrPortMap::kSerialPorts; ++i) {
    auto* path = new QComboBox(page);
    path->setObjectName(QStringLiteral("serialPath%1").arg(i + 1));
    path->setEditable(true);
    path->setInsertPolicy(QComboBox::NoInsert);
    path->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    // Wide enough for a whole stable name of a common adapter.
    path->setMinimumContentsLength(44);
    for (const SerialDeviceInfo& device : devices_) {
      // The stable name survives replugging into another socket; the kernel's name does not.
      const std::string& shown = device.byIdPath.empty() ? device.path : device.byIdPath;
      path->addItem(QString::fromStdString(shown));
      path->setItemData(path->count() - 1, QString::fromStdString(device.path), Qt::ToolTipRole);
    }
    path->setCurrentText(QString::fromStdString(portMap_.PathAt(i)));
    auto* label = new QLabel(QString::fromStdString(CVeltrPortMap::ComName(i)), page);
    label->setBuddy(path);
    auto* driver = new QLabel(page);
    driver->setObjectName(QStringLiteral("serialDriver%1").arg(i + 1));
    paths_[i] = path;
    drivers_[i] = driver;
    // The driver goes under its path: a stable name leaves no room beside it.
    driver->setIndent(path->style()->pixelMetric(QStyle::PM_ComboBoxFrameWidth) + 2);
    QPalette muted = driver->palette();
    muted.setColor(QPalette::WindowText, muted.color(QPalette::PlaceholderText));
    driver->setPalette(muted);
    grid->addWidget(label, 2 * i, 0);
    grid->addWidget(path, 2 * i, 1);
    grid->addWidget(driver, 2 * i + 1, 1);
    connect(path, &QComboBox::currentTextChanged, this, [this, i] { ShowDriverOf(i); });
    ShowDriverOf(i);
  }
  layout->addLayout(grid);
  layout->addStretch(1);
  return page;
}

void CVeltrPreferencesDlg::ShowDriverOf(int index) {
  const std::string text = paths_[index]->currentText().trimmed().toStdString();
  QLabel* label = drivers_[index];
  for (const SerialDeviceInfo& device : devices_) {
    if (text == device.path || (!device.byIdPath.empty() && text == device.byIdPath)) {
      QString shown =
          device.driver.empty() ? tr("unknown driver") : QString::fromStdString(device.driver);
      shown += QStringLiteral(", ") + QFileInfo(QString::fromStdString(device.path)).fileName();
      if (!device.available) {
        shown += tr(" (cannot be opened)");
      }
      label->setText(shown);
      label->setToolTip(QString::fromStdString(device.available ? device.path : device.problem));
      return;
    }
  }
  label->setText(text.empty() ? QString() : tr("not present"));
  label->setToolTip(QString());
}

void CVeltrPreferencesDlg::accept() {
  for (int i = 0; i < CVeltrPortMap::kSerialPorts; ++i) {
    const QString path = paths_[i]->currentText().trimmed();
    if (!path.isEmpty()) {
      portMap_.Set(i, path.toStdString());
    }
  }
  CVeltrSettingsDlg::accept();
}

}  // namespace veltr
