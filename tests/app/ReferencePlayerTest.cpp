// The real player against the reference player (the same engine with every shortcut off): over
// every demo show in every display mode, every show kept under tests/data/shows and hundreds of
// generated shows, the window pictures are the same, bit for bit, after every tick.
//
// ONDRELIX_SHOW_SEED=N plays generated show N alone; ONDRELIX_SHOWS=N plays N generated shows.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/CPlayback.h"
#include "app/HeadlessShow.h"
#include "app/MediaDevice.h"
#include "app/SaverObjects.h"
#include "app/WindowSurface.h"
#include "render/PixelOps.h"
#include "script/CTimeLine.h"
#include "tests/app/ShowGenerator.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;

namespace {

const fs::path kKeptShows = fs::path(ONDRELIX_TEST_DATA) / "shows";
const fs::path kExamples = fs::path(ONDRELIX_SOURCE_DIR) / "examples";

// Under the sanitizers everything runs several times slower: fewer generated shows there, and
// the demo shows only for their first 15 seconds and in two of the four display modes.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kGeneratedShows = 40;
constexpr int kDemoTicks = 450;
constexpr bool kAllDemoModes = false;
#else
constexpr int kGeneratedShows = 300;
constexpr int kDemoTicks = INT_MAX;
constexpr bool kAllDemoModes = true;
#endif
constexpr int kBatches = 4;
#if defined(__SANITIZE_ADDRESS__)
constexpr int kGeneratedSkies = 6;
#else
constexpr int kGeneratedSkies = 24;
#endif
constexpr long long kMaxPasses = 5000000;

// A screen for each display mode on which the frame is copied, stretched by odd factors or
// doubled with its sides cut.
void ScreenFor(int mode, int* w, int* h) {
  *w = mode == kDisplayDoubled ? 1152 : mode == kDisplayStretched ? 912 : 800;
  *h = mode == kDisplayDoubled ? 864 : mode == kDisplayStretched ? 570 : 600;
}

// Where the window's frame may be moved, screens on which the stretch is x2 both ways, or x3
// across and x2.25 down.
void ScreenForMoves(int moves, int* w, int* h) {
  *w = moves == 1 ? 1280 : 1920;
  *h = moves == 1 ? 960 : 1080;
}

// What a display server shows of `window`: its moves of the frame and the parts drawn since
// the last look, made on `screen` (the picture's size).
void Refresh(WindowSurface& window, Bitmap32& screen) {
  FrameMove m;
  if (window.TakeFrameMove(&m)) {
    Bitmap32 part;
    part.Create(m.area.width, m.area.height);
    CopyRect(part, 0, 0, screen, m.area.x, m.area.y, m.area.width, m.area.height);
    MovePixels(part, m.dx, m.dy);
    CopyRect(screen, m.area.x, m.area.y, part, 0, 0, m.area.width, m.area.height);
  }
  const DamageParts d = window.TakeDamageParts();
  for (int i = 0; i < d.count; ++i) {
    const RectXYWH& r = d.part[i];
    CopyRect(screen, r.x, r.y, window.Picture(), r.x, r.y, r.width, r.height);
  }
}

// "" when the pictures are equal, else where they first differ.
std::string Difference(const Bitmap32& real, const Bitmap32& ref) {
  if (real.width != ref.width || real.height != ref.height) return "the windows differ in size";
  if (std::memcmp(real.pixels.data(), ref.pixels.data(), real.pixels.size() * 4) == 0) return "";
  for (int y = 0; y < real.height; ++y) {
    const std::uint32_t* a = real.Row(y);
    const std::uint32_t* b = ref.Row(y);
    for (int x = 0; x < real.width; ++x) {
      if (a[x] == b[x]) continue;
      char text[96];
      std::snprintf(text, sizeof text, "at (%d, %d): 0x%06X, the reference 0x%06X", x, y,
                    a[x] & 0xFFFFFF, b[x] & 0xFFFFFF);
      return text;
    }
  }
  return "";
}

struct Outcome {
  std::string error;  // empty when the two players agreed throughout
  int ticks = 0;
  int shifted = 0;  // frames the real player made by moving the last one
  int moved = 0;    // and of them, those whose window moved its frame
};

// Plays script `script` of `file` in the real player as `plan` says and in the reference player
// side by side on one clock, with the same input, comparing their windows after every tick (and
// after every pass when the real player holds nothing back), up to tick `lastTick`. A player
// that holds changes for the tick passes only when its own deadlines say, as in a live window,
// so it has to make up the scroll steps that fell between its passes.
Outcome PlayBoth(const std::string& file, int script, const PlayPlan& plan,
                 int lastTick = INT_MAX) {
  Outcome out;
  HeadlessOptions o;
  o.mode = plan.mode;
  ScreenFor(plan.mode, &o.screenWidth, &o.screenHeight);
  if (plan.moves != 0) ScreenForMoves(plan.moves, &o.screenWidth, &o.screenHeight);
  o.deferToTicks = plan.keeping == 1;
  o.paceForDisplay = plan.keeping == 2;
  HeadlessShow real;
  HeadlessShow ref;
  out.error = real.Open(file, script, o);
  if (!out.error.empty()) return out;
  o.reference = true;
  out.error = ref.Open(file, script, o);
  if (!out.error.empty()) return out;
  real.Playback().SetFrameInterval(plan.frameInterval);
  ref.Playback().SetFrameInterval(plan.frameInterval);
  // With moves the window's picture lags behind what it shows: the screen made from it is
  // compared.
  WindowSurface& window = *real.Objects().Window;
  Bitmap32 screen = window.Picture();
  window.AllowFrameMoves(plan.moves != 0);
  const Bitmap32& shown = plan.moves != 0 ? screen : window.Picture();
  const auto counted = [&] {
    out.shifted = real.Playback().ShiftedFrames;
    out.moved = real.Playback().MovedFrames;
    return out;
  };

  std::int32_t now = 0, realDue = 0;
  bool paused = false, pauseDone = plan.pauseTick < 0;
  std::int32_t resumeAt = 0;
  for (long long passes = 0; passes < kMaxPasses; ++passes) {
    if ((ref.Over() && real.Over()) || out.ticks > lastTick) return counted();
    const int tick = ref.Playback().TickNo;
    const std::int32_t redraw = ref.Playback().NextTickTime;
    const bool realPasses = plan.keeping == 0 || now >= realDue;
    if (realPasses) real.Pass(now);
    ref.Pass(now);
    if (plan.moves != 0) Refresh(window, screen);
    const CPlayback& a = real.Playback();
    const CPlayback& b = ref.Playback();
    if (a.PlayState != b.PlayState || a.TickNo != b.TickNo) {
      out.error = "the players went apart at tick " + std::to_string(b.TickNo);
      return out;
    }
    const bool ticked = b.PlayState == kScriptPlaying && b.TickNo != tick;
    if (ticked) out.ticks += 1;
    const bool redrawn = paused && b.NextTickTime != redraw;
    if (plan.keeping == 0 || ticked || redrawn) {
      const std::string d = Difference(shown, ref.Window().Picture());
      if (!d.empty()) {
        out.error = "after tick " + std::to_string(b.TickNo - 1) + (paused ? " (paused)" : "") +
                    " at " + std::to_string(now) + " ms the window differs " + d;
        return out;
      }
    }
    // The same pause for both, after the planned tick; the real player's window then passes at
    // once, as the shell's does after input.
    bool toggled = true;
    if (!pauseDone && !paused && ticked && b.TickNo > plan.pauseTick) {
      paused = true;
      resumeAt = now + plan.pauseMs;
    } else if (paused && now >= resumeAt) {
      paused = false;
      pauseDone = true;
    } else {
      toggled = false;
    }
    if (toggled) {
      real.Playback().TogglePaused();
      ref.Playback().TogglePaused();
    }
    if (realPasses || toggled) realDue = real.NextDeadline(now);
    std::int32_t next = std::min(realDue, ref.NextDeadline(now));
    if (paused) next = std::min(next, std::max(resumeAt, now + 1));
    now = next;
  }
  out.error = "the show did not end";
  return out;
}

std::string ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A folder with the pictures generated shows use, made once for the whole run.
const std::string& KitFolder() {
  // Removed by the clean-up at exit, not by a static destructor that could run before it.
  static TempFolder* const kit = [] {
    auto* k = new TempFolder;
    WritePictureKit(k->path());
    std::atexit([] { delete kit; });
    return k;
  }();
  return kit->path();
}

// Plays one show written into the kit folder.
Outcome PlayScript(const std::string& text, const std::string& name) {
  const std::string file = KitFolder() + "/script_" + name + ".txt";
  std::ofstream(file, std::ios::binary) << text;
  const Outcome o = PlayBoth(file, 1, ReadPlan(text));
  fs::remove(file);
  return o;
}

// Keeps a generated show that failed where it can be added to the kept shows.
std::string KeepFailure(const std::string& text, std::uint32_t seed) {
  const fs::path dir = fs::path(ONDRELIX_BUILD_DIR) / "reference-failures";
  fs::create_directories(dir);
  const fs::path file = dir / ("show_" + std::to_string(seed) + ".txt");
  std::ofstream(file, std::ios::binary) << text;
  return file.string();
}

int EnvNumber(const char* name, int fallback) {
  const char* v = std::getenv(name);
  return v && *v ? std::atoi(v) : fallback;
}

// The display mode, plus this for a window whose frame the display server moves (x2 both ways).
constexpr int kMovesParam = 10;

class DemoShows : public ::testing::TestWithParam<int> {};

// Every show of the demo folder, whole, in each display mode that presents the frame its own way.
TEST_P(DemoShows, LookTheSameAsInTheReferencePlayer) {
  PlayPlan plan;
  plan.mode = GetParam() % kMovesParam;
  plan.moves = GetParam() / kMovesParam;
  if (!kAllDemoModes && plan.mode != kDisplayWindow && plan.mode != kDisplayStretched) {
    GTEST_SKIP() << "the sanitizer build plays the demo shows in two display modes only";
  }
  plan.keeping = plan.mode == kDisplayWindow ? 2 : 0;
  int shows = 0, shifted = 0, moved = 0;
  for (const auto& e : fs::recursive_directory_iterator(kExamples)) {
    const std::string name = e.path().filename().string();
    if (!e.is_regular_file() || name.rfind("script_", 0) != 0) continue;
    for (int script = 1;; ++script) {
      const Outcome o = PlayBoth(e.path().string(), script, plan, kDemoTicks);
      if (o.error.find("holds") != std::string::npos) break;
      EXPECT_EQ(o.error, "") << name << ", script " << script;
      EXPECT_GT(o.ticks, 300) << name << ", script " << script;
      shows += 1;
      shifted += o.shifted;
      moved += o.moved;
    }
  }
  EXPECT_GE(shows, 6);
  // The scrolling skies are made by moving the frame, and so shown where the window can.
  if (plan.keeping == 0) {
    EXPECT_GT(shifted, 100);
  }
  if (plan.moves != 0) {
    EXPECT_GT(moved, 100);
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, DemoShows,
                         ::testing::Values(kDisplayWindow, kDisplayCentred, kDisplayStretched,
                                           kDisplayDoubled, kMovesParam + kDisplayStretched));

// Every generated show that ever failed, kept as a file with the plan it failed with.
TEST(KeptShows, LookTheSameAsInTheReferencePlayer) {
  int kept = 0;
  for (const auto& e : fs::directory_iterator(kKeptShows)) {
    if (e.path().extension() != ".txt") continue;
    const Outcome o = PlayScript(ReadAll(e.path()), "kept");
    EXPECT_EQ(o.error, "") << e.path().filename();
    kept += 1;
  }
  EXPECT_GT(kept, 0);
}

// The built-in items, an interval picture and the logo, played around a short show from a data
// folder, with every tick of them compared.
TEST(BuiltInItems, LookTheSameAsInTheReferencePlayer) {
  TempFolder temp;
  const std::string dir = temp.path();
  fs::create_directories(dir + "/Interval");
  fs::copy_file(kExamples / "Interval" / "aurora.bmp", dir + "/Interval/aurora.bmp");
  std::ofstream(dir + "/script_short.txt")
      << "<DATA TITLE=\"short\" VERSION=1.10><SOLID COLOR=NAVY><CLOCK SET=0.3><END></DATA>\n";
  SilentMediaDevice device;
  auto make = [&](bool reference) {
    auto o = std::make_unique<SaverObjects>(&device, [&](CMainCtl& s) {
      s.SetStorePath("/dev/null/no-store.reg");
      s.Load();
      s.SetDspMode(kDisplayWindow);
      s.SetFlgLogo(true);
      s.SetCurPath(dir);
      s.LoadedPath = dir;
    });
    o->Layout(1024, 768);
    o->PrepareShows(7);
    if (reference) o->SwitchShortcutsOff();
    o->Playback().Begin(false, false);
    return o;
  };
  auto real = make(false);
  auto ref = make(true);
  CPlayback& a = real->Playback();
  CPlayback& b = ref->Playback();
  int items = 0, ticks = 0;
  std::int32_t now = 0;
  for (int passes = 0; passes < 100000 && items < 2; ++passes) {
    const int state = b.PlayState, tick = b.TickNo;
    a.Pass(now);
    b.Pass(now);
    ASSERT_EQ(a.PlayState, b.PlayState);
    if (state == kIntroPlaying && b.PlayState == kIntroEnded) items += 1;
    if (state == kIntroPlaying && b.TickNo != tick) {
      ticks += 1;
      ASSERT_EQ(Difference(real->Window->Picture(), ref->Window->Picture()), "")
          << "built-in item " << items + 1 << ", tick " << tick;
    }
    now = std::min(a.NextDeadline(now), b.NextDeadline(now));
  }
  EXPECT_EQ(items, 2);
  EXPECT_GT(ticks, 100);
  real.reset();
  ref.reset();
  fs::remove_all(dir);
}

class GeneratedShows : public ::testing::TestWithParam<int> {};

// A share of the generated shows per batch, so that the batches run side by side.
TEST_P(GeneratedShows, LookTheSameAsInTheReferencePlayer) {
  const int only = EnvNumber("ONDRELIX_SHOW_SEED", -1);
  const int total = EnvNumber("ONDRELIX_SHOWS", kGeneratedShows);
  int played = 0, ticks = 0;
  for (int seed = GetParam(); seed < total; seed += kBatches) {
    if (only >= 0 && seed != only) continue;
    const std::string text = ShowGenerator(static_cast<std::uint32_t>(seed)).Script();
    const Outcome o = PlayScript(text, "generated");
    played += 1;
    ticks += o.ticks;
    if (!o.error.empty()) {
      ADD_FAILURE() << "generated show " << seed << " (ONDRELIX_SHOW_SEED=" << seed
                    << " plays it alone): " << o.error << "\nKept as " << KeepFailure(text, seed)
                    << "; add it to tests/data/shows.\n"
                    << text;
    }
  }
  if (only < 0) {
    EXPECT_GT(ticks, played * 20) << "the generated shows hardly play";
  }
}

INSTANTIATE_TEST_SUITE_P(Batches, GeneratedShows, ::testing::Range(0, kBatches));

// Generated shows whose sky scrolls, in a window the display server moves: the frames made by
// moving the last one, and shown by moving the window's, are those the reference player draws.
TEST(GeneratedSkies, LookTheSameAsInTheReferencePlayer) {
  constexpr std::uint32_t kFirstSeed = 7000;
  int shifted = 0, moved = 0;
  for (std::uint32_t seed = kFirstSeed; seed < kFirstSeed + kGeneratedSkies; ++seed) {
    const std::string text = ShowGenerator(seed).SkyScript();
    const Outcome o = PlayScript(text, "sky");
    shifted += o.shifted;
    moved += o.moved;
    if (!o.error.empty()) {
      ADD_FAILURE() << "generated sky " << seed << ": " << o.error << "\nKept as "
                    << KeepFailure(text, seed) << "; add it to tests/data/shows.\n"
                    << text;
    }
  }
  EXPECT_GT(shifted, kGeneratedSkies * 20);
  EXPECT_GT(moved, kGeneratedSkies * 10);
}

}  // namespace
