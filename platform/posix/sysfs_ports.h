// The driver entries that a real stick's USB serial ports imply on Linux, built from sysfs as
// the registry view the port search reads: for every tty of a USB interface of the stick's
// vendor, the diagnostic or modem service's "Enum" key lists the interface's instance id, and
// the instance's "Device Parameters" name its COM port. The COM number of a tty is fixed by its
// name (ttyS<k> is COM<k+1>, ttyUSB<k> COM<k+33>, ttyACM<k> COM<k+65>), and the program keeps
// $ORBEK_ROOT/dosdevices/comN linked to the tty's node while the tty exists.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/regedit_text.h"

namespace orbek::platform {

struct SysfsPortRules {
  uint16_t vendorId;
  int diagInterface;
  int modemInterface;
  std::string diagService;
  std::string modemService;
};

// The rules this build was made with (vendor id and interface numbers from its cache variables).
const SysfsPortRules& BuiltSysfsPortRules();

struct SysfsPort {
  std::string instanceId;  // USB\VID_vvvv&PID_pppp&MI_nn\<the interface's sysfs name>
  bool diagnostic;
  std::string tty;  // ttyUSB0
  int com;
  long order;  // the device's number on its bus: the later enumerated, the higher
};

// COM number of a tty name; 0 when the name has no number in the mapping.
int ComNumberOfTty(const std::string& tty);

// The stick's ports below `sysfsRoot` (/sys), in the order they were enumerated. Entries that
// vanish or are malformed while they are read are passed over.
std::vector<SysfsPort> ScanSysfsPorts(const std::string& sysfsRoot, const SysfsPortRules& rules);

// Adds the ports' entries to `keys` after what is there (a service's instances from the export
// file come first, so the sysfs ones count as enumerated last).
void AddSysfsEntries(const std::vector<SysfsPort>& ports, const SysfsPortRules& rules,
                     RegeditKeys& keys);

// Makes root/dosdevices/comN a link to devRoot/<tty> for every port, and removes links of the
// mapping's range that point into devRoot at a node that is gone. Only links are replaced or
// removed, never another kind of file; a dosdevices that is a link to another folder is left
// alone (false): what is there is not the program's.
bool KeepComLinks(const std::vector<SysfsPort>& ports, const std::string& orbekRoot,
                  const std::string& devRoot);

}  // namespace orbek::platform
