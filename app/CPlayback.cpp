// The playback state machine.
#include "app/CPlayback.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "app/CCaption.h"
#include "app/CMPlayer.h"
#include "app/IntervalList.h"
#include "app/WindowSurface.h"
#include "render/CBgCtl.h"
#include "render/COthBmp.h"
#include "render/CScroll.h"
#include "render/CTitle.h"
#include "render/PixelOps.h"
#include "script/CDemoCtl.h"
#include "script/CTimeLine.h"
#include "settings/CMainCtl.h"

int TimeLineShowEngine::PeekEventKind(int tick) {
  return timeline_->PeekEventKind(tick);
}
CTimeDat* TimeLineShowEngine::PopEvent() {
  return timeline_->PopEvent();
}
void TimeLineShowEngine::ResetTimeline() {
  timeline_->ResetTimeline();
}
int TimeLineShowEngine::LoadNextScript() {
  // The entry LoadNextScript is about to take, so it can be loaded again later.
  loadedIndex_ = -1;
  const int count = timeline_->PlayableCount;
  if (timeline_->CatalogueCount > 0 && count > 0) {
    const int pos =
        timeline_->OrderPos >= 0 && timeline_->OrderPos < count ? timeline_->OrderPos : 0;
    loadedIndex_ = timeline_->PlayOrder[pos];
  }
  return timeline_->LoadNextScript();
}
int TimeLineShowEngine::ReloadScript() {
  if (loadedIndex_ < 0) return -1;
  return timeline_->ReloadCatalogueEntry(loadedIndex_);
}
std::string_view TimeLineShowEngine::ScriptPath() const {
  if (loadedIndex_ < 0 || loadedIndex_ >= timeline_->CatalogueCount) return {};
  const ScriptEntry* entry = timeline_->Catalogue[loadedIndex_].get();
  return entry ? std::string_view(entry->Path) : std::string_view();
}
void TimeLineShowEngine::StartBuiltIn(const std::string& item) {
  demo_->Start(item);
}

namespace {

// The clock `hold` ms after `since`, INT32_MAX past the clock's end.
std::int32_t HoldFrom(std::int32_t since, std::int32_t hold) {
  if (hold <= 0) return since;
  if (since > INT32_MAX - hold) return INT32_MAX;
  return since + hold;
}

}  // namespace

CPlayback::CPlayback(const PlaybackParts& parts) : p_(parts) {}

void CPlayback::Begin(bool noLogo, bool counter) {
  NoLogo = noLogo;
  Counter = counter;
  FrameInterval = kDefaultFrameInterval;
  // Without scripts the notice is the only thing to show, so it is shown with the logo off too.
  const bool notice = p_.settings->GetScriptStatus() != 0;
  PlayState = LogoOn() || notice ? kStartIntro : kLoadScript;
  PassCount = 0;
  TickNo = 0;
  Busy = false;
}

bool CPlayback::LogoOn() const {
  return p_.settings->GetFlgLogo() && !NoLogo;
}

void CPlayback::Wait(int ms, int next) {
  restarting_ = false;  // any other wait has the usual first tick
  NextState = next;
  WaitUntil = Now + ms;
  PlayState = kWaiting;
}

void CPlayback::SetFrameInterval(int ms) {
  FrameInterval = std::clamp(ms, 0, kMaxFrameInterval);
}

void CPlayback::ReturnTop() {
  if (p_.window) p_.window->Fill(0, 0, kPictureWidth, kPictureHeight, 0);
  PlayState = kScriptEnded;
}

void CPlayback::Pass(std::int32_t now) {
  lastPass_ = Now;
  Now = now;
  const int state = PlayState;
  try {
    Step();
  } catch (...) {
    // A layer, the engine or the player failed (out of memory, a broken device): end the item
    // rather than leave the saver standing still.
    Recover(state);
  }
}

void CPlayback::Recover(int failedState) {
  Busy = false;
  if (failedState != kScriptEnded) {
    PlayState = kScriptEnded;
    return;
  }
  // The clean-up itself failed: go on to the next item without it.
  movieOpen_ = false;
  TickNo = 0;
  ChooseAfterScript();
}

void CPlayback::Step() {
  switch (PlayState) {
    case kWaiting:
      return StepWaiting();
    case kStartIntro:
      return StepStartIntro();
    case kIntroPlaying:
      return StepIntroPlaying();
    case kIntroEnded:
      return StepIntroEnded();
    case kLoadScript:
      return StepLoadScript();
    case kScriptPlaying:
      return StepScriptPlaying();
    case kScriptEnded:
      return StepScriptEnded();
    case kStartMovie:
      return StepStartMovie();
    case kMoviePlaying:
      return StepMoviePlaying();
    case kMovieEnded:
      return StepMovieEnded();
    default:
      PlayState = kScriptEnded;
      return;
  }
}

std::int32_t CPlayback::NextDeadline(std::int32_t now) const {
  std::int32_t t = now;
  switch (PlayState) {
    case kWaiting:
      t = WaitUntil;
      break;
    case kIntroPlaying:
      t = NextTickTime;
      break;
    case kScriptPlaying:
      t = NextTickTime;
      if (Paused) break;
      if (framePending_) t = std::min(t, HeldFrameDue());
      // A step that would only wait for the frame is made by the pass that shows it; one
      // overdue when the show was paused is made at once, as it always was.
      if (p_.scrolls && !(StepsWait() && framePending_)) {
        const std::int32_t due = p_.scrolls->NextStepDue();
        t = std::min(t, StepsWait() && !lastPassPaused_ ? HoldFrom(due, MaxFrameHoldMs) : due);
      }
      break;
    case kMoviePlaying:
      t = now + kMoviePollMs;
      break;
    default:  // the other states do their work on the next pass
      break;
  }
  return now == INT32_MAX ? now : std::max(t, now + 1);
}

void CPlayback::StepWaiting() {
  if (Now < WaitUntil) return;
  PlayState = NextState;
  NextTickTime = Now + (restarting_ ? 0 : kFirstTickDelayMs);
  restarting_ = false;
  TickNo = 0;
  if (PlayState == kScriptPlaying) ScriptStartTime = Now;
}

void CPlayback::StepStartIntro() {
  IntervalList* list = p_.intervals;
  if (list && list->Turn == 1 && list->Count() > 0) {
    list->Turn = 0;
    if (CMainCtl::FileTypeOf(list->Current()) == 1) {
      PlayState = kStartMovie;
      return;
    }
    p_.engine->StartBuiltIn(list->Current());
    list->Advance();
  } else {
    p_.engine->StartBuiltIn("0");
    if (list && list->Count() > 0) list->Turn = 1;
  }
  Wait(kWaitLogoMs, kIntroPlaying);
}

void CPlayback::StepIntroPlaying() {
  PassCount += 1;
  if (Now < NextTickTime) {
    if (Reference && TickNo > 0) ComposeIntro();
    return;
  }
  for (;;) {
    const int kind = p_.engine->PeekEventKind(TickNo);
    if (kind == 0) break;
    CTimeDat* ev = p_.engine->PopEvent();
    if (!ev) break;
    if (kind == kTagDataEnd) {
      PlayState = kIntroEnded;
    } else if (kind == kTagImage && p_.images) {
      if (auto* rec = dynamic_cast<CTimeImage*>(ev)) p_.images->AddImage(*rec);
    } else if (kind == kTagScheduleI && p_.images) {
      if (auto* rec = dynamic_cast<CTimeSchedule*>(ev)) p_.images->SetImage(*rec);
    }
  }
  if (p_.images) p_.images->AnimateImages();
  NextTickTime = Now + kTickMs;
  TickNo += 1;
  ComposeIntro();
}

void CPlayback::ComposeIntro() {
  ClearStage();
  if (p_.images) p_.images->DrawImages(*p_.stage);
  Present(/*whateverLevel=*/true);
}

void CPlayback::StepIntroEnded() {
  if (p_.images) p_.images->ClearImages();
  p_.engine->ResetTimeline();
  TickNo = 0;
  PlayState = p_.settings->GetScriptStatus() != 0 ? kStartIntro : kLoadScript;
}

void CPlayback::StepLoadScript() {
  StageStale();
  Busy = false;
  framePending_ = false;
  ScreenLevel = kLevelUnchanged;
  ScreenSteps = 0;
  const int result = p_.engine->LoadNextScript();
  Wait(LogoOn() ? kWaitLogoMs : kWaitNoLogoMs, result == 0 ? kScriptPlaying : kScriptEnded);
}

// Every tick composes the frame, and so does every pass in which a scrolling text stepped and
// every paused redraw, unless nothing the frame is drawn from changed since the last compose
// (Compose); the comparison with the frame the window shows then decides what is drawn again.
// Between ticks nothing but the scrolling texts moves, so a pass in which none stepped has nothing
// new to show.
void CPlayback::StepScriptPlaying() {
  PassCount += 1;
  if (Busy) return;
  Busy = true;
  bool tick = false;
  bool stepped = false;
  // The steps due since the last pass, unless the show was paused then (a pause counts from it).
  if (p_.scrolls && StepsWait() && !lastPassPaused_) CatchUpSteps();
  lastPassPaused_ = Paused != 0;
  if (Paused == 0) {
    tick = NextTickTime <= Now;
    if (tick && framePending_) ComposeHeldFrame();
    if (p_.scrolls) stepped = p_.scrolls->StepScroll(Now) != 0;
    if (stepped) StageStale();
    if (!tick) {
      SlackPasses += 1;
    } else {
      if (Now - NextTickTime <= kSlackToleranceMs) SlackPasses += 1;
      RunScriptTick();
    }
  } else if (NextTickTime <= Now) {
    // A redraw that comes on time is no sign of overload.
    if (Now - NextTickTime <= kSlackToleranceMs) SlackPasses += 1;
    NextTickTime = Now + kPausedRedrawMs;
    tick = true;
    DrawCaptions();
  }
  bool compose = tick || stepped || framePending_;
  if (Reference) {
    compose = TickNo > 0;
  } else if (DeferFramesToTicks && !tick) {
    if (stepped) Pending(Now);
    compose = framePending_ && Now >= HeldFrameDue();
  }
  if (compose) {
    framePending_ = false;
    Compose();
    Present();
    SpeedWarning();
  }
  if (Counter && p_.window) p_.window->DrawTimer(Now - ScriptStartTime);
  Busy = false;
}

std::int32_t CPlayback::HeldFrameDue() const {
  return HoldFrom(pendingSince_, MaxFrameHoldMs);
}

bool CPlayback::StepsWait() const {
  return DeferFramesToTicks && !Reference;
}

void CPlayback::Pending(std::int32_t since) {
  if (framePending_) return;
  framePending_ = true;
  pendingSince_ = since;
}

// The scroll steps that fell due after the last pass and before this one, each made as of the
// pass it would have had (its due time, at least a millisecond after the pass before): the text
// stands exactly where a pass at every step would have left it. Each counts as the idle pass it
// stands for. Far behind (the machine was stopped), the rest is dropped as a late pass drops it.
void CPlayback::CatchUpSteps() {
  std::int32_t last = lastPass_;
  for (int i = 0; i < kMaxStepsCaughtUp; ++i) {
    const std::int32_t due = p_.scrolls->NextStepDue();
    if (due == INT32_MAX || last == INT32_MAX) return;
    const std::int32_t at = std::max(due, last + 1);
    if (at >= Now) return;
    if (p_.scrolls->StepScroll(at) != 0) {
      StageStale();
      Pending(at);
    }
    SlackPasses += 1;
    last = at;
  }
}

void CPlayback::ComposeHeldFrame() {
  // Only when this tick may leave the window as it is: a fade runs, or events are due (a SCREEN
  // among them may set level 0). Otherwise the tick's own composition shows the same state.
  if (ScreenLevel == 0) return;  // nothing was copied since the last tick either
  if (ScreenSteps == 0 && p_.engine->PeekEventKind(TickNo) == 0) return;
  Compose();
  Present();
}

namespace {

bool TitlePlays(const CTitle& titles) {
  for (const auto& st : titles.state) {
    if (st) return true;
  }
  return false;
}

}  // namespace

void CPlayback::RunScriptTick() {
  for (;;) {
    const int kind = p_.engine->PeekEventKind(TickNo);
    if (kind == 0) break;
    CTimeDat* ev = p_.engine->PopEvent();
    if (!ev) break;
    if (OnDispatch) OnDispatch(TickNo, *ev);
    Dispatch(*ev);
    StageStale();  // whatever the event was
  }
  // A layer that reports a change (or may have one: a title or a text with an animation) makes
  // the next compose draw; the images are told by what they would draw. The screen level is
  // checked when composing.
  if (p_.scrolls && p_.scrolls->AnimateScrolls() != 0) StageStale();
  if (p_.background && p_.background->AnimateBackground() != 0) BackgroundStale();
  if (p_.titles) {
    // A title that ends leaves AnimateTitles reporting none.
    const bool before = TitlePlays(*p_.titles);
    if (p_.titles->AnimateTitles() != 0 || before) StageStale();
  }
  if (p_.images) {
    p_.images->AnimateImages();
    if (drawnImages_.Changed(*p_.images)) StageStale();
  }
  if (p_.captions && p_.captions->AnimateCaptions() == 1) DrawCaptions();
  NextTickTime = Now + FrameInterval;
  TickNo += 1;
  FadeStep();
}

void CPlayback::Dispatch(CTimeDat& ev) {
  const EventVisitor dispatch{
      [](CTimeData&) {},
      [&](CTimeEnd&) {
        SlackPasses += 1;
        PlayState = kScriptEnded;
      },
      [&](CTimeBgMake& r) {
        BackgroundStale();
        if (p_.background) p_.background->MakeBackground(r);
      },
      [&](CTimeBgScroll& r) {
        BackgroundStale();
        if (p_.background) p_.background->ScrollBackground(r);
      },
      [&](CTimeBgm& r) {
        if (p_.player) p_.player->HandleBgm(r);
      },
      [&](CScreen& r) { StartFade(r); },
      [&](CTimeImage& r) {
        if (p_.images) p_.images->AddImage(r);
      },
      [&](CTimeSolid& r) {
        BackgroundStale();
        if (p_.background) p_.background->SetBackgroundFill(0, r.Color);
      },
      [&](CTimeClear&) {
        BackgroundStale();
        if (p_.background) p_.background->SetBackgroundFill(1, 0);
      },
      [&](CTimeTitle& r) {
        if (p_.titles) p_.titles->StartTitle(r);
      },
      [&](CTimeScroll& r) {
        if (p_.scrolls) p_.scrolls->StartScroll(r, Now);
      },
      [&](CTimeCaption& r) {
        if (p_.captions) p_.captions->StartCaptions(r.CaptionNo, r.NumCaption, r.Time);
      },
      [&](CTimeSchedule& r) {
        if (r.Kind == kTagScheduleS && p_.scrolls) p_.scrolls->SetScroll(r);
        if (r.Kind == kTagScheduleT && p_.titles) p_.titles->SetTitle(r);
        if (r.Kind == kTagScheduleI && p_.images) p_.images->SetImage(r);
      },
  };
  // An unknown kind, or a record of another type than its kind carries, ends the script.
  if (!VisitEvent(ev, dispatch)) PlayState = kScriptEnded;
}

void CPlayback::StartFade(const CScreen& s) {
  if (s.FromContrast != kUnsetInt) ScreenLevel = s.FromContrast;
  if (s.ToContrast != kUnsetInt) ScreenTarget = s.ToContrast;
  ScreenSteps = s.Time / kTickMs;
  if (ScreenSteps <= 0) {
    // Shorter than a tick: the target applies at once.
    ScreenSteps = 0;
    ScreenLevel = ScreenTarget;
    return;
  }
  const std::int64_t diff = static_cast<std::int64_t>(ScreenTarget) - ScreenLevel;
  ScreenStep = static_cast<std::int32_t>(diff / ScreenSteps);
}

void CPlayback::FadeStep() {
  if (ScreenSteps == 0) return;
  ScreenSteps -= 1;
  if (ScreenSteps <= 0) {
    ScreenLevel = ScreenTarget;
    ScreenSteps = 0;
  } else {
    ScreenLevel += ScreenStep;
  }
}

void CPlayback::DrawCaptions() {
  if (!p_.captions || !p_.window) return;
  p_.captions->DrawCaptions(p_.window->Picture());
  // The band below the frame; the caption layer knows the exact place, we only need a bound.
  const DisplayGeometry& g = p_.geometry;
  const int top = static_cast<int>(g.CaptionY + g.CaptionScale * 288);
  p_.window->AddDamage(0, top, p_.window->Width(), p_.window->Height() - top);
}

void CPlayback::ClearStage() {
  p_.stage->Fill(0);
  frameKept_ = false;
  movePending_ = false;
  stageCurrent_ = false;
  stageShown_ = false;
  backgroundKept_ = false;
  unshown_ = BoxList({0, 0, p_.stage->width, p_.stage->height});
}

namespace {

// A compose of layers over a still background draws only where they drew and draw, while that
// is at most this share of the stage (in percent); beyond it the whole frame is drawn.
constexpr int kAreaComposePercent = 75;

// What DrawImages draws into: every quadrant it draws (an object at contrast 0 draws none).
void AddImageBoxes(const COthBmp& images, BoxList& boxes) {
  if (images.count == 0) return;
  for (const auto& slot : images.slots) {
    if (!slot || slot->contrast == 0) continue;
    for (const QuadRect& d : slot->stage) {
      if (d.width == 0 || d.height == 0) continue;
      // Quadrants are cut to the stage; one that is not, or is turned inside out, is not bounded.
      if (d.width < 0 || d.height < 0) {
        boxes.Add({0, 0, kStageWidth, kStageHeight});
        return;
      }
      boxes.Add({d.x, d.y, d.x + d.width, d.y + d.height});
    }
  }
}

// The first of bytes [from, to) of p that is not 0, else `to`.
int FirstSet(const std::uint8_t* p, int from, int to) {
  int i = from;
  for (; i + 8 <= to; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, p + i, sizeof w);
    if (w != 0) break;
  }
  while (i < to && p[i] == 0) ++i;
  return i;
}

// One past the last of bytes [from, to) of p that is not 0, else `from`.
int LastSetEnd(const std::uint8_t* p, int from, int to) {
  int i = to;
  for (; i - 8 >= from; i -= 8) {
    std::uint64_t w;
    std::memcpy(&w, p + i - 8, sizeof w);
    if (w != 0) break;
  }
  while (i > from && p[i - 1] == 0) --i;
  return i;
}

// The part of a title's rectangle whose buffer levels are not 0: DrawTitles draws nothing for a
// level 0, and a title picture is mostly empty around its word.
RectLTRB TitleInk(const Bitmap8& buffer, const TitleRect& r) {
  if (r.left < 0 || r.top < 0 || r.right > buffer.width || r.bottom > buffer.height) {
    return {r.left, r.top, r.right, r.bottom};
  }
  const auto row = [&](int y) { return buffer.pixels.data() + std::size_t{1} * y * buffer.width; };
  int top = r.top, bottom = r.bottom;
  while (top < bottom && FirstSet(row(top), r.left, r.right) == r.right) ++top;
  while (bottom > top && FirstSet(row(bottom - 1), r.left, r.right) == r.right) --bottom;
  int left = r.right, right = r.left;
  for (int y = top; y < bottom; ++y) {
    left = FirstSet(row(y), r.left, left);
    right = LastSetEnd(row(y), right, r.right);
  }
  return {left, top, right, bottom};
}

// What DrawTitles draws into: within each title's rectangle, where its levels are not 0.
void AddTitleBoxes(const CTitle& titles, BoxList& boxes) {
  for (const auto& st : titles.state) {
    if (!st || st->contrast == 0 || st->rect.Empty()) continue;
    boxes.Add(TitleInk(st->buffer, st->rect));
  }
}

// What DrawScrolls draws into: the pixels of the plane whose coverage may not be 0 (the others
// it leaves as they are). Plane row k is drawn on stage row 271 - k from column k; its span of
// such pixels changes from row to row, so the rows are taken in bands of at most
// kScrollBandRows, each with the columns of its widest span, and a row without ink ends a band.
constexpr int kScrollBandRows = 32;

void AddScrollBoxes(const CScroll& scrolls, BoxList& boxes) {
  if (scrolls.activeCount == 0) return;
  for (int i = 0; i < scrolls.count && i < kMaxMonoEntries; ++i) {
    const CPtDataS* st = scrolls.state[i].get();
    const CMonoGraph* g = scrolls.entries[i].get();
    if (!st || !g || g->contrast == 0 || (st->inkTotal == 0 && !scrolls.FromScratch)) continue;
    if (scrolls.FromScratch) {
      boxes.Add({0, kStageHeight - kScrollRows, kScrollColumns, kStageHeight});
      continue;
    }
    int left = 0, top = 0, right = 0, bottom = 0;  // the band gathered, none while top == bottom
    for (int k = 0; k <= kScrollRows; ++k) {
      const bool ink = k < kScrollRows && st->inkFrom[k] < st->inkTo[k];
      if (top < bottom && (!ink || bottom - top == kScrollBandRows)) {
        boxes.Add({left, top, right, bottom});
        top = bottom = 0;
      }
      if (!ink) continue;
      const int y = kStageHeight - 1 - k;
      if (top == bottom) {
        left = kStageWidth, right = 0, bottom = y + 1;
      }
      top = y;
      left = std::min(left, k + st->inkFrom[k]);
      right = std::max(right, k + st->inkTo[k]);
    }
  }
}

}  // namespace

BoxList CPlayback::LayerBoxes() const {
  BoxList boxes;
  if (p_.images) AddImageBoxes(*p_.images, boxes);
  if (p_.titles) AddTitleBoxes(*p_.titles, boxes);
  if (p_.scrolls) AddScrollBoxes(*p_.scrolls, boxes);
  return boxes;
}

// When the background is the one the stage was composed on, at the same screen level, the stage
// differs from the new frame only where the layers drew into it last time and draw now: those
// boxes alone are drawn again, from the background up (a layer is drawn over the background, never
// over its own last pixels), and compared with the window.
void CPlayback::Compose() {
  if (!Reference && stageCurrent_ && composedLevel_ == ScreenLevel) return;
  StageBitmap& stage = *p_.stage;
  const BoxList boxes = LayerBoxes();
  if (!Reference && backgroundKept_ && composedLevel_ == ScreenLevel &&
      stage.width == kStageWidth && stage.height == kStageHeight) {
    BoxList area = layerBoxes_;
    area.Add(boxes);
    if (area.Pixels() * 100 <= std::int64_t{kAreaComposePercent} * kStageWidth * kStageHeight) {
      ComposeArea(area, boxes);
      layerBoxes_ = boxes;
      return;
    }
  }
  if (!Reference && ComposeShifted(boxes)) return;
  movePending_ = false;
  if (p_.background) {
    p_.background->DrawBackground(stage);
  } else {
    ClearStage();
  }
  if (p_.images) p_.images->DrawImages(stage);
  if (p_.titles) p_.titles->DrawTitles(stage);
  if (p_.scrolls) p_.scrolls->DrawScrolls(stage);
  if (ScreenLevel != kLevelNone) ApplyScreenLevel(stage, ScreenLevel);
  stageCurrent_ = true;
  composedLevel_ = ScreenLevel;
  stageShown_ = false;
  backgroundKept_ = p_.background != nullptr;
  layerBoxes_ = boxes;
  unshown_ = BoxList({0, 0, stage.width, stage.height});
  frameKept_ = p_.background != nullptr;
  composedCamera_ = Camera();
  composedBgVersion_ = p_.background ? p_.background->Version() : 0;
}

namespace {

RectLTRB FromBg(const BgRect& r) {
  return {r.left, r.top, r.right, r.bottom};
}

// `r` moved by (dx, dy) and cut to `to`.
RectLTRB MovedInto(const RectLTRB& r, int dx, int dy, const RectLTRB& to) {
  return {std::max(r.left + dx, to.left), std::max(r.top + dy, to.top),
          std::min(r.right + dx, to.right), std::min(r.bottom + dy, to.bottom)};
}

}  // namespace

// A scrolling sky under the layers: while the window shows the stage exactly, the stage's pixels
// are moved with the background (and the window's frame with them, see Present). The background
// is drawn again only in what came into view, in the layers' old boxes (moved) and new boxes and
// where placed pictures round apart from the tile, and the layers over it; every other pixel is
// the last frame's, moved, at the same screen level.
bool CPlayback::ComposeShifted(const BoxList& boxes) {
  StageBitmap& stage = *p_.stage;
  if (!p_.background || !frameKept_ || !stageShown_ || !unshown_.Empty() ||
      composedLevel_ != ScreenLevel || stage.width != kStageWidth || stage.height != kStageHeight ||
      p_.background->Version() != composedBgVersion_)
    return false;
  BgShift plan;
  if (!p_.background->PlanShift(composedCamera_, &plan)) return false;
  const RectLTRB moved = FromBg(plan.moved);
  // The list keeps its boxes apart (joined where they meet), so every pixel drawn again takes the
  // level once.
  BoxList areas;
  for (const RectLTRB& r : layerBoxes_) areas.Add(MovedInto(r, plan.dx, plan.dy, moved));
  for (const RectLTRB& r : boxes) areas.Add(MovedInto(r, 0, 0, moved));
  areas.Add(FromBg(plan.placed));
  for (int i = 0; i < plan.freshCount; ++i) areas.Add(FromBg(plan.fresh[i]));
  if (areas.Pixels() * 100 > std::int64_t{kAreaComposePercent} * kStageWidth * kStageHeight)
    return false;

  BgRect more[kMaxBoxes];
  int moreCount = 0;
  for (const RectLTRB& r : areas) more[moreCount++] = {r.left, r.top, r.right, r.bottom};
  p_.background->ShiftBackground(stage, plan, more, moreCount);
  // Every pixel the layers write lies in a new box: in the areas drawn again.
  if (p_.images) p_.images->DrawImages(stage);
  if (p_.titles) p_.titles->DrawTitles(stage);
  if (p_.scrolls) p_.scrolls->DrawScrolls(stage);
  if (ScreenLevel != kLevelNone && ScreenLevel != kLevelUnchanged) {
    for (const RectLTRB& r : areas) {
      ScaleColours(stage, r.left, r.top, r.right - r.left, r.bottom - r.top, ScreenLevel);
    }
  }
  stageCurrent_ = true;
  stageShown_ = false;
  backgroundKept_ = true;
  layerBoxes_ = boxes;
  composedCamera_ = Camera();
  movePending_ = true;
  moveDx_ = plan.dx;
  moveDy_ = plan.dy;
  movedUnshown_ = areas;
  // Unmoved, the window may differ from the stage anywhere.
  unshown_ = BoxList({0, 0, stage.width, stage.height});
  ShiftedFrames += 1;
  return true;
}

namespace {

// The stage rectangles of the image quadrants drawn opaque over whatever lies under them, at
// most `room` of them.
int CoveredBoxes(const COthBmp& images, RectLTRB* out, int room) {
  int n = 0;
  for (const auto& slot : images.slots) {
    if (!slot || slot->contrast == 0) continue;
    for (int q = 0; q < 4 && n < room; ++q) {
      if (!COthBmp::CoversQuadrant(*slot, q)) continue;
      const QuadRect& d = slot->stage[q];
      out[n++] = {d.x, d.y, d.x + d.width, d.y + d.height};
    }
  }
  return n;
}

}  // namespace

// The area's boxes join the layers' old and new boxes into rectangles that also hold pixels in
// neither (beside a sprite moving diagonally): those still hold the background of the frame
// composed last and are left alone. Under an opaque picture the background is not drawn at all.
void CPlayback::ComposeArea(const BoxList& area, const BoxList& boxes) {
  StageBitmap& stage = *p_.stage;
  movePending_ = false;
  stageCurrent_ = true;
  stageShown_ = false;
  if (area.Empty()) return;
  RectLTRB drawn[2 * kMaxBoxes];
  int drawnCount = 0;
  for (const RectLTRB& r : layerBoxes_) drawn[drawnCount++] = r;
  for (const RectLTRB& r : boxes) drawn[drawnCount++] = r;
  RectLTRB covered[kMaxSpanRects];
  const int coveredCount = p_.images ? CoveredBoxes(*p_.images, covered, kMaxSpanRects) : 0;
  for (const RectLTRB& r : area) {
    ForEachSpan(r, drawn, drawnCount, covered, coveredCount, [&](const RectLTRB& s) {
      FilledPixels += RectPixels(s);
      p_.background->DrawBackground(stage, BgRect{s.left, s.top, s.right, s.bottom});
    });
  }
  // Every pixel the layers write lies in a box.
  if (p_.images) p_.images->DrawImages(stage);
  if (p_.titles) p_.titles->DrawTitles(stage);
  if (p_.scrolls) p_.scrolls->DrawScrolls(stage);
  if (ScreenLevel != kLevelNone && ScreenLevel != kLevelUnchanged) {
    // The spans do not overlap: each pixel drawn again is scaled once, and no other.
    for (const RectLTRB& r : area) {
      ForEachSpan(r, drawn, drawnCount, nullptr, 0, [&](const RectLTRB& s) {
        ScaleColours(stage, s.left, s.top, s.right - s.left, s.bottom - s.top, ScreenLevel);
      });
    }
  }
  unshown_.Add(area);
}

void CPlayback::ApplyScreenLevel(StageBitmap& stage, std::int32_t level) {
  if (level == kLevelUnchanged) return;  // (v * 0x10000) >> 16 is v
  // A negative gain is darker than black; above 0x10000 each channel saturates at 255.
  ScaleColours(stage, level);
}

void CPlayback::Present(bool whateverLevel) {
  if (!p_.window) return;
  if (ScreenLevel == 0 && !whateverLevel) return;  // the window keeps its last picture
  const DisplayGeometry& g = p_.geometry;
  const StageBitmap& stage = *p_.stage;
  const bool stretched = g.mode == kDisplayStretched || g.mode == kDisplayDoubled;
  const RectXYWH source =
      g.mode == kDisplayDoubled ? g.SourceRect : RectXYWH{0, 0, stage.width, stage.height};
  const RectXYWH area =
      stretched ? g.FrameRect : RectXYWH{g.FrameRect.x, g.FrameRect.y, stage.width, stage.height};
  // While the window still shows the last frame, only the part of the stage that changed since
  // is drawn again (and repainted by the shell): a still picture costs nothing, a small sprite
  // little. The window's pixels are the same as after drawing the whole frame. An unstretched
  // window holds that frame in its picture, which is compared with the stage directly.
  const Bitmap32& picture = p_.window->Picture();
  const bool inPicture = !stretched && area.x >= 0 && area.y >= 0 &&
                         area.x + area.width <= picture.width &&
                         area.y + area.height <= picture.height;
  const bool kept = !Reference && p_.window->FrameKept(area);
  if (kept && stageShown_) return;  // the window shows this very stage: nothing would differ
  stageShown_ = true;
  // Outside these boxes the stage holds the frame presented last.
  const BoxList unshown = unshown_;
  unshown_.Clear();
  if (kept && (inPicture || (shown_.width == stage.width && shown_.height == stage.height))) {
    // The compare copies each changed row as it goes (into the picture, or into shown_).
    // A part costs a request whatever its size: worth it where it spares that many pixels of
    // the window, which a stretch makes of fewer pixels of the frame.
    const std::int64_t framePixels = std::int64_t{source.width} * source.height;
    const std::int64_t windowPixels = std::int64_t{area.width} * area.height;
    const std::int64_t joinPixels =
        windowPixels > 0 ? kPartCostPixels * framePixels / windowPixels : kPartCostPixels;
    // A stage whose pixels were moved differs from the window moved as much only where it was
    // drawn again; moved by the display server, the window is exactly that (whole-number scale).
    bool moved = false;
    if (movePending_) {
      moved = !inPicture && stretched && source == RectXYWH{0, 0, stage.width, stage.height} &&
              p_.window->MoveFrame(shown_, area, moveDx_, moveDy_);
      if (moved) MovedFrames += 1;
    } else if (!inPicture && stretched) {
      MoveShown(area, source);
    }
    movePending_ = false;
    shownCamera_ = Camera();
    RectXYWH parts[kMaxChangedParts];
    int n = 0;
    ComparedPixels += moved ? movedUnshown_.Pixels() : unshown.Pixels();
    if (moved) {
      n = CompareMovedShown(parts, joinPixels);
    } else {
      n = inPicture ? CopyChangedParts(p_.window->Picture(), area.x, area.y, stage, unshown, parts,
                                       joinPixels)
                    : CopyChangedParts(shown_, 0, 0, stage, unshown, parts, joinPixels);
    }
    for (int i = 0; i < n; ++i) {
      const RectXYWH& part = parts[i];
      if (inPicture) {
        p_.window->FramePartCopied(area.x, area.y, part);
        continue;
      }
      if (stretched) {
        // shown_ now holds the stage's pixels there (and is the frame a moved window shows).
        p_.window->StretchFrame(shown_, g.FrameRect, source, kStretchDrop, part);
      } else {
        p_.window->CopyFrame(stage, g.FrameRect.x, g.FrameRect.y, part);
      }
    }
    return;
  }
  movePending_ = false;
  if (!inPicture) shown_ = stage;
  shownCamera_ = Camera();
  if (stretched) {
    p_.window->StretchFrame(stage, g.FrameRect, source, kStretchDrop);
  } else {
    p_.window->CopyFrame(stage, g.FrameRect.x, g.FrameRect.y);
  }
}

// The frame shown, moved as the stage was, differs from the stage only in movedUnshown_ (the
// rest of both is the frame before, moved alike). Only those pixels of the moved frame are made,
// in a scratch bitmap, and compared; shown_ then takes the whole stage, which this pass has just
// written, instead of being moved itself (the same pixels, from a frame still in the caches).
int CPlayback::CompareMovedShown(RectXYWH* parts, std::int64_t joinPixels) {
  const StageBitmap& stage = *p_.stage;
  if (movedBefore_.width != shown_.width || movedBefore_.height != shown_.height) {
    if (!movedBefore_.Create(shown_.width, shown_.height, 0)) {
      MovePixels(shown_, moveDx_, moveDy_);
      return CopyChangedParts(shown_, 0, 0, stage, movedUnshown_, parts, joinPixels);
    }
  }
  // The compare reads whole blocks of kChangeBlock columns around the changes it finds, so the
  // scratch holds the moved frame over the boxes widened to whole blocks: a block half outside a
  // box must read there what the moved frame holds, or stale pixels would count as changes.
  for (const RectLTRB& r : movedUnshown_) {
    const int left = r.left / kChangeBlock * kChangeBlock;
    const int right =
        std::min(shown_.width, (r.right + kChangeBlock - 1) / kChangeBlock * kChangeBlock);
    MovedPixelsInto(movedBefore_, shown_, moveDx_, moveDy_, left, r.top, right - left,
                    r.bottom - r.top);
  }
  const int n = CopyChangedParts(movedBefore_, 0, 0, stage, movedUnshown_, parts, joinPixels);
  std::copy(stage.pixels.begin(), stage.pixels.end(), shown_.pixels.begin());
  return n;
}

Point3 CPlayback::Camera() const {
  return p_.background ? p_.background->GetCamera() : Point3{};
}

namespace {

// True when at least half of the pixels of a few rows spread over `now` are those of `before`
// moved by (dx, dy).
bool MostlyMoved(const StageBitmap& before, const StageBitmap& now, int dx, int dy) {
  constexpr int kRows = 8;
  const int from = std::max(0, dx), to = std::min(now.width, now.width + dx);
  std::int64_t same = 0, all = 0;
  for (int i = 0; i < kRows; ++i) {
    const int y = (2 * i + 1) * now.height / (2 * kRows);
    if (y - dy < 0 || y - dy >= before.height) continue;
    const std::uint32_t* a = now.Row(y);
    const std::uint32_t* b = before.Row(y - dy);
    for (int x = from; x < to; ++x) same += a[x] == b[x - dx];
    all += to - from;
  }
  return all > 0 && 2 * same >= all;
}

}  // namespace

// When the background's camera moved since the frame shown and most of the new frame is that
// frame moved the other way, the window's frame is moved by the display server (a copy within
// the window, exact at a whole-number scale) and shown_ with it; the compare that follows then
// finds only what differs from the moved frame (what came into view, what moves over the
// background), which is all that is drawn and sent. A scrolling sky costs a strip, not a frame.
void CPlayback::MoveShown(const RectXYWH& area, const RectXYWH& source) {
  const StageBitmap& stage = *p_.stage;
  if (!(source == RectXYWH{0, 0, stage.width, stage.height})) return;
  const Point3 camera = Camera();
  const double mx = std::trunc(shownCamera_.x) - std::trunc(camera.x);
  const double my = std::trunc(shownCamera_.y) - std::trunc(camera.y);
  if (std::fabs(mx) >= stage.width || std::fabs(my) >= stage.height) return;
  const int dx = static_cast<int>(mx), dy = static_cast<int>(my);
  if ((dx == 0 && dy == 0) || !MostlyMoved(shown_, stage, dx, dy)) return;
  if (!p_.window->MoveFrame(shown_, area, dx, dy)) return;
  MovePixels(shown_, dx, dy);
}

void CPlayback::SpeedWarning() {
  if (p_.window && p_.warning) {
    const RectLTRB& r = p_.geometry.WarningRect;
    if (SlackPasses == 0) {
      p_.window->DrawBitmap(*p_.warning, r.left, r.top);
    } else {
      p_.window->Fill(r.left, r.top, r.right - r.left, r.bottom - r.top, 0);
    }
  }
  SlackPasses = 0;
}

void CPlayback::ChooseAfterScript() {
  // Without scripts the notice stands in for them, with the logo off as well.
  if (LogoOn() || p_.settings->GetScriptStatus() != 0) {
    Wait(LogoOn() ? kWaitLogoMs : kWaitNoLogoMs, kStartIntro);
  } else {
    Wait(kWaitNoLogoMs, kLoadScript);
  }
}

void CPlayback::StepScriptEnded() {
  ClearForNextItem();
  ChooseAfterScript();
}

void CPlayback::ClearForNextItem() {
  BackgroundStale();
  if (p_.window) p_.window->FillAll(0);
  if (p_.background) p_.background->ClearBackground();
  if (p_.titles) p_.titles->ClearTitles();
  if (p_.scrolls) p_.scrolls->ClearScrolls();
  if (p_.images) p_.images->ClearImages();
  if (p_.captions) p_.captions->ClearCaptions();
  p_.engine->ResetTimeline();
  if (p_.player) {
    if (movieOpen_) p_.player->CloseMovie();  // Return to Top during a movie
    p_.player->StopMusic();
  }
  movieOpen_ = false;
  p_.settings->RestoreCurPath();
  TickNo = 0;
}

bool CPlayback::ShowOn() const {
  return PlayState == kScriptPlaying || (PlayState == kWaiting && NextState == kScriptPlaying);
}

std::string_view CPlayback::ShowPath() const {
  return ShowOn() ? p_.engine->ScriptPath() : std::string_view();
}

int CPlayback::RestartShow() {
  if (!ShowOn()) return -1;
  ClearForNextItem();
  Busy = false;
  framePending_ = false;
  ScreenLevel = kLevelUnchanged;
  ScreenSteps = 0;
  const int result = p_.engine->ReloadScript();
  // The author is waiting for the edit: it plays from the next pass, without the pause before
  // a show and the first tick's delay. A file that no longer loads ends as a broken show does.
  Wait(result == 0 ? 0 : kWaitNoLogoMs, result == 0 ? kScriptPlaying : kScriptEnded);
  restarting_ = result == 0;
  return 0;
}

void CPlayback::StepStartMovie() {
  IntervalList* list = p_.intervals;
  if (p_.window) p_.window->FillAll(0);
  if (!list || list->Count() == 0) {
    PlayState = kLoadScript;
    return;
  }
  const int w = p_.window ? p_.window->Width() : 0;
  const int h = p_.window ? p_.window->Height() : 0;
  if (p_.player && p_.player->PlayMovie(list->Current(), w, h) == 0) {
    movieOpen_ = true;
    PlayState = kMoviePlaying;
  } else {
    list->Remove(list->Index);
    PlayState = kLoadScript;
  }
  list->Advance();
}

void CPlayback::StepMoviePlaying() {
  PassCount += 1;
  if (!p_.player || p_.player->MovieStopped()) PlayState = kMovieEnded;
}

void CPlayback::StepMovieEnded() {
  if (p_.player) p_.player->CloseMovie();
  movieOpen_ = false;
  if (p_.window) p_.window->FillAll(0);
  Wait(kWaitMovieMs, p_.settings->GetScriptStatus() != 0 ? kStartIntro : kLoadScript);
}
