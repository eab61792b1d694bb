// The music of a show as a sound track: a media device that notes when the player starts and
// stops each file on the show's clock, and renders what a listener would have heard then.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/MediaDevice.h"

// The track's sample format: 44 100 sample frames a second, 2 channels interleaved, 16-bit.
inline constexpr int kTrackRate = 44100;
inline constexpr int kTrackChannels = 2;

// Decodes a music file (WAV, MP3, MIDI) into the track's format.
class AudioDecoder {
 public:
  virtual ~AudioDecoder() = default;
  // The whole file as interleaved samples; 0, or -1 when it cannot be decoded.
  virtual int Decode(const std::string& path, std::vector<std::int16_t>* samples) = 0;
};

// The first sample frame at or after `ms` on the track.
std::int64_t TrackFrameAt(std::int64_t ms);

class MusicTrack : public MediaDevice {
 public:
  // `clockMs` reads the show's clock: the time on the track of the call being made.
  MusicTrack(AudioDecoder* decoder, std::function<std::int64_t()> clockMs);

  // A file is decoded when it is opened (each file once): one that cannot be decoded fails to
  // open, as it would on the saver's device, which turns the show's music off.
  int Open(const std::string& path) override;
  // Starts the open file from its beginning; a file already playing goes on.
  int Play() override;
  int Stop() override;
  void Close() override;
  bool Stopped() override;
  int VideoSize(int*, int*) override { return -1; }
  int SetDestination(int, int, int, int) override { return 0; }
  void SetDisplay(bool) override {}

  // True once any music was started.
  bool Played() const { return !clips_.empty(); }
  // Writes `count` sample frames from frame `from` on (silence where no music plays). Calls
  // must come in the track's order: the clips that end before `from` are let go.
  void Render(std::int64_t from, int count, std::int16_t* out);

 private:
  // One file playing from frame `start` until frame `end` (or its own end).
  struct Clip {
    const std::vector<std::int16_t>* samples;
    std::int64_t start;
    std::int64_t end;
  };

  void EndClip();

  AudioDecoder* decoder_;
  std::function<std::int64_t()> clockMs_;
  std::map<std::string, std::vector<std::int16_t>> decoded_;
  const std::vector<std::int16_t>* open_ = nullptr;
  bool playing_ = false;
  std::vector<Clip> clips_;
  size_t firstLive_ = 0;  // clips before this one end before the last frame rendered
};
