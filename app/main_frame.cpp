#include "app/main_frame.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QMenuBar>
#include <QPainter>
#include <QSettings>
#include <QStatusBar>

#include <utility>

#include "app/message_box.h"
#include "app/toolbar_images.h"
#include "app/veltr_doc.h"
#include "app/veltr_view.h"
#include "engine/jobs.h"
#include "engine/upgrade_engine.h"

namespace veltr {
namespace {

constexpr const char* kBarStateKey = "BarState/State";
constexpr const char* kBarGeometryKey = "BarState/Geometry";
constexpr const char* kStatusBarKey = "BarState/StatusBar";
constexpr int kLockPollMs = 500;
constexpr int kPackageFolderWidth = 200;

const char* StepName(UploadStep step) {
  switch (step) {
    case UploadStep::Logic:
      return "Logic and DSP";
    case UploadStep::Processor:
      return "Processor and HI";
    case UploadStep::Bios:
      return "BIOS";
    case UploadStep::UpgradeCode:
      return "Upgrade code";
    case UploadStep::None:
      break;
  }
  return "";
}

// The keyboard's lock lights as the kernel keeps them (input LEDs under /sys/class/leds); false
// where the system shows none.
bool LockLightOn(const QString& lock) {
  const QDir leds(QStringLiteral("/sys/class/leds"));
  const QStringList names =
      leds.entryList({QStringLiteral("*::") + lock}, QDir::Dirs | QDir::System);
  for (const QString& name : names) {
    QFile brightness(leds.filePath(name + QStringLiteral("/brightness")));
    if (brightness.open(QIODevice::ReadOnly) && brightness.readAll().trimmed() != "0") {
      return true;
    }
  }
  return false;
}

}  // namespace

QString CaptionFor(const QString& title) {
  const QString frame = QString::fromLatin1(kFrameTitle);
  return title.isEmpty() ? frame : frame + QStringLiteral(" - ") + title;
}

CVeltrToolBar::CVeltrToolBar(const QString& title, QWidget* parent) : QToolBar(title, parent) {}

void CVeltrToolBar::paintEvent(QPaintEvent* event) {
  {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Button));
  }
  QToolBar::paintEvent(event);
}

CMainFrame::CMainFrame(UpgradeEngine& engine, CVeltrJobs& jobs, CVeltrDoc& doc, QWidget* parent)
    : QMainWindow(parent), engine_(engine), jobs_(jobs), doc_(doc) {
  setObjectName(QStringLiteral("MainFrame"));
  // The caption is only ever the display's title (the document has no name to show).
  setWindowTitle(CaptionFor({}));
  setWindowIcon(QIcon(MakeAppIconPixmap(64)));
  view_ = new CVeltrView(this);
  view_->SetDocument(&doc_);
  setCentralWidget(view_);
  CreateActions();
  CreateMenus();
  CreateToolBar();
  CreateStatusBar();

  // Large enough for the whole panel without scroll bars, until the saved state says otherwise.
  const QSize panel = view_->sizeHint();
  resize(panel.width(), menuBar()->sizeHint().height() + toolBar_->sizeHint().height() +
                            panel.height() + statusBar()->sizeHint().height());

  connect(&doc_, &CVeltrDoc::DisplayUpdated, view_, &CVeltrView::OnUpdate);
  connect(&doc_, &CVeltrDoc::TitleChanged, this, &CMainFrame::OnTitleChanged);
  connect(&doc_, &CVeltrDoc::ProgressChanged, this, &CMainFrame::OnProgressChanged);
  connect(&doc_, &CVeltrDoc::JobFinished, this, &CMainFrame::OnJobFinished);
  UpdateCommands();
}

QAction* CMainFrame::Action(int command) const {
  const auto found = actions_.find(command);
  return found == actions_.end() ? nullptr : found->second;
}

QAction* CMainFrame::AddCommand(int command, const QString& text, const QString& prompt) {
  auto* action = new QAction(text, this);
  action->setObjectName(QStringLiteral("command%1").arg(command));
  action->setData(command);
  // The prompt is the status bar's text before the line break and the tool tip after it.
  const QStringList parts = prompt.split(QLatin1Char('\n'));
  action->setStatusTip(parts.value(0));
  if (parts.size() > 1) {
    action->setToolTip(parts.value(1));
  }
  actions_[command] = action;
  return action;
}

void CMainFrame::CreateActions() {
  AddCommand(kCmdPreferences, tr("&Preferences..."),
             tr("Set application preferences\nPreferences"));
  AddCommand(kCmdExit, tr("E&xit"), tr("Quit the application\nExit"));
  AddCommand(kCmdEnterUpgradeMode, tr("Enter &Upgrade Mode"),
             tr("Connect to device and enter upgrade mode\nEnter upgrade mode"));
  AddCommand(kCmdEraseSettings, tr("&Erase All Settings"),
             tr("Erase all device settings\nErase settings"));
  AddCommand(kCmdUploadFirmware, tr("Upload &Firmware"),
             tr("Upload firmware to device\nUpload firmware"));
  AddCommand(kCmdUploadUserText, tr("Upload User &Text..."),
             tr("Upload user text to device\nUpload user text"));
  AddCommand(kCmdHelpTopics, tr("&Help Topics"), tr("List Help topics\nHelp Topics"));
  AddCommand(kCmdAbout, tr("&About Veltrano Upgrade..."),
             tr("Display program information, version number and copyright\nAbout"));

  Action(kCmdEnterUpgradeMode)->setCheckable(true);
  Action(kCmdEnterUpgradeMode)->setShortcut(QKeySequence(Qt::Key_F2));
  Action(kCmdEraseSettings)->setShortcut(QKeySequence(Qt::Key_F3));
  Action(kCmdUploadFirmware)->setShortcut(QKeySequence(Qt::Key_F4));
  Action(kCmdUploadUserText)->setShortcut(QKeySequence(Qt::Key_F5));
  Action(kCmdHelpTopics)->setShortcut(QKeySequence(Qt::Key_F1));
  Action(kCmdEnterUpgradeMode)->setIcon(MakeToolIcon(ToolImage::EnterUpgradeMode));
  Action(kCmdEraseSettings)->setIcon(MakeToolIcon(ToolImage::EraseSettings));
  Action(kCmdUploadFirmware)->setIcon(MakeToolIcon(ToolImage::UploadFirmware));
  Action(kCmdUploadUserText)->setIcon(MakeToolIcon(ToolImage::UploadUserText));
  Action(kCmdPreferences)->setIcon(MakeToolIcon(ToolImage::Preferences));
  for (auto& [command, action] : actions_) {
    // The menu shows the captions as they are; the icons belong to the tool bar.
    action->setIconVisibleInMenu(false);
    addAction(action);  // the accelerators work wherever the focus is in the window
  }

  connect(Action(kCmdEnterUpgradeMode), &QAction::triggered, this, &CMainFrame::OnEnterUpgradeMode);
  connect(Action(kCmdEraseSettings), &QAction::triggered, this, &CMainFrame::OnEraseSettings);
  connect(Action(kCmdUploadFirmware), &QAction::triggered, this, &CMainFrame::OnUploadFirmware);
  connect(Action(kCmdUploadUserText), &QAction::triggered, this, &CMainFrame::OnUploadUserText);
  connect(Action(kCmdPreferences), &QAction::triggered, this, &CMainFrame::PreferencesRequested);
  connect(Action(kCmdAbout), &QAction::triggered, this, &CMainFrame::AboutRequested);
  connect(Action(kCmdHelpTopics), &QAction::triggered, this, &CMainFrame::OnHelpTopics);
  connect(Action(kCmdExit), &QAction::triggered, this, &QWidget::close);
}

void CMainFrame::CreateMenus() {
  QMenu* file = menuBar()->addMenu(tr("&File"));
  file->addAction(Action(kCmdPreferences));
  file->addSeparator();
  file->addAction(Action(kCmdExit));

  QMenu* viewMenu = menuBar()->addMenu(tr("&View"));
  viewMenu->setObjectName(QStringLiteral("ViewMenu"));

  QMenu* upgrade = menuBar()->addMenu(tr("&Upgrade"));
  upgrade->addAction(Action(kCmdEnterUpgradeMode));
  upgrade->addSeparator();
  upgrade->addAction(Action(kCmdEraseSettings));
  upgrade->addAction(Action(kCmdUploadFirmware));
  upgrade->addAction(Action(kCmdUploadUserText));
  // The rules are looked at again whenever the menu opens, as the frame's idle update would.
  connect(upgrade, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommands);
  connect(file, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommands);

  QMenu* help = menuBar()->addMenu(tr("&Help"));
  help->addAction(Action(kCmdHelpTopics));
  help->addSeparator();
  help->addAction(Action(kCmdAbout));
}

void CMainFrame::CreateToolBar() {
  toolBar_ = new CVeltrToolBar(tr("Upgrade"), this);
  toolBar_->setObjectName(QStringLiteral("ToolBar128"));
  toolBar_->setIconSize(QSize(kToolImageWidth, kToolImageHeight));
  toolBar_->setToolButtonStyle(Qt::ToolButtonIconOnly);
  toolBar_->setMovable(true);
  toolBar_->setFloatable(true);
  toolBar_->setAllowedAreas(Qt::AllToolBarAreas);
  toolBar_->addAction(Action(kCmdEnterUpgradeMode));
  toolBar_->addSeparator();
  toolBar_->addAction(Action(kCmdEraseSettings));
  toolBar_->addAction(Action(kCmdUploadFirmware));
  toolBar_->addAction(Action(kCmdUploadUserText));
  toolBar_->addSeparator();
  toolBar_->addAction(Action(kCmdPreferences));
  addToolBar(Qt::TopToolBarArea, toolBar_);

  QMenu* viewMenu = menuBar()->findChild<QMenu*>(QStringLiteral("ViewMenu"));
  QAction* toolBarToggle = toolBar_->toggleViewAction();
  toolBarToggle->setText(tr("&Toolbar"));
  toolBarToggle->setStatusTip(tr("Show or hide the toolbar"));
  viewMenu->addAction(toolBarToggle);
  statusBarToggle_ = viewMenu->addAction(tr("&Status Bar"));
  statusBarToggle_->setCheckable(true);
  statusBarToggle_->setChecked(true);
  statusBarToggle_->setStatusTip(tr("Show or hide the status bar"));
  connect(statusBarToggle_, &QAction::toggled, this,
          [this](bool on) { statusBar()->setVisible(on); });
}

void CMainFrame::CreateStatusBar() {
  QStatusBar* bar = statusBar();
  bar->setObjectName(QStringLiteral("StatusBar"));
  portReason_ = new QLabel(bar);
  portReason_->setObjectName(QStringLiteral("PortReason"));
  portReason_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  portReason_->hide();
  bar->addPermanentWidget(portReason_);
  progress_ = new QProgressBar(bar);
  progress_->setObjectName(QStringLiteral("UploadProgress"));
  // Room for the longest text, "Processor and HI: 1009 of 1009", in the bar itself.
  progress_->setFixedWidth(
      progress_->fontMetrics().horizontalAdvance(QStringLiteral("Processor and HI 8888/8888")) +
      24);
  progress_->setTextVisible(true);
  progress_->hide();
  bar->addPermanentWidget(progress_);
  packageFolder_ = new QLabel(bar);
  packageFolder_->setObjectName(QStringLiteral("PackageFolder"));
  bar->addPermanentWidget(packageFolder_);

  // The caps lock, num lock and scroll lock indicators.
  capsLock_ = new QLabel(bar);
  numLock_ = new QLabel(bar);
  scrollLock_ = new QLabel(bar);
  capsLock_->setText(QStringLiteral("CAP"));
  numLock_->setText(QStringLiteral("NUM"));
  scrollLock_->setText(QStringLiteral("SCRL"));
  for (QLabel* label : {capsLock_, numLock_, scrollLock_}) {
    label->setFrameShape(QFrame::Panel);
    label->setFrameShadow(QFrame::Sunken);
    label->setAlignment(Qt::AlignCenter);
    label->setMinimumWidth(label->fontMetrics().horizontalAdvance(QStringLiteral("SCRL")) + 8);
    bar->addPermanentWidget(label);
  }
  bar->showMessage(tr("Ready"));
  connect(&lockTimer_, &QTimer::timeout, this, &CMainFrame::ShowLockIndicators);
  lockTimer_.start(kLockPollMs);
  ShowLockIndicators();
}

void CMainFrame::ShowLockIndicators() {
  // The indicator names stay in place; a lock that is off shows its name greyed.
  const std::pair<QLabel*, const char*> locks[] = {
      {capsLock_, "capslock"}, {numLock_, "numlock"}, {scrollLock_, "scrolllock"}};
  for (const auto& [label, lock] : locks) {
    label->setEnabled(LockLightOn(QLatin1String(lock)));
  }
}

void CMainFrame::UpdateCommands() {
  const bool busy = engine_.IsBusy();
  const bool connected = engine_.IsConnected();
  Action(kCmdEnterUpgradeMode)->setEnabled(!busy);
  Action(kCmdEnterUpgradeMode)->setChecked(connected);
  for (int command : {kCmdEraseSettings, kCmdUploadFirmware, kCmdUploadUserText}) {
    Action(command)->setEnabled(!busy && connected);
  }
  Action(kCmdExit)->setEnabled(!busy);
}

void CMainFrame::SetPackageFolder(const QString& folder) {
  // Long paths keep their ends, where the package's own folder name is.
  const QString text = tr("Package: %1").arg(QDir::toNativeSeparators(folder));
  packageFolder_->setText(
      packageFolder_->fontMetrics().elidedText(text, Qt::ElideMiddle, kPackageFolderWidth));
  packageFolder_->setToolTip(tr("The firmware images are read from %1").arg(folder));
}

void CMainFrame::SetPortReason(const QString& reason) {
  portReason_->setText(reason);
  portReason_->setToolTip(reason);
  portReason_->setVisible(!reason.isEmpty());
}

void CMainFrame::OnEnterUpgradeMode() {
  // The action's own check toggling is not the rule: the connected state is.
  jobs_.OnEnterUpgradeMode();
  UpdateCommands();
}

void CMainFrame::OnEraseSettings() {
  jobs_.OnEraseSettings();
  UpdateCommands();
}

void CMainFrame::OnUploadFirmware() {
  jobs_.OnUploadFirmware();
  UpdateCommands();
}

void CMainFrame::OnUploadUserText() {
  jobs_.OnUploadUserText();
  UpdateCommands();
}

void CMainFrame::OnJobFinished() {
  // Read before the end handler may start the next job: the worker has ended.
  QStringList reasons;
  for (const auto& detail : engine_.connectionDetails) {
    reasons << QString::fromStdString(detail);
  }
  SetPortReason(reasons.join(QStringLiteral("; ")));
  UpdateCommands();
  inEndHandler_ = true;
  jobs_.OnJobFinished();
  inEndHandler_ = false;
  UpdateCommands();
  ContinueQuit();
}

void CMainFrame::RequestQuit() {
  quitPending_ = true;
  if (WorkerRuns()) {
    // No box here: nobody may be at the screen. The job goes on; the window closes after it.
    statusBar()->showMessage(tr("Please, wait for upload completion."));
    return;
  }
  ContinueQuit();
}

bool CMainFrame::WorkerRuns() const {
  // Busy inside the end handler means a dialog of the handler is waiting, not a device.
  return engine_.IsBusy() && !inEndHandler_;
}

void CMainFrame::ContinueQuit() {
  if (!quitPending_ || WorkerRuns()) {
    return;  // the job end calls again
  }
  // A dialog waiting for an answer is cancelled first; what its caller does then (even a job that
  // takes the device out of upgrade mode) runs before the window goes.
  if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
    dialog->reject();
    QTimer::singleShot(0, this, &CMainFrame::ContinueQuit);
    return;
  }
  if (!engine_.IsBusy()) {
    close();
  }
}

void CMainFrame::OnTitleChanged(const QString& title) {
  setWindowTitle(CaptionFor(title));
}

void CMainFrame::OnProgressChanged(const UploadProgress& progress) {
  if (!progress.Any() || progress.ended || progress.blocks == 0) {
    progress_->hide();
    return;
  }
  progress_->setRange(0, static_cast<int>(progress.blocks));
  progress_->setValue(static_cast<int>(progress.block));
  progress_->setFormat(QStringLiteral("%1 %v/%m").arg(QLatin1String(StepName(progress.step))));
  progress_->show();
}

void CMainFrame::OnHelpTopics() {
  ShowMessageBox(this,
                 tr("Connect the device, pick its type in File > Preferences and press F2 to "
                    "connect.\nF4 uploads the firmware of the package folder shown in the status "
                    "bar, F5 the user text, F3 erases the device's settings.\n\nStart the program "
                    "with --package DIR to use another package folder; --help lists the options."),
                 QMessageBox::Information);
}

bool CMainFrame::AllowSessionEnd() {
  if (!engine_.IsBusy()) {
    return true;
  }
  ShowMessageBox(this, tr("Please, wait for upload completion before PC shutdown."),
                 QMessageBox::Warning);
  // The job may have ended while the message was open.
  return !engine_.IsBusy();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  if (engine_.IsBusy()) {
    ShowMessageBox(this, tr("Please, wait for upload completion."), QMessageBox::Warning);
    event->ignore();
    return;
  }
  SaveBarState();
  event->accept();
}

void CMainFrame::SaveBarState() {
  QSettings settings;
  settings.setValue(QLatin1String(kBarStateKey), saveState());
  settings.setValue(QLatin1String(kBarGeometryKey), saveGeometry());
  settings.setValue(QLatin1String(kStatusBarKey), !statusBar()->isHidden());
}

void CMainFrame::RestoreBarState() {
  QSettings settings;
  restoreGeometry(settings.value(QLatin1String(kBarGeometryKey)).toByteArray());
  restoreState(settings.value(QLatin1String(kBarStateKey)).toByteArray());
  const bool statusBarShown = settings.value(QLatin1String(kStatusBarKey), true).toBool();
  statusBarToggle_->setChecked(statusBarShown);
  statusBar()->setVisible(statusBarShown);
}

}  // namespace veltr
