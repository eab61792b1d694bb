// Background music and interval movies over one media device.
#include "app/CMPlayer.h"

#include <cstring>

#include "settings/CMainCtl.h"

namespace {

// The largest picture a movie is shown at; smaller movies keep their own size.
constexpr double kMovieMaxWidth = 640.0;
constexpr double kMovieMaxHeight = 480.0;

}  // namespace

// A name from a script, resolved in the data folder (case and "\" forgiven); the plain joined
// path when nothing matches, so the device reports the missing file itself.
static std::string MusicPath(CMainCtl* settings, const std::string& name) {
  std::string path = settings->ResolvePath(name);
  if (path.empty()) path = settings->FullPath(name);
  return path;
}

int CMPlayer::Preload(const std::string& name) {
  if (device_->OpenMusic(MusicPath(settings_, name)) != 0) {
    Enabled = 0;
    return -1;
  }
  MusicOpen = 1;
  return 0;
}

int CMPlayer::HandleBgm(const CTimeBgm& entry) {
  if (Enabled == 0) return 0;
  switch (entry.Switch) {
    case kBgmStart: {
      // A file that cannot be opened here turns music off, as a failed advance opening does.
      const std::string name(entry.FileName, strnlen(entry.FileName, sizeof entry.FileName));
      if (device_->OpenMusic(MusicPath(settings_, name)) != 0) {
        Enabled = 0;
        return -1;
      }
      device_->Play();
      return 0;
    }
    case kBgmStartPreloaded:
      device_->Play();
      return 0;
    case kBgmStop:
      device_->Stop();
      return 0;
    default:
      return -1;
  }
}

void CMPlayer::StopMusic() {
  if (MusicOpen == 1) device_->Stop();
  device_->Close();
  MusicOpen = 0;
}

int CMPlayer::PlayMovie(const std::string& path, int clientWidth, int clientHeight) {
  device_->SetDisplay(true);
  device_->SetDestination(0, 0, 0, 0);
  int w = 0;
  int h = 0;
  if (device_->Open(path) != 0 || device_->VideoSize(&w, &h) != 0 || w <= 0 || h <= 0) {
    // No movie to show: leave the device closed and off the window.
    CloseMovie();
    return -1;
  }
  const double sx = kMovieMaxWidth / w;
  const double sy = kMovieMaxHeight / h;
  int width = w;
  int height = h;
  if (sx < 1 || sy < 1) {
    const double s = sx >= sy ? sy : sx;
    width = static_cast<int>(w * s);
    height = static_cast<int>(h * s);
  }
  const int left = (clientWidth - width) / 2;
  const int top = (clientHeight - height) / 2;
  if (device_->SetDestination(left, top, width, height) != 0 || device_->Play() != 0) {
    CloseMovie();
    return -1;
  }
  return 0;
}

bool CMPlayer::MovieStopped() {
  return device_->Stopped();
}

void CMPlayer::CloseMovie() {
  device_->SetDisplay(false);
  device_->Close();
}
