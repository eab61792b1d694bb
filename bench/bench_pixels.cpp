// Cost of the stretching copies and of turning at the sizes the image layer uses: quadrants of
// 24 x 20 to 320 x 240 pixels drawn at 0.5 to 3 times their size, mirrored and clipped, and
// pictures of 48 x 40 to 320 x 240 turned.
#include <benchmark/benchmark.h>

#include "render/PixelOps.h"

namespace {

Bitmap32 Noise(int w, int h) {
  Bitmap32 b;
  b.Create(w, h);
  std::uint32_t seed = 7;
  for (std::uint32_t& p : b.pixels) p = (seed = seed * 1103515245u + 12345u) >> 8 & 0xFFFFFF;
  return b;
}

// Arguments: mode, quadrant width, height, destination scale in percent, variant (0 plain,
// 1 mirrored source, 2 clipped at the stage's top-left corner).
void BM_Stretch(benchmark::State& state) {
  const int mode = static_cast<int>(state.range(0));
  const int sw = static_cast<int>(state.range(1)), sh = static_cast<int>(state.range(2));
  const int dw = sw * static_cast<int>(state.range(3)) / 100;
  const int dh = sh * static_cast<int>(state.range(3)) / 100;
  const int variant = static_cast<int>(state.range(4));
  const Bitmap32 src = Noise(sw * 2, sh * 2);
  StageBitmap stage;
  stage.Create(kStageWidth, kStageHeight);
  const int dx = variant == 2 ? -dw / 3 : 10, dy = variant == 2 ? -dh / 3 : 10;
  for (auto _ : state) {
    if (variant == 1) {
      StretchBlt(stage, dx, dy, dw, dh, src, sw + sw, sh, -sw, sh, mode);
    } else {
      StretchBlt(stage, dx, dy, dw, dh, src, sw, sh, sw, sh, mode);
    }
    benchmark::DoNotOptimize(stage.pixels.data());
  }
  state.SetItemsProcessed(state.iterations() * dw * dh);
}

void StretchArgs(benchmark::internal::Benchmark* b) {
  for (int mode : {kStretchDrop, kStretchAverage}) {
    for (auto [w, h] :
         {std::pair{24, 20}, std::pair{48, 40}, std::pair{160, 120}, std::pair{320, 240}}) {
      for (int scale : {50, 60, 140, 300}) {
        if (w * scale / 100 > 2 * kStageWidth) continue;
        b->Args({mode, w, h, scale, 0});
      }
      b->Args({mode, w, h, 140, 1});
      b->Args({mode, w, h, 140, 2});
    }
  }
}
BENCHMARK(BM_Stretch)->Apply(StretchArgs)->Unit(benchmark::kMicrosecond);

void BM_RotatePicture(benchmark::State& state) {
  const Bitmap32 p = Noise(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  double t = 0.3;
  for (auto _ : state) {
    Bitmap32 q = RotatePicture(p, t);
    benchmark::DoNotOptimize(q.pixels.data());
    t += 0.01;
  }
}
BENCHMARK(BM_RotatePicture)->Args({48, 40})->Args({96, 80})->Args({320, 240});

}  // namespace
