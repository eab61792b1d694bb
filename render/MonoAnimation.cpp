// Colour and contrast fades of the text-picture layers.
#include "render/MonoAnimation.h"

namespace {

// Colour components in the order the fade keeps them: blue, green, red.
int ComponentOf(std::int32_t bgr, int c) {
  const int shift = c == 0 ? 16 : (c == 1 ? 8 : 0);
  return (static_cast<std::uint32_t>(bgr) >> shift) & 0xFF;
}

}  // namespace

std::int32_t FadeFrames(std::int32_t timeMs) {
  const std::int32_t n = timeMs / kTickMs;
  return n < 1 ? 1 : n;
}

void ColourContrastFade::Start(const CTimeSchedule& rec, std::int32_t n, std::int32_t colour,
                               std::int32_t contrast) {
  if (rec.Contrast != kUnsetInt) {
    contrastCount = n;
    contrastTarget = rec.Contrast;
    contrastDelta =
        static_cast<std::int32_t>((static_cast<std::int64_t>(rec.Contrast) - contrast) / n);
  }
  if (rec.Color != kUnsetInt) {
    colourCount = n;
    colourTarget = rec.Color;
    for (int c = 0; c < 3; ++c) {
      colourAcc[c] = ComponentOf(colour, c) << 16;
      colourDelta[c] = ((ComponentOf(rec.Color, c) << 16) - colourAcc[c]) / n;
    }
  }
}

bool ColourContrastFade::StepColour(std::int32_t& colour) {
  if (colourCount == 0) return false;
  if (colourCount == 1) {
    colour = colourTarget;
  } else {
    for (int c = 0; c < 3; ++c) colourAcc[c] += colourDelta[c];
    colour = (colourAcc[0] & 0xFF0000) | ((colourAcc[1] & 0xFF0000) >> 8) |
             ((colourAcc[2] >> 16) & 0xFF);
  }
  colourCount -= 1;
  return true;
}

void ColourContrastFade::StepContrast(std::int32_t& contrast) {
  if (contrastCount == 0) return;
  contrast = contrastCount == 1 ? contrastTarget : contrast + contrastDelta;
  contrastCount -= 1;
}
