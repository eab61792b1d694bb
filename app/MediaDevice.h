// The media device the music and movie player drives: one device for both, as a media control.
#pragma once

#include <string>

class MediaDevice {
 public:
  virtual ~MediaDevice() = default;
  // Opens a file (closing whatever was open first). 0, or -1 when the device reports an error.
  virtual int Open(const std::string& path) = 0;
  // Opens a music file: as Open, but only its sound is wanted (a device may then play it without
  // decoding where nobody can hear it).
  virtual int OpenMusic(const std::string& path) { return Open(path); }
  virtual int Play() = 0;
  virtual int Stop() = 0;
  virtual void Close() = 0;
  // True when the device is in the stopped mode (a movie reached its end, or nothing plays).
  virtual bool Stopped() = 0;
  // The open movie's own size; -1 when it has no video that can be shown.
  virtual int VideoSize(int* width, int* height) = 0;
  // Where the movie is shown in the window's client area; a zero size means its own size.
  virtual int SetDestination(int left, int top, int width, int height) = 0;
  // Whether the movie is shown in the window at all (off when closing a movie).
  virtual void SetDisplay(bool on) = 0;
};

// A device that accepts every file and plays nothing (headless rendering, tests).
class SilentMediaDevice : public MediaDevice {
 public:
  int Open(const std::string&) override { return 0; }
  int Play() override { return 0; }
  int Stop() override { return 0; }
  void Close() override {}
  bool Stopped() override { return true; }
  int VideoSize(int*, int*) override { return -1; }
  int SetDestination(int, int, int, int) override { return 0; }
  void SetDisplay(bool) override {}
};
