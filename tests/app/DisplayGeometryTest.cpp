// Frame, source, caption and warning placement of the five display modes.
#include <gtest/gtest.h>

#include "app/DisplayGeometry.h"

namespace {

TEST(DisplayGeometry, DoubledModeCutsTheSidesAndRaisesTheFrameOnSmallScreens) {
  DisplayGeometry g = ComputeDisplayGeometry(3, 1024, 768, 1024, 768, 69, 14);
  EXPECT_EQ(g.FrameRect, (RectXYWH{0, 60, 1024, 544}));
  EXPECT_EQ(g.SourceRect, (RectXYWH{64, 0, 512, 272}));
  EXPECT_EQ(g.CaptionScale, 2.0);

  g = ComputeDisplayGeometry(3, 1600, 1200, 1600, 1200, 69, 14);
  EXPECT_EQ(g.FrameRect, (RectXYWH{160, 204, 1280, 544}));
  EXPECT_EQ(g.SourceRect, (RectXYWH{0, 0, 640, 272}));

  g = ComputeDisplayGeometry(3, 1280, 960, 1280, 960, 69, 14);
  EXPECT_EQ(g.FrameRect, (RectXYWH{0, 204, 1280, 544}));
  EXPECT_EQ(g.SourceRect, (RectXYWH{0, 0, 640, 272}));
}

TEST(DisplayGeometry, StretchedCentredWindowAndExclusiveModes) {
  DisplayGeometry g = ComputeDisplayGeometry(2, 1280, 1024, 1280, 1024, 69, 14);
  EXPECT_EQ(g.FrameRect, (RectXYWH{0, 217, 1280, 580}));
  EXPECT_NEAR(g.CaptionScale, 2.1333333, 1e-6);

  g = ComputeDisplayGeometry(1, 1024, 768, 1024, 768, 69, 14);
  EXPECT_EQ(g.FrameRect, (RectXYWH{192, 248, 640, 272}));
  EXPECT_EQ(g.CaptionX, 192);
  EXPECT_EQ(g.CaptionY, 248);

  for (int mode : {0, 4}) {
    g = ComputeDisplayGeometry(mode, 1024, 768, 640, 519, 69, 14);
    EXPECT_EQ(g.FrameRect, (RectXYWH{0, 102, 640, 272}));
    EXPECT_EQ(g.CaptionScale, 1.0);
  }
}

TEST(DisplayGeometry, WarningSitsOneBitmapSizeFromTheScreensCorner) {
  DisplayGeometry g = ComputeDisplayGeometry(1, 1024, 768, 1024, 768, 69, 14);
  EXPECT_EQ(g.WarningRect, (RectLTRB{886, 740, 955, 754}));
  // Window mode uses the screen's corner too, which lies outside the 640 x 519 window.
  g = ComputeDisplayGeometry(4, 1024, 768, 640, 519, 69, 14);
  EXPECT_EQ(g.WarningRect, (RectLTRB{886, 740, 955, 754}));
  // The exclusive mode's screen is 640 x 480 after the switch.
  g = ComputeDisplayGeometry(0, 1024, 768, 640, 480, 69, 14);
  EXPECT_EQ(g.WarningRect, (RectLTRB{502, 452, 571, 466}));
}

TEST(DisplayGeometry, WindowSizes) {
  int w = 0, h = 0;
  WindowSizeFor(4, 1920, 1080, &w, &h);
  EXPECT_EQ(w * 10000 + h, 640 * 10000 + 519);
  WindowSizeFor(0, 1920, 1080, &w, &h);
  EXPECT_EQ(w * 10000 + h, 640 * 10000 + 480);
  WindowSizeFor(2, 1920, 1080, &w, &h);
  EXPECT_EQ(w * 10000 + h, 1920 * 10000 + 1080);
}

}  // namespace
