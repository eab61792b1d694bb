// `ondrelix --render FILE [--script N] --out DIR --ticks A-B[:STEP] [--small-png] [--dump-events]
// [--reference]`: plays one script of FILE headless on a virtual clock, as window mode plays it,
// and writes the window's 640 x 480 picture after the requested ticks as DIR/tick_NNNNN.png
// (packed fast, or as small as zlib's default makes them with --small-png). With --reference
// the reference player plays it (every shortcut off: the same pictures, more slowly).
#pragma once

#include <string>
#include <vector>

struct CommandLine;

struct RenderRequest {
  std::string file;
  int script = 1;  // 1 = the first script of the file
  std::string outDir;
  int firstTick = 0;
  int lastTick = -1;  // -1: to the end of the show
  int step = 1;
  bool ticksGiven = false;
  bool dumpEvents = false;
  bool reference = false;
  bool smallPng = false;
};

// The request of a --render command line; "" on success, else what is missing.
std::string RenderRequestOf(const CommandLine& cl, RenderRequest* out);
// Reads the arguments after "--render" with the program's option table; "" or the message.
std::string ParseRenderArgs(const std::vector<std::string>& args, RenderRequest* out);
// Renders; returns the exit code (0 done, 1 the script could not be played).
int RunRender(const RenderRequest& request);
