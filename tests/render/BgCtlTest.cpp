// Background layer: tiling, placed pictures, both kinds of camera motion, fills and clearing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "render/CBgCtl.h"
#include "render/Picture.h"
#include "render/PixelOps.h"
#include "settings/CMainCtl.h"
#include "tests/render/MarkedPicture.h"
#include "tests/support/TempFolder.h"
#include "tools/BmpEncoder.h"

namespace {

namespace fs = std::filesystem;

// Numbers 0..n-1 from a seed, the same on every run (the seed is in each failure message).
class SeededInts {
 public:
  explicit SeededInts(std::uint32_t seed) : r_(seed) {}
  int operator()(int n) {
    r_ = r_ * 1103515245u + 12345u;
    return static_cast<int>((r_ >> 16) % static_cast<std::uint32_t>(n));
  }

 private:
  std::uint32_t r_;
};

class BgCtlTest : public ::testing::Test {
 protected:
  void SetUp() override { settings_.SetCurPath(dir_.string()); }

  void WriteBmp(const std::string& name, const Bitmap32& b) {
    std::vector<std::uint8_t> bytes;
    ASSERT_EQ(EncodeBmp(b, 24, &bytes), 0);
    ASSERT_EQ(WriteFileBytes((dir_ / name).c_str(), bytes), 0);
  }

  static CTimeBgMake Make(const char* file) {
    CTimeBgMake rec;
    std::snprintf(rec.FileName, sizeof rec.FileName, "%s", file);
    return rec;
  }
  static void AddObject(CTimeBgMake* rec, int n, const char* file, int x, int y, int trans = -1) {
    std::snprintf(rec->ResName[n], sizeof rec->ResName[n], "%s", file);
    rec->ResPos[n] = {x, y};
    rec->ResPalent[n] = trans;
  }
  static CTimeBgScroll Set(double x, double y, int time = 0, int xmode = 1, int ymode = 1) {
    CTimeBgScroll rec;
    rec.XValue = x;
    rec.XMode = xmode;
    rec.YValue = y;
    rec.YMode = ymode;
    rec.Time = time;
    return rec;
  }
  static CTimeBgScroll Move(double xrate, int time = 0) {
    CTimeBgScroll rec;
    rec.SpeedMode = 1;
    rec.XValue = xrate;
    rec.XMode = 2;
    rec.Time = time;
    return rec;
  }

  TempFolder temp_;
  fs::path dir_ = temp_.path();
  CMainCtl settings_;
};

TEST_F(BgCtlTest, PositionNamesTheCoordinateAtTheStageCentre) {
  WriteBmp("tile.bmp", MarkedPicture(100, 50, 1));
  CBgCtl bg(&settings_);
  bg.MakeBackground(Make("tile.bmp"));
  bg.ScrollBackground(Set(320, 136));
  EXPECT_EQ(bg.GetCamera().x, 0);
  EXPECT_EQ(bg.GetCamera().y, 0);
  EXPECT_EQ(bg.composed.Row(0)[0], Marked(0, 0, 1));

  // Camera x -1 on a 100-wide tile: the window starts at column 99 and wraps to 0.
  bg.ScrollBackground(Set(319, 136 - 60));
  EXPECT_EQ(bg.GetCamera().x, -1);
  EXPECT_EQ(bg.GetCamera().y, -60);
  EXPECT_EQ(bg.composed.Row(0)[0], Marked(99, 40, 1));
  EXPECT_EQ(bg.composed.Row(0)[1], Marked(0, 40, 1));
  EXPECT_EQ(bg.composed.Row(10)[639], Marked(38, 0, 1));
  EXPECT_EQ(bg.composed.Row(271)[200], Marked(99, (271 - 60 + 500) % 50, 1));
}

TEST_F(BgCtlTest, TilesPicturesNarrowerAndWiderThanTheStage) {
  WriteBmp("narrow.bmp", MarkedPicture(3, 2, 2));
  WriteBmp("wide.bmp", MarkedPicture(1000, 300, 3));
  CBgCtl bg(&settings_);
  bg.MakeBackground(Make("narrow.bmp"));
  bg.ScrollBackground(Set(320 + 7, 136 + 1));
  for (int x : {0, 1, 2, 3, 100, 638, 639}) {
    EXPECT_EQ(bg.composed.Row(0)[x], Marked((x + 7) % 3, 1, 2)) << x;
    EXPECT_EQ(bg.composed.Row(1)[x], Marked((x + 7) % 3, 0, 2)) << x;
  }
  bg.MakeBackground(Make("wide.bmp"));
  bg.ScrollBackground(Set(320 + 700, 136 + 100));
  EXPECT_EQ(bg.composed.Row(0)[0], Marked(700, 100, 3));
  EXPECT_EQ(bg.composed.Row(0)[299], Marked(999, 100, 3));
  EXPECT_EQ(bg.composed.Row(0)[300], Marked(0, 100, 3));
  EXPECT_EQ(bg.composed.Row(200)[0], Marked(700, 0, 3));
}

TEST_F(BgCtlTest, MissingOrBrokenPicturesBecomeNotFound) {
  Picture nf;
  ASSERT_EQ(LoadBuiltinPicture("NOTFOUND", &nf), 0);
  FILE* f = std::fopen((dir_ / "broken.bmp").c_str(), "wb");
  std::fputs("BM this is not a picture", f);
  std::fclose(f);
  CBgCtl bg(&settings_);
  for (const char* name : {"broken.bmp", "absent.bmp", "*NOTFOUND", "notes.txt"}) {
    CTimeBgMake rec = Make(name);
    AddObject(&rec, 0, name, 0, 0);
    bg.MakeBackground(rec);
    EXPECT_EQ(bg.hasBase, 1) << name;
    EXPECT_EQ(bg.basePicture.width, nf.rgb.width) << name;
    EXPECT_EQ(bg.basePicture.pixels, nf.rgb.pixels) << name;
    EXPECT_EQ(bg.placed[0].pixels, nf.rgb.pixels) << name;
  }
}

TEST_F(BgCtlTest, PlacedPicturesAreClippedAndMasked) {
  Bitmap32 grey;
  grey.Create(16, 16, 0x404040);
  WriteBmp("base.bmp", grey);
  Bitmap32 obj = MarkedPicture(10, 6, 9);
  obj.Row(0)[0] = 0x00FF00;  // corner key colour, also used inside
  obj.Row(3)[4] = 0x00FF00;
  WriteBmp("obj.bmp", obj);

  CTimeBgMake rec = Make("base.bmp");
  AddObject(&rec, 0, "obj.bmp", 20, 30);
  AddObject(&rec, 1, "obj.bmp", 100, 30, kTransLeftTop);
  AddObject(&rec, 2, "obj.bmp", 200, 30, 0x0000FF00 /* packed, green */);
  rec.BgColor = 0x123456;
  CBgCtl bg(&settings_);
  bg.MakeBackground(rec);
  EXPECT_EQ(settings_.GetBackColour(), 0x123456u);
  EXPECT_EQ(bg.placedCount, 3);
  EXPECT_EQ(bg.placedRect[1].right, 110);
  EXPECT_EQ(bg.placedRect[1].bottom, 36);
  EXPECT_EQ(bg.placedTransparent[1], 0x0000FF00);  // green reads the same in both orders

  bg.ScrollBackground(Set(320, 136));
  const auto& c = bg.composed;
  EXPECT_EQ(c.Row(30)[20], 0x00FF00u);  // plain copy keeps the key colour
  EXPECT_EQ(c.Row(33)[24], 0x00FF00u);
  EXPECT_EQ(c.Row(30)[100], 0x404040u);  // masked: the base shows through
  EXPECT_EQ(c.Row(33)[104], 0x404040u);
  EXPECT_EQ(c.Row(31)[101], Marked(1, 1, 9));
  EXPECT_EQ(c.Row(33)[204], 0x404040u);
  EXPECT_EQ(c.Row(35)[209], Marked(9, 5, 9));
  EXPECT_EQ(c.Row(36)[209], 0x404040u);

  // Camera at x 23, y 32: the first picture is cut at the left and top edges.
  bg.ScrollBackground(Set(320 + 23, 136 + 32));
  EXPECT_EQ(c.Row(0)[0], Marked(3, 2, 9));
  EXPECT_EQ(c.Row(3)[6], Marked(9, 5, 9));
  EXPECT_EQ(c.Row(4)[6], 0x404040u);
  EXPECT_EQ(c.Row(0)[7], 0x404040u);
  // And a camera past the right and bottom edges shows none of it.
  bg.ScrollBackground(Set(320 + 300, 136 + 40));
  for (int x = 0; x < 640; ++x) ASSERT_EQ(c.Row(0)[x], 0x404040u) << x;
}

TEST_F(BgCtlTest, CornerMarkersReadEachCorner) {
  Bitmap32 p;
  p.Create(3, 2, 0);
  p.Row(0)[0] = 0x010203;
  p.Row(0)[2] = 0x040506;
  p.Row(1)[0] = 0x070809;
  p.Row(1)[2] = 0x0A0B0C;
  // Packed script colours are 0x00BBGGRR.
  EXPECT_EQ(ResolveTransparent(kTransLeftTop, p), 0x030201);
  EXPECT_EQ(ResolveTransparent(kTransRightTop, p), 0x060504);
  EXPECT_EQ(ResolveTransparent(kTransLeftBottom, p), 0x090807);
  EXPECT_EQ(ResolveTransparent(kTransRightBottom, p), 0x0C0B0A);
  EXPECT_EQ(ResolveTransparent(kTransOff, p), -1);
  EXPECT_EQ(ResolveTransparent(-9, p), -1);
  EXPECT_EQ(ResolveTransparent(0x00FF00FF, p), 0x00FF00FF);
  EXPECT_EQ(ResolveTransparent(kTransLeftTop, Bitmap32()), -1);
}

TEST_F(BgCtlTest, SecondMakeReplacesSlotsFromTheStartAndKeepsTheRest) {
  WriteBmp("a.bmp", MarkedPicture(4, 4, 1));
  WriteBmp("b.bmp", MarkedPicture(6, 6, 2));
  CTimeBgMake first = Make("a.bmp");
  AddObject(&first, 0, "a.bmp", 0, 0);
  AddObject(&first, 1, "a.bmp", 50, 0);
  CTimeBgMake second = Make("a.bmp");
  AddObject(&second, 0, "b.bmp", 10, 0);
  CBgCtl bg(&settings_);
  bg.MakeBackground(first);
  bg.MakeBackground(second);
  EXPECT_EQ(bg.placed[0].width, 6);
  EXPECT_EQ(bg.placedRect[0].left, 10);
  EXPECT_EQ(bg.placed[1].width, 4);
  EXPECT_EQ(bg.placedRect[1].left, 50);
  EXPECT_EQ(bg.placedCount, 2);
}

// A moving background is composed straight into the frame; a still one is copied from what
// was composed. Either way the frame holds what `composed` holds at that camera, placed and
// masked pictures included.
TEST_F(BgCtlTest, AMovingBackgroundDrawsWhatAStillOneWouldShow) {
  WriteBmp("tile.bmp", MarkedPicture(50, 40, 1));
  Bitmap32 obj = MarkedPicture(30, 20, 9);
  obj.Row(0)[0] = 0x00FF00;
  obj.Row(5)[5] = 0x00FF00;
  WriteBmp("obj.bmp", obj);
  CTimeBgMake rec = Make("tile.bmp");
  AddObject(&rec, 0, "obj.bmp", 100, 50);
  AddObject(&rec, 1, "obj.bmp", 400, 200, kTransLeftTop);
  CBgCtl bg(&settings_);
  bg.MakeBackground(rec);
  bg.SetBackgroundFill(1, 0);
  bg.ScrollBackground(Move(66));
  StageBitmap stage;
  stage.Create(kStageWidth, kStageHeight, 0x777777);
  for (int f = 0; f < 16; ++f) {
    bg.AnimateBackground();
    stage.Fill(0x777777);
    bg.DrawBackground(stage);
    StageBitmap still;
    still.Create(kStageWidth, kStageHeight);
    CopyRect(still, 0, 0, bg.Composed(), 0, 0, kStageWidth, kStageHeight);
    ASSERT_EQ(stage.pixels, still.pixels) << "frame " << f << " camera " << bg.GetCamera().x;
  }
  // Without a move since, the frame is the copy of `composed` at the last position.
  const Bitmap32 last = bg.Composed();
  stage.Fill(0x777777);
  bg.DrawBackground(stage);
  EXPECT_EQ(stage.pixels, last.pixels);
}

// A camera that drifts, stops for a few frames and jumps, seeded: every frame is the one the
// layer composed from scratch draws (a background standing still is kept and copied).
TEST_F(BgCtlTest, DrawsWhatTheFromScratchLayerDrawsWhereverTheCameraStops) {
  WriteBmp("tile.bmp", MarkedPicture(70, 50, 1));
  WriteBmp("obj.bmp", MarkedPicture(30, 20, 9));
  CTimeBgMake rec = Make("tile.bmp");
  for (int n = 0; n < 6; ++n) AddObject(&rec, n, "obj.bmp", n * 110, n * 40, n % 2 ? -2 : -1);
  CBgCtl bg(&settings_), ref(&settings_);
  ref.FromScratch = true;
  StageBitmap a, b;
  a.Create(kStageWidth, kStageHeight);
  b.Create(kStageWidth, kStageHeight);
  const std::uint32_t seed = 2108;
  SeededInts next(seed);
  for (CBgCtl* layer : {&bg, &ref}) {
    layer->MakeBackground(rec);
    layer->SetBackgroundFill(1, 0);
  }
  for (int f = 0; f < 200; ++f) {
    if (next(6) == 0) {
      const int what = next(3);
      const CTimeBgScroll ev = what == 0   ? Move(next(90) - 45)
                               : what == 1 ? Move(0)
                                           : Set(next(900) - 300, next(600) - 300);
      bg.ScrollBackground(ev);
      ref.ScrollBackground(ev);
    }
    bg.AnimateBackground();
    ref.AnimateBackground();
    if (next(4) == 0) continue;  // a frame that is not drawn
    bg.DrawBackground(a);
    ref.DrawBackground(b);
    ASSERT_EQ(a.pixels, b.pixels) << "seed " << seed << ", frame " << f;
  }
}

// A frame moved by the camera's whole-pixel step, drawn again only where the plan says, is the
// frame composed whole, seeded: drifts at fractional rates both ways on both axes, glides that
// stop between pixels, jumps, over masked and plain placed pictures that overlap.
TEST_F(BgCtlTest, AShiftedFrameIsTheFrameComposedWhole) {
  WriteBmp("tile.bmp", MarkedPicture(90, 70, 1));
  Bitmap32 obj = MarkedPicture(60, 40, 9);
  obj.Row(3)[4] = 0x00FF00;
  WriteBmp("obj.bmp", obj);
  CTimeBgMake rec = Make("tile.bmp");
  for (int n = 0; n < 8; ++n)
    AddObject(&rec, n, "obj.bmp", n * 95 - 100, n * 35 - 20, n % 3 ? -1 : kTransLeftTop);
  CBgCtl bg(&settings_), ref(&settings_);
  ref.FromScratch = true;
  for (CBgCtl* layer : {&bg, &ref}) {
    layer->MakeBackground(rec);
    layer->SetBackgroundFill(1, 0);
  }
  StageBitmap a, b;
  a.Create(kStageWidth, kStageHeight);
  b.Create(kStageWidth, kStageHeight);
  const std::uint32_t seed = 2114;
  SeededInts next(seed);
  bg.DrawBackground(a);
  Point3 drawn = bg.GetCamera();
  int shifts = 0, placedRedrawn = 0;
  for (int f = 0; f < 400; ++f) {
    if (next(8) == 0) {
      const int what = next(4);
      CTimeBgScroll ev = Set(next(1200) - 300 + next(4) * 0.25, next(800) - 300 + next(4) * 0.25,
                             what == 0 ? 0 : 33 * (2 + next(30)));
      if (what == 1) {
        ev = Move((next(200) - 100) / 40.0, 33 * next(40));
        ev.YMode = 2;
        ev.YValue = (next(120) - 60) / 40.0;
      }
      bg.ScrollBackground(ev);
      ref.ScrollBackground(ev);
    }
    bg.AnimateBackground();
    ref.AnimateBackground();
    BgShift plan;
    if (bg.PlanShift(drawn, &plan)) {
      shifts += 1;
      placedRedrawn += !plan.placed.Empty();
      bg.ShiftBackground(a, plan);
    } else {
      bg.DrawBackground(a);
    }
    drawn = bg.GetCamera();
    ref.DrawBackground(b);
    ASSERT_EQ(a.pixels, b.pixels) << "seed " << seed << ", frame " << f << ", camera " << drawn.x
                                  << " " << drawn.y;
  }
  EXPECT_GT(shifts, 200);
  EXPECT_GT(placedRedrawn, 3);
}

// Anything but the camera drawn differently, or a move that leaves nothing to keep, is no shift.
TEST_F(BgCtlTest, OnlyAPictureMovedByWholePixelsShifts) {
  WriteBmp("tile.bmp", MarkedPicture(90, 70, 1));
  CBgCtl bg(&settings_);
  BgShift plan;
  bg.SetBackgroundFill(0, 0x123456);
  EXPECT_FALSE(bg.PlanShift(Point3{5, 0, 0}, &plan));  // a fill looks the same from anywhere
  bg.MakeBackground(Make("tile.bmp"));
  const int version = bg.Version();
  EXPECT_TRUE(bg.PlanShift(Point3{5, -3, 0}, &plan));
  EXPECT_EQ(plan.dx, 5);
  EXPECT_EQ(plan.dy, -3);
  EXPECT_EQ(plan.freshCount, 2);
  EXPECT_FALSE(bg.PlanShift(Point3{0.75, 0.5, 0}, &plan));  // the same whole pixels
  EXPECT_FALSE(bg.PlanShift(Point3{kStageWidth, 0, 0}, &plan));
  EXPECT_FALSE(bg.PlanShift(Point3{3e9, 0, 0}, &plan));
  bg.SetBackgroundFill(1, 0);
  EXPECT_NE(bg.Version(), version);
}

TEST_F(BgCtlTest, MoveScrollsForEverAndAJumpDoesNotStopIt) {
  WriteBmp("tile.bmp", MarkedPicture(100, 100, 1));
  CBgCtl bg(&settings_);
  bg.MakeBackground(Make("tile.bmp"));
  bg.ScrollBackground(Move(33));
  for (int f = 1; f <= 5; ++f) {
    EXPECT_EQ(bg.AnimateBackground(), 1);
    EXPECT_EQ(bg.GetCamera().x, f);
  }
  EXPECT_EQ(bg.Composed().Row(0)[0], Marked(5, 0, 1));
  bg.ScrollBackground(Set(420, 0, 0, 1, 0));
  EXPECT_EQ(bg.GetCamera().x, 100);
  EXPECT_EQ(bg.composed.Row(0)[0], Marked(0, 0, 1));
  bg.AnimateBackground();
  EXPECT_EQ(bg.GetCamera().x, 101);
  for (int f = 0; f < 1000; ++f) bg.AnimateBackground();
  EXPECT_EQ(bg.GetCamera().x, 1101);
}

TEST_F(BgCtlTest, TimedMoveReachesItsRateEvenly) {
  CBgCtl bg(&settings_);
  bg.ScrollBackground(Move(33 * 4, 330));  // 10 frames to reach 4 pixels a frame
  for (int f = 1; f <= 10; ++f) bg.AnimateBackground();
  EXPECT_NEAR(bg.axis[0].velocity, 4.0, 1e-9);
  EXPECT_NEAR(bg.axis[0].exact, 0.4 * 55, 1e-9);
  bg.AnimateBackground();
  EXPECT_NEAR(bg.axis[0].velocity, 4.0, 1e-9);
  // A slower rate now decelerates from 4 to 1 over 3 frames and holds.
  bg.ScrollBackground(Move(33, 99));
  for (int f = 0; f < 3; ++f) bg.AnimateBackground();
  EXPECT_NEAR(bg.axis[0].velocity, 1.0, 1e-9);
  bg.AnimateBackground();
  EXPECT_NEAR(bg.axis[0].velocity, 1.0, 1e-9);
}

TEST_F(BgCtlTest, GlideWithAccelerationEndsExactlyOnItsTarget) {
  CBgCtl bg(&settings_);
  CTimeBgScroll rec = Set(100, 0, 1000, 2, 0);
  rec.Acc = 20;
  rec.Dec = 20;
  bg.ScrollBackground(rec);
  EXPECT_EQ(bg.axis[0].counter, 30);
  EXPECT_EQ(bg.axis[0].accelEnd, 24);
  EXPECT_EQ(bg.axis[0].decelStart, 6);
  double last = 0;
  for (int f = 1; f <= 29; ++f) {
    bg.AnimateBackground();
    const double x = bg.GetCamera().x;
    EXPECT_GE(x, last) << f;
    EXPECT_LE(x, 100) << f;
    EXPECT_EQ(x, static_cast<int>(x)) << "whole pixels while moving";
    last = x;
  }
  // 6 accelerating, 18 cruising and 5 decelerating frames cover 24 steps of 100 / 24; the last
  // frame snaps onto the target.
  EXPECT_NEAR(bg.axis[0].exact, 100, 1e-9);
  bg.AnimateBackground();
  EXPECT_EQ(bg.GetCamera().x, 100);
  EXPECT_EQ(bg.axis[0].counter, 0);
  EXPECT_EQ(bg.AnimateBackground(), 0);
  EXPECT_EQ(bg.GetCamera().x, 100);

  // Out-of-range percentages glide at an even speed; the depth axis composes nothing.
  CTimeBgScroll z;
  z.ZValue = 66;
  z.ZMode = 1;
  z.Time = 660;
  z.Acc = 80;
  z.Dec = 30;
  bg.ScrollBackground(z);
  EXPECT_EQ(bg.axis[2].accelEnd, 0);
  EXPECT_EQ(bg.axis[2].decelStart, 0);
  EXPECT_EQ(bg.AnimateBackground(), 0);
  EXPECT_EQ(bg.GetCamera().z, 3);
}

TEST_F(BgCtlTest, GlideShorterThanAFrameJumps) {
  CBgCtl bg(&settings_);
  for (int t : {1, 32}) {
    bg.ScrollBackground(Set(320 + 40 + t, 136, t));
    EXPECT_EQ(bg.GetCamera().x, 40 + t) << t;
    EXPECT_EQ(bg.axis[0].counter, 0) << t;
  }
}

TEST_F(BgCtlTest, ExtremeCameraValuesComposeSafely) {
  WriteBmp("tile.bmp", MarkedPicture(7, 5, 1));
  CTimeBgMake rec = Make("tile.bmp");
  AddObject(&rec, 0, "tile.bmp", 2147483000, -2147483000);
  CBgCtl bg(&settings_);
  bg.MakeBackground(rec);
  EXPECT_EQ(bg.placedRect[0].right, 2147483007);
  for (double v : {1e300, -1e300, 3e9, -3e9, 2147483000.0 - 320, 0.0 / 0.0}) {
    bg.ScrollBackground(Set(v, -v));
    CTimeBgScroll glide = Set(v, v, 1000, 2, 2);
    glide.Acc = 50;
    bg.ScrollBackground(glide);
    for (int f = 0; f < 40; ++f) bg.AnimateBackground();
  }
  bg.ScrollBackground(Set(320 + 2147483000, 136 - 2147483000));
  EXPECT_EQ(bg.composed.Row(0)[0], Marked(0, 0, 1));
}

TEST_F(BgCtlTest, FillColourAndClearSwitchBetweenFillAndPicture) {
  WriteBmp("tile.bmp", MarkedPicture(8, 8, 1));
  CBgCtl bg(&settings_);
  StageBitmap stage;
  stage.Create(kStageWidth, kStageHeight, 0x777777);

  // Without a BGFILE the fill colour shows, not the placed pictures.
  CTimeBgMake bare;
  AddObject(&bare, 0, "tile.bmp", 0, 0);
  bg.MakeBackground(bare);
  bg.DrawBackground(stage);
  EXPECT_EQ(stage.Row(0)[0], 0u);
  EXPECT_EQ(stage.Row(271)[639], 0u);
  bg.SetBackgroundFill(0, 0x0000FF);  // packed: red
  bg.DrawBackground(stage);
  EXPECT_EQ(stage.Row(5)[5], 0xFF0000u);

  bg.MakeBackground(Make("tile.bmp"));
  bg.DrawBackground(stage);
  EXPECT_EQ(stage.Row(0)[0], Marked(0, 0, 1));
  EXPECT_EQ(stage.Row(3)[2], Marked(2, 3, 1));
  bg.SetBackgroundFill(0, 0xFF0000);  // SOLID blue
  bg.DrawBackground(stage);
  EXPECT_EQ(stage.Row(3)[2], 0x0000FFu);
  bg.SetBackgroundFill(1, 0);  // CLEAR
  bg.DrawBackground(stage);
  EXPECT_EQ(stage.Row(3)[2], Marked(2, 3, 1));
}

TEST_F(BgCtlTest, ClearReturnsToTheStartingState) {
  WriteBmp("tile.bmp", MarkedPicture(8, 8, 1));
  CBgCtl bg(&settings_);
  CTimeBgMake rec = Make("tile.bmp");
  AddObject(&rec, 0, "tile.bmp", 3, 3, kTransLeftTop);
  bg.MakeBackground(rec);
  bg.ScrollBackground(Move(66));
  bg.AnimateBackground();
  bg.SetBackgroundFill(0, 0x00FFFF);
  bg.ClearBackground();
  EXPECT_EQ(bg.placedCount, 0);
  EXPECT_FALSE(bg.placedUsed[0]);
  EXPECT_EQ(bg.placedTransparent[0], -1);
  EXPECT_TRUE(bg.placed[0].Empty());
  EXPECT_EQ(bg.GetCamera().x, 0);
  EXPECT_EQ(bg.axis[0].counter, 0);
  EXPECT_EQ(bg.fillMode, 0);
  EXPECT_EQ(bg.fillColour, 0);
  EXPECT_EQ(bg.composed.Row(100)[100], 0u);
  EXPECT_EQ(bg.AnimateBackground(), 0);

  // A next show that CLEARs and moves the camera without a background of its own shows black,
  // not this show's picture.
  bg.SetBackgroundFill(1, 0);
  bg.ScrollBackground(Move(66));
  bg.AnimateBackground();
  StageBitmap stage;
  stage.Create(kStageWidth, kStageHeight, 0x777777);
  bg.DrawBackground(stage);
  EXPECT_EQ(stage.Row(100)[100], 0u);
  EXPECT_EQ(stage.Row(0)[0], 0u);
}

}  // namespace
