// The simulated stick's registry entries inside a Wine prefix: a helper program running under
// Wine (orbek-wine-registry.exe) applies every snapshot of the entries through the Windows
// registry calls, so that a Windows updater under Wine finds the ports as on Windows.
#pragma once

#include <sys/types.h>

#include <string>

namespace orbek::sim {

class WineRegistry {
 public:
  WineRegistry() = default;
  ~WineRegistry();
  WineRegistry(const WineRegistry&) = delete;
  WineRegistry& operator=(const WineRegistry&) = delete;

  // Starts `wine HELPER` in the prefix. False with a reason when it cannot be started.
  bool Start(const std::string& prefix, const std::string& helper, std::string& error);
  // Sends the regedit text of the stick's entries and waits, bounded, until the helper has
  // applied it. False when the helper does not answer "applied".
  bool Apply(const std::string& regeditText);
  // Closes the helper's input and waits for it to end.
  void Stop();

 private:
  bool ReadLine(std::string& line, int timeoutMs);

  pid_t helper_ = -1;
  int toHelper_ = -1;
  int fromHelper_ = -1;
  std::string pending_;
  bool firstAnswer_ = true;
};

}  // namespace orbek::sim
