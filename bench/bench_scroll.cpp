// Cost of one scroll step and one draw of the receding text on 640-pixel-wide blocks that are
// blank, half inked (4-pixel strokes) and fully inked, in the steady state with every stage
// row's window full of text.
#include <benchmark/benchmark.h>

#include <memory>

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

}  // namespace
