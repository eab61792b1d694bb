// The script engine's life cycle and timeline: creation, reset, playback cursor, adding events
// under the timeline's limit, and the sort.
#include "script/CTimeLine.h"

#include <algorithm>
#include <cstring>

#include "platform/FieldCopy.h"
#include "render/CMonoBmp.h"
#include "script/CScrText.h"
#include "script/ScriptDiagnostics.h"
#include "settings/CMainCtl.h"

CTimeLine::CTimeLine(CMainCtl* settings, CBgCtl* bg, MusicPreloader* player, COthBmp* images,
                     CMonoBmp* textLayer, CMonoBmp* titleLayer, CaptionSink* caption)
    : Settings(settings),
      BackgroundLayer(bg),
      CaptionLayer(caption),
      TitleLayer(titleLayer),
      TextLayer(textLayer),
      ImageLayer(images),
      Player(player),
      ScrText(std::make_unique<CScrText>(settings)) {
  ResetTimeline();
}

CTimeLine::~CTimeLine() {
  ResetTimeline();
  if (ScrText) ScrText->Reset(false);
}

void CTimeLine::ResetTimeline() {
  for (auto& e : Events) e.reset();
  EventCount = 0;
  PlayCursor = 0;
  ClockMs = 0;
  NextImageNo = 0;
  ScriptEndMs = 0;
  LastError = ScriptError();
  MusicPreloaded = 0;
  InBgMake = 0;
  InTitle = 0;
  InImage = 0;
  CurrentObjectNo = 0;
  EventsRefused = false;
  pendingBgMake_.reset();
  bgObjects_ = 0;
  if (ScrText) ScrText->Reset(true);
}

int CTimeLine::PeekEventKind(int tick) {
  if (PlayCursor < 0 || PlayCursor >= EventCount) return 0;
  const CTimeDat* e = Events[PlayCursor].get();
  return (e && tick >= e->Tick) ? e->Kind : 0;
}

CTimeDat* CTimeLine::PopEvent() {
  if (PlayCursor < 0 || PlayCursor >= EventCount) return nullptr;
  return Events[PlayCursor++].get();
}

int CTimeLine::AddEventRecord(std::unique_ptr<CTimeDat> ev, int kind, std::int32_t tick,
                              std::int32_t cls) {
  // The last slot is kept for the end event, so a full timeline still ends.
  const int limit = kind == kTagDataEnd ? kMaxEvents : kMaxEvents - 1;
  if (EventCount >= limit) {
    if (!EventsRefused) {
      EventsRefused = true;
      Error("イベントが 2048 個を超えました。以降のイベントは無視されます");
    }
    return -1;
  }
  ev->Kind = static_cast<std::uint8_t>(kind);
  ev->Tick = tick;
  ev->OrderKey = (cls << 24) + EventCount;
  Events[EventCount++] = std::move(ev);
  return 0;
}

void CTimeLine::RaiseEnd(std::int32_t startMs, std::int32_t timeMs) {
  // Two's-complement addition, as the 32-bit fields wrap.
  const auto end = static_cast<std::int32_t>(static_cast<std::uint32_t>(startMs) +
                                             static_cast<std::uint32_t>(timeMs));
  ScriptEndMs = std::max(ScriptEndMs, end);
}

void CTimeLine::SortTimeline() {
  std::stable_sort(Events, Events + EventCount, [](const auto& a, const auto& b) {
    if (a->Tick != b->Tick) return a->Tick < b->Tick;
    return a->OrderKey < b->OrderKey;
  });
}

void CTimeLine::Error(const std::string& message, const std::string& detail) {
  CopyField(LastError.Message, message, sizeof LastError.Message - 1, FieldCut::kUtf8);
  if (diag_ && source_) {
    int line, column;
    source_->LineColumn(source_->TagOffset(), &line, &column);
    diag_->Report(true, line, column, message + detail);
  }
}

void CTimeLine::Warn(const std::string& message) {
  if (diag_ && source_) {
    int line, column;
    source_->LineColumn(source_->TagOffset(), &line, &column);
    diag_->Report(false, line, column, message);
  }
}
