// The NV items of two simulator reports compared: every listed item the stick held at the
// backup (read with status 0) stands in the later report with the same data.
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "nv/nv_item_list.h"

namespace orbek::testing {

// The number of listed items that came back; a failure for each one that did not.
inline size_t ExpectNvItemsBack(const nlohmann::json& before, const nlohmann::json& after) {
  size_t back = 0;
  for (uint16_t item : NvListedItems()) {
    const std::string key = std::to_string(item);
    if (!before.contains(key) || before[key]["status"] != 0)
      continue;  // not read at backup time
    if (!after.contains(key)) {
      ADD_FAILURE() << "item " << item << " is missing";
      continue;
    }
    EXPECT_EQ(after[key]["data"], before[key]["data"]) << item;
    ++back;
  }
  return back;
}

}  // namespace orbek::testing
