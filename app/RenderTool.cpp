// The headless renderer.
#include "app/RenderTool.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/CPlayback.h"
#include "app/CommandLine.h"
#include "app/DisplayGeometry.h"
#include "app/HeadlessShow.h"
#include "app/WindowSurface.h"
#include "render/Picture.h"
#include "render/PixelOps.h"

namespace {

// A show ends by itself at its /DATA; this bounds a show whose timeline never gets there.
constexpr long long kMaxRenderPasses = 400000000LL;

int WriteTick(const WindowSurface& window, const RenderRequest& req, int tick) {
  Bitmap32 out;
  out.Create(kPictureWidth, kPictureHeight, 0);
  CopyRect(out, 0, 0, window.Picture(), 0, 0, kPictureWidth, kPictureHeight);
  char name[32];
  std::snprintf(name, sizeof name, "/tick_%05d.png", tick);
  return WritePng(req.outDir + name, out, req.smallPng ? PngPacking::kSmall : PngPacking::kFast);
}

bool Wanted(const RenderRequest& r, int tick) {
  if (!r.ticksGiven || tick < r.firstTick) return false;
  if (r.lastTick >= 0 && tick > r.lastTick) return false;
  return (tick - r.firstTick) % r.step == 0;
}

}  // namespace

std::string RenderRequestOf(const CommandLine& cl, RenderRequest* out) {
  if (!cl.error.empty()) return cl.error;
  const ToolOptions& t = cl.tools;
  RenderRequest r;
  r.file = t.operands.empty() ? "" : t.operands[0];
  r.script = t.script;
  r.outDir = t.out;
  r.firstTick = t.firstTick;
  r.lastTick = t.lastTick;
  r.step = t.step;
  r.ticksGiven = t.ticksGiven;
  r.dumpEvents = t.dumpEvents;
  r.reference = t.reference;
  r.smallPng = t.smallPng;
  if (!r.dumpEvents && (r.outDir.empty() || !r.ticksGiven)) return "--out and --ticks are needed";
  if (r.ticksGiven && r.outDir.empty()) return "--ticks needs --out";
  *out = r;
  return "";
}

std::string ParseRenderArgs(const std::vector<std::string>& args, RenderRequest* out) {
  std::vector<std::string> all{"--render"};
  all.insert(all.end(), args.begin(), args.end());
  return RenderRequestOf(ParseCommandLine(all), out);
}

int RunRender(const RenderRequest& req) {
  HeadlessShow show;
  HeadlessOptions options;
  options.reference = req.reference;
  const std::string error = show.Open(req.file, req.script, options);
  if (!error.empty()) {
    std::fprintf(stderr, "ondrelix: %s\n", error.c_str());
    return 1;
  }
  if (!req.outDir.empty()) {
    struct stat st;
    if (stat(req.outDir.c_str(), &st) != 0 && mkdir(req.outDir.c_str(), 0777) != 0) {
      std::fprintf(stderr, "ondrelix: cannot make %s: %s\n", req.outDir.c_str(),
                   std::strerror(errno));
      return 1;
    }
  }
  CPlayback& pb = show.Playback();
  if (req.dumpEvents) {
    pb.OnDispatch = [](int tick, const CTimeDat& ev) {
      const char* kind = ev.Kind < kTagCount ? kTagNames[ev.Kind] : "?";
      std::printf("%d %d %s\n", tick, ev.Kind, kind);
    };
  }

  bool started = false;
  int lastTick = -1;
  int written = 0;
  std::int32_t now = 0;
  for (long long passes = 0; passes < kMaxRenderPasses; ++passes) {
    const int state = pb.PlayState;
    const int tickBefore = pb.TickNo;
    show.Pass(now);
    if (state == kScriptPlaying) started = true;
    if (state == kScriptPlaying && pb.TickNo == tickBefore + 1) {
      lastTick = tickBefore;
      if (Wanted(req, tickBefore)) {
        if (WriteTick(show.Window(), req, tickBefore) != 0) {
          std::fprintf(stderr, "ondrelix: cannot write into %s\n", req.outDir.c_str());
          return 1;
        }
        written += 1;
      }
      if (req.ticksGiven && req.lastTick >= 0 && tickBefore >= req.lastTick) break;
    }
    if (show.Over()) break;  // the show is over (or could not be loaded)
    now = show.NextDeadline(now);
  }
  std::fflush(stdout);
  if (!started) {
    std::fprintf(stderr, "ondrelix: script %d of %s could not be loaded\n", req.script,
                 req.file.c_str());
    return 1;
  }
  if (req.ticksGiven && lastTick < req.lastTick) {
    std::fprintf(stderr, "ondrelix: the show ended at tick %d; %d picture(s) written\n", lastTick,
                 written);
  }
  // Pictures were asked for and none came (the show ended, or was cut short, before the first
  // wanted tick): that is a failure, whatever else went right.
  return req.ticksGiven && written == 0 ? 1 : 0;
}
