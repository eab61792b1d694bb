// The tag vocabulary: for each tag a table of its attributes ({name, reader}), which both reads a
// tag's attributes and tells --check which ones the tag knows, and one row per tag that names
// its table and its handlers. The handlers themselves are in TagHandlers.cpp.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "script/CTimeLine.h"
#include "script/ScriptReader.h"

// What an attribute reader may use besides the value: the timeline and the tag being applied.
struct CTimeLine::TagParse {
  CTimeLine& tl;
  const TagRecord& tag;

  void Warn(const std::string& message) const { tl.Warn(message); }
  void Error(const std::string& message) const { tl.Error(message); }
  bool Exists(std::string_view name) const { return tl.Exists(name); }
  void CheckPicture(const char* what, std::string_view name) const { tl.CheckPicture(what, name); }
  std::int32_t Colour(const AttrSlot& a) const { return tl.Colour(tag, a); }
  // CONTRAST of IMAGE, TITLE and SCRTEXT.
  void ObjectContrast(std::string_view v, int* fade, std::int32_t* contrast) const {
    tl.ReadObjectContrast(kTagNames[tag.TagId], v, fade, contrast);
  }
};

// One tag: which attributes it knows and which handler applies it, in a show and in a SCRTEXT
// body. A tag without a handler somewhere does nothing there (and is warned about).
struct CTimeLine::TagRow {
  int tagId;
  bool (*knows)(std::string_view attribute);  // null: the tag takes no attribute
  int (CTimeLine::*apply)(TagRecord& record);
  int (CTimeLine::*applyInBody)(TagRecord& record);
  bool (*knowsInBody)(std::string_view attribute);  // null: as `knows`
};

namespace tagtable {

// CONTRAST fades of IMAGE, TITLE and SCRTEXT.
inline constexpr int kFadeNone = 0;
inline constexpr int kFadeIn = 1;
inline constexpr int kFadeOut = 2;
inline constexpr int kFadeInOut = 3;

// A contrast level 0 to 255 as a weight in bits 16 to 23.
std::int32_t Level(std::string_view v);
// Whether the value starts (after white space and a sign) with a digit.
bool IsInteger(std::string_view v);
// The value in double quotes, in UTF-8, for messages.
std::string Quoted(std::string_view v);

using TagParse = CTimeLine::TagParse;

// The parse state of a tag: the timeline and the tag, and what the attributes are read into
// (the event record, or the values its handler needs).
template <typename Into>
struct Parse : TagParse {
  Into& ev;
};

// One attribute of a tag: its name and the reader that puts the value where it belongs. A reader
// returns 0, or -1 for a value that is an error which ends the script.
template <typename P>
struct AttrRow {
  std::string_view name;
  int (*read)(P& p, const AttrSlot& a);
};

template <typename P>
using AttrTable = std::span<const AttrRow<P>>;

// Reads the tag's attributes that the table names, in the tag's order (a repeated one: the last
// wins). 0, or -1 when a reader reported an error; the attributes after it are not read.
template <typename P>
int ReadAttrs(AttrTable<P> rows, P& p) {
  for (const AttrSlot& a : p.tag.Attrs) {
    for (const AttrRow<P>& row : rows) {
      if (a.Is(row.name) && row.read(p, a) < 0) return -1;
    }
  }
  return 0;
}

// What each tag's attributes are read into, besides its event record.

struct DataParse : Parse<CTimeData> {
  bool hasTitle = false;
  bool hasVersion = false;
};

struct ClockSetting {
  int given = 0;  // 1 SET, 2 MOVE, 3 both
  std::int32_t value = 0;
};
using ClockParse = Parse<ClockSetting>;

using ScreenParse = Parse<CScreen>;
using BgMakeParse = Parse<CTimeBgMake>;

struct BgObject {
  CTimeBgMake& bg;
  int n;  // the object's slot
};
using ObjectParse = Parse<BgObject>;

// One axis of a background scroll: a position to go to, a distance to move, or both given (the
// distance wins).
struct BgAxis {
  double posValue = 0;
  double moveValue = 0;
  bool posGiven = false;
  bool moveGiven = false;
};

struct BgScrollParse : Parse<CTimeBgScroll> {
  BgAxis axes[3] = {};
};

struct BgmParse : Parse<CTimeBgm> {
  std::int32_t stopDelay = 0;
  bool fileGiven = false;
};

struct ImageParse : Parse<CTimeImage> {
  int fade = kFadeNone;
};

struct TitleParse : Parse<CTimeTitle> {
  int fade = kFadeNone;
};

struct ScrTextParse : Parse<CTimeScroll> {
  int fade = kFadeNone;
  bool picture = false;  // BmpNo is a picture given with BITMAP
};

using CaptionParse = Parse<CTimeCaption>;
using SolidParse = Parse<CTimeSolid>;

struct ScheduleParse : Parse<CTimeSchedule> {
  std::int32_t start = 0;  // milliseconds after the clock
};

struct FontArgs {
  std::optional<std::string> name, file, assign;
};
using FontParse = Parse<FontArgs>;

struct FormatArgs {
  std::optional<std::string> font, size, style, colspan, rowspan, align;
};
using FormatParse = Parse<FormatArgs>;

struct BreakArgs {
  std::optional<std::string> row;
};
using BreakParse = Parse<BreakArgs>;

// The attribute tables.
extern const AttrTable<DataParse> kDataAttrs;
extern const AttrTable<ClockParse> kClockAttrs;
extern const AttrTable<ScreenParse> kScreenAttrs;
extern const AttrTable<BgMakeParse> kBgMakeAttrs;
extern const AttrTable<ObjectParse> kObjectAttrs;
extern const AttrTable<BgScrollParse> kBgScrollAttrs;  // BGSCROLL and BGSET
extern const AttrTable<BgScrollParse> kBgMoveAttrs;
extern const AttrTable<BgmParse> kBgmAttrs;
extern const AttrTable<ImageParse> kImageAttrs;
extern const AttrTable<TitleParse> kTitleAttrs;
extern const AttrTable<ScrTextParse> kScrTextAttrs;
extern const AttrTable<CaptionParse> kCaptionAttrs;
extern const AttrTable<SolidParse> kSolidAttrs;
extern const AttrTable<ScheduleParse> kScheduleAttrs;      // SET and MOVE in a TITLE or IMAGE block
extern const AttrTable<ScheduleParse> kBodyScheduleAttrs;  // SET and MOVE in a SCRTEXT body
extern const AttrTable<FontParse> kReadFontAttrs;
extern const AttrTable<FormatParse> kFormatAttrs;
extern const AttrTable<BreakParse> kBrAttrs;

}  // namespace tagtable
