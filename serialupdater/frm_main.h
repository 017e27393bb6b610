// The updater's one window: a menu, three buttons and thirteen status lines over the updater. It
// shows what the updater tells it and asks the user what the updater asks.
#pragma once

#include <QMainWindow>
#include <array>

#include "updater.h"

class QAction;
class QLabel;
class QMenu;
class QPushButton;

// Pixels of the window at 96 dots an inch (15 twips a pixel): 7000 by 6000 twips.
constexpr int kFormWidth = (7000 + 7) / 15;  // rounded to the nearest pixel
constexpr int kFormHeight = (6000 + 7) / 15;

class frmMain : public QMainWindow, public su::IUpdaterView {
 public:
  frmMain();

  // Set once, before the window shows.
  void SetUpdater(su::Updater* updater) { updater_ = updater; }
  // Position and size, then the status lines cleared.
  void FormLoad();

  // su::IUpdaterView
  void ShowLine(int line, const std::string& text) override;
  void ShowCaption(const std::string& caption) override;
  void EnableControls(bool enabled) override;
  su::BoxAnswer Ask(const su::MessageBox& box) override;
  std::optional<std::string> Input(const std::string& title, const std::string& prompt,
                                   const std::string& preset) override;
  void ProcessEvents() override;
  void Quit() override;

  QMenu* mnuFile = nullptr;
  QAction* mnuFileExit = nullptr;
  QMenu* mnuupload = nullptr;
  QAction* mnuuploaderasesettings = nullptr;
  QAction* mnuuploaduploadfirm = nullptr;
  QAction* mnuuploaduploadtext = nullptr;
  QMenu* mnuHelp = nullptr;
  QAction* mnuHelpAbout = nullptr;
  QPushButton* EraseSettings = nullptr;
  QPushButton* UploadFirmware = nullptr;
  QPushButton* UploadText = nullptr;
  std::array<QLabel*, su::kLineCount> Label{};

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  su::Updater* updater_ = nullptr;
  bool quitting_ = false;
};
