// Qt Multimedia behind the music and movie player.
#include "shell/app/QtMediaDevice.h"

#include <QAudioDevice>
#include <QAudioOutput>
#include <QCoreApplication>
#include <QEventLoop>
#include <QMediaDevices>
#include <QMediaMetaData>
#include <QMediaPlayer>
#include <QTimer>
#include <QUrl>
#include <QVideoSink>
#include <QVideoWidget>
#include <QWidget>
#include <cstdio>

namespace {

// How long one wait for music to load blocks before pending events are handled.
constexpr int kMusicWaitSliceMs = 10;

}  // namespace

void SelectMediaBackend() {
  if (!qEnvironmentVariableIsSet("QT_MEDIA_BACKEND")) qputenv("QT_MEDIA_BACKEND", "gstreamer");
}

QtMediaDevice::QtMediaDevice(QWidget* display, QObject* parent)
    : QObject(parent),
      player_(new QMediaPlayer(this)),
      audio_(new QAudioOutput(this)),
      video_(new QVideoWidget(display)) {
  player_->setAudioOutput(audio_);
  player_->setVideoOutput(video_);
  video_->setAspectRatioMode(Qt::IgnoreAspectRatio);
  video_->setAttribute(Qt::WA_TransparentForMouseEvents);
  video_->hide();
  connect(player_, &QMediaPlayer::errorOccurred, this, [this] { failed_ = true; });
}

QtMediaDevice::~QtMediaDevice() {
  player_->stop();
}

// Without a sound output nobody hears the music, so it is not decoded at all (a MIDI
// synthesiser or an MP3 decoder would otherwise keep a processor busy for nothing): a music
// file still opens, which finds broken files, and then "plays" on a clock for its length. A
// file that has not told its length yet is played into a sink that drops the sound on the
// clock, so it still ends. Movies always play. A device plugged in later is used from the next
// opening on.
bool QtMediaDevice::SoundOutput() {
  if (forceAudio_ || !QMediaDevices::audioOutputs().isEmpty()) return true;
  if (!toldNoSound_) std::fputs("ondrelix: no sound output; music is not played.\n", stderr);
  toldNoSound_ = true;
  return false;
}

void QtMediaDevice::SetAudioAlways(bool on) {
  forceAudio_ = on;
}

bool QtMediaDevice::Decoding() {
  if (silent_) return false;
  if (music_.IsOpen()) return music_.Running();
  return player_->playbackState() == QMediaPlayer::PlayingState;
}

// Music does not go through QMediaPlayer: its backend connects the sound output from a streaming
// thread while the opening thread seeks to the start, and the two can lock each other for good
// (seen with MP3 files opened one after another). The music player's own pipeline has no such
// callbacks. The wait keeps events running, without user input, as Open does.
int QtMediaDevice::OpenMusic(const std::string& path) {
  Close();
  musicSound_ = SoundOutput();
  if (music_.Start(path, musicSound_) != 0) {
    failed_ = true;
    return -1;
  }
  QElapsedTimer waited;
  waited.start();
  int loaded = 0;
  while ((loaded = music_.WaitLoaded(kMusicWaitSliceMs)) == 0 && waited.elapsed() < openLimitMs_)
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  if (loaded != 1) {
    music_.Close();
    failed_ = true;
    return -1;
  }
  failed_ = false;
  return 0;
}

// Waits, with events running, until the media is loaded or has failed. User input is held back
// so no window handler runs in the middle of the caller's work. The backend keeps one pipeline
// for every source, so messages of the previous file are let through first, and the outcome is
// read from the new file's status alone.
int QtMediaDevice::Open(const std::string& path) {
  Close();
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  failed_ = false;
  QEventLoop loop;
  QTimer limit;
  limit.setSingleShot(true);
  auto settled = [this] {
    const auto s = player_->mediaStatus();
    return s == QMediaPlayer::LoadedMedia || s == QMediaPlayer::BufferedMedia ||
           s == QMediaPlayer::InvalidMedia || s == QMediaPlayer::EndOfMedia;
  };
  connect(player_, &QMediaPlayer::mediaStatusChanged, &loop, [&] {
    if (settled()) loop.quit();
  });
  connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
  player_->setSource(QUrl::fromLocalFile(QString::fromStdString(path)));
  if (!settled()) {
    limit.start(openLimitMs_);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
  }
  const auto s = player_->mediaStatus();
  if (s != QMediaPlayer::LoadedMedia && s != QMediaPlayer::BufferedMedia) {
    failed_ = true;
    return -1;
  }
  failed_ = false;
  UpdateVideoVisibility();
  return 0;
}

int QtMediaDevice::Play() {
  if (failed_) return -1;
  if (music_.IsOpen()) return PlayMusic();
  if (player_->source().isEmpty()) return -1;
  silent_ = false;
  player_->play();
  return failed_ ? -1 : 0;
}

int QtMediaDevice::PlayMusic() {
  silentLengthMs_ = music_.LengthMs();
  if (!musicSound_ && silentLengthMs_ > 0) {
    silent_ = true;
    silentClock_.start();
    return 0;
  }
  silent_ = false;
  return music_.Play();
}

int QtMediaDevice::Stop() {
  silent_ = false;
  if (music_.IsOpen()) {
    music_.Stop();
    return 0;
  }
  player_->stop();
  return 0;
}

void QtMediaDevice::Close() {
  silent_ = false;
  music_.Close();
  if (!player_->source().isEmpty()) {
    player_->stop();
    player_->setSource(QUrl());
  }
  failed_ = false;
  UpdateVideoVisibility();
}

// A failed media never reaches the stopped mode by itself in the backend; it counts as stopped
// so a movie that broke while playing ends instead of standing forever. Silent music ends when
// its length has gone by.
bool QtMediaDevice::Stopped() {
  if (silent_) return silentClock_.elapsed() >= silentLengthMs_;
  if (music_.IsOpen()) return !music_.Running();
  return failed_ || player_->playbackState() == QMediaPlayer::StoppedState;
}

bool QtMediaDevice::Playing() {
  if (silent_) return silentClock_.elapsed() < silentLengthMs_;
  if (music_.IsOpen()) return music_.Running();
  return !failed_ && player_->playbackState() == QMediaPlayer::PlayingState;
}

// A movie whose video stream cannot be decoded loads as media without video: no size.
int QtMediaDevice::VideoSize(int* width, int* height) {
  if (failed_ || !player_->hasVideo()) return -1;
  QSize size = player_->metaData().value(QMediaMetaData::Resolution).toSize();
  if (!size.isValid()) {
    const auto tracks = player_->videoTracks();
    if (!tracks.isEmpty()) size = tracks.first().value(QMediaMetaData::Resolution).toSize();
  }
  if (!size.isValid() || size.isEmpty()) size = FirstFrameSize();
  if (!size.isValid() || size.isEmpty()) return -1;
  *width = size.width();
  *height = size.height();
  return 0;
}

// Some streams (MJPEG in an AVI) tell no size before they are decoded: the player is paused at
// the start, which decodes the first frame into the sink, and the frame's size is the movie's.
// Play goes on from there.
QSize QtMediaDevice::FirstFrameSize() {
  QVideoSink* sink = video_->videoSink();
  if (sink->videoSize().isValid() && !sink->videoSize().isEmpty()) return sink->videoSize();
  QEventLoop loop;
  QTimer limit;
  limit.setSingleShot(true);
  connect(sink, &QVideoSink::videoSizeChanged, &loop, &QEventLoop::quit);
  connect(player_, &QMediaPlayer::errorOccurred, &loop, &QEventLoop::quit);
  connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
  player_->pause();
  limit.start(openLimitMs_);
  while (!failed_ && limit.isActive() && sink->videoSize().isEmpty())
    loop.exec(QEventLoop::ExcludeUserInputEvents);
  return failed_ ? QSize() : sink->videoSize();
}

int QtMediaDevice::SetDestination(int left, int top, int width, int height) {
  if (width <= 0 || height <= 0) {
    int w = 0, h = 0;
    if (VideoSize(&w, &h) == 0) {
      width = w;
      height = h;
    }
  }
  destination_ = QRect(left, top, qMax(width, 0), qMax(height, 0));
  video_->setGeometry(map_ ? map_(destination_) : destination_);
  return 0;
}

void QtMediaDevice::SetDisplay(bool on) {
  displayOn_ = on;
  UpdateVideoVisibility();
}

bool QtMediaDevice::VideoShown() const {
  return video_->isVisible();
}

// The video widget covers the window's picture only while a movie with video is on display.
void QtMediaDevice::UpdateVideoVisibility() {
  const bool show = displayOn_ && !failed_ && player_->hasVideo();
  if (show == !video_->isHidden()) return;
  video_->setVisible(show);
  if (show) video_->raise();
}
