// Title layer: natural size, flight and scale, the visible part of enlarged titles, exact area
// averaging when shrinking (against the per-pixel weight tables), clipping, animation, drawing.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "render/CTitle.h"
#include "render/PixelOps.h"
#include "settings/CMainCtl.h"

namespace {

constexpr std::uint32_t kWhite = 0xFFFFFF;
constexpr std::uint32_t kGrey = 0x808080;

// A minimal 24-bit BMP writer, so the title pictures are real files in a data folder.
void WriteBmp24(const std::string& path, const Bitmap32& pic) {
  const int pitch = (pic.width * 3 + 3) / 4 * 4;
  const std::uint32_t dataSize = static_cast<std::uint32_t>(pitch * pic.height);
  std::vector<std::uint8_t> f(54 + dataSize, 0);
  auto put32 = [&](int at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) f[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
  };
  f[0] = 'B', f[1] = 'M';
  put32(2, 54 + dataSize);
  put32(10, 54);
  put32(14, 40);
  put32(18, static_cast<std::uint32_t>(pic.width));
  put32(22, static_cast<std::uint32_t>(pic.height));
  f[26] = 1, f[28] = 24;
  put32(34, dataSize);
  for (int y = 0; y < pic.height; ++y) {
    std::uint8_t* row = f.data() + 54 + static_cast<std::size_t>(pic.height - 1 - y) * pitch;
    for (int x = 0; x < pic.width; ++x) {
      const std::uint32_t v = pic.Row(y)[x];
      row[3 * x] = v & 0xFF, row[3 * x + 1] = (v >> 8) & 0xFF, row[3 * x + 2] = (v >> 16) & 0xFF;
    }
  }
  FILE* out = std::fopen(path.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  std::fwrite(f.data(), 1, f.size(), out);
  std::fclose(out);
}

template <typename F>
Bitmap32 Picture32(int w, int h, F colour) {
  Bitmap32 p;
  p.Create(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) p.Row(y)[x] = colour(x, y);
  return p;
}

CTimeSchedule Schedule(int bmpNo, int mode, int timeMs) {
  CTimeSchedule s;
  s.Kind = 28;
  s.BmpNo = bmpNo;
  s.Mode = mode;
  s.Time = timeMs;
  return s;
}

class TitleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The process id too: the portable build runs the same tests at the same time.
    folder = ::testing::TempDir() + "/ondrelix_title_" + std::to_string(getpid()) + "_" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::create_directories(folder);
    settings.SetCurPath(folder);
    layer = std::make_unique<CTitle>(&settings);
    stage.Create(kStageWidth, kStageHeight);
  }
  void TearDown() override { std::filesystem::remove_all(folder); }

  // Writes `pic` as a picture file, registers it as a title and starts it at POS / SPEED.
  int Start(const Bitmap32& pic, double pos, double speed, int timeMs = 5000) {
    std::string name = "title.bmp";
    WriteBmp24(folder + "/" + name, pic);
    const int n = layer->LoadTextBitmap(name, kKindTitle);
    EXPECT_GE(n, 0);
    CTimeTitle rec;
    rec.BmpNo = n;
    std::snprintf(rec.FileName, sizeof rec.FileName, "%s", name.c_str());
    rec.ZPos = pos;
    rec.ZPosPlus = speed;
    rec.Time = timeMs;
    layer->StartTitle(rec);
    return n;
  }
  std::uint8_t Buf(int n, int x, int y) const { return layer->state[n]->buffer.Row(y)[x]; }
  void ExpectShrunkLikeTheTables(const Bitmap1& pic, double scale, const std::string& where);

  std::string folder;
  CMainCtl settings;
  std::unique_ptr<CTitle> layer;
  StageBitmap stage;
};

// White core (ink), grey frame (silhouette only), black margin.
Bitmap32 FramedSquare() {
  return Picture32(64, 64, [](int x, int y) {
    if (x >= 16 && x < 48 && y >= 16 && y < 48) return kWhite;
    if (x >= 8 && x < 56 && y >= 8 && y < 56) return kGrey;
    return 0u;
  });
}

}  // namespace

TEST_F(TitleTest, RestsAtNaturalSizeAndDrawsInkAndSilhouette) {
  settings.SetBackColour(0x00302010);  // 0x00BBGGRR
  const int n = Start(FramedSquare(), 0, 0);
  ASSERT_NE(layer->state[n], nullptr);
  EXPECT_EQ(layer->AnimateTitles(), 1);
  const TitleRect r = layer->state[n]->rect;
  EXPECT_EQ(r.left, 288);
  EXPECT_EQ(r.top, 104);
  EXPECT_EQ(r.right, 352);
  EXPECT_EQ(r.bottom, 168);
  EXPECT_EQ(layer->state[n]->z, 270.0);
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) {
      const std::uint32_t c = FramedSquare().Row(y)[x];
      const int expect = c == kWhite ? 31 : (c == kGrey ? 255 : 0);
      ASSERT_EQ(Buf(n, 288 + x, 104 + y), expect) << x << "," << y;
    }

  stage.Fill(0x00FFFFFF);
  layer->DrawTitles(stage);
  EXPECT_EQ(stage.Row(104 + 20)[288 + 20] & 0xFFFFFF, 0xFFC000u);  // the FARSLANT ink
  EXPECT_EQ(stage.Row(104 + 10)[288 + 10] & 0xFFFFFF, 0x102030u);  // BackColour
  EXPECT_EQ(stage.Row(104 + 2)[288 + 2] & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(stage.Row(103)[300] & 0xFFFFFF, 0xFFFFFFu);

  // Half contrast blends; contrast 0 leaves the stage alone.
  layer->state[n]->contrast = 0x800000;
  stage.Fill(0);
  layer->DrawTitles(stage);
  EXPECT_EQ(stage.Row(104 + 20)[288 + 20] & 0xFFFFFF, 0x7F6000u);
  layer->state[n]->contrast = 0;
  stage.Fill(0);
  layer->DrawTitles(stage);
  for (std::uint32_t v : stage.pixels) ASSERT_EQ(v, 0u);
}

// Drawing works on blocks of levels and on whole vectors of pixels; every level must still be
// drawn as the plain per-pixel loop draws it: rectangles at the stage's edges and with ragged
// ends, runs of one level and lone levels, opaque and faded titles (contrasts outside the usual
// range too), any ink and back colour, and the alpha bytes of the stage kept.
TEST_F(TitleTest, DrawingLevelsMatchesThePlainLoop) {
  const Bitmap32 white = Picture32(64, 64, [](int, int) { return kWhite; });
  const int n = Start(white, 0, 0);
  ASSERT_EQ(layer->AnimateTitles(), 1);
  CPtDataT& st = *layer->state[n];
  std::mt19937 rng(2105);
  auto below = [&](int m) { return static_cast<int>(rng() % static_cast<unsigned>(m)); };
  constexpr std::int32_t kContrasts[] = {0xFF0000, 0x7F0000,  0x010000, 0xFFFFFF,
                                         0x00FFFF, 0x1000000, -0x10000};
  for (int round = 0; round < 48; ++round) {
    const int left = round % 4 == 0 ? 0 : below(kStageWidth);
    const int right = round % 4 == 1 ? kStageWidth : left + 1 + below(kStageWidth - left);
    const int top = round / 4 % 3 == 0 ? 0 : below(kStageHeight);
    const int bottom = round / 4 % 3 == 1 ? kStageHeight : top + 1 + below(kStageHeight - top);
    st.rect = {left, top, right, bottom};
    st.contrast = round % 3 == 0   ? kContrasts[0]
                  : round % 3 == 1 ? kContrasts[1 + below(6)]
                                   : below(0x1000000);
    settings.SetBackColour(rng() & 0xFFFFFF);
    layer->entries[n]->colour = static_cast<std::int32_t>(rng() & 0xFFFFFF);
    layer->BuildShadeRamp(n);
    if (round == 5) layer->entries[n]->ShadeRamp[31].r = 300;  // a slot out of range
    // Runs of one level (empty, silhouette, full ink, an edge level, anything) of random length.
    for (int y = 0; y < kStageHeight; ++y)
      for (int x = 0; x < kStageWidth;) {
        const int kind = below(6);
        const int level = kind == 0   ? 0
                          : kind == 1 ? 255
                          : kind == 2 ? 31
                          : kind == 3 ? 1 + below(31)
                                      : below(256);
        const int len = kind == 4 ? 1 : 1 + below(40);
        for (int k = 0; k < len && x < kStageWidth; ++k, ++x)
          st.buffer.Row(y)[x] = static_cast<std::uint8_t>(level);
      }
    StageBitmap want;
    want.Create(kStageWidth, kStageHeight);
    for (std::uint32_t& v : want.pixels) v = rng();
    const StageBitmap before = want;
    const ShadeSlot* ramp = layer->entries[n]->ShadeRamp;
    for (int y = st.rect.top; y < st.rect.bottom; ++y)
      for (int x = st.rect.left; x < st.rect.right; ++x)
        if (st.buffer.Row(y)[x] != 0)
          ShadePixel(want.Row(y) + x, ramp[st.buffer.Row(y)[x]], st.contrast);
    // Every instruction set this processor runs draws the same.
    for (int simd = 0; simd <= static_cast<int>(BestTitleSimd()); ++simd) {
      stage = before;
      layer->simd = static_cast<TitleSimd>(simd);
      layer->DrawTitles(stage);
      ASSERT_EQ(stage.pixels, want.pixels) << "seed 2105 round " << round << " simd " << simd
                                           << " contrast " << std::hex << st.contrast;
    }
  }
  if (BestTitleSimd() != TitleSimd::kAvx512) {
    GTEST_SKIP() << "the wider vector paths this processor lacks were not run";
  }
}

TEST_F(TitleTest, FliesAwayToHalfSizeAfter270Frames) {
  const int n = Start(Picture32(64, 64, [](int, int) { return kWhite; }), 0, 10);
  EXPECT_EQ(layer->state[n]->zStep, 1.0);
  for (int i = 0; i < 270; ++i) layer->AnimateTitles();
  EXPECT_DOUBLE_EQ(layer->state[n]->z, 540.0);
  layer->AnimateTitles();
  const TitleRect r = layer->state[n]->rect;
  EXPECT_EQ(r.left, 304);
  EXPECT_EQ(r.top, 120);
  EXPECT_EQ(r.right, 336);
  EXPECT_EQ(r.bottom, 152);
  for (int y = 0; y < kStageHeight; ++y)
    for (int x = 0; x < kStageWidth; ++x) {
      const bool inside = x >= 304 && x < 336 && y >= 120 && y < 152;
      ASSERT_EQ(Buf(n, x, y), inside ? 31 : 0) << x << "," << y;
    }
}

TEST_F(TitleTest, EnlargedTitleShowsTheMiddleSourceRows) {
  // Scale 10: 640 x 640, of which the stage shows source rows 18..45, ten stage columns each.
  const int n = Start(Picture32(64, 64,
                                [](int x, int y) {
                                  if (y == 18 || y == 45) return kWhite;
                                  return x == 0 ? 0u : kGrey;
                                }),
                      27 - 270, 0);
  layer->AnimateTitles();
  const TitleRect r = layer->state[n]->rect;
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(r.right, 640);
  EXPECT_EQ(r.bottom, 272);
  for (int y = 0; y < kStageHeight; ++y) {
    const int expect = (y <= 9 || y >= 263) ? 31 : 255;
    ASSERT_EQ(Buf(n, 10, y), expect) << y;
    ASSERT_EQ(Buf(n, 9, y), expect == 31 ? 31 : 0) << y;  // source column 0 has no silhouette
  }
}

TEST_F(TitleTest, TitlesTooSmallOrBehindTheViewerDrawNothing) {
  const Bitmap32 white = Picture32(64, 64, [](int, int) { return kWhite; });
  // w' = 32 x 270 / z x 2 = 0.5 at z = 34560.
  const int a = Start(white, 34560 - 270, 0);
  const int b = Start(white, -300, 0);  // z = -30
  EXPECT_EQ(layer->AnimateTitles(), 1);
  EXPECT_TRUE(layer->state[a]->rect.Empty());
  EXPECT_TRUE(layer->state[b]->rect.Empty());
  stage.Fill(0x00123456);
  layer->DrawTitles(stage);
  for (std::uint32_t v : stage.pixels) ASSERT_EQ(v, 0x00123456u);

  // z exactly 0 is taken as 1: hugely enlarged, filling the stage, without harm.
  layer->ClearTitles();
  const int c = Start(white, -270, 0);
  layer->AnimateTitles();
  EXPECT_EQ(layer->state[c]->rect.right, 640);
  EXPECT_EQ(Buf(c, 320, 136), 31);
}

TEST_F(TitleTest, ShrinkingAveragesAreasExactly) {
  // Checkerboard at half size: every stage pixel is half covered, level 15.
  const int n =
      Start(Picture32(64, 64, [](int x, int y) { return (x + y) % 2 ? kWhite : 0u; }), 270, 0);
  layer->AnimateTitles();
  for (int y = 120; y < 152; ++y)
    for (int x = 304; x < 336; ++x) ASSERT_EQ(Buf(n, x, y), 15) << x << "," << y;
}

// Renders `pic` at `scale` with each instruction set this processor runs and checks the levels:
// every path alike, and the last against the per-pixel weight tables.
void TitleTest::ExpectShrunkLikeTheTables(const Bitmap1& pic, double scale,
                                          const std::string& where) {
  const int w = pic.width, h = pic.height;
  layer->ClearTitles();
  CTimeTitle rec;
  rec.BmpNo = layer->AddTextBitmap(pic);
  rec.ZPos = 270 / scale - 270;
  const int simdCount = static_cast<int>(BestTitleSimd()) + 1;
  std::vector<Bitmap8> buffers;
  double z = 0;
  for (int simd = 0; simd < simdCount; ++simd) {
    layer->simd = static_cast<TitleSimd>(simd);
    layer->StartTitle(rec);
    ASSERT_NE(layer->state[rec.BmpNo], nullptr);
    z = layer->state[rec.BmpNo]->z;
    layer->AnimateTitles();
    buffers.push_back(layer->state[rec.BmpNo]->buffer);
  }
  const TitleRect r = layer->state[rec.BmpNo]->rect;
  for (int simd = 0; simd + 1 < simdCount; ++simd) {
    ASSERT_EQ(buffers[simd].pixels, buffers.back().pixels)
        << where << " simd " << simd << " against simd " << simdCount - 1;
  }

  // The stage extent s x t and the virtual source extent sw x sh the layer must have chosen.
  const double halfW = w / 2, halfH = h / 2;
  const double ws = halfW * 270 / z * 2, hs = halfH * 270 / z * 2;
  if (!(ws >= 1) || !(hs >= 1)) {
    EXPECT_TRUE(r.Empty()) << where;
    return;
  }
  int s = (static_cast<int>(std::ceil(ws)) + 1) & ~1,
      t = (static_cast<int>(std::ceil(hs)) + 1) & ~1;
  std::int64_t sw = 0, sh = 0;
  for (int i = 0; i < 21; ++i) {
    sw = static_cast<std::int64_t>(s / (ws / w));
    sh = static_cast<std::int64_t>(t / (hs / h));
    if (sw % 2 == 0 || i == 20) break;
    s += 2, t += 2;
  }
  if (sw < w || sh < h) {
    EXPECT_TRUE(r.Empty()) << where;
    return;
  }
  const int x0 = 320 - s / 2, y0 = 136 - t / 2;
  const int ox = static_cast<int>((sw - w) / 2), oy = static_cast<int>((sh - h) / 2);
  ASSERT_EQ(r.left, std::max(x0, 0)) << where;
  ASSERT_EQ(r.right, std::min(x0 + s, kStageWidth)) << where;
  ASSERT_EQ(r.top, std::max(y0, 0)) << where;
  ASSERT_EQ(r.bottom, std::min(y0 + t, kStageHeight)) << where;
  const std::int64_t bx = std::lcm(sw, std::int64_t{s}) / s, by = std::lcm(sh, std::int64_t{t}) / t;
  const std::uint64_t area = static_cast<std::uint64_t>(bx * by);
  const auto c = static_cast<std::uint32_t>(area > 0xF8000000u ? 0 : 0xF8000000u / area);
  const auto hor = AreaWeights32(static_cast<int>(sw), s, c);
  const auto ver = AreaWeights32(static_cast<int>(sh), t, 1);
  std::vector<std::uint32_t> acc(static_cast<std::size_t>((s + 1) * (t + 1)), 0);
  const auto at = [&](int j, int i) -> std::uint32_t& { return acc[j * (s + 1) + i]; };
  for (int py = 0; py < h; ++py)
    for (int px = 0; px < w / 8 * 8; ++px) {  // the row codes hold whole bytes of a row
      if (!pic.Get(px, py)) continue;
      const auto& v = ver[py + oy];
      const auto& u = hor[px + ox];
      at(v.index, u.index) += v.w0 * u.w0;
      at(v.index, u.index + 1) += v.w0 * u.w1;
      at(v.index + 1, u.index) += v.w1 * u.w0;
      at(v.index + 1, u.index + 1) += v.w1 * u.w1;
    }
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x) {
      const std::uint32_t v = at(y - y0, x - x0);
      const int got = Buf(rec.BmpNo, x, y);
      if (v > 0x07FFFFFF) {
        ASSERT_EQ(got, static_cast<int>(v >> 27)) << where << " at " << x << "," << y;
      } else {
        ASSERT_TRUE(got == 0 || got == 255) << where << " at " << x << "," << y;
      }
    }
}

// The shrinking path against the per-pixel weight tables, over seeded pictures of any shape (some
// larger than the stage, so the result is cut at its edges), ink scattered or in long runs, at
// scales from a small fraction to just below natural size.
TEST_F(TitleTest, ShrinkingMatchesThePerPixelWeightTables) {
  std::mt19937 rng(2106);
  auto below = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  for (int round = 0; round < 40; ++round) {
    // Large pictures are dense, or (one round in eight) long runs far apart, so that a run's
    // first step falls in a block of sixteen stage columns no other run of its row reaches.
    const bool sparse = round % 8 == 5;
    const bool large = round % 8 == 0 || sparse;
    const int w = sparse ? 1400 + below(600) : large ? 700 + below(900) : 1 + below(200);
    const int h = large ? 300 + below(900) : 1 + below(200);
    Bitmap1 pic;
    pic.Create(w, h);
    const int longest = round % 2 == 0 ? 3 : 60;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w;) {
        const bool on = below(sparse ? 8 : 2) == 0;
        for (int n = 1 + below(longest); n > 0 && x < w; --n, ++x) pic.Set(x, y, on);
      }
    // One round in four between a quarter and a third, where a stage column reads five picture
    // columns.
    const double unit = (rng() % 1000) / 1000.0;
    // The sparse rounds are wider than 63 blocks of the row pass.
    const double scale = round % 4 == 2 ? 0.25 + 0.08 * unit
                         : sparse       ? 0.75 + 0.24 * unit
                                        : 0.02 + 0.97 * unit;
    ExpectShrunkLikeTheTables(pic, scale, "seed 2106 round " + std::to_string(round));
    if (HasFatalFailure()) return;
  }
}

// Just above a quarter of the size sixteen stage columns read up to 66 picture columns, so a
// block's taps reach past the 64 its first window holds: ink there alone must not be taken for an
// empty block. Vertical lines far apart in the lower half (the upper half dense, so the frame
// adds whole rows) put the only ink of some blocks at the far end of their taps.
TEST_F(TitleTest, ShrinkingReadsTheWholeReachOfABlocksTaps) {
  std::mt19937 rng(2111);
  auto below = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  for (int round = 0; round < 6; ++round) {
    const int w = 1024 + 8 * below(64), h = 192 + 8 * below(16);
    Bitmap1 pic;
    pic.Create(w, h);
    for (int y = 0; y < h / 2; ++y)
      for (int x = below(3); x < w; x += 2 + below(2)) pic.Set(x, y, true);
    for (int x = below(64); x + 2 < w; x += 66 + below(6)) {
      for (int y = h / 2; y < h; ++y) pic.Set(x, y, true), pic.Set(x + 1, y, true);
    }
    const double scale = 0.2502 + 0.0035 * (rng() % 1000) / 1000.0;
    ExpectShrunkLikeTheTables(pic, scale, "seed 2111 round " + std::to_string(round));
    if (HasFatalFailure()) return;
  }
}

TEST_F(TitleTest, LargeTitlesAreClippedToTheStage) {
  const Bitmap32 white = Picture32(1024, 1024, [](int, int) { return kWhite; });
  // Scale 0.9 shrinks past the stage edges on every side.
  const int n = Start(white, 300 - 270, 0);
  layer->AnimateTitles();
  TitleRect r = layer->state[n]->rect;
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(r.right, 640);
  EXPECT_EQ(r.bottom, 272);
  for (int y : {0, 136, 271})
    for (int x : {0, 320, 639}) EXPECT_GE(Buf(n, x, y), 30) << x << "," << y;
  // Moving in: enlarged past the stage; moving back out shrinks again without stale levels.
  layer->state[n]->z = 27;
  layer->AnimateTitles();
  EXPECT_EQ(layer->state[n]->rect.right, 640);
  layer->state[n]->z = 2000;
  layer->AnimateTitles();
  r = layer->state[n]->rect;
  EXPECT_EQ(r.right - r.left, 144);  // w' = 138.24: 140 and 142 give odd source extents
  for (int y = 0; y < kStageHeight; ++y)
    for (int x = 0; x < kStageWidth; ++x) {
      if (x < r.left || x >= r.right || y < r.top || y >= r.bottom) {
        ASSERT_EQ(Buf(n, x, y), 0);
      }
    }
}

TEST_F(TitleTest, PicturesWiderThanTheAccumulatorsAreRefused) {
  Bitmap1 wide;
  wide.Create(2056, 8);
  const int n = layer->AddTextBitmap(wide);
  CTimeTitle rec;
  rec.BmpNo = n;
  layer->StartTitle(rec);
  EXPECT_EQ(layer->state[n], nullptr);
  EXPECT_EQ(layer->AnimateTitles(), 0);

  Bitmap1 widest;
  widest.Create(2048, 2048);
  for (auto& byte : widest.bits) byte = 0xFF;
  rec.BmpNo = layer->AddTextBitmap(widest);
  rec.ZPos = 0.5;  // just below natural size: the widest shrink
  layer->StartTitle(rec);
  ASSERT_NE(layer->state[rec.BmpNo], nullptr);
  layer->AnimateTitles();
  EXPECT_EQ(layer->state[rec.BmpNo]->rect.right, 640);
}

TEST_F(TitleTest, SetAndMoveChangeSpeedColourAndContrast) {
  const int n = Start(FramedSquare(), 0, 0, 3300);
  CTimeSchedule set = Schedule(n, kModeSet, 1000);
  set.Speed = 10;
  layer->SetTitle(set);
  for (int i = 0; i < 29; ++i) layer->AnimateTitles();
  EXPECT_NEAR(layer->state[n]->zStep, 29.0 / 30, 1e-12);
  layer->AnimateTitles();
  EXPECT_EQ(layer->state[n]->zStep, 1.0);

  // TIME 0 acts as one frame; colour and contrast reach their targets.
  CTimeSchedule now = Schedule(n, kModeSet, 0);
  now.Contrast = 0x400000;
  now.Color = 0x00FF0000;  // blue
  layer->SetTitle(now);
  layer->AnimateTitles();
  EXPECT_EQ(layer->state[n]->contrast, 0x400000);
  EXPECT_EQ(layer->entries[n]->colour, 0x00FF0000);
  EXPECT_EQ(layer->entries[n]->ShadeRamp[31].packed, 0x0000FFu);

  // MOVE keeps adding speed x 0.1 / n per frame.
  CTimeSchedule move = Schedule(n, kModeMove, 330);
  move.Speed = 5;
  layer->SetTitle(move);
  layer->AnimateTitles();
  layer->AnimateTitles();
  EXPECT_NEAR(layer->state[n]->zStep, 1.1, 1e-12);

  // The animation stays, so the lifetime (100 frames) runs out: 33 frames so far.
  EXPECT_EQ(layer->state[n]->lifetime, 67);
  for (int i = 0; i < 66; ++i) layer->AnimateTitles();
  ASSERT_NE(layer->state[n], nullptr);
  layer->AnimateTitles();
  EXPECT_EQ(layer->state[n], nullptr);
  EXPECT_EQ(layer->AnimateTitles(), 0);
  layer->SetTitle(set);  // not playing: nothing to change
  EXPECT_EQ(layer->animation[n], nullptr);
}

TEST_F(TitleTest, RestartReplacesTheStateAndClearEndsAll) {
  const int n = Start(FramedSquare(), 0, 10);
  for (int i = 0; i < 5; ++i) layer->AnimateTitles();
  EXPECT_DOUBLE_EQ(layer->state[n]->z, 275.0);
  CTimeTitle rec;
  rec.BmpNo = n;
  rec.ZPos = 100;
  layer->StartTitle(rec);
  EXPECT_DOUBLE_EQ(layer->state[n]->z, 370.0);
  EXPECT_EQ(layer->state[n]->zStep, 0.0);
  layer->ClearTitles();
  EXPECT_EQ(layer->count, 0);
  EXPECT_EQ(layer->state[n], nullptr);
  EXPECT_EQ(layer->AnimateTitles(), 0);
}

// The nearest-pixel copy against one bit at a time, over pictures of random widths, source
// windows at every bit offset, enlargements, reductions and the copy at natural size, with and
// without the ink picture. Half the pictures are mostly whole bytes of one bit (empty, solid
// ink, silhouette only), as title pictures are; the stage rectangles touch the stage's edges.
TEST(TitleNearestCopy, MatchesTheBitByBitCopy) {
  std::mt19937 rng(515);
  auto below = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  for (int round = 0; round < 400; ++round) {
    const int w = 1 + below(round % 10 == 0 ? kMaxTitleWidth : 150), h = 1 + below(40);
    Bitmap1 ink, sil;
    ink.Create(w, h);
    sil.Create(w, h);
    const bool blocky = round % 2 == 1;
    auto bits = [&](std::uint8_t scattered) -> std::uint8_t {
      if (!blocky || below(8) == 0) return scattered;
      return below(2) == 0 ? 0x00 : 0xFF;
    };
    for (std::uint8_t& b : ink.bits) b = bits(static_cast<std::uint8_t>(rng() & rng()));
    for (std::uint8_t& b : sil.bits) b = bits(static_cast<std::uint8_t>(rng()));
    // Blank rows, as above and below the words of a title: the silhouette's, the ink's or both.
    for (int y = 0; blocky && y < h; ++y) {
      const int blank = below(6);
      for (int x = 0; blank < 3 && x < w; ++x) {
        if (blank != 1) sil.Set(x, y, false);
        if (blank != 0) ink.Set(x, y, false);
      }
    }
    // The wide rounds may reduce up to the whole picture, as the shrinking path's silhouette does.
    const int sw = 1 + below(round % 10 == 0 ? w : std::min(w, kStageWidth));
    const int sx0 = below(w - sw + 1);
    const int sh = 1 + below(h), sy0 = below(h - sh + 1);
    const int kind = sw > kStageWidth ? 2 : below(3);  // the same size, larger, smaller
    const int dw = kind == 0   ? sw
                   : kind == 1 ? sw + below(kStageWidth - sw + 1)
                               : 1 + below(std::min(sw, kStageWidth));
    const int dh = 1 + below(kStageHeight);
    const int edge = below(3);  // 0: anywhere, 1: at the left and top, 2: at the right and bottom
    const int dx = edge == 1 ? 0 : (edge == 2 ? kStageWidth - dw : below(kStageWidth - dw + 1));
    const int dy = edge == 1 ? 0 : (edge == 2 ? kStageHeight - dh : below(kStageHeight - dh + 1));
    const bool withInk = round % 3 != 0;
    Bitmap8 got, want;
    got.Create(kStageWidth, kStageHeight, 7);
    want = got;
    // Stage pixel i takes source pixel s0 + floor(i x sn / dn).
    auto source = [](int s0, int sn, int dn, int i) {
      return s0 + static_cast<int>(static_cast<std::int64_t>(i) * sn / dn);
    };
    for (int j = 0; j < dh; ++j)
      for (int i = 0; i < dw; ++i) {
        const int sx = source(sx0, sw, dw, i), sy = source(sy0, sh, dh, j);
        std::uint8_t v = sil.Get(sx, sy) ? kTitleSilhouette : 0;
        if (withInk && ink.Get(sx, sy)) v = kTitleInk;
        want.Row(dy + j)[dx + i] = v;
      }
    // Every instruction set this processor runs copies the same.
    for (int simd = 0; simd <= static_cast<int>(BestTitleSimd()); ++simd) {
      std::fill(got.pixels.begin(), got.pixels.end(), 7);
      NearestCopy(withInk ? &ink : nullptr, sil, sx0, sw, sy0, sh, dx, dw, dy, dh, got,
                  static_cast<TitleSimd>(simd));
      ASSERT_EQ(got.pixels, want.pixels) << "seed 515 round " << round << " simd " << simd;
    }
  }
  if (BestTitleSimd() == TitleSimd::kBase) GTEST_SKIP() << "no shuffled copy on this processor";
}

// The row store of the shrinking path against the plain thresholded loop, over rows of every
// length up to the accumulator's, at every byte offset, with sums on both sides of the threshold
// and at its edges.
TEST(TitleShrunkLevels, MatchesThePlainThresholdedStore) {
  std::mt19937 rng(2104);
  constexpr std::uint32_t kEdges[] = {0,           1,           0x07FFFFFFu, 0x08000000u,
                                      0x7FFFFFFFu, 0x80000000u, 0xF8000000u, 0xFFFFFFFFu};
  std::vector<std::uint32_t> acc(kTitleAccumulatorColumns + 16);
  std::vector<std::uint8_t> got(acc.size()), want(acc.size());
  for (int round = 0; round < 400; ++round) {
    const int at = static_cast<int>(rng() % 16);
    const int n = static_cast<int>(rng() % (round % 8 == 0 ? kTitleAccumulatorColumns : 80));
    for (std::uint32_t& a : acc) {
      const std::uint32_t r = rng();
      a = r % 4 == 0 ? kEdges[r / 4 % 8] : (r % 4 == 1 ? r >> 5 : rng());
    }
    for (std::uint8_t& b : got) b = static_cast<std::uint8_t>(rng());
    want = got;
    StoreShrunkLevels(acc.data() + at, n, got.data() + at);
    for (int i = at; i < at + n; ++i)
      if (acc[i] > 0x07FFFFFFu) want[i] = static_cast<std::uint8_t>(acc[i] >> 27);
    ASSERT_EQ(got, want) << "seed 2104 round " << round;
  }
}

// The row pass of the shrinking path against the plain prefix sum, on every instruction set this
// processor runs. Each column's sum is put on a level's threshold or one unit below it, so a sum
// off by a single unit either way changes a level. In half the rounds some blocks of sixteen
// columns hold no sum or step and are not marked touched, so the pass fills them with the sum so
// far's level without reading them.
TEST(TitleShrunkLevels, RowPassSumsTheStepsExactly) {
  std::mt19937 rng(2110);
  constexpr int kColumns = kTitleAccumulatorColumns;
  std::vector<std::uint32_t> acc(kTitleShrinkRow), steps(kTitleShrinkRow);
  std::vector<std::uint8_t> before(kColumns), want(kColumns), got(kColumns);
  for (int round = 0; round < 160; ++round) {
    const int s = 1 + static_cast<int>(rng() % (round % 4 == 0 ? kColumns - 1 : 100));
    const int first = static_cast<int>(rng() % static_cast<unsigned>(s + 1));
    const int count = static_cast<int>(rng() % static_cast<unsigned>(s + 1 - first));
    for (std::uint8_t& b : before) b = rng() % 2 == 0 ? 0 : kTitleSilhouette;
    want = before;
    std::uint64_t touched[kTitleTouchedWords] = {};
    std::vector<bool> quiet(kTitleShrinkBlocks, false);
    for (int b = 0; b < kTitleShrinkBlocks; ++b) {
      quiet[b] = round % 2 == 1 && rng() % 3 != 0;
      if (!quiet[b] || rng() % 8 == 0) touched[b / 64] |= std::uint64_t{1} << (b % 64);
    }
    std::vector<std::uint32_t> sums(kTitleShrinkRow, 0), up(kTitleShrinkRow, 0);
    std::uint32_t prefix = 0;
    for (int i = 0; i <= s + 1; ++i) {
      if (!quiet[i / kTitleShrinkBlock]) up[i] = rng() % 3 == 0 ? 0 : rng();
      prefix += up[i];
      const std::uint32_t total =
          quiet[i / kTitleShrinkBlock] ? prefix : ((rng() % 32) << 27) - rng() % 2;
      if (i <= s) sums[i] = total - prefix;
      if (i >= first && i < first + count && total >> 27 != 0) want[i - first] = total >> 27;
    }
    for (int simd = 0; simd <= static_cast<int>(BestTitleSimd()); ++simd) {
      acc = sums;
      steps = up;
      got = before;
      std::uint64_t marks[kTitleTouchedWords];
      std::copy(std::begin(touched), std::end(touched), marks);
      FlushShrunkRow(acc.data(), steps.data(), s, first, count, got.data(),
                     static_cast<TitleSimd>(simd), marks);
      const std::string where =
          "seed 2110 round " + std::to_string(round) + " simd " + std::to_string(simd);
      ASSERT_EQ(got, want) << where;
      const auto zero = [](auto v) { return v == 0; };
      ASSERT_TRUE(std::all_of(acc.begin(), acc.end(), zero)) << where;
      ASSERT_TRUE(std::all_of(steps.begin(), steps.end(), zero)) << where;
      ASSERT_TRUE(std::all_of(std::begin(marks), std::end(marks), zero)) << where;
    }
  }
}
