// The tag vocabulary (one table of attributes per tag, which both reads the attributes and tells
// --check which ones a tag knows), the tag dispatcher and the handlers that turn tokenised tags
// into timeline events.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>

#include "platform/Cp932.h"
#include "platform/FieldCopy.h"
#include "render/CMonoBmp.h"
#include "script/CScrText.h"
#include "script/CTimeLine.h"
#include "script/CaptionSink.h"
#include "script/MusicPreloader.h"
#include "script/ScriptValues.h"
#include "settings/CMainCtl.h"

namespace {

constexpr int kFadeNone = 0;
constexpr int kFadeIn = 1;
constexpr int kFadeOut = 2;
constexpr int kFadeInOut = 3;
constexpr std::int32_t kFadeMs = 500;
constexpr int kFileNameChars = 60;
constexpr int kBgFileNameChars = 63;
constexpr int kScreenUnity = 0x10000;

std::int32_t Level(std::string_view v) {
  return (Integer(v) & 255) * 65536;
}

std::string Text(std::string_view v) {
  return std::string(v);
}

bool IsInteger(std::string_view v) {
  std::size_t i = 0;
  while (i < v.size() && (v[i] == ' ' || (v[i] >= '\t' && v[i] <= '\r'))) ++i;
  if (i < v.size() && (v[i] == '+' || v[i] == '-')) ++i;
  return i < v.size() && v[i] >= '0' && v[i] <= '9';
}

std::string Quoted(std::string_view v) {
  return "\"" + Cp932ToUtf8(v) + "\"";
}

std::int32_t AddMs(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

std::int32_t TickOf(std::int32_t ms) {
  return ms / kTickMs;
}

}  // namespace

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

namespace {

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

template <typename P, std::size_t N>
bool Knows(const AttrRow<P> (&rows)[N], std::string_view name) {
  return std::any_of(std::begin(rows), std::end(rows),
                     [&](const AttrRow<P>& row) { return row.name == name; });
}

// Reads the tag's attributes that the table names, in the tag's order (a repeated one: the last
// wins). 0, or -1 when a reader reported an error; the attributes after it are not read.
template <typename P, std::size_t N>
int ReadAttrs(const AttrRow<P> (&rows)[N], P& p) {
  for (const AttrSlot& a : p.tag.Attrs) {
    for (const AttrRow<P>& row : rows) {
      if (a.Is(row.name) && row.read(p, a) < 0) return -1;
    }
  }
  return 0;
}

// The value read with `Read` into the field that the member pointers lead to from the record.
// (The fold applies the member pointers in turn: p.ev .* Field1 .* Field2.)
template <auto Read, auto... Field, typename P>
int Into(P& p, const AttrSlot& a) {
  (p.ev.*....*Field) = Read(a.ValueView());
  return 0;
}

// A colour (warned about when it is neither a colour name nor RRGGBB) into a field of the record.
template <auto... Field, typename P>
int ColourInto(P& p, const AttrSlot& a) {
  (p.ev.*....*Field) = p.Colour(a);
  return 0;
}

// ---- DATA, CLOCK, SCREEN --------------------------------------------------------------------

struct DataParse : Parse<CTimeData> {
  bool hasTitle = false;
  bool hasVersion = false;
};

constexpr AttrRow<DataParse> kDataAttrs[] = {
    {"TITLE",
     [](DataParse& p, const AttrSlot& a) {
       CopyField(p.ev.Title, a.ValueView(), kScriptTitleChars);
       p.hasTitle = true;
       return 0;
     }},
    {"VERSION",
     [](DataParse& p, const AttrSlot& a) {
       p.ev.Version = TruncToInt32(Real(a.ValueView()) * 100.0);
       p.hasVersion = true;
       return 0;
     }},
};

struct ClockSetting {
  int given = 0;  // 1 SET, 2 MOVE, 3 both
  std::int32_t value = 0;
};
using ClockParse = Parse<ClockSetting>;

constexpr AttrRow<ClockParse> kClockAttrs[] = {
    {"SET",
     [](ClockParse& p, const AttrSlot& a) {
       p.ev.value = TimeMs(a.ValueView());
       p.ev.given |= 1;
       return 0;
     }},
    {"MOVE",
     [](ClockParse& p, const AttrSlot& a) {
       p.ev.value = TimeMs(a.ValueView());
       p.ev.given |= 2;
       return 0;
     }},
};

using ScreenParse = Parse<CScreen>;

int ReadScreenContrast(ScreenParse& p, const AttrSlot& a) {
  const std::string k = Keyword(a.ValueView());
  if (k == "FADEIN") {
    p.ev.FromContrast = 0;
    p.ev.ToContrast = kScreenUnity;
  } else if (k == "FADEOUT") {
    p.ev.FromContrast = kScreenUnity;
    p.ev.ToContrast = 0;
  } else if (k == "LOW") {
    p.ev.ToContrast = 0;
  } else if (k == "HIGH") {
    p.ev.ToContrast = kScreenUnity;
  } else {
    if (!IsInteger(a.ValueView())) {
      p.Warn("<SCREEN CONTRAST> " + Quoted(a.ValueView()) + " is neither a keyword nor a number");
    }
    p.ev.ToContrast = Level(a.ValueView());
  }
  return 0;
}

constexpr AttrRow<ScreenParse> kScreenAttrs[] = {
    {"CONTRAST", ReadScreenContrast},
    {"TIME", Into<TimeMs, &CScreen::Time>},
};

// ---- Background and sound: BGMAKE, OBJECT, BGSCROLL, BGSET, BGMOVE, BGM -----------------------

// A picture of the background; "*NOTFOUND" when the file does not exist.
void ReadBgPicture(const TagParse& p, const char* what, char (&field)[64], std::string_view v) {
  p.CheckPicture(what, v);
  CopyField(field, p.Exists(v) ? v : std::string_view("*NOTFOUND"), kBgFileNameChars);
}

using BgMakeParse = Parse<CTimeBgMake>;

constexpr AttrRow<BgMakeParse> kBgMakeAttrs[] = {
    {"BGFILE",
     [](BgMakeParse& p, const AttrSlot& a) {
       ReadBgPicture(p, "<BGMAKE BGFILE>", p.ev.FileName, a.ValueView());
       return 0;
     }},
    {"BGCOLOR", ColourInto<&CTimeBgMake::BgColor>},
};

struct BgObject {
  CTimeBgMake& bg;
  int n;  // the object's slot
};
using ObjectParse = Parse<BgObject>;

constexpr AttrRow<ObjectParse> kObjectAttrs[] = {
    {"FILE",
     [](ObjectParse& p, const AttrSlot& a) {
       ReadBgPicture(p, "<OBJECT FILE>", p.ev.bg.ResName[p.ev.n], a.ValueView());
       return 0;
     }},
    {"XPOS",
     [](ObjectParse& p, const AttrSlot& a) {
       p.ev.bg.ResPos[p.ev.n].x = Integer(a.ValueView());
       return 0;
     }},
    {"YPOS",
     [](ObjectParse& p, const AttrSlot& a) {
       p.ev.bg.ResPos[p.ev.n].y = Integer(a.ValueView());
       return 0;
     }},
    {"TRANS",
     [](ObjectParse& p, const AttrSlot& a) {
       p.ev.bg.ResPalent[p.ev.n] = p.Colour(a);
       return 0;
     }},
};

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

template <int Axis>
int AxisPos(BgScrollParse& p, const AttrSlot& a) {
  p.axes[Axis].posValue = Real(a.ValueView());
  p.axes[Axis].posGiven = true;
  return 0;
}

template <int Axis>
int AxisMove(BgScrollParse& p, const AttrSlot& a) {
  p.axes[Axis].moveValue = Real(a.ValueView());
  p.axes[Axis].moveGiven = true;
  return 0;
}

// BGSCROLL and BGSET.
constexpr AttrRow<BgScrollParse> kBgScrollAttrs[] = {
    {"XPOS", AxisPos<0>},
    {"XMOVE", AxisMove<0>},
    {"YPOS", AxisPos<1>},
    {"YMOVE", AxisMove<1>},
    {"ZPOS", AxisPos<2>},
    {"ZMOVE", AxisMove<2>},
    {"TIME", Into<TimeMs, &CTimeBgScroll::Time>},
    {"ACC", Into<Integer, &CTimeBgScroll::Acc>},
    {"DEC", Into<Integer, &CTimeBgScroll::Dec>},
};

// BGMOVE: every axis moves, whichever name it is given with.
constexpr AttrRow<BgScrollParse> kBgMoveAttrs[] = {
    {"XPOS", AxisMove<0>},
    {"XMOVE", AxisMove<0>},
    {"YPOS", AxisMove<1>},
    {"YMOVE", AxisMove<1>},
    {"ZPOS", AxisMove<2>},
    {"ZMOVE", AxisMove<2>},
    {"TIME", Into<TimeMs, &CTimeBgScroll::Time>},
};

struct BgmParse : Parse<CTimeBgm> {
  std::int32_t stopDelay = 0;
  bool fileGiven = false;
};

int ReadBgmFile(BgmParse& p, const AttrSlot& a) {
  p.fileGiven = true;
  p.ev.FileName[0] = 0;
  const std::string name = a.ValueText();
  if (!p.Exists(name)) {
    p.Warn("<BGM FILE> sound file " + Quoted(name) + " does not exist");
  } else if (CMainCtl::FileTypeOf(name) != 4) {
    p.Warn("<BGM FILE> " + Quoted(name) + " is not a .wav, .mp3 or .mid sound file");
  } else {
    CopyField(p.ev.FileName, name, kFileNameChars);
  }
  return 0;
}

int ReadBgmMode(BgmParse& p, const AttrSlot& a) {
  const std::string k = Keyword(a.ValueView());
  if (k == "START") {
    p.ev.Switch = kBgmStart;
  } else if (k == "STOP") {
    p.ev.Switch = kBgmStop;
  } else {
    p.Error("<BGM MODE> 指定されたオプション " + Cp932ToUtf8(a.ValueView()) + " は無効です");
    return -1;
  }
  return 0;
}

constexpr AttrRow<BgmParse> kBgmAttrs[] = {
    {"FILE", ReadBgmFile},
    {"MODE", ReadBgmMode},
    {"TIME",
     [](BgmParse& p, const AttrSlot& a) {
       p.stopDelay = TimeMs(a.ValueView());
       return 0;
     }},
};

// ---- Display objects: IMAGE, TITLE, SCRTEXT, CAPTION, SOLID ----------------------------------

struct ImageParse : Parse<CTimeImage> {
  int fade = kFadeNone;
};

int ReadImageFile(ImageParse& p, const AttrSlot& a) {
  const std::string_view v = a.ValueView();
  if (!v.empty() && v[0] == '*') {
    CopyField(p.ev.FileName, v);
  } else if (!p.Exists(v)) {
    p.CheckPicture("<IMAGE FILE>", v);
    p.ev.FileName[0] = 0;
  } else {
    p.CheckPicture("<IMAGE FILE>", v);
    CopyField(p.ev.FileName, v, kFileNameChars);
  }
  return 0;
}

int ReadImageReverse(ImageParse& p, const AttrSlot& a) {
  const std::string k = Keyword(a.ValueView());
  if (k == "HORIZON") {
    p.ev.Reverse = 1;
  } else if (k == "VERTICAL") {
    p.ev.Reverse = 2;
  } else {
    p.Warn("<IMAGE REVERSE> " + Quoted(a.ValueView()) +
           " is not HORIZON or VERTICAL and is ignored");
  }
  return 0;
}

int ReadImageOperation(ImageParse& p, const AttrSlot& a) {
  const std::string k = Keyword(a.ValueView());
  if (k == "COPY") {
    p.ev.Operation = 1;
  } else if (k == "PAINT") {
    p.ev.Operation = 2;
  } else {
    p.Warn("<IMAGE OPERATION> " + Quoted(a.ValueView()) + " is not COPY or PAINT and is ignored");
  }
  return 0;
}

int ReadImageQuality(ImageParse& p, const AttrSlot& a) {
  const bool high = Keyword(a.ValueView()) == "HIGH";
  p.ev.Quality = high ? 4 : 3;
  if (!high) {
    p.Warn("<IMAGE QUALITY> " + Quoted(a.ValueView()) + " is not HIGH and reads as normal quality");
  }
  return 0;
}

constexpr AttrRow<ImageParse> kImageAttrs[] = {
    {"FILE", ReadImageFile},
    {"STRING",
     [](ImageParse& p, const AttrSlot& a) {
       p.ev.String = std::make_unique<std::string>(a.ValueView());
       return 0;
     }},
    {"XPOS", Into<Real, &CTimeImage::Point, &Point3::x>},
    {"YPOS", Into<Real, &CTimeImage::Point, &Point3::y>},
    {"ZPOS",
     [](ImageParse& p, const AttrSlot& a) {
       p.ev.Point.z = Real(a.ValueView()) + kFocalDistance;
       return 0;
     }},
    {"BGXPOS", Into<Real, &CTimeImage::BgPos, &Point3::x>},
    {"BGYPOS", Into<Real, &CTimeImage::BgPos, &Point3::y>},
    {"BGZPOS", Into<Real, &CTimeImage::BgPos, &Point3::z>},
    {"TRANS", ColourInto<&CTimeImage::Trans>},
    {"REVERSE", ReadImageReverse},
    {"ANGLE", Into<Radians, &CTimeImage::Angle>},
    {"SIZE", Into<Factor, &CTimeImage::Size>},
    {"CONTRAST",
     [](ImageParse& p, const AttrSlot& a) {
       p.ObjectContrast(a.ValueView(), &p.fade, &p.ev.Contrast);
       return 0;
     }},
    {"OPERATION", ReadImageOperation},
    {"QUALITY", ReadImageQuality},
    {"TIME", Into<TimeMs, &CTimeImage::Time>},
};

struct TitleParse : Parse<CTimeTitle> {
  int fade = kFadeNone;
};

int ReadTitleFile(TitleParse& p, const AttrSlot& a) {
  std::string name = a.ValueText();
  const int no = p.tl.TitleLayer ? p.tl.TitleLayer->LoadTextBitmap(name, kKindTitle) : -1;
  if (no < 0) {
    p.Error("<TITLE FILE> 指定された Bitmap ファイルが異常です");
    return -1;
  }
  if (name.empty()) {
    p.Warn("<TITLE FILE> picture file " + Quoted(a.ValueView()) + " could not be loaded");
  }
  p.ev.BmpNo = no;
  CopyField(p.ev.FileName, name, kFileNameChars);
  return 0;
}

constexpr AttrRow<TitleParse> kTitleAttrs[] = {
    {"FILE", ReadTitleFile},
    {"POS", Into<Real, &CTimeTitle::ZPos>},
    {"SPEED", Into<Real, &CTimeTitle::ZPosPlus>},
    {"TIME", Into<TimeMs, &CTimeTitle::Time>},
    {"COLOR", ColourInto<&CTimeTitle::Color>},
    {"CONTRAST",
     [](TitleParse& p, const AttrSlot& a) {
       p.ObjectContrast(a.ValueView(), &p.fade, &p.ev.Contrast);
       return 0;
     }},
};

struct ScrTextParse : Parse<CTimeScroll> {
  int fade = kFadeNone;
  bool picture = false;  // BmpNo is a picture given with BITMAP
};

int ReadScrTextBitmap(ScrTextParse& p, const AttrSlot& a) {
  if (Keyword(a.ValueView()) == "AUTO") {
    p.picture = false;
    return 0;
  }
  std::string name = a.ValueText();
  const int no = p.tl.TextLayer ? p.tl.TextLayer->LoadTextBitmap(name, kKindScrText) : -1;
  if (no < 0) {
    p.Error("<TEXT BITMAP> 指定された Bitmap ファイルが異常です");
    return 0;
  }
  if (name.empty()) {
    p.Warn("<SCRTEXT BITMAP> picture file " + Quoted(a.ValueView()) + " could not be loaded");
  }
  p.ev.BmpNo = no;
  p.picture = true;
  return 0;
}

constexpr AttrRow<ScrTextParse> kScrTextAttrs[] = {
    {"BITMAP", ReadScrTextBitmap},
    {"COLOR", ColourInto<&CTimeScroll::Color>},
    {"SPEED", Into<Integer, &CTimeScroll::Speed>},
    {"TIME", Into<TimeMs, &CTimeScroll::Time>},
    {"CONTRAST",
     [](ScrTextParse& p, const AttrSlot& a) {
       p.ObjectContrast(a.ValueView(), &p.fade, &p.ev.Contrast);
       return 0;
     }},
};

using CaptionParse = Parse<CTimeCaption>;

constexpr AttrRow<CaptionParse> kCaptionAttrs[] = {
    {"TIME", Into<TimeMs, &CTimeCaption::Time>},
};

using SolidParse = Parse<CTimeSolid>;

constexpr AttrRow<SolidParse> kSolidAttrs[] = {
    {"COLOR", ColourInto<&CTimeSolid::Color>},
};

// ---- SET and MOVE: in a TITLE or IMAGE block, and in a SCRTEXT body ---------------------------

struct ScheduleParse : Parse<CTimeSchedule> {
  std::int32_t start = 0;  // milliseconds after the clock
};

int ReadScheduleContrast(ScheduleParse& p, const AttrSlot& a) {
  const std::string_view v = a.ValueView();
  // LOW and HIGH are compared as written here, without upper-casing.
  if (v == "LOW") {
    p.ev.Contrast = 0;
  } else if (v == "HIGH") {
    p.ev.Contrast = kFullContrast;
  } else {
    if (!IsInteger(v)) {
      p.Warn(std::string("<") + kTagNames[p.tag.TagId] + " CONTRAST> " + Quoted(v) +
             " is not LOW, HIGH or a number and reads as 0");
    }
    p.ev.Contrast = Level(v);
  }
  return 0;
}

// ZPOS and ZMOVE: a position SET is measured from the eye, as the object's own ZPOS is.
int ReadScheduleZ(ScheduleParse& p, const AttrSlot& a) {
  p.ev.Point.z = Real(a.ValueView()) + (p.ev.Mode == kModeSet ? kFocalDistance : 0.0);
  return 0;
}

constexpr AttrRow<ScheduleParse> kScheduleAttrs[] = {
    {"START",
     [](ScheduleParse& p, const AttrSlot& a) {
       p.start = std::max(0, TimeMs(a.ValueView()));
       return 0;
     }},
    {"CONTRAST", ReadScheduleContrast},
    {"XPOS", Into<Real, &CTimeSchedule::Point, &Point3::x>},
    {"XMOVE", Into<Real, &CTimeSchedule::Point, &Point3::x>},
    {"YPOS", Into<Real, &CTimeSchedule::Point, &Point3::y>},
    {"YMOVE", Into<Real, &CTimeSchedule::Point, &Point3::y>},
    {"ZPOS", ReadScheduleZ},
    {"ZMOVE", ReadScheduleZ},
    {"ANGLE", Into<Radians, &CTimeSchedule::Angle>},
    {"ROTATE", Into<Radians, &CTimeSchedule::Angle>},
    {"SIZE", Into<Factor, &CTimeSchedule::Size>},
    {"TIME", Into<TimeMs, &CTimeSchedule::Time>},
    {"COLOR", ColourInto<&CTimeSchedule::Color>},
    {"SPEED", Into<Real, &CTimeSchedule::Speed>},
    {"ACC", Into<Integer, &CTimeSchedule::Acc>},
    {"DEC", Into<Integer, &CTimeSchedule::Dec>},
};

// In a SCRTEXT body START is whole seconds, and the speed a whole number.
constexpr AttrRow<ScheduleParse> kBodyScheduleAttrs[] = {
    {"START",
     [](ScheduleParse& p, const AttrSlot& a) {
       const long long ms = static_cast<long long>(Integer(a.ValueView())) * 1000;
       p.start = static_cast<std::int32_t>(std::clamp<long long>(ms, 0, INT32_MAX));
       return 0;
     }},
    {"CONTRAST", Into<Level, &CTimeSchedule::Contrast>},
    {"TIME", Into<TimeMs, &CTimeSchedule::Time>},
    {"COLOR", ColourInto<&CTimeSchedule::Color>},
    {"SPEED", Into<Integer, &CTimeSchedule::Speed>},
};

// ---- Text tags of a SCRTEXT body: READFONT, FORMAT, BR ----------------------------------------

struct FontArgs {
  std::optional<std::string> name, file, assign;
};
using FontParse = Parse<FontArgs>;

constexpr AttrRow<FontParse> kReadFontAttrs[] = {
    {"NAME", Into<Text, &FontArgs::name>},
    {"FILE", Into<Text, &FontArgs::file>},
    {"ASSIGN", Into<Text, &FontArgs::assign>},
};

struct FormatArgs {
  std::optional<std::string> font, size, style, colspan, rowspan, align;
};
using FormatParse = Parse<FormatArgs>;

constexpr AttrRow<FormatParse> kFormatAttrs[] = {
    {"FONT", Into<Text, &FormatArgs::font>},       {"SIZE", Into<Text, &FormatArgs::size>},
    {"STYLE", Into<Text, &FormatArgs::style>},     {"COLSPAN", Into<Text, &FormatArgs::colspan>},
    {"ROWSPAN", Into<Text, &FormatArgs::rowspan>}, {"ALIGN", Into<Text, &FormatArgs::align>},
};

struct BreakArgs {
  std::optional<std::string> row;
};
using BreakParse = Parse<BreakArgs>;

constexpr AttrRow<BreakParse> kBrAttrs[] = {
    {"ROW", Into<Text, &BreakArgs::row>},
};

// Whether the tag's table names the attribute. Tags without a table know none.
bool KnowsAttribute(int tagId, bool inBody, std::string_view name) {
  switch (tagId) {
    case kTagData:
      return Knows(kDataAttrs, name);
    case kTagClock:
      return Knows(kClockAttrs, name);
    case kTagScreen:
      return Knows(kScreenAttrs, name);
    case kTagBgMake:
      return Knows(kBgMakeAttrs, name);
    case kTagObject:
      return Knows(kObjectAttrs, name);
    case kTagBgScroll:
    case kTagBgSet:
      return Knows(kBgScrollAttrs, name);
    case kTagBgMove:
      return Knows(kBgMoveAttrs, name);
    case kTagBgm:
      return Knows(kBgmAttrs, name);
    case kTagImage:
      return Knows(kImageAttrs, name);
    case kTagTitle:
      return Knows(kTitleAttrs, name);
    case kTagScrText:
      return Knows(kScrTextAttrs, name);
    case kTagCaption:
      return Knows(kCaptionAttrs, name);
    case kTagSolid:
      return Knows(kSolidAttrs, name);
    case kTagSet:
    case kTagMove:
      return inBody ? Knows(kBodyScheduleAttrs, name) : Knows(kScheduleAttrs, name);
    case kTagReadFont:
      return Knows(kReadFontAttrs, name);
    case kTagFormat:
      return Knows(kFormatAttrs, name);
    case kTagBr:
      return Knows(kBrAttrs, name);
    default:
      return false;
  }
}

}  // namespace

// ---- Common rules and dispatch ------------------------------------------------------------

void CTimeLine::ApplyCommonRules(int tagId) {
  if (InBgMake && tagId != kTagObject && tagId != kTagBgMakeEnd) ApplyBgMakeEnd();
  if (tagId != kTagSet && tagId != kTagMove) {
    InTitle = 0;
    InImage = 0;
  }
}

void CTimeLine::CheckAttributes(const TagRecord& r, bool inBody) {
  if (!diag_) return;
  for (const AttrSlot& a : r.Attrs) {
    if (a.Empty()) continue;
    if (a.NameView().empty()) {
      Warn(std::string("<") + kTagNames[r.TagId] + "> value " + Quoted(a.ValueView()) +
           " without an attribute name is ignored");
      continue;
    }
    if (!KnowsAttribute(r.TagId, inBody, a.NameView())) {
      Warn(std::string("<") + kTagNames[r.TagId] + "> attribute " + Cp932ToUtf8(a.NameView()) +
           " is not known and is ignored");
    }
  }
}

int CTimeLine::ApplyTag(TagRecord& r) {
  const int id = r.TagId;
  ApplyCommonRules(id);
  CheckAttributes(r, false);
  switch (id) {
    case kTagData:
      return ApplyData(r);
    case kTagDataEnd:
      return ApplyDataEnd();
    case kTagEnd:
      return ApplyEnd();
    case kTagClock:
      return ApplyClock(r);
    case kTagScreen:
      return ApplyScreen(r);
    case kTagBgMake:
      return ApplyBgMake(r);
    case kTagObject:
      return ApplyObject(r);
    case kTagBgMakeEnd:
      return ApplyBgMakeEnd();
    case kTagBgScroll:
    case kTagBgSet:
    case kTagBgMove:
      return ApplyBgScroll(r, id);
    case kTagBgm:
      return ApplyBgm(r);
    case kTagImage:
      return ApplyImage(r);
    case kTagTitle:
      return ApplyTitle(r);
    case kTagScrText:
      return ApplyScrText(r);
    case kTagCaption:
      return ApplyCaption(r);
    case kTagSolid:
      return ApplySolid(r);
    case kTagClear:
      return ApplyClear(r);
    case kTagImageEnd:
    case kTagTitleEnd:
      return 0;
    case kTagSet:
    case kTagMove:
      if (!InTitle && !InImage) {
        Warn(std::string("<") + kTagNames[id] + "> outside a TITLE or IMAGE block is ignored");
        return 0;
      }
      return ApplySchedule(r, id);
    default:
      Warn(std::string("<") + kTagNames[id] + "> does nothing outside a SCRTEXT or CAPTION body");
      return 0;
  }
}

// ---- Document structure: DATA, /DATA, END, CLOCK, SCREEN ----------------------------------

int CTimeLine::ReadScriptHeader(const TagRecord& record, CTimeData* into) {
  DataParse p{{{*this, record}, *into}};
  ReadAttrs(kDataAttrs, p);
  return (p.hasTitle && p.hasVersion && into->Version <= kVersionMax) ? 0 : -1;
}

int CTimeLine::ApplyData(TagRecord& r) {
  auto ev = std::make_unique<CTimeData>();
  DataParse p{{{*this, r}, *ev}};
  ReadAttrs(kDataAttrs, p);
  if (AddEvent(std::move(ev), kTagData, 0, kClassObject) == 0) {
    Events[EventCount - 1]->OrderKey = 0;
  }
  return 0;
}

int CTimeLine::ApplyDataEnd() {
  AddEvent(std::make_unique<CTimeEnd>(), kTagDataEnd, TickOf(ScriptEndMs), kClassEnd);
  return 0;
}

int CTimeLine::ApplyEnd() {
  AddEvent(std::make_unique<CTimeEnd>(), kTagEnd, TickOf(ClockMs), kClassEnd);
  return 0;
}

int CTimeLine::ApplyClock(TagRecord& r) {
  ClockSetting clock;
  ClockParse p{{*this, r}, clock};
  ReadAttrs(kClockAttrs, p);
  if (clock.given == 2) {
    ClockMs = AddMs(ClockMs, clock.value);
  } else if (clock.given != 0) {
    ClockMs = clock.value;
  }
  return 0;
}

int CTimeLine::ApplyScreen(TagRecord& r) {
  auto ev = std::make_unique<CScreen>();
  ScreenParse p{{*this, r}, *ev};
  ReadAttrs(kScreenAttrs, p);
  AddEvent(std::move(ev), kTagScreen, TickOf(ClockMs), kClassObject);
  return 0;
}

// ---- Background and sound ------------------------------------------------------------------

void CTimeLine::CheckPicture(const char* what, std::string_view name) {
  if (!diag_ || name.empty() || name[0] == '*') return;
  const int type = CMainCtl::FileTypeOf(std::string(name));
  if (Settings && Settings->FileExists(std::string(name)) != 0) {
    Warn(std::string(what) + " file " + Quoted(name) + " does not exist");
  } else if (type != 2 && type != 3) {
    Warn(std::string(what) + " file " + Quoted(name) + " is not a .bmp or .jpg picture");
  }
}

bool CTimeLine::Exists(std::string_view name) {
  return Settings && Settings->FileExists(std::string(name)) == 0;
}

int CTimeLine::ApplyBgMake(TagRecord& r) {
  auto ev = std::make_unique<CTimeBgMake>();
  BgMakeParse p{{*this, r}, *ev};
  ReadAttrs(kBgMakeAttrs, p);
  pendingBgMake_ = std::move(ev);
  bgObjects_ = 0;
  InBgMake = 1;
  return 0;
}

int CTimeLine::ApplyObject(TagRecord& r) {
  if (!InBgMake || !pendingBgMake_) {
    Warn("<OBJECT> outside a BGMAKE block is ignored");
    return 0;
  }
  if (bgObjects_ >= kMaxBgObjects) {
    Warn("<OBJECT> beyond the 64th of a BGMAKE block is ignored");
    return 0;
  }
  CTimeBgMake& bg = *pendingBgMake_;
  const int n = bgObjects_;
  BgObject object{bg, n};
  ObjectParse p{{*this, r}, object};
  ReadAttrs(kObjectAttrs, p);
  if (bg.ResName[n][0] != 0) {
    ++bgObjects_;
  } else {
    Warn("<OBJECT> without FILE is ignored");
    bg.ResPos[n] = BgPoint();
    bg.ResPalent[n] = -1;
  }
  return 0;
}

int CTimeLine::ApplyBgMakeEnd() {
  if (!InBgMake) return 0;
  InBgMake = 0;
  if (pendingBgMake_) {
    AddEvent(std::move(pendingBgMake_), kTagBgMake, TickOf(ClockMs), kClassObject);
  }
  bgObjects_ = 0;
  return 0;
}

int CTimeLine::ApplyBgScroll(TagRecord& r, int kind) {
  auto ev = std::make_unique<CTimeBgScroll>();
  const bool move = kind == kTagBgMove;
  ev->SpeedMode = move ? 1 : 0;
  BgScrollParse p{{{*this, r}, *ev}};
  if (move) {
    ReadAttrs(kBgMoveAttrs, p);
  } else {
    ReadAttrs(kBgScrollAttrs, p);
  }
  double* values[3] = {&ev->XValue, &ev->YValue, &ev->ZValue};
  std::int32_t* modes[3] = {&ev->XMode, &ev->YMode, &ev->ZMode};
  for (int i = 0; i < 3; ++i) {
    if (p.axes[i].moveGiven) {
      *values[i] = p.axes[i].moveValue;
      *modes[i] = 2;
    } else if (p.axes[i].posGiven) {
      *values[i] = p.axes[i].posValue;
      *modes[i] = 1;
    }
  }
  const std::int32_t time = ev->Time;
  if (AddEvent(std::move(ev), kind, TickOf(ClockMs), kClassObject) == 0) RaiseEnd(ClockMs, time);
  return 0;
}

int CTimeLine::ApplyBgm(TagRecord& r) {
  if (!Settings || !Settings->GetFlgSound()) return 0;
  auto ev = std::make_unique<CTimeBgm>();
  BgmParse p{{{*this, r}, *ev}};
  if (ReadAttrs(kBgmAttrs, p) < 0) return -1;
  if (ev->FileName[0] == 0) {
    if (!p.fileGiven) Warn("<BGM> without FILE is ignored");
    return 0;
  }
  if (MusicPreloaded == 0 && ev->Switch == kBgmStart) {
    MusicPreloaded = 1;
    if (Player) Player->Preload(ev->FileName);
    ev->Switch = kBgmStartPreloaded;
  }
  const bool start = ev->Switch == kBgmStart || ev->Switch == kBgmStartPreloaded;
  if (AddEvent(std::move(ev), kTagBgm, TickOf(ClockMs), kClassObject) != 0) return 0;
  // Every START with a TIME stops after it, the preloaded first one included.
  if (p.stopDelay != 0 && start) {
    auto stop = std::make_unique<CTimeBgm>();
    stop->Switch = kBgmStop;
    AddEvent(std::move(stop), kTagBgm, TickOf(AddMs(ClockMs, p.stopDelay)), kClassObject);
  }
  return 0;
}

// A colour attribute; warns when the value is neither a colour name nor hexadecimal digits,
// which ReadColour still turns into some colour.
std::int32_t CTimeLine::Colour(const TagRecord& r, const AttrSlot& a) {
  const std::string_view v = a.ValueView();
  if (diag_ && !IsColourName(v)) {
    const std::string_view digits = (!v.empty() && v[0] == '#') ? v.substr(1, 6) : v.substr(0, 6);
    const bool hex = std::all_of(digits.begin(), digits.end(), [](char c) {
      return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    });
    if (!hex || ((v.empty() || v[0] != '#') && v.size() > 6)) {
      Warn(std::string("<") + kTagNames[r.TagId] + " " + Cp932ToUtf8(a.NameView()) + "> " +
           Quoted(v) + " is not a colour name or RRGGBB digits");
    }
  }
  return ReadColour(v);
}

// ---- Display objects -----------------------------------------------------------------------

// CONTRAST of IMAGE, TITLE and SCRTEXT: a fade keyword, LOW, HIGH or a level 0 to 255.
void CTimeLine::ReadObjectContrast(const char* tag, std::string_view v, int* fade,
                                   std::int32_t* contrast) {
  const std::string k = Keyword(v);
  if (k == "FADEIN") {
    *fade = kFadeIn;
    *contrast = 0;
  } else if (k == "FADEOUT") {
    *fade = kFadeOut;
    *contrast = kFullContrast;
  } else if (k == "FADEINOUT") {
    *fade = kFadeInOut;
    *contrast = 0;
  } else if (k == "LOW") {
    *contrast = 0;
  } else if (k == "HIGH") {
    *contrast = kFullContrast;
  } else {
    if (!IsInteger(v)) {
      Warn(std::string("<") + tag + " CONTRAST> " + Quoted(v) +
           " is neither a keyword nor a number");
    }
    *contrast = Level(v);
  }
}

void CTimeLine::AddFades(int fade, int kind, std::int32_t bmpNo, std::int32_t tick,
                         std::int32_t endMs) {
  auto make = [&](std::int32_t contrast, std::int32_t at) {
    auto s = std::make_unique<CTimeSchedule>();
    s->BmpNo = bmpNo;
    s->Mode = kModeSet;
    s->Contrast = contrast;
    s->Time = kFadeMs;
    AddEvent(std::move(s), kind, at, kClassSchedule);
  };
  if (fade == kFadeIn || fade == kFadeInOut) make(kFullContrast, tick);
  if (fade == kFadeOut || fade == kFadeInOut) make(0, TickOf(AddMs(endMs, -kFadeMs)) - 1);
}

int CTimeLine::ApplyImage(TagRecord& r) {
  auto ev = std::make_unique<CTimeImage>();
  ev->BmpNo = NextImageNo;
  CurrentObjectNo = ev->BmpNo;
  NextImageNo += 1;
  ImageParse p{{{*this, r}, *ev}};
  ReadAttrs(kImageAttrs, p);
  int fade = p.fade;
  // A fade needs time: half a second for one way, a second for both.
  if ((fade == kFadeIn || fade == kFadeOut) && ev->Time < kFadeMs) {
    Warn("<IMAGE CONTRAST> a fade needs a TIME of at least 0.5 seconds; it is dropped");
    fade = kFadeNone;
  }
  if (fade == kFadeInOut && ev->Time < 2 * kFadeMs) {
    Warn("<IMAGE CONTRAST> FADEINOUT needs a TIME of at least 1 second; it is dropped");
    fade = kFadeNone;
  }
  const std::int32_t time = ev->Time;
  const std::int32_t bmpNo = ev->BmpNo;
  const std::int32_t tick = TickOf(ClockMs);
  if (AddEvent(std::move(ev), kTagImage, tick, kClassObject) == 0) {
    RaiseEnd(ClockMs, time);
    AddFades(fade, kTagScheduleI, bmpNo, tick, AddMs(ClockMs, time));
  }
  InImage = 1;
  return 0;
}

int CTimeLine::ApplyTitle(TagRecord& r) {
  auto ev = std::make_unique<CTimeTitle>();
  TitleParse p{{{*this, r}, *ev}};
  if (ReadAttrs(kTitleAttrs, p) < 0) return -1;
  const std::int32_t time = ev->Time;
  const std::int32_t bmpNo = ev->BmpNo;
  const std::int32_t tick = TickOf(ClockMs);
  if (AddEvent(std::move(ev), kTagTitle, tick, kClassObject) == 0) {
    RaiseEnd(ClockMs, time);
    AddFades(p.fade, kTagScheduleT, bmpNo, tick, AddMs(ClockMs, time));
  }
  InTitle = 1;
  CurrentObjectNo = bmpNo;
  return 0;
}

int CTimeLine::ApplySchedule(TagRecord& r, int mode) {
  auto ev = std::make_unique<CTimeSchedule>();
  const int kind = InTitle ? kTagScheduleT : kTagScheduleI;
  ev->BmpNo = CurrentObjectNo;
  ev->Mode = mode == kTagSet ? kModeSet : kModeMove;
  ScheduleParse p{{{*this, r}, *ev}};
  ReadAttrs(kScheduleAttrs, p);
  AddEvent(std::move(ev), kind, TickOf(AddMs(ClockMs, p.start)), kClassSchedule);
  return 0;
}

int CTimeLine::ApplyBodySchedule(TagRecord& r, int mode) {
  CheckAttributes(r, true);
  auto ev = std::make_unique<CTimeSchedule>();
  ev->BmpNo = TextLayer ? TextLayer->count : 0;
  ev->Mode = mode == kTagSet ? kModeSet : kModeMove;
  ScheduleParse p{{{*this, r}, *ev}};
  ReadAttrs(kBodyScheduleAttrs, p);
  AddEvent(std::move(ev), kTagScheduleS, TickOf(AddMs(ClockMs, p.start)), kClassSchedule);
  return 0;
}

int CTimeLine::ApplyScrText(TagRecord& r) {
  auto ev = std::make_unique<CTimeScroll>();
  ScrTextParse p{{{*this, r}, *ev}};
  ReadAttrs(kScrTextAttrs, p);
  if (!p.picture) ev->BmpNo = RenderAutoTextBitmap();
  const std::int32_t time = ev->Time;
  const std::int32_t bmpNo = ev->BmpNo;
  const std::int32_t tick = TickOf(ClockMs);
  if (AddEvent(std::move(ev), kTagScrText, tick, kClassObject) == 0) {
    RaiseEnd(ClockMs, time);
    AddFades(p.fade, kTagScheduleS, bmpNo, tick, AddMs(ClockMs, time));
  }
  return 0;
}

int CTimeLine::RenderAutoTextBitmap() {
  long long height = static_cast<long long>(ScrText->TextHeight()) + 2;
  if (height < 1) height = 1;
  if (height > kMaxBitmapSide) {
    Warn("<SCRTEXT> the text is taller than 16384 pixels and is cut there");
    height = kMaxBitmapSide;
  }
  Bitmap1 bmp;
  bmp.Create(kStageWidth, static_cast<int>(height));
  ScrText->Render(bmp);
  const int no = TextLayer ? TextLayer->AddTextBitmap(bmp) : -1;
  if (no < 0) Warn("<SCRTEXT> no room for another text picture (64 at most)");
  return no;
}

int CTimeLine::ApplyCaption(TagRecord& r) {
  if (!Settings || !Settings->GetFlgCaption()) return 0;
  auto ev = std::make_unique<CTimeCaption>();
  if (CaptionLayer) {
    ev->CaptionNo = CaptionLayer->TagFirst();
    ev->NumCaption = CaptionLayer->TagCount();
  }
  CaptionParse p{{*this, r}, *ev};
  ReadAttrs(kCaptionAttrs, p);
  const std::int32_t time = ev->Time;
  if (AddEvent(std::move(ev), kTagCaption, TickOf(ClockMs), kClassObject) == 0) {
    RaiseEnd(ClockMs, time);
  }
  return 0;
}

int CTimeLine::ApplySolid(TagRecord& r) {
  auto ev = std::make_unique<CTimeSolid>();
  SolidParse p{{*this, r}, *ev};
  ReadAttrs(kSolidAttrs, p);
  AddEvent(std::move(ev), kTagSolid, TickOf(ClockMs), kClassObject);
  return 0;
}

int CTimeLine::ApplyClear(TagRecord&) {
  AddEvent(std::make_unique<CTimeClear>(), kTagClear, TickOf(ClockMs), kClassObject);
  return 0;
}

// ---- Bodies of SCRTEXT and CAPTION ---------------------------------------------------------

int CTimeLine::ApplyTextTag(TagRecord& r) {
  CheckAttributes(r, true);
  switch (r.TagId) {
    case kTagReadFont: {
      FontArgs font;
      FontParse p{{*this, r}, font};
      ReadAttrs(kReadFontAttrs, p);
      const std::string file = font.file.value_or("");
      if (!Exists(file)) {
        Warn("<READFONT FILE> font picture " + Quoted(file) + " does not exist");
        return 0;
      }
      return ScrText->ReadFont(font.name.value_or(""), file, font.assign.value_or(""));
    }
    case kTagFormat: {
      FormatArgs f;
      FormatParse p{{*this, r}, f};
      ReadAttrs(kFormatAttrs, p);
      if (f.align) {
        const std::string k = Keyword(*f.align);
        if (k != "LEFT" && k != "RIGHT" && k != "CENTER" && k != "LAYOUT") {
          Warn("<FORMAT ALIGN> " + Quoted(*f.align) + " is not LEFT, RIGHT, CENTER or LAYOUT");
        }
      }
      if (f.style) {
        const std::string k = Keyword(*f.style);
        if (k != "BOLD" && k != "ITALIC" && k != "BOLDITALIC" && k != "ITALICBOLD") {
          Warn("<FORMAT STYLE> " + Quoted(*f.style) + " is not a style; the text is plain");
        }
      }
      if (ScrText->PushFormat(f.font, f.size, f.align, f.rowspan, f.colspan, f.style) < 0) {
        Warn("<FORMAT> more than 63 open FORMAT levels; ignored");
      }
      return 0;
    }
    case kTagFormatEnd:
      if (ScrText->PopFormat() < 0) Warn("</FORMAT> without an open FORMAT is ignored");
      return 0;
    case kTagNoDisp:
      ScrText->Hide(true);
      return 0;
    case kTagNoDispEnd:
      ScrText->Hide(false);
      return 0;
    case kTagBr: {
      BreakArgs br;
      BreakParse p{{*this, r}, br};
      ReadAttrs(kBrAttrs, p);
      return ScrText->AddChar('\n', br.row ? Integer(*br.row) : -1);
    }
    case kTagSpc:
      return ScrText->AddChar(kKeptSpace, -1);
    default:
      Warn(std::string("<") + kTagNames[r.TagId] + "> does nothing in a SCRTEXT body");
      return 0;
  }
}

bool CTimeLine::ReadScrTextBody(ScriptSource& src) {
  ScrText->Reset(true);
  bool full = false;
  for (;;) {
    bool tagStart = false;
    const int c = src.ReadChar(&tagStart);
    if (c == kReadEnd) {
      Warn("the file ends inside a SCRTEXT body; the script ends there");
      return true;
    }
    if (!tagStart) {
      if (ScrText->AddChar(static_cast<std::uint8_t>(c), -1) < 0 && !full) {
        full = true;
        Warn("<SCRTEXT> a line longer than 256 bytes or more than 2048 lines; the rest is cut");
      }
      continue;
    }
    std::string text = src.ReadTagText();
    TagRecord r;
    ParseFailure why;
    if (!ParseTag(text, &r, &why)) {
      Warn("tag " + Quoted(text.substr(0, 40)) + " in a SCRTEXT body is not valid; skipped");
      continue;
    }
    if (r.TagId == kTagScrTextEnd) {
      ScrText->AddChar('\n', -1);
      return false;
    }
    if (r.TagId == kTagDataEnd) {
      ScrText->AddChar('\n', -1);
      Warn("</DATA> inside a SCRTEXT body; the script ends there");
      return true;
    }
    if (r.TagId == kTagSet || r.TagId == kTagMove) {
      ApplyBodySchedule(r, r.TagId);
      continue;
    }
    ApplyTextTag(r);
  }
}

bool CTimeLine::ReadCaptionBody(ScriptSource& src) {
  if (CaptionLayer) CaptionLayer->BeginCaptionBlock();
  bool ended = false;
  bool cut = false;
  auto add = [&](std::uint8_t b) {
    if (CaptionLayer && CaptionLayer->AddCaptionChar(b) < 0 && !cut) {
      cut = true;
      Warn("<CAPTION> a caption line longer than 256 bytes is cut");
    }
  };
  bool open = false;  // text since the last <P>: only <P> closes a caption
  for (;;) {
    bool tagStart = false;
    const int c = src.ReadChar(&tagStart);
    if (c == kReadEnd) {
      Warn("the file ends inside a CAPTION body; the script ends there");
      ended = true;
      break;
    }
    if (!tagStart) {
      add(static_cast<std::uint8_t>(c));
      if (c != ' ') open = true;
      continue;
    }
    std::string text = src.ReadTagText();
    TagRecord r;
    if (!ParseTag(text, &r)) {
      Warn("tag " + Quoted(text.substr(0, 40)) + " in a CAPTION body is not valid; skipped");
      continue;
    }
    if (r.TagId == kTagCaptionEnd) break;
    if (r.TagId == kTagDataEnd) {
      Warn("</DATA> inside a CAPTION body; the script ends there");
      ended = true;
      break;
    }
    if (r.TagId == kTagBr) {
      add(10);
    } else if (r.TagId == kTagP) {
      add(27);
      open = false;
    } else {
      Warn(std::string("<") + kTagNames[r.TagId] + "> does nothing in a CAPTION body");
    }
  }
  if (open) Warn("<CAPTION> text after the last <P> is not closed and shows with the next block");
  // The block is closed also when the script ends inside it, so its captions stay whole.
  if (CaptionLayer) CaptionLayer->EndCaptionBlock();
  return ended;
}
