#include "platform/clock.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/files.h"
#include "platform/paths.h"
#include "platform/text_format.h"
#include "tests/support/scoped_environment.h"

namespace orbek::platform {
namespace {

class ScaleGuard {
 public:
  explicit ScaleGuard(double scale) : previous_(TimeScale()) { SetTimeScale(scale); }
  ~ScaleGuard() { SetTimeScale(previous_); }

 private:
  double previous_;
};

TEST(Clock, FastScaleRunsClockTimeAheadOfRealTime) {
  ScaleGuard fast(200);
  uint64_t start = TickCountMs();
  SleepMs(2000);  // about 10 ms of real time
  uint64_t elapsed = TickCountMs() - start;
  EXPECT_GE(elapsed, 2000u);
  EXPECT_EQ(RealWaitMs(10000), 50u);
  EXPECT_EQ(RealWaitMs(1), 1u);
  EXPECT_EQ(RealWaitMs(0), 0u);
}

TEST(Clock, NonsenseScaleFallsBackToRealTime) {
  ScaleGuard nonsense(-3);
  EXPECT_EQ(TimeScale(), 1.0);
}

TEST(Clock, ScaleFromItsTextAtLeastOneOrSaidWhy) {
  const struct {
    const char* text;
    double scale;
    bool complaint;
  } kTexts[] = {
      {nullptr, 1, false},   {"", 1, false},       {"20", 20, false},   {"1", 1, false},
      {"2.5", 2.5, false},   {"0.5", 1, true},     {"0", 1, true},      {"-3", 1, true},
      {"fast", 1, true},     {"20x", 1, true},     {"inf", 1, true},    {"nan", 1, true},
      {"1000", 1000, false}, {"1001", 1000, true}, {"1e9", 1000, true},
  };
  for (const auto& entry : kTexts) {
    std::string complaint = "left over";
    EXPECT_EQ(ParseTimeScale(entry.text, complaint), entry.scale) << entry.text;
    EXPECT_EQ(!complaint.empty(), entry.complaint) << entry.text;
    if (entry.complaint) {
      EXPECT_NE(complaint.find("ORBEK_TIME_SCALE"), std::string::npos);
    }
  }
}

TEST(Clock, ChangingTheScaleNeverRunsBackwards) {
  ScaleGuard fast(1000);
  SleepMs(500);
  uint64_t before = TickCountMs();
  SetTimeScale(1);
  EXPECT_GE(TickCountMs(), before);
}

TEST(Paths, ComPortsLiveUnderTheRoot) {
  testing::ScopedEnvironment root("ORBEK_ROOT"), data("XDG_DATA_HOME"), home("HOME");
  setenv("ORBEK_ROOT", "/tmp/orbek-root", 1);
  EXPECT_EQ(ComDevicePath(12), "/tmp/orbek-root/dosdevices/com12");
  unsetenv("ORBEK_ROOT");
  setenv("XDG_DATA_HOME", "/tmp/xdg", 1);
  EXPECT_EQ(OrbekRoot(), "/tmp/xdg/orbek-updater");
  unsetenv("XDG_DATA_HOME");
  setenv("HOME", "/home/someone", 1);
  EXPECT_EQ(OrbekRoot(), "/home/someone/.local/share/orbek-updater");
}

TEST(Paths, DefaultRootIsMadeWithTheFirstDriveDirectory) {
  testing::ScopedEnvironment root("ORBEK_ROOT"), data("XDG_DATA_HOME");
  char scratch[] = "/tmp/orbek-fresh-XXXXXX";
  ASSERT_NE(mkdtemp(scratch), nullptr);
  unsetenv("ORBEK_ROOT");
  const std::string home = std::string(scratch) + "/new account/.local/share";
  setenv("XDG_DATA_HOME", home.c_str(), 1);
  EXPECT_TRUE(CreateOneDirectory("C:\\Program Files"));
  EXPECT_TRUE(PathExists("C:\\Program Files"));
  EXPECT_TRUE(std::filesystem::is_directory(home + "/orbek-updater/drive_c/Program Files"));
  std::filesystem::remove_all(scratch);
}

TEST(Format, FillsFixedMessages) {
  EXPECT_EQ(Format("COM%d: %d, n, %d, %d", 3, 115200, 8, 1), "COM3: 115200, n, 8, 1");
  std::string longReason(3000, 'x');
  EXPECT_EQ(Format("Cannot Get the ESN Number of the Phone, Since %s", longReason.c_str()),
            "Cannot Get the ESN Number of the Phone, Since " + longReason);
}

}  // namespace
}  // namespace orbek::platform
