// The re-plug thread: loading the library, its failures, its rhythm, and stopping it before the
// library goes.
#include "ports/replug_thread.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <mutex>

#include "platform/clock.h"
#include "tests/support/manual_clock.h"
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

// The thread's rhythm on the clock: a stick left in its CD-ROM mode is looked for again 5000 ms
// after it was found, 3000 ms after none was.
TEST_F(ReplugThreadTest, WaitsBetweenLooks) {
  char pattern[] = "/tmp/orbek-sysfs-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::filesystem::path root = pattern;
  setenv("ORBEK_SYSFS_ROOT", (root / "sys").c_str(), 1);
  setenv("ORBEK_DEV_ROOT", (root / "dev").c_str(), 1);
  std::filesystem::create_directories(root / "sys/bus/usb/devices");
  std::filesystem::create_directories(root / "dev");
  testing::LockstepClock clock;
  ReplugThread thread(ORBEK_RESETUSB_PATH, enabled, Show());
  thread.Start();
  // The time the thread sleeps from one look to the next, for the next `looks` looks.
  int seen = 0;
  uint32_t slept = 0;  // since the last look
  auto sleepsBetweenLooks = [&](int looks) {
    std::vector<uint32_t> between;
    while (static_cast<int>(between.size()) < looks) {
      const std::optional<uint32_t> sleep = clock.AwaitSleep();
      if (!sleep)
        break;
      if (thread.Calls() != seen) {
        between.push_back(slept);
        seen = thread.Calls();
        slept = 0;
      }
      slept += *sleep;
      clock.Wake();
    }
    return between;
  };
  sleepsBetweenLooks(1);  // up to the first look
  EXPECT_EQ(sleepsBetweenLooks(2), (std::vector<uint32_t>{3000, 3000}));
  EXPECT_EQ(thread.Found(), 0);

  // A stick in its CD-ROM mode: found at each look.
  const std::filesystem::path stick = root / "sys/devices/usb1/1-1";
  std::filesystem::create_directories(stick / "1-1:1.0/host0/target0:0:0/0:0:0:0/block/sr0");
  std::ofstream(stick / "idVendor") << "1234\n";
  std::ofstream(stick / "idProduct") << "2000\n";
  std::ofstream(stick / "1-1:1.0/host0/target0:0:0/0:0:0:0/block/sr0/dev") << "11:0\n";
  std::filesystem::create_directory_symlink(stick, root / "sys/bus/usb/devices/1-1");
  sleepsBetweenLooks(1);  // the look that finds it first
  EXPECT_EQ(sleepsBetweenLooks(2), (std::vector<uint32_t>{5000, 5000}));
  EXPECT_GT(thread.Found(), 0);

  clock.Release();
  thread.Stop();
  unsetenv("ORBEK_SYSFS_ROOT");
  unsetenv("ORBEK_DEV_ROOT");
  std::filesystem::remove_all(root);
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
