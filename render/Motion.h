// One animated value, shared by the background camera axes and the image objects: a timed glide
// with acceleration and deceleration, or an endless drift at a rate.
#pragma once

#include <cstdint>

inline constexpr std::int32_t kMotionEndless = 0x7FFFFFFF;  // frame counter of an endless drift

struct Motion {
  std::int32_t counter = 0;  // frames left; 0 when idle
  std::int32_t accelEnd = 0;
  std::int32_t decelStart = 0;
  double velocity = 0;
  double accel = 0;
  double cruise = 0;
  double decel = 0;
  double target = 0;
};

// Acceleration and deceleration frames (each even) of a glide of `timeMs` whose ACC and DEC
// percentages are `acc` and `dec`; both 0 when the percentages are out of range.
void EaseFrames(std::int64_t timeMs, std::int32_t acc, std::int32_t dec, int* accelFrames,
                int* decelFrames);
// Starts a glide from `from` to `to` over `frames` (even, at least 2) that speeds up during the
// first `accelFrames` and slows down during the last `decelFrames`.
void StartGlide(Motion& m, double from, double to, int frames, int accelFrames, int decelFrames);
// Starts an endless drift of `rate` per frame, reached from the current velocity in `frames`
// steps (0: at once).
void StartDrift(Motion& m, double rate, int frames);
// Moves `value` one frame along `m`, whose counter is above 0; the last frame lands on the
// target exactly.
void StepMotion(Motion& m, double& value);
