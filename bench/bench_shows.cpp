// The engine's processor time over whole plays of the demo shows, headless on a virtual clock:
// every pass a live window makes (changes paced to the display, as the saver's window paces
// them), with the frame's moves and changed parts taken after each pass as the shell takes them,
// in the window mode and stretched on 1920 x 1080. Nothing waits and no display server draws, so
// the figures are the engine's own work and barely move from run to run; tools/measure-cpu.sh
// gives the whole cost on a real X server (the server's copies and each pass's wake-up added).
//
// A live saver sleeps between passes while the X server and the kernel run, and finds its data
// out of the nearer caches when it wakes. The "cold" runs write over a buffer twice the size of
// the second-level cache before each pass (outside the time measured). The "asleep" runs sleep
// 30 ms before each pass instead, as the live saver does between its passes, and play the first
// 20 s of each show once: on a virtual machine whose processor goes to other work while ours
// sleeps, a pass then finds nothing of its data or code in any cache, and costs what it costs
// in the live saver (on the machine this was written on, four to six times the "warm" figure,
// where "cold" read 1.4 times), without the X server's and the event loop's share and noise of
// tools/measure-cpu.sh.
//
// The time is the processor time of the passes alone (the opening of the show excluded). Counters:
// engine_pct, that time as a percentage of the show's own play time (one core); us_pass, per
// pass; passes_s, passes per second of show; px_pass, window pixels of the parts a pass; fill_pass
// and cmp_pass, stage pixels filled again and compared a pass; load_ms, the longest pass (loading
// the show's pictures); play_s, the stretch of the show played.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "app/CPlayback.h"
#include "app/HeadlessShow.h"
#include "app/SaverObjects.h"
#include "app/WindowSurface.h"
#include "app/XScreenSaverList.h"
#include "platform/HugePageHeap.h"

namespace {

namespace fs = std::filesystem;

struct Play {
  double seconds = 0;  // of the show's clock
  double cpu = 0;      // processor seconds of the passes
  long long passes = 0;
  double pixels = 0;    // window pixels of the parts taken
  double filled = 0;    // stage pixels whose background was drawn again over a still background
  double compared = 0;  // stage pixels compared with the frame shown
  double longestMs = 0;
};

double ThreadSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// What runs before each pass, outside the time measured.
enum class Before { kNothing, kEviction, kSleep };

constexpr auto kAsleepGap = std::chrono::milliseconds(30);
constexpr long long kAsleepPasses = 600;  // 20 s of a show at 30 passes a second

// Pushes the engine's data out of the first- and second-level caches.
void Evict() {
  constexpr std::size_t kBytes = 2 << 20;
  static std::vector<unsigned char> junk(kBytes);
  static unsigned char value = 0;
  std::memset(junk.data(), ++value, junk.size());
  benchmark::DoNotOptimize(junk.data());
}

// One play of `file` in display mode `mode` (whole, or its first kAsleepPasses passes when each
// pass comes after a sleep); false when it could not be opened.
bool PlayOnce(const std::string& file, int mode, Before before, benchmark::State& state,
              Play* play) {
  HeadlessOptions o;
  o.mode = mode;
  o.screenWidth = 1920;
  o.screenHeight = 1080;
  o.deferToTicks = false;
  o.paceForDisplay = true;
  HeadlessShow show;
  const std::string error = show.Open(file, 1, o);
  if (!error.empty()) {
    state.SkipWithError(("cannot open " + file + ": " + error).c_str());
    return false;
  }
  WindowSurface& window = *show.Objects().Window;
  window.AllowFrameMoves(mode == kDisplayStretched);

  const long long maxPasses = before == Before::kSleep ? kAsleepPasses : 5000000;
  std::int32_t now = 0;
  for (; play->passes < maxPasses && !show.Over(); ++play->passes) {
    if (before == Before::kEviction) Evict();
    if (before == Before::kSleep) std::this_thread::sleep_for(kAsleepGap);
    const double start = ThreadSeconds();
    show.Pass(now);
    FrameMove move;
    window.TakeFrameMove(&move);
    const DamageParts parts = window.TakeDamageParts();
    for (int i = 0; i < parts.count; ++i)
      play->pixels += static_cast<double>(parts.part[i].width) * parts.part[i].height;
    const double spent = ThreadSeconds() - start;
    play->cpu += spent;
    play->longestMs = std::max(play->longestMs, 1e3 * spent);
    now = show.NextDeadline(now);
  }
  play->seconds = now / 1000.0;
  play->filled = static_cast<double>(show.Playback().FilledPixels);
  play->compared = static_cast<double>(show.Playback().ComparedPixels);
  return true;
}

void BM_DemoShow(benchmark::State& state, const std::string& file, int mode, Before before) {
  Play total;
  double longest = 0;
  for (auto _ : state) {
    Play play;
    if (!PlayOnce(file, mode, before, state, &play)) return;
    state.SetIterationTime(play.cpu);
    total.seconds += play.seconds;
    total.cpu += play.cpu;
    total.passes += play.passes;
    total.pixels += play.pixels;
    total.filled += play.filled;
    total.compared += play.compared;
    longest = std::max(longest, play.longestMs);
  }
  state.counters["engine_pct"] = 100.0 * total.cpu / total.seconds;
  state.counters["us_pass"] = 1e6 * total.cpu / static_cast<double>(total.passes);
  state.counters["passes_s"] = static_cast<double>(total.passes) / total.seconds;
  // Window pixels of the parts the shell would put a pass (what the server copies).
  state.counters["px_pass"] = total.pixels / static_cast<double>(total.passes);
  // Stage pixels filled again under moving layers, and compared with the frame shown, a pass.
  state.counters["fill_pass"] = total.filled / static_cast<double>(total.passes);
  state.counters["cmp_pass"] = total.compared / static_cast<double>(total.passes);
  state.counters["load_ms"] = longest;
  state.counters["play_s"] = total.seconds / static_cast<double>(state.iterations());
}

// The demo shows, in name order (the name of script_NAME.txt).
std::vector<std::pair<std::string, std::string>> DemoShows() {
  std::vector<std::pair<std::string, std::string>> shows;
  const fs::path root = fs::path(ONDRELIX_SOURCE_DIR) / "examples";
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    const std::string name = e.path().filename().string();
    if (!e.is_regular_file() || !name.starts_with("script_") || !name.ends_with(".txt")) continue;
    shows.emplace_back(name.substr(7, name.size() - 11), e.path().string());
  }
  std::sort(shows.begin(), shows.end());
  return shows;
}

const bool kRegistered = [] {
  for (const auto& [name, file] : DemoShows()) {
    for (const auto& [before, kind] : {std::pair{Before::kNothing, "/warm"},
                                       {Before::kEviction, "/cold"},
                                       {Before::kSleep, "/asleep"}}) {
      for (const int mode : {kDisplayWindow, kDisplayStretched}) {
        const std::string label =
            "BM_DemoShow/" + name + (mode == kDisplayWindow ? "/window" : "/stretched") + kind;
        benchmark::RegisterBenchmark(label.c_str(), BM_DemoShow, file, mode, before)
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime()
            ->Iterations(before == Before::kSleep ? 1 : 2);
      }
    }
  }
  return true;
}();

}  // namespace

// The saver's heap is in huge pages (it starts itself again for that); so is this one, so that a
// pass touches memory as the saver's does.
int main(int argc, char** argv) {
  RestartWithHugePageHeap(ThisProgramPath(), argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
