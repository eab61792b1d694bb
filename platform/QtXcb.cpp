// Finding the xcb calls in the libraries the xcb platform plugin loaded.
#include "platform/QtXcb.h"

#include <dlfcn.h>

#include <QByteArray>
#include <QGuiApplication>
#include <cstdlib>

namespace {

template <typename F>
void Find(void* lib, const char* name, F*& out) {
  out = reinterpret_cast<F*>(::dlsym(lib, name));
}

void FindShm(Xcb& r) {
  // Loaded by the platform plugin where it uses shared memory itself; kept open for the
  // program's life either way.
  void* lib = ::dlopen("libxcb-shm.so.0", RTLD_NOW | RTLD_NOLOAD);
  if (lib == nullptr) lib = ::dlopen("libxcb-shm.so.0", RTLD_NOW);
  if (lib == nullptr) return;
  r.shmId = ::dlsym(lib, "xcb_shm_id");
  Find(lib, "xcb_shm_attach_checked", r.shmAttachChecked);
  Find(lib, "xcb_shm_detach", r.shmDetach);
  Find(lib, "xcb_shm_put_image", r.shmPutImage);
  if (!r.shmAttachChecked || !r.shmDetach || !r.shmPutImage) r.shmId = nullptr;
}

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

bool Xcb::HasShm() const {
  if (!ok() || shmId == nullptr || extensionData == nullptr) return false;
  const ExtensionReply* e = extensionData(conn, shmId);
  return e != nullptr && e->present != 0;
}

const Xcb& XcbCalls() {
  static Xcb x = [] {
    Xcb r;
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (x11 == nullptr || x11->connection() == nullptr) return r;
    void* lib = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_NOLOAD);
    if (lib == nullptr) return r;  // kept open: the plugin holds it for the program's life
    Find(lib, "xcb_get_geometry", r.getGeometry);
    Find(lib, "xcb_get_geometry_reply", r.getGeometryReply);
    Find(lib, "xcb_get_setup", r.getSetup);
    Find(lib, "xcb_setup_roots_iterator", r.rootsIterator);
    Find(lib, "xcb_screen_next", r.screenNext);
    Find(lib, "xcb_generate_id", r.generateId);
    Find(lib, "xcb_create_gc", r.createGc);
    Find(lib, "xcb_free_gc", r.freeGc);
    Find(lib, "xcb_put_image", r.putImage);
    Find(lib, "xcb_get_maximum_request_length", r.maxRequestLength);
    Find(lib, "xcb_flush", r.flush);
    Find(lib, "xcb_request_check", r.requestCheck);
    Find(lib, "xcb_get_input_focus", r.getInputFocus);
    Find(lib, "xcb_get_input_focus_reply", r.getInputFocusReply);
    Find(lib, "xcb_get_extension_data", r.extensionData);
    const bool all = r.getGeometry && r.getGeometryReply && r.getSetup && r.rootsIterator &&
                     r.screenNext && r.generateId && r.createGc && r.freeGc && r.putImage &&
                     r.maxRequestLength && r.flush && r.requestCheck && r.getInputFocus &&
                     r.getInputFocusReply && r.extensionData;
    if (!all) return r;
    FindShm(r);
    r.conn = x11->connection();
    return r;
  }();
  return x;
}

void XcbShmPut(std::uint32_t drawable, std::uint32_t gc, std::uint8_t depth, std::uint32_t seg,
               int totalW, int totalH, int x, int y, int w, int h) {
  const Xcb& c = XcbCalls();
  c.shmPutImage(c.conn, drawable, gc, static_cast<std::uint16_t>(totalW),
                static_cast<std::uint16_t>(totalH), static_cast<std::uint16_t>(x),
                static_cast<std::uint16_t>(y), static_cast<std::uint16_t>(w),
                static_cast<std::uint16_t>(h), static_cast<std::int16_t>(x),
                static_cast<std::int16_t>(y), depth, kXcbZPixmap, 0, seg, 0);
}

// A request with a reply: when the reply is there, the server has handled everything before.
void XcbFence::Mark() {
  const Xcb& c = XcbCalls();
  Wait();
  sequence_ = c.getInputFocus(c.conn).sequence;
  pending_ = true;
  c.flush(c.conn);
}

void XcbFence::Wait() {
  if (!pending_) return;
  pending_ = false;
  const Xcb& c = XcbCalls();
  void* error = nullptr;
  std::free(c.getInputFocusReply(c.conn, Xcb::Cookie{sequence_}, &error));
  std::free(error);
}

ForeignWindowInfo ReadForeignWindow(std::uint64_t id) {
  ForeignWindowInfo info;
  const Xcb& x = XcbCalls();
  if (!x.ok() || id == 0 || id > 0xFFFFFFFFu) return info;
  void* error = nullptr;
  Xcb::GeometryReply* r =
      x.getGeometryReply(x.conn, x.getGeometry(x.conn, static_cast<std::uint32_t>(id)), &error);
  if (r) {
    info.size = QSize(r->width, r->height);
    info.depth = r->depth;
  }
  std::free(r);
  std::free(error);
  return info;
}

std::uint64_t RootWindowId() {
  const Xcb& x = XcbCalls();
  if (!x.ok()) return 0;
  Xcb::ScreenIterator it = x.rootsIterator(x.getSetup(x.conn));
  for (int n = DisplayScreen(); n > 0 && it.rem > 1; --n) x.screenNext(&it);
  return it.rem > 0 && it.data ? it.data[0] : 0;
}
