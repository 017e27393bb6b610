#pragma once

#include <QObject>
#include <QString>

#include <memory>

#include "app/command_line.h"
#include "app/job_ui.h"
#include "app/veltr_doc.h"
#include "engine/app_settings.h"
#include "engine/jobs.h"
#include "engine/upgrade_engine.h"
#include "package/package_description.h"
#include "transport/port_map.h"

namespace veltr {

class CMainFrame;

// The application of VeltrUpgrade: the settings, the package versions, the one engine, the
// document and the main window. The toolkit's application object is made by main before it; this
// one runs the start-up in the program's order and saves the settings at the end.
class CVeltrApp : public QObject {
  Q_OBJECT

 public:
  // Where the program file and the start-up folder are; main takes them from the system, a test
  // names its own.
  struct Folders {
    QString program;  // VeltrUpgrade.ini is looked for here first
    QString start;    // the folder the program was started in
  };

  CVeltrApp(AppCommandLine commandLine, Folders folders);
  ~CVeltrApp() override;

  // The start-up; false when the main window could not be made.
  bool InitInstance();
  // Saves the settings (and the package folder in use). Runs once; the destructor runs it too.
  void ExitInstance();

  UpgradeEngine& Engine() { return engine_; }
  CVeltrJobs& Jobs() { return jobs_; }
  CVeltrDoc& Doc() { return doc_; }
  CMainFrame* Frame() const { return frame_.get(); }
  AppSettings& Settings() { return settings_; }
  const PackageVersionTable& Package() const { return package_; }
  const CVeltrPortMap& PortMap() const { return portMap_; }
  // The folder the images are read from, and the description that was read (empty: none).
  QString PackageFolder() const { return packageFolder_; }
  QString PackageIniPath() const { return packageIni_; }

  // The package folder: --package, else the start-up folder when a package is there, else the
  // folder remembered from the last run (when it still exists), else the start-up folder.
  static QString ChoosePackageFolder(const QString& given, const QString& start,
                                     const QString& remembered);

 private:
  void LoadPreferences();
  void SavePreferences();
  void LoadPackage();
  void OnPreferences();
  void OnAbout();
  void ShowSelectDialog();

  AppCommandLine commandLine_;
  Folders folders_;
  AppSettings settings_;
  PackageVersionTable package_;
  CVeltrPortMap portMap_;
  QString packageFolder_;
  QString rememberedPackageFolder_;
  QString packageIni_;
  UpgradeEngine engine_;
  CVeltrDoc doc_;
  CVeltrJobUi ui_;
  CVeltrJobs jobs_;
  std::unique_ptr<CMainFrame> frame_;
  bool exited_ = false;
};

}  // namespace veltr
