// The re-plug thread: loading the library, its failures, its rhythm, and stopping it before the
// library goes.
#include "ports/replug_thread.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <mutex>

#include "platform/clock.h"
#include "tests/support/registry_root.h"
#include "tests/support/wait_until.h"

namespace orbek {
namespace {

class ReplugThreadTest : public ::testing::Test {
 protected:
  ReplugThreadTest() : previousScale_(platform::TimeScale()) { platform::SetTimeScale(100); }
  ~ReplugThreadTest() override { platform::SetTimeScale(previousScale_); }

  std::vector<std::string> Messages() {
    std::lock_guard<std::mutex> hold(mutex_);
    return messages_;
  }

  ReplugThread::ShowMessage Show() {
    return [this](const std::string& text) {
      std::lock_guard<std::mutex> hold(mutex_);
      messages_.push_back(text);
    };
  }

  double previousScale_;
  std::atomic<int> enabled{1};
  std::mutex mutex_;
  std::vector<std::string> messages_;
};

TEST_F(ReplugThreadTest, MissingLibrary) {
  testing::RegistryRoot root;  // an empty drive C:
  ReplugThread thread(kReplugLibraryPath, enabled, Show());
  thread.Start();
  ASSERT_TRUE(testing::WaitUntil([&] { return thread.Finished(); }));
  EXPECT_EQ(thread.Result(), -1);
  EXPECT_EQ(Messages(), std::vector<std::string>{"Load ResetUSB.dll fail"});
}

TEST_F(ReplugThreadTest, LibraryWithoutTheExport) {
  ReplugThread thread(ORBEK_NO_REPLUG_PATH, enabled, Show());
  thread.Start();
  ASSERT_TRUE(testing::WaitUntil([&] { return thread.Finished(); }));
  EXPECT_EQ(thread.Result(), -1);
  EXPECT_EQ(Messages(), std::vector<std::string>{"Load ResetUSB.dll -> Replug() fail!"});
}

TEST_F(ReplugThreadTest, CallsReplugUntilStoppedThenUnloads) {
  char pattern[] = "/tmp/orbek-sysfs-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  setenv("ORBEK_SYSFS_ROOT", pattern, 1);  // nothing plugged in
  {
    ReplugThread thread(ORBEK_RESETUSB_PATH, enabled, Show());
    thread.Start();
    ASSERT_TRUE(testing::WaitUntil([&] { return thread.Calls() >= 3; }, 5000));
    EXPECT_EQ(thread.Found(), 0);

    enabled = 0;  // disabled: no calls, one look a second
    const int calls = thread.Calls();
    platform::SleepMs(5000);
    EXPECT_LE(thread.Calls(), calls + 1);

    thread.Stop();
    EXPECT_TRUE(thread.Finished());
    thread.UnloadLibrary();  // safe: nothing runs in it any more
    EXPECT_TRUE(Messages().empty());
  }
  unsetenv("ORBEK_SYSFS_ROOT");
  std::filesystem::remove_all(pattern);
  EXPECT_EQ(ReplugHardwareIdPrefix(), "USB\\Vid_1234&Pid_2000");
}

}  // namespace
}  // namespace orbek
