// Sticks bound to lines by their USB location through plugging, unplugging, re-enumeration and
// more sockets than lines.
#include "ports/line_binding.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

#include "tests/support/case_names.h"

namespace orbek {
namespace {

struct Step {
  std::vector<std::string> present;  // in enumeration order
  std::set<int> busy;
  std::map<int, std::string> bound;  // every bound line afterwards
};

struct BindingCase {
  const char* name;
  int lines;
  std::vector<Step> steps;
};

const BindingCase kCases[] = {
    {"plugged one after another take lines in order",
     8,
     {{{"1-1"}, {}, {{0, "1-1"}}},
      {{"1-1", "1-3"}, {}, {{0, "1-1"}, {1, "1-3"}}},
      {{"1-2", "1-1", "1-3"}, {}, {{0, "1-1"}, {1, "1-3"}, {2, "1-2"}}}}},
    {"several at once take lines in enumeration order",
     8,
     {{{"1-4", "1-2", "1-3"}, {}, {{0, "1-4"}, {1, "1-2"}, {2, "1-3"}}}}},
    {"re-enumerations during and after an update keep the line, whatever comes back first",
     8,
     {{{"1-1", "1-2"}, {}, {{0, "1-1"}, {1, "1-2"}}},
      {{"1-2"}, {0}, {{0, "1-1"}, {1, "1-2"}}},
      {{}, {0, 1}, {{0, "1-1"}, {1, "1-2"}}},
      {{}, {}, {{0, "1-1"}, {1, "1-2"}}},
      {{"1-2", "1-1"}, {}, {{0, "1-1"}, {1, "1-2"}}}}},
    {"unplugged and plugged into its own socket again, or into a new one",
     8,
     {{{"1-1", "1-2"}, {}, {{0, "1-1"}, {1, "1-2"}}},
      {{"1-2"}, {}, {{0, "1-1"}, {1, "1-2"}}},
      {{"1-2", "1-5"}, {}, {{0, "1-1"}, {1, "1-2"}, {2, "1-5"}}},
      {{"1-1", "1-5"}, {}, {{0, "1-1"}, {1, "1-2"}, {2, "1-5"}}}}},
    {"a socket beyond the lines takes the idle line away longest, never a busy one",
     3,
     {{{"1-1", "1-2", "1-3"}, {}, {{0, "1-1"}, {1, "1-2"}, {2, "1-3"}}},
      {{"1-2", "1-3"}, {}, {{0, "1-1"}, {1, "1-2"}, {2, "1-3"}}},
      {{"1-3"}, {0}, {{0, "1-1"}, {1, "1-2"}, {2, "1-3"}}},
      {{"1-3", "1-9"}, {0}, {{0, "1-1"}, {1, "1-9"}, {2, "1-3"}}},
      {{"1-3", "1-9", "1-8"}, {0}, {{0, "1-1"}, {1, "1-9"}, {2, "1-3"}}},
      {{"1-3", "1-9", "1-8"}, {}, {{0, "1-8"}, {1, "1-9"}, {2, "1-3"}}}}},
    {"a port without a location binds nothing", 8, {{{""}, {}, {}}}},
};

class Binding : public ::testing::TestWithParam<BindingCase> {};

TEST_P(Binding, LinesFollowTheSockets) {
  const BindingCase& c = GetParam();
  LineBinding binding(c.lines);
  for (size_t step = 0; step < c.steps.size(); ++step) {
    SCOPED_TRACE("step " + std::to_string(step + 1));
    const Step& s = c.steps[step];
    binding.Update(s.present, [&](int line) { return s.busy.count(line) != 0; });
    std::map<int, std::string> bound;
    for (int line = 0; line < c.lines; ++line) {
      if (std::optional<std::string> location = binding.LocationOf(line)) {
        bound[line] = *location;
        EXPECT_EQ(binding.LineOf(*location), line);
      }
    }
    EXPECT_EQ(bound, s.bound);
  }
}

INSTANTIATE_TEST_SUITE_P(Sockets, Binding, ::testing::ValuesIn(kCases),
                         testing::CaseName<BindingCase>);

TEST(UsbLocation, OfTheInstanceIdsOfBothSystems) {
  const std::pair<const char*, const char*> cases[] = {
      {"USB\\VID_1234&PID_5678&MI_00\\1-1.3:1.0", "1-1.3"},
      {"USB\\VID_1234&PID_5678&MI_01\\1-1.3:1.1", "1-1.3"},
      {"USB\\VID_1234&PID_5678&MI_00\\7&1a2b3c4d&0&0000", "7&1a2b3c4d&0"},
      {"USB\\VID_1234&PID_5678&MI_01\\7&1a2b3c4d&0&0001", "7&1a2b3c4d&0"},
      {"USB\\VID_1234&PID_5678&MI_00\\", ""},
      {"no backslash", ""},
      {"USB\\VID_1234\\noampersand", ""},
  };
  for (const auto& [instance, location] : cases)
    EXPECT_EQ(UsbLocationOf(instance), location) << instance;
}

}  // namespace
}  // namespace orbek
