// The tag dispatcher and the handlers that turn tokenised tags into timeline events. Which
// attributes a tag knows and which handler applies it are in TagTables.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <optional>
#include <string>

#include "platform/Cp932.h"
#include "render/CMonoBmp.h"
#include "script/CScrText.h"
#include "script/CTimeLine.h"
#include "script/CaptionSink.h"
#include "script/MusicPreloader.h"
#include "script/ScriptValues.h"
#include "script/TagTables.h"
#include "settings/CMainCtl.h"

using namespace tagtable;

namespace {

constexpr std::int32_t kFadeMs = 500;

std::int32_t AddMs(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

std::int32_t TickOf(std::int32_t ms) {
  return ms / kTickMs;
}

}  // namespace

// ---- Common rules and dispatch ------------------------------------------------------------

void CTimeLine::ApplyCommonRules(int tagId) {
  if (InBgMake && tagId != kTagObject && tagId != kTagBgMakeEnd) EndBgMake();
  if (tagId != kTagSet && tagId != kTagMove) {
    InTitle = 0;
    InImage = 0;
  }
}

void CTimeLine::CheckAttributes(const TagRecord& r, bool inBody) {
  if (!diag_) return;
  const TagRow& row = Row(r.TagId);
  bool (*knows)(std::string_view) = inBody && row.knowsInBody ? row.knowsInBody : row.knows;
  for (const AttrSlot& a : r.Attrs) {
    if (a.Empty()) continue;
    if (a.NameView().empty()) {
      Warn(std::string("<") + kTagNames[r.TagId] + "> value " + Quoted(a.ValueView()) +
           " without an attribute name is ignored");
      continue;
    }
    if (!knows || !knows(a.NameView())) {
      Warn(std::string("<") + kTagNames[r.TagId] + "> attribute " + Cp932ToUtf8(a.NameView()) +
           " is not known and is ignored");
    }
  }
}

int CTimeLine::ApplyTag(TagRecord& r) {
  ApplyCommonRules(r.TagId);
  CheckAttributes(r, false);
  const TagRow& row = Row(r.TagId);
  if (row.apply) return (this->*row.apply)(r);
  Warn(std::string("<") + kTagNames[r.TagId] + "> does nothing outside a SCRTEXT or CAPTION body");
  return 0;
}

// /IMAGE and /TITLE: the block ends with the next tag that is not SET or MOVE.
int CTimeLine::ApplyBlockEnd(TagRecord&) {
  return 0;
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

int CTimeLine::ApplyDataEnd(TagRecord&) {
  AddEvent(std::make_unique<CTimeEnd>(), kTagDataEnd, TickOf(ScriptEndMs), kClassEnd);
  return 0;
}

int CTimeLine::ApplyEnd(TagRecord&) {
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

int CTimeLine::ApplyBgMakeEnd(TagRecord&) {
  return EndBgMake();
}

int CTimeLine::EndBgMake() {
  if (!InBgMake) return 0;
  InBgMake = 0;
  if (pendingBgMake_) {
    AddEvent(std::move(pendingBgMake_), kTagBgMake, TickOf(ClockMs), kClassObject);
  }
  bgObjects_ = 0;
  return 0;
}

int CTimeLine::ApplyBgScroll(TagRecord& r) {
  const int kind = r.TagId;
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

int CTimeLine::ApplySchedule(TagRecord& r) {
  if (!InTitle && !InImage) {
    Warn(std::string("<") + kTagNames[r.TagId] + "> outside a TITLE or IMAGE block is ignored");
    return 0;
  }
  const int mode = r.TagId;
  auto ev = std::make_unique<CTimeSchedule>();
  const int kind = InTitle ? kTagScheduleT : kTagScheduleI;
  ev->BmpNo = CurrentObjectNo;
  ev->Mode = mode == kTagSet ? kModeSet : kModeMove;
  ScheduleParse p{{{*this, r}, *ev}};
  ReadAttrs(kScheduleAttrs, p);
  AddEvent(std::move(ev), kind, TickOf(AddMs(ClockMs, p.start)), kClassSchedule);
  return 0;
}

int CTimeLine::ApplyBodySchedule(TagRecord& r) {
  const int mode = r.TagId;
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
  const TagRow& row = Row(r.TagId);
  if (row.applyInBody) return (this->*row.applyInBody)(r);
  Warn(std::string("<") + kTagNames[r.TagId] + "> does nothing in a SCRTEXT body");
  return 0;
}

int CTimeLine::ApplyReadFont(TagRecord& r) {
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

int CTimeLine::ApplyFormat(TagRecord& r) {
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

int CTimeLine::ApplyFormatEnd(TagRecord&) {
  if (ScrText->PopFormat() < 0) Warn("</FORMAT> without an open FORMAT is ignored");
  return 0;
}

// NODISP and /NODISP.
int CTimeLine::ApplyNoDisp(TagRecord& r) {
  ScrText->Hide(r.TagId == kTagNoDisp);
  return 0;
}

int CTimeLine::ApplyBr(TagRecord& r) {
  BreakArgs br;
  BreakParse p{{*this, r}, br};
  ReadAttrs(kBrAttrs, p);
  return ScrText->AddChar('\n', br.row ? Integer(*br.row) : -1);
}

int CTimeLine::ApplySpc(TagRecord&) {
  return ScrText->AddChar(kKeptSpace, -1);
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
