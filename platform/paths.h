// Where the platform finds what Windows finds by name.
#pragma once

#include <string>

namespace orbek::platform {

// The root under which the posix backends find what Windows keeps elsewhere (COM devices,
// registry export, C: drive). ORBEK_ROOT, else $XDG_DATA_HOME/orbek-updater, else
// ~/.local/share/orbek-updater. Laid out like a Wine prefix.
std::string OrbekRoot();

// The device path that opens COM port `comNumber`: "\\.\COM%d" on Windows,
// $ORBEK_ROOT/dosdevices/com%d on posix.
std::string ComDevicePath(int comNumber);

}  // namespace orbek::platform
