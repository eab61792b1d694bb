// The bonus window's motion: turned pictures, shape regions, the bouncing head's arithmetic and a
// whole fall of the dialog's picture.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "bonus/OmakePhysics.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

Bitmap32 Solid(int w, int h, std::uint32_t c) {
  Bitmap32 b;
  b.Create(w, h, c);
  return b;
}

TEST(RotateBitmapTest, SizesAreRoundedUpToEvenNumbers) {
  const Bitmap32 head = Solid(88, 85, 0xFFFFFF);
  Bitmap32 out;
  RotateBitmap(head, out, 0);
  EXPECT_EQ(out.width, 88);
  EXPECT_EQ(out.height, 86);
  RotateBitmap(head, out, kPi / 2);
  EXPECT_EQ(out.width, 86);
  EXPECT_EQ(out.height, 88);
  RotateBitmap(head, out, kPi / 4);  // 0.7071 x 173 = 122.3
  EXPECT_EQ(out.width, 122);
  EXPECT_EQ(out.height, 122);
  EXPECT_EQ(out.Row(0)[0], 0u);  // corners stay black
  EXPECT_EQ(out.Row(61)[61], 0xFFFFFFu);
}

TEST(RotateBitmapTest, HalfTurnTurnsAboutTheTruncatedCentre) {
  // The centre is (w / 2, h / 2) on both sides, so a half turn of 4 x 2 maps destination (i, j)
  // to source (4 - i, 2 - j): the source's first row and column fall outside.
  Bitmap32 p = Solid(4, 2, 0x111111);
  p.Row(1)[1] = 0xFF0000;
  Bitmap32 out;
  RotateBitmap(p, out, 0);
  EXPECT_EQ(out.Row(1)[1], 0xFF0000u);
  EXPECT_EQ(out.Row(0)[0], 0x111111u);
  RotateBitmap(p, out, kPi);
  ASSERT_EQ(out.width, 4);
  ASSERT_EQ(out.height, 2);
  EXPECT_EQ(out.Row(1)[3], 0xFF0000u);
  EXPECT_EQ(out.Row(1)[1], 0x111111u);
  for (int x = 0; x < 4; ++x) EXPECT_EQ(out.Row(0)[x], 0u);
  EXPECT_EQ(out.Row(1)[0], 0u);
}

TEST(RegionTest, OneRectanglePerRunMovedByTheOffset) {
  Bitmap32 p = Solid(6, 2, 0);
  p.Row(0)[1] = p.Row(0)[2] = p.Row(0)[5] = 0x010101;
  p.Row(1)[0] = 0xFF000000;  // the fourth byte does not count: still the key
  const std::vector<OmakeRect> r = MakeRegionFromBitmap(p, 0, 100, 10);
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].left, 11);
  EXPECT_EQ(r[0].top, 100);
  EXPECT_EQ(r[0].width, 2);
  EXPECT_EQ(r[0].height, 1);
  EXPECT_EQ(r[1].left, 15);
  EXPECT_EQ(r[1].width, 1);
  EXPECT_TRUE(MakeRegionFromBitmap(Solid(5, 5, 0), 0, 0, 0).empty());
}

TEST(RegionTest, MappedPointsLandOnTheSamePixelOfTheTurnedPicture) {
  Bitmap32 snap = Solid(120, 90, 0x808080);
  for (int a = 1; a < 12; ++a) {
    const double angle = a * 0.55;
    for (auto [x, y] : {std::pair{30, 20}, std::pair{90, 70}, std::pair{60, 45}}) {
      Bitmap32 marked = snap;
      for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx) marked.Row(y + dy)[x + dx] = 0xFF0000;
      Bitmap32 turned;
      RotateBitmap(marked, turned, angle);
      const OmakePoint m = MapIntoTurned(x, y, 120, 90, turned.width, turned.height, angle);
      ASSERT_GE(m.x, 0);
      ASSERT_GE(m.y, 0);
      EXPECT_EQ(turned.Row(m.y)[m.x], 0xFF0000u) << angle << " " << x << "," << y;
    }
  }
}

TEST(HeadFramesTest, FifteenFramesTheLastSevenMirrored) {
  std::vector<Bitmap32> eight;
  for (int i = 0; i < 8; ++i) {
    Bitmap32 b = Solid(88, 85, 0);
    b.Row(0)[0] = static_cast<std::uint32_t>(i + 1);
    eight.push_back(b);
  }
  const std::vector<Bitmap32> f = MakeHeadFrames(eight);
  ASSERT_EQ(f.size(), 15u);
  EXPECT_EQ(f[7].Row(0)[0], 8u);
  EXPECT_EQ(f[8].Row(0)[87], 8u);   // LB08 mirrored
  EXPECT_EQ(f[14].Row(0)[87], 2u);  // ... down to LB02
  EXPECT_EQ(f[14].Row(0)[0], 0u);
  EXPECT_TRUE(MakeHeadFrames({}).empty());
}

class BounceTest : public ::testing::Test {
 protected:
  // 10 x 10 heads keep the sums short: the head's box is X - 5 .. X + 5.
  std::vector<Bitmap32> frames = std::vector<Bitmap32>(15, Solid(10, 10, 0xFFFFFF));
  BouncingHead head{&frames};
  DialogView dialog{{100, 300, 200, 100}, 0, 0};

  // Falls from y = -100 at x = 150; the 13th step lands at y 338 with a speed of 12920.
  void FallToTheDialog() {
    head.Setup(dialog.rect, 50);
    ASSERT_EQ(head.X, 150);
    for (int i = 0; i < 12; ++i) {
      ASSERT_TRUE(head.Step(dialog, 1024, 768));
      ASSERT_FALSE(head.Touching) << i;
    }
    EXPECT_EQ(head.Y, 290);
    ASSERT_TRUE(head.Step(dialog, 1024, 768));
    EXPECT_EQ(head.Y, 338);
    EXPECT_TRUE(head.Touching);
  }
};

TEST_F(BounceTest, StillDialogBouncesALeftHalfHeadUpAndLeft) {
  FallToTheDialog();
  EXPECT_EQ(head.SpeedY, -7306);  // -((12920 - 0) / 3 + 3000)
  EXPECT_EQ(head.SpeedX, -1200);
  EXPECT_DOUBLE_EQ(head.AngleSpeed, 0.08);  // (-1200 / 256 = -4) x -0.02
  // Still in contact on the next tick: no second bounce.
  ASSERT_TRUE(head.Step(dialog, 1024, 768));
  EXPECT_EQ(head.SpeedY, -7306 + 600);
  EXPECT_EQ(head.Y, 338 - 28);
}

TEST_F(BounceTest, DialogMovingUpAndSidewaysAddsItsMovement) {
  dialog.velocityY = -2560;  // 10 pixels up per tick
  dialog.velocityX = 3000;
  FallToTheDialog();
  EXPECT_EQ(head.SpeedY, -8160);  // -((12920 + 2560) / 3 + 3000)
  EXPECT_EQ(head.SpeedX, -200);   // -1200 + 3000 / 3
  EXPECT_DOUBLE_EQ(head.AngleSpeed, 0.0);
}

TEST_F(BounceTest, HeadOverTheEdgeIsKickedAwayAndACentredOneGetsANudge) {
  dialog.rect.left = 152;  // the head's centre 150 is left of the dialog
  dialog.rect.width = 200;
  head.Setup(dialog.rect, 0);
  head.X = 150;
  for (int i = 0; i < 13; ++i) ASSERT_TRUE(head.Step(dialog, 1024, 768));
  EXPECT_EQ(head.SpeedX, -2400);
  EXPECT_EQ(head.SpeedY, -7306 / 2);

  dialog.rect = {100, 300, 100, 100};  // the head's centre on the dialog's centre
  head.Setup(dialog.rect, 0);
  head.X = 150;
  for (int i = 0; i < 13; ++i) ASSERT_TRUE(head.Step(dialog, 1024, 768));
  EXPECT_EQ(head.SpeedX, 256);
  EXPECT_DOUBLE_EQ(head.AngleSpeed, -0.02);
}

TEST_F(BounceTest, MissesTheLowerHalfAndEndsBelowOrBesideTheScreen) {
  dialog.rect = {600, 300, 200, 100};  // not under the head
  head.Setup(dialog.rect, 0);
  head.X = 150;
  int steps = 0;
  while (head.Step(dialog, 1024, 768)) {
    EXPECT_FALSE(head.Touching);
    ASSERT_LT(++steps, 200);
  }
  EXPECT_GE(head.TopLeft().y, 768);

  head.Setup(dialog.rect, 0);
  head.X = 0;
  head.SpeedX = -2560;  // 10 pixels left per tick: gone once its right edge is below 1
  steps = 0;
  while (head.Step(dialog, 1024, 768)) ASSERT_LT(++steps, 10);
  EXPECT_EQ(steps, 0);  // right edge at 0 + -10 + 5 < 1 at once
}

TEST_F(BounceTest, FramesAdvanceEverySecondTick) {
  head.Setup(dialog.rect, 0);
  EXPECT_EQ(head.Frame, 1);
  head.Step(dialog, 1024, 768);
  EXPECT_EQ(head.Frame, 1);
  head.Step(dialog, 1024, 768);
  EXPECT_EQ(head.Frame, 2);
  for (int i = 0; i < 26; ++i) head.Step(dialog, 1024, 768);
  EXPECT_EQ(head.Frame, 0);  // 1 + 14 = 15 wraps to 0
}

TEST(FallingDialogTest, SwingsFromThePinFallsFliesBackAndEndsUpright) {
  Bitmap32 snap = Solid(281, 280, 0xD4D0C8);
  const OmakePoint press{240, 250};
  for (int dy = -2; dy <= 2; ++dy)
    for (int dx = -2; dx <= 2; ++dx) snap.Row(press.y + dy)[press.x + dx] = 0xFF0000;
  const OmakeRect rect{300, 200, 281, 280};
  FallingDialog f;
  f.Setup(snap, rect, press);
  EXPECT_EQ(f.Pin.x, 540);
  EXPECT_EQ(f.Pin.y, 450);

  int random = 37;
  EXPECT_EQ(f.Step(random, 1024, 768), FallingDialog::Action::kHideDialog);
  int ticks = 1;
  bool sawFall = false;
  FallingDialog::Action a;
  while ((a = f.Step(random, 1024, 768)) != FallingDialog::Action::kEnd) {
    ASSERT_LT(++ticks, 2000);
    if (f.stage == FallingDialog::kHanging && a == FallingDialog::Action::kDraw) {
      if (f.Angle <= 2.2) {
        // While it swings, the pressed point of the picture stays on the pin.
        const OmakePoint at{f.Pin.x - f.TopLeft().x, f.Pin.y - f.TopLeft().y};
        ASSERT_EQ(f.Work().Row(at.y)[at.x], 0xFF0000u) << f.Angle;
      } else {
        sawFall = true;
      }
    }
  }
  EXPECT_TRUE(sawFall);
  EXPECT_EQ(f.stage, FallingDialog::kRocking);
  EXPECT_EQ(f.Centre.x, 300 + 140);
  EXPECT_EQ(f.Centre.y, 200 + 140);
  EXPECT_LT(std::fabs(f.Angle), 0.11);  // ends on the tick that crosses upright
}

TEST(FallingDialogTest, FlyBackStartsOffTheScreenInEachQuarter) {
  Bitmap32 snap = Solid(281, 280, 0xD4D0C8);
  const OmakeRect rect{300, 200, 281, 280};
  for (int random : {10, 70, 130, 190}) {  // 0.1, 0.7, 1.3 and 1.9 x pi
    FallingDialog f;
    f.Setup(snap, rect, {10, 10});
    f.FallDistance = 768;
    EXPECT_EQ(f.Step(random, 1024, 768), FallingDialog::Action::kNone);
    ASSERT_EQ(f.stage, FallingDialog::kFlyingBack);
    EXPECT_GE(f.FlyDistance, 100);
    EXPECT_EQ((f.FlyDistance - 100) % 100, 0);
    // The picture, placed FlyDistance from the centre in its direction, is outside the screen.
    const int x = static_cast<int>(std::cos(f.Angle) * f.FlyDistance) + f.Centre.x;
    const int y = static_cast<int>(-std::sin(f.Angle) * f.FlyDistance) + f.Centre.y;
    const int W = f.Work().width, H = f.Work().height;
    EXPECT_TRUE(x - W > 1024 || x + W < 0 || y + H < 0 || y - H > 768) << random;
  }
}

}  // namespace
