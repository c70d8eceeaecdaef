// The system's language for the length of a scope, as LC_ALL names it.
#pragma once

#include <stdlib.h>

#include <string>

namespace orbek::testing {

class ScopedLanguage {
 public:
  explicit ScopedLanguage(const char* locale) {
    const char* previous = std::getenv("LC_ALL");
    had_ = previous != nullptr;
    previous_ = had_ ? previous : "";
    setenv("LC_ALL", locale, 1);
  }
  ~ScopedLanguage() {
    if (had_)
      setenv("LC_ALL", previous_.c_str(), 1);
    else
      unsetenv("LC_ALL");
  }
  ScopedLanguage(const ScopedLanguage&) = delete;
  ScopedLanguage& operator=(const ScopedLanguage&) = delete;

 private:
  bool had_ = false;
  std::string previous_;
};

}  // namespace orbek::testing
