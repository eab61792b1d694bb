// What the show exporter writes a video file through: pictures and a sound track in, a file out.
// The encoder itself lives in the shell (it needs a media framework); the engine sees only this.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "render/Bitmap.h"

struct VideoFormat {
  std::string path;       // the file written (the exporter's temporary name)
  std::string container;  // "webm" or "mp4"
  int width = 0;
  int height = 0;
  int rateNum = 1000;  // frames per second as a fraction: one frame per 33 ms tick
  int rateDen = 33;
  bool audio = false;  // a sound track of 44 100 Hz stereo 16-bit samples follows the pictures
};

class VideoEncoder {
 public:
  virtual ~VideoEncoder() = default;
  // Appends the top left part of the format's size of `picture` (pixels 0x00RRGGBB, at least
  // that size), shown from `startMs` for `durationMs`. 0, or -1 with Error() set.
  virtual int AddFrame(const Bitmap32& picture, std::int64_t startMs, int durationMs) = 0;
  // Appends `frames` sample frames of the sound track. 0, or -1 with Error() set.
  virtual int AddAudio(const std::int16_t* samples, int frames) = 0;
  // Ends the streams and completes the file. 0, or -1 with Error() set.
  virtual int Finish() = 0;
  virtual std::string Error() const = 0;
};

// The shell's encoders. `Missing` names what must be installed for a container ("" when all is
// there); `Make` opens an encoder, or gives null and the reason.
struct VideoBackend {
  std::function<std::string(const std::string& container)> Missing;
  std::function<std::unique_ptr<VideoEncoder>(const VideoFormat&, std::string* error)> Make;
};
