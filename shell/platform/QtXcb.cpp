// The xcb calls of the shell, on the connection of Qt's xcb platform.
#include "shell/platform/QtXcb.h"

#include <QByteArray>
#include <QGuiApplication>
#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace {

// The screen number of DISPLAY (":0.1" is screen 1).
int DisplayScreen() {
  const QByteArray d = qgetenv("DISPLAY");
  const int colon = d.lastIndexOf(':');
  const int dot = d.indexOf('.', colon < 0 ? 0 : colon);
  if (dot < 0) return 0;
  bool ok = false;
  const int n = d.mid(dot + 1).toInt(&ok);
  return ok && n >= 0 ? n : 0;
}

}  // namespace

// Looked up once per application: Qt resolves the native interface by name, which cost more
// than the puts it served when it was done for every part of every frame.
xcb_connection_t* XcbConnection() {
  static xcb_connection_t* cached = nullptr;
  if (cached != nullptr || qGuiApp == nullptr) return cached;
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  if (x11 == nullptr || x11->connection() == nullptr) return nullptr;
  cached = x11->connection();
  QObject::connect(qGuiApp, &QObject::destroyed, [] { cached = nullptr; });
  return cached;
}

bool XcbHasShm() {
  xcb_connection_t* c = XcbConnection();
  if (c == nullptr) return false;
  const xcb_query_extension_reply_t* e = xcb_get_extension_data(c, &xcb_shm_id);
  return e != nullptr && e->present != 0;
}

void XcbShmPut(xcb_drawable_t drawable, xcb_gcontext_t gc, std::uint8_t depth, xcb_shm_seg_t seg,
               int totalW, int totalH, int x, int y, int w, int h, int dx, int dy) {
  xcb_shm_put_image(XcbConnection(), drawable, gc, static_cast<std::uint16_t>(totalW),
                    static_cast<std::uint16_t>(totalH), static_cast<std::uint16_t>(x),
                    static_cast<std::uint16_t>(y), static_cast<std::uint16_t>(w),
                    static_cast<std::uint16_t>(h), static_cast<std::int16_t>(dx),
                    static_cast<std::int16_t>(dy), depth, XCB_IMAGE_FORMAT_Z_PIXMAP, 0, seg, 0);
}

bool XcbInlinePut(xcb_drawable_t drawable, xcb_gcontext_t gc, std::uint8_t depth,
                  const std::uint32_t* pixels, int stride, int x, int y, int w, int h) {
  if (!XcbFitsInline(w, h)) return false;
  xcb_connection_t* c = XcbConnection();
  if (c == nullptr) return false;
  std::uint32_t rows[kXcbInlinePutPixels];
  for (int r = 0; r < h; ++r)
    std::memcpy(rows + static_cast<std::ptrdiff_t>(r) * w,
                pixels + static_cast<std::ptrdiff_t>(y + r) * stride + x,
                static_cast<std::size_t>(w) * sizeof(std::uint32_t));
  xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, gc, static_cast<std::uint16_t>(w),
                static_cast<std::uint16_t>(h), static_cast<std::int16_t>(x),
                static_cast<std::int16_t>(y), 0, depth,
                static_cast<std::uint32_t>(w) * static_cast<std::uint32_t>(h) * 4,
                reinterpret_cast<const std::uint8_t*>(rows));
  return true;
}

bool XcbReadPixels(xcb_drawable_t drawable, int x, int y, int w, int h, std::uint32_t* out) {
  constexpr int kBandRows = 64;
  xcb_connection_t* c = XcbConnection();
  if (c == nullptr) return false;
  for (int y0 = 0; y0 < h; y0 += kBandRows) {
    const int rows = std::min(kBandRows, h - y0);
    xcb_get_image_reply_t* img = xcb_get_image_reply(
        c,
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, static_cast<std::int16_t>(x),
                      static_cast<std::int16_t>(y + y0), static_cast<std::uint16_t>(w),
                      static_cast<std::uint16_t>(rows), ~0u),
        nullptr);
    const std::size_t bytes = static_cast<std::size_t>(w) * static_cast<std::size_t>(rows) * 4;
    const bool whole =
        img != nullptr && static_cast<std::size_t>(xcb_get_image_data_length(img)) == bytes;
    if (whole) std::memcpy(out + static_cast<std::size_t>(y0) * w, xcb_get_image_data(img), bytes);
    std::free(img);
    if (!whole) return false;
  }
  return true;
}

// A request with a reply: when the reply is there, the server has handled everything before.
void XcbFence::Ask() {
  Collect();
  cookie_ = xcb_get_input_focus(XcbConnection());
  pending_ = true;
  unasked_ = 0;
}

void XcbFence::Collect() {
  if (!pending_) return;
  pending_ = false;
  xcb_generic_error_t* error = nullptr;
  std::free(xcb_get_input_focus_reply(XcbConnection(), cookie_, &error));
  std::free(error);
}

void XcbFence::Mark(bool askNow) {
  if (askNow || ++unasked_ >= kXcbFencePeriod) Ask();
  xcb_flush(XcbConnection());
}

void XcbFence::Wait() {
  if (unasked_ > 0) Ask();
  Collect();
}

ForeignWindowInfo ReadForeignWindow(std::uint64_t id) {
  ForeignWindowInfo info;
  xcb_connection_t* c = XcbConnection();
  if (c == nullptr || id == 0 || id > 0xFFFFFFFFu) return info;
  xcb_generic_error_t* error = nullptr;
  xcb_get_geometry_reply_t* r =
      xcb_get_geometry_reply(c, xcb_get_geometry(c, static_cast<xcb_drawable_t>(id)), &error);
  if (r) {
    info.size = QSize(r->width, r->height);
    info.depth = r->depth;
  }
  std::free(r);
  std::free(error);
  return info;
}

std::uint64_t RootWindowId() {
  xcb_connection_t* c = XcbConnection();
  if (c == nullptr) return 0;
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
  for (int n = DisplayScreen(); n > 0 && it.rem > 1; --n) xcb_screen_next(&it);
  return it.rem > 0 && it.data ? it.data->root : 0;
}
