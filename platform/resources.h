// Files the program carries inside itself: each is a resource of type "SOURCEMBN" with a
// numeric id in the program's own module, stored plain.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orbek::platform {

inline constexpr const char* kPackageResourceType = "SOURCEMBN";

struct ResourceBytes {
  const uint8_t* data = nullptr;
  size_t size = 0;
  bool found = false;
};

// Finds the resource by id, loads it and takes its size. Not found: no data and size 0. The
// bytes stay valid for the life of the program.
ResourceBytes LoadPackageResource(int id);

}  // namespace orbek::platform
