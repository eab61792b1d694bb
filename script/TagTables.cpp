// The attribute tables of the tags and their readers, and the row of each tag.
#include "script/TagTables.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>

#include "platform/Cp932.h"
#include "platform/FieldCopy.h"
#include "platform/FileTypes.h"
#include "render/CMonoBmp.h"
#include "script/ScriptValues.h"

namespace tagtable {

namespace {

constexpr int kFileNameChars = 60;
constexpr int kBgFileNameChars = 63;
constexpr int kScreenUnity = 0x10000;

std::string Text(std::string_view v) {
  return std::string(v);
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

constexpr AttrRow<DataParse> kDataRows[] = {
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

constexpr AttrRow<ClockParse> kClockRows[] = {
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

constexpr AttrRow<ScreenParse> kScreenRows[] = {
    {"CONTRAST", ReadScreenContrast},
    {"TIME", Into<TimeMs, &CScreen::Time>},
};

// ---- Background and sound: BGMAKE, OBJECT, BGSCROLL, BGSET, BGMOVE, BGM -----------------------

// A picture of the background; "*NOTFOUND" when the file does not exist.
void ReadBgPicture(const TagParse& p, const char* what, char (&field)[64], std::string_view v) {
  p.CheckPicture(what, v);
  CopyField(field, p.Exists(v) ? v : std::string_view("*NOTFOUND"), kBgFileNameChars);
}

constexpr AttrRow<BgMakeParse> kBgMakeRows[] = {
    {"BGFILE",
     [](BgMakeParse& p, const AttrSlot& a) {
       ReadBgPicture(p, "<BGMAKE BGFILE>", p.ev.FileName, a.ValueView());
       return 0;
     }},
    {"BGCOLOR", ColourInto<&CTimeBgMake::BgColor>},
};

constexpr AttrRow<ObjectParse> kObjectRows[] = {
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
constexpr AttrRow<BgScrollParse> kBgScrollRows[] = {
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
constexpr AttrRow<BgScrollParse> kBgMoveRows[] = {
    {"XPOS", AxisMove<0>},
    {"XMOVE", AxisMove<0>},
    {"YPOS", AxisMove<1>},
    {"YMOVE", AxisMove<1>},
    {"ZPOS", AxisMove<2>},
    {"ZMOVE", AxisMove<2>},
    {"TIME", Into<TimeMs, &CTimeBgScroll::Time>},
};

int ReadBgmFile(BgmParse& p, const AttrSlot& a) {
  p.fileGiven = true;
  p.ev.FileName[0] = 0;
  const std::string name = a.ValueText();
  if (!p.Exists(name)) {
    p.Warn("<BGM FILE> sound file " + Quoted(name) + " does not exist");
  } else if (FileTypeOf(name) != 4) {
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

constexpr AttrRow<BgmParse> kBgmRows[] = {
    {"FILE", ReadBgmFile},
    {"MODE", ReadBgmMode},
    {"TIME",
     [](BgmParse& p, const AttrSlot& a) {
       p.stopDelay = TimeMs(a.ValueView());
       return 0;
     }},
};

// ---- Display objects: IMAGE, TITLE, SCRTEXT, CAPTION, SOLID ----------------------------------

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

constexpr AttrRow<ImageParse> kImageRows[] = {
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

constexpr AttrRow<TitleParse> kTitleRows[] = {
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

constexpr AttrRow<ScrTextParse> kScrTextRows[] = {
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

constexpr AttrRow<CaptionParse> kCaptionRows[] = {
    {"TIME", Into<TimeMs, &CTimeCaption::Time>},
};

constexpr AttrRow<SolidParse> kSolidRows[] = {
    {"COLOR", ColourInto<&CTimeSolid::Color>},
};

// ---- SET and MOVE: in a TITLE or IMAGE block, and in a SCRTEXT body ---------------------------

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

constexpr AttrRow<ScheduleParse> kScheduleRows[] = {
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
constexpr AttrRow<ScheduleParse> kBodyScheduleRows[] = {
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

constexpr AttrRow<FontParse> kReadFontRows[] = {
    {"NAME", Into<Text, &FontArgs::name>},
    {"FILE", Into<Text, &FontArgs::file>},
    {"ASSIGN", Into<Text, &FontArgs::assign>},
};

constexpr AttrRow<FormatParse> kFormatRows[] = {
    {"FONT", Into<Text, &FormatArgs::font>},       {"SIZE", Into<Text, &FormatArgs::size>},
    {"STYLE", Into<Text, &FormatArgs::style>},     {"COLSPAN", Into<Text, &FormatArgs::colspan>},
    {"ROWSPAN", Into<Text, &FormatArgs::rowspan>}, {"ALIGN", Into<Text, &FormatArgs::align>},
};

constexpr AttrRow<BreakParse> kBrRows[] = {
    {"ROW", Into<Text, &BreakArgs::row>},
};

}  // namespace

std::int32_t Level(std::string_view v) {
  return (Integer(v) & 255) * 65536;
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

const AttrTable<DataParse> kDataAttrs = kDataRows;
const AttrTable<ClockParse> kClockAttrs = kClockRows;
const AttrTable<ScreenParse> kScreenAttrs = kScreenRows;
const AttrTable<BgMakeParse> kBgMakeAttrs = kBgMakeRows;
const AttrTable<ObjectParse> kObjectAttrs = kObjectRows;
const AttrTable<BgScrollParse> kBgScrollAttrs = kBgScrollRows;
const AttrTable<BgScrollParse> kBgMoveAttrs = kBgMoveRows;
const AttrTable<BgmParse> kBgmAttrs = kBgmRows;
const AttrTable<ImageParse> kImageAttrs = kImageRows;
const AttrTable<TitleParse> kTitleAttrs = kTitleRows;
const AttrTable<ScrTextParse> kScrTextAttrs = kScrTextRows;
const AttrTable<CaptionParse> kCaptionAttrs = kCaptionRows;
const AttrTable<SolidParse> kSolidAttrs = kSolidRows;
const AttrTable<ScheduleParse> kScheduleAttrs = kScheduleRows;
const AttrTable<ScheduleParse> kBodyScheduleAttrs = kBodyScheduleRows;
const AttrTable<FontParse> kReadFontAttrs = kReadFontRows;
const AttrTable<FormatParse> kFormatAttrs = kFormatRows;
const AttrTable<BreakParse> kBrAttrs = kBrRows;

}  // namespace tagtable

namespace {

// Whether the attribute table names the attribute.
template <const auto& Table>
bool KnowsIn(std::string_view name) {
  return std::any_of(Table.begin(), Table.end(), [&](const auto& row) { return row.name == name; });
}

}  // namespace

// A new tag is a row here: its attribute table and its handler (in TagHandlers.cpp), in a show
// and in a SCRTEXT body.
const CTimeLine::TagRow& CTimeLine::Row(int tagId) {
  using namespace tagtable;
  using T = CTimeLine;
  static const TagRow kRows[] = {
      {kTagData, KnowsIn<kDataAttrs>, &T::ApplyData, nullptr, nullptr},
      {kTagDataEnd, nullptr, &T::ApplyDataEnd, nullptr, nullptr},
      {kTagEnd, nullptr, &T::ApplyEnd, nullptr, nullptr},
      {kTagClock, KnowsIn<kClockAttrs>, &T::ApplyClock, nullptr, nullptr},
      {kTagScreen, KnowsIn<kScreenAttrs>, &T::ApplyScreen, nullptr, nullptr},
      {kTagBgMake, KnowsIn<kBgMakeAttrs>, &T::ApplyBgMake, nullptr, nullptr},
      {kTagObject, KnowsIn<kObjectAttrs>, &T::ApplyObject, nullptr, nullptr},
      {kTagBgMakeEnd, nullptr, &T::ApplyBgMakeEnd, nullptr, nullptr},
      {kTagBgScroll, KnowsIn<kBgScrollAttrs>, &T::ApplyBgScroll, nullptr, nullptr},
      {kTagBgSet, KnowsIn<kBgScrollAttrs>, &T::ApplyBgScroll, nullptr, nullptr},
      {kTagBgMove, KnowsIn<kBgMoveAttrs>, &T::ApplyBgScroll, nullptr, nullptr},
      {kTagBgm, KnowsIn<kBgmAttrs>, &T::ApplyBgm, nullptr, nullptr},
      {kTagImage, KnowsIn<kImageAttrs>, &T::ApplyImage, nullptr, nullptr},
      {kTagImageEnd, nullptr, &T::ApplyBlockEnd, nullptr, nullptr},
      {kTagTitle, KnowsIn<kTitleAttrs>, &T::ApplyTitle, nullptr, nullptr},
      {kTagTitleEnd, nullptr, &T::ApplyBlockEnd, nullptr, nullptr},
      {kTagScrText, KnowsIn<kScrTextAttrs>, &T::ApplyScrText, nullptr, nullptr},
      {kTagCaption, KnowsIn<kCaptionAttrs>, &T::ApplyCaption, nullptr, nullptr},
      {kTagSolid, KnowsIn<kSolidAttrs>, &T::ApplySolid, nullptr, nullptr},
      {kTagClear, nullptr, &T::ApplyClear, nullptr, nullptr},
      {kTagSet, KnowsIn<kScheduleAttrs>, &T::ApplySchedule, &T::ApplyBodySchedule,
       KnowsIn<kBodyScheduleAttrs>},
      {kTagMove, KnowsIn<kScheduleAttrs>, &T::ApplySchedule, &T::ApplyBodySchedule,
       KnowsIn<kBodyScheduleAttrs>},
      {kTagReadFont, KnowsIn<kReadFontAttrs>, nullptr, &T::ApplyReadFont, nullptr},
      {kTagFormat, KnowsIn<kFormatAttrs>, nullptr, &T::ApplyFormat, nullptr},
      {kTagFormatEnd, nullptr, nullptr, &T::ApplyFormatEnd, nullptr},
      {kTagNoDisp, nullptr, nullptr, &T::ApplyNoDisp, nullptr},
      {kTagNoDispEnd, nullptr, nullptr, &T::ApplyNoDisp, nullptr},
      {kTagBr, KnowsIn<kBrAttrs>, nullptr, &T::ApplyBr, nullptr},
      {kTagSpc, nullptr, nullptr, &T::ApplySpc, nullptr},
  };
  static const TagRow kNone{kTagNone, nullptr, nullptr, nullptr, nullptr};
  for (const TagRow& row : kRows) {
    if (row.tagId == tagId) return row;
  }
  return kNone;
}
