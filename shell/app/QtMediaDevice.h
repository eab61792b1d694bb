// The media device: music and movies through a GStreamer player of its own, movies shown in a
// video widget placed in the saver window. One file is open at a time.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QRect>
#include <functional>
#include <string>

#include "app/MediaDevice.h"
#include "shell/platform/GstMediaPlayer.h"

class QVideoSink;
class QVideoWidget;
class QWidget;

// Chooses the GStreamer backend of Qt Multimedia, which the video widget draws through (the
// ffmpeg backend of Qt 6.4 crashes without a sound device). Must run before the application
// object exists; an explicit QT_MEDIA_BACKEND wins.
void SelectMediaBackend();

class QtMediaDevice : public QObject, public MediaDevice {
  Q_OBJECT

 public:
  // Movies are shown in `display`, which owns the video widget.
  explicit QtMediaDevice(QWidget* display, QObject* parent = nullptr);
  ~QtMediaDevice() override;

  int Open(const std::string& path) override;
  int OpenMusic(const std::string& path) override;
  int Play() override;
  int Stop() override;
  void Close() override;
  bool Stopped() override;
  int VideoSize(int* width, int* height) override;
  int SetDestination(int left, int top, int width, int height) override;
  void SetDisplay(bool on) override;

  // Maps the player's rectangles (in the window picture's pixels) to the display's coordinates.
  void SetDestinationMapper(std::function<QRect(const QRect&)> map) { map_ = std::move(map); }
  // How long Open waits for the media to load before it counts as a failure.
  void SetOpenTimeLimit(int ms) { openLimitMs_ = ms; }
  // True while the device is playing (music or a movie); false after the end or an error.
  bool Playing();
  QRect Destination() const { return destination_; }
  bool VideoShown() const;
  // Where a movie's frames go.
  QVideoSink* VideoSink() const;
  // The open media's length in milliseconds; 0 when nothing is open or it is not known yet.
  long long LengthMs() const { return media_.LengthMs(); }
  // Music is decoded only while the machine has a sound output; this decodes it even without
  // one (tests of the decoding path).
  void SetAudioAlways(bool on);
  // True while the backend itself plays (false for music playing silently on the clock).
  bool Decoding();

 private:
  int Load(const std::string& path, bool sound, GstMediaPlayer::FrameSink frames);
  void UpdateVideoVisibility();
  bool HasSoundOutput() const;
  bool SoundOutput();  // says once on standard error when there is none
  void ShowFrame(const std::uint8_t* pixels, int width, int height, int stride);

  GstMediaPlayer media_;
  QVideoWidget* video_;
  QRect destination_;
  std::function<QRect(const QRect&)> map_;
  bool movie_ = false;  // the open file is a movie
  bool displayOn_ = false;
  bool forceAudio_ = false;
  bool toldNoSound_ = false;
  bool musicSound_ = true;  // the open music goes to a sound output
  bool silent_ = false;     // music "playing" without a sound output: nothing decodes
  qint64 silentLengthMs_ = 0;
  QElapsedTimer silentClock_;
  bool failed_ = false;  // the open media reported an error: nothing will play
  int openLimitMs_ = 5000;
};
