// What a file holds, for tests that check what was written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orbek::testing {

// Every byte of the file; empty when it does not open.
std::string ReadFileText(const std::string& path);
std::vector<uint8_t> ReadFileBytes(const std::string& path);

}  // namespace orbek::testing
