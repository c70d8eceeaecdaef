#include "line/form_texts.h"

#include "line/control_ids.h"

namespace orbek {

const LanguageText kLanguageTexts[13] = {
    {control::kInstruction1,
     "This update tool is compatible with Windows XP (SP2/SP3), Windows Vista (SP1/SP2) and "
     "Windows 7.",
     "Dieses Update-Programm ist kompatibel mit Windows XP (SP2/SP3), Windows Vista (SP1/SP2) und "
     "Windows 7."},
    {control::kInstruction2, "Follow these steps to update your USB Stick:",
     "Bitte führen Sie folgende Schritte zum aktualisieren des Orbek durch:"},
    {control::kInstruction3, "1. Remove the SIM card from the stick then insert the stick.",
     "1. Bitte entnehmen Sie vor dem Update die SIM-Karte und stecken das Orbek erneut ein."},
    {control::kInstruction4,
     "2. Wait until this tool automatically detects the stick and the \"UPDATE\" button becomes "
     "available.",
     "2. Bitte warten Sie bis das System den Orbek erkannt hat. Sobald das Gerät erkannt wurde, "
     "wird die Schaltfläche für die Aktualisierung aktiviert."},
    {control::kInstruction5, "3. Click the UPDATE button to start the update.",
     "3. Durch klicken auf \"UPDATE\" wird die Aktualisierung gestartet."},
    {control::kWarning1,
     "Do not switch off your computer or start any other applications until the update is "
     "complete.",
     "Bitte schalten Sie während des Update-Prozesses den Computer nicht aus oder starten "
     "irgendwelche Anwendungen."},
    {control::kWarning2,
     "The update will fail if your computer goes to sleep, standby or hibernates during the "
     "update. Make sure it is connected to mains power.",
     "Bitte stellen Sie eine permanente Stromversorgung für den PC/Laptop sicher. Bitte "
     "deaktivieren Sie unbedingt den Standbybetrieb/Ruhemodus."},
    {control::kWarning3, "Do not insert or remove any USB devices until the update is complete.",
     "Stecken oder entfernen Sie bitte während des Updates keine Geräte."},
    {control::kDurationNote, "The update should take approximately 15 minutes to complete.",
     "Im Durchschnitt benötigt der Update-Prozess ca. 15 Minuten. Dieses ist abhängig vom "
     "PC/Laptop."},
    {control::kPortLabel, "Port information:", "Port Information:"},
    {control::kCurrentVersionLabel, "Current version:", "Bisherige Version:"},
    {control::kProgressLabel, "Progress", "Fortschritt:"},
    {control::kUpdateVersionLabel, "Update version:", "Neue Version:"},
};

bool UseGermanFor(uint16_t languageId) {
  return languageId == 0x0407;
}

const ControlColour* ColourOf(int controlId) {
  static const ControlColour kWarnings[] = {
      {control::kWarning1, 255, 40, 0, true},
      {control::kWarning2, 255, 40, 0, true},
      {control::kWarning3, 255, 40, 0, true},
  };
  for (const ControlColour& colour : kWarnings) {
    if (colour.controlId == controlId)
      return &colour;
  }
  return nullptr;
}

}  // namespace orbek
