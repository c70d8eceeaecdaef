#include <windows.h>

#include "platform/resources.h"

namespace orbek::platform {

ResourceBytes LoadPackageResource(int id) {
  HRSRC resource = FindResourceA(nullptr, MAKEINTRESOURCEA(id), kPackageResourceType);
  if (resource == nullptr)
    return {};
  HGLOBAL loaded = LoadResource(nullptr, resource);
  const DWORD size = SizeofResource(nullptr, resource);
  const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
  if (data == nullptr)
    return {};
  // Resources of the program's own module stay mapped while it runs; nothing to release.
  return {static_cast<const uint8_t*>(data), static_cast<size_t>(size), true};
}

}  // namespace orbek::platform
