// Putting the picture on the screen from shared memory.
#include "shell/app/QtPictureWindow.h"

#include <QCoreApplication>
#include <QPaintEvent>
#include <QRegion>
#include <QWindow>
#include <cstdlib>

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
  if (QCoreApplication* app = QCoreApplication::instance()) app->removeNativeEventFilter(this);
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
  // No event for each move: a move is made only while nothing covers the window, so the server
  // always has the pixels it copies.
  const std::uint32_t noExposures = 0;
  xcb_create_gc(c, gc_, window_, XCB_GC_GRAPHICS_EXPOSURES, &noExposures);
  // The server says when another window comes to cover this one, or leaves it.
  xcb_get_window_attributes_reply_t* a =
      xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window_), nullptr);
  if (a != nullptr) {
    const std::uint32_t mask = a->your_event_mask | XCB_EVENT_MASK_VISIBILITY_CHANGE;
    xcb_change_window_attributes(c, window_, XCB_CW_EVENT_MASK, &mask);
    std::free(a);
    QCoreApplication::instance()->installNativeEventFilter(this);
  }
  return true;
}

void QtPictureWindow::Present(const QRegion& region) {
  const QRegion inside = region & rect();
  Present(inside.begin(), static_cast<int>(inside.end() - inside.begin()));
}

void QtPictureWindow::Move(const QRect& area, int dx, int dy) {
  const QRect from = area & area.translated(-dx, -dy) & rect();
  const QRect to = from.translated(dx, dy) & rect();
  if (to.isEmpty()) return;
  xcb_copy_area(XcbConnection(), window_, window_, gc_, static_cast<std::int16_t>(to.x() - dx),
                static_cast<std::int16_t>(to.y() - dy), static_cast<std::int16_t>(to.x()),
                static_cast<std::int16_t>(to.y()), static_cast<std::uint16_t>(to.width()),
                static_cast<std::uint16_t>(to.height()));
  moved_ = true;
  ++moves_;
}

bool QtPictureWindow::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
  if (eventType != "xcb_generic_event_t") return false;
  const auto* e = static_cast<const xcb_generic_event_t*>(message);
  if ((e->response_type & 0x7F) != XCB_VISIBILITY_NOTIFY) return false;
  const auto* v = static_cast<const xcb_visibility_notify_event_t*>(message);
  if (v->window != window_) return false;
  const bool unobscured = v->state == XCB_VISIBILITY_UNOBSCURED;
  if (unobscured != unobscured_) {
    unobscured_ = unobscured;
    if (OnUnobscured) OnUnobscured(unobscured);
  }
  return false;
}

void QtPictureWindow::Present(const QRect* rects, int count) {
  // Small parts (the timer's text, a caption's line) go inside their requests, so a pass that
  // changes nothing else needs no round trip. Once one part is read from shared memory the pass
  // is fenced anyway, and the others are read from there too instead of being copied through the
  // connection twice; the fence says when the server has read them.
  bool shared = false, any = false;
  for (int i = 0; i < count; ++i) {
    const QRect r = rects[i] & rect();
    if (r.isEmpty()) continue;
    any = true;
    if (!XcbFitsInline(r.width(), r.height())) shared = true;
  }
  if (!any && !moved_) return;
  for (int i = 0; i < count; ++i) {
    const QRect r = rects[i] & rect();
    if (r.isEmpty()) continue;
    if (shared) {
      XcbShmPut(window_, gc_, depth_, segment_, picture_.width, picture_.height, r.x(), r.y(),
                r.width(), r.height());
    } else {
      XcbInlinePut(window_, gc_, depth_, picture_.pixels.data(), picture_.width, r.x(), r.y(),
                   r.width(), r.height());
    }
  }
  if (moved_) movingPresents_ = kXcbFenceMovingPresents;
  moved_ = false;
  if (shared) {
    fence_.Mark(movingPresents_ > 0);
  } else {
    xcb_flush(XcbConnection());
  }
  if (movingPresents_ > 0) --movingPresents_;
  ++presents_;
}

void QtPictureWindow::Settle() {
  fence_.Wait();
}

// The server asks for what it lost (the window was mapped, uncovered or moved).
void QtPictureWindow::paintEvent(QPaintEvent* event) {
  if (OnExposing) OnExposing();
  Present(event->region());
  if (OnExposed) OnExposed(event->region());
}
