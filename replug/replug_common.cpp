#include <atomic>
#include <cctype>
#include <mutex>

#include "replug/replug.h"
#include "replug/replug_internal.h"

namespace orbek::replug {
namespace {

std::mutex senderMutex;
ScsiSender customSender;

}  // namespace

std::atomic<bool> foundFlag{false};

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size())
    return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(text[i])) !=
        std::toupper(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
  }
  return true;
}

void MarkNode(const std::string& instanceId, const std::string& prefix, bool& mark) {
  if (!StartsWithNoCase(instanceId, "USB\\VID"))
    return;  // inherits its parent's mark
  const std::string head = instanceId.substr(0, kPrefixLength);
  const std::string wanted = prefix.substr(0, kPrefixLength);
  mark = head.size() == wanted.size() && StartsWithNoCase(head, wanted);
  if (mark)
    foundFlag = true;
}

void SendCommand(const std::string& volume) {
  std::lock_guard<std::mutex> hold(senderMutex);
  if (customSender) {
    customSender(volume, kCdb, sizeof kCdb);
  } else {
    SendScsiCommand(volume, kCdb, sizeof kCdb);
  }
}

void SetScsiSender(ScsiSender sender) {
  std::lock_guard<std::mutex> hold(senderMutex);
  customSender = std::move(sender);
}

void ResetFoundFlag() {
  foundFlag = false;
}

int32_t Replug(const char* hardwareIdPrefix) {
  const std::string prefix = hardwareIdPrefix != nullptr ? hardwareIdPrefix : "";
  std::vector<std::string> volumes = FindMarkedVolumes(prefix);
  if (!foundFlag || volumes.empty())
    return 0;
  for (const std::string& volume : volumes)
    SendCommand(volume);
  return 1;
}

}  // namespace orbek::replug
