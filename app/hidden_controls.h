// What a window face keeps of the controls it does not draw (the hidden factory controls, the
// line's state picture): their text, enabled state, progress position and bitmap.
#pragma once

#include <map>
#include <string>

namespace orbek {

struct HiddenControl {
  std::string text;
  bool enabled = true;
  int position = 0;
  int bitmap = 0;
};

using HiddenControls = std::map<int, HiddenControl>;

// The control's record, or an empty one when nothing was written to it.
inline HiddenControl HiddenControlOf(const HiddenControls& controls, int controlId) {
  auto found = controls.find(controlId);
  return found != controls.end() ? found->second : HiddenControl{};
}

}  // namespace orbek
