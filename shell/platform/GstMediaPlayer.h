// Music and movies played by a GStreamer playbin of their own, one pipeline per open file. The
// pipeline calls back into nothing that this thread may hold (a movie's frames are only handed
// over), so opening, seeking and stopping from the caller's thread cannot lock against its
// streaming threads; everything else it reports is read from its bus when asked.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

typedef struct _GstElement GstElement;

class GstMediaPlayer {
 public:
  // Receives each decoded video frame, 32-bit pixels (blue, green, red, unused byte), on a
  // streaming thread.
  using FrameSink =
      std::function<void(const std::uint8_t* pixels, int width, int height, int stride)>;

  GstMediaPlayer() = default;
  GstMediaPlayer(const GstMediaPlayer&) = delete;
  GstMediaPlayer& operator=(const GstMediaPlayer&) = delete;
  ~GstMediaPlayer() { Close(); }

  // Starts loading `path` (closing what was open). With `sound` off the sound goes nowhere but
  // still runs at its own pace. Without `frames` only the sound is decoded, never a picture.
  // -1, with nothing left open, when the file cannot even start loading.
  int Start(const std::string& path, bool sound, FrameSink frames = nullptr);
  // Waits up to `ms` for the loading to finish: 1 loaded, 0 still loading, -1 failed.
  int WaitLoaded(int ms);
  // The length in milliseconds, 0 while unknown (some MP3 files tell it only while playing).
  long long LengthMs() const;
  // The size of the loaded video, false when there is none that decodes.
  bool VideoSize(int* width, int* height) const;
  // Plays from the start, or on from where it was loaded.
  int Play();
  // Stops and goes back to the start; the file stays open for the next Play.
  void Stop();
  void Close();
  bool IsOpen() const { return pipeline_ != nullptr; }
  // True while Play's media runs: not stopped, not at the end and no error seen.
  bool Running();
  // Why the last Start or load failed, or the error that ended playing.
  const std::string& Error() const { return error_; }

 private:
  void ReadBus();

  GstElement* pipeline_ = nullptr;
  GstElement* videoSink_ = nullptr;  // owned by the pipeline
  FrameSink* frames_ = nullptr;      // owned here while a movie is open
  bool running_ = false;
  bool ended_ = false;  // end of stream or an error came since the last Play
  std::string error_;
};
