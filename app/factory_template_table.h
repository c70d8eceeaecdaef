/* The factory template: every control of the factory face with its id, kind, place in dialog
   units (Tahoma 9 pt, as form template 101) and caption, in reading order, which is also the
   order the keyboard's Tab follows. Preprocessor only: the C++ table (app/form_template.h) and
   the Windows program's resources (ui/win32/updater.rc) both expand it, each with its own
   ORBEK_FACTORY_CONTROL(id, kind, x, y, width, height, caption). A combo box's height is its
   closed box's; the resources add the height of its list. Saved as UTF-8. */
#ifndef ORBEK_APP_FACTORY_TEMPLATE_TABLE_H
#define ORBEK_APP_FACTORY_TEMPLATE_TABLE_H

#define ORBEK_FACTORY_TEMPLATE_WIDTH 720
#define ORBEK_FACTORY_TEMPLATE_HEIGHT 268

/* One line's row, `top` dialog units from the form's top. */
#define ORBEK_FACTORY_ROW(number, top, picture, port, firmware, bar, percent, status, setting, \
                          start, stop)                                                         \
  ORBEK_FACTORY_CONTROL(-1, Text, 6, (top) + 7, 24, 8, "Line" #number)                         \
  ORBEK_FACTORY_CONTROL(picture, Picture, 32, (top) + 2, 18, 18, "")                           \
  ORBEK_FACTORY_CONTROL(port, Text, 54, (top) + 7, 84, 8, "NULL")                              \
  ORBEK_FACTORY_CONTROL(firmware, Text, 142, (top) + 7, 114, 8, "NULL")                        \
  ORBEK_FACTORY_CONTROL(bar, ProgressBar, 260, (top) + 5, 68, 12, "")                          \
  ORBEK_FACTORY_CONTROL(percent, RightText, 330, (top) + 7, 22, 8, "")                         \
  ORBEK_FACTORY_CONTROL(status, Text, 356, (top) + 7, 206, 8, "")                              \
  ORBEK_FACTORY_CONTROL(setting, Combo, 566, (top) + 4, 50, 14, "")                            \
  ORBEK_FACTORY_CONTROL(start, Button, 620, (top) + 4, 46, 14, "Start")                        \
  ORBEK_FACTORY_CONTROL(stop, Button, 670, (top) + 4, 46, 14, "Stop")

#define ORBEK_FACTORY_CONTROLS                                                    \
  ORBEK_FACTORY_CONTROL(2030, FirstRadio, 6, 6, 170, 10, "No bakup NV")           \
  ORBEK_FACTORY_CONTROL(2031, Radio, 180, 6, 170, 10, "Only restore RF NV")       \
  ORBEK_FACTORY_CONTROL(2032, Radio, 354, 6, 170, 10, "Restore RF NV and IMEI")   \
  ORBEK_FACTORY_CONTROL(2033, Radio, 528, 6, 170, 10, "不备份,装载缺省NV文件")    \
  ORBEK_FACTORY_CONTROL(2057, Button, 6, 20, 170, 14, "nv bakup path")            \
  ORBEK_FACTORY_CONTROL(2055, Edit, 180, 20, 536, 14, "")                         \
  ORBEK_FACTORY_CONTROL(2058, Button, 6, 38, 170, 14, "缺省NV文件")               \
  ORBEK_FACTORY_CONTROL(2056, Edit, 180, 38, 536, 14, "")                         \
  ORBEK_FACTORY_CONTROL(2060, Button, 6, 56, 50, 14, "Start all")                 \
  ORBEK_FACTORY_CONTROL(1100, Button, 60, 56, 50, 14, "Stop all")                 \
  ORBEK_FACTORY_CONTROL(2061, Text, 116, 59, 400, 8, "")                          \
  ORBEK_FACTORY_ROW(1, 72, 2010, 1166, 1167, 1024, 1101, 1168, 2040, 1008, 1016)  \
  ORBEK_FACTORY_ROW(2, 96, 2011, 1001, 1052, 2001, 1102, 1033, 2041, 1009, 1017)  \
  ORBEK_FACTORY_ROW(3, 120, 2012, 1002, 1074, 2002, 1103, 1034, 2042, 1010, 1018) \
  ORBEK_FACTORY_ROW(4, 144, 2013, 1003, 1075, 2003, 1104, 1035, 2043, 1011, 1019) \
  ORBEK_FACTORY_ROW(5, 168, 2014, 1004, 1076, 2004, 1105, 1036, 2044, 1012, 1020) \
  ORBEK_FACTORY_ROW(6, 192, 2015, 1005, 1077, 2005, 1106, 1037, 2045, 1013, 1021) \
  ORBEK_FACTORY_ROW(7, 216, 2016, 1006, 1078, 2006, 1107, 1038, 2046, 1014, 1022) \
  ORBEK_FACTORY_ROW(8, 240, 2017, 1007, 1079, 2007, 1108, 1039, 2047, 1015, 1023)

#endif
