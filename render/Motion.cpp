// Glides and drifts of one animated value.
#include "render/Motion.h"

#include "render/LayerEvents.h"

void EaseFrames(std::int64_t timeMs, std::int32_t acc, std::int32_t dec, int* accelFrames,
                int* decelFrames) {
  int a = acc > 0 ? static_cast<int>(timeMs * acc / 100 / kTickMs) & ~1 : 0;
  int d = dec > 0 ? static_cast<int>(timeMs * dec / 100 / kTickMs) & ~1 : 0;
  if (acc < 0 || acc > 100 || dec < 0 || dec > 100 || acc + dec > 100) a = d = 0;
  *accelFrames = a;
  *decelFrames = d;
}

void StartGlide(Motion& m, double from, double to, int frames, int accelFrames, int decelFrames) {
  const int e = frames, a = accelFrames, d = decelFrames;
  // The cruising speed p covers the distance in e frames less half the ramps.
  const double p = (to - from) / (e - (a + d) / 2);
  m.counter = e;
  m.accelEnd = a;
  m.decelStart = d;
  m.target = to;
  m.decel = d > 0 ? -p / d : 0;
  if (a > 0) {
    m.accel = p / a;
    m.accelEnd = e - a;
    m.cruise = p;
    m.velocity = 0;
  } else {
    // A drift's acceleration would otherwise keep bending this glide off its target.
    m.accel = 0;
    m.velocity = p;
  }
}

void StartDrift(Motion& m, double rate, int frames) {
  m.decel = 0;
  m.decelStart = 0;
  m.counter = kMotionEndless;
  if (frames == 0) {
    m.velocity = rate;
    m.accel = 0;
    m.cruise = 0;
    m.accelEnd = 0;
  } else {
    m.cruise = rate;
    m.accel = (rate - m.velocity) / frames;
    m.accelEnd = kMotionEndless - frames;
  }
}

void StepMotion(Motion& m, double& value) {
  if (m.counter == 1) {
    value = m.target;
  } else {
    if (m.counter == m.accelEnd) {
      m.accel = 0;
      m.velocity = m.cruise;
    }
    if (m.counter == m.decelStart) m.accel = m.decel;
    m.velocity += m.accel;
    value += m.velocity;
  }
  m.counter -= 1;
}
