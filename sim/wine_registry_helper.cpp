// orbek-wine-registry.exe: keeps a Wine prefix's registry in step with the simulated stick. It
// runs inside Wine, started by orbek-stick-sim --wine-prefix, and reads snapshots of the
// stick's registry entries (regedit export text) from standard input, each ended by a line ".".
// It writes every key and value of a snapshot, deletes the keys of the previous snapshot that
// are gone, and answers "applied" on standard output. It ends at the end of its input.
#include <windows.h>

#include <cstdio>
#include <set>
#include <string>

#include "platform/regedit_text.h"
#include "platform/win32/wide_text.h"

namespace {

using orbek::platform::RegeditKeys;
using orbek::platform::RegeditValue;
using orbek::platform::Wide;

constexpr const char* kLocalMachine = "HKEY_LOCAL_MACHINE\\";

// The path below HKEY_LOCAL_MACHINE; empty for keys of other roots, which are left alone.
std::string LocalMachinePath(const std::string& key) {
  const std::string prefix = kLocalMachine;
  if (key.size() <= prefix.size() || _strnicmp(key.c_str(), prefix.c_str(), prefix.size()) != 0)
    return {};
  return key.substr(prefix.size());
}

bool WriteKey(const std::string& path, const orbek::platform::RegeditValues& values) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, Wide(path).c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  bool written = true;
  for (const auto& [name, value] : values) {
    LONG result = ERROR_SUCCESS;
    if (value.type == RegeditValue::Type::String) {
      const std::wstring text = Wide(value.text);
      result = RegSetValueExW(key, Wide(name).c_str(), 0, REG_SZ,
                              reinterpret_cast<const BYTE*>(text.c_str()),
                              static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    } else if (value.type == RegeditValue::Type::Dword) {
      const DWORD number = value.dword;
      result = RegSetValueExW(key, Wide(name).c_str(), 0, REG_DWORD,
                              reinterpret_cast<const BYTE*>(&number), sizeof number);
    }
    written = written && result == ERROR_SUCCESS;
  }
  RegCloseKey(key);
  return written;
}

// Applies one snapshot; `previous` holds the paths the last one wrote.
bool Apply(const std::string& text, std::set<std::string>& previous) {
  const RegeditKeys keys = orbek::platform::ParseRegedit(text);
  std::set<std::string> now;
  bool applied = true;
  for (const auto& [key, values] : keys) {
    const std::string path = LocalMachinePath(key);
    if (path.empty())
      continue;
    now.insert(path);
    applied = WriteKey(path, values) && applied;
  }
  for (const std::string& path : previous) {
    if (now.count(path) == 0)
      RegDeleteTreeW(HKEY_LOCAL_MACHINE, Wide(path).c_str());
  }
  previous = std::move(now);
  return applied;
}

}  // namespace

int main() {
  std::set<std::string> written;
  std::string snapshot;
  char line[4096];
  while (std::fgets(line, sizeof line, stdin) != nullptr) {
    std::string text = line;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
      text.pop_back();
    if (text != ".") {
      snapshot += text + "\n";
      continue;
    }
    const bool applied = Apply(snapshot, written);
    std::printf(applied ? "applied\n" : "failed\n");
    std::fflush(stdout);
    snapshot.clear();
  }
  return 0;
}
