// The texts of the form in its two languages, and its colour rule.
#pragma once

#include <cstdint>

namespace orbek {

struct LanguageText {
  int controlId;
  const char* english;
  const char* german;
};

// The thirteen texts, in the order they are written into the form.
extern const LanguageText kLanguageTexts[13];

// German only when the system's default language is German (Germany), 0x0407.
bool UseGermanFor(uint16_t languageId);

// The colour a control asks for: the three warnings are red on a transparent background; every
// other control keeps the form's defaults (nullptr).
struct ControlColour {
  int controlId;
  uint8_t red, green, blue;
  bool transparentBackground;
};
const ControlColour* ColourOf(int controlId);

// Texts the port search shows.
inline constexpr const char* kSearchingText = "Searching communication ports...";
inline constexpr const char* kSearchingTextGerman = "Gerät wird gesucht...";
inline constexpr const char* kReadyText = "Ready to start update.";
inline constexpr const char* kReadyTextGerman =
    "Fertig, bitte UPDATE drücken um den Prozess zu starten";
inline constexpr const char* kApplicationTitle = "Orbek Updater";

}  // namespace orbek
