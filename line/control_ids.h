// Control ids of form template 101, and the bitmaps of the line states.
#pragma once

namespace orbek::control {

inline constexpr int kInstruction1 = 1176;
inline constexpr int kInstruction2 = 1177;
inline constexpr int kInstruction3 = 1178;
inline constexpr int kInstruction4 = 1179;
inline constexpr int kInstruction5 = 1182;
inline constexpr int kWarning1 = 1171;
inline constexpr int kWarning2 = 1172;
inline constexpr int kWarning3 = 1173;
inline constexpr int kDurationNote = 1183;
inline constexpr int kCurrentVersionLabel = 1184;
inline constexpr int kFirmwareVersion = 1167;
inline constexpr int kWindowsVersion = 1192;
inline constexpr int kMacVersion = 1193;
inline constexpr int kUpdateVersionLabel = 1185;
// The versions of the release the updater brings.
inline constexpr int kReleaseFirmwareVersion = 1187;
inline constexpr int kReleaseWindowsVersion = 1190;
inline constexpr int kReleaseMacVersion = 1191;
inline constexpr int kPortLabel = 1174;
inline constexpr int kProgressLabel = 1186;
inline constexpr int kUpdateButton = 1008;

// Per line: line 0's visible control, then the hidden factory controls of lines 1 to 7.
inline constexpr int kStatus[8] = {1168, 1033, 1034, 1035, 1036, 1037, 1038, 1039};
inline constexpr int kPort[8] = {1166, 1001, 1002, 1003, 1004, 1005, 1006, 1007};
inline constexpr int kPercent[8] = {1101, 1102, 1103, 1104, 1105, 1106, 1107, 1108};
inline constexpr int kFirmware[8] = {1167, 1052, 1074, 1075, 1076, 1077, 1078, 1079};
// The factory tool's own controls, whose ids the form leaves to us: hidden in the product.
inline constexpr int kProgressBar[8] = {1024, 2001, 2002, 2003, 2004, 2005, 2006, 2007};
inline constexpr int kStatePicture[8] = {2010, 2011, 2012, 2013, 2014, 2015, 2016, 2017};
// The start and stop buttons of the lines are also their command ids; UPDATE is line 0's start.
inline constexpr int kStartButton[8] = {1008, 1009, 1010, 1011, 1012, 1013, 1014, 1015};
inline constexpr int kStopButton[8] = {1016, 1017, 1018, 1019, 1020, 1021, 1022, 1023};
inline constexpr int kLineSetting[8] = {2040, 2041, 2042, 2043, 2044, 2045, 2046, 2047};
inline constexpr int kSharedSettings[] = {2050, 2051, 2052};
// The NV directory and the default NV file, as the factory dialog's edit boxes show them.
inline constexpr int kNvDirectoryEdit = 2055;
inline constexpr int kDefaultNvFileEdit = 2056;
inline constexpr int kStartAll = 2060;
// The factory face's count of passed and failed operations since start, and start-all's word
// when no line was ready.
inline constexpr int kFactoryTally = 2061;
// The factory tool's NV settings: the radio buttons of nvMode's values 0 to 3, and the buttons
// that choose the NV directory and the default NV file.
inline constexpr int kNvModeRadio[4] = {2030, 2031, 2032, 2033};
inline constexpr int kChooseNvDirectory = 2057;
inline constexpr int kChooseDefaultNvFile = 2058;
inline constexpr int kStopAll = 1100;

// The index of `controlId` among controls of one kind (a line's kLineSetting, kStartButton, ...,
// or nvMode's radio button); -1 when it is none of them.
template <int kCount>
constexpr int IndexOf(const int (&controls)[kCount], int controlId) {
  for (int line = 0; line < kCount; ++line)
    if (controls[line] == controlId)
      return line;
  return -1;
}

// Bitmap resources of the line states.
inline constexpr int kBitmapFail = 149;
inline constexpr int kBitmapPass = 150;
inline constexpr int kBitmapReady = 151;
inline constexpr int kBitmapRunning = 152;

}  // namespace orbek::control
