// orbek-updater: the updater's window. Like the product it takes no options of its own but one:
// --factory shows the factory face, every line at once (Qt's own, such as -platform, still
// apply).
#include <QApplication>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "ui/qt/updater_window.h"

namespace {

std::atomic<bool> terminated{false};

void OnTerminate(int) {
  terminated = true;
}

// The process ends at once: workers may still run, and nothing they use is released first.
[[noreturn]] void EndProcess(int status) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(status);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setStyle("Fusion");
  orbek::ui::UseFormFont();
  const QStringList arguments = QApplication::arguments();
  orbek::ui::UpdaterWindow window(EndProcess, arguments.contains("--factory"));
  if (!window.Start())
    EndProcess(0);
  // Told to end (SIGTERM, SIGHUP): the package is removed and an interrupted update says what to
  // do, as when the window closes; nobody is asked.
  std::signal(SIGTERM, OnTerminate);
  std::signal(SIGHUP, OnTerminate);
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&window] {
    if (!terminated)
      return;
    window.Terminate();
    EndProcess(0);
  });
  watch.start(100);
  QApplication::exec();
  window.Destroy();
  EndProcess(0);
}
