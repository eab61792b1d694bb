// The headless renderer.
#include "app/RenderTool.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/CPlayback.h"
#include "app/DisplayGeometry.h"
#include "app/HeadlessShow.h"
#include "app/WindowSurface.h"
#include "render/Picture.h"
#include "render/PixelOps.h"

bool ParseWholeNumber(const std::string& s, int* out) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(s.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < 0 || v > INT_MAX) return false;
  *out = static_cast<int>(v);
  return true;
}

namespace {

// A show ends by itself at its /DATA; this bounds a show whose timeline never gets there.
constexpr long long kMaxRenderPasses = 400000000LL;

// "A", "A-B" or "A-B:STEP".
bool ParseTicks(const std::string& s, RenderRequest* r) {
  std::string range = s;
  r->step = 1;
  const size_t colon = s.find(':');
  if (colon != std::string::npos) {
    range = s.substr(0, colon);
    if (!ParseWholeNumber(s.substr(colon + 1), &r->step) || r->step < 1) return false;
  }
  const size_t dash = range.find('-');
  if (dash == std::string::npos) {
    if (!ParseWholeNumber(range, &r->firstTick)) return false;
    r->lastTick = r->firstTick;
    return true;
  }
  return ParseWholeNumber(range.substr(0, dash), &r->firstTick) &&
         ParseWholeNumber(range.substr(dash + 1), &r->lastTick) && r->firstTick <= r->lastTick;
}

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

std::string ParseRenderArgs(const std::vector<std::string>& args, RenderRequest* out) {
  RenderRequest r;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--dump-events") {
      r.dumpEvents = true;
    } else if (a == "--reference") {
      r.reference = true;
    } else if (a == "--small-png") {
      r.smallPng = true;
    } else if (a == "--script" && hasValue) {
      if (!ParseWholeNumber(args[++i], &r.script) || r.script < 1) return "--script wants a number from 1";
    } else if (a == "--out" && hasValue) {
      r.outDir = args[++i];
    } else if (a == "--ticks" && hasValue) {
      if (!ParseTicks(args[++i], &r)) return "--ticks wants A, A-B or A-B:STEP";
      r.ticksGiven = true;
    } else if (a.rfind("--", 0) == 0) {
      return "unknown or incomplete option " + a;
    } else if (r.file.empty()) {
      r.file = a;
    } else {
      return "more than one script file given";
    }
  }
  if (r.file.empty()) return "no script file given";
  if (!r.dumpEvents && (r.outDir.empty() || !r.ticksGiven)) return "--out and --ticks are needed";
  if (r.ticksGiven && r.outDir.empty()) return "--ticks needs --out";
  *out = r;
  return "";
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

bool RunRenderTool(int argc, char** argv, int* exitCode) {
  if (argc < 2 || std::strcmp(argv[1], "--render") != 0) return false;
  RenderRequest req;
  const std::string error = ParseRenderArgs(std::vector<std::string>(argv + 2, argv + argc), &req);
  if (!error.empty()) {
    std::fprintf(stderr,
                 "ondrelix: %s\nUsage: ondrelix --render FILE [--script N] --out DIR "
                 "--ticks A-B[:STEP] [--small-png] [--dump-events] [--reference]\n",
                 error.c_str());
    *exitCode = kRenderUsage;
    return true;
  }
  *exitCode = RunRender(req);
  return true;
}
