#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QString>
#include <QTimer>
#include <QToolBar>

#include <map>

#include "engine/display.h"

namespace veltr {

class CVeltrDoc;
class CVeltrJobs;
class CVeltrView;
class UpgradeEngine;

// The command numbers of the menu, the tool bar and the accelerators.
enum CommandId : int {
  kCmdPreferences = 32771,
  kCmdEraseSettings = 32772,
  kCmdUploadFirmware = 32773,
  kCmdUploadUserText = 32774,
  kCmdEnterUpgradeMode = 32775,
  kCmdExit = 57665,
  kCmdAbout = 57664,
  kCmdHelpTopics = 57667,
};

inline constexpr const char* kFrameTitle = "Veltrano Upgrade";

// "Veltrano Upgrade", or "Veltrano Upgrade - " and the title the engine set.
QString CaptionFor(const QString& title);

// The tool bar: only its background differs, the button face colour over its whole rectangle.
class CVeltrToolBar : public QToolBar {
  Q_OBJECT

 public:
  explicit CVeltrToolBar(const QString& title, QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

// The main window: menu, tool bar, status bar and the view of the display. Its commands start the
// jobs of the engine; the document's notices update the view and run the job end handler.
class CMainFrame : public QMainWindow {
  Q_OBJECT

 public:
  CMainFrame(UpgradeEngine& engine, CVeltrJobs& jobs, CVeltrDoc& doc, QWidget* parent = nullptr);

  QAction* Action(int command) const;
  CVeltrView* View() const { return view_; }
  CVeltrToolBar* ToolBar() const { return toolBar_; }
  QProgressBar* Progress() const { return progress_; }

  // The enable and check rules of the command table, from the engine's busy and connected state.
  void UpdateCommands();
  // The folder the images are read from, shown in the status bar.
  void SetPackageFolder(const QString& folder);
  // What the system said when a port would not open; empty hides it.
  void SetPortReason(const QString& reason);
  QString PortReason() const { return portReason_->text(); }
  QString PackageFolderText() const { return packageFolder_->text(); }

  // A session that ends (log-out, shutdown) while a job runs is asked to wait; false refuses it.
  bool AllowSessionEnd();
  // A request to end the program from outside the window (a signal): the window closes now, or
  // when no job runs any more.
  void RequestQuit();
  bool QuitPending() const { return quitPending_; }

  void SaveBarState();
  void RestoreBarState();

 signals:
  void PreferencesRequested();
  void AboutRequested();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QAction* AddCommand(int command, const QString& text, const QString& prompt);
  void CreateActions();
  void CreateMenus();
  void CreateToolBar();
  void CreateStatusBar();
  void ShowLockIndicators();

  void OnEnterUpgradeMode();
  void OnEraseSettings();
  void OnUploadFirmware();
  void OnUploadUserText();
  void OnJobFinished();
  void OnTitleChanged(const QString& title);
  void OnProgressChanged(const UploadProgress& progress);
  void OnHelpTopics();
  void ContinueQuit();
  bool WorkerRuns() const;

  UpgradeEngine& engine_;
  CVeltrJobs& jobs_;
  CVeltrDoc& doc_;
  CVeltrView* view_ = nullptr;
  CVeltrToolBar* toolBar_ = nullptr;
  std::map<int, QAction*> actions_;
  QAction* statusBarToggle_ = nullptr;
  QLabel* portReason_ = nullptr;
  QLabel* packageFolder_ = nullptr;
  QProgressBar* progress_ = nullptr;
  QLabel* capsLock_ = nullptr;
  QLabel* numLock_ = nullptr;
  QLabel* scrollLock_ = nullptr;
  QTimer lockTimer_;
  bool quitPending_ = false;
  bool inEndHandler_ = false;
};

}  // namespace veltr
