#include "ui/qt/updater_window.h"

#include <QCloseEvent>
#include <QIcon>

namespace orbek::ui {

CMainFrame::CMainFrame() {
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
  setWindowIcon(QIcon(":/orbek/icon128.ico"));
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  if (confirmClose && !confirmClose())
    event->ignore();
  else
    event->accept();
}

UpdaterWindow::UpdaterWindow(std::function<void(int)> exitProgram)
    : form_(new QtForm(&frame_)), app_(*form_, std::move(exitProgram)) {
  frame_.setCentralWidget(form_);
  form_->onCommand = [this](int commandId) { app_.OnCommand(commandId); };
  frame_.confirmClose = [this] { return app_.ConfirmClose(); };
}

UpdaterWindow::~UpdaterWindow() {
  form_->Detach();
}

bool UpdaterWindow::Start() {
  if (!app_.InitialiseForm())
    return false;
  frame_.show();
  return true;
}

void UpdaterWindow::Destroy() {
  app_.DestroyWindow();
}

void UpdaterWindow::Terminate() {
  app_.DestroyWindow(/*askNothing=*/true);
}

}  // namespace orbek::ui
