// Playing into a foreign X11 window: the window surface's pixels go to the window with PutImage
// requests on Qt's own xcb connection, in bands that fit the server's request limit.
#include "shell/app/TModuleWin.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <algorithm>

#include "app/CPlayback.h"
#include "app/DisplayGeometry.h"
#include "app/PassDriver.h"
#include "app/SaverObjects.h"
#include "app/WindowSurface.h"
#include "settings/CMainCtl.h"
#include "shell/app/QtMediaDevice.h"
#include "shell/platform/QtShmResource.h"
#include "shell/platform/QtXcb.h"

namespace {

constexpr int kCheckMs = 250;         // how often the window's size is looked at
constexpr int kFullRepaintMs = 1000;  // the whole picture again, for parts another window hid

}  // namespace

int ModuleDisplayMode(int savedMode, QSize window) {
  const bool holdsPicture = window.width() >= kPictureWidth && window.height() >= kPictureHeight;
  if ((savedMode == kDisplayCentred || savedMode == kDisplayWindow) && holdsPicture)
    return kDisplayCentred;
  return kDisplayStretched;
}

TModuleWin::TModuleWin(std::uint64_t windowId, std::function<void(CMainCtl&)> loadSettings,
                       unsigned seed)
    : windowId_(windowId), driver_(PassDriverOptions{std::move(loadSettings), nullptr, seed}) {
  passTimer_.setSingleShot(true);
  passTimer_.setTimerType(Qt::PreciseTimer);
  connect(&passTimer_, &QTimer::timeout, this, &TModuleWin::RunPass);
  checkTimer_.setInterval(kCheckMs);
  connect(&checkTimer_, &QTimer::timeout, this, &TModuleWin::CheckWindow);

  xcb_connection_t* c = XcbConnection();
  const ForeignWindowInfo info = ReadForeignWindow(windowId_);
  // The surface holds 32-bit pixels with 24 bits of colour: what 24- and 32-bit visuals take.
  if (c == nullptr || info.size.isEmpty() || (info.depth != 24 && info.depth != 32)) return;
  size_ = info.size;
  depth_ = info.depth;
  gc_ = xcb_generate_id(c);
  xcb_create_gc(c, gc_, static_cast<std::uint32_t>(windowId_), 0, nullptr);
  shm_ = QtShmResource::Open();
  if (!Build()) return;
  ready_ = true;
  checkTimer_.start();
  passTimer_.start(0);
}

TModuleWin::~TModuleWin() {
  passTimer_.stop();
  checkTimer_.stop();
  objects_.reset();  // stops the music before the device goes
  device_.reset();
  fence_.Wait();  // the server has read the picture before its memory goes
  surface_.reset();
  xcb_connection_t* c = XcbConnection();
  if (gc_ != 0 && c != nullptr) {
    xcb_free_gc(c, gc_);
    xcb_flush(c);
  }
}

CPlayback& TModuleWin::Playback() {
  return objects_->Playback();
}

// Makes the playing objects for the window's present size; the show starts from the beginning.
bool TModuleWin::Build() {
  objects_.reset();
  device_.reset();
  fence_.Wait();
  surface_ = std::make_unique<WindowSurface>(PictureMemory(shm_.get()));
  device_ = std::make_unique<QtMediaDevice>(&videoHost_);
  const QSize size = size_;
  int mode = kDisplayStretched;
  objects_ = std::make_unique<SaverObjects>(
      device_.get(),
      [this, size, &mode](CMainCtl& s) {
        driver_.LoadSettings(s);
        mode = ModuleDisplayMode(s.GetDspMode(), size);
        s.SetDspMode(mode);  // for this run only; nothing is saved
      },
      surface_.get());
  mode_ = mode;
  if (!objects_->Layout(size_.width(), size_.height())) return false;
  objects_->PrepareShows(driver_.Seed());
  // No logo and no timer: nobody can switch them off here, and the saver's own look is wanted.
  Playback().PaceForDisplay();
  Playback().Begin(false, false);
  objects_->Window->AddDamage(0, 0, objects_->Window->Width(), objects_->Window->Height());
  driver_.Drive(&Playback());
  return true;
}

void TModuleWin::RunPass() {
  if (!objects_) return;
  const std::int32_t now = driver_.Now();
  if (!driver_.Due(now)) {
    passTimer_.start(driver_.Delay(now));
    return;
  }
  driver_.Pass(now);
  // The changed parts each on their own, as the saver's window puts them: two sprites far apart
  // do not send the picture between them.
  const DamageParts d = objects_->Window->TakeDamageParts();
  if (now - lastFull_ >= kFullRepaintMs) {
    lastFull_ = now;
    const RectXYWH whole{0, 0, objects_->Window->Width(), objects_->Window->Height()};
    Put(&whole, 1);
  } else {
    Put(d.part, d.count);
  }
  passTimer_.start(driver_.Delay(driver_.Now()));
}

// From shared memory where the picture lies in a segment, else through the connection.
void TModuleWin::Put(const RectXYWH* parts, int count) {
  const Bitmap32& pic = objects_->Window->Picture();
  const std::uint32_t seg = shm_ ? shm_->SegmentAt(pic.pixels.data()) : 0;
  bool put = false;
  for (int i = 0; i < count; ++i) {
    const RectXYWH& area = parts[i];
    if (seg == 0) {
      PutBands(area);
      continue;
    }
    const int left = std::max(0, area.x), top = std::max(0, area.y);
    const int right = std::min(pic.width, area.x + area.width);
    const int bottom = std::min(pic.height, area.y + area.height);
    if (right <= left || bottom <= top) continue;
    XcbShmPut(static_cast<std::uint32_t>(windowId_), gc_, static_cast<std::uint8_t>(depth_), seg,
              pic.width, pic.height, left, top, right - left, bottom - top);
    put = true;
  }
  if (put) fence_.Mark();
}

// One PutImage per band of rows, each within the server's request limit.
void TModuleWin::PutBands(const RectXYWH& area) {
  xcb_connection_t* c = XcbConnection();
  const Bitmap32& pic = objects_->Window->Picture();
  const int left = std::max(0, area.x), top = std::max(0, area.y);
  const int right = std::min(pic.width, area.x + area.width);
  const int bottom = std::min(pic.height, area.y + area.height);
  if (right <= left || bottom <= top) return;
  const int w = right - left;
  const std::uint32_t maxBytes = xcb_get_maximum_request_length(c) * 4u;
  const std::uint32_t rowBytes = static_cast<std::uint32_t>(w) * 4u;
  const int bandRows = static_cast<int>(std::max<std::uint32_t>(1, (maxBytes - 64) / rowBytes));
  std::vector<std::uint32_t> band;
  for (int y = top; y < bottom; y += bandRows) {
    const int rows = std::min(bandRows, bottom - y);
    band.resize(static_cast<size_t>(w) * rows);
    for (int r = 0; r < rows; ++r) {
      const std::uint32_t* src = pic.pixels.data() + static_cast<size_t>(y + r) * pic.width + left;
      std::copy(src, src + w, band.data() + static_cast<size_t>(r) * w);
    }
    xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, static_cast<std::uint32_t>(windowId_), gc_,
                  static_cast<std::uint16_t>(w), static_cast<std::uint16_t>(rows),
                  static_cast<std::int16_t>(left), static_cast<std::int16_t>(y), 0,
                  static_cast<std::uint8_t>(depth_), static_cast<std::uint32_t>(band.size() * 4),
                  reinterpret_cast<const std::uint8_t*>(band.data()));
  }
  xcb_flush(c);
}

// A window that changed size gets the show again at the new size; a window that is gone ends
// the program (the screen saver has closed it).
void TModuleWin::CheckWindow() {
  const ForeignWindowInfo info = ReadForeignWindow(windowId_);
  if (info.size.isEmpty()) {
    passTimer_.stop();
    checkTimer_.stop();
    objects_.reset();
    QCoreApplication::exit(0);
    return;
  }
  if (info.size == size_) return;
  size_ = info.size;
  if (!Build()) {
    QCoreApplication::exit(0);
    return;
  }
  passTimer_.start(0);
}
