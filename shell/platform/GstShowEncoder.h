// The show exporter's encoder: a GStreamer pipeline from application sources through VP8 and
// Vorbis into WebM, or H.264 and AAC into MP4.
#pragma once

#include <memory>
#include <string>

#include "app/VideoEncoder.h"

typedef struct _GstElement GstElement;

class GstShowEncoder : public VideoEncoder {
 public:
  ~GstShowEncoder() override;
  // Builds and starts the pipeline; null and the reason when it cannot.
  static std::unique_ptr<VideoEncoder> Make(const VideoFormat& format, std::string* error);
  // What a container needs that is not installed: "" when nothing is missing, else a message
  // that names the Debian package to install.
  static std::string Missing(const std::string& container);

  int AddFrame(const Bitmap32& picture, std::int64_t startMs, int durationMs) override;
  int AddAudio(const std::int16_t* samples, int frames) override;
  int Finish() override;
  std::string Error() const override { return error_; }

 private:
  GstShowEncoder() = default;
  bool Failed();

  VideoFormat format_;
  GstElement* pipeline_ = nullptr;
  GstElement* video_ = nullptr;
  GstElement* audio_ = nullptr;
  std::uint64_t audioFrames_ = 0;
  std::string error_;
};

// The exporter's backend over this encoder.
VideoBackend GstVideoBackend();
