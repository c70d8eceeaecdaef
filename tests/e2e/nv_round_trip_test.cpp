// The NV items of a stick saved over real pseudo-terminals against the orbek-stick-sim program,
// then written back to a stick whose NV store was lost.
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "app/recording_form.h"
#include "app/varnel_view.h"
#include "nv/nv_backup.h"
#include "platform/clock.h"
#include "tests/support/registry_root.h"
#include "tests/support/simulator_process.h"

namespace orbek {
namespace {

using nlohmann::json;
constexpr double kScale = 40;

bool OpenLine(CVarnelView& view, int com) {
  return view.Line(0).link.port.Open(com);
}

TEST(NvRoundTripWithProgram, EveryItemReadComesBackAfterTheStoreWasLost) {
  const double scale = platform::TimeScale();
  platform::SetTimeScale(kScale);
  testing::RegistryRoot root;
  RecordingForm form;
  CVarnelDoc doc;
  CVarnelView view(form, doc, false, root.Path());
  doc.SetNvDirectory(root.Path());
  const std::string file = doc.lines[0].nvFilePath;

  testing::SimulatorProcess original(ORBEK_STICK_SIM, root.Path(), {}, kScale, "before.json");
  ASSERT_TRUE(OpenLine(view, original.WaitReady()));
  ASSERT_TRUE(BackupNv(view.Handle(0), file));
  view.Line(0).link.port.Close();
  ASSERT_EQ(original.Stop(), 0);
  const json before = json::parse(original.Report())["nv"];

  // The same stick after a flash that lost its NV store.
  const std::string wiped = root.Path() + "/wiped.json";
  std::ofstream(wiped) << R"({"nv": {}, "readOnlyNv": []})";
  testing::SimulatorProcess blank(ORBEK_STICK_SIM, root.Path(), {"--config", wiped}, kScale,
                                  "after.json");
  ASSERT_TRUE(OpenLine(view, blank.WaitReady()));
  ASSERT_TRUE(RestoreNv(view.Handle(0), file));
  view.Line(0).link.port.Close();
  ASSERT_EQ(blank.Stop(), 0);
  const json after = json::parse(blank.Report())["nv"];
  size_t restored = 0;
  for (uint16_t item : NvListedItems()) {
    const std::string key = std::to_string(item);
    if (!before.contains(key) || before[key]["status"] != 0)
      continue;  // not read at backup time
    ASSERT_TRUE(after.contains(key)) << item;
    EXPECT_EQ(after[key]["data"], before[key]["data"]) << item;
    ++restored;
  }
  EXPECT_GT(restored, 600u);
  EXPECT_FALSE(after.contains("10"));  // not a listed item: stays lost
  platform::SetTimeScale(scale);
}

}  // namespace
}  // namespace orbek
