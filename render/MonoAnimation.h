// The colour and contrast fades shared by the title and scrolling-text layers: a SET schedule
// starts them over a number of frames, and every frame moves them one step on.
#pragma once

#include <cstdint>
#include <memory>
#include <new>

#include "render/LayerEvents.h"

// Frames a fade of `timeMs` spreads over: at least one, so TIME 0 acts as one frame.
std::int32_t FadeFrames(std::int32_t timeMs);

struct ColourContrastFade {
  std::int32_t colourCount = 0;
  std::int32_t colourTarget = 0;
  std::int32_t colourAcc[3] = {};  // blue, green, red in bits 16..23 (16.16 fixed point)
  std::int32_t colourDelta[3] = {};
  std::int32_t contrastCount = 0;
  std::int32_t contrastTarget = 0;
  std::int32_t contrastDelta = 0;

  // Starts the fades `rec` gives (contrast and colour, each when set) over n >= 1 frames, from
  // the current packed 0x00BBGGRR `colour` and `contrast`.
  void Start(const CTimeSchedule& rec, std::int32_t n, std::int32_t colour, std::int32_t contrast);
  // One frame of the colour fade; true when `colour` changed (its ramp needs rebuilding).
  bool StepColour(std::int32_t& colour);
  // One frame of the contrast fade.
  void StepContrast(std::int32_t& contrast);
  bool Done() const { return colourCount == 0 && contrastCount == 0; }
};

// The animation record in `slot`, made when missing; null when memory runs out.
template <typename T>
T* EnsureAnimation(std::unique_ptr<T>& slot) {
  if (!slot) {
    try {
      slot = std::make_unique<T>();
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
  }
  return slot.get();
}
