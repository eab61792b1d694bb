// Cost of one scroll step and one draw of the receding text on 640-pixel-wide blocks that are
// blank, half inked (4-pixel strokes) and fully inked, in the steady state with every stage
// row's window full of text; and on the opening demo show's own texts, played through whole.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "app/HeadlessShow.h"
#include "app/SaverObjects.h"
#include "render/CScroll.h"
#include "settings/CMainCtl.h"

namespace {

constexpr int kBlockRows = 2400;
constexpr int kSettleSteps = 1900;  // beyond the deepest window (age 1820)
constexpr int kRewind = 300;        // a multiple of every pattern's period

enum Ink { kBlank, kHalf, kFull };

struct Show {
  CMainCtl settings;
  CScroll layer{&settings};
  StageBitmap stage;
  int entry = -1;
  std::int32_t clock = 0;

  explicit Show(Ink ink) {
    stage.Create(kStageWidth, kStageHeight);
    Bitmap1 block;
    block.Create(kScrollColumns, kBlockRows);
    for (int y = 0; y < kBlockRows; ++y)
      for (int x = 0; x < kScrollColumns; ++x) {
        const bool on = ink == kFull || (ink == kHalf && ((x + 2 * (y % 3)) / 4) % 2 == 0);
        if (on) block.Set(x, y, true);
      }
    entry = layer.AddTextBitmap(block);
    CTimeScroll rec;
    rec.BmpNo = entry;
    rec.Speed = 0;
    rec.Color = 0xFFFFFF;
    layer.StartScroll(rec, 0);
    for (int i = 0; i < kSettleSteps; ++i) Step();
  }
  // One step; the text is rewound by whole pattern periods so the window never runs dry. The
  // block repeats, so the coverage stays what it would be.
  void Step() {
    layer.StepScroll(clock++);
    CPtDataS& st = *layer.state[entry];
    if (st.position > kBlockRows - 60) st.position -= kRewind;
  }
};

void BM_StepScroll(benchmark::State& state) {
  Show show(static_cast<Ink>(state.range(0)));
  for (auto _ : state) {
    show.Step();
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_StepScroll)->Arg(kBlank)->Arg(kHalf)->Arg(kFull)->ArgName("blank0_half1_full2");

void BM_DrawScrolls(benchmark::State& state) {
  Show show(static_cast<Ink>(state.range(0)));
  for (auto _ : state) {
    show.layer.DrawScrolls(show.stage);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_DrawScrolls)->Arg(kHalf)->Arg(kFull)->ArgName("half1_full2");

// The half-inked text drawn with each instruction set this processor runs (0 base, 1 AVX2,
// 2 AVX-512).
void BM_DrawScrollsWith(benchmark::State& state) {
  const auto simd = static_cast<PixelSimd>(state.range(0));
  if (simd > BestPixelSimd()) {
    state.SkipWithError("not on this processor");
    return;
  }
  Show show(kHalf);
  show.layer.simd = simd;
  for (auto _ : state) {
    show.layer.DrawScrolls(show.stage);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_DrawScrollsWith)->DenseRange(0, 2)->ArgName("simd");

// The text blocks of the opening demo show (the credits, then the emblem), as its script makes
// them; empty when the show cannot be loaded.
const std::vector<Bitmap1>& OpeningTexts() {
  static const std::vector<Bitmap1> texts = [] {
    std::vector<Bitmap1> out;
    HeadlessShow show;
    const std::string file = std::string(ONDRELIX_SOURCE_DIR) + "/examples/script_opening.txt";
    if (!show.Open(file, 1, HeadlessOptions{}).empty()) return out;
    const CScroll& layer = *show.Objects().TextLayer;
    std::int32_t now = 0;
    for (int pass = 0; pass < 5000 && layer.count < 2 && !show.Over(); ++pass) {
      show.Pass(now);
      now = show.NextDeadline(now);
    }
    for (int i = 0; i < layer.count; ++i) out.push_back(layer.entries[i]->bitmap);
    return out;
  }();
  return texts;
}

// One opening text played from its first step until its last row has passed the top of the
// plane, then again from the start: the average over the whole play.
struct OpeningText {
  CMainCtl settings;
  CScroll layer{&settings};
  StageBitmap stage;
  int entry = -1;
  std::int32_t clock = 0;
  std::int32_t end = 0;

  explicit OpeningText(const Bitmap1& block) {
    stage.Create(kStageWidth, kStageHeight);
    entry = layer.AddTextBitmap(block);
    CTimeScroll rec;
    rec.BmpNo = entry;
    rec.Speed = 0;
    rec.Color = 0xFFE8B0;
    layer.StartScroll(rec, 0);
    end = block.height + layer.rows[kScrollRows - 1].hi + 1;
  }
  void Step() {
    CPtDataS& st = *layer.state[entry];
    if (st.position >= end) {
      st.position = -1;
      std::fill(st.coverage.begin(), st.coverage.end(), 0);
    }
    layer.StepScroll(clock++);
  }
};

bool HaveOpeningText(benchmark::State& state) {
  if (OpeningTexts().size() > static_cast<std::size_t>(state.range(0))) return true;
  state.SkipWithError("the opening show's texts could not be made");
  return false;
}

void BM_StepOpeningText(benchmark::State& state) {
  if (!HaveOpeningText(state)) return;
  OpeningText text(OpeningTexts()[state.range(0)]);
  for (auto _ : state) {
    text.Step();
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_StepOpeningText)->Arg(0)->Arg(1)->ArgName("credits0_emblem1");

// A draw after every step of the whole play (the show draws at most once a step).
void BM_StepAndDrawOpeningText(benchmark::State& state) {
  if (!HaveOpeningText(state)) return;
  OpeningText text(OpeningTexts()[state.range(0)]);
  for (auto _ : state) {
    text.Step();
    text.layer.DrawScrolls(text.stage);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_StepAndDrawOpeningText)->Arg(0)->Arg(1)->ArgName("credits0_emblem1");

}  // namespace
