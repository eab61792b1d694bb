// The background layer: tiled base picture with placed pictures, camera motion, fill colour.
#include "render/CBgCtl.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>

#include "render/LayerSettings.h"
#include "render/Picture.h"
#include "render/PixelOps.h"

namespace {

// Frames of `ms`, raised to even; 0 for anything under one frame.
int EvenFrames(std::int64_t ms) {
  const std::int64_t n = ms / kTickMs;
  if (n <= 0) return 0;
  const std::int64_t e = (n + 1) & ~std::int64_t{1};
  return e > kMotionEndless - 1 ? kMotionEndless - 1 : static_cast<int>(e);
}

// Whole part of a camera coordinate as a wide integer, so that tiling never overflows.
std::int64_t Whole(double v) {
  if (!(v > -9.0e15 && v < 9.0e15)) return 0;
  return static_cast<std::int64_t>(v);
}

int SaturatedAdd(int a, int b) {
  const std::int64_t v = static_cast<std::int64_t>(a) + b;
  return v > INT32_MAX ? INT32_MAX : static_cast<int>(v);
}

int Mod(std::int64_t v, int n) {
  const std::int64_t r = v % n;
  return static_cast<int>(r < 0 ? r + n : r);
}

}  // namespace

std::int32_t ResolveTransparent(std::int32_t trans, const Bitmap32& pic) {
  return ResolveTransparent(trans, pic, pic.width, pic.height);
}

std::int32_t ResolveTransparent(std::int32_t trans, const Bitmap32& pic, int width, int height) {
  if (trans >= 0) return trans;
  if (width > pic.width) width = pic.width;
  if (height > pic.height) height = pic.height;
  if (width <= 0 || height <= 0) return kTransOff;
  int x = 0, y = 0;
  switch (trans) {
    case kTransLeftTop:
      break;
    case kTransRightTop:
      x = width - 1;
      break;
    case kTransLeftBottom:
      y = height - 1;
      break;
    case kTransRightBottom:
      x = width - 1;
      y = height - 1;
      break;
    default:
      return kTransOff;
  }
  // Stage pixels are 0x00RRGGBB; swapping red and blue gives the packed script colour.
  return static_cast<std::int32_t>(
      ToStageColour(static_cast<std::int32_t>(pic.Row(y)[x] & 0xFFFFFF)));
}

CBgCtl::CBgCtl(LayerSettings* settings) : settings_(settings) {
  composed.Create(kStageWidth, kStageHeight, 0);
  for (auto& t : placedTransparent) t = kTransOff;
}

// ---- start ----

void CBgCtl::LoadPicture(const char* name, Bitmap32* out, PictureLease* lease) {
  Picture pic;
  const std::string n(name, strnlen(name, 64));
  if (settings_) {
    LoadPictureOrNotFound(*settings_, n, &pic);
  } else {
    LoadBuiltinPicture("NOTFOUND", &pic);
  }
  *out = std::move(pic.rgb);
  *lease = std::move(pic.lease);
}

void CBgCtl::MakeBackground(const CTimeBgMake& rec) {
  // A background without a picture keeps `composed` as it was last made (a CLEAR shows it
  // again): a moving one that was composed only into the frames is composed now, before its
  // picture and placed pictures are replaced.
  if (composedStale_) ComposeBackground();
  version_ += 1;
  if (rec.FileName[0] == '\0') {
    hasBase = 0;
    fillMode = 0;
  } else {
    // The parser writes "*NOTFOUND" for a base picture that does not exist.
    LoadPicture(rec.FileName[0] == '*' ? "*NOTFOUND" : rec.FileName, &basePicture, &baseLease_);
    hasBase = 1;
    fillMode = 1;
  }
  if (settings_) settings_->SetBackColour(static_cast<std::uint32_t>(rec.BgColor));

  for (int n = 0; n < kMaxPlaced && rec.ResName[n][0] != '\0'; ++n) {
    LoadPicture(rec.ResName[n], &placed[n], &placedLease_[n]);
    const Bitmap32& p = placed[n];
    placedRect[n] = {rec.ResPos[n].x, rec.ResPos[n].y, SaturatedAdd(rec.ResPos[n].x, p.width),
                     SaturatedAdd(rec.ResPos[n].y, p.height)};
    placedTransparent[n] = ResolveTransparent(rec.ResPalent[n], p);
    placedUsed[n] = true;
  }
  placedCount = 0;
  while (placedCount < kMaxPlaced && placedUsed[placedCount]) ++placedCount;
  ComposeBackground();
}

void CBgCtl::ComposeBackground() {
  if (!hasBase) return;
  ComposeInto(composed);
  composedStale_ = false;
}

const Bitmap32& CBgCtl::Composed() {
  if (composedStale_) ComposeBackground();
  return composed;
}

void CBgCtl::ComposeInto(Bitmap32& out) {
  ComposeInto(out, BgRect{0, 0, kStageWidth, kStageHeight});
}

namespace {

BgRect Cut(const BgRect& r, const BgRect& to) {
  return {std::max(r.left, to.left), std::max(r.top, to.top), std::min(r.right, to.right),
          std::min(r.bottom, to.bottom)};
}

BgRect Union(const BgRect& a, const BgRect& b) {
  if (a.Empty()) return b;
  if (b.Empty()) return a;
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
          std::max(a.bottom, b.bottom)};
}

// Cameras within this distance of the origin are tiled with whole-pixel arithmetic that is exact
// in a double, so a frame moved by whole pixels is the frame composed there.
constexpr double kShiftableCamera = 1.0e9;

bool Shiftable(const Point3& c) {
  return std::fabs(c.x) < kShiftableCamera && std::fabs(c.y) < kShiftableCamera;
}

bool Fractional(const Point3& c) {
  return c.x != std::trunc(c.x) || c.y != std::trunc(c.y);
}

}  // namespace

void CBgCtl::ComposeInto(Bitmap32& out, const BgRect& clip) {
  const BgRect a =
      Cut(clip, {0, 0, std::min(kStageWidth, out.width), std::min(kStageHeight, out.height)});
  if (a.Empty()) return;
  const int w = basePicture.width, h = basePicture.height;
  if (w <= 0 || h <= 0) {
    FillRect(out, a.left, a.top, a.right - a.left, a.bottom - a.top, 0);
    return;
  }
  const int ox = Mod(Whole(Camera.x), w), oy = Mod(Whole(Camera.y), h);

  // Tiling: the first period of each row comes from the base picture, the rest of the row
  // repeats what is already written, doubling the copied length each time.
  const int span = a.right - a.left;
  const int col = (ox + a.left) % w;
  const int firstRun = std::min(w - col, span);
  const int period = std::min(w, span);
  for (int sy = a.top; sy < a.bottom; ++sy) {
    std::uint32_t* d = out.Row(sy) + a.left;
    const std::uint32_t* s = basePicture.Row((oy + sy) % h);
    std::memcpy(d, s + col, sizeof(std::uint32_t) * firstRun);
    if (firstRun < period)
      std::memcpy(d + firstRun, s, sizeof(std::uint32_t) * (period - firstRun));
    for (int done = period; done < span;) {
      const int n = std::min(done, span - done);
      std::memcpy(d + done, d, sizeof(std::uint32_t) * n);
      done += n;
    }
  }

  for (int n = 0; n < kMaxPlaced && placedUsed[n]; ++n) {
    BgRect d;
    int sx = 0, sy = 0;
    if (!PlacedOnStage(n, Camera, &d, &sx, &sy)) continue;
    const BgRect c = Cut(d, a);
    if (c.Empty()) continue;
    sx += c.left - d.left;
    sy += c.top - d.top;
    const int cw = c.right - c.left, ch = c.bottom - c.top;
    if (placedTransparent[n] == kTransOff) {
      CopyRect(out, c.left, c.top, placed[n], sx, sy, cw, ch);
    } else {
      MaskBlit(out, c.left, c.top, placed[n], sx, sy, cw, ch, ToStageColour(placedTransparent[n]));
    }
  }
}

bool CBgCtl::PlacedOnStage(int n, const Point3& cam, BgRect* dst, int* sx, int* sy) const {
  const std::int64_t vx0 = Whole(cam.x), vy0 = Whole(cam.y);
  const std::int64_t vx1 = Whole(kStageWidth + cam.x), vy1 = Whole(kStageHeight + cam.y);
  const BgRect& r = placedRect[n];
  if (!(vx1 >= r.left && r.right >= vx0 && vy1 >= r.top && r.bottom >= vy0)) return false;
  const std::int64_t left = std::max<std::int64_t>(r.left, vx0);
  const std::int64_t top = std::max<std::int64_t>(r.top, vy0);
  const std::int64_t right = std::min<std::int64_t>(r.right, vx1);
  const std::int64_t bottom = std::min<std::int64_t>(r.bottom, vy1);
  const std::int64_t dx = Whole(static_cast<double>(left) - cam.x);
  const std::int64_t dy = Whole(static_cast<double>(top) - cam.y);
  // Cut to the stage here, in wide integers (a far camera puts the picture far off).
  const std::int64_t l = std::max<std::int64_t>(dx, 0), t = std::max<std::int64_t>(dy, 0);
  const std::int64_t rr = std::min<std::int64_t>(dx + (right - left), kStageWidth);
  const std::int64_t b = std::min<std::int64_t>(dy + (bottom - top), kStageHeight);
  if (rr <= l || b <= t) return false;
  *dst = {static_cast<int>(l), static_cast<int>(t), static_cast<int>(rr), static_cast<int>(b)};
  *sx = static_cast<int>(left - r.left + (l - dx));
  *sy = static_cast<int>(top - r.top + (t - dy));
  return true;
}

bool CBgCtl::PlanShift(const Point3& from, BgShift* shift) const {
  if (fillMode != 1 || !hasBase || basePicture.Empty()) return false;
  if (!Shiftable(from) || !Shiftable(Camera)) return false;
  const std::int64_t mx = Whole(from.x) - Whole(Camera.x);
  const std::int64_t my = Whole(from.y) - Whole(Camera.y);
  if ((mx == 0 && my == 0) || std::abs(mx) >= kStageWidth || std::abs(my) >= kStageHeight)
    return false;
  BgShift s;
  s.dx = static_cast<int>(mx);
  s.dy = static_cast<int>(my);
  constexpr int W = kStageWidth, H = kStageHeight;
  s.moved = {std::max(0, s.dx), std::max(0, s.dy), std::min(W, W + s.dx), std::min(H, H + s.dy)};
  if (s.dy > 0) s.fresh[s.freshCount++] = {0, 0, W, s.dy};
  if (s.dy < 0) s.fresh[s.freshCount++] = {0, H + s.dy, W, H};
  if (s.dx > 0) s.fresh[s.freshCount++] = {0, s.moved.top, s.dx, s.moved.bottom};
  if (s.dx < 0) s.fresh[s.freshCount++] = {W + s.dx, s.moved.top, W, s.moved.bottom};
  // At whole-pixel cameras a placed picture lies where the tile's own pixels put it; a camera
  // between pixels rounds its place apart from the tile's by up to a pixel.
  if (Fractional(from) || Fractional(Camera)) {
    for (int n = 0; n < kMaxPlaced && placedUsed[n]; ++n) {
      BgRect d;
      int sx = 0, sy = 0;
      if (PlacedOnStage(n, from, &d, &sx, &sy)) {
        s.placed = Union(s.placed, {d.left + s.dx, d.top + s.dy, d.right + s.dx, d.bottom + s.dy});
      }
      if (PlacedOnStage(n, Camera, &d, &sx, &sy)) s.placed = Union(s.placed, d);
    }
    s.placed = Cut(s.placed, s.moved);
    if (s.placed.Empty()) s.placed = BgRect();
  }
  *shift = s;
  return true;
}

void CBgCtl::ShiftBackground(StageBitmap& stage, const BgShift& shift, const BgRect* more,
                             int moreCount) {
  if (stillDraws_ < kStillDrawsToKeep) stillDraws_ += 1;
  MovePixels(stage, shift.dx, shift.dy);
  for (int i = 0; i < shift.freshCount && i < 2; ++i) ComposeInto(stage, shift.fresh[i]);
  ComposeInto(stage, shift.placed);
  for (int i = 0; i < moreCount; ++i) ComposeInto(stage, more[i]);
}

// ---- set ----

double& CBgCtl::Coord(int i) {
  return i == 0 ? Camera.x : (i == 1 ? Camera.y : Camera.z);
}

void CBgCtl::ScrollBackground(const CTimeBgScroll& rec) {
  if (rec.SpeedMode == 1) {
    StartRateMove(rec);
  } else {
    StartPositionMove(rec);
  }
}

void CBgCtl::StartPositionMove(const CTimeBgScroll& rec) {
  const double values[3] = {rec.XValue, rec.YValue, rec.ZValue};
  const int modes[3] = {rec.XMode, rec.YMode, rec.ZMode};
  const double centre[3] = {kStageCentreX, kStageCentreY, 0};
  double targets[3] = {};
  bool given[3] = {};
  for (int i = 0; i < 3; ++i) {
    if (modes[i] == 1) targets[i] = values[i] - centre[i];
    if (modes[i] == 2) targets[i] = values[i] + Coord(i);
    given[i] = modes[i] == 1 || modes[i] == 2;
  }

  // A move shorter than one frame has no steps to spread over: it jumps like TIME 0.
  const int e = EvenFrames(rec.Time);
  if (e == 0) {
    for (int i = 0; i < 3; ++i) {
      if (!given[i]) continue;
      Coord(i) = targets[i];
      axis[i].exact = targets[i];
    }
    ComposeBackground();
    return;
  }

  int a = 0, d = 0;
  EaseFrames(rec.Time, rec.Acc, rec.Dec, &a, &d);
  for (int i = 0; i < 3; ++i) {
    if (!given[i]) continue;
    axis[i].exact = Coord(i);
    StartGlide(axis[i], Coord(i), targets[i], e, a, d);
  }
}

void CBgCtl::StartRateMove(const CTimeBgScroll& rec) {
  const double rates[3] = {rec.XValue, rec.YValue, rec.ZValue};
  const int modes[3] = {rec.XMode, rec.YMode, rec.ZMode};
  const int n = rec.Time > 0 ? rec.Time / kTickMs : 0;
  for (int i = 0; i < 3; ++i) {
    if (modes[i] != 0) StartDrift(axis[i], rates[i] / kTickMs, n);
  }
}

// ---- animate ----

int CBgCtl::AnimateBackground() {
  const double oldX = Camera.x, oldY = Camera.y;
  for (int i = 0; i < 3; ++i) {
    BgAxis& ax = axis[i];
    if (ax.counter <= 0) continue;
    StepMotion(ax, ax.exact);
    // The camera moves in whole pixels; the last frame lands on the target as given.
    Coord(i) = ax.counter == 0 ? ax.exact : std::trunc(ax.exact);
  }
  if (Camera.x == oldX && Camera.y == oldY) return 0;
  // A moving background is composed straight into the frame when it is drawn (see
  // DrawBackground), not into `composed` and then copied. From scratch it is composed at once.
  if (hasBase && FromScratch) ComposeBackground();
  if (hasBase && !FromScratch) composedStale_ = true;
  stillDraws_ = 0;
  return 1;
}

// ---- draw ----

// A background whose camera has stood still for a few draws is composed into `composed` once and
// copied from then on (the placed pictures are not drawn again on every frame); one that moves
// now and then goes on being composed straight into the frame.
void CBgCtl::DrawBackground(StageBitmap& stage) {
  if (fillMode == 1) {
    if (stillDraws_ < kStillDrawsToKeep) stillDraws_ += 1;
    if (composedStale_ && stillDraws_ == kStillDrawsToKeep) ComposeBackground();
    if (composedStale_ || (FromScratch && hasBase == 1)) {
      ComposeInto(stage);
    } else {
      CopyRect(stage, 0, 0, composed, 0, 0, kStageWidth, kStageHeight);
    }
  } else {
    FillRect(stage, 0, 0, kStageWidth, kStageHeight, ToStageColour(fillColour));
  }
}

void CBgCtl::DrawBackground(StageBitmap& stage, const BgRect& area) {
  const int left = std::max(area.left, 0), top = std::max(area.top, 0);
  const int right = std::min({area.right, kStageWidth, stage.width});
  const int bottom = std::min({area.bottom, kStageHeight, stage.height});
  if (right <= left || bottom <= top) return;
  if (fillMode != 1) {
    FillRect(stage, left, top, right - left, bottom - top, ToStageColour(fillColour));
    return;
  }
  if (stillDraws_ < kStillDrawsToKeep) stillDraws_ += 1;
  // As in the whole draw: a camera standing still for a few draws has `composed` made once and
  // copied; one that moves now and then (a slow scroll) is composed into the area directly.
  if (composedStale_ && stillDraws_ == kStillDrawsToKeep) ComposeBackground();
  if (composedStale_ || (FromScratch && hasBase == 1)) {
    ComposeInto(stage, BgRect{left, top, right, bottom});
  } else {
    CopyRect(stage, left, top, composed, left, top, right - left, bottom - top);
  }
}

void CBgCtl::SetBackgroundFill(int mode, std::int32_t colour) {
  version_ += 1;
  fillMode = mode;
  fillColour = colour;
}

// ---- clear ----

void CBgCtl::ClearBackground() {
  version_ += 1;
  composed.Fill(0);
  composedStale_ = false;
  // The next show starts without a background: its camera moves and CLEARs must not bring this
  // show's picture back. Nothing reads the picture without a base, so it is given back too: a
  // show that makes no background must not hold the last one's picture for as long as it plays.
  hasBase = 0;
  basePicture = Bitmap32();
  baseLease_.Return();
  for (int n = 0; n < kMaxPlaced; ++n) {
    placed[n] = Bitmap32();
    placedLease_[n].Return();
    placedUsed[n] = false;
    placedRect[n] = BgRect();
    placedTransparent[n] = kTransOff;
  }
  placedCount = 0;
  Camera = Point3{0, 0, 0};
  for (auto& ax : axis) ax = BgAxis();
  fillColour = 0;
  fillMode = 0;
}
