// The texts of the form in its two languages, and its colour rule.
#pragma once

#include <cstdint>

#include "line/line_session.h"

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
// A port that is there but cannot be opened (Linux): the device, then the group it belongs to.
inline constexpr const char* kNoPermissionText =
    "No permission to open %s: add your user to the group %s (sudo usermod -aG %s $USER), log in "
    "again and reinsert the stick.";
inline constexpr const char* kNoPermissionTextGerman =
    "Keine Berechtigung für %s: Benutzer zur Gruppe %s hinzufügen (sudo usermod -aG %s $USER), "
    "neu anmelden und den Stick neu einstecken.";
inline constexpr const char* kPortInUseText =
    "%s is in use by another program (ModemManager or brltty?): stop it and reinsert the stick.";
inline constexpr const char* kPortInUseTextGerman =
    "%s wird von einem anderen Programm verwendet (ModemManager oder brltty?): beenden Sie es und "
    "stecken Sie den Stick neu ein.";
inline constexpr const char* kDownloadModeText =
    "The stick is in download mode: an earlier update did not finish. UPDATE writes the "
    "firmware again.";
inline constexpr const char* kDownloadModeTextGerman =
    "Das Gerät ist im Download-Modus: ein früheres Update wurde nicht beendet. UPDATE schreibt "
    "die Firmware neu.";
inline constexpr const char* kInterruptedText =
    "The update was interrupted: the stick must be updated again. Run this program again and "
    "press UPDATE; if the stick is not found, unplug it and plug it in again.";
inline constexpr const char* kInterruptedTextGerman =
    "Das Update wurde unterbrochen: das Gerät muss erneut aktualisiert werden. Starten Sie das "
    "Programm erneut und drücken Sie UPDATE; wird das Gerät nicht gefunden, stecken Sie es aus "
    "und wieder ein.";
inline constexpr const char* kReadyText = "Ready to start update.";
inline constexpr const char* kReadyTextGerman =
    "Fertig, bitte UPDATE drücken um den Prozess zu starten";
inline constexpr const char* kApplicationTitle = "Orbek Updater";

// What a factory line's start can run, in the order its setting field offers it: the field's
// caption (the terminal's English too), the terminal's German, and the production log's word.
struct OperationChoice {
  LineOperation operation;
  const char* caption;
  const char* german;
  const char* logName;
};
inline constexpr OperationChoice kOperationChoices[3] = {
    {kOperationUpdate, "Update", "Update", "update"},
    {kOperationNvBackup, "NV backup", "NV sichern", "nv backup"},
    {kOperationNvRestore, "NV restore", "NV zurückschreiben", "nv restore"}};
// The choice of an operation; the update's for any other.
constexpr const OperationChoice& ChoiceOf(int operation) {
  for (const OperationChoice& choice : kOperationChoices)
    if (choice.operation == operation)
      return choice;
  return kOperationChoices[0];
}
inline constexpr const char* kNvDirectoryDialogTitle = "Please choose the NV directory";

}  // namespace orbek
