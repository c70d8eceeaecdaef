// The port search of the updater against the real orbek-stick-sim program on the same root:
// the form shows the stick's port, versions and ready text, and loses them when the program
// stops.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include "app/recording_form.h"
#include "app/varnel_view.h"
#include "line/control_ids.h"
#include "platform/clock.h"
#include "tests/support/registry_root.h"
#include "tests/support/wait_until.h"
#include "update/port_search.h"

extern char** environ;

namespace orbek {
namespace {

TEST(SearchWithProgram, ShowsTheStickWhileTheSimulatorRuns) {
  const double scale = platform::TimeScale();
  platform::SetTimeScale(10);
  testing::RegistryRoot root;
  setenv("ORBEK_TIME_SCALE", "10", 1);
  const std::string rootPath = root.Path();
  const char* argv[] = {ORBEK_STICK_SIM, "--root", rootPath.c_str(), nullptr};
  pid_t simulator = 0;
  ASSERT_EQ(
      posix_spawn(&simulator, ORBEK_STICK_SIM, nullptr, nullptr, const_cast<char**>(argv), environ),
      0);
  unsetenv("ORBEK_TIME_SCALE");

  RecordingForm form;
  CVarnelDoc doc;
  {
    CVarnelView view(form, doc, false, LogDirectory(rootPath));
    StartSearchThread(view.Handle(0));
    EXPECT_TRUE(
        testing::WaitUntil([&] { return form.Text(1168) == "Ready to start update."; }, 20000))
        << form.Text(1168);
    EXPECT_TRUE(testing::WaitUntil([&] { return form.Text(1166) == "COM5"; }, 20000));
    EXPECT_EQ(form.Text(1167), "R415C1_FW_1.2.0.17 (Firmware)");
    EXPECT_EQ(form.Text(1192), "WIN_1.0.5B06 (Windows)");
    EXPECT_EQ(form.Text(1193), "MAC_1.0.5B06 (Mac)");
    EXPECT_TRUE(form.Enabled(control::kUpdateButton));

    kill(simulator, SIGTERM);
    int status = 0;
    waitpid(simulator, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    // The port goes first, then the versions and what follows them: each is waited for.
    EXPECT_TRUE(testing::WaitUntil([&] { return form.Text(1166) == "NULL"; }, 20000));
    EXPECT_TRUE(testing::WaitUntil([&] { return form.Text(1192) == "NULL"; }, 20000));
    EXPECT_TRUE(testing::WaitUntil([&] { return form.Text(1193) == "NULL"; }, 20000));
    EXPECT_TRUE(testing::WaitUntil(
        [&] { return form.Text(1168) == "Searching communication ports..."; }, 20000))
        << form.Text(1168);
    EXPECT_TRUE(testing::WaitUntil([&] { return !form.Enabled(control::kUpdateButton); }, 20000));
    doc.lines[0].searchThread.reset();
  }
  platform::SetTimeScale(scale);
}

}  // namespace
}  // namespace orbek
