// Test names for table-driven tests: a row's index and its `name`, as gtest takes them.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace orbek::testing {

// "3_stop_on_one_line" for row 3 named "stop on one line": letters and digits stay, anything
// else becomes "_".
template <typename Row>
std::string CaseName(const ::testing::TestParamInfo<Row>& info) {
  std::string name = std::to_string(info.index) + "_";
  for (const char* c = info.param.name; *c != '\0'; ++c)
    name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
  return name;
}

}  // namespace orbek::testing
