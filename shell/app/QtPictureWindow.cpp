// Putting the picture on the screen from shared memory.
#include "shell/app/QtPictureWindow.h"

#include <QPaintEvent>
#include <QRegion>
#include <QWindow>

#include "render/Bitmap.h"
#include "shell/platform/QtShmResource.h"
#include "shell/platform/QtXcb.h"

QtPictureWindow* QtPictureWindow::Create(QWidget* parent, const QRect& area,
                                         const Bitmap32& picture, const QtShmResource& memory) {
  if (area.isEmpty() || area.topLeft() != QPoint(0, 0) ||
      !QRect(0, 0, picture.width, picture.height).contains(area))
    return nullptr;
  const std::uint32_t segment = memory.SegmentAt(picture.pixels.data());
  if (segment == 0) return nullptr;
  auto* w = new QtPictureWindow(parent, picture, segment);
  w->setGeometry(area);
  if (!w->Realise()) {
    delete w;
    return nullptr;
  }
  return w;
}

QtPictureWindow::QtPictureWindow(QWidget* parent, const Bitmap32& picture, std::uint32_t segment)
    : QWidget(parent), picture_(picture), segment_(segment) {
  setAttribute(Qt::WA_NativeWindow);
  setAttribute(Qt::WA_PaintOnScreen);
  setAttribute(Qt::WA_NoSystemBackground);
  setAttribute(Qt::WA_OpaquePaintEvent);
  // Input goes to the saver window underneath, as if the picture were painted there.
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setFocusPolicy(Qt::NoFocus);
}

QtPictureWindow::~QtPictureWindow() {
  xcb_connection_t* c = XcbConnection();
  if (gc_ != 0 && c != nullptr) {
    Settle();
    xcb_free_gc(c, gc_);
    xcb_flush(c);
  }
}

// Makes the X window and a graphics context for it; false unless its depth is 24, the one that
// takes the picture's pixels as they are (in a 32-bit window their unused byte would be an alpha
// of zero, and a compositing desktop would show the picture as glass).
bool QtPictureWindow::Realise() {
  xcb_connection_t* c = XcbConnection();
  if (c == nullptr) return false;
  window_ = static_cast<std::uint32_t>(winId());
  if (window_ == 0) return false;
  // The X server sends pointer events to the window under the pointer. This one takes none (an
  // empty input shape, no pointer events selected), so they reach the saver window beneath it.
  if (QWindow* handle = windowHandle()) handle->setFlag(Qt::WindowTransparentForInput);
  depth_ = static_cast<std::uint8_t>(ReadForeignWindow(window_).depth);
  if (depth_ != 24) return false;
  gc_ = xcb_generate_id(c);
  xcb_create_gc(c, gc_, window_, 0, nullptr);
  return true;
}

void QtPictureWindow::Present(const QRegion& region) {
  const QRegion inside = region & rect();
  Present(inside.begin(), static_cast<int>(inside.end() - inside.begin()));
}

void QtPictureWindow::Present(const QRect* rects, int count) {
  // Small parts (the timer's text, a caption's line) go inside their requests, so a pass that
  // changes nothing else needs no round trip; the rest is read from shared memory after the
  // call, and the fence says when.
  bool shared = false, any = false;
  for (int i = 0; i < count; ++i) {
    const QRect r = rects[i] & rect();
    if (r.isEmpty()) continue;
    any = true;
    if (XcbInlinePut(window_, gc_, depth_, picture_.pixels.data(), picture_.width, r.x(), r.y(),
                     r.width(), r.height()))
      continue;
    shared = true;
    XcbShmPut(window_, gc_, depth_, segment_, picture_.width, picture_.height, r.x(), r.y(),
              r.width(), r.height());
  }
  if (!any) return;
  if (shared) {
    fence_.Mark();
  } else {
    xcb_flush(XcbConnection());
  }
  ++presents_;
}

void QtPictureWindow::Settle() {
  fence_.Wait();
}

// The server asks for what it lost (the window was mapped, uncovered or moved).
void QtPictureWindow::paintEvent(QPaintEvent* event) {
  Present(event->region());
  if (OnExposed) OnExposed(event->region());
}
