// Between the re-plug logic and its platform backends.
#pragma once

#include <atomic>
#include <string>
#include <vector>

namespace orbek::replug {

extern std::atomic<bool> foundFlag;

bool StartsWithNoCase(const std::string& text, const std::string& prefix);
// At one node of the device tree: a USB device's instance id sets or clears the match mark (and
// a match sets the found flag); other nodes leave it as their parent left it.
void MarkNode(const std::string& instanceId, const std::string& prefix, bool& mark);

// Backend: the volumes (native device paths, once each, in the order found) that lie below a
// device whose mark is set.
std::vector<std::string> FindMarkedVolumes(const std::string& prefix);
// Backend: sends the 10-byte CDB to a volume, no data, 24 bytes of sense room, 10 s.
void SendScsiCommand(const std::string& volume, const uint8_t* cdb, size_t length);

}  // namespace orbek::replug
