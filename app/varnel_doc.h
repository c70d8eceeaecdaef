// The document: the eight lines and the choices shared by all of them.
#pragma once

#include <array>
#include <atomic>
#include <string>

#include "line/line_session.h"

namespace orbek {

class CVarnelDoc : public UpdateChoices {
 public:
  CVarnelDoc();
  std::array<LineSession, kLineCount> lines;
  // Every line's NV directory becomes `directory`, its backup file "<directory>\ChannelN.nvm".
  void SetNvDirectory(const std::string& directory);
  // Whether the re-plug thread calls the library; 1 from the start, nothing clears it.
  std::atomic<int> replugEnabled{1};
};

}  // namespace orbek
