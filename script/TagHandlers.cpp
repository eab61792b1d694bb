// The tag dispatcher and the handlers that turn tokenised tags into timeline events.
#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <string>

#include "app/CCaption.h"
#include "app/CMPlayer.h"
#include "platform/Cp932.h"
#include "render/CMonoBmp.h"
#include "script/CScrText.h"
#include "script/CTimeLine.h"
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

using Names = std::initializer_list<const char*>;

// Copies at most `maxBytes` bytes of `v` into a zero-filled field of `size` bytes.
void CopyCut(char* field, std::size_t size, std::string_view v, std::size_t maxBytes) {
  const std::size_t n = std::min({v.size(), maxBytes, size - 1});
  std::memset(field, 0, size);
  std::memcpy(field, v.data(), n);
}

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

std::int32_t AddMs(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

std::int32_t TickOf(std::int32_t ms) {
  return ms / kTickMs;
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

namespace {

const char* const* KnownAttributes(int tagId, bool inBody, int* count) {
  static const char* const kData[] = {"TITLE", "VERSION"};
  static const char* const kClock[] = {"SET", "MOVE"};
  static const char* const kScreen[] = {"CONTRAST", "TIME"};
  static const char* const kBgMake[] = {"BGFILE", "BGCOLOR"};
  static const char* const kObject[] = {"FILE", "XPOS", "YPOS", "TRANS"};
  static const char* const kBgScroll[] = {"XPOS",  "XMOVE", "YPOS", "YMOVE", "ZPOS",
                                          "ZMOVE", "TIME",  "ACC",  "DEC"};
  static const char* const kBgMove[] = {"XPOS", "XMOVE", "YPOS", "YMOVE", "ZPOS", "ZMOVE", "TIME"};
  static const char* const kBgm[] = {"FILE", "MODE", "TIME"};
  static const char* const kImage[] = {
      "FILE",  "STRING",  "XPOS",  "YPOS", "ZPOS",     "BGXPOS",    "BGYPOS",  "BGZPOS",
      "TRANS", "REVERSE", "ANGLE", "SIZE", "CONTRAST", "OPERATION", "QUALITY", "TIME"};
  static const char* const kTitle[] = {"FILE", "POS", "SPEED", "TIME", "COLOR", "CONTRAST"};
  static const char* const kScrText[] = {"BITMAP", "COLOR", "SPEED", "TIME", "CONTRAST"};
  static const char* const kCaption[] = {"TIME"};
  static const char* const kSolid[] = {"COLOR"};
  static const char* const kSchedule[] = {"START", "CONTRAST", "XPOS",  "XMOVE",  "YPOS", "YMOVE",
                                          "ZPOS",  "ZMOVE",    "ANGLE", "ROTATE", "SIZE", "TIME",
                                          "COLOR", "SPEED",    "ACC",   "DEC"};
  static const char* const kBodySchedule[] = {"START", "CONTRAST", "TIME", "COLOR", "SPEED"};
  static const char* const kReadFont[] = {"NAME", "FILE", "ASSIGN"};
  static const char* const kFormat[] = {"FONT", "SIZE", "STYLE", "COLSPAN", "ROWSPAN", "ALIGN"};
  static const char* const kBr[] = {"ROW"};
#define OX_LIST(a) (*count = static_cast<int>(sizeof(a) / sizeof(a[0])), a)
  switch (tagId) {
    case kTagData:
      return OX_LIST(kData);
    case kTagClock:
      return OX_LIST(kClock);
    case kTagScreen:
      return OX_LIST(kScreen);
    case kTagBgMake:
      return OX_LIST(kBgMake);
    case kTagObject:
      return OX_LIST(kObject);
    case kTagBgScroll:
    case kTagBgSet:
      return OX_LIST(kBgScroll);
    case kTagBgMove:
      return OX_LIST(kBgMove);
    case kTagBgm:
      return OX_LIST(kBgm);
    case kTagImage:
      return OX_LIST(kImage);
    case kTagTitle:
      return OX_LIST(kTitle);
    case kTagScrText:
      return OX_LIST(kScrText);
    case kTagCaption:
      return OX_LIST(kCaption);
    case kTagSolid:
      return OX_LIST(kSolid);
    case kTagSet:
    case kTagMove:
      return inBody ? OX_LIST(kBodySchedule) : OX_LIST(kSchedule);
    case kTagReadFont:
      return OX_LIST(kReadFont);
    case kTagFormat:
      return OX_LIST(kFormat);
    case kTagBr:
      return OX_LIST(kBr);
    default:
      *count = 0;
      return nullptr;
  }
#undef OX_LIST
}

}  // namespace

void CTimeLine::CheckAttributes(const TagRecord& r, bool inBody) {
  if (!diag_) return;
  int n = 0;
  const char* const* known = KnownAttributes(r.TagId, inBody, &n);
  for (const AttrSlot& a : r.Attrs) {
    if (a.Empty()) continue;
    if (a.NameView().empty()) {
      Warn(std::string("<") + kTagNames[r.TagId] + "> value " + Quoted(a.ValueView()) +
           " without an attribute name is ignored");
      continue;
    }
    bool found = false;
    for (int i = 0; i < n && !found; ++i) found = a.Is(known[i]);
    if (!found) {
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

int CTimeLine::ApplyData(TagRecord& r) {
  auto ev = std::make_unique<CTimeData>();
  for (const AttrSlot& a : r.Attrs) {
    if (a.Is("TITLE")) CopyCut(ev->Title, sizeof ev->Title, a.ValueView(), kScriptTitleChars);
    if (a.Is("VERSION")) ev->Version = TruncToInt32(Real(a.ValueView()) * 100.0);
  }
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
  int given = 0;  // 1 SET, 2 MOVE, 3 both
  std::int32_t value = 0;
  for (const AttrSlot& a : r.Attrs) {
    if (a.Is("SET")) {
      value = TimeMs(a.ValueView());
      given |= 1;
    }
    if (a.Is("MOVE")) {
      value = TimeMs(a.ValueView());
      given |= 2;
    }
  }
  if (given == 2) {
    ClockMs = AddMs(ClockMs, value);
  } else if (given != 0) {
    ClockMs = value;
  }
  return 0;
}

int CTimeLine::ApplyScreen(TagRecord& r) {
  auto ev = std::make_unique<CScreen>();
  for (const AttrSlot& a : r.Attrs) {
    if (a.Is("CONTRAST")) {
      const std::string k = Keyword(a.ValueView());
      if (k == "FADEIN") {
        ev->FromContrast = 0;
        ev->ToContrast = kScreenUnity;
      } else if (k == "FADEOUT") {
        ev->FromContrast = kScreenUnity;
        ev->ToContrast = 0;
      } else if (k == "LOW") {
        ev->ToContrast = 0;
      } else if (k == "HIGH") {
        ev->ToContrast = kScreenUnity;
      } else {
        if (!IsInteger(a.ValueView())) {
          Warn("<SCREEN CONTRAST> " + Quoted(a.ValueView()) + " is neither a keyword nor a number");
        }
        ev->ToContrast = Level(a.ValueView());
      }
    }
    if (a.Is("TIME")) ev->Time = TimeMs(a.ValueView());
  }
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
  for (const AttrSlot& a : r.Attrs) {
    if (a.Is("BGFILE")) {
      CheckPicture("<BGMAKE BGFILE>", a.ValueView());
      if (!Exists(a.ValueView())) {
        CopyCut(ev->FileName, sizeof ev->FileName, "*NOTFOUND", kBgFileNameChars);
      } else {
        CopyCut(ev->FileName, sizeof ev->FileName, a.ValueView(), kBgFileNameChars);
      }
    }
    if (a.Is("BGCOLOR")) ev->BgColor = Colour(r, a);
  }
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
  for (const AttrSlot& a : r.Attrs) {
    if (a.Is("FILE")) {
      CheckPicture("<OBJECT FILE>", a.ValueView());
      if (!Exists(a.ValueView())) {
        CopyCut(bg.ResName[n], sizeof bg.ResName[n], "*NOTFOUND", kBgFileNameChars);
      } else {
        CopyCut(bg.ResName[n], sizeof bg.ResName[n], a.ValueView(), kBgFileNameChars);
      }
    }
    if (a.Is("XPOS")) bg.ResPos[n].x = Integer(a.ValueView());
    if (a.Is("YPOS")) bg.ResPos[n].y = Integer(a.ValueView());
    if (a.Is("TRANS")) bg.ResPalent[n] = Colour(r, a);
  }
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
  struct Axis {
    const char* pos;
    const char* mov;
    double posValue = 0;
    double moveValue = 0;
    bool posGiven = false;
    bool moveGiven = false;
  } axes[3] = {{"XPOS", "XMOVE"}, {"YPOS", "YMOVE"}, {"ZPOS", "ZMOVE"}};
  for (const AttrSlot& a : r.Attrs) {
    for (Axis& ax : axes) {
      if (a.Is(ax.pos) && !move) {
        ax.posValue = Real(a.ValueView());
        ax.posGiven = true;
      }
      if (a.Is(ax.mov) || (move && a.Is(ax.pos))) {
        ax.moveValue = Real(a.ValueView());
        ax.moveGiven = true;
      }
    }
    if (a.Is("TIME")) ev->Time = TimeMs(a.ValueView());
    if (!move && a.Is("ACC")) ev->Acc = Integer(a.ValueView());
    if (!move && a.Is("DEC")) ev->Dec = Integer(a.ValueView());
  }
  double* values[3] = {&ev->XValue, &ev->YValue, &ev->ZValue};
  std::int32_t* modes[3] = {&ev->XMode, &ev->YMode, &ev->ZMode};
  for (int i = 0; i < 3; ++i) {
    if (axes[i].moveGiven) {
      *values[i] = axes[i].moveValue;
      *modes[i] = 2;
    } else if (axes[i].posGiven) {
      *values[i] = axes[i].posValue;
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
  std::int32_t stopDelay = 0;
  bool fileGiven = false;
  for (const AttrSlot& a : r.Attrs) {
    if (a.Is("FILE")) {
      fileGiven = true;
      ev->FileName[0] = 0;
      const std::string name = a.ValueText();
      if (!Exists(name)) {
        Warn("<BGM FILE> sound file " + Quoted(name) + " does not exist");
      } else if (CMainCtl::FileTypeOf(name) != 4) {
        Warn("<BGM FILE> " + Quoted(name) + " is not a .wav, .mp3 or .mid sound file");
      } else {
        CopyCut(ev->FileName, sizeof ev->FileName, name, kFileNameChars);
      }
    }
    if (a.Is("MODE")) {
      const std::string k = Keyword(a.ValueView());
      if (k == "START") {
        ev->Switch = kBgmStart;
      } else if (k == "STOP") {
        ev->Switch = kBgmStop;
      } else {
        Error("<BGM MODE> 指定されたオプション " + Cp932ToUtf8(a.ValueView()) + " は無効です");
        return -1;
      }
    }
    if (a.Is("TIME")) stopDelay = TimeMs(a.ValueView());
  }
  if (ev->FileName[0] == 0) {
    if (!fileGiven) Warn("<BGM> without FILE is ignored");
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
  if (stopDelay != 0 && start) {
    auto stop = std::make_unique<CTimeBgm>();
    stop->Switch = kBgmStop;
    AddEvent(std::move(stop), kTagBgm, TickOf(AddMs(ClockMs, stopDelay)), kClassObject);
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
  int fade = kFadeNone;
  for (const AttrSlot& a : r.Attrs) {
    const std::string_view v = a.ValueView();
    if (a.Is("FILE")) {
      if (!v.empty() && v[0] == '*') {
        CopyCut(ev->FileName, sizeof ev->FileName, v, sizeof ev->FileName - 1);
      } else if (!Exists(v)) {
        CheckPicture("<IMAGE FILE>", v);
        ev->FileName[0] = 0;
      } else {
        CheckPicture("<IMAGE FILE>", v);
        CopyCut(ev->FileName, sizeof ev->FileName, v, kFileNameChars);
      }
    }
    if (a.Is("STRING")) ev->String = std::make_unique<std::string>(v);
    if (a.Is("XPOS")) ev->Point.x = Real(v);
    if (a.Is("YPOS")) ev->Point.y = Real(v);
    if (a.Is("ZPOS")) ev->Point.z = Real(v) + kFocalDistance;
    if (a.Is("BGXPOS")) ev->BgPos.x = Real(v);
    if (a.Is("BGYPOS")) ev->BgPos.y = Real(v);
    if (a.Is("BGZPOS")) ev->BgPos.z = Real(v);
    if (a.Is("TRANS")) ev->Trans = Colour(r, a);
    if (a.Is("REVERSE")) {
      const std::string k = Keyword(v);
      if (k == "HORIZON") {
        ev->Reverse = 1;
      } else if (k == "VERTICAL") {
        ev->Reverse = 2;
      } else {
        Warn("<IMAGE REVERSE> " + Quoted(v) + " is not HORIZON or VERTICAL and is ignored");
      }
    }
    if (a.Is("ANGLE")) ev->Angle = Radians(v);
    if (a.Is("SIZE")) ev->Size = Factor(v);
    if (a.Is("CONTRAST")) ReadObjectContrast("IMAGE", v, &fade, &ev->Contrast);
    if (a.Is("OPERATION")) {
      const std::string k = Keyword(v);
      if (k == "COPY") {
        ev->Operation = 1;
      } else if (k == "PAINT") {
        ev->Operation = 2;
      } else {
        Warn("<IMAGE OPERATION> " + Quoted(v) + " is not COPY or PAINT and is ignored");
      }
    }
    if (a.Is("QUALITY")) {
      const bool high = Keyword(v) == "HIGH";
      ev->Quality = high ? 4 : 3;
      if (!high) Warn("<IMAGE QUALITY> " + Quoted(v) + " is not HIGH and reads as normal quality");
    }
    if (a.Is("TIME")) ev->Time = TimeMs(v);
  }
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
  int fade = kFadeNone;
  for (const AttrSlot& a : r.Attrs) {
    const std::string_view v = a.ValueView();
    if (a.Is("FILE")) {
      std::string name(v);
      const int no = TitleLayer ? TitleLayer->LoadTextBitmap(name, kKindTitle) : -1;
      if (no < 0) {
        Error("<TITLE FILE> 指定された Bitmap ファイルが異常です");
        return -1;
      }
      if (name.empty()) Warn("<TITLE FILE> picture file " + Quoted(v) + " could not be loaded");
      ev->BmpNo = no;
      CopyCut(ev->FileName, sizeof ev->FileName, name, kFileNameChars);
    }
    if (a.Is("POS")) ev->ZPos = Real(v);
    if (a.Is("SPEED")) ev->ZPosPlus = Real(v);
    if (a.Is("TIME")) ev->Time = TimeMs(v);
    if (a.Is("COLOR")) ev->Color = Colour(r, a);
    if (a.Is("CONTRAST")) ReadObjectContrast("TITLE", v, &fade, &ev->Contrast);
  }
  const std::int32_t time = ev->Time;
  const std::int32_t bmpNo = ev->BmpNo;
  const std::int32_t tick = TickOf(ClockMs);
  if (AddEvent(std::move(ev), kTagTitle, tick, kClassObject) == 0) {
    RaiseEnd(ClockMs, time);
    AddFades(fade, kTagScheduleT, bmpNo, tick, AddMs(ClockMs, time));
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
  std::int32_t start = 0;
  for (const AttrSlot& a : r.Attrs) {
    const std::string_view v = a.ValueView();
    if (a.Is("START")) start = std::max(0, TimeMs(v));
    if (a.Is("CONTRAST")) {
      // LOW and HIGH are compared as written here, without upper-casing.
      if (v == "LOW") {
        ev->Contrast = 0;
      } else if (v == "HIGH") {
        ev->Contrast = kFullContrast;
      } else {
        if (!IsInteger(v)) {
          Warn(std::string("<") + kTagNames[mode] + " CONTRAST> " + Quoted(v) +
               " is not LOW, HIGH or a number and reads as 0");
        }
        ev->Contrast = Level(v);
      }
    }
    if (a.Is("XPOS") || a.Is("XMOVE")) ev->Point.x = Real(v);
    if (a.Is("YPOS") || a.Is("YMOVE")) ev->Point.y = Real(v);
    if (a.Is("ZPOS") || a.Is("ZMOVE")) {
      ev->Point.z = Real(v) + (ev->Mode == kModeSet ? kFocalDistance : 0.0);
    }
    if (a.Is("ANGLE") || a.Is("ROTATE")) ev->Angle = Radians(v);
    if (a.Is("SIZE")) ev->Size = Factor(v);
    if (a.Is("TIME")) ev->Time = TimeMs(v);
    if (a.Is("COLOR")) ev->Color = Colour(r, a);
    if (a.Is("SPEED")) ev->Speed = Real(v);
    if (a.Is("ACC")) ev->Acc = Integer(v);
    if (a.Is("DEC")) ev->Dec = Integer(v);
  }
  AddEvent(std::move(ev), kind, TickOf(AddMs(ClockMs, start)), kClassSchedule);
  return 0;
}

int CTimeLine::ApplyBodySchedule(TagRecord& r, int mode) {
  CheckAttributes(r, true);
  auto ev = std::make_unique<CTimeSchedule>();
  ev->BmpNo = TextLayer ? TextLayer->count : 0;
  ev->Mode = mode == kTagSet ? kModeSet : kModeMove;
  std::int32_t start = 0;
  for (const AttrSlot& a : r.Attrs) {
    const std::string_view v = a.ValueView();
    if (a.Is("START")) {
      const long long ms = static_cast<long long>(Integer(v)) * 1000;
      start = static_cast<std::int32_t>(std::clamp<long long>(ms, 0, INT32_MAX));
    }
    if (a.Is("CONTRAST")) ev->Contrast = Level(v);
    if (a.Is("TIME")) ev->Time = TimeMs(v);
    if (a.Is("COLOR")) ev->Color = Colour(r, a);
    if (a.Is("SPEED")) ev->Speed = Integer(v);
  }
  AddEvent(std::move(ev), kTagScheduleS, TickOf(AddMs(ClockMs, start)), kClassSchedule);
  return 0;
}

int CTimeLine::ApplyScrText(TagRecord& r) {
  auto ev = std::make_unique<CTimeScroll>();
  int fade = kFadeNone;
  bool picture = false;
  for (const AttrSlot& a : r.Attrs) {
    const std::string_view v = a.ValueView();
    if (a.Is("BITMAP")) {
      if (Keyword(v) == "AUTO") {
        picture = false;
      } else {
        std::string name(v);
        const int no = TextLayer ? TextLayer->LoadTextBitmap(name, kKindScrText) : -1;
        if (no < 0) {
          Error("<TEXT BITMAP> 指定された Bitmap ファイルが異常です");
        } else {
          if (name.empty()) {
            Warn("<SCRTEXT BITMAP> picture file " + Quoted(v) + " could not be loaded");
          }
          ev->BmpNo = no;
          picture = true;
        }
      }
    }
    if (a.Is("COLOR")) ev->Color = Colour(r, a);
    if (a.Is("SPEED")) ev->Speed = Integer(v);
    if (a.Is("TIME")) ev->Time = TimeMs(v);
    if (a.Is("CONTRAST")) ReadObjectContrast("SCRTEXT", v, &fade, &ev->Contrast);
  }
  if (!picture) ev->BmpNo = RenderAutoTextBitmap();
  const std::int32_t time = ev->Time;
  const std::int32_t bmpNo = ev->BmpNo;
  const std::int32_t tick = TickOf(ClockMs);
  if (AddEvent(std::move(ev), kTagScrText, tick, kClassObject) == 0) {
    RaiseEnd(ClockMs, time);
    AddFades(fade, kTagScheduleS, bmpNo, tick, AddMs(ClockMs, time));
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
  for (const AttrSlot& a : r.Attrs) {
    if (a.Is("TIME")) ev->Time = TimeMs(a.ValueView());
  }
  const std::int32_t time = ev->Time;
  if (AddEvent(std::move(ev), kTagCaption, TickOf(ClockMs), kClassObject) == 0) {
    RaiseEnd(ClockMs, time);
  }
  return 0;
}

int CTimeLine::ApplySolid(TagRecord& r) {
  auto ev = std::make_unique<CTimeSolid>();
  for (const AttrSlot& a : r.Attrs) {
    if (a.Is("COLOR")) ev->Color = Colour(r, a);
  }
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
  auto find = [&](const char* name) {
    std::optional<std::string> found;
    for (const AttrSlot& a : r.Attrs) {
      if (a.Is(name)) found = a.ValueText();
    }
    return found;
  };
  switch (r.TagId) {
    case kTagReadFont: {
      const std::string file = find("FILE").value_or("");
      if (!Exists(file)) {
        Warn("<READFONT FILE> font picture " + Quoted(file) + " does not exist");
        return 0;
      }
      return ScrText->ReadFont(find("NAME").value_or(""), file, find("ASSIGN").value_or(""));
    }
    case kTagFormat: {
      const auto align = find("ALIGN");
      if (align) {
        const std::string k = Keyword(*align);
        if (k != "LEFT" && k != "RIGHT" && k != "CENTER" && k != "LAYOUT") {
          Warn("<FORMAT ALIGN> " + Quoted(*align) + " is not LEFT, RIGHT, CENTER or LAYOUT");
        }
      }
      const auto style = find("STYLE");
      if (style) {
        const std::string k = Keyword(*style);
        if (k != "BOLD" && k != "ITALIC" && k != "BOLDITALIC" && k != "ITALICBOLD") {
          Warn("<FORMAT STYLE> " + Quoted(*style) + " is not a style; the text is plain");
        }
      }
      if (ScrText->PushFormat(find("FONT"), find("SIZE"), align, find("ROWSPAN"), find("COLSPAN"),
                              style) < 0) {
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
      const auto row = find("ROW");
      return ScrText->AddChar('\n', row ? Integer(*row) : -1);
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
