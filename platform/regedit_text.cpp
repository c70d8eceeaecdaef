#include "platform/regedit_text.h"

#include <algorithm>
#include <cctype>
#include <sstream>

#include "platform/byte_order.h"

namespace orbek::platform {
namespace {

void AppendUtf8(std::string& out, uint32_t codePoint) {
  if (codePoint < 0x80) {
    out += static_cast<char>(codePoint);
  } else if (codePoint < 0x800) {
    out += static_cast<char>(0xC0 | (codePoint >> 6));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else if (codePoint < 0x10000) {
    out += static_cast<char>(0xE0 | (codePoint >> 12));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (codePoint >> 18));
    out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (codePoint & 0x3F));
  }
}

std::string Utf16LeToUtf8(const std::string& bytes, size_t start) {
  std::string out;
  const std::span<const uint8_t> units(reinterpret_cast<const uint8_t*>(bytes.data()),
                                       bytes.size());
  for (size_t i = start; i + 1 < bytes.size(); i += 2) {
    uint32_t unit = Le16(units, i);
    if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < bytes.size()) {
      uint32_t low = Le16(units, i + 2);
      if (low >= 0xDC00 && low < 0xE000) {
        AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        i += 2;
        continue;
      }
    }
    if (unit >= 0xD800 && unit < 0xE000)
      unit = 0xFFFD;  // a lone surrogate
    AppendUtf8(out, unit);
  }
  return out;
}

std::string Trim(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t\r");
  if (begin == std::string::npos)
    return {};
  size_t end = text.find_last_not_of(" \t\r");
  return text.substr(begin, end - begin + 1);
}

// Reads a quoted, escaped text starting at text[pos] == '"'; pos ends after the closing quote.
bool ReadQuoted(const std::string& text, size_t& pos, std::string& out) {
  if (pos >= text.size() || text[pos] != '"')
    return false;
  out.clear();
  for (++pos; pos < text.size(); ++pos) {
    char c = text[pos];
    if (c == '"') {
      ++pos;
      return true;
    }
    if (c == '\\') {
      if (++pos == text.size())
        return false;
      c = text[pos];
    }
    out += c;
  }
  return false;  // no closing quote: truncated
}

bool ParseValue(const std::string& data, RegeditValue& value) {
  if (data.size() >= 2 && data.front() == '"') {
    size_t pos = 0;
    if (!ReadQuoted(data, pos, value.text) || pos != data.size())
      return false;
    value.type = RegeditValue::Type::String;
    return true;
  }
  static const std::string kDword = "dword:";
  if (data.size() == kDword.size() + 8 && data.compare(0, kDword.size(), kDword) == 0) {
    uint32_t number = 0;
    for (size_t i = kDword.size(); i < data.size(); ++i) {
      int digit = std::isxdigit(static_cast<unsigned char>(data[i]))
                      ? (std::isdigit(static_cast<unsigned char>(data[i]))
                             ? data[i] - '0'
                             : std::tolower(static_cast<unsigned char>(data[i])) - 'a' + 10)
                      : -1;
      if (digit < 0)
        return false;
      number = number << 4 | static_cast<uint32_t>(digit);
    }
    value.type = RegeditValue::Type::Dword;
    value.dword = number;
    return true;
  }
  if (data.compare(0, 3, "hex") == 0) {
    value.type = RegeditValue::Type::Other;
    return true;
  }
  return false;
}

}  // namespace

bool CaseInsensitiveLess::operator()(const std::string& a, const std::string& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) <
           std::tolower(static_cast<unsigned char>(y));
  });
}

std::string RegeditBytesToUtf8(const std::string& bytes) {
  if (bytes.size() >= 2 && static_cast<uint8_t>(bytes[0]) == 0xFF &&
      static_cast<uint8_t>(bytes[1]) == 0xFE) {
    return Utf16LeToUtf8(bytes, 2);
  }
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0)
    return bytes.substr(3);
  return bytes;
}

RegeditKeys ParseRegedit(const std::string& utf8Text) {
  RegeditKeys keys;
  std::istringstream lines(utf8Text);
  std::string line;
  bool sawHeader = false;
  RegeditValues* current = nullptr;
  std::string pending;  // a value continued with a trailing backslash
  while (std::getline(lines, line)) {
    line = Trim(line);
    if (!sawHeader) {
      if (line.empty())
        continue;
      if (line != "Windows Registry Editor Version 5.00" && line != "REGEDIT4")
        return keys;
      sawHeader = true;
      continue;
    }
    if (!pending.empty()) {
      line = pending + line;
      pending.clear();
    }
    if (line.empty() || line[0] == ';')
      continue;
    if (line.front() == '[') {
      current = nullptr;
      if (line.back() != ']' || line.size() < 3)
        continue;
      std::string path = line.substr(1, line.size() - 2);
      if (path[0] == '-')
        continue;  // a deletion entry
      current = &keys[path];
      continue;
    }
    if (current == nullptr)
      continue;
    if (line.back() == '\\') {  // hex data continues on the next line
      pending = line.substr(0, line.size() - 1);
      continue;
    }
    std::string name;
    size_t pos = 0;
    if (line[0] == '@') {
      pos = 1;
    } else if (!ReadQuoted(line, pos, name)) {
      continue;
    }
    if (pos >= line.size() || line[pos] != '=')
      continue;
    RegeditValue value;
    if (ParseValue(line.substr(pos + 1), value))
      (*current)[name] = value;
  }
  return keys;
}

std::string RegeditQuote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"')
      out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace orbek::platform
