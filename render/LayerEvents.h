// The event records the drawing layers play: the header every timeline event shares, the
// records of the background, picture, title, scrolling-text and schedule events, and the
// constants they are read with. The script's timeline makes them; the layers only read them, so
// they live below both.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

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
