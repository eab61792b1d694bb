// One frame of reference shows played through the playback object: a tick's animation, the four
// layers composed, the screen level and the copy into the window picture of a display mode.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/CPlayback.h"
#include "app/MediaDevice.h"
#include "app/SaverObjects.h"
#include "app/WindowSurface.h"
#include "render/CBgCtl.h"
#include "render/COthBmp.h"
#include "render/CScroll.h"
#include "settings/CMainCtl.h"
#include "tools/BmpEncoder.h"

namespace {

namespace fs = std::filesystem;

const std::string& DataFolder() {
  static const std::string dir = [] {
    const fs::path d = fs::temp_directory_path() / ("ox_bench_compose_" + std::to_string(getpid()));
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
    Bitmap32 sprite;
    sprite.Create(48, 40);
    for (int y = 0; y < sprite.height; ++y)
      for (int x = 0; x < sprite.width; ++x) {
        const int d2 = (x - 24) * (x - 24) + (y - 20) * (y - 20);
        sprite.Row(y)[x] = d2 < 375 ? 0xFFC000u - d2 * 0x40u : 0xFF00FFu;
      }
    write("sprite.bmp", sprite);
    atexit([] {
      fs::remove_all(fs::temp_directory_path() / ("ox_bench_compose_" + std::to_string(getpid())));
    });
    return d.string();
  }();
  return dir;
}

// A show that never ends: everything starts at tick 0.
class ReferenceShow : public ShowEngine {
 public:
  // `spread` images (when not 0) instead of a grid of kMaxImages, far apart and standing still.
  // `across`: the background drifts across only (else diagonally).
  ReferenceShow(bool background, bool images, bool scroll, std::int32_t level, bool still = false,
                int spread = 0, bool across = false) {
    auto add = [&](std::unique_ptr<CTimeDat> e, int kind) {
      e->Kind = static_cast<std::uint8_t>(kind);
      events_.push_back(std::move(e));
    };
    add(std::make_unique<CTimeData>(), kTagData);
    if (background) {
      auto mk = std::make_unique<CTimeBgMake>();
      std::snprintf(mk->FileName, sizeof mk->FileName, "sky.bmp");
      for (int i = 0; i < kMaxPlaced; ++i) {
        std::snprintf(mk->ResName[i], sizeof mk->ResName[i], "sprite.bmp");
        mk->ResPos[i] = {(i % 8) * 120, (i / 8) * 90};
        mk->ResPalent[i] = i % 2 ? kTransLeftTop : kTransOff;
      }
      add(std::move(mk), kTagBgMake);
    }
    if (background && !still) {
      auto move = std::make_unique<CTimeBgScroll>();
      move->SpeedMode = 1;
      move->XValue = 66;
      move->XMode = 2;
      move->YValue = 33;
      move->YMode = across ? 0 : 2;
      add(std::move(move), kTagBgMove);
    }
    if (images && spread > 0) {
      for (int i = 0; i < std::min(spread, kMaxImages); ++i) {
        auto rec = std::make_unique<CTimeImage>();
        std::snprintf(rec->FileName, sizeof rec->FileName, "sprite.bmp");
        rec->BmpNo = i;
        rec->Time = 1 << 30;
        rec->Point = {-260.0 + (i % 4) * 173, -95.0 + (i / 4 % 2) * 190, kFocalDistance};
        rec->Contrast = kFullContrast;
        rec->Operation = 1;
        rec->Trans = kTransLeftTop;
        rec->Quality = 3;
        add(std::move(rec), kTagImage);
      }
    }
    if (images && spread == 0) {
      for (int i = 0; i < kMaxImages; ++i) {
        auto rec = std::make_unique<CTimeImage>();
        std::snprintf(rec->FileName, sizeof rec->FileName, "sprite.bmp");
        rec->BmpNo = i;
        rec->Time = 1 << 30;
        rec->Point = {-280.0 + (i % 8) * 80, -110.0 + (i / 8) * 32,
                      kFocalDistance + (i % 5) * 40 - 60};
        rec->Contrast = i % 4 == 0 ? kFullContrast : 0xA00000;
        rec->Operation = i % 4 == 1 ? 2 : 1;
        rec->Trans = i % 8 == 0 ? kTransLeftTop : -1;
        rec->Quality = i % 2 ? 4 : 3;
        add(std::move(rec), kTagImage);
      }
      for (int i = 0; i < kMaxImages; ++i) {
        auto turn = std::make_unique<CTimeSchedule>();
        turn->BmpNo = i;
        turn->Mode = kModeMove;
        turn->Angle = 1.0 + i * 0.05;
        add(std::move(turn), kTagScheduleI);
      }
    }
    if (scroll) {
      auto scr = std::make_unique<CTimeScroll>();
      scr->BmpNo = 0;
      scr->Speed = 33;
      add(std::move(scr), kTagScrText);
    }
    if (level != kLevelUnchanged) {
      auto screen = std::make_unique<CScreen>();
      screen->FromContrast = level;
      screen->ToContrast = level;
      screen->Time = 0;
      add(std::move(screen), kTagScreen);
    }
  }
  int PeekEventKind(int tick) override {
    return cursor_ < events_.size() && tick >= events_[cursor_]->Tick ? events_[cursor_]->Kind : 0;
  }
  CTimeDat* PopEvent() override {
    return cursor_ < events_.size() ? events_[cursor_++].get() : nullptr;
  }
  void ResetTimeline() override { cursor_ = 0; }
  int LoadNextScript() override { return 0; }
  void StartBuiltIn(const std::string&) override {}

 private:
  std::vector<std::unique_ptr<CTimeDat>> events_;
  size_t cursor_ = 0;
};

struct Rig {
  Rig(int mode, int screenW, int screenH, bool bg, bool img, bool scroll, std::int32_t level,
      bool still = false, int spread = 0, bool across = false)
      : show(bg, img, scroll, level, still, spread, across), objects(&device, [&](CMainCtl& s) {
          s.SetStorePath("/dev/null/no-store.reg");
          s.Load();
          s.SetDspMode(mode);
          s.SetCurPath(DataFolder());
          s.LoadedPath = DataFolder();
        }) {
    objects.Layout(screenW, screenH);
    if (scroll) {
      Bitmap1 text;
      text.Create(640, 2000);
      for (int y = 0; y < text.height; y += 2)
        for (int x = (y * 3) % 11; x < 640; x += 4) text.Set(x, y, true);
      objects.TextLayer->AddTextBitmap(text);
    }
    objects.Engine = &show;
    CPlayback& pb = objects.Playback();
    pb.Begin(true, false);
    pb.Pass(0);  // loads; the first tick comes 1500 ms on
    now = pb.NextDeadline(0);
    pb.Pass(now);
    for (int i = 0; i < 400; ++i) Tick();  // let the text fill the plane
  }
  void Tick() {
    CPlayback& pb = objects.Playback();
    now = pb.NextTickTime;
    pb.Pass(now);
    // Keep the growing pictures in a band so the show stays equally heavy.
    for (auto& s : objects.ImageLayer->slots)
      if (s && s->size > 1.4) s->size = 0.6;
  }

  SilentMediaDevice device;
  ReferenceShow show;
  SaverObjects objects;
  std::int32_t now = 0;
};

// A tick of the heavier show: 64 turning, scaling, blending images over a large tiled background
// with 64 placed pictures drifting diagonally, scrolling text on top, copied into window mode.
void BM_HeavierShowTick(benchmark::State& state) {
  Rig rig(kDisplayWindow, 1024, 768, true, true, state.range(0) != 0, kLevelUnchanged);
  for (auto _ : state) {
    rig.Tick();
    benchmark::DoNotOptimize(rig.objects.Window->Picture().pixels.data());
  }
}
BENCHMARK(BM_HeavierShowTick)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// A tick of a scrolling sky in the stretched mode on 1920 x 1080 (x3 across, x2.25 down): a large
// tiled background with 64 placed pictures drifting across (0) or diagonally (1), whose frame the
// display server may move; after each tick the window's moves and damage are taken as the shell
// takes them when it paints.
void BM_ScrollingSkyTick(benchmark::State& state) {
  Rig rig(kDisplayStretched, 1920, 1080, true, false, false, kLevelUnchanged, false, 0,
          state.range(0) == 0);
  WindowSurface& window = *rig.objects.Window;
  window.AllowFrameMoves(true);
  for (auto _ : state) {
    rig.Tick();
    FrameMove move;
    window.TakeFrameMove(&move);
    benchmark::DoNotOptimize(window.TakeDamageParts().count);
  }
}
BENCHMARK(BM_ScrollingSkyTick)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// A tick of a show in which nothing moves: a background with 64 placed pictures standing still.
// No layer changes, so the tick neither composes nor compares, and nothing is drawn.
void BM_StillShowTick(benchmark::State& state) {
  Rig rig(static_cast<int>(state.range(0)), 1024, 768, true, false, false, kLevelUnchanged,
          /*still=*/true);
  for (auto _ : state) {
    rig.Tick();
    benchmark::DoNotOptimize(rig.objects.Window->Picture().pixels.data());
  }
}
BENCHMARK(BM_StillShowTick)
    ->Arg(kDisplayWindow)
    ->Arg(kDisplayDoubled)
    ->Unit(benchmark::kMicrosecond);

// A tick of a show whose few sprites lie far apart, each stepping back and forth, over a still
// background: only around each sprite is the frame composed and compared.
void BM_SpreadSpritesTick(benchmark::State& state) {
  const int mode = static_cast<int>(state.range(0));
  const int sw = mode == kDisplayStretched ? 1920 : 1024;
  const int sh = mode == kDisplayStretched ? 1080 : 768;
  Rig rig(mode, sw, sh, true, true, false, kLevelUnchanged, /*still=*/true,
          static_cast<int>(state.range(1)));
  double step = 3;
  for (auto _ : state) {
    for (auto& s : rig.objects.ImageLayer->slots)
      if (s) s->position.x += step;
    step = -step;
    rig.Tick();
    benchmark::DoNotOptimize(rig.objects.Window->Picture().pixels.data());
  }
}
BENCHMARK(BM_SpreadSpritesTick)
    ->Args({kDisplayWindow, 2})
    ->Args({kDisplayWindow, 8})
    ->Args({kDisplayStretched, 8})
    ->Unit(benchmark::kMicrosecond);

// Compose and present only (the paused redraw): the layers' drawing, the level and the copy.
// The layers are marked as changed each time, so every pass composes the whole frame. The
// paused frame does not change, so by itself only the comparison with the frame shown runs
// (the third argument 1); with 0 a dot drawn into the window's frame each time makes every
// present a whole one, as in a show where everything moves.
void BM_ComposePresent(benchmark::State& state) {
  const int mode = static_cast<int>(state.range(0));
  const std::int32_t level = state.range(1) ? 0x8000 : kLevelUnchanged;
  const bool still = state.range(2) != 0;
  const int sw = mode == kDisplayStretched ? 1920 : 1024;
  const int sh = mode == kDisplayStretched ? 1080 : 768;
  Rig rig(mode, sw, sh, true, true, true, level);
  CPlayback& pb = rig.objects.Playback();
  pb.TogglePaused();
  for (auto _ : state) {
    rig.now = pb.NextTickTime;
    if (!still) {
      const RectXYWH& f = rig.objects.Geometry.FrameRect;
      rig.objects.Window->Fill(f.x + f.width / 2, f.y + f.height / 2, 1, 1, 0x00FF00);
    }
    pb.ComposeAgain();
    pb.Pass(rig.now);
    benchmark::DoNotOptimize(rig.objects.Window->Picture().pixels.data());
  }
}
BENCHMARK(BM_ComposePresent)
    ->Args({kDisplayWindow, 0, 0})
    ->Args({kDisplayWindow, 1, 0})
    ->Args({kDisplayDoubled, 0, 0})
    ->Args({kDisplayStretched, 0, 0})
    ->Args({kDisplayWindow, 0, 1})
    ->Args({kDisplayStretched, 0, 1})
    ->Unit(benchmark::kMicrosecond);

// The screen level alone on a full frame.
void BM_ScreenLevel(benchmark::State& state) {
  StageBitmap stage;
  stage.Create(kStageWidth, kStageHeight, 0x807060);
  for (auto _ : state) {
    CPlayback::ApplyScreenLevel(stage, 0xFFF0);
    benchmark::DoNotOptimize(stage.pixels.data());
  }
}
BENCHMARK(BM_ScreenLevel)->Unit(benchmark::kMicrosecond);

// The window mode's timer, drawn each pass of 33 ms and its damage taken.
void BM_WindowTimer(benchmark::State& state) {
  WindowSurface window;
  window.Resize(640, 480);
  std::int32_t ms = 0;
  for (auto _ : state) {
    window.DrawTimer(ms += 33);
    benchmark::DoNotOptimize(window.TakeDamage());
  }
}
BENCHMARK(BM_WindowTimer)->Unit(benchmark::kMicrosecond);

}  // namespace
