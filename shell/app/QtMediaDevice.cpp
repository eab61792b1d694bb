// Music and movies over GStreamer; a movie's frames are shown by a Qt video widget.
#include "shell/app/QtMediaDevice.h"

#include <QAudioDevice>
#include <QCoreApplication>
#include <QEventLoop>
#include <QMediaDevices>
#include <QMetaObject>
#include <QVideoFrame>
#include <QVideoFrameFormat>
#include <QVideoSink>
#include <QVideoWidget>
#include <QWidget>
#include <cstdio>
#include <cstring>

namespace {

// How long one wait for media to load blocks before pending events are handled.
constexpr int kLoadWaitSliceMs = 10;

}  // namespace

void SelectMediaBackend() {
  if (!qEnvironmentVariableIsSet("QT_MEDIA_BACKEND")) qputenv("QT_MEDIA_BACKEND", "gstreamer");
}

QtMediaDevice::QtMediaDevice(QWidget* display, QObject* parent)
    : QObject(parent), video_(new QVideoWidget(display)) {
  video_->setAspectRatioMode(Qt::IgnoreAspectRatio);
  video_->setAttribute(Qt::WA_TransparentForMouseEvents);
  video_->hide();
}

// The pipeline stops (and with it every streaming thread) before the widget goes.
QtMediaDevice::~QtMediaDevice() {
  media_.Close();
}

bool QtMediaDevice::HasSoundOutput() const {
  return forceAudio_ || !QMediaDevices::audioOutputs().isEmpty();
}

// Without a sound output nobody hears the music, so it is not decoded at all (a MIDI
// synthesiser or an MP3 decoder would otherwise keep a processor busy for nothing): a music
// file still opens, which finds broken files, and then "plays" on a clock for its length. A
// file that has not told its length yet is played into a sink that drops the sound on the
// clock, so it still ends. Movies always play. A device plugged in later is used from the next
// opening on.
bool QtMediaDevice::SoundOutput() {
  if (HasSoundOutput()) return true;
  if (!toldNoSound_) std::fputs("ondrelix: no sound output; music is not played.\n", stderr);
  toldNoSound_ = true;
  return false;
}

void QtMediaDevice::SetAudioAlways(bool on) {
  forceAudio_ = on;
}

bool QtMediaDevice::Decoding() {
  return !silent_ && media_.Running();
}

// Opens a movie. Its frames are copied on the streaming thread and shown on this one; no frame
// comes once the pipeline is closed, which the destructor does first.
int QtMediaDevice::Open(const std::string& path) {
  Close();
  const int r =
      Load(path, HasSoundOutput(),
           [this](const std::uint8_t* p, int w, int h, int stride) { ShowFrame(p, w, h, stride); });
  movie_ = r == 0;
  UpdateVideoVisibility();
  return r;
}

// Music and movies play through a pipeline of their own rather than QMediaPlayer: opening a
// file there seeks on this thread while a streaming thread connects the outputs, and the two can
// lock each other for good (seen with MP3 files and AVI movies opened one after another).
int QtMediaDevice::OpenMusic(const std::string& path) {
  Close();
  musicSound_ = SoundOutput();
  return Load(path, musicSound_, nullptr);
}

// Waits, with events running but user input held back (no window handler runs in the middle of
// the caller's work), until the media is loaded or has failed.
int QtMediaDevice::Load(const std::string& path, bool sound, GstMediaPlayer::FrameSink frames) {
  if (media_.Start(path, sound, std::move(frames)) != 0) {
    failed_ = true;
    return -1;
  }
  QElapsedTimer waited;
  waited.start();
  int loaded = 0;
  while ((loaded = media_.WaitLoaded(kLoadWaitSliceMs)) == 0 && waited.elapsed() < openLimitMs_)
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
  if (loaded != 1) {
    media_.Close();
    failed_ = true;
    return -1;
  }
  failed_ = false;
  return 0;
}

void QtMediaDevice::ShowFrame(const std::uint8_t* pixels, int width, int height, int stride) {
  QVideoFrame frame(QVideoFrameFormat(QSize(width, height), QVideoFrameFormat::Format_BGRX8888));
  if (!frame.map(QVideoFrame::WriteOnly)) return;
  const int bytes = width * 4;
  for (int y = 0; y < height; ++y)
    std::memcpy(frame.bits(0) + static_cast<qsizetype>(y) * frame.bytesPerLine(0),
                pixels + static_cast<qsizetype>(y) * stride, bytes);
  frame.unmap();
  QMetaObject::invokeMethod(
      this, [this, frame] { video_->videoSink()->setVideoFrame(frame); }, Qt::QueuedConnection);
}

int QtMediaDevice::Play() {
  if (failed_ || !media_.IsOpen()) return -1;
  silentLengthMs_ = movie_ ? 0 : media_.LengthMs();
  if (!movie_ && !musicSound_ && silentLengthMs_ > 0) {
    silent_ = true;
    silentClock_.start();
    return 0;
  }
  silent_ = false;
  return media_.Play();
}

int QtMediaDevice::Stop() {
  silent_ = false;
  media_.Stop();
  return 0;
}

void QtMediaDevice::Close() {
  silent_ = false;
  media_.Close();
  movie_ = false;
  failed_ = false;
  UpdateVideoVisibility();
}

// An error counts as stopped, so a movie that broke while playing ends instead of standing
// forever. Silent music ends when its length has gone by.
bool QtMediaDevice::Stopped() {
  if (silent_) return silentClock_.elapsed() >= silentLengthMs_;
  return !media_.Running();
}

bool QtMediaDevice::Playing() {
  if (silent_) return silentClock_.elapsed() < silentLengthMs_;
  return media_.Running();
}

// A movie whose video stream cannot be decoded loads with its sound alone: no size.
int QtMediaDevice::VideoSize(int* width, int* height) {
  if (failed_ || !movie_) return -1;
  return media_.VideoSize(width, height) ? 0 : -1;
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

QVideoSink* QtMediaDevice::VideoSink() const {
  return video_->videoSink();
}

// The video widget covers the window's picture only while a movie with video is on display.
void QtMediaDevice::UpdateVideoVisibility() {
  int w = 0, h = 0;
  const bool show = displayOn_ && !failed_ && movie_ && media_.VideoSize(&w, &h);
  if (show == !video_->isHidden()) return;
  if (show) video_->videoSink()->setVideoFrame(QVideoFrame());  // no frame of the last movie
  video_->setVisible(show);
  if (show) video_->raise();
}
