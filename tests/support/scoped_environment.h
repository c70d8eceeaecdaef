// An environment variable for the length of a scope: its earlier value (or its absence) comes
// back when the scope ends.
#pragma once

#include <stdlib.h>

#include <string>

namespace orbek::testing {

class ScopedEnvironment {
 public:
  // Remembers the variable, leaving it as it is.
  explicit ScopedEnvironment(const char* name) : name_(name) {
    const char* previous = std::getenv(name);
    had_ = previous != nullptr;
    previous_ = had_ ? previous : "";
  }
  // Remembers the variable and sets it to `value`.
  ScopedEnvironment(const char* name, const char* value) : ScopedEnvironment(name) {
    setenv(name, value, 1);
  }
  ~ScopedEnvironment() {
    if (had_)
      setenv(name_, previous_.c_str(), 1);
    else
      unsetenv(name_);
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  const char* name_;
  bool had_ = false;
  std::string previous_;
};

// The system's language, as LC_ALL names it.
class ScopedLanguage : public ScopedEnvironment {
 public:
  explicit ScopedLanguage(const char* locale) : ScopedEnvironment("LC_ALL", locale) {}
};

}  // namespace orbek::testing
