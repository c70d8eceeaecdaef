// orbek-updater: the updater's window. Like the product it takes no options of its own (Qt's
// own, such as -platform, still apply).
#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "ui/qt/updater_window.h"

namespace {

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
  orbek::ui::UpdaterWindow window(EndProcess);
  if (!window.Start())
    EndProcess(0);
  QApplication::exec();
  window.Destroy();
  EndProcess(0);
}
