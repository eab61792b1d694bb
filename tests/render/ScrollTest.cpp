// Scrolling-text layer: perspective rows, the incremental coverage against a direct sum over text
// ages, the settled levels of solid text, stepping, animation and drawing.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/HeadlessShow.h"
#include "app/SaverObjects.h"
#include "render/CScroll.h"
#include "render/PixelOps.h"
#include "settings/CMainCtl.h"

namespace {

// A 640-wide one-bit block; `ink(x, y)` decides each pixel.
template <typename F>
Bitmap1 Block(int height, F ink) {
  Bitmap1 b;
  b.Create(kScrollColumns, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < kScrollColumns; ++x)
      if (ink(x, y)) b.Set(x, y, true);
  return b;
}

CTimeScroll Text(int bmpNo, int speed = 0, int timeMs = 20000) {
  CTimeScroll r;
  r.BmpNo = bmpNo;
  r.Speed = speed;
  r.Time = timeMs;
  r.Color = 0x00FFFFFF;
  return r;
}

CTimeSchedule Schedule(int bmpNo, int mode, int timeMs) {
  CTimeSchedule s;
  s.Kind = 27;
  s.BmpNo = bmpNo;
  s.Mode = mode;
  s.Time = timeMs;
  return s;
}

class ScrollTest : public ::testing::Test {
 protected:
  void SetUp() override {
    layer = std::make_unique<CScroll>(&settings);
    stage.Create(kStageWidth, kStageHeight);
  }
  // Starts `block` at clock 0 with speed 0 and steps it `steps` times.
  int StartAndStep(const Bitmap1& block, int steps) {
    const int n = layer->AddTextBitmap(block);
    layer->StartScroll(Text(n), 0);
    for (int i = 0; i < steps; ++i) layer->StepScroll(i);
    return n;
  }
  std::uint16_t Coverage(int entry, int k, int x) const {
    return layer->state[entry]->coverage[layer->rows[k].offset + x];
  }

  CMainCtl settings;
  std::unique_ptr<CScroll> layer;
  StageBitmap stage;
};

// The weight a text row of age m has in stage row k (per weight unit), straight from the window.
std::uint16_t AgeWeight(const CLineDataS& row, int m) {
  if (row.isBox) return m >= row.lo && m < row.hi ? row.boxScale : 0;
  if (row.nearOffset == row.farOffset)
    return m == row.nearOffset ? static_cast<std::uint16_t>(row.scaleW - row.scaleV) : 0;
  if (m == row.nearOffset) return row.scaleU;
  if (m == row.farOffset) return row.scaleW;
  if (m > row.nearOffset && m < row.farOffset)
    return static_cast<std::uint16_t>(row.scaleU + row.scaleV);
  return 0;
}

// Where stage row k of entry n's coverage first differs from the sum over every text row of
// `block` (its ink spread over the row's pixels by the column table of weight 1, times the
// weight of its age after the step at position p), or is not 0 outside the row's span of ink.
// "" when neither.
std::string SumDifference(const CScroll& layer, int n, const Bitmap1& block, int p, int k) {
  const CLineDataS& row = layer.rows[k];
  const auto unit = AreaWeights16(640, row.width, 1);
  std::vector<std::uint16_t> expect(row.width + 1, 0);
  const int nearAge = row.isBox ? row.lo : row.nearOffset;
  const int farAge = row.isBox ? row.hi - 1 : row.farOffset;
  for (int r = std::max(1, p - farAge); r <= std::min(block.height - 1, p - nearAge); ++r) {
    const std::uint16_t w = AgeWeight(row, p - r);
    for (int x = 0; x < 640; ++x) {
      if (!block.Get(x, r)) continue;
      expect[unit[x].index] = static_cast<std::uint16_t>(expect[unit[x].index] + w * unit[x].w0);
      expect[unit[x].index + 1] =
          static_cast<std::uint16_t>(expect[unit[x].index + 1] + w * unit[x].w1);
    }
  }
  const CPtDataS& st = *layer.state[n];
  const std::uint16_t* got = st.coverage.data() + row.offset;
  const std::string at = "position " + std::to_string(p) + " row " + std::to_string(k) + " pixel ";
  for (int j = 0; j < row.width; ++j) {
    if (got[j] != expect[j]) {
      return at + std::to_string(j) + ": " + std::to_string(got[j]) + ", the sum " +
             std::to_string(expect[j]);
    }
    if (got[j] != 0 && (j < st.inkFrom[k] || j >= st.inkTo[k])) {
      return at + std::to_string(j) + " lies outside the span of ink";
    }
  }
  return "";
}

// Plays `block` until its last row has passed the top of the plane, comparing the rows in
// `watched` with the sum after every step and every row after every `every`-th step.
std::string PlayAgainstTheSum(const Bitmap1& block, int every, PixelSimd simd = BestPixelSimd()) {
  CMainCtl settings;
  CScroll layer(&settings);
  layer.simd = simd;
  const int n = layer.AddTextBitmap(block);
  CTimeScroll rec = Text(n);
  layer.StartScroll(rec, 0);
  const int steps = block.height + layer.rows[kScrollRows - 1].hi + 2;
  const int watched[] = {0, 1, 2, 30, 70, 71, 72, 73, 140, 271};
  for (int step = 0; step < steps; ++step) {
    layer.StepScroll(step);
    const int p = layer.state[n]->position - 1;  // the position the step used
    for (int k = 0; k < kScrollRows; ++k) {
      if (step % every != 0 &&
          std::find(std::begin(watched), std::end(watched), k) == std::end(watched)) {
        continue;
      }
      const std::string d = SumDifference(layer, n, block, p, k);
      if (!d.empty()) return d;
    }
  }
  for (int j = 0; j <= layer.totalPixels; ++j) {
    if (layer.state[n]->coverage[j] != 0) return "coverage left at " + std::to_string(j);
  }
  return layer.state[n]->inkTotal == 0 ? "" : "ink left after the text passed";
}

// A block of rows of many kinds: blank, sparse and dense dots, alternating pixels (the most runs
// a row can have), runs of every length up to whole rows (runs past 254 are coded split), and
// ink at the first and last columns.
Bitmap1 GeneratedBlock(std::uint32_t seed) {
  std::mt19937 rng(seed);
  const int height = 20 + static_cast<int>(rng() % 100);
  Bitmap1 b;
  b.Create(kScrollColumns, height);
  for (int y = 0; y < height; ++y) {
    const std::uint32_t kind = rng() % 7;
    const std::uint32_t density = 1 + rng() % 8;
    int x = 0;
    while (x < kScrollColumns) {
      int run = 1, gap = 1;
      if (kind == 1) run = 1, gap = 1 + static_cast<int>(rng() % 12);
      if (kind == 2) run = 1 + static_cast<int>(rng() % 6), gap = 1 + static_cast<int>(rng() % 6);
      if (kind == 3) run = 1 + static_cast<int>(rng() % 400), gap = static_cast<int>(rng() % 300);
      if (kind == 4) run = kScrollColumns;
      if (kind == 5) run = 2, gap = kScrollColumns - 4;  // the first and last two columns
      if (kind == 6) run = (rng() % density) == 0 ? 1 : 0, gap = run == 0 ? 1 : 0;
      for (int i = 0; i < run && x < kScrollColumns; ++i) b.Set(x++, y, kind != 0);
      x += gap;
    }
  }
  return b;
}

}  // namespace

TEST_F(ScrollTest, PerspectiveRowsHaveTheStatedGeometry) {
  ASSERT_TRUE(layer->Ready());
  EXPECT_EQ(layer->totalPixels, 100368);
  const auto& r0 = layer->rows[0];
  const auto& r71 = layer->rows[71];
  const auto& r271 = layer->rows[271];
  EXPECT_DOUBLE_EQ(r0.near, 0.0);
  EXPECT_NEAR(r0.far, 1.025, 0.0005);
  EXPECT_NEAR(r71.near, 93.12, 0.005);
  EXPECT_NEAR(r71.far, 94.81, 0.005);
  EXPECT_NEAR(r271.near, 1777.15, 0.005);
  EXPECT_NEAR(r271.far, 1820.11, 0.005);
  for (int k = 0; k < kScrollRows; ++k) {
    EXPECT_EQ(layer->rows[k].y, k);
    EXPECT_EQ(layer->rows[k].width, 640 - 2 * k);
    EXPECT_EQ(layer->rows[k].isBox, k >= 72) << k;
  }
  EXPECT_EQ(r271.lo, 1776);
  EXPECT_EQ(r271.hi, 1821);
  // The bottom row's two ages, and the far text's dimmed total.
  EXPECT_EQ(r0.scaleU, 61960);
  EXPECT_EQ(r0.scaleW, 1527);
  EXPECT_EQ(r271.boxScale * r271.unitsB * (r271.hi - r271.lo), 14400);
}

TEST_F(ScrollTest, ColumnTablesSpreadEachTextColumnOverTheRowExactly) {
  // Every stage pixel of a row receives the same total weight from a fully inked text row.
  for (int k : {0, 1, 37, 71, 72, 150, 271}) {
    const CLineDataS& row = layer->rows[k];
    const auto& t = row.isBox ? row.box : row.weightsU;
    const std::uint32_t scale = row.isBox ? row.boxScale : row.scaleU;
    ASSERT_EQ(t.size(), 640u);
    std::vector<std::uint32_t> sum(row.width + 1, 0);
    for (int x = 0; x < 640; ++x) {
      EXPECT_EQ(t[x].index, row.columnIndex[x]);
      sum[t[x].index] += t[x].w0;
      sum[t[x].index + 1] += t[x].w1;
    }
    EXPECT_EQ(t[639].w1, 0) << k;
    for (int j = 0; j < row.width; ++j)
      ASSERT_EQ(sum[j], (scale * row.unitsB) & 0xFFFF) << "row " << k << " pixel " << j;
  }
}

// After every step the coverage is the age-weighted sum of every text row through the column
// tables: over generated blocks (seed in the message) and the texts of the opening demo show,
// from the first step until every row has passed the top of the plane and left nothing behind.
TEST(ScrollCoverage, EqualsTheSumOverTextAgesForGeneratedBlocks) {
  for (std::uint32_t seed = 2150; seed < 2156; ++seed) {
    for (PixelSimd simd : {PixelSimd::kBase, BestPixelSimd()}) {
      ASSERT_EQ(PlayAgainstTheSum(GeneratedBlock(seed), 37, simd), "")
          << "seed " << seed << " simd " << static_cast<int>(simd);
    }
  }
}

TEST(ScrollCoverage, EqualsTheSumOverTextAgesForTheOpeningTexts) {
  HeadlessShow show;
  const std::string file = std::string(ONDRELIX_SOURCE_DIR) + "/examples/script_opening.txt";
  ASSERT_EQ(show.Open(file, 1, HeadlessOptions{}), "");
  const CScroll& layer = *show.Objects().TextLayer;
  std::int32_t now = 0;
  for (int pass = 0; pass < 5000 && layer.count < 2 && !show.Over(); ++pass) {
    show.Pass(now);
    now = show.NextDeadline(now);
  }
  ASSERT_EQ(layer.count, 2) << "the credits and the emblem";
  for (int i = 0; i < layer.count; ++i) {
    ASSERT_EQ(PlayAgainstTheSum(layer.entries[i]->bitmap, 101), "") << "text " << i;
  }
}

TEST_F(ScrollTest, FirstStepsAndTheBottomRowAges) {
  // Only text row 1 is inked: it enters at the third step with 61960, ages to 1527, then leaves.
  const int n = layer->AddTextBitmap(Block(3, [](int, int y) { return y == 1; }));
  layer->StartScroll(Text(n), 0);
  const std::uint16_t expected[] = {0, 0, 61960, 1527, 0};
  for (int step = 0; step < 5; ++step) {
    layer->StepScroll(step);
    for (int x : {0, 319, 639}) EXPECT_EQ(Coverage(n, 0, x), expected[step]) << step;
  }
  EXPECT_EQ(layer->state[n]->position, 4);
}

TEST_F(ScrollTest, SolidTextSettlesAtFadingLevels) {
  const int n = StartAndStep(Block(2000, [](int, int) { return true; }), 1900);
  const auto level = [&](int k) { return Coverage(n, k, layer->rows[k].width / 2) / 2048; };
  EXPECT_EQ(Coverage(n, 0, 0), 63487);
  for (int k = 0; k <= 73; ++k) EXPECT_EQ(level(k), 30) << k;
  EXPECT_EQ(level(150), 25);
  EXPECT_EQ(level(200), 21);
  EXPECT_EQ(Coverage(n, 271, 0), 14400);
  EXPECT_EQ(Coverage(n, 271, 97), 14400);
  EXPECT_EQ(layer->state[n]->coverage.back(), 0) << "the spare value stays untouched";
  EXPECT_NE(layer->state[n]->inkTotal, 0);

  // Drawn as a trapezoid in the ramp's levels: white over black.
  layer->DrawScrolls(stage);
  const auto grey = [](int l) { return static_cast<std::uint32_t>(255 * 8 * (l + 1) / 256); };
  const auto rgb = [](std::uint32_t v) { return (v << 16) | (v << 8) | v; };
  EXPECT_EQ(stage.Row(271)[0], rgb(grey(30)));
  EXPECT_EQ(stage.Row(271)[639], rgb(grey(30)));
  EXPECT_EQ(stage.Row(0)[271], rgb(grey(7)));
  EXPECT_EQ(stage.Row(0)[368], rgb(grey(7)));
  EXPECT_EQ(stage.Row(0)[270], 0u);
  EXPECT_EQ(stage.Row(0)[369], 0u);
  EXPECT_EQ(stage.Row(271 - 150)[320], rgb(grey(25)));
}

TEST_F(ScrollTest, TextRowZeroIsNeverDrawn) {
  const int n = StartAndStep(Block(4, [](int, int y) { return y == 0; }), 10);
  for (int k = 0; k < kScrollRows; ++k)
    for (int x = 0; x < layer->rows[k].width; ++x) ASSERT_EQ(Coverage(n, k, x), 0);
  layer->DrawScrolls(stage);
  for (std::uint32_t v : stage.pixels) ASSERT_EQ(v, 0u);
}

TEST_F(ScrollTest, StepsFollowTheIntervalAndNeverCatchUp) {
  const int n = layer->AddTextBitmap(Block(10, [](int, int) { return true; }));
  EXPECT_EQ(layer->NextStepDue(), INT32_MAX);
  layer->StartScroll(Text(n, 30), 1000);
  EXPECT_EQ(layer->NextStepDue(), 1030);
  EXPECT_EQ(layer->StepScroll(1029), 0);
  EXPECT_EQ(layer->StepScroll(1030), 1);
  EXPECT_EQ(layer->NextStepDue(), 1060);
  EXPECT_EQ(layer->StepScroll(1500), 1);  // late: one step only
  EXPECT_EQ(layer->state[n]->position, 1);
  EXPECT_EQ(layer->NextStepDue(), 1530);

  // Speed 0 steps on every call; a huge interval never overflows the clock.
  const int m = layer->AddTextBitmap(Block(10, [](int, int) { return true; }));
  layer->StartScroll(Text(m, 0), 0);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(layer->StepScroll(5), 1);
  EXPECT_EQ(layer->state[m]->position, 2);
  layer->StartScroll(Text(m, INT32_MAX), 10);
  EXPECT_EQ(layer->state[m]->nextStep, INT32_MAX);
  EXPECT_EQ(layer->state[m]->position, 2) << "a restart keeps the position";
  EXPECT_EQ(layer->activeCount, 2);
}

TEST_F(ScrollTest, SetAndMoveAnimateSpeedColourAndContrast) {
  const int n = layer->AddTextBitmap(Block(10, [](int, int) { return true; }));
  CTimeScroll rec = Text(n, 30, 3300);
  rec.Color = 0x000000;
  layer->StartScroll(rec, 0);
  CMonoGraph& g = *layer->entries[n];

  // TIME 0 acts as one frame.
  CTimeSchedule fade = Schedule(n, kModeSet, 0);
  fade.Contrast = 0;
  layer->SetScroll(fade);
  EXPECT_EQ(layer->AnimateScrolls(), 1);
  EXPECT_EQ(g.contrast, 0);
  EXPECT_EQ(layer->animation[n], nullptr);

  // Colour over three frames, in 16.16 steps; the ramp follows.
  CTimeSchedule red = Schedule(n, kModeSet, 99);
  red.Color = 0x0000FF;
  red.Speed = 90;
  layer->SetScroll(red);
  layer->AnimateScrolls();
  EXPECT_EQ(g.colour, 85);
  EXPECT_EQ(layer->state[n]->interval, 50);
  layer->AnimateScrolls();
  EXPECT_EQ(g.colour, 170);
  EXPECT_EQ(layer->state[n]->interval, 70);
  layer->AnimateScrolls();
  EXPECT_EQ(g.colour, 255);
  EXPECT_EQ(layer->state[n]->interval, 90);
  EXPECT_EQ(g.ShadeRamp[31].packed, 0xFF0000u);
  EXPECT_EQ(layer->animation[n], nullptr);

  // MOVE changes the interval by interval / n per frame until the text ends.
  CTimeSchedule move = Schedule(n, kModeMove, 330);
  move.Speed = 1;
  move.Contrast = 0x800000;  // ignored by MOVE
  layer->SetScroll(move);
  layer->AnimateScrolls();
  EXPECT_EQ(layer->state[n]->interval, 99);
  EXPECT_EQ(g.contrast, 0);
  // Lifetime counts only on animated frames: 100 - 5 so far.
  EXPECT_EQ(layer->state[n]->lifetime, 95);
  for (int i = 0; i < 94; ++i) layer->AnimateScrolls();
  ASSERT_NE(layer->state[n], nullptr);
  layer->AnimateScrolls();
  EXPECT_EQ(layer->state[n], nullptr);
  EXPECT_EQ(layer->activeCount, 0);

  // Schedules for texts that do not play, or do not exist, change nothing.
  layer->SetScroll(move);
  EXPECT_EQ(layer->animation[n], nullptr);
  layer->SetScroll(Schedule(40, kModeSet, 0));
}

TEST_F(ScrollTest, DrawingHonoursContrastAndSkipsInvisibleTexts) {
  settings.SetBackColour(0);
  const int n = StartAndStep(Block(200, [](int, int) { return true; }), 150);
  CMonoGraph& g = *layer->entries[n];

  g.contrast = 0x800000;
  stage.Fill(0x00404040);
  layer->DrawScrolls(stage);
  // Bottom row level 30 (grey 247) blended half over 64: 64 + 128 x 183 / 256 = 155.
  EXPECT_EQ(stage.Row(271)[10] & 0xFFFFFF, 0x9B9B9Bu);

  g.contrast = 0;
  stage.Fill(0x00404040);
  layer->DrawScrolls(stage);
  for (std::uint32_t v : stage.pixels) ASSERT_EQ(v, 0x00404040u);

  // Once the whole text has passed beyond the top row there is no ink left in any window.
  g.contrast = 0xFF0000;
  for (int i = 0; i < 2100; ++i) layer->StepScroll(1000 + i);
  EXPECT_EQ(layer->state[n]->inkTotal, 0);
  layer->DrawScrolls(stage);
  for (std::uint32_t v : stage.pixels) ASSERT_EQ(v, 0x00404040u);
}

// The row drawer, with every instruction set this processor runs, against the plain per-pixel
// loop, over rows of every length up to a stage row at every offset, blank blocks, full blocks
// and mixed ones, opaque and blended, with coverage on both sides of one level unit and the
// fourth byte of pixels set.
TEST(ScrollCoverageRow, MatchesThePlainPerPixelLoop) {
  std::mt19937 rng(2105);
  ShadeSlot ramp[256];
  ScrollShades shades;
  std::vector<std::uint16_t> cov(kScrollColumns + 16);
  std::vector<std::uint32_t> got(cov.size()), want(cov.size()), before(cov.size());
  constexpr std::int32_t kContrasts[] = {kFullContrast, 0x800000, 0x10000, 0xFE0000, 0x7FFFFF};
  for (int round = 0; round < 400; ++round) {
    for (ShadeSlot& s : ramp) {
      s.packed = rng() & 0x00FFFFFFu;
      s.r = static_cast<int>(s.packed >> 16), s.g = static_cast<int>(s.packed >> 8 & 0xFF);
      s.b = static_cast<int>(s.packed & 0xFF);
    }
    const std::int32_t contrast = kContrasts[round % 5];
    const int at = static_cast<int>(rng() % 16);
    const int n = static_cast<int>(rng() % (round % 4 == 0 ? kScrollColumns + 1 : 40));
    const std::uint32_t inked = rng() % 4;  // blank blocks to nearly full ones
    for (std::uint16_t& v : cov) {
      const std::uint32_t r = rng();
      v = static_cast<std::uint16_t>(r % 4 >= inked ? r % kScrollLevelUnit : r >> 16);
      if (r % 31 == 0) v = static_cast<std::uint16_t>(kScrollLevelUnit - (r >> 8) % 2);
    }
    for (std::uint32_t& p : before) p = rng();
    want = before;
    for (int i = at; i < at + n; ++i) {
      if (cov[i] < kScrollLevelUnit) continue;
      const ShadeSlot& s = ramp[cov[i] / kScrollLevelUnit];
      if (contrast == kFullContrast) {
        want[i] = s.packed;
      } else {
        ShadePixel(&want[i], s, contrast);
      }
    }
    for (int simd = 0; simd <= static_cast<int>(BestPixelSimd()); ++simd) {
      BuildScrollShades(ramp, static_cast<PixelSimd>(simd), &shades);
      got = before;
      DrawCoverageRow(cov.data() + at, n, ramp, shades, contrast, got.data() + at,
                      static_cast<PixelSimd>(simd));
      ASSERT_EQ(got, want) << "seed 2105 round " << round << " simd " << simd;
    }
  }
  if (BestPixelSimd() != PixelSimd::kAvx512) {
    GTEST_SKIP() << "the wider vector paths this processor lacks were not run";
  }
}

TEST_F(ScrollTest, ClearEndsEverythingAndDestroysEntries) {
  const int n = StartAndStep(Block(20, [](int x, int) { return x % 2; }), 5);
  layer->SetScroll(Schedule(n, kModeSet, 1000));
  layer->ClearScrolls();
  EXPECT_EQ(layer->count, 0);
  EXPECT_EQ(layer->activeCount, 0);
  EXPECT_EQ(layer->state[n], nullptr);
  EXPECT_EQ(layer->animation[n], nullptr);
  layer->StartScroll(Text(n), 0);  // no entry any more
  EXPECT_EQ(layer->state[n], nullptr);
  EXPECT_EQ(layer->StepScroll(100), 0);
}
