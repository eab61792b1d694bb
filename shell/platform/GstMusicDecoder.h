// Music files decoded with GStreamer (WAV, MP3, MIDI through the synthesiser plugin) into the
// sound track's format, for the show exporter.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/MusicTrack.h"

typedef struct _GstElement GstElement;
typedef struct _GstMessage GstMessage;

// Initialises GStreamer once per process; false (with the reason) when it cannot start.
bool StartGstreamer(std::string* error);
// The text of an error message.
std::string GstErrorText(GstMessage* message);
// Takes the first error waiting on a pipeline's bus, if any, into `error`.
bool PopGstError(GstElement* pipeline, std::string* error);

class GstMusicDecoder : public AudioDecoder {
 public:
  // Music longer than `maxSeconds` is cut there (it bounds the memory one file takes).
  explicit GstMusicDecoder(int maxSeconds = kMaxSeconds) : maxSeconds_(maxSeconds) {}
  int Decode(const std::string& path, std::vector<std::int16_t>* samples) override;
  // Why the last Decode failed.
  const std::string& Error() const { return error_; }

  static constexpr int kMaxSeconds = 20 * 60;

 private:
  int maxSeconds_;
  std::string error_;
};
