// Cost of one title frame (render into the level buffer, then shade onto the stage) for a
// 512 x 512 title at scales 0.05 to 10 (the shrink adds whole rows from 0.25 up, with a third
// pair of taps below 0.5): rings of
// 8-pixel strokes, and solid ink.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>

#include "render/CTitle.h"
#include "settings/CMainCtl.h"

namespace {

struct Show {
  CMainCtl settings;
  CTitle layer{&settings};
  StageBitmap stage;
  int entry = -1;

  Show(bool solid, double scale) {
    stage.Create(kStageWidth, kStageHeight);
    Bitmap1 pic;
    pic.Create(512, 512);
    for (int y = 0; y < 512; ++y)
      for (int x = 0; x < 512; ++x) {
        const int d2 = (x - 256) * (x - 256) + (y - 256) * (y - 256);
        const bool on = solid || (d2 < 250 * 250 && (d2 / 2048) % 2 == 0);
        if (on) pic.Set(x, y, true);
      }
    entry = layer.AddTextBitmap(pic);
    CTimeTitle rec;
    rec.BmpNo = entry;
    rec.ZPos = 270 / scale - 270;
    layer.StartTitle(rec);
    layer.state[entry]->silhouette = pic;
  }
};

void BM_TitleFrame(benchmark::State& state) {
  const double scale = static_cast<double>(state.range(1)) / 100;
  Show show(state.range(0) != 0, scale);
  for (auto _ : state) {
    show.layer.AnimateTitles();
    show.layer.DrawTitles(show.stage);
    benchmark::ClobberMemory();
  }
  state.SetLabel(state.range(0) ? "solid" : "rings");
}
BENCHMARK(BM_TitleFrame)
    ->ArgsProduct({{0, 1}, {5, 25, 50, 60, 70, 80, 90, 99, 100, 200, 1000}})
    ->ArgNames({"solid", "scale_pct"});

// The ringed title with each instruction set this processor runs (0 SSE2, 1 SSSE3, 2 AVX2,
// 3 AVX-512), as processors without the wider ones draw it.
void BM_TitleFrameWith(benchmark::State& state) {
  if (state.range(1) > static_cast<int>(BestTitleSimd())) {
    state.SkipWithError("this processor lacks the instruction set");
    return;
  }
  Show show(false, static_cast<double>(state.range(0)) / 100);
  show.layer.simd = static_cast<TitleSimd>(state.range(1));
  for (auto _ : state) {
    show.layer.AnimateTitles();
    show.layer.DrawTitles(show.stage);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_TitleFrameWith)
    ->ArgsProduct({{5, 50, 80, 200, 1000}, {0, 1, 2, 3}})
    ->ArgNames({"scale_pct", "simd"});

// The title tick of the titles show's first word (its picture from the demo folder), flying in
// from 0.15 of its size to 0.93 in 48 frames as the show's does: with `held` 1 its scale changes
// every frame; with 8 it keeps each scale for eight frames (a title that hangs still, mostly).
void BM_TitleFlight(benchmark::State& state) {
  CMainCtl settings;
  settings.SetCurPath(CMainCtl::DefaultDataFolder());
  CTitle layer{&settings};
  std::string name = "titles\\ondrelix.bmp";
  CTimeTitle rec;
  rec.BmpNo = layer.LoadTextBitmap(name, kKindTitle);
  std::strncpy(rec.FileName, name.c_str(), sizeof rec.FileName - 1);
  if (rec.BmpNo < 0 || name.empty()) {
    state.SkipWithError("the demo folder's title picture is missing");
    return;
  }
  layer.StartTitle(rec);
  constexpr int kFrames = 48;
  const int held = static_cast<int>(state.range(0));
  int frame = 0;
  for (auto _ : state) {
    const int step = frame++ / held % kFrames;
    layer.state[rec.BmpNo]->z = 1770 - step * (1770 - 290) / (kFrames - 1);
    layer.AnimateTitles();
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_TitleFlight)->Arg(1)->Arg(8)->ArgName("held");

}  // namespace
