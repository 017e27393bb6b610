#include "app/veltr_app.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSessionManager>
#include <QSettings>

#include "app/main_frame.h"
#include "transport/system_ports.h"

namespace veltr {
namespace {

constexpr const char* kOrganisation = "VELTRANO";
constexpr const char* kApplication = "Upgrade";

bool HoldsPackage(const QString& folder) {
  const QDir dir(folder);
  if (dir.exists(QLatin1String(kPackageIniName)) || dir.exists(QLatin1String(kBuildTextName))) {
    return true;
  }
  return !dir.entryList({QStringLiteral("*.sop"), QStringLiteral("*.bin")}, QDir::Files).isEmpty();
}

}  // namespace

CVeltrApp::CVeltrApp(AppCommandLine commandLine, Folders folders)
    : commandLine_(std::move(commandLine)),
      folders_(std::move(folders)),
      engine_(MakeSystemPorts(portMap_)),
      ui_(engine_),
      jobs_(engine_, ui_) {}

CVeltrApp::~CVeltrApp() {
  ExitInstance();
  // The window goes before the document it shows; the engine (last) takes a device still in
  // program mode out of it.
  frame_.reset();
  doc_.Detach();
}

QString CVeltrApp::ChoosePackageFolder(const QString& given, const QString& start,
                                       const QString& remembered) {
  if (!given.isEmpty()) {
    return QFileInfo(given).absoluteFilePath();
  }
  if (HoldsPackage(start) || remembered.isEmpty() || !QFileInfo(remembered).isDir()) {
    return start;
  }
  return remembered;
}

bool CVeltrApp::InitInstance() {
  // Settings live under VELTRANO/Upgrade; "Upgrade" is every message box's caption.
  QCoreApplication::setOrganizationName(QLatin1String(kOrganisation));
  QCoreApplication::setApplicationName(QLatin1String(kApplication));

  frame_ = std::make_unique<CMainFrame>(engine_, jobs_, doc_);
  ui_.SetParent(frame_.get());
  ApplyUploadFlags(commandLine_, settings_);
  connect(frame_.get(), &CMainFrame::PreferencesRequested, this, &CVeltrApp::OnPreferences);
  connect(frame_.get(), &CMainFrame::AboutRequested, this, &CVeltrApp::OnAbout);
  if (auto* gui = qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
    connect(gui, &QGuiApplication::commitDataRequest, this, [this](QSessionManager& manager) {
      if (frame_ != nullptr && !frame_->AllowSessionEnd()) {
        manager.cancel();
      }
    });
  }

  LoadPreferences();
  LoadPackage();
  frame_->RestoreBarState();
  frame_->SetPackageFolder(packageFolder_);
  frame_->show();
  frame_->repaint();

  doc_.Attach(engine_);
  engine_.SetSettings(&settings_);
  engine_.SetPackage(&package_);
  engine_.SetWorkingFolder(packageFolder_.toStdString());

  if (settings_.selectDialog != 0) {
    ShowSelectDialog();
  }
  frame_->UpdateCommands();
  frame_->Action(kCmdEnterUpgradeMode)->trigger();
  return true;
}

void CVeltrApp::LoadPackage() {
  packageFolder_ = ChoosePackageFolder(QString::fromStdString(commandLine_.packageFolder),
                                       folders_.start, rememberedPackageFolder_);
  // Beside the program first, as the package was always installed; then in the package folder.
  for (const QString& folder : {folders_.program, packageFolder_}) {
    const QString path = QDir(folder).filePath(QLatin1String(kPackageIniName));
    if (!folder.isEmpty() && QFileInfo(path).isFile()) {
      LoadPackageDescription(path.toStdString(), package_);
      packageIni_ = path;
      return;
    }
  }
}

void CVeltrApp::ExitInstance() {
  if (exited_ || frame_ == nullptr) {
    return;
  }
  exited_ = true;
  SavePreferences();
}

}  // namespace veltr
