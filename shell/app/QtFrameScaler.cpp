// The frame stretched onto the screen by the X server.
#include "shell/app/QtFrameScaler.h"

#include <QtGlobal>
#include <algorithm>
#include <cstdlib>

#include "render/PixelOps.h"
#include "shell/platform/QtShmResource.h"

namespace {

constexpr char kNearest[] = "nearest";
constexpr int kFixedOne = 1 << 16;  // RENDER's numbers are 16.16 fixed point

bool Failed(xcb_connection_t* c, xcb_void_cookie_t cookie) {
  xcb_generic_error_t* e = xcb_request_check(c, cookie);
  std::free(e);
  return e != nullptr;
}

// The 24-bit format of our pixels (0x00RRGGBB, no alpha) and the format of the window's visual.
bool FindFormats(xcb_connection_t* c, xcb_window_t window, xcb_render_pictformat_t* frame,
                 xcb_render_pictformat_t* target) {
  xcb_get_window_attributes_reply_t* attrs =
      xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr);
  if (attrs == nullptr) return false;
  const xcb_visualid_t visual = attrs->visual;
  std::free(attrs);
  xcb_render_query_pict_formats_reply_t* r =
      xcb_render_query_pict_formats_reply(c, xcb_render_query_pict_formats(c), nullptr);
  if (r == nullptr) return false;
  *frame = *target = 0;
  for (auto it = xcb_render_query_pict_formats_formats_iterator(r); it.rem > 0;
       xcb_render_pictforminfo_next(&it)) {
    const xcb_render_pictforminfo_t& f = *it.data;
    const xcb_render_directformat_t& d = f.direct;
    if (f.type == XCB_RENDER_PICT_TYPE_DIRECT && f.depth == 24 && d.red_shift == 16 &&
        d.red_mask == 0xFF && d.green_shift == 8 && d.green_mask == 0xFF && d.blue_shift == 0 &&
        d.blue_mask == 0xFF && d.alpha_mask == 0)
      *frame = f.id;
  }
  for (auto s = xcb_render_query_pict_formats_screens_iterator(r); s.rem > 0;
       xcb_render_pictscreen_next(&s))
    for (auto d = xcb_render_pictscreen_depths_iterator(s.data); d.rem > 0;
         xcb_render_pictdepth_next(&d))
      for (auto v = xcb_render_pictdepth_visuals_iterator(d.data); v.rem > 0;
           xcb_render_pictvisual_next(&v))
        if (v.data->visual == visual) *target = v.data->format;
  std::free(r);
  return *frame != 0 && *target != 0;
}

// One axis of the transform: `step` source units (16.16) per destination pixel and `start`, the
// source position of the axis's first destination edge.
struct Axis {
  std::int64_t step;
  std::int64_t start;
};

// The ways to write n source pixels over m destination pixels in 16.16, best first. The server
// takes, for a destination pixel, the source pixel under its centre less one unit, so a centre
// that falls exactly on a source edge must land a little past it: the step is rounded up (or
// down, with the start moved on by what that loses over the whole axis).
std::vector<Axis> AxisCandidates(int origin, int n, int m) {
  const std::int64_t units = static_cast<std::int64_t>(n) * kFixedOne;
  const std::int64_t up = (units + m - 1) / m, down = units / m, near = (units + m / 2) / m;
  const std::int64_t o = static_cast<std::int64_t>(origin) * kFixedOne;
  return {{up, o + 1},
          {near, o + std::max<std::int64_t>(0, units - near * m) + 1},
          {down, o + (units - down * m) + 1},
          {up, o}};
}

}  // namespace

std::unique_ptr<QtFrameScaler> QtFrameScaler::Create(xcb_window_t window, const RectXYWH& dst,
                                                     const RectXYWH& src, QtShmResource& memory) {
  xcb_connection_t* c = XcbConnection();
  if (c == nullptr || window == 0 || qEnvironmentVariableIsSet("ONDRELIX_NO_RENDER"))
    return nullptr;
  if (dst.width <= 0 || dst.height <= 0 || src.width <= 0 || src.height <= 0 || src.x < 0 ||
      src.y < 0 || src.x + src.width > kStageWidth || src.y + src.height > kStageHeight ||
      dst.x < 0 || dst.y < 0 || dst.x + dst.width > 32767 || dst.y + dst.height > 32767)
    return nullptr;
  const xcb_query_extension_reply_t* ext = xcb_get_extension_data(c, &xcb_render_id);
  if (ext == nullptr || !ext->present) return nullptr;
  xcb_render_query_version_reply_t* v =
      xcb_render_query_version_reply(c, xcb_render_query_version(c, 0, 11), nullptr);
  const bool filters = v != nullptr && (v->major_version > 0 || v->minor_version >= 6);
  std::free(v);
  xcb_render_pictformat_t frameFormat = 0, windowFormat = 0;
  if (!filters || !FindFormats(c, window, &frameFormat, &windowFormat)) return nullptr;
  std::unique_ptr<QtFrameScaler> s(new QtFrameScaler(window, dst, src, memory));
  if (s->segment_ == 0 || !s->Realise(frameFormat, windowFormat) || !s->ChooseTransform())
    return nullptr;
  return s;
}

bool QtFrameScaler::PaysOff() {
  if (qEnvironmentVariableIsSet("ONDRELIX_NO_RENDER")) return false;
  if (qEnvironmentVariableIntValue("ONDRELIX_RENDER") == 1) return true;
  xcb_connection_t* c = XcbConnection();
  if (c == nullptr) return false;
  static constexpr char kDri3[] = "DRI3";
  xcb_query_extension_reply_t* r =
      xcb_query_extension_reply(c, xcb_query_extension(c, sizeof kDri3 - 1, kDri3), nullptr);
  const bool gpu = r != nullptr && r->present;
  std::free(r);
  return gpu;
}

QtFrameScaler::QtFrameScaler(xcb_window_t window, const RectXYWH& dst, const RectXYWH& src,
                             QtShmResource& memory)
    : conn_(XcbConnection()), window_(window), dst_(dst), src_(src), frame_(&memory) {
  if (frame_.Create(kStageWidth, kStageHeight)) segment_ = memory.SegmentAt(frame_.pixels.data());
}

QtFrameScaler::~QtFrameScaler() {
  fence_.Wait();
  if (target_ != 0) xcb_render_free_picture(conn_, target_);
  if (source_ != 0) xcb_render_free_picture(conn_, source_);
  if (gc_ != 0) xcb_free_gc(conn_, gc_);
  if (pixmap_ != 0) xcb_free_pixmap(conn_, pixmap_);
  xcb_flush(conn_);
}

// The frame's pixmap and the two pictures; false when the server refuses any of them.
bool QtFrameScaler::Realise(xcb_render_pictformat_t frameFormat,
                            xcb_render_pictformat_t windowFormat) {
  xcb_connection_t* c = conn_;
  frameFormat_ = frameFormat;
  pixmap_ = xcb_generate_id(c);
  if (Failed(c, xcb_create_pixmap_checked(c, 24, pixmap_, window_, kStageWidth, kStageHeight))) {
    pixmap_ = 0;
    return false;
  }
  gc_ = xcb_generate_id(c);
  xcb_create_gc(c, gc_, pixmap_, 0, nullptr);
  source_ = xcb_generate_id(c);
  if (Failed(c, xcb_render_create_picture_checked(c, source_, pixmap_, frameFormat, 0, nullptr))) {
    source_ = 0;
    return false;
  }
  target_ = xcb_generate_id(c);
  if (Failed(c, xcb_render_create_picture_checked(c, target_, window_, windowFormat, 0, nullptr))) {
    target_ = 0;
    return false;
  }
  return !Failed(c, xcb_render_set_picture_filter_checked(c, source_, sizeof kNearest - 1, kNearest,
                                                          0, nullptr));
}

void QtFrameScaler::SetTransform(std::int64_t mx, std::int64_t tx, std::int64_t my,
                                 std::int64_t ty) {
  auto f = [](std::int64_t v) { return static_cast<xcb_render_fixed_t>(v); };
  const xcb_render_transform_t t{f(mx), 0, f(tx), 0, f(my), f(ty), 0, 0, kFixedOne};
  xcb_render_set_picture_transform(conn_, source_, t);
}

// Tries the transforms on a frame whose every pixel names its own column and row, stretched on a
// pixmap of the destination's size as a whole and again in parts that start at odd places, and
// keeps, for each axis, the first whose pixels are all those of our stretch. False when no
// transform gives them.
bool QtFrameScaler::ChooseTransform() {
  xcb_connection_t* c = conn_;
  for (int y = 0; y < kStageHeight; ++y)
    for (int x = 0; x < kStageWidth; ++x)
      frame_.Row(y)[x] = static_cast<std::uint32_t>(x << 12 | y);
  const int w = dst_.width, h = dst_.height;
  Bitmap32 want;
  if (!want.Create(w, h)) return false;
  StretchBlt(want, 0, 0, w, h, frame_, src_.x, src_.y, src_.width, src_.height, kStretchDrop);
  const xcb_pixmap_t probe = xcb_generate_id(c);
  if (Failed(c, xcb_create_pixmap_checked(c, 24, probe, window_, static_cast<std::uint16_t>(w),
                                          static_cast<std::uint16_t>(h))))
    return false;
  const xcb_render_picture_t probePic = xcb_generate_id(c);
  xcb_render_create_picture(c, probePic, probe, frameFormat_, 0, nullptr);
  XcbShmPut(pixmap_, gc_, 24, segment_, kStageWidth, kStageHeight, 0, 0, kStageWidth, kStageHeight);
  const std::vector<Axis> xs = AxisCandidates(src_.x, src_.width, w);
  const std::vector<Axis> ys = AxisCandidates(src_.y, src_.height, h);
  int xi = -1, yi = -1;
  const QRect parts[] = {QRect(0, 0, w, h), QRect(w / 3 + 1, h / 5 + 1, w / 3, h / 2),
                         QRect(w - w / 7 - 1, 3, w / 7 + 1, h - 3)};
  std::vector<std::uint32_t> got(static_cast<std::size_t>(w) * h);
  for (std::size_t i = 0; i < xs.size() && (xi < 0 || yi < 0); ++i) {
    const Axis& ax = xs[xi < 0 ? i : xi];
    const Axis& ay = ys[yi < 0 ? i : yi];
    SetTransform(ax.step, ax.start, ay.step, ay.start);
    for (const QRect& p : parts) Stretch(probePic, p, 0, 0);
    if (!XcbReadPixels(probe, 0, 0, w, h, got.data())) break;
    bool xOk = true, yOk = true;
    for (std::size_t k = 0; k < got.size(); ++k) {
      const std::uint32_t g = got[k] & 0xFFFFFF, e = want.pixels[k];
      xOk = xOk && (g >> 12) == (e >> 12);
      yOk = yOk && (g & 0xFFF) == (e & 0xFFF);
    }
    if (xi < 0 && xOk) xi = static_cast<int>(i);
    if (yi < 0 && yOk) yi = static_cast<int>(i);
  }
  xcb_render_free_picture(c, probePic);
  xcb_free_pixmap(c, probe);
  if (xi < 0 || yi < 0) return false;
  const Axis& ax = xs[xi];
  const Axis& ay = ys[yi];
  SetTransform(ax.step, ax.start, ay.step, ay.start);
  xcb_flush(c);
  frame_.Fill(0);
  uploads_.push_back({0, 0, kStageWidth, kStageHeight});
  return true;
}

// `area` of `target` from the frame, whose stretch begins at (originX, originY) of the target.
void QtFrameScaler::Stretch(xcb_render_picture_t target, const QRect& area, int originX,
                            int originY) {
  xcb_render_composite(
      conn_, XCB_RENDER_PICT_OP_SRC, source_, XCB_NONE, target,
      static_cast<std::int16_t>(area.x() - originX), static_cast<std::int16_t>(area.y() - originY),
      0, 0, static_cast<std::int16_t>(area.x()), static_cast<std::int16_t>(area.y()),
      static_cast<std::uint16_t>(area.width()), static_cast<std::uint16_t>(area.height()));
}

bool QtFrameScaler::ScalePart(const StageBitmap& frame, const RectXYWH& dst, const RectXYWH& src,
                              const RectXYWH& part) {
  if (!(dst == dst_) || !(src == src_) || frame.width != kStageWidth ||
      frame.height != kStageHeight)
    return false;
  const int l = std::max(part.x, 0), t = std::max(part.y, 0);
  const int r = std::min(part.x + part.width, kStageWidth);
  const int b = std::min(part.y + part.height, kStageHeight);
  if (r <= l || b <= t) return true;
  const RectXYWH p{l, t, r - l, b - t};
  CopyRect(frame_, p.x, p.y, frame, p.x, p.y, p.width, p.height);
  if (p.width == kStageWidth && p.height == kStageHeight) uploads_.clear();
  uploads_.push_back(p);
  const RectXYWH d = StretchedPart(dst_, src_, p);
  pending_ += QRect(d.x, d.y, d.width, d.height) & QRect(dst_.x, dst_.y, dst_.width, dst_.height);
  return true;
}

// The parts stay to be sent: the server's copy of the frame must stay whole.
void QtFrameScaler::DropParts() {
  pending_ = QRegion();
}

void QtFrameScaler::Send() {
  if (uploads_.empty() && pending_.isEmpty()) return;
  for (const RectXYWH& p : uploads_)
    XcbShmPut(pixmap_, gc_, 24, segment_, kStageWidth, kStageHeight, p.x, p.y, p.width, p.height);
  uploads_.clear();
  for (const QRect& r : pending_) Stretch(target_, r, dst_.x, dst_.y);
  pending_ = QRegion();
  fence_.Mark();
}

void QtFrameScaler::Repaint(const QRegion& region) {
  const QRegion inside = region & QRect(dst_.x, dst_.y, dst_.width, dst_.height);
  if (inside.isEmpty()) return;
  for (const QRect& r : inside) Stretch(target_, r, dst_.x, dst_.y);
  xcb_flush(conn_);
}
