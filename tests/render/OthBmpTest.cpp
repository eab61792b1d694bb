// Image objects: sources, schedules, projection and clipping of the quadrants, drawing modes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "render/CBgCtl.h"
#include "render/COthBmp.h"
#include "render/Picture.h"
#include "render/PixelOps.h"
#include "settings/CMainCtl.h"
#include "tests/render/MarkedPicture.h"
#include "tests/support/TempFolder.h"
#include "tools/BmpEncoder.h"

namespace {

namespace fs = std::filesystem;

class OthBmpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings_.SetCurPath(dir_.string());
    stage_.Create(kStageWidth, kStageHeight, 0);
  }

  void WriteBmp(const std::string& name, const Bitmap32& b) {
    std::vector<std::uint8_t> bytes;
    ASSERT_EQ(EncodeBmp(b, 24, &bytes), 0);
    ASSERT_EQ(WriteFileBytes((dir_ / name).c_str(), bytes), 0);
  }

  // An IMAGE record as the parser makes it: ZPOS is stored + 270.
  static CTimeImage Image(const char* file, int no, double x = 0, double y = 0, double zpos = 0) {
    CTimeImage rec;
    std::snprintf(rec.FileName, sizeof rec.FileName, "%s", file);
    rec.BmpNo = no;
    rec.Point = {x, y, zpos + kFocalDistance};
    rec.Time = 100000;
    return rec;
  }
  static CTimeSchedule Schedule(int no, int mode, int time = 0) {
    CTimeSchedule rec;
    rec.Kind = 29;
    rec.BmpNo = no;
    rec.Mode = mode;
    rec.Time = time;
    return rec;
  }

  TempFolder temp_;
  fs::path dir_ = temp_.path();
  CMainCtl settings_;
  CBgCtl background_{&settings_};
  COthBmp layer_{&settings_, &background_};
  StageBitmap stage_;
};

TEST_F(OthBmpTest, NaturalSizeAtTheFocalPlaneIsCentredOnTheStage) {
  WriteBmp("p.bmp", MarkedPicture(6, 4, 1));
  layer_.AddImage(Image("p.bmp", 0));
  EXPECT_EQ(layer_.AnimateImages(), 1);
  const CPtDataI& o = *layer_.slots[0];
  EXPECT_EQ(o.anchorX, 0);
  EXPECT_EQ(o.stage[0].x, 320);
  EXPECT_EQ(o.stage[0].y, 136);
  EXPECT_EQ(o.stage[2].x, 317);
  EXPECT_EQ(o.stage[2].y, 134);
  EXPECT_EQ(o.stage[2].width, 3);
  layer_.DrawImages(stage_);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) EXPECT_EQ(stage_.Row(134 + y)[317 + x], Marked(x, y, 1));
  EXPECT_EQ(stage_.Row(133)[317], 0u);
  EXPECT_EQ(stage_.Row(134)[323], 0u);
}

TEST_F(OthBmpTest, CameraAndBackgroundPlaceShiftTheAnchor) {
  WriteBmp("p.bmp", MarkedPicture(4, 4, 1));
  CTimeImage rec = Image("p.bmp", 0, 10, 0, -135);  // k = 2
  rec.BgPos = {100, 50, 0};
  layer_.AddImage(rec);
  CTimeBgScroll cam;
  cam.XValue = 320 + 30;
  cam.XMode = 1;
  cam.ZValue = 0;
  cam.ZMode = 1;
  background_.ScrollBackground(cam);
  layer_.AnimateImages();
  const CPtDataI& o = *layer_.slots[0];
  EXPECT_EQ(o.anchorX, 100 - 30 + 20);
  EXPECT_EQ(o.anchorY, 50);
  EXPECT_EQ(o.stage[0].width, 4);

  // A camera at or beyond the picture's depth hides it.
  cam.XMode = 0;
  cam.ZValue = 135;
  background_.ScrollBackground(cam);
  EXPECT_EQ(layer_.AnimateImages(), 0);
  for (const QuadRect& r : layer_.slots[0]->stage) EXPECT_EQ(r.width, 0);
}

TEST_F(OthBmpTest, ObjectAtOrBehindTheCameraIsNotDrawn) {
  WriteBmp("p.bmp", MarkedPicture(4, 4, 1));
  layer_.AddImage(Image("p.bmp", 0, 0, 0, -270));
  layer_.AddImage(Image("p.bmp", 1, 0, 0, -400));
  EXPECT_EQ(layer_.AnimateImages(), 0);
  layer_.DrawImages(stage_);
  for (std::uint32_t p : stage_.pixels) ASSERT_EQ(p, 0u);
}

TEST_F(OthBmpTest, PicturesArePaddedToEvenSidesAndReversed) {
  WriteBmp("odd.bmp", MarkedPicture(101, 51, 1));
  WriteBmp("small.bmp", MarkedPicture(3, 2, 2));
  layer_.AddImage(Image("odd.bmp", 0));
  CTimeImage h = Image("small.bmp", 1);
  h.Reverse = 1;
  layer_.AddImage(h);
  CTimeImage v = Image("small.bmp", 2);
  v.Reverse = 2;
  layer_.AddImage(v);

  const CPtDataI& odd = *layer_.slots[0];
  EXPECT_EQ(odd.picture.width, 102);
  EXPECT_EQ(odd.picture.height, 52);
  EXPECT_EQ(odd.turned.width, 102);
  EXPECT_EQ(odd.picture.Row(50)[100], Marked(100, 50, 1));
  EXPECT_EQ(odd.picture.Row(0)[101], 0u);
  EXPECT_EQ(odd.picture.Row(51)[0], 0u);
  layer_.AnimateImages();
  EXPECT_EQ(odd.stage[2].width, 51);
  EXPECT_EQ(odd.stage[2].height, 26);

  const Bitmap32& hp = layer_.slots[1]->picture;
  EXPECT_EQ(hp.width, 4);
  EXPECT_EQ(hp.Row(0)[0], Marked(2, 0, 2));
  EXPECT_EQ(hp.Row(1)[2], Marked(0, 1, 2));
  EXPECT_EQ(hp.Row(0)[3], 0u);
  const Bitmap32& vp = layer_.slots[2]->picture;
  EXPECT_EQ(vp.Row(0)[0], Marked(0, 1, 2));
  EXPECT_EQ(vp.Row(1)[2], Marked(2, 0, 2));
}

TEST_F(OthBmpTest, UnloadableSourcesBecomeNotFound) {
  Picture nf;
  ASSERT_EQ(LoadBuiltinPicture("NOTFOUND", &nf), 0);
  FILE* f = std::fopen((dir_ / "broken.jpg").c_str(), "wb");
  std::fputs("\xFF\xD8 broken", f);
  std::fclose(f);
  layer_.AddImage(Image("broken.jpg", 0));
  layer_.AddImage(Image("absent.bmp", 1));
  layer_.AddImage(Image("", 2));  // neither a file nor a text
  // A file name is padded to even sides; the plain placeholder is used as it is.
  const int even = (nf.rgb.width + 1) & ~1;
  EXPECT_EQ(layer_.slots[0]->picture.width, even);
  EXPECT_EQ(layer_.slots[1]->picture.width, even);
  EXPECT_EQ(layer_.slots[2]->picture.width, nf.rgb.width);
  EXPECT_EQ(layer_.slots[2]->picture.pixels, nf.rgb.pixels);
}

// 64 bytes that claim a w x h picture: an RLE8 stream that ends at once (all background).
std::vector<std::uint8_t> ClaimingRle8(int w, int h) {
  std::vector<std::uint8_t> b;
  auto u16 = [&](unsigned v) { b.insert(b.end(), {std::uint8_t(v), std::uint8_t(v >> 8)}); };
  auto u32 = [&](unsigned v) { u16(v & 0xFFFF), u16(v >> 16); };
  b = {'B', 'M'};
  u32(64), u32(0), u32(62);                         // file size, reserved, pixel offset
  u32(40), u32(w), u32(h), u16(1), u16(8), u32(1);  // info header: RLE8
  u32(2), u32(0), u32(0), u32(2), u32(0);           // data size, resolution, 2 colours
  u32(0x000000), u32(0xFFFFFF);                     // palette
  b.insert(b.end(), {0, 1});                        // end of picture
  return b;
}

TEST_F(OthBmpTest, ImagesAndBackgroundsShareOnePictureBudget) {
  ASSERT_EQ(WriteFileBytes((dir_ / "claims.bmp").c_str(), ClaimingRle8(512, 512)), 0);
  Picture nf;
  ASSERT_EQ(LoadBuiltinPicture("NOTFOUND", &nf), 0);
  const int notFound = (nf.rgb.width + 1) & ~1;
  constexpr std::uint64_t kOne = 512 * 512 * 4;  // one decoded copy
  PictureBudget& budget = settings_.Pictures();
  budget.SetLimit(3 * kOne + kOne / 2);
  for (int i = 0; i < 5; ++i) layer_.AddImage(Image("claims.bmp", i));
  for (int i = 0; i < 5; ++i) EXPECT_EQ(layer_.slots[i]->picture.width, i < 3 ? 512 : notFound);
  EXPECT_EQ(budget.Held(), 3 * kOne);

  CTimeBgMake make;
  std::snprintf(make.FileName, sizeof make.FileName, "claims.bmp");
  std::snprintf(make.ResName[0], sizeof make.ResName[0], "claims.bmp");
  background_.MakeBackground(make);  // nothing left for it either
  EXPECT_EQ(background_.basePicture.width, nf.rgb.width);
  EXPECT_EQ(background_.placed[0].width, nf.rgb.width);
  layer_.ClearImages();  // what the images held is given back
  EXPECT_EQ(budget.Held(), 0u);
  background_.MakeBackground(make);
  EXPECT_EQ(background_.basePicture.width, 512);
  EXPECT_EQ(background_.placed[0].width, 512);
  EXPECT_EQ(budget.Held(), 2 * kOne);
  background_.ClearBackground();  // the base picture and the placed ones are all given back
  EXPECT_EQ(budget.Held(), 0u);
}

// A show that starts one picture file for many objects reads and decodes it once: the others
// take the picture kept while the file keeps its path, size and modification time (here the
// file is written over with other pixels and its time put back, which only a kept picture can
// show), and each copy counts against the budget as a fresh decode does.
TEST_F(OthBmpTest, AFileLoadedAgainIsTakenFromTheShowsPicturesWhileUnchanged) {
  const fs::path file = dir_ / "lamp.bmp";
  WriteBmp("lamp.bmp", MarkedPicture(30, 22, 1));
  const auto time = fs::last_write_time(file);
  layer_.AddImage(Image("lamp.bmp", 0));
  WriteBmp("lamp.bmp", MarkedPicture(30, 22, 2));
  fs::last_write_time(file, time);
  layer_.AddImage(Image("lamp.bmp", 1));
  EXPECT_EQ(layer_.slots[1]->picture.pixels, MarkedPicture(30, 22, 1).pixels);
  EXPECT_EQ(settings_.Pictures().Held(), 2u * 30 * 22 * 4);

  fs::last_write_time(file, time + std::chrono::seconds(1));
  layer_.AddImage(Image("lamp.bmp", 2));
  EXPECT_EQ(layer_.slots[2]->picture.pixels, MarkedPicture(30, 22, 2).pixels);
  WriteBmp("lamp.bmp", MarkedPicture(32, 22, 3));  // another size at the same time
  fs::last_write_time(file, time + std::chrono::seconds(1));
  layer_.AddImage(Image("lamp.bmp", 3));
  EXPECT_EQ(layer_.slots[3]->picture.pixels, MarkedPicture(32, 22, 3).pixels);
  EXPECT_EQ(layer_.pictures.Count(), 1);  // the file's latest picture only

  // A picture past the bound is not kept; the show's end frees what was.
  ASSERT_EQ(WriteFileBytes((dir_ / "huge.bmp").c_str(), ClaimingRle8(2100, 2100)), 0);
  layer_.AddImage(Image("huge.bmp", 4));
  EXPECT_EQ(layer_.slots[4]->picture.width, 2100);
  EXPECT_EQ(layer_.pictures.Count(), 1);
  EXPECT_LE(layer_.pictures.Bytes(), kMaxKeptPictureBytes);
  layer_.ClearImages();
  EXPECT_EQ(layer_.pictures.Bytes(), 0u);
  EXPECT_EQ(settings_.Pictures().Held(), 0u);
}

TEST_F(OthBmpTest, StringPictureSplitsIntoQuadrantsEightAndSevenHigh) {
  CTimeImage rec = Image("", 0);
  rec.String = std::make_unique<std::string>("Ondrelix");
  layer_.AddImage(rec);
  const CPtDataI& o = *layer_.slots[0];
  ASSERT_EQ(o.picture.height, 15);
  EXPECT_GT(o.picture.width, 8 * 4);
  layer_.AnimateImages();
  EXPECT_EQ(o.stage[1].height, 8);
  EXPECT_EQ(o.stage[2].height, 8);
  EXPECT_EQ(o.stage[0].height, 7);
  EXPECT_EQ(o.stage[3].height, 7);
  EXPECT_EQ(o.source[0].y, 8);
  // White text on black and nothing between, or TRANS=BLACK would leave a grey fringe: Latin
  // and kana, as the built-in notices write them.
  for (const char* text : {"Ondrelix", "\x83\x74\x83\x48\x83\x8B\x83\x5F"}) {
    layer_.ClearImages();
    rec.String = std::make_unique<std::string>(text);
    layer_.AddImage(rec);
    int ink = 0;
    for (std::uint32_t p : layer_.slots[0]->picture.pixels) {
      ink += p == 0xFFFFFF;
      ASSERT_TRUE(p == 0 || p == 0xFFFFFF) << std::hex << p << " in " << text;
    }
    EXPECT_GT(ink, 20) << text;
  }
}

TEST_F(OthBmpTest, SetWithAccelerationReachesItsTargetOnTheLastFrame) {
  WriteBmp("p.bmp", MarkedPicture(4, 4, 1));
  layer_.AddImage(Image("p.bmp", 0));
  CTimeSchedule set = Schedule(0, kModeSet, 1000);
  set.Point.x = 100;
  set.Acc = 20;
  set.Dec = 20;
  layer_.SetImage(set);
  const CPtDataI& o = *layer_.slots[0];
  EXPECT_EQ(o.motion[kMotionX].counter, 30);
  EXPECT_EQ(o.motion[kMotionX].accelEnd, 24);
  EXPECT_EQ(o.motion[kMotionX].decelStart, 6);
  double last = 0;
  for (int f = 1; f <= 29; ++f) {
    layer_.AnimateImages();
    EXPECT_GT(o.position.x, last) << f;
    last = o.position.x;
  }
  EXPECT_NEAR(o.position.x, 100, 1e-9);
  layer_.AnimateImages();
  EXPECT_EQ(o.position.x, 100);
  EXPECT_EQ(o.position.y, 0);  // not given, not moved
  layer_.AnimateImages();
  EXPECT_EQ(o.position.x, 100);

  // First and last steps: the speed rises by P / 6 a frame, P = 100 / 24.
  CTimeSchedule back = set;
  back.Point.x = 0;
  layer_.SetImage(back);
  layer_.AnimateImages();
  EXPECT_NEAR(o.position.x, 100 - 100.0 / 24 / 6, 1e-9);
}

TEST_F(OthBmpTest, SetWithoutTimeAppliesAtOnceToTheFirstMatchOnly) {
  WriteBmp("p.bmp", MarkedPicture(4, 2, 1));
  layer_.AddImage(Image("p.bmp", 7));
  layer_.AddImage(Image("p.bmp", 7));
  CTimeSchedule set = Schedule(7, kModeSet, 0);
  set.Point.y = -20;
  set.Angle = 1.5707963267948966;
  set.Contrast = 0x400000;
  layer_.SetImage(set);
  const CPtDataI& a = *layer_.slots[0];
  EXPECT_EQ(a.position.y, -20);
  EXPECT_EQ(a.position.x, 0);
  EXPECT_EQ(a.contrast, 0x400000);
  EXPECT_EQ(a.turned.width, 2);  // turned a quarter
  EXPECT_EQ(a.turned.height, 4);
  EXPECT_EQ(layer_.slots[1]->position.y, 0);

  // A time under one frame is no time at all (no division by zero).
  for (int t : {1, 32}) {
    CTimeSchedule quick = Schedule(7, kModeSet, t);
    quick.Point.x = 5.0 + t;
    layer_.SetImage(quick);
    EXPECT_EQ(a.position.x, 5.0 + t);
    EXPECT_EQ(a.motion[kMotionX].counter, 0);
  }

  // Timed changes go to every match.
  CTimeSchedule timed = Schedule(7, kModeSet, 330);
  timed.Contrast = 0;
  layer_.SetImage(timed);
  EXPECT_EQ(layer_.slots[1]->contrastCount, 10);
  EXPECT_EQ(layer_.slots[1]->contrastDelta, -0xFF0000 / 10);
}

TEST_F(OthBmpTest, ContrastFadesInSteps) {
  WriteBmp("p.bmp", MarkedPicture(4, 2, 1));
  CTimeImage rec = Image("p.bmp", 0);
  rec.Contrast = 0;
  layer_.AddImage(rec);
  CTimeSchedule fade = Schedule(0, kModeSet, 500);  // 15 frames, raised to 16
  fade.Contrast = 0xFF0000;
  layer_.SetImage(fade);
  const CPtDataI& o = *layer_.slots[0];
  layer_.AnimateImages();
  EXPECT_EQ(o.contrast, 0xFF0000 / 16);
  for (int f = 2; f <= 15; ++f) layer_.AnimateImages();
  EXPECT_EQ(o.contrast, 15 * (0xFF0000 / 16));
  layer_.AnimateImages();
  EXPECT_EQ(o.contrast, 0xFF0000);
}

TEST_F(OthBmpTest, MoveDriftsForEverAndRampsToANewRate) {
  WriteBmp("p.bmp", MarkedPicture(4, 2, 1));
  layer_.AddImage(Image("p.bmp", 0));
  CTimeSchedule move = Schedule(0, kModeMove, 0);
  move.Point.x = 33;
  move.Contrast = 0;  // ignored by MOVE
  layer_.SetImage(move);
  const CPtDataI& o = *layer_.slots[0];
  for (int f = 1; f <= 500; ++f) {
    layer_.AnimateImages();
    ASSERT_NEAR(o.position.x, f, 1e-9) << f;
  }
  EXPECT_EQ(o.contrast, 0xFF0000);

  CTimeSchedule ramp = Schedule(0, kModeMove, 330);
  ramp.Point.x = 0;
  layer_.SetImage(ramp);
  for (int f = 0; f < 10; ++f) layer_.AnimateImages();
  EXPECT_NEAR(o.motion[kMotionX].velocity, 0, 1e-9);
  EXPECT_NEAR(o.position.x, 500 + 4.5, 1e-9);  // speeds 0.9, 0.8, ... 0
  layer_.AnimateImages();
  EXPECT_NEAR(o.position.x, 504.5, 1e-9);

  // A SET after the MOVE glides straight to its target.
  CTimeSchedule set = Schedule(0, kModeSet, 660);
  set.Point.x = 0;
  layer_.SetImage(set);
  for (int f = 0; f < 19; ++f) layer_.AnimateImages();
  EXPECT_NEAR(o.position.x, 504.5 / 20, 1e-9);
}

TEST_F(OthBmpTest, QuadrantsAreClippedAtSourceResolution) {
  WriteBmp("p.bmp", MarkedPicture(40, 20, 1));
  // ZPOS -135: dz = 135, k = 2. XPOS -150 puts the anchor at stage x 20, so the left quadrants
  // (80 pixels wide) start at -20 and lose 20 stage columns, 10 source columns.
  layer_.AddImage(Image("p.bmp", 0, -150, 0, -135));
  layer_.AnimateImages();
  const CPtDataI& o = *layer_.slots[0];
  EXPECT_EQ(o.anchorX, -300);
  for (int q : {2, 3}) {
    EXPECT_EQ(o.stage[q].x, 0) << q;
    EXPECT_EQ(o.stage[q].width, 20) << q;
    EXPECT_EQ(o.source[q].x, 10) << q;
    EXPECT_EQ(o.source[q].width, 10) << q;
  }
  EXPECT_EQ(o.stage[0].x, 20);
  EXPECT_EQ(o.stage[0].width, 40);
  EXPECT_EQ(o.source[0].width, 20);
  layer_.DrawImages(stage_);
  EXPECT_EQ(stage_.Row(116)[0], Marked(10, 0, 1));
  EXPECT_EQ(stage_.Row(117)[1], Marked(10, 0, 1));
  EXPECT_EQ(stage_.Row(116)[2], Marked(11, 0, 1));
  EXPECT_EQ(stage_.Row(155)[59], Marked(39, 19, 1));
  EXPECT_EQ(stage_.Row(156)[59], 0u);

  // Off the bottom right: cut there, and wholly outside is emptied.
  layer_.ClearImages();
  layer_.AddImage(Image("p.bmp", 0, 150, 60, -135));  // anchor (620, 256)
  layer_.AddImage(Image("p.bmp", 1, 200, 0, -135));   // anchor 720: all outside
  layer_.AnimateImages();
  const CPtDataI& b = *layer_.slots[0];
  EXPECT_EQ(b.stage[0].width, 20);
  EXPECT_EQ(b.source[0].width, 10);
  EXPECT_EQ(b.stage[0].height, 16);
  EXPECT_EQ(b.source[0].height, 8);
  EXPECT_EQ(b.stage[1].height, 20);
  for (const QuadRect& r : layer_.slots[1]->stage) EXPECT_EQ(r.width, 0);
}

// Whatever a script asks for, every drawn rectangle lies inside the stage and its source.
TEST_F(OthBmpTest, ExtremeValuesStayInsideTheStageAndThePicture) {
  WriteBmp("p.bmp", MarkedPicture(10, 8, 1));
  const double values[] = {0, 1e-300, -1e-300, 0.4, 1e6, -1e6, 1e300, -1e300, 0.0 / 0.0};
  int no = 0;
  for (double z : values)
    for (double xy : values)
      for (double size : {1.0, 1e-7, 1e7, -1.0, 0.0 / 0.0}) {
        layer_.ClearImages();
        CTimeImage rec = Image("p.bmp", no++, xy, -xy, z);
        rec.Size = size;
        rec.Contrast = 0x400000;
        layer_.AddImage(rec);
        layer_.AnimateImages();
        const CPtDataI& o = *layer_.slots[0];
        for (int q = 0; q < 4; ++q) {
          const QuadRect& d = o.stage[q];
          const QuadRect& s = o.source[q];
          if (d.width == 0) continue;
          ASSERT_TRUE(d.x >= 0 && d.y >= 0 && d.x + d.width <= kStageWidth &&
                      d.y + d.height <= kStageHeight)
              << z << " " << xy << " " << size;
          ASSERT_TRUE(s.x >= 0 && s.y >= 0 && s.width >= 1 && s.height >= 1 &&
                      s.x + s.width <= o.turned.width && s.y + s.height <= o.turned.height)
              << z << " " << xy << " " << size;
        }
        layer_.DrawImages(stage_);
      }
}

TEST_F(OthBmpTest, LastCreatedIsDrawnOnTop) {
  Bitmap32 red, blue;
  red.Create(4, 4, 0xFF0000);
  blue.Create(4, 4, 0x0000FF);
  WriteBmp("red.bmp", red);
  WriteBmp("blue.bmp", blue);
  CTimeImage shortLived = Image("red.bmp", 0);
  shortLived.Time = 33;  // one frame
  layer_.AddImage(shortLived);
  layer_.AddImage(Image("blue.bmp", 1));
  layer_.AnimateImages();
  layer_.DrawImages(stage_);
  EXPECT_EQ(stage_.Row(136)[320], 0x0000FFu);

  // The red one leaves; a new one goes to the next free slot after the newest and is on top.
  EXPECT_EQ(layer_.AnimateImages(), 1);
  EXPECT_EQ(layer_.count, 1);
  layer_.AddImage(Image("red.bmp", 2));
  EXPECT_EQ(layer_.slots[2]->id, 2);
  layer_.AnimateImages();
  layer_.DrawImages(stage_);
  EXPECT_EQ(stage_.Row(136)[320], 0xFF0000u);
}

TEST_F(OthBmpTest, NewestIsOnTopAlsoWhenTheSlotSearchWraps) {
  Bitmap32 red, blue;
  red.Create(4, 4, 0xFF0000);
  blue.Create(4, 4, 0x0000FF);
  WriteBmp("red.bmp", red);
  WriteBmp("blue.bmp", blue);
  for (int i = 0; i < kMaxImages - 1; ++i) {
    CTimeImage filler = Image("red.bmp", 100 + i, 1000, 0);
    filler.Time = 33;
    layer_.AddImage(filler);
  }
  layer_.AddImage(Image("blue.bmp", 1));  // slot 63
  layer_.AnimateImages();
  layer_.AnimateImages();  // the fillers leave
  EXPECT_EQ(layer_.count, 1);
  layer_.AddImage(Image("red.bmp", 2));
  ASSERT_NE(layer_.slots[0], nullptr);
  EXPECT_EQ(layer_.slots[0]->id, 2);
  layer_.AnimateImages();
  layer_.DrawImages(stage_);
  EXPECT_EQ(stage_.Row(136)[320], 0xFF0000u);
}

TEST_F(OthBmpTest, LifetimeRunsOutBeforeDrawing) {
  WriteBmp("p.bmp", MarkedPicture(4, 4, 1));
  CTimeImage rec = Image("p.bmp", 0);
  rec.Time = 32;  // 0 frames: never drawn
  layer_.AddImage(rec);
  EXPECT_EQ(layer_.AnimateImages(), 1);
  EXPECT_EQ(layer_.count, 0);
  EXPECT_EQ(layer_.AnimateImages(), 0);
}

TEST_F(OthBmpTest, SixtyFifthLiveImageIsDropped) {
  WriteBmp("p.bmp", MarkedPicture(2, 2, 1));
  for (int i = 0; i < kMaxImages; ++i) layer_.AddImage(Image("p.bmp", i));
  EXPECT_EQ(layer_.count, 64);
  layer_.AddImage(Image("p.bmp", 64));
  EXPECT_EQ(layer_.count, 64);
  for (const auto& s : layer_.slots) EXPECT_NE(s->id, 64);
  layer_.ClearImages();
  EXPECT_EQ(layer_.count, 0);
  EXPECT_EQ(layer_.next, 0);
  EXPECT_EQ(layer_.slots[5], nullptr);
}

TEST_F(OthBmpTest, PaintAddsAndSaturates) {
  Bitmap32 p;
  p.Create(2, 2, 0xC8C8C8);  // 200 in each channel
  p.Row(0)[0] = 0;           // black adds nothing
  WriteBmp("p.bmp", p);
  CTimeImage rec = Image("p.bmp", 0);
  rec.Operation = 2;
  layer_.AddImage(rec);
  CTimeImage half = Image("p.bmp", 1, 0, 10);
  half.Operation = 2;
  half.Contrast = 0x800000;
  layer_.AddImage(half);
  stage_.Fill(0x646464);  // 100
  layer_.AnimateImages();
  layer_.DrawImages(stage_);
  EXPECT_EQ(stage_.Row(135)[319], 0x646464u);
  EXPECT_EQ(stage_.Row(135)[320], 0xFFFFFFu);
  EXPECT_EQ(stage_.Row(146)[320], 0xC8C8C8u);  // 100 + 200 x 128 / 256
}

TEST_F(OthBmpTest, TransparentColourAndContrastBlend) {
  Bitmap32 p;
  p.Create(4, 2, 0x00FF00);
  p.Row(0)[1] = 0xFF00FF;
  p.Row(1)[3] = 0;
  WriteBmp("p.bmp", p);
  CTimeImage keyed = Image("p.bmp", 0);
  keyed.Trans = kTransLeftTop;  // the green corner
  layer_.AddImage(keyed);
  CTimeImage faded = Image("p.bmp", 1, 0, 20);
  faded.Contrast = 0x800000;
  faded.Trans = kTransLeftTop;  // not used while blending
  layer_.AddImage(faded);
  EXPECT_EQ(layer_.slots[0]->transparent, 0x00FF00);
  stage_.Fill(0x202020);
  layer_.AnimateImages();
  layer_.DrawImages(stage_);
  EXPECT_EQ(stage_.Row(135)[318], 0x202020u);
  EXPECT_EQ(stage_.Row(135)[319], 0xFF00FFu);
  EXPECT_EQ(stage_.Row(136)[321], 0u);  // black is not the key colour here
  // Blend: d + (s - d) x 128 / 256, black source pixels left out.
  EXPECT_EQ(stage_.Row(155)[318], 0x108F10u);
  EXPECT_EQ(stage_.Row(155)[319], 0x8F108Fu);
  EXPECT_EQ(stage_.Row(156)[321], 0x202020u);
}

// The layer's row loops must give exactly the shared per-pixel operations, for every weight.
TEST_F(OthBmpTest, BlendAndPaintMatchThePixelOperations) {
  Bitmap32 p;
  p.Create(62, 64);  // quadrants of 31 columns: full groups of four and a remainder
  std::uint32_t seed = 12345;
  auto rnd = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
  // Black (which adds nothing and blends as transparent) alone, and in runs of six that cover
  // whole groups of four at every alignment.
  for (size_t i = 0; i < p.pixels.size(); ++i)
    p.pixels[i] = i / 6 % 3 == 0 || rnd() % 7 == 0 ? 0 : rnd() & 0xFFFFFF;
  WriteBmp("noise.bmp", p);
  Bitmap32 under;
  under.Create(kStageWidth, kStageHeight);
  for (auto& v : under.pixels) v = rnd() << 8 ^ rnd();  // the fourth byte too: it must stay
  for (int op : {1, 2}) {
    for (int level : {1, 2, 77, 128, 129, 200, 253, 254, 255}) {
      if (op == 1 && level == 255) continue;  // full contrast copies, it does not blend
      layer_.ClearImages();
      CTimeImage rec = Image("noise.bmp", 0);
      rec.Operation = op;
      rec.Contrast = level << 16;
      rec.Trans = 0x123456;  // ignored by both
      layer_.AddImage(rec);
      layer_.AnimateImages();
      stage_ = under;
      layer_.DrawImages(stage_);
      for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 62; ++x) {
          const std::uint32_t d = under.Row(104 + y)[289 + x], s = p.Row(y)[x];
          const std::uint32_t want = op == 2 ? PaintPixel(d, s, level) : BlendPixel(d, s, level);
          ASSERT_EQ(stage_.Row(104 + y)[289 + x], want)
              << op << " " << level << " " << x << "," << y;
        }
    }
  }
}

TEST_F(OthBmpTest, HighQualityAveragesWhenRenderingAtDoubleScale) {
  WriteBmp("p.bmp", MarkedPicture(4, 4, 1));
  CTimeImage rec = Image("p.bmp", 0);
  rec.Quality = 4;
  layer_.AddImage(rec);
  layer_.AddImage(Image("p.bmp", 1));
  EXPECT_EQ(layer_.slots[0]->quality, kStretchAverage);
  EXPECT_EQ(layer_.slots[1]->quality, kStretchDrop);

  // Both modes, at natural size and enlarged, draw what the stretch itself gives.
  WriteBmp("noise.bmp", MarkedPicture(30, 22, 3));
  for (int quality : {3, 4})
    for (double size : {1.0, 1.7}) {
      layer_.ClearImages();
      CTimeImage one = Image("noise.bmp", 0);
      one.Quality = quality;
      one.Size = size;
      one.Contrast = 0x900000;  // through the scratch bitmap
      layer_.AddImage(one);
      CTimeImage two = Image("noise.bmp", 1, 0, 60);
      two.Quality = quality;
      two.Size = size;
      layer_.AddImage(two);  // straight onto the stage
      layer_.AnimateImages();
      stage_.Fill(0);
      layer_.DrawImages(stage_);
      for (const auto& slot : {layer_.slots[0].get(), layer_.slots[1].get()})
        for (int q = 0; q < 4; ++q) {
          const QuadRect& d = slot->stage[q];
          const QuadRect& s = slot->source[q];
          Bitmap32 want;
          want.Create(d.width, d.height);
          StretchBlt(want, 0, 0, d.width, d.height, slot->turned, s.x, s.y, s.width, s.height,
                     quality);
          for (int y = 0; y < d.height; ++y)
            for (int x = 0; x < d.width; ++x) {
              const std::uint32_t got = stage_.Row(d.y + y)[d.x + x];
              const std::uint32_t exp = slot == layer_.slots[0].get()
                                            ? BlendPixel(0, want.Row(y)[x], 0x90)
                                            : want.Row(y)[x];
              ASSERT_EQ(got, exp) << quality << " " << size << " " << q;
            }
        }
    }
}

}  // namespace

// A still, enlarged picture is stretched once and then taken from what was kept: every frame
// shows what the stretch itself gives, copied or painted, and a turn or a new size stretches
// afresh.
TEST_F(OthBmpTest, AStillPictureKeepsItsStretchUntilItChanges) {
  WriteBmp("noise.bmp", MarkedPicture(30, 22, 5));
  CTimeImage rec = Image("noise.bmp", 0);
  rec.Quality = kStretchAverage;
  rec.Size = 1.7;
  layer_.AddImage(rec);
  CTimeImage painted = Image("noise.bmp", 1, 0, 80);
  painted.Quality = kStretchAverage;
  painted.Size = 1.7;
  painted.Operation = 2;
  painted.Contrast = 0x900000;
  layer_.AddImage(painted);
  auto expectTheStretch = [&](const char* when) {
    stage_.Fill(0x203040);
    layer_.DrawImages(stage_);
    for (int i = 0; i < 2; ++i) {
      const CPtDataI& obj = *layer_.slots[i];
      for (int q = 0; q < 4; ++q) {
        const QuadRect& d = obj.stage[q];
        const QuadRect& s = obj.source[q];
        Bitmap32 want;
        want.Create(d.width, d.height);
        StretchBlt(want, 0, 0, d.width, d.height, obj.turned, s.x, s.y, s.width, s.height,
                   kStretchAverage);
        if (i == 1)
          for (auto& v : want.pixels) v = PaintPixel(0x203040, v, 0x90);
        for (int y = 0; y < d.height; ++y)
          ASSERT_TRUE(std::equal(want.Row(y), want.Row(y) + d.width, stage_.Row(d.y + y) + d.x))
              << when << ": object " << i << " quadrant " << q << " row " << y;
      }
    }
  };
  for (int frame = 0; frame < 4; ++frame) {
    layer_.AnimateImages();
    expectTheStretch("still");
  }
  EXPECT_FALSE(layer_.slots[0]->stretched[0].pixels.Empty());  // kept from the second frame on
  EXPECT_FALSE(layer_.slots[1]->stretched[0].pixels.Empty());

  for (int no : {0, 1}) {
    CTimeSchedule turn = Schedule(no, kModeSet, 0);
    turn.Angle = 3.141592653589793;  // a half turn: the same size, other pixels
    layer_.SetImage(turn);
  }
  for (int frame = 0; frame < 3; ++frame) {
    layer_.AnimateImages();
    expectTheStretch("turned");
  }
  for (int no : {0, 1}) {
    CTimeSchedule grow = Schedule(no, kModeSet, 0);
    grow.Size = 2.3;
    layer_.SetImage(grow);
  }
  for (int frame = 0; frame < 3; ++frame) {
    layer_.AnimateImages();
    expectTheStretch("grown");
  }
}
