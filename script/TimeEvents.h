// Timeline event records: the header every event shares, one record per event kind, and the
// table of which record each kind carries.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>

#include "script/TagId.h"

inline constexpr std::int32_t kUnsetInt = static_cast<std::int32_t>(0x80000000u);
inline constexpr double kUnsetReal = 2147483648.0;
inline constexpr std::int32_t kFarslantColour = 0x0000C0FF;  // packed 0x00BBGGRR
inline constexpr std::int32_t kFullContrast = 0xFF0000;
inline constexpr double kFocalDistance = 270.0;
inline constexpr int kTickMs = 33;
inline constexpr int kMaxBgObjects = 64;

// Order classes of `OrderKey`: class << 24 | index in Events at creation.
inline constexpr std::int32_t kClassObject = 1;
inline constexpr std::int32_t kClassSchedule = 2;
inline constexpr std::int32_t kClassEnd = 3;

struct CTimeDat {
  virtual ~CTimeDat() = default;
  std::int32_t Tick = 0;
  std::int32_t OrderKey = 0;
  std::uint8_t Kind = 0;
};

struct CTimeData : CTimeDat {  // 1 DATA
  char Title[32] = {};
  std::int32_t Version = 0;
  std::int32_t BgColor = 0;
};

struct CTimeEnd : CTimeDat {};  // 2 /DATA, 35 END

struct BgPoint {
  std::int32_t x = 0;
  std::int32_t y = 0;
};

struct CTimeBgMake : CTimeDat {  // 3 BGMAKE
  std::int32_t BgColor = 0;
  char FileName[64] = {};
  char ResName[kMaxBgObjects][64] = {};
  BgPoint ResPos[kMaxBgObjects] = {};
  std::int32_t ResPalent[kMaxBgObjects];
  CTimeBgMake() {
    for (auto& p : ResPalent) p = -1;
  }
};

struct CTimeBgScroll : CTimeDat {  // 6 BGSCROLL, 7 BGSET, 8 BGMOVE
  std::int32_t SpeedMode = 0;
  double XValue = 0;
  std::int32_t XMode = 0;
  double YValue = 0;
  std::int32_t YMode = 0;
  double ZValue = 0;
  std::int32_t ZMode = 0;
  std::int32_t Time = 0;
  std::int32_t Acc = 0;
  std::int32_t Dec = 0;
};

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

struct Point3 {
  double x = 0;
  double y = 0;
  double z = 0;
};

struct CTimeImage : CTimeDat {  // 11 IMAGE
  char FileName[64] = {};
  std::unique_ptr<std::string> String;  // none when not given
  std::int32_t BmpNo = 0;
  Point3 Point{0, 0, kFocalDistance};
  Point3 BgPos{0, 0, 0};
  std::int32_t Trans = -1;
  std::int32_t Contrast = kFullContrast;
  std::int32_t Reverse = 0;    // 0 none, 1 horizontal, 2 vertical
  double Angle = 0;            // radians
  double Size = 1.0;           // factor
  std::int32_t Quality = 3;    // 4 = high
  std::int32_t Operation = 1;  // 1 copy, 2 paint
  std::int32_t Time = 0;
};

struct CTimeSolid : CTimeDat {  // 14 SOLID
  std::int32_t Color = 0;
};

struct CTimeClear : CTimeDat {};  // 15 CLEAR

struct CTimeTitle : CTimeDat {  // 16 TITLE
  std::int32_t Switch = 1;
  char FileName[64] = {};
  std::int32_t BmpNo = -1;
  double ZPos = 0;
  double ZPosPlus = 0;
  std::int32_t Color = kFarslantColour;
  std::int32_t Contrast = kFullContrast;
  std::int32_t Time = 5000;
};

struct CTimeScroll : CTimeDat {  // 18 SCRTEXT
  std::int32_t Switch = 1;
  std::int32_t BmpNo = 0;
  std::int32_t Contrast = kFullContrast;
  std::int32_t Color = kFarslantColour;
  std::int32_t Speed = 0;
  std::int32_t Time = 20000;
};

struct CTimeCaption : CTimeDat {  // 25 CAPTION
  std::int32_t CaptionNo = 0;
  std::int32_t NumCaption = 0;
  std::int32_t Time = 5000;
};

inline constexpr std::int32_t kModeSet = 30;   // TagId of SET
inline constexpr std::int32_t kModeMove = 31;  // TagId of MOVE

struct CTimeSchedule : CTimeDat {  // 27 SCHEDULE_S, 28 SCHEDULE_T, 29 SHCEDULE_I
  std::int32_t BmpNo = -1;
  std::int32_t Mode = 0;
  Point3 Point{kUnsetReal, kUnsetReal, kUnsetReal};
  double Angle = kUnsetReal;
  double Size = kUnsetReal;
  std::int32_t Contrast = kUnsetInt;
  std::int32_t Color = kUnsetInt;
  double Speed = kUnsetReal;
  std::int32_t Time = 0;
  std::int32_t Acc = 0;
  std::int32_t Dec = 0;
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
