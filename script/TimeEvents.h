// Timeline event records: the records only the timeline and playback read (the shared header
// and the layers' records are in render/LayerEvents.h), and the table of which record each event
// kind carries.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>

#include "render/LayerEvents.h"
#include "script/TagId.h"

struct CTimeData : CTimeDat {  // 1 DATA
  char Title[32] = {};
  std::int32_t Version = 0;
  std::int32_t BgColor = 0;
};

struct CTimeEnd : CTimeDat {};  // 2 /DATA, 35 END

inline constexpr std::int32_t kBgmStart = 1;
inline constexpr std::int32_t kBgmStop = 3;
inline constexpr std::int32_t kBgmStartPreloaded = 4;

struct CTimeBgm : CTimeDat {  // 9 BGM
  char FileName[64] = {};
  std::int32_t Switch = kBgmStart;
  std::int32_t Fade = 0;
};

struct CScreen : CTimeDat {  // 10 SCREEN
  std::int32_t FromContrast = kUnsetInt;
  std::int32_t ToContrast = 0xFF0000;
  std::int32_t Time = 1000;
};

struct CTimeSolid : CTimeDat {  // 14 SOLID
  std::int32_t Color = 0;
};

struct CTimeClear : CTimeDat {};  // 15 CLEAR

struct CTimeCaption : CTimeDat {  // 25 CAPTION
  std::int32_t CaptionNo = 0;
  std::int32_t NumCaption = 0;
  std::int32_t Time = 5000;
};

// ---- Which record each event kind carries ------------------------------------------------------
// One row per kind. The loader checks the records it adds against it, and playback and the script
// log read events through VisitEvent, so a new kind is a row here (and a record above when it
// needs one); every visitor that does not handle its record then fails to compile.

template <std::uint8_t K, typename R>
struct EventKind {
  static constexpr std::uint8_t kKind = K;
  using Record = R;
};

template <typename... Rows>
struct EventKindTable {};

using EventKinds =
    EventKindTable<EventKind<kTagData, CTimeData>, EventKind<kTagDataEnd, CTimeEnd>,
                   EventKind<kTagBgMake, CTimeBgMake>, EventKind<kTagBgScroll, CTimeBgScroll>,
                   EventKind<kTagBgSet, CTimeBgScroll>, EventKind<kTagBgMove, CTimeBgScroll>,
                   EventKind<kTagBgm, CTimeBgm>, EventKind<kTagScreen, CScreen>,
                   EventKind<kTagImage, CTimeImage>, EventKind<kTagSolid, CTimeSolid>,
                   EventKind<kTagClear, CTimeClear>, EventKind<kTagTitle, CTimeTitle>,
                   EventKind<kTagScrText, CTimeScroll>, EventKind<kTagCaption, CTimeCaption>,
                   EventKind<kTagScheduleS, CTimeSchedule>, EventKind<kTagScheduleT, CTimeSchedule>,
                   EventKind<kTagScheduleI, CTimeSchedule>, EventKind<kTagEnd, CTimeEnd>>;

namespace event_kinds {

template <typename R, typename... Rows>
constexpr bool Carries(int kind, EventKindTable<Rows...>) {
  return ((Rows::kKind == kind && std::is_same_v<typename Rows::Record, R>) || ...);
}

template <typename R, typename Ev, typename Visit>
bool VisitAs(Ev& ev, Visit& visit) {
  using Target = std::conditional_t<std::is_const_v<Ev>, const R, R>;
  Target* record = dynamic_cast<Target*>(&ev);
  if (!record) return false;
  visit(*record);
  return true;
}

template <typename Ev, typename Visit, typename... Rows>
bool VisitRows(Ev& ev, Visit& visit, EventKindTable<Rows...>) {
  bool done = false;
  static_cast<void>((
      (ev.Kind == Rows::kKind && (done = VisitAs<typename Rows::Record>(ev, visit), true)) || ...));
  return done;
}

}  // namespace event_kinds

// True when events of `kind` carry a record of type R.
template <typename R>
constexpr bool CarriesRecord(int kind) {
  return event_kinds::Carries<R>(kind, EventKinds{});
}

// Calls `visit` with the event's record as the type its kind carries and returns true. False,
// without calling it, for a kind without a row or a record of another type.
template <typename Visit>
bool VisitEvent(CTimeDat& ev, Visit&& visit) {
  return event_kinds::VisitRows(ev, visit, EventKinds{});
}
template <typename Visit>
bool VisitEvent(const CTimeDat& ev, Visit&& visit) {
  return event_kinds::VisitRows(ev, visit, EventKinds{});
}

// A visitor made of one lambda per record type.
template <typename... F>
struct EventVisitor : F... {
  using F::operator()...;
};
template <typename... F>
EventVisitor(F...) -> EventVisitor<F...>;
