// The window picture: drawing clipped to the picture, and the damage record the shell repaints.
#include <gtest/gtest.h>

#include "app/WindowSurface.h"
#include "render/PixelOps.h"

namespace {

class CountingSurface : public WindowSurface {
 public:
  int calls = 0;

 protected:
  void Damaged(const RectXYWH&) override { ++calls; }
};

TEST(WindowSurface, DamageIsTheBoundOfWhatChangedClippedToThePicture) {
  CountingSurface w;
  ASSERT_TRUE(w.Resize(640, 519));
  EXPECT_EQ(w.TakeDamage(), (RectXYWH{0, 0, 640, 519}));  // a new picture is all new
  EXPECT_FALSE(w.HasDamage());
  EXPECT_EQ(w.TakeDamage(), (RectXYWH{}));

  w.Fill(10, 20, 5, 5, 0xFF);
  w.Fill(100, 10, 10, 2, 0xFF);
  EXPECT_EQ(w.TakeDamage(), (RectXYWH{10, 10, 100, 15}));
  // Off the picture: clipped, or nothing at all.
  w.Fill(630, 510, 50, 50, 0xFF);
  EXPECT_EQ(w.TakeDamage(), (RectXYWH{630, 510, 10, 9}));
  const int before = w.calls;
  w.Fill(886, 740, 69, 14, 0xFF);
  EXPECT_FALSE(w.HasDamage());
  EXPECT_EQ(w.calls, before);
}

// Changes far apart stay parts of their own (two sprites are not repainted with everything
// between them); touching ones join; past the limit a change joins the part it grows least.
TEST(WindowSurface, DamagePartsJoinOnlyWhatTouches) {
  WindowSurface w;
  ASSERT_TRUE(w.Resize(640, 480));
  w.TakeDamage();
  w.Fill(10, 10, 20, 20);
  w.Fill(500, 400, 20, 20);
  w.Fill(30, 15, 10, 10);  // touches the first at x = 30
  DamageParts d = w.TakeDamageParts();
  ASSERT_EQ(d.count, 2);
  EXPECT_EQ(d.part[0], (RectXYWH{10, 10, 30, 20}));
  EXPECT_EQ(d.part[1], (RectXYWH{500, 400, 20, 20}));
  EXPECT_FALSE(w.HasDamage());

  for (int i = 0; i < kMaxDamageParts; ++i) w.Fill(i * 60, 0, 10, 10);
  w.Fill(421, 100, 10, 10);  // one too many: joins the part at x = 420, which grows least
  d = w.TakeDamageParts();
  ASSERT_EQ(d.count, kMaxDamageParts);
  EXPECT_EQ(d.part[7], (RectXYWH{420, 0, 11, 110}));
  // The bounding rectangle of the parts, for callers that repaint one area.
  w.Fill(10, 10, 20, 20);
  w.Fill(500, 400, 20, 20);
  EXPECT_EQ(w.TakeDamage(), (RectXYWH{10, 10, 510, 410}));
}

TEST(WindowSurface, FrameCopiesAndStretches) {
  WindowSurface w;
  ASSERT_TRUE(w.Resize(1024, 768));
  StageBitmap stage;
  stage.Create(kStageWidth, kStageHeight, 0);
  for (int x = 0; x < kStageWidth; ++x) stage.Row(0)[x] = static_cast<std::uint32_t>(x);
  w.TakeDamage();
  w.CopyFrame(stage, 192, 248);
  EXPECT_EQ(w.Picture().Row(248)[192 + 17], 17u);
  EXPECT_EQ(w.TakeDamage(), (RectXYWH{192, 248, 640, 272}));
  // The doubled mode: source columns 64 .. 575 onto the whole width, each twice.
  w.StretchFrame(stage, {0, 60, 1024, 544}, {64, 0, 512, 272}, kStretchDrop);
  EXPECT_EQ(w.Picture().Row(60)[0], 64u);
  EXPECT_EQ(w.Picture().Row(61)[1], 64u);
  EXPECT_EQ(w.Picture().Row(60)[2], 65u);
  EXPECT_EQ(w.Picture().Row(60)[1023], 575u);
}

TEST(WindowSurface, TimerTextIsWhiteOnBlackAndErasedWhole) {
  WindowSurface w;
  ASSERT_TRUE(w.Resize(640, 519));
  w.FillAll(0x336699);
  w.TakeDamage();
  w.DrawTimer(61234);  // "Timer 0061.234 "
  const RectXYWH d = w.TakeDamage();
  ASSERT_GT(d.width, 0);
  bool white = false;
  for (int y = d.y; y < d.y + d.height; ++y)
    for (int x = d.x; x < d.x + d.width; ++x) white |= w.Picture().Row(y)[x] == 0xFFFFFFu;
  EXPECT_TRUE(white);
  EXPECT_EQ(w.Picture().Row(d.y)[d.x + d.width - 1], 0u);  // the trailing space's black cell
  // Erased whole, though the spaces are narrower than the text in the proportional face.
  w.EraseTimer();
  const RectXYWH e = w.TakeDamage();
  EXPECT_GE(e.width, d.width);
  for (int y = d.y; y < d.y + d.height; ++y)
    for (int x = d.x; x < d.x + d.width; ++x) ASSERT_EQ(w.Picture().Row(y)[x], 0u) << x << "," << y;
}

}  // namespace
