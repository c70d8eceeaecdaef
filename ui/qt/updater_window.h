// The updater as a desktop window: the frame (title, icon, no menu, no sizing border), the form
// in it, and the program that drives them. The close button, Alt+F4 and a close request from a
// worker all pass through the close question.
#pragma once

#include <QMainWindow>
#include <QTimer>
#include <functional>
#include <memory>

#include "app/varnel_app.h"
#include "ui/qt/qt_form.h"

namespace orbek::ui {

class CMainFrame final : public QMainWindow {
 public:
  CMainFrame();
  // Asked on every close request: true lets the frame close.
  std::function<bool()> confirmClose;

 protected:
  void closeEvent(QCloseEvent* event) override;
};

class UpdaterWindow {
 public:
  // `exitProgram` ends the process with a status (the program's own ends; tests record them).
  // With `severalLines` the window is the factory face: every line at once.
  explicit UpdaterWindow(std::function<void(int status)> exitProgram, bool severalLines = false);
  // The threads end before the form: their last calls are run or dropped first.
  ~UpdaterWindow();

  // The form's initialisation, then the frame shown. False when the process is to end (the
  // exit function has been called then).
  bool Start();
  // After the frame has closed: the window's end (the package removed).
  void Destroy();
  // Told to end from outside: the same end, without asking anyone.
  void Terminate();

  CMainFrame& frame() { return frame_; }
  QtForm& form() { return *form_; }
  CVarnelApp& app() { return app_; }

 private:
  void OnCommand(int commandId);

  CMainFrame frame_;
  QtForm* form_;  // owned by the frame
  CVarnelApp app_;
  // Starts the lines whose stick becomes ready soon after start-all.
  QTimer startAllTimer_;
};

}  // namespace orbek::ui
