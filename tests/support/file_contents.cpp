#include "tests/support/file_contents.h"

#include <fstream>
#include <iterator>

namespace orbek::testing {

std::string ReadFileText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), {});
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  const std::string text = ReadFileText(path);
  return std::vector<uint8_t>(text.begin(), text.end());
}

}  // namespace orbek::testing
