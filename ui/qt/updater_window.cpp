#include "ui/qt/updater_window.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QIcon>

#include "line/control_ids.h"
#include "line/form_texts.h"

namespace orbek::ui {
namespace {

constexpr int kStartAllCheckMs = 200;

}  // namespace

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

UpdaterWindow::UpdaterWindow(std::function<void(int)> exitProgram, bool severalLines)
    : form_(new QtForm(&frame_, severalLines)), app_(*form_, std::move(exitProgram)) {
  app_.doc().severalLines = severalLines;
  frame_.setCentralWidget(form_);
  form_->onCommand = [this](int commandId) { OnCommand(commandId); };
  form_->onLineOperation = [this](int line, int operation) {
    app_.SetLineOperation(line, operation);
  };
  frame_.confirmClose = [this] { return app_.ConfirmClose(); };
  if (severalLines) {
    QObject::connect(&startAllTimer_, &QTimer::timeout, [this] { app_.StartLinesBecomingReady(); });
    startAllTimer_.start(kStartAllCheckMs);
  }
}

// The factory tool's two choices open their dialogs here; every other command is the program's.
void UpdaterWindow::OnCommand(int commandId) {
  if (commandId == control::kChooseNvDirectory) {
    const QString chosen =
        QFileDialog::getExistingDirectory(&frame_, QString::fromUtf8(kNvDirectoryDialogTitle),
                                          QString::fromStdString(app_.doc().lines[0].nvDirectory));
    app_.view().ChooseNvDirectory(chosen.isEmpty() ? std::nullopt
                                                   : std::optional(chosen.toStdString()));
  } else if (commandId == control::kChooseDefaultNvFile) {
    const QString chosen = QFileDialog::getOpenFileName(
        &frame_, QString(), QString(), "NVM Files (*.NVM *.nvm)", nullptr, QFileDialog::ReadOnly);
    app_.view().ChooseDefaultNvFile(chosen.isEmpty() ? std::nullopt
                                                     : std::optional(chosen.toStdString()));
  } else {
    app_.OnCommand(commandId);
  }
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
