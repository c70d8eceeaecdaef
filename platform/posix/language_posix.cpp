#include <cstdlib>
#include <string>

#include "platform/language.h"

namespace orbek::platform {

uint16_t SystemDefaultLanguageId() {
  const char* locale = nullptr;
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') {
      locale = value;
      break;
    }
  }
  if (locale == nullptr)
    return 0x0409;
  const std::string tag = std::string(locale).substr(0, 5);
  static const struct {
    const char* tag;
    uint16_t id;
  } kGerman[] = {{"de_DE", 0x0407},
                 {"de_CH", 0x0807},
                 {"de_AT", 0x0C07},
                 {"de_LU", 0x1007},
                 {"de_LI", 0x1407}};
  for (const auto& entry : kGerman) {
    if (tag == entry.tag)
      return entry.id;
  }
  return 0x0409;
}

}  // namespace orbek::platform
