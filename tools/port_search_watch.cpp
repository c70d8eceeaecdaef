// orbek-port-search: runs the updater's port search for a while and prints every change it makes
// to the form, one line each ("1166 COM5"), as the window would show them.
//   orbek-port-search [seconds]     (default 5; ORBEK_ROOT and ORBEK_TIME_SCALE are honoured)
#include <cstdio>
#include <cstdlib>
#include <mutex>

#include "app/varnel_view.h"
#include "line/form_texts.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/language.h"
#include "update/port_search.h"

namespace {

using namespace orbek;

// A form that prints what it is told; message boxes are printed and answered OK.
class PrintingForm final : public Form {
 public:
  void SetText(int id, const std::string& text) override { Print("%d %s", id, text.c_str()); }
  void Enable(int id, bool on) override { Print("%d %s", id, on ? "enabled" : "disabled"); }
  void SetProgressRange(int, int, int) override {}
  void SetProgressPosition(int id, int position) override { Print("%d at %d", id, position); }
  bool SetPicture(int id, int bitmap) override {
    Print("%d picture %d", id, bitmap);
    return true;
  }
  int MessageBox(const std::string& text, const std::string& caption, uint32_t) override {
    Print("box [%s] %s", caption.c_str(), text.c_str());
    return box::kAnswerOk;
  }
  void Invalidate() override {}
  void RequestClose() override { Print("%s", "close requested"); }
  void SetFrameTitle(const std::string& title) override { Print("title %s", title.c_str()); }
  void FitFrameToForm() override {}

 private:
  template <typename... Args>
  void Print(const char* format, Args... args) {
    std::lock_guard<std::mutex> hold(mutex_);
    std::printf("%6llu ms  ", static_cast<unsigned long long>(platform::TickCountMs() - start_));
    std::printf(format, args...);
    std::printf("\n");
    std::fflush(stdout);
  }

  std::mutex mutex_;
  uint64_t start_ = platform::TickCountMs();
};

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 5.0;
  PrintingForm form;
  CVarnelDoc doc;
  CVarnelView view(form, doc, UseGermanFor(platform::SystemDefaultLanguageId()),
                   LogDirectory(platform::CurrentDirectory()));
  StartSearchThread(view.Handle(0));
  platform::detail::RealSleepMicroseconds(static_cast<uint64_t>(seconds * 1e6));
  doc.lines[0].searchThread.reset();
  return 0;
}
