// Form template 101: the visible controls of the form with their ids, kinds, positions in
// dialog units and template texts, and the dialog base units of its font (Tahoma 9 pt). The
// window faces build the form from it; the hidden factory controls are not in it.
// The factory template: every line's row and the NV settings, from the table the Windows
// program's resources are made of too.
#pragma once

#include <array>
#include <span>

#include "app/factory_template_table.h"
#include "line/control_ids.h"
#include "line/line_session.h"
#include "package/release_data.h"

namespace orbek::form_template {

enum class Kind {
  Text,         // a static text, left-aligned, clipped
  CentredText,  // a static text, centred
  ProgressBar,  // smooth, bordered, 0..100
  FlatButton,   // a flat push button
  // The factory template's own.
  RightText,   // a static text, right-aligned
  Picture,     // a state bitmap, centred
  Button,      // a push button
  FirstRadio,  // a radio button that begins its group
  Radio,       // a radio button of the group before it
  Edit,        // a read-only, single-line edit box
  Combo,       // a drop-down list (what a line's start runs)
};

struct Control {
  int id;
  Kind kind;
  int x, y, width, height;  // dialog units
  const char* text;         // the template's text
};

inline constexpr int kWidth = 461;
inline constexpr int kHeight = 269;
inline constexpr const char* kFontFace = "Tahoma";
inline constexpr int kFontPoints = 9;
// Dialog base units of the font: one horizontal unit is a quarter, one vertical unit an eighth.
inline constexpr int kBaseUnitX = 7;
inline constexpr int kBaseUnitY = 14;

inline constexpr std::array<Control, 24> kControls = {{
    {1176, Kind::Text, 6, 10, 417, 12, ""},
    {1177, Kind::Text, 6, 24, 438, 12, ""},
    {1178, Kind::Text, 6, 38, 431, 12, ""},
    {1179, Kind::Text, 6, 52, 454, 12, ""},
    {1182, Kind::Text, 6, 66, 438, 12, ""},
    {1171, Kind::Text, 6, 80, 429, 12, ""},
    {1172, Kind::Text, 6, 94, 454, 12, ""},
    {1173, Kind::Text, 6, 108, 433, 12, ""},
    {1183, Kind::Text, 6, 122, 404, 12, ""},
    {1184, Kind::Text, 6, 141, 80, 8, ""},
    {1167, Kind::Text, 94, 141, 133, 8, "Searching..."},
    {1192, Kind::Text, 94, 151, 138, 8, "NULL"},
    {1193, Kind::Text, 94, 161, 114, 8, "NULL"},
    {1185, Kind::Text, 6, 174, 62, 10, ""},
    {1187, Kind::Text, 94, 174, 121, 8, ORBEK_RELEASE_FIRMWARE " (Firmware)"},
    {1190, Kind::Text, 94, 185, 111, 8, ORBEK_RELEASE_WINDOWS " (Windows)"},
    {1191, Kind::Text, 94, 196, 114, 8, ORBEK_RELEASE_MAC " (Mac)"},
    {1174, Kind::Text, 6, 210, 78, 8, ""},
    {1166, Kind::Text, 94, 210, 258, 10, "Searching..."},
    {1168, Kind::Text, 6, 222, 364, 11, "Waiting..."},
    {1186, Kind::Text, 6, 235, 33, 8, ""},
    {1101, Kind::CentredText, 74, 235, 57, 12, ""},
    {1024, Kind::ProgressBar, 5, 251, 449, 14, ""},
    {1008, Kind::FlatButton, 379, 178, 67, 44, "UPDATE"},
}};

inline constexpr int kFactoryWidth = ORBEK_FACTORY_TEMPLATE_WIDTH;
inline constexpr int kFactoryHeight = ORBEK_FACTORY_TEMPLATE_HEIGHT;
inline constexpr Control kFactoryControls[] = {
#define ORBEK_FACTORY_CONTROL(id, kind, x, y, width, height, caption) \
  {id, Kind::kind, x, y, width, height, caption},
    ORBEK_FACTORY_CONTROLS
#undef ORBEK_FACTORY_CONTROL
};

// The template's ids are the program's control ids: every line's row, in the lines' order.
consteval bool FactoryRowsAreTheLines() {
  int line = 0;
  for (const Control& control : kFactoryControls) {
    if (control.kind != Kind::Picture)
      continue;
    const Control* row = &control;
    const int ids[] = {
        control::kStatePicture[line], control::kPort[line],        control::kFirmware[line],
        control::kProgressBar[line],  control::kPercent[line],     control::kStatus[line],
        control::kLineSetting[line],  control::kStartButton[line], control::kStopButton[line]};
    for (int id : ids)
      if ((row++)->id != id)
        return false;
    ++line;
  }
  return line == kLineCount;
}
static_assert(FactoryRowsAreTheLines());

// The template of a face: the factory's or form template 101.
inline std::span<const Control> ControlsOf(bool severalLines) {
  if (severalLines)
    return kFactoryControls;
  return kControls;
}

// Dialog units to pixels as the dialog manager places a control of a template: x, y, width and
// height each converted on its own, rounded to the nearest pixel.
constexpr int MulDivRounded(int value, int numerator, int denominator) {
  const long long product = static_cast<long long>(value) * numerator;
  return static_cast<int>((product + denominator / 2) / denominator);
}
struct PixelRect {
  int x, y, width, height;
};
constexpr PixelRect ToPixels(int x, int y, int width, int height) {
  return {MulDivRounded(x, kBaseUnitX, 4), MulDivRounded(y, kBaseUnitY, 8),
          MulDivRounded(width, kBaseUnitX, 4), MulDivRounded(height, kBaseUnitY, 8)};
}

}  // namespace orbek::form_template
