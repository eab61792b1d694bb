// Cost of the stretching copies and of turning at the sizes the image layer uses: quadrants of
// 24 x 20 to 320 x 240 pixels drawn at 0.5 to 3 times their size, mirrored and clipped, and
// pictures of 48 x 40 to 320 x 240 turned; the whole frame stretched onto a full screen; and
// the comparison of a frame with the one shown. The frame passes (fill, screen level, a title's
// nearest copy) stand beside the floor of this machine's memory: memset and memcpy of one frame,
// so each figure reads as a multiple of them.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>

#include "app/CPlayback.h"
#include "app/ChangedParts.h"
#include "render/CTitle.h"
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

// The demo shows' case: one large picture (640 x 480) zooming in or out in depth with
// averaging, centred on the stage and clipped at its edges, a new size every frame. Argument:
// destination scale in percent. Items are the stage pixels written.
void BM_StretchZoom(benchmark::State& state) {
  const Bitmap32 src = Noise(640, 480);
  StageBitmap stage;
  stage.Create(kStageWidth, kStageHeight);
  const int scale = static_cast<int>(state.range(0));
  const int dw = 640 * scale / 100, dh = 480 * scale / 100;
  const int dx = kStageWidth / 2 - dw / 2, dy = kStageHeight / 2 - dh / 2;
  int step = 0;
  for (auto _ : state) {
    // One pixel more or less each frame, as in a zoom: no size is seen twice running.
    const int grow = step++ & 1;
    StretchBlt(stage, dx - grow, dy - grow, dw + 2 * grow, dh + 2 * grow, src, 0, 0, 640, 480,
               kStretchAverage);
    benchmark::DoNotOptimize(stage.pixels.data());
  }
  const std::int64_t w = std::min(dw, kStageWidth), h = std::min(dh, kStageHeight);
  state.SetItemsProcessed(state.iterations() * w * h);
}
BENCHMARK(BM_StretchZoom)
    ->Arg(20)
    ->Arg(45)
    ->Arg(80)
    ->Arg(130)
    ->Arg(250)
    ->Unit(benchmark::kMicrosecond);

// The frame onto a screen's picture: mode 2 on 1280 x 1024 (twice as wide, 580 rows high) and
// on 1920 x 1080 (three times), and mode 3's doubling of the frame's middle 512 columns on
// 1024 x 768.
void BM_StretchFrame(benchmark::State& state) {
  const int sw = static_cast<int>(state.range(0)), sh = static_cast<int>(state.range(1));
  const int dw = static_cast<int>(state.range(2)), dh = static_cast<int>(state.range(3));
  const int from = static_cast<int>(state.range(4));
  const Bitmap32 frame = Noise(kStageWidth, kStageHeight);
  Bitmap32 screen;
  screen.Create(sw, sh);
  for (auto _ : state) {
    StretchBlt(screen, (sw - dw) / 2, (sh - dh) / 2, dw, dh, frame, from, 0, kStageWidth - 2 * from,
               kStageHeight, kStretchDrop);
    benchmark::DoNotOptimize(screen.pixels.data());
  }
  state.SetItemsProcessed(state.iterations() * dw * dh);
}
BENCHMARK(BM_StretchFrame)
    ->Args({1280, 1024, 1280, 580, 0})
    ->Args({1920, 1080, 1920, 816, 0})
    ->Args({1024, 768, 1024, 544, 64})
    ->Unit(benchmark::kMicrosecond);

// Finding what changed: a frame that changed everywhere (a moving background), a few sprites
// apart, and none.
void BM_ChangedRect(benchmark::State& state) {
  const Bitmap32 before = Noise(kStageWidth, kStageHeight);
  Bitmap32 now = before;
  const int kind = static_cast<int>(state.range(0));
  if (kind == 0) {
    for (std::uint32_t& p : now.pixels) p ^= 1;
  } else if (kind == 1) {
    for (int i = 0; i < 6; ++i) FillRect(now, 40 + i * 100, 20 + i * 40, 24, 30, 0xFFFFFF);
  }
  for (auto _ : state) {
    int x, y, w, h;
    benchmark::DoNotOptimize(ChangedRect(before, now, &x, &y, &w, &h));
  }
}
BENCHMARK(BM_ChangedRect)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

// The compare of a pass that copies what changed into the frame shown: a frame that changed
// everywhere, six sprites apart compared over the whole frame, the same within their boxes (each
// reaching 8 pixels past its sprite, as layer boxes do), and none changed. The frame shown takes
// the two frames in turn, so every pass copies as much.
void BM_CopyChangedParts(benchmark::State& state) {
  const Bitmap32 before = Noise(kStageWidth, kStageHeight);
  Bitmap32 now = before;
  const int kind = static_cast<int>(state.range(0));
  BoxList areas({0, 0, kStageWidth, kStageHeight});
  if (kind == 0) {
    for (std::uint32_t& p : now.pixels) p ^= 1;
  } else if (kind == 1 || kind == 2) {
    if (kind == 2) areas = BoxList();
    for (int i = 0; i < 6; ++i) {
      const int x = 40 + i * 100, y = 20 + i * 40;
      FillRect(now, x, y, 24, 30, 0xFFFFFF);
      if (kind == 2) areas.Add({x - 8, y - 8, x + 32, y + 38});
    }
  }
  Bitmap32 shown = before;
  RectXYWH parts[kMaxChangedParts];
  bool toNow = true;
  for (auto _ : state) {
    benchmark::DoNotOptimize(CopyChangedParts(shown, 0, 0, toNow ? now : before, areas, parts));
    toNow = !toNow;
  }
}
BENCHMARK(BM_CopyChangedParts)->DenseRange(0, 3)->Unit(benchmark::kMicrosecond);

void BM_RotatePicture(benchmark::State& state) {
  const Bitmap32 p = Noise(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  double t = 0.3;
  for (auto _ : state) {
    Bitmap32 q = RotatePicture(p, t);
    benchmark::DoNotOptimize(q.pixels.data());
    t += 0.01;
  }
}
// As an image turning from frame to frame does: into the same bitmap, with each instruction set
// (0 the base, 1 AVX2, 2 AVX-512; one the processor lacks is skipped).
void BM_TurnPictureReused(benchmark::State& state) {
  const auto simd = static_cast<PixelSimd>(state.range(2));
  if (simd > BestPixelSimd()) {
    state.SkipWithError("this processor lacks the instruction set");
    return;
  }
  const Bitmap32 p = Noise(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
  Bitmap32 q;
  double t = 0.3;
  for (auto _ : state) {
    RotatePicture(p, t, &q, simd);
    benchmark::DoNotOptimize(q.pixels.data());
    t += 0.01;
  }
}
BENCHMARK(BM_TurnPictureReused)->ArgsProduct({{180}, {180}, {0, 1, 2}});

// The floor: writing one 640 x 272 frame (0.7 MB) and copying one.
void BM_FloorMemset(benchmark::State& state) {
  Bitmap32 frame = Noise(kStageWidth, kStageHeight);
  for (auto _ : state) {
    std::memset(frame.pixels.data(), 0x20, frame.pixels.size() * 4);
    benchmark::DoNotOptimize(frame.pixels.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(frame.pixels.size()) * 4);
}
BENCHMARK(BM_FloorMemset)->Unit(benchmark::kMicrosecond);

void BM_FloorMemcpy(benchmark::State& state) {
  const Bitmap32 from = Noise(kStageWidth, kStageHeight);
  Bitmap32 frame = from;
  for (auto _ : state) {
    std::memcpy(frame.pixels.data(), from.pixels.data(), frame.pixels.size() * 4);
    benchmark::DoNotOptimize(frame.pixels.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(frame.pixels.size()) * 4);
}
BENCHMARK(BM_FloorMemcpy)->Unit(benchmark::kMicrosecond);

// A SOLID colour over the stage (a background's fill).
void BM_FillStage(benchmark::State& state) {
  Bitmap32 frame = Noise(kStageWidth, kStageHeight);
  for (auto _ : state) {
    FillRect(frame, 0, 0, kStageWidth, kStageHeight, 0x204060);
    benchmark::DoNotOptimize(frame.pixels.data());
  }
}
BENCHMARK(BM_FillStage)->Unit(benchmark::kMicrosecond);

// The screen level of a fade, halfway.
void BM_ScreenLevel(benchmark::State& state) {
  Bitmap32 frame = Noise(kStageWidth, kStageHeight);
  for (auto _ : state) {
    CPlayback::ApplyScreenLevel(frame, 0xFFF0);
    benchmark::DoNotOptimize(frame.pixels.data());
  }
}
BENCHMARK(BM_ScreenLevel)->Unit(benchmark::kMicrosecond);

// The same with each instruction set this processor runs (0 SSE2, 1 AVX2, 2 AVX-512).
void BM_ScreenLevelWith(benchmark::State& state) {
  const auto simd = static_cast<PixelSimd>(state.range(0));
  if (simd > BestPixelSimd()) {
    state.SkipWithError("not on this processor");
    return;
  }
  Bitmap32 frame = Noise(kStageWidth, kStageHeight);
  for (auto _ : state) {
    ScaleColours(frame, 0xFFF0, simd);
    benchmark::DoNotOptimize(frame.pixels.data());
  }
}
BENCHMARK(BM_ScreenLevelWith)->DenseRange(0, 2)->ArgName("simd")->Unit(benchmark::kMicrosecond);

// A title at its natural size over the whole stage: the nearest copy of picture and silhouette
// into the title's level buffer (the shading onto the stage is in bench_title).
void BM_TitleNearestCopy(benchmark::State& state) {
  Bitmap1 ink, sil;
  ink.Create(kStageWidth, kStageHeight);
  sil.Create(kStageWidth, kStageHeight);
  std::uint32_t seed = 3;
  for (std::uint8_t& b : ink.bits) b = static_cast<std::uint8_t>((seed = seed * 69069u + 1) >> 24);
  for (std::uint8_t& b : sil.bits) b = static_cast<std::uint8_t>((seed = seed * 69069u + 1) >> 24);
  Bitmap8 levels;
  levels.Create(kStageWidth, kStageHeight);
  for (auto _ : state) {
    NearestCopy(&ink, sil, 0, kStageWidth, 0, kStageHeight, 0, kStageWidth, 0, kStageHeight,
                levels);
    benchmark::DoNotOptimize(levels.pixels.data());
  }
}
BENCHMARK(BM_TitleNearestCopy)->Unit(benchmark::kMicrosecond);

BENCHMARK(BM_RotatePicture)->Args({48, 40})->Args({96, 80})->Args({320, 240});

}  // namespace
