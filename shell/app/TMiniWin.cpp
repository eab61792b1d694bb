// The preview window: a child of the host window, animated by a 33 ms timer.
#include "shell/app/TMiniWin.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QWindow>
#include <cstdlib>

#include "settings/CMainCtl.h"
#include "shell/app/TModuleWin.h"

namespace {

constexpr int kMoveIntervalMs = 33;
constexpr int kHostCheckMs = 1000;
constexpr std::uint8_t kX11DestroyNotify = 17;

// The head of an X11 DestroyNotify event as the xcb platform hands it over.
struct X11DestroyNotify {
  std::uint8_t responseType;
  std::uint8_t pad;
  std::uint16_t sequence;
  std::uint32_t event;
  std::uint32_t window;
};

// Qt cannot read the size of a window another program owns; the module window's reader asks
// the X server. An empty size means there is no such window (or no X11 display).
QSize HostWindowSize(WId id) {
  return ReadForeignWindow(static_cast<std::uint64_t>(id)).size;
}

}  // namespace

TMiniWin::TMiniWin(std::uint64_t hostId, std::uint32_t seed) : seed_(seed) {
  setWindowTitle(QStringLiteral("Ondrelix"));
  setAttribute(Qt::WA_InputMethodEnabled, false);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setWindowFlags(Qt::FramelessWindowHint);
  settings_ = std::make_unique<CMainCtl>();  // not loaded: the preview needs no settings

  QSize size(kPreviewWidth, kPreviewHeight);
  // A host whose size cannot be read is no window we can live in: the stand-in opens instead.
  const QSize hostSize = hostId != 0 ? HostWindowSize(static_cast<WId>(hostId)) : QSize();
  if (!hostSize.isEmpty()) {
    hostId_ = static_cast<WId>(hostId);
    host_ = QWindow::fromWinId(hostId_);
    size = hostSize;
    winId();  // makes the native window, so that it can be given a parent
    windowHandle()->setParent(host_);
    QCoreApplication::instance()->installNativeEventFilter(this);
    hostTimer_.setInterval(kHostCheckMs);
    connect(&hostTimer_, &QTimer::timeout, this, &TMiniWin::CheckHost);
    hostTimer_.start();
  }
  setGeometry(0, 0, size.width(), size.height());
  FormCreate(size.width(), size.height());

  moveTimer_.setInterval(kMoveIntervalMs);
  connect(&moveTimer_, &QTimer::timeout, this, &TMiniWin::MoveTimerTimer);
  moveTimer_.start();
}

TMiniWin::~TMiniWin() {
  if (host_) QCoreApplication::instance()->removeNativeEventFilter(this);
}

// The animation and its bitmap are made at the window's size, so a host area of another size
// than the designed one is filled exactly.
void TMiniWin::FormCreate(int width, int height) {
  if (width <= 0 || height <= 0) return;
  troops_ = std::make_unique<CTroops>(width, height, seed_);
  bitmap_.Create(width, height);
  image_ = QImage(reinterpret_cast<uchar*>(bitmap_.pixels.data()), width, height, width * 4,
                  QImage::Format_RGB32);
  troops_->Draw(bitmap_);
}

void TMiniWin::MoveTimerTimer() {
  if (!troops_) return;
  troops_->Step();
  troops_->Draw(bitmap_);
  update();
}

void TMiniWin::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  if (image_.isNull()) {
    painter.fillRect(event->rect(), Qt::black);
    return;
  }
  painter.drawImage(QRect(0, 0, width(), height()), image_);
}

void TMiniWin::resizeEvent(QResizeEvent* event) {
  if (event->size() != QSize(bitmap_.width, bitmap_.height))
    FormCreate(event->size().width(), event->size().height());
}

// The preview lives as long as the host's window: when the host destroys it, ours goes with it.
bool TMiniWin::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
  if (eventType != "xcb_generic_event_t" || message == nullptr) return false;
  const auto* e = static_cast<const X11DestroyNotify*>(message);
  if ((e->responseType & 0x7F) != kX11DestroyNotify) return false;
  if (e->window == static_cast<std::uint32_t>(winId()) ||
      e->window == static_cast<std::uint32_t>(hostId_))
    HostGone();
  return false;
}

// Follows the host's size, and ends when the host is gone (in case its destruction was missed).
void TMiniWin::CheckHost() {
  const QSize s = HostWindowSize(hostId_);
  if (s.isEmpty()) {
    HostGone();
    return;
  }
  if (s != size()) setGeometry(0, 0, s.width(), s.height());
}

void TMiniWin::HostGone() {
  moveTimer_.stop();
  hostTimer_.stop();
  QCoreApplication::exit(0);  // quit() would first ask windows to close, and ours has no host
}
