// The tag table: 36 names numbered by position; the number is also the Kind of events.
#pragma once

#include <cstdint>

enum TagId : std::uint8_t {
  kTagNone = 0,
  kTagData = 1,
  kTagDataEnd = 2,
  kTagBgMake = 3,
  kTagBgMakeEnd = 4,
  kTagObject = 5,
  kTagBgScroll = 6,
  kTagBgSet = 7,
  kTagBgMove = 8,
  kTagBgm = 9,
  kTagScreen = 10,
  kTagImage = 11,
  kTagImageEnd = 12,
  kTagClock = 13,
  kTagSolid = 14,
  kTagClear = 15,
  kTagTitle = 16,
  kTagTitleEnd = 17,
  kTagScrText = 18,
  kTagScrTextEnd = 19,
  kTagReadFont = 20,
  kTagNoDisp = 21,
  kTagNoDispEnd = 22,
  kTagFormat = 23,
  kTagFormatEnd = 24,
  kTagCaption = 25,
  kTagCaptionEnd = 26,
  kTagScheduleS = 27,
  kTagScheduleT = 28,
  kTagScheduleI = 29,  // spelled "SHCEDULE_I" in the table
  kTagSet = 30,
  kTagMove = 31,
  kTagBr = 32,
  kTagP = 33,
  kTagSpc = 34,
  kTagEnd = 35,
};

inline constexpr int kTagCount = 36;
inline constexpr const char* kTagNames[kTagCount] = {
    "NONE",     "DATA",     "/DATA",    "BGMAKE",     "/BGMAKE",    "OBJECT",
    "BGSCROLL", "BGSET",    "BGMOVE",   "BGM",        "SCREEN",     "IMAGE",
    "/IMAGE",   "CLOCK",    "SOLID",    "CLEAR",      "TITLE",      "/TITLE",
    "SCRTEXT",  "/SCRTEXT", "READFONT", "NODISP",     "/NODISP",    "FORMAT",
    "/FORMAT",  "CAPTION",  "/CAPTION", "SCHEDULE_S", "SCHEDULE_T", "SHCEDULE_I",
    "SET",      "MOVE",     "BR",       "P",          "SPC",        "END"};
