#include "frm_main.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace {

// The updater's texts are 8-bit Latin-1 with a carriage return between lines.
QString Shown(const std::string& text) {
  QString shown = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
  shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  return shown;
}

}  // namespace

frmMain::frmMain() {
  setObjectName("frmMain");
  mnuFile = menuBar()->addMenu("File");
  mnuFile->setObjectName("mnuFile");
  mnuFileExit = mnuFile->addAction("Exit");
  mnuFileExit->setObjectName("mnuFileExit");
  mnuupload = menuBar()->addMenu("Upload");
  mnuupload->setObjectName("mnuupload");
  mnuuploaderasesettings = mnuupload->addAction("Erase all Settings");
  mnuuploaderasesettings->setObjectName("mnuuploaderasesettings");
  mnuuploaduploadfirm = mnuupload->addAction("Upload Firmware");
  mnuuploaduploadfirm->setObjectName("mnuuploaduploadfirm");
  mnuuploaduploadtext = mnuupload->addAction("Upload User Text");
  mnuuploaduploadtext->setObjectName("mnuuploaduploadtext");
  mnuHelp = menuBar()->addMenu("Help");
  mnuHelp->setObjectName("mnuHelp");
  mnuHelpAbout = mnuHelp->addAction("About");
  mnuHelpAbout->setObjectName("mnuHelpAbout");

  auto* central = new QWidget(this);
  auto* layout = new QVBoxLayout(central);
  layout->setSpacing(2);
  layout->setContentsMargins(8, 6, 8, 8);
  for (int i = 0; i < su::kLineCount; ++i) {
    auto* label = new QLabel(central);
    label->setObjectName(QString("Label%1").arg(i + 1));
    label->setTextFormat(Qt::PlainText);
    label->setMinimumWidth(1);  // long lines are cut at the window's edge, not widen it
    Label[static_cast<std::size_t>(i)] = label;
    layout->addWidget(label);
  }
  layout->addStretch(1);
  auto* buttons = new QHBoxLayout;
  EraseSettings = new QPushButton("Erase all Settings", central);
  EraseSettings->setObjectName("EraseSettings");
  UploadFirmware = new QPushButton("Upload Firmware", central);
  UploadFirmware->setObjectName("UploadFirmware");
  UploadText = new QPushButton("Upload User Text", central);
  UploadText->setObjectName("UploadText");
  for (QPushButton* button : {EraseSettings, UploadFirmware, UploadText}) {
    button->setAutoDefault(false);
    buttons->addWidget(button);
  }
  layout->addLayout(buttons);
  setCentralWidget(central);

  // A button runs exactly the handler of its menu item.
  connect(mnuFileExit, &QAction::triggered, this, [this] { updater_->FormUnload(); });
  connect(mnuuploaderasesettings, &QAction::triggered, this,
          [this] { updater_->EraseSettingsJob(); });
  connect(mnuuploaduploadfirm, &QAction::triggered, this,
          [this] { updater_->UploadFirmwareJob(); });
  connect(mnuuploaduploadtext, &QAction::triggered, this, [this] { updater_->UploadTextJob(); });
  connect(mnuHelpAbout, &QAction::triggered, this, [this] { updater_->About(); });
  connect(EraseSettings, &QPushButton::clicked, mnuuploaderasesettings, &QAction::trigger);
  connect(UploadFirmware, &QPushButton::clicked, mnuuploaduploadfirm, &QAction::trigger);
  connect(UploadText, &QPushButton::clicked, mnuuploaduploadtext, &QAction::trigger);
}

void frmMain::FormLoad() {
  move(100, 100);
  resize(kFormWidth, kFormHeight);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - rect().center());
  }
  if (updater_ != nullptr) {
    updater_->FormLoad();
  }
}

void frmMain::ShowLine(int line, const std::string& text) {
  Label.at(static_cast<std::size_t>(line - 1))->setText(Shown(text));
}

void frmMain::ShowCaption(const std::string& caption) {
  setWindowTitle(Shown(caption));
}

void frmMain::EnableControls(bool enabled) {
  for (QMenu* menu : {mnuFile, mnuupload, mnuHelp}) {
    menu->menuAction()->setEnabled(enabled);
  }
  for (QPushButton* button : {UploadFirmware, UploadText, EraseSettings}) {
    button->setEnabled(enabled);
  }
}

su::BoxAnswer frmMain::Ask(const su::MessageBox& box) {
  QMessageBox message(this);
  message.setWindowTitle(Shown(box.title));
  message.setText(Shown(box.text));
  message.setTextFormat(Qt::PlainText);
  switch (box.icon) {
    case su::BoxIcon::kNone:
      message.setIcon(QMessageBox::NoIcon);
      break;
    case su::BoxIcon::kQuestion:
      message.setIcon(QMessageBox::Question);
      break;
    case su::BoxIcon::kCritical:
      message.setIcon(QMessageBox::Critical);
      break;
  }
  std::vector<QMessageBox::StandardButton> order;
  switch (box.buttons) {
    case su::BoxButtons::kOk:
      order = {QMessageBox::Ok};
      break;
    case su::BoxButtons::kOkCancel:
      order = {QMessageBox::Ok, QMessageBox::Cancel};
      break;
    case su::BoxButtons::kYesNoCancel:
      order = {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel};
      break;
  }
  QMessageBox::StandardButtons buttons;
  for (auto button : order) {
    buttons |= button;
  }
  message.setStandardButtons(buttons);
  const std::size_t index = static_cast<std::size_t>(box.defaultButton - 1);
  if (index < order.size()) {
    message.setDefaultButton(order[index]);
  }
  // Closing the box by its title bar or Escape answers Cancel where there is one.
  message.setEscapeButton(order.back());
  switch (message.exec()) {
    case QMessageBox::Yes:
      return su::BoxAnswer::kYes;
    case QMessageBox::No:
      return su::BoxAnswer::kNo;
    case QMessageBox::Cancel:
      return su::BoxAnswer::kCancel;
    default:
      return su::BoxAnswer::kOk;
  }
}

std::optional<std::string> frmMain::Input(const std::string& title, const std::string& prompt,
                                          const std::string& preset) {
  QInputDialog dialog(this);
  dialog.setObjectName("InputBox");
  dialog.setWindowTitle(Shown(title));
  dialog.setLabelText(Shown(prompt));
  dialog.setTextValue(Shown(preset));
  dialog.setInputMode(QInputDialog::TextInput);
  if (dialog.exec() != QDialog::Accepted) {
    return std::nullopt;
  }
  // The device keeps 8-bit texts; a character outside Latin-1 is stored as "?".
  const QByteArray narrow = dialog.textValue().toLatin1();
  return std::string(narrow.constData(), static_cast<std::size_t>(narrow.size()));
}

void frmMain::ProcessEvents() {
  QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// The program ends with its last window.
void frmMain::Quit() {
  quitting_ = true;
  close();
}

void frmMain::closeEvent(QCloseEvent* event) {
  // A search or upload runs on this thread between events: closing now would cut it off and
  // leave a device half written. The close is refused until it has ended.
  if (updater_ != nullptr && updater_->Busy() && !quitting_) {
    event->ignore();
    return;
  }
  if (!quitting_ && updater_ != nullptr) {
    quitting_ = true;
    updater_->ProgModeExit();
  }
  event->accept();
}
