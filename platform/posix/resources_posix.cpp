#include "platform/resources.h"

// The build links the package into the program with a table of (id, address, size) rows that
// ends with a row of id 0. A program built without the package has no table.
struct OrbekResourceRow {
  uint64_t id;
  uint64_t address;
  uint64_t size;
};
extern "C" const OrbekResourceRow orbek_package_resource_table[] __attribute__((weak));

namespace orbek::platform {

ResourceBytes LoadPackageResource(int id) {
  if (orbek_package_resource_table == nullptr || id <= 0)
    return {};
  for (const OrbekResourceRow* row = orbek_package_resource_table; row->id != 0; ++row) {
    if (row->id == static_cast<uint64_t>(id))
      return {reinterpret_cast<const uint8_t*>(static_cast<uintptr_t>(row->address)),
              static_cast<size_t>(row->size), true};
  }
  return {};
}

}  // namespace orbek::platform
