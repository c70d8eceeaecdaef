// The text of a regedit export ("Windows Registry Editor Version 5.00"): parsing into keys and
// values, and the escaping regedit uses. Portable; the posix registry backend reads through it
// and the simulated stick writes with it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace orbek::platform {

struct RegeditValue {
  enum class Type { String, Dword, Other };
  Type type = Type::Other;
  std::string text;  // String: the unescaped text (UTF-8)
  uint32_t dword = 0;
};

// Key paths and value names compare case-insensitively, as in the registry.
struct CaseInsensitiveLess {
  bool operator()(const std::string& a, const std::string& b) const;
};

using RegeditValues = std::map<std::string, RegeditValue, CaseInsensitiveLess>;
using RegeditKeys = std::map<std::string, RegeditValues, CaseInsensitiveLess>;

// Raw file bytes (UTF-8 with or without BOM, or UTF-16LE with BOM) as UTF-8 text.
std::string RegeditBytesToUtf8(const std::string& bytes);

// Parses an export. Keys are stored by their full path ("HKEY_LOCAL_MACHINE\SYSTEM\..."). Lines
// that are not complete, valid entries (a truncated last line, say) are skipped; a text without
// the header yields no keys.
RegeditKeys ParseRegedit(const std::string& utf8Text);

// A string value as regedit writes it: backslashes and quotes escaped, in quotes.
std::string RegeditQuote(const std::string& text);

}  // namespace orbek::platform
