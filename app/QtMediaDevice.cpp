// Qt Multimedia behind the music and movie player.
#include "app/QtMediaDevice.h"

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

void SelectMediaBackend() {
  if (!qEnvironmentVariableIsSet("QT_MEDIA_BACKEND")) qputenv("QT_MEDIA_BACKEND", "gstreamer");
}

QtMediaDevice::QtMediaDevice(QWidget* display, QObject* parent)
    : QObject(parent),
      player_(new QMediaPlayer(this)),
      audio_(new QAudioOutput(this)),
      video_(new QVideoWidget(display)),
      devices_(new QMediaDevices(this)) {
  UpdateAudioOutput();
  connect(devices_, &QMediaDevices::audioOutputsChanged, this, &QtMediaDevice::UpdateAudioOutput);
  player_->setVideoOutput(video_);
  video_->setAspectRatioMode(Qt::IgnoreAspectRatio);
  video_->setAttribute(Qt::WA_TransparentForMouseEvents);
  video_->hide();
  connect(player_, &QMediaPlayer::errorOccurred, this, [this] { failed_ = true; });
}

QtMediaDevice::~QtMediaDevice() {
  player_->stop();
}

// Without a sound output a MIDI file plays with no audio sink at all: it still loads, plays and
// ends, but the synthesiser, which would spend several per cent of a core making samples
// nobody hears, never runs. (Sampled music costs little to decode, and some decoders stall
// without a sink, so those keep it.) A device plugged in later is used from the next file on.
void QtMediaDevice::UpdateAudioOutput() {
  const bool any = forceAudio_ || !synthesised_ || !QMediaDevices::audioOutputs().isEmpty();
  if (any == (player_->audioOutput() != nullptr)) return;
  player_->setAudioOutput(any ? audio_ : nullptr);
}

void QtMediaDevice::SetAudioAlways(bool on) {
  forceAudio_ = on;
  UpdateAudioOutput();
}

bool QtMediaDevice::AudioAttached() const {
  return player_->audioOutput() != nullptr;
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
  const QString file = QString::fromStdString(path);
  synthesised_ = file.endsWith(QLatin1String(".mid"), Qt::CaseInsensitive) ||
                 file.endsWith(QLatin1String(".midi"), Qt::CaseInsensitive) ||
                 file.endsWith(QLatin1String(".rmi"), Qt::CaseInsensitive);
  UpdateAudioOutput();
  player_->setSource(QUrl::fromLocalFile(file));
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
  if (failed_ || player_->source().isEmpty()) return -1;
  player_->play();
  return failed_ ? -1 : 0;
}

int QtMediaDevice::Stop() {
  player_->stop();
  return 0;
}

void QtMediaDevice::Close() {
  player_->stop();
  player_->setSource(QUrl());
  failed_ = false;
  UpdateVideoVisibility();
}

// A failed media never reaches the stopped mode by itself in the backend; it counts as stopped
// so a movie that broke while playing ends instead of standing forever.
bool QtMediaDevice::Stopped() {
  return failed_ || player_->playbackState() == QMediaPlayer::StoppedState;
}

bool QtMediaDevice::Playing() const {
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
  if (!size.isValid()) size = video_->videoSink()->videoSize();
  if (!size.isValid() || size.isEmpty()) return -1;
  *width = size.width();
  *height = size.height();
  return 0;
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
