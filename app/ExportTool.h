// `ondrelix --export OUT.webm|OUT.mp4 FILE [--script N] [--size WxH] [--mode N]`: plays one
// script of FILE headless on the virtual clock, from its first tick to its end, and writes a
// video of the window's picture, one frame per tick, with the show's music.
#pragma once

#include <string>
#include <vector>

#include "app/VideoEncoder.h"

class AudioDecoder;
struct CommandLine;

// Exit codes besides 0 (written) and 1 (the export failed: an encoder error, a missing package).
inline constexpr int kExportBadInput = 2;  // bad arguments, no such show, unwritable output
inline constexpr int kExportStopped = 130;  // stopped by SIGINT or SIGTERM; nothing left behind

struct ExportRequest {
  std::string out;
  std::string container;  // from the name's extension: "webm" or "mp4"
  std::string file;
  int script = 1;
  int width = 640;  // the video's size
  int height = 480;
  int mode = -1;  // the display mode the picture is laid out in; -1: as the size asks
};

// The request of an --export command line; "" on success, else what is wrong with it.
std::string ExportRequestOf(const CommandLine& cl, ExportRequest* out);
// Reads the arguments after "--export" with the program's option table; "" or the message.
std::string ParseExportArgs(const std::vector<std::string>& args, ExportRequest* out);
// The display mode a request plays in: window mode for the plain 640 x 480 picture, the
// stretched mode for another size, else the one asked for.
int ExportDisplayMode(const ExportRequest& request);

// The progress line: percent of the show's ticks, frames per second and the time left.
// `total` <= 0 when the show's length is not known.
std::string ExportProgressLine(int done, int total, double elapsedSeconds);

// Exports; returns the exit code.
int RunExport(const ExportRequest& request, const VideoBackend& backend, AudioDecoder* decoder);
