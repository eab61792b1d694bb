// Display-mode geometry of the saver window.
#include "app/DisplayGeometry.h"

#include "render/Bitmap.h"

void WindowSizeFor(int mode, int screenWidth, int screenHeight, int* width, int* height) {
  switch (mode) {
    case kDisplayExclusive:
      *width = kPictureWidth;
      *height = kPictureHeight;
      return;
    case kDisplayWindow:
      *width = kWindowClientWidth;
      *height = kWindowClientHeight;
      return;
    default:
      *width = screenWidth;
      *height = screenHeight;
      return;
  }
}

namespace {

// The doubled mode: the middle of the frame at twice its size, cut at the sides on screens
// narrower than 1280 and raised on screens lower than 960.
void PlaceDoubled(int sw, int sh, DisplayGeometry* g) {
  if (sw > 1280) {
    g->FrameRect.x = (sw - 1280) / 2;
    g->FrameRect.width = 1280;
    g->SourceRect.x = 0;
    g->SourceRect.width = kStageWidth;
  } else {
    const int cut = (1280 - sw) / 2;
    g->FrameRect.x = 0;
    g->FrameRect.width = sw;
    g->SourceRect.x = cut / 2;
    g->SourceRect.width = kStageWidth - cut;
  }
  g->FrameRect.y = sh > 960 ? 204 : 204 - static_cast<int>((960 - sh) * 0.75);
  g->FrameRect.height = 544;
  g->SourceRect.y = 0;
  g->SourceRect.height = kStageHeight;
}

}  // namespace

DisplayGeometry ComputeDisplayGeometry(int mode, int screenWidth, int screenHeight, int windowWidth,
                                       int windowHeight, int warningWidth, int warningHeight) {
  DisplayGeometry g;
  g.mode = mode;
  g.SourceRect = {0, 0, kStageWidth, kStageHeight};
  g.CaptionScale = 1.0;
  int sw = screenWidth;
  int sh = screenHeight;
  switch (mode) {
    case kDisplayExclusive:
    case kDisplayWindow:
      g.FrameRect = {0, kFrameTop, kStageWidth, kStageHeight};
      if (mode == kDisplayExclusive) {
        sw = kPictureWidth;  // the screen after the switch to 640 x 480
        sh = kPictureHeight;
      }
      break;
    case kDisplayStretched: {
      const double s = screenHeight / 480.0;
      g.FrameRect = {0, static_cast<int>(s * kFrameTop), screenWidth,
                     static_cast<int>(s * kStageHeight)};
      g.CaptionScale = s;
      break;
    }
    case kDisplayDoubled:
      PlaceDoubled(screenWidth, screenHeight, &g);
      g.CaptionScale = 2.0;
      break;
    default:
      g.mode = kDisplayCentred;
      g.FrameRect = {windowWidth / 2 - kStageCentreX, windowHeight / 2 - kStageCentreY, kStageWidth,
                     kStageHeight};
      break;
  }
  g.CaptionX = g.FrameRect.x;
  g.CaptionY = g.FrameRect.y;
  g.WarningRect.left = sw - 2 * warningWidth;
  g.WarningRect.top = sh - 2 * warningHeight;
  g.WarningRect.right = g.WarningRect.left + warningWidth;
  g.WarningRect.bottom = g.WarningRect.top + warningHeight;
  return g;
}
