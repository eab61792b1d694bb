// Frame cost of the background and image layers on reference shows: a large tiled background
// with 64 placed pictures scrolling diagonally, and 64 image objects turning, scaling and
// blending at once; and both together, presented into a 640 x 480 window picture. And the caption
// layer putting up a two-line entry in each display mode.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/CCaption.h"
#include "platform/Cp932.h"
#include "render/CBgCtl.h"
#include "render/COthBmp.h"
#include "render/PixelOps.h"
#include "settings/CMainCtl.h"
#include "tools/BmpEncoder.h"

namespace {

namespace fs = std::filesystem;

// A data folder with the show's pictures, written once per process.
const std::string& DataFolder() {
  static const std::string dir = [] {
    const fs::path d = fs::temp_directory_path() / ("ox_bench_layers_" + std::to_string(getpid()));
    fs::create_directories(d);
    auto write = [&](const char* name, const Bitmap32& b) {
      std::vector<std::uint8_t> bytes;
      EncodeBmp(b, 24, &bytes);
      WriteFileBytes((d / name).c_str(), bytes);
    };
    Bitmap32 tile;
    tile.Create(1024, 768);
    for (int y = 0; y < tile.height; ++y)
      for (int x = 0; x < tile.width; ++x)
        tile.Row(y)[x] = static_cast<std::uint32_t>((x * 7) & 0xFF) << 16 | ((y * 5) & 0xFF) << 8 |
                         ((x ^ y) & 0xFF);
    write("sky.bmp", tile);
    // Round sprites on magenta, 96 x 80 and a quarter of that area.
    for (int scale : {1, 2}) {
      Bitmap32 sprite;
      sprite.Create(96 / scale, 80 / scale);
      const int cx = sprite.width / 2, cy = sprite.height / 2, r2 = 1500 / (scale * scale);
      for (int y = 0; y < sprite.height; ++y)
        for (int x = 0; x < sprite.width; ++x) {
          const int d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
          sprite.Row(y)[x] = d2 < r2 ? 0xFFC000u - d2 * scale * scale * 0x10u : 0xFF00FFu;
        }
      write(scale == 1 ? "sprite.bmp" : "small.bmp", sprite);
    }
    atexit([] {
      fs::remove_all(fs::temp_directory_path() / ("ox_bench_layers_" + std::to_string(getpid())));
    });
    return d.string();
  }();
  return dir;
}

void MakeScrollingBackground(CBgCtl& bg) {
  CTimeBgMake mk;
  std::snprintf(mk.FileName, sizeof mk.FileName, "sky.bmp");
  for (int i = 0; i < kMaxPlaced; ++i) {
    std::snprintf(mk.ResName[i], sizeof mk.ResName[i], "sprite.bmp");
    mk.ResPos[i] = {(i % 8) * 120, (i / 8) * 90};
    mk.ResPalent[i] = i % 2 ? kTransLeftTop : kTransOff;
  }
  bg.MakeBackground(mk);
  CTimeBgScroll move;
  move.SpeedMode = 1;
  move.XValue = 66;  // 2 pixels a frame
  move.XMode = 2;
  move.YValue = 33;  // 1 pixel a frame
  move.YMode = 2;
  bg.ScrollBackground(move);
}

// Sprite of argument 0: 48 x 40 pixels (about 160 000 stage pixels drawn and 200 000 turned
// per frame), 1: 96 x 80 (630 000 drawn, 820 000 turned: the stage covered 3.6 times over).
const char* SpriteOf(const benchmark::State& state) {
  return state.range(0) == 0 ? "small.bmp" : "sprite.bmp";
}

// 64 sprites spread over the stage and the depth, all turning, all growing and shrinking, most
// of them faded or painted, a few keyed.
void MakeTurningImages(COthBmp& img, const char* sprite) {
  for (int i = 0; i < kMaxImages; ++i) {
    CTimeImage rec;
    std::snprintf(rec.FileName, sizeof rec.FileName, "%s", sprite);
    rec.BmpNo = i;
    rec.Time = 1 << 30;
    rec.Point = {-280.0 + (i % 8) * 80, -110.0 + (i / 8) * 32, kFocalDistance + (i % 5) * 40 - 60};
    rec.Contrast = i % 4 == 0 ? kFullContrast : 0xA00000;
    rec.Operation = i % 4 == 1 ? 2 : 1;
    rec.Trans = i % 8 == 0 ? kTransLeftTop : -1;
    rec.Quality = i % 2 ? 4 : 3;
    rec.Size = 0.6;
    img.AddImage(rec);
    CTimeSchedule turn;
    turn.BmpNo = i;
    turn.Mode = kModeMove;
    turn.Angle = 1.0 + i * 0.05;  // radians a second
    turn.Size = 0.3;              // grows for ever; reset below when too large
    img.SetImage(turn);
  }
}

// Keeps the sizes in a band so that the benchmark measures a steady show.
void BoundSizes(COthBmp& img) {
  for (auto& s : img.slots) {
    if (s && s->size > 1.4) s->size = 0.6;
  }
}

void BM_BackgroundScroll(benchmark::State& state) {
  CMainCtl settings;
  settings.SetCurPath(DataFolder());
  CBgCtl bg(&settings);
  MakeScrollingBackground(bg);
  StageBitmap stage;
  stage.Create(kStageWidth, kStageHeight);
  for (auto _ : state) {
    bg.AnimateBackground();
    bg.DrawBackground(stage);
    benchmark::DoNotOptimize(stage.pixels.data());
  }
}
BENCHMARK(BM_BackgroundScroll)->Unit(benchmark::kMicrosecond);

void BM_ImagesTurnScaleBlend(benchmark::State& state) {
  CMainCtl settings;
  settings.SetCurPath(DataFolder());
  CBgCtl bg(&settings);
  COthBmp img(&settings, &bg);
  MakeTurningImages(img, SpriteOf(state));
  StageBitmap stage;
  stage.Create(kStageWidth, kStageHeight, 0x203040);
  for (auto _ : state) {
    img.AnimateImages();
    img.DrawImages(stage);
    BoundSizes(img);
    benchmark::DoNotOptimize(stage.pixels.data());
  }
}
BENCHMARK(BM_ImagesTurnScaleBlend)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// Both shows in one frame, then the frame copied into the window picture at rows 102 to 373.
void BM_HeavierShowFrame(benchmark::State& state) {
  CMainCtl settings;
  settings.SetCurPath(DataFolder());
  CBgCtl bg(&settings);
  // The sprites are seen from a camera of their own that stays still, so that the scrolling
  // does not carry them off the stage and the show stays equally heavy frame after frame.
  CBgCtl stillCamera(&settings);
  COthBmp img(&settings, &stillCamera);
  MakeScrollingBackground(bg);
  MakeTurningImages(img, SpriteOf(state));
  StageBitmap stage;
  stage.Create(kStageWidth, kStageHeight);
  Bitmap32 window;
  window.Create(640, 480);
  for (auto _ : state) {
    bg.AnimateBackground();
    img.AnimateImages();
    bg.DrawBackground(stage);
    img.DrawImages(stage);
    BoundSizes(img);
    CopyRect(window, 0, 102, stage, 0, 0, kStageWidth, kStageHeight);
    benchmark::DoNotOptimize(window.pixels.data());
  }
}
BENCHMARK(BM_HeavierShowFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// One caption entry put up (drawn and made ready to show) in display mode `range(0)` on a
// 1920 x 1080 screen; the bitmaps are made afresh for every entry.
void BM_CaptionEntry(benchmark::State& state) {
  CMainCtl settings;
  settings.SetCptFont(kDefaultCptFont);
  settings.SetDspMode(static_cast<int>(state.range(0)));
  CCaption caption(&settings);
  caption.SetScreenSize(1920, 1080);
  caption.PlaceCaptions(1.0, 0, 0);
  for (unsigned char c : Utf8ToCp932("The lanterns rise over the river\nそして夜が明ける－－end"))
    caption.AddCaptionChar(c);
  caption.AddCaptionChar(27);
  for (auto _ : state) {
    caption.StartCaptions(0, 1, 1000);
    while (caption.AnimateCaptions() == 0) {
    }
    benchmark::DoNotOptimize(caption.ShowBitmap().pixels.data());
  }
}
BENCHMARK(BM_CaptionEntry)->Arg(2)->Arg(3)->Arg(4)->Unit(benchmark::kMicrosecond);

}  // namespace
