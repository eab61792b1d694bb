// Music played by a GStreamer playbin of its own, one pipeline per open file. The pipeline has
// no callbacks on its streaming threads, so opening, seeking and stopping from the caller's
// thread cannot lock against them; everything it reports is read from its bus when asked.
#pragma once

#include <string>

typedef struct _GstElement GstElement;

class GstMusicPlayer {
 public:
  GstMusicPlayer() = default;
  GstMusicPlayer(const GstMusicPlayer&) = delete;
  GstMusicPlayer& operator=(const GstMusicPlayer&) = delete;
  ~GstMusicPlayer() { Close(); }

  // Starts loading `path` (closing what was open). With `sound` off the music goes nowhere but
  // still runs at its own pace. Only the sound is decoded, never a picture. -1 when no pipeline
  // can be made.
  int Start(const std::string& path, bool sound);
  // Waits up to `ms` for the loading to finish: 1 loaded, 0 still loading, -1 failed.
  int WaitLoaded(int ms);
  // The length in milliseconds, 0 while unknown (some MP3 files tell it only while playing).
  long long LengthMs() const;
  // Plays from the start, or on from where a pause left off.
  int Play();
  // Stops and goes back to the start; the file stays open for the next Play.
  void Stop();
  void Close();
  bool IsOpen() const { return pipeline_ != nullptr; }
  // True while Play's sound runs: not stopped, not at the end and no error seen.
  bool Running();
  // Why the last Start or load failed, or the error that ended playing.
  const std::string& Error() const { return error_; }

 private:
  void ReadBus();

  GstElement* pipeline_ = nullptr;
  bool running_ = false;
  bool ended_ = false;  // end of stream or an error came since the last Play
  std::string error_;
};
