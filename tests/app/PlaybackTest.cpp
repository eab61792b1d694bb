// The playback state machine on a fake clock and a fake script engine: the cycle of items, the
// waits, tick timing, pause, Return to Top, failures, the screen level and the speed warning.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/CMPlayer.h"
#include "app/CPlayback.h"
#include "app/IntervalList.h"
#include "app/WindowSurface.h"
#include "render/CBgCtl.h"
#include "render/CScroll.h"
#include "render/PixelOps.h"
#include "settings/CMainCtl.h"
#include "tests/app/FakeMedia.h"

namespace {

// A timeline built by the test. Scripts and built-in items are lists of events.
class FakeEngine : public ShowEngine {
 public:
  using Script = std::vector<std::shared_ptr<CTimeDat>>;

  int PeekEventKind(int tick) override {
    if (cursor >= static_cast<int>(timeline.size())) return 0;
    return tick >= timeline[cursor]->Tick ? timeline[cursor]->Kind : 0;
  }
  CTimeDat* PopEvent() override {
    if (cursor >= static_cast<int>(timeline.size())) return nullptr;
    if (throwOnPop) throw std::runtime_error("layer failure");
    return timeline[cursor++].get();
  }
  void ResetTimeline() override {
    timeline.clear();
    cursor = 0;
    resets += 1;
  }
  int LoadNextScript() override {
    loads += 1;
    if (failLoad) return -1;
    timeline = script;
    cursor = 0;
    return 0;
  }
  void StartBuiltIn(const std::string& item) override {
    items.push_back(item);
    timeline = builtIn;
    cursor = 0;
  }

  Script script;
  Script builtIn;
  Script timeline;
  int cursor = 0;
  int resets = 0;
  int loads = 0;
  bool failLoad = false;
  bool throwOnPop = false;
  std::vector<std::string> items;
};

template <typename T>
std::shared_ptr<CTimeDat> Ev(int kind, int tick, T* out = nullptr) {
  auto e = std::make_shared<T>();
  e->Kind = static_cast<std::uint8_t>(kind);
  e->Tick = tick;
  if (out) *out = *e;
  return e;
}
std::shared_ptr<CTimeDat> End(int tick) {
  return Ev<CTimeEnd>(kTagDataEnd, tick);
}
std::shared_ptr<CTimeDat> Data() {
  return Ev<CTimeData>(kTagData, 0);
}
std::shared_ptr<CTimeDat> Solid(int tick, std::int32_t bgr) {
  auto e = std::make_shared<CTimeSolid>();
  e->Kind = kTagSolid;
  e->Tick = tick;
  e->Color = bgr;
  return e;
}
std::shared_ptr<CTimeDat> Screen(int tick, std::int32_t from, std::int32_t to, int time) {
  auto e = std::make_shared<CScreen>();
  e->Kind = kTagScreen;
  e->Tick = tick;
  e->FromContrast = from;
  e->ToContrast = to;
  e->Time = time;
  return e;
}

struct PlaybackFixture : ::testing::Test {
  PlaybackFixture() {
    settings.SetFlgLogo(true);
    settings.SetCurPath("/data");
    settings.LoadedPath = "/data";
    window.Resize(640, 519);
    stage.Create(kStageWidth, kStageHeight, 0);
    warning.Create(2, 2, 0xFFFFFF);
    engine.script = {Data(), End(2)};
    engine.builtIn = {Data(), End(3)};
  }

  CPlayback& Make(bool noLogo = false) {
    PlaybackParts p;
    p.settings = &settings;
    p.engine = &engine;
    p.background = &bg;
    p.player = &player;
    p.intervals = &intervals;
    p.window = &window;
    p.stage = &stage;
    p.warning = &warning;
    p.geometry = ComputeDisplayGeometry(kDisplayWindow, 640, 519, 640, 519, 2, 2);
    pb = std::make_unique<CPlayback>(p);
    pb->Begin(noLogo, false);
    return *pb;
  }

  // One pass at `t`, recording each state change as (time, state).
  void PassAt(std::int32_t t) {
    const int before = pb->PlayState;
    now = t;
    pb->Pass(t);
    if (pb->PlayState != before) trace.push_back({t, pb->PlayState});
  }
  // Passes at every deadline up to `until`.
  void RunUntil(std::int32_t until) {
    for (std::int32_t t = pb->NextDeadline(now); t <= until; t = pb->NextDeadline(now)) PassAt(t);
  }
  // Passes until the state is `state`; the time it was entered, or -1.
  std::int32_t RunToState(int state, std::int32_t limit = 100000) {
    while (now < limit) {
      PassAt(pb->NextDeadline(now));
      if (pb->PlayState == state) return now;
    }
    return -1;
  }
  std::vector<int> States() const {
    std::vector<int> s;
    for (auto& t : trace) s.push_back(t.second);
    return s;
  }
  std::uint32_t WindowPixel(int x, int y) { return window.Picture().Row(y)[x]; }

  CMainCtl settings;
  CBgCtl bg{&settings};
  FakeEngine engine;
  FakeMediaDevice device;
  CMPlayer player{&settings, &device};
  IntervalList intervals;
  WindowSurface window;
  StageBitmap stage;
  Bitmap32 warning;
  std::unique_ptr<CPlayback> pb;
  std::int32_t now = 0;
  std::vector<std::pair<std::int32_t, int>> trace;
};

// Boxes added one by one, some empty, overlapping or past the capacity: the list never holds
// more than it may, its boxes never overlap (a level applied in each box reaches each pixel
// once), every pixel of every box added lies in one, and boxes far apart stay apart.
TEST(BoxList, HoldsEveryBoxAddedInBoxesThatDoNotOverlap) {
  std::mt19937 rng(2107);
  auto below = [&rng](int n) { return static_cast<int>(rng() % static_cast<std::uint32_t>(n)); };
  constexpr int kW = kStageWidth, kH = kStageHeight;
  for (int round = 0; round < 100; ++round) {
    BoxList list;
    std::vector<int> added(kW * kH, 0);
    for (int k = below(3 * kMaxBoxes); k >= 0; --k) {
      const int l = below(kW), t = below(kH);
      const int w = below(std::min(round % 2 ? 24 : 90, kW - l + 1));
      const RectLTRB r{l, t, l + w, t + below(std::min(round % 2 ? 16 : 60, kH - t + 1))};
      list.Add(r);
      for (int y = r.top; y < r.bottom; ++y)
        for (int x = r.left; x < r.right; ++x) added[y * kW + x] = 1;
    }
    ASSERT_LE(list.Count(), kMaxBoxes) << "seed 2107 round " << round;
    std::vector<int> covered(kW * kH, 0);
    for (const RectLTRB& b : list) {
      ASSERT_FALSE(EmptyRect(b)) << "seed 2107 round " << round;
      for (int y = b.top; y < b.bottom; ++y)
        for (int x = b.left; x < b.right; ++x) covered[y * kW + x] += 1;
    }
    std::int64_t pixels = 0;
    for (int i = 0; i < kW * kH; ++i) {
      ASSERT_LE(covered[i], 1) << "boxes overlap at " << i % kW << "," << i / kW
                               << ", seed 2107 round " << round;
      ASSERT_GE(covered[i], added[i]) << "a pixel added is in no box at " << i % kW << "," << i / kW
                                      << ", seed 2107 round " << round;
      pixels += covered[i];
    }
    ASSERT_EQ(list.Pixels(), pixels) << "seed 2107 round " << round;
  }
  // Sprites far apart keep boxes of their own; close ones, and overlapping ones, are joined.
  BoxList far;
  far.Add({0, 0, 30, 20});
  far.Add({600, 250, 630, 270});
  far.Add({5, 5, 40, 30});
  EXPECT_EQ(far.Count(), 2);
  far.Add({40, 0, 45, 30});  // touches the joined box: adds nothing
  EXPECT_EQ(far.Count(), 2);
  EXPECT_EQ(far.Pixels(), 45 * 30 + 30 * 20);
}

// The spans of a box are exactly its pixels that lie in a covering rectangle and in no hole, each
// given once (against a plain per-pixel count over generated rectangles).
TEST(ForEachSpan, GivesEachPixelOfTheCoverOutsideTheHolesOnce) {
  constexpr std::uint32_t kSeed = 2108;
  std::mt19937 rng(kSeed);
  auto below = [&rng](int n) { return static_cast<int>(rng() % static_cast<std::uint32_t>(n)); };
  constexpr int kW = 96, kH = 64;
  auto rect = [&] {
    const int l = below(kW + 8) - 4, t = below(kH + 8) - 4;
    return RectLTRB{l, t, l + below(40), t + below(30)};
  };
  for (int round = 0; round < 300; ++round) {
    RectLTRB cover[kMaxSpanRects], holes[kMaxSpanRects];
    const int nc = below(2 * kMaxBoxes), nh = below(round % 3 ? 8 : kMaxSpanRects);
    for (int i = 0; i < nc; ++i) cover[i] = rect();
    for (int i = 0; i < nh; ++i) holes[i] = rect();
    const int bl = below(kW), bt = below(kH);
    const RectLTRB box{bl, bt, bl + below(kW - bl + 1), bt + below(kH - bt + 1)};
    std::vector<int> want(kW * kH, 0), got(kW * kH, 0);
    const auto in = [](const RectLTRB& r, int x, int y) {
      return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
    };
    for (int y = 0; y < kH; ++y) {
      for (int x = 0; x < kW; ++x) {
        if (!in(box, x, y)) continue;
        const bool covered = std::any_of(cover, cover + nc, [&](auto& r) { return in(r, x, y); });
        const bool hole = std::any_of(holes, holes + nh, [&](auto& r) { return in(r, x, y); });
        want[y * kW + x] = covered && !hole;
      }
    }
    bool outside = false;
    ForEachSpan(box, cover, nc, holes, nh, [&](const RectLTRB& s) {
      outside = outside || EmptyRect(s) || s.left < 0 || s.top < 0 || s.right > kW || s.bottom > kH;
      for (int y = std::max(s.top, 0); y < std::min(s.bottom, kH); ++y)
        for (int x = std::max(s.left, 0); x < std::min(s.right, kW); ++x) got[y * kW + x] += 1;
    });
    ASSERT_FALSE(outside) << "an empty span or one past the box, seed " << kSeed << " round "
                          << round;
    ASSERT_EQ(got, want) << "seed " << kSeed << " round " << round;
  }
}

// The parts of a changed frame hold every changed pixel; sprites in bands far apart get parts
// of their own, and a frame that changed everywhere is one part.
TEST(ChangedParts, HoldEveryChangeAndLeaveDistantSpritesApart) {
  StageBitmap a, b;
  a.Create(kStageWidth, kStageHeight, 0x101010);
  b = a;
  RectXYWH parts[kMaxChangedParts];
  EXPECT_EQ(ChangedParts(a, b, parts), 0);
  FillRect(b, 20, 10, 30, 20, 0xFF);    // rows 10..29
  FillRect(b, 500, 200, 40, 30, 0xFF);  // rows 200..229
  ASSERT_EQ(ChangedParts(a, b, parts), 2);
  EXPECT_EQ(parts[0], (RectXYWH{20, 10, 30, 20}));
  EXPECT_EQ(parts[1], (RectXYWH{500, 200, 40, 30}));
  // Far apart in one band of rows, exactly to the pixel (a block of columns is split at its
  // changed pixels, not at its edges); joined where the gap costs less than a part more.
  b = a;
  FillRect(b, 37, 3, 5, 4, 0xFF);
  FillRect(b, 301, 9, 7, 3, 0xFF);
  FillRect(b, 613, 1, 3, 2, 0xFF);
  ASSERT_EQ(ChangedParts(a, b, parts, /*joinPixels=*/0), 3);
  EXPECT_EQ(parts[0], (RectXYWH{37, 3, 5, 4}));
  EXPECT_EQ(parts[1], (RectXYWH{301, 9, 7, 3}));
  EXPECT_EQ(parts[2], (RectXYWH{613, 1, 3, 2}));
  EXPECT_EQ(ChangedParts(a, b, parts, /*joinPixels=*/1 << 20), 1);
  FillRect(b, 0, 0, kStageWidth, kStageHeight, 0x202020);
  ASSERT_EQ(ChangedParts(a, b, parts), 1);
  EXPECT_EQ(parts[0], (RectXYWH{0, 0, kStageWidth, kStageHeight}));
  // A frame too wide to split by columns: one part around the changes of a band.
  Bitmap32 wide, wider;
  wide.Create(kMaxChangeColumns + 8, 3, 0);
  wider = wide;
  wider.Row(1)[2] = wider.Row(2)[kMaxChangeColumns + 5] = 1;
  ASSERT_EQ(ChangedParts(wide, wider, parts), 1);
  EXPECT_EQ(parts[0], (RectXYWH{2, 1, kMaxChangeColumns + 4, 2}));
  // There the rows' first and last changes bound the part alone, not blocks of columns.
  for (PixelSimd simd : {PixelSimd::kBase, BestPixelSimd()}) {
    Bitmap32 copied = wide;
    ASSERT_EQ(CopyChangedParts(copied, 0, 0, wider, parts, kPartCostPixels, simd), 1);
    EXPECT_EQ(parts[0], (RectXYWH{2, 1, kMaxChangeColumns + 4, 2}));
    EXPECT_EQ(copied.pixels, wider.pixels);
  }

  // Scattered dots, more bands than parts: every dot lies in a part.
  std::uint32_t seed = 5;
  for (int round = 0; round < 50; ++round) {
    StageBitmap c = a;
    std::vector<std::pair<int, int>> dots;
    for (int k = 0; k < 1 + round % 30; ++k) {
      seed = seed * 1103515245u + 12345u;
      const int x = static_cast<int>(seed >> 8) % kStageWidth;
      const int y = static_cast<int>(seed >> 20) % kStageHeight;
      c.Row(y)[x] ^= 1;
      dots.push_back({x, y});
    }
    const int n = ChangedParts(a, c, parts);
    ASSERT_GE(n, 1);
    ASSERT_LE(n, kMaxChangedParts);
    for (auto [x, y] : dots) {
      bool inside = false;
      for (int i = 0; i < n; ++i) {
        const RectXYWH& p = parts[i];
        inside = inside || (x >= p.x && x < p.x + p.width && y >= p.y && y < p.y + p.height);
      }
      ASSERT_TRUE(inside) << round << ": " << x << "," << y;
    }
  }
}

// The compare that copies as it goes against the plain compare followed by a copy of each part:
// the same parts and the same pixels, for frames inside a larger picture at any offset, with
// sprites, scattered dots, whole changed rows and changes at the rows' ends. A part that misses a
// changed pixel leaves the compared frame different from the copied one. Comparing only within
// boxes that hold every change finds the same parts and copies the same pixels.
TEST(ChangedParts, CopyingWhileComparingMatchesComparingThenCopying) {
  std::mt19937 rng(2106);
  auto below = [&rng](int n) { return static_cast<int>(rng() % static_cast<std::uint32_t>(n)); };
  for (int round = 0; round < 120; ++round) {
    StageBitmap now;
    now.Create(1 + below(kStageWidth), 1 + below(kStageHeight));
    for (std::uint32_t& p : now.pixels) p = rng() % 4;  // runs of equal pixels
    Bitmap32 before;
    before.Create(now.width + below(40), now.height + below(30));
    for (std::uint32_t& p : before.pixels) p = rng() % 4;
    const int x = below(before.width - now.width + 1), y = below(before.height - now.height + 1);
    CopyRect(before, x, y, now, 0, 0, now.width, now.height);
    for (int k = below(12); k > 0; --k) {
      const int w = 1 + below(now.width), h = 1 + below(std::min(now.height, 40));
      const int kind = below(4);
      if (kind == 0) FillRect(now, below(now.width), below(now.height), w, h, rng());
      if (kind == 3) FillRect(now, below(now.width), below(now.height), 1 + w % 24, h, rng());
      if (kind == 1) now.Row(below(now.height))[below(now.width)] ^= 1u << below(32);
      if (kind == 2) now.Row(below(now.height))[below(2) ? 0 : now.width - 1] += 1;
    }
    RectXYWH want[kMaxChangedParts], got[kMaxChangedParts];
    Bitmap32 plain = before;
    const int n = ChangedParts(before, x, y, now, want);
    // Boxes holding every change, each reaching past its part (and past the frame) by a few
    // pixels, among small boxes anywhere and just below parts (boxes side by side, beginning
    // within a band another box spans).
    BoxList areas;
    for (int k = below(12); k > 0; --k) {
      const RectXYWH& w = want[below(std::max(n, 1))];
      const int l = n > 0 && k % 2 ? w.x + below(w.width) : below(now.width);
      const int t = n > 0 && k % 2 ? w.y + w.height + below(8) : below(now.height);
      areas.Add({l, t, l + 1 + below(12), t + 1 + below(12)});
    }
    for (int i = 0; i < n; ++i) {
      CopyRect(plain, x + want[i].x, y + want[i].y, now, want[i].x, want[i].y, want[i].width,
               want[i].height);
      const RectXYWH& w = want[i];
      areas.Add({w.x - below(20), w.y - below(20), w.x + w.width + below(20),
                 w.y + w.height + below(20)});
    }
    // Every vector path this processor runs.
    for (PixelSimd simd : {PixelSimd::kBase, BestPixelSimd()}) {
      const std::string at = "seed 2106 round " + std::to_string(round) + " simd " +
                             std::to_string(static_cast<int>(simd));
      Bitmap32 within = before;
      ASSERT_EQ(CopyChangedParts(within, x, y, now, areas, got, kPartCostPixels, simd), n) << at;
      for (int i = 0; i < n; ++i) ASSERT_EQ(got[i], want[i]) << at;
      ASSERT_EQ(within.pixels, plain.pixels) << "within an area, " << at;
      Bitmap32 whole = before;
      ASSERT_EQ(CopyChangedParts(whole, x, y, now, got, kPartCostPixels, simd), n) << at;
      for (int i = 0; i < n; ++i) ASSERT_EQ(got[i], want[i]) << at;
      ASSERT_EQ(whole.pixels, plain.pixels) << at;
    }
  }
}

TEST_F(PlaybackFixture, FullCycleWithTheLogo) {
  Make();
  ASSERT_EQ(pb->PlayState, kStartIntro);
  PassAt(0);  // chooses the logo and waits 2000 ms
  EXPECT_EQ(engine.items, (std::vector<std::string>{"0"}));
  EXPECT_EQ(RunToState(kIntroPlaying), 2000);
  EXPECT_EQ(RunToState(kIntroEnded), 2000 + 1000 + 3 * kTickMs);  // built-in ticks are 33 ms
  EXPECT_EQ(RunToState(kScriptPlaying), 2000 + 1099 + 1 + 1 + 2000);
  const std::int32_t playing = now;
  EXPECT_EQ(pb->ScriptStartTime, playing);
  EXPECT_EQ(RunToState(kScriptEnded), playing + 1000 + 2 * 33);
  RunToState(kStartIntro);
  EXPECT_EQ(States(), (std::vector<int>{kWaiting, kIntroPlaying, kIntroEnded, kLoadScript, kWaiting,
                                        kScriptPlaying, kScriptEnded, kWaiting, kStartIntro}));
  EXPECT_EQ(trace.back().first - trace[trace.size() - 2].first, 2000);
  EXPECT_GT(pb->PassCount, 0);
}

TEST_F(PlaybackFixture, CycleWithoutTheLogoWaits500AndNeverShowsBuiltIns) {
  intervals.Add("/Interval/a.bmp");
  intervals.Rewind();
  Make(/*noLogo=*/true);
  ASSERT_EQ(pb->PlayState, kLoadScript);
  PassAt(0);
  EXPECT_EQ(RunToState(kScriptPlaying), 500);
  EXPECT_EQ(RunToState(kScriptEnded), 500 + 1000 + 66);
  EXPECT_EQ(RunToState(kLoadScript), 500 + 1066 + 1 + 500);
  RunToState(kScriptEnded);
  EXPECT_TRUE(engine.items.empty());
  EXPECT_EQ(engine.loads, 2);
}

TEST_F(PlaybackFixture, TicksComeOneSecondAfterTheWaitThenEveryFrameInterval) {
  engine.script = {Data(), End(1000)};
  Make(true);
  RunToState(kScriptPlaying);
  const std::int32_t start = now;
  std::vector<std::int32_t> tickTimes;
  while (tickTimes.size() < 4) {
    const int t = pb->TickNo;
    PassAt(pb->NextDeadline(now));
    if (pb->TickNo != t) tickTimes.push_back(now - start);
  }
  EXPECT_EQ(tickTimes, (std::vector<std::int32_t>{1000, 1033, 1066, 1099}));

  pb->SetFrameInterval(1000);
  PassAt(pb->NextDeadline(now));  // the tick already scheduled 33 ms on
  const int t = pb->TickNo;
  const std::int32_t at = now;
  RunUntil(at + 999);
  EXPECT_EQ(pb->TickNo, t);
  PassAt(at + 1000);
  EXPECT_EQ(pb->TickNo, t + 1);

  pb->SetFrameInterval(0);
  PassAt(pb->NextDeadline(now));
  const int t0 = pb->TickNo;
  for (int i = 1; i <= 5; ++i) PassAt(now + 1);
  EXPECT_EQ(pb->TickNo, t0 + 5);  // a tick on every pass

  pb->SetFrameInterval(5000);
  EXPECT_EQ(pb->FrameInterval, kMaxFrameInterval);
  pb->SetFrameInterval(-3);
  EXPECT_EQ(pb->FrameInterval, 0);
}

TEST_F(PlaybackFixture, BuiltInItemsKeep33MsTicksWhateverTheFrameInterval) {
  Make();
  pb->SetFrameInterval(1000);
  PassAt(0);
  RunToState(kIntroPlaying);
  EXPECT_EQ(RunToState(kIntroEnded), 2000 + 1000 + 99);
}

TEST_F(PlaybackFixture, PauseStopsTheTimelineAndRedrawsEvery165Ms) {
  engine.script = {Data(), Solid(0, 0x0000FF), End(100)};
  Make(true);
  RunToState(kScriptPlaying);
  RunUntil(now + 1000 + 5 * 33);
  const int ticks = pb->TickNo;
  ASSERT_GT(ticks, 0);
  EXPECT_EQ(WindowPixel(0, 102), 0xFF0000u);
  pb->TogglePaused();
  window.Fill(0, 102, 640, 272, 0x123456);  // anything a redraw must paint over
  std::vector<std::int32_t> redraws;
  const std::int32_t from = now;
  while (now < from + 600) {
    PassAt(pb->NextDeadline(now));
    if (WindowPixel(0, 102) == 0xFF0000u) {
      redraws.push_back(now - from);
      window.Fill(0, 102, 640, 272, 0x123456);
    }
  }
  EXPECT_EQ(pb->TickNo, ticks);
  ASSERT_GE(redraws.size(), 3u);
  EXPECT_EQ(redraws[1] - redraws[0], kPausedRedrawMs);
  EXPECT_EQ(redraws[2] - redraws[1], kPausedRedrawMs);
  pb->TogglePaused();
  RunUntil(now + 200);
  EXPECT_GT(pb->TickNo, ticks);
}

TEST_F(PlaybackFixture, PauseDoesNotTouchBuiltInItems) {
  Make();
  pb->TogglePaused();
  PassAt(0);
  EXPECT_EQ(RunToState(kIntroEnded), 2000 + 1099);
}

TEST_F(PlaybackFixture, ReturnTopFromEveryStateCleansUpAndGoesOn) {
  device.moviePolls = 1000;
  for (int target : {kWaiting, kStartIntro, kIntroPlaying, kIntroEnded, kLoadScript, kScriptPlaying,
                     kScriptEnded, kStartMovie, kMoviePlaying, kMovieEnded}) {
    SCOPED_TRACE(target);
    if (target == kMoviePlaying) {
      intervals.Add("/data/Interval/m.avi");
      intervals.Rewind();
      Make();
      PassAt(now + 1);  // StartIntro chooses the movie
      PassAt(now + 1);  // and StartMovie plays it
      ASSERT_EQ(pb->PlayState, kMoviePlaying);
      ASSERT_TRUE(device.display);
    } else {
      Make();
      pb->PlayState = target;
    }
    settings.SetCurPath("/data/sub/");
    window.FillAll(0xFFFFFF);
    const int resets = engine.resets;
    device.log.clear();
    pb->ReturnTop();
    EXPECT_EQ(WindowPixel(639, 479), 0u);
    EXPECT_EQ(WindowPixel(0, 480), 0xFFFFFFu);  // the control panel's rows are not painted
    EXPECT_EQ(pb->PlayState, kScriptEnded);
    PassAt(now + 1);
    EXPECT_EQ(engine.resets, resets + 1);
    EXPECT_EQ(device.Count("close"), target == kMoviePlaying ? 2 : 1);
    EXPECT_FALSE(device.display);
    EXPECT_EQ(WindowPixel(0, 500), 0u);
    EXPECT_EQ(pb->PlayState, kWaiting);
    EXPECT_EQ(pb->NextState, kStartIntro);
    EXPECT_EQ(pb->WaitUntil, now + 2000);
    EXPECT_EQ(settings.GetCurPath(), "/data");
  }
}

TEST_F(PlaybackFixture, ReturnTopDuringAWaitSkipsTheRestOfIt) {
  Make(true);
  PassAt(0);  // LoadScript, wait 500
  PassAt(10);
  pb->ReturnTop();
  PassAt(11);
  EXPECT_EQ(RunToState(kLoadScript), 11 + 500);
}

TEST_F(PlaybackFixture, AFailedLoadCleansUpAfterTheUsualWait) {
  engine.failLoad = true;
  Make(true);
  PassAt(0);
  EXPECT_EQ(pb->NextState, kScriptEnded);
  EXPECT_EQ(RunToState(kScriptEnded), 500);
  PassAt(501);
  EXPECT_EQ(pb->NextState, kLoadScript);
  EXPECT_EQ(engine.resets, 1);
}

TEST_F(PlaybackFixture, IntervalItemsAlternateWithTheLogoStartingWithAnItem) {
  intervals.Add("/Interval/a.bmp");
  intervals.Add("/Interval/b.jpg");
  intervals.Rewind();
  Make();
  for (int i = 0; i < 5; ++i) {
    ASSERT_EQ(pb->PlayState, kStartIntro);
    PassAt(now + 1);
    RunToState(kStartIntro);
  }
  EXPECT_EQ(engine.items, (std::vector<std::string>{"/Interval/a.bmp", "0", "/Interval/b.jpg", "0",
                                                    "/Interval/a.bmp"}));
}

TEST_F(PlaybackFixture, AMovieIsPolledUntilItStopsThenWaits100) {
  intervals.Add("/data/Interval/m.avi");
  intervals.Rewind();
  device.moviePolls = 4;
  Make();
  PassAt(0);
  EXPECT_EQ(pb->PlayState, kStartMovie);
  PassAt(1);
  EXPECT_EQ(pb->PlayState, kMoviePlaying);
  EXPECT_TRUE(device.playing);
  const std::int32_t ended = RunToState(kMovieEnded);
  EXPECT_EQ(ended, 1 + 4 * kMoviePollMs);
  EXPECT_EQ(RunToState(kLoadScript), ended + 1 + 100);
  EXPECT_FALSE(device.display);
  EXPECT_EQ(intervals.Count(), 1);
}

TEST_F(PlaybackFixture, AMovieThatCannotStartIsDroppedAndAScriptLoadsInstead) {
  intervals.Add("/data/Interval/bad.avi");
  intervals.Add("/Interval/a.bmp");
  intervals.Rewind();
  device.videoWidth = -1;  // no video that can be shown
  Make();
  PassAt(0);
  PassAt(1);
  EXPECT_EQ(pb->PlayState, kLoadScript);
  EXPECT_EQ(intervals.Count(), 1);
  EXPECT_EQ(intervals.At(0), "/Interval/a.bmp");
}

TEST_F(PlaybackFixture, WithoutScriptsTheNoticeRepeatsEvenWithTheLogoOff) {
  settings.SetScriptStatus(2);
  engine.failLoad = true;
  Make(/*noLogo=*/true);
  EXPECT_EQ(pb->PlayState, kStartIntro);
  for (int i = 0; i < 3; ++i) {
    RunToState(kIntroEnded);
    PassAt(now + 1);
    EXPECT_EQ(pb->PlayState, kStartIntro);
  }
  EXPECT_EQ(engine.loads, 0);
  EXPECT_EQ(engine.items.size(), 3u);
  // Return to Top comes back to the notice too.
  pb->ReturnTop();
  PassAt(now + 1);
  EXPECT_EQ(pb->NextState, kStartIntro);
}

TEST_F(PlaybackFixture, AFailureInsideALayerEndsTheShowAndPlaybackGoesOn) {
  auto bgm = std::make_shared<CTimeBgm>();
  bgm->Kind = kTagBgm;
  bgm->Tick = 1;
  std::strcpy(bgm->FileName, "song.wav");
  engine.script = {Data(), bgm, End(50)};
  device.throwOnPlay = true;
  Make(true);
  PassAt(0);
  RunToState(kScriptPlaying);
  EXPECT_EQ(RunToState(kScriptEnded), 500 + 1000 + 33);
  EXPECT_FALSE(pb->Busy);
  EXPECT_EQ(RunToState(kLoadScript), 500 + 1033 + 1 + 500);
}

TEST_F(PlaybackFixture, AnUnknownKindEndsTheScript) {
  engine.script = {Data(), Ev<CTimeEnd>(kTagClock, 3), End(50)};
  Make(true);
  PassAt(0);
  RunToState(kScriptPlaying);
  EXPECT_EQ(RunToState(kScriptEnded), 500 + 1000 + 3 * 33);
}

TEST_F(PlaybackFixture, ARecordOfAnotherTypeThanItsKindCarriesEndsTheScript) {
  engine.script = {Data(), Ev<CTimeSolid>(kTagImage, 2), End(50)};
  Make(true);
  PassAt(0);
  RunToState(kScriptPlaying);
  EXPECT_EQ(RunToState(kScriptEnded), 500 + 1000 + 2 * 33);
}

TEST_F(PlaybackFixture, AScriptEndingAtTickZeroPlaysOneTick) {
  engine.script = {Data(), Solid(0, 0x00FF00), End(0)};
  Make(true);
  PassAt(0);
  RunToState(kScriptPlaying);
  EXPECT_EQ(RunToState(kScriptEnded), 500 + 1000);
  EXPECT_EQ(pb->TickNo, 1);
  EXPECT_EQ(WindowPixel(0, 102), 0x00FF00u);  // presented before the clean-up
}

TEST_F(PlaybackFixture, ScreenFadeStepsOncePerTickAndAShortFadeAppliesAtOnce) {
  engine.script = {Data(), Solid(0, 0xC8C8C8), Screen(0, 0, 0x10000, 330),
                   Screen(20, kUnsetInt, 0x8000, 10), End(40)};
  Make(true);
  RunToState(kScriptPlaying);
  PassAt(now + 1000 - 1);  // the wait ended one pass before: first tick now
  std::vector<std::int32_t> levels;
  for (int i = 0; i < 11; ++i) {
    levels.push_back(pb->ScreenLevel);
    PassAt(pb->NextDeadline(now));
  }
  // Tick 0 starts the fade at 0 and takes its first step.
  EXPECT_EQ(levels[1], 0x1999);
  EXPECT_EQ(levels[9], 9 * 0x1999);
  EXPECT_EQ(levels[10], 0x10000);
  RunUntil(now + 20 * 33);
  EXPECT_EQ(pb->ScreenLevel, 0x8000);  // 10 ms is less than a tick
  EXPECT_EQ(WindowPixel(0, 102), 0x646464u);
}

TEST_F(PlaybackFixture, AtLevelZeroTheWindowKeepsItsLastPicture) {
  engine.script = {Data(), Solid(0, 0x0000FF), Screen(3, kUnsetInt, 0, 0), Solid(5, 0x00FF00),
                   End(40)};
  Make(true);
  RunToState(kScriptPlaying);
  RunUntil(now + 1000 + 10 * 33);
  EXPECT_EQ(WindowPixel(0, 102), 0xFF0000u);
}

// Ticks in which nothing changed neither compose nor present; a drawing over the still frame is
// still mended by the next tick, and by the next redraw while paused.
TEST_F(PlaybackFixture, AStillFrameDrawnOverIsMendedOnTheNextTick) {
  engine.script = {Data(), Solid(0, 0x0000FF), End(60)};
  Make(true);
  RunToState(kScriptPlaying);
  RunUntil(now + 1000 + 5 * 33);
  ASSERT_EQ(WindowPixel(10, 102), 0xFF0000u);
  for (const bool paused : {false, true}) {
    if (paused) pb->TogglePaused();
    window.Fill(0, 100, 50, 10, 0x123456);
    RunUntil(now + kPausedRedrawMs + 1);
    EXPECT_EQ(WindowPixel(10, 102), 0xFF0000u) << (paused ? "paused" : "playing");
  }
}

TEST(ScreenLevel, ScalesEachChannelSaturatesAboveOneAndKeepsTheFourthByte) {
  StageBitmap s;
  s.Create(3, 1, 0);
  const std::uint32_t px[3] = {0xAAC86432u, 0x00FFFFFFu, 0x00010203u};
  auto level = [&](std::int32_t l) {
    for (int i = 0; i < 3; ++i) s.pixels[i] = px[i];
    CPlayback::ApplyScreenLevel(s, l);
    return std::vector<std::uint32_t>(s.pixels.begin(), s.pixels.end());
  };
  EXPECT_EQ(level(0x10000), (std::vector<std::uint32_t>{0xAAC86432u, 0xFFFFFFu, 0x010203u}));
  EXPECT_EQ(level(0x8000), (std::vector<std::uint32_t>{0xAA643219u, 0x7F7F7Fu, 0x000101u}));
  EXPECT_EQ(level(0), (std::vector<std::uint32_t>{0xAA000000u, 0u, 0u}));
  // Twice the brightness: 0xC8 and 0xFF saturate instead of wrapping to their low byte.
  EXPECT_EQ(level(0x20000), (std::vector<std::uint32_t>{0xAAFFC864u, 0xFFFFFFu, 0x020406u}));
  EXPECT_EQ(level(0xFE0000), (std::vector<std::uint32_t>{0xAAFFFFFFu, 0xFFFFFFu, 0xFEFFFFu}));
  EXPECT_EQ(level(-5), (std::vector<std::uint32_t>{0xAA000000u, 0u, 0u}));
}

TEST_F(PlaybackFixture, SpeedWarningShowsOnlyWhenTicksComeLate) {
  // Something changes on every tick, so every tick is presented.
  engine.script = {Data()};
  for (int t = 0; t < 400; ++t) engine.script.push_back(Solid(t, 0x000080 + t));
  engine.script.push_back(End(400));
  Make(true);
  RunToState(kScriptPlaying);
  // The 2 x 2 badge sits at (636, 515) of the 640 x 519 "screen" this fixture uses.
  RunUntil(now + 1000 + 10 * 33);
  EXPECT_EQ(WindowPixel(636, 515), 0u);
  PassAt(pb->NextTickTime + 1);  // a millisecond's rounding is still on time
  EXPECT_EQ(WindowPixel(636, 515), 0u);
  PassAt(pb->NextTickTime + 20);  // the previous tick's work ran past this one's time
  EXPECT_EQ(WindowPixel(636, 515), 0xFFFFFFu);
  PassAt(pb->NextTickTime + 20);
  EXPECT_EQ(WindowPixel(636, 515), 0xFFFFFFu);
  PassAt(pb->NextTickTime - 5);  // an idle pass before the tick is slack
  PassAt(pb->NextTickTime + 20);
  EXPECT_EQ(WindowPixel(636, 515), 0u);
  PassAt(pb->NextTickTime);
  EXPECT_EQ(WindowPixel(636, 515), 0u);
  // Pausing is not overload: the redraws every 165 ms leave the badge off.
  pb->TogglePaused();
  RunUntil(now + 700);
  EXPECT_EQ(WindowPixel(636, 515), 0u);
}

TEST_F(PlaybackFixture, TimerShowsTheScriptsElapsedTime) {
  engine.script = {Data(), End(100)};
  Make(true);
  pb->SetCounter(true);
  RunToState(kScriptPlaying);
  PassAt(pb->NextTickTime);  // the first tick draws the frame too
  window.TakeDamage();
  PassAt(now + 20);  // between two ticks only the timer is drawn
  const RectXYWH d = window.TakeDamage();
  EXPECT_LE(d.x, kTimerX);  // the damage holds the ink that reaches past the text's cell
  EXPECT_GE(d.x, kTimerX - 2);
  EXPECT_EQ(d.y, kTimerY);
  EXPECT_GT(d.width, 40);  // "Timer 0001.234 " in a 12-pixel face
  bool ink = false;
  for (int y = d.y; y < d.y + d.height; ++y)
    for (int x = d.x; x < d.x + d.width; ++x) ink |= WindowPixel(x, y) != 0;
  EXPECT_TRUE(ink);
}

TEST_F(PlaybackFixture, DeadlinesFollowTheStateAndNeverComeBeforeTheNextMillisecond) {
  Make(true);
  EXPECT_EQ(pb->NextDeadline(100), 101);  // LoadScript works at once
  PassAt(100);
  EXPECT_EQ(pb->NextDeadline(100), 600);
  EXPECT_EQ(pb->NextDeadline(700), 701);
  PassAt(600);
  EXPECT_EQ(pb->NextDeadline(600), 1600);
  pb->TogglePaused();
  EXPECT_EQ(pb->NextDeadline(1600), 1601);
}

}  // namespace

namespace {

// One playback with a real scrolling-text layer whose text steps on every pass (or every
// `speed` milliseconds).
struct ScrollShow {
  explicit ScrollShow(bool defer, int speed = 0, int mode = kDisplayWindow, int inkWidth = 640) {
    settings.SetCurPath("/data");
    const bool full = mode != kDisplayWindow;
    window.Resize(full ? 1280 : 640, full ? 1024 : 519);
    stage.Create(kStageWidth, kStageHeight, 0);
    Bitmap1 text;
    text.Create(640, 300);
    for (int y = 0; y < 300; y += 3)
      for (int x = y % 7; x < inkWidth; x += 5) text.Set(x, y, true);
    scrolls.AddTextBitmap(text);
    auto scr = std::make_shared<CTimeScroll>();
    scr->Kind = kTagScrText;
    scr->Tick = 0;
    scr->BmpNo = 0;
    scr->Speed = speed;
    engine.script = {Data(),
                     scr,
                     Screen(8, kUnsetInt, 0x8000, 0),
                     Screen(12, kUnsetInt, 0, 0),
                     Screen(16, kUnsetInt, 0x10000, 99),
                     End(30)};
    PlaybackParts p;
    p.settings = &settings;
    p.engine = &engine;
    p.background = &bg;
    p.scrolls = &scrolls;
    p.window = &window;
    p.stage = &stage;
    p.geometry = full ? ComputeDisplayGeometry(mode, 1280, 1024, 1280, 1024, 1, 1)
                      : ComputeDisplayGeometry(kDisplayWindow, 1024, 768, 640, 519, 1, 1);
    pb = std::make_unique<CPlayback>(p);
    pb->DeferFramesToTicks = defer;
    pb->Begin(true, false);
  }
  // Runs to the next tick; false once the show is over.
  bool NextTick() {
    const int tick = pb->TickNo;
    while (pb->PlayState != kScriptEnded) {
      const int state = pb->PlayState;
      now = pb->NextDeadline(now);
      pb->Pass(now);
      if (state == kScriptPlaying && pb->TickNo != tick) return true;
    }
    return false;
  }

  CMainCtl settings;
  CBgCtl bg{&settings};
  CScroll scrolls{&settings};
  FakeEngine engine;
  WindowSurface window;
  StageBitmap stage;
  std::unique_ptr<CPlayback> pb;
  std::int32_t now = 0;
};

TEST(DeferredFrames, TheWindowAfterEveryTickIsTheSameAsWithAFrameOnEveryPass) {
  ScrollShow every(false);
  ScrollShow deferred(true);
  int ticks = 0;
  while (every.NextTick()) {
    ASSERT_TRUE(deferred.NextTick());
    ASSERT_EQ(every.pb->TickNo, deferred.pb->TickNo);
    ASSERT_TRUE(every.window.Picture().pixels == deferred.window.Picture().pixels)
        << "after tick " << every.pb->TickNo - 1;
    ticks += 1;
  }
  EXPECT_EQ(ticks, 31);
  // The text did move between ticks, and level 0 held a picture taken between two ticks.
  bool ink = false;
  for (std::uint32_t px : every.window.Picture().pixels) ink |= px != 0;
  EXPECT_TRUE(ink);
}

// A live window holds a change between ticks for at most a frame time: with ticks slowed down a
// text stepping every 40 ms is still shown within 33 ms of each step (the window then is the
// same as one that shows every step at once), with fewer pictures.
TEST(DeferredFrames, ALiveWindowShowsAHeldChangeWithinTheHoldTime) {
  for (const int interval : {33, 100}) {
    SCOPED_TRACE(interval);
    ScrollShow every(false, 40);
    ScrollShow held(false, 40);
    held.pb->PaceForDisplay();
    every.pb->SetFrameInterval(interval);
    held.pb->SetFrameInterval(interval);
    int everyPictures = 0, heldPictures = 0, passes = 0;
    std::int32_t now = 0, everyChanged = 0;
    while (every.pb->PlayState != kScriptEnded && passes < 5000) {
      now = std::min(every.pb->NextDeadline(now), held.pb->NextDeadline(now));
      every.pb->Pass(now);
      held.pb->Pass(now);
      passes += 1;
      if (every.window.TakeDamage().width > 0) {
        everyPictures += 1;
        everyChanged = now;
      }
      if (held.window.TakeDamage().width > 0) heldPictures += 1;
      ASSERT_EQ(held.pb->PlayState, every.pb->PlayState);
      if (now - everyChanged >= 33) {
        ASSERT_TRUE(held.window.Picture().pixels == every.window.Picture().pixels)
            << "a change of " << everyChanged << " still not shown at " << now;
      }
    }
    EXPECT_GT(heldPictures, 0);
    EXPECT_LT(heldPictures, everyPictures);
  }
}

// Only the part of the stage that changed is drawn again, yet after every picture the window
// holds exactly the whole frame, in each way of putting it on the screen, also after something
// else was drawn over the frame in between.
TEST(PartialFrames, TheWindowAlwaysHoldsTheWholeFrame) {
  for (const int mode : {kDisplayWindow, kDisplayCentred, kDisplayStretched, kDisplayDoubled}) {
    SCOPED_TRACE(mode);
    ScrollShow show(false, 40, mode, 120);  // a narrow text: only the left part changes
    const DisplayGeometry g = mode == kDisplayWindow
                                  ? ComputeDisplayGeometry(mode, 1024, 768, 640, 519, 1, 1)
                                  : ComputeDisplayGeometry(mode, 1280, 1024, 1280, 1024, 1, 1);
    WindowSurface whole;
    whole.Resize(show.window.Width(), show.window.Height());
    int pictures = 0, partial = 0, passes = 0;
    std::int32_t now = 0;
    while (show.pb->PlayState != kScriptEnded && passes < 5000) {
      now = show.pb->NextDeadline(now);
      if (passes % 7 == 3) {  // something else draws over the frame; the next picture mends it
        show.window.Fill(300, 300, 200, 40, 0x123456);
        show.window.TakeDamage();
      }
      show.pb->Pass(now);
      passes += 1;
      const RectXYWH d = show.window.TakeDamage();
      if (d.width <= 0 || show.pb->ScreenLevel == 0 || show.pb->PlayState != kScriptPlaying)
        continue;
      pictures += 1;
      const StageBitmap& stage = show.stage;
      partial += d.width * d.height < g.FrameRect.width * g.FrameRect.height ? 1 : 0;
      if (mode == kDisplayWindow || mode == kDisplayCentred) {
        whole.CopyFrame(stage, g.FrameRect.x, g.FrameRect.y);
      } else {
        const RectXYWH src =
            mode == kDisplayDoubled ? g.SourceRect : RectXYWH{0, 0, stage.width, stage.height};
        whole.StretchFrame(stage, g.FrameRect, src, kStretchDrop);
      }
      const bool copied = mode == kDisplayWindow || mode == kDisplayCentred;
      const RectXYWH area =
          copied ? RectXYWH{g.FrameRect.x, g.FrameRect.y, stage.width, stage.height} : g.FrameRect;
      for (int y = area.y; y < area.y + area.height; ++y) {
        ASSERT_TRUE(std::equal(whole.Picture().Row(y) + area.x,
                               whole.Picture().Row(y) + area.x + area.width,
                               show.window.Picture().Row(y) + area.x))
            << "row " << y << " after the pass at " << now;
      }
    }
    EXPECT_GT(pictures, 20);
    EXPECT_GT(partial, 0);
  }
}

}  // namespace
