// The saver window's picture and its damage record.
#include "app/WindowSurface.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "render/FontRaster.h"
#include "render/PixelOps.h"

WindowSurface::WindowSurface(std::pmr::memory_resource* memory) : picture_(memory) {}
WindowSurface::~WindowSurface() = default;

bool WindowSurface::Resize(int width, int height) {
  frameArea_ = {};
  movedFrame_ = nullptr;
  movePending_ = false;
  if (serverFrame_) scaler_->DropParts();
  serverFrame_ = false;
  if (!picture_.Create(width, height, 0)) return false;
  damage_.Clear();
  AddDamage(0, 0, width, height);
  return true;
}

namespace {

// The rectangle clipped to the picture; empty when nothing of it lies inside.
RectXYWH ClipToPicture(const Bitmap32& p, int x, int y, int width, int height) {
  const int l = std::max(x, 0), t = std::max(y, 0);
  const int r = static_cast<int>(std::min<std::int64_t>(std::int64_t{x} + width, p.width));
  const int b = static_cast<int>(std::min<std::int64_t>(std::int64_t{y} + height, p.height));
  if (r <= l || b <= t) return {};
  return {l, t, r - l, b - t};
}

// The parts of `area` around `drawn` (empty ones included): above, below, left, right.
void AroundOf(const RectXYWH& a, const RectXYWH& drawn, RectXYWH out[4]) {
  const int l = std::clamp(drawn.x, a.x, a.x + a.width);
  const int t = std::clamp(drawn.y, a.y, a.y + a.height);
  const int r = std::clamp(drawn.x + drawn.width, l, a.x + a.width);
  const int b = std::clamp(drawn.y + drawn.height, t, a.y + a.height);
  out[0] = {a.x, a.y, a.width, t - a.y};
  out[1] = {a.x, b, a.width, a.y + a.height - b};
  out[2] = {a.x, t, l - a.x, b - t};
  out[3] = {r, t, a.x + a.width - r, b - t};
}

bool Overlap(const RectXYWH& a, const RectXYWH& b) {
  return a.width > 0 && a.height > 0 && b.width > 0 && b.height > 0 && a.x < b.x + b.width &&
         b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

// True when `holds(pixels, count, row)` is true of the part of every row of `r` in `p`.
template <typename RowHolds>
bool EveryRow(const Bitmap32& p, const RectXYWH& r, RowHolds holds) {
  for (int row = r.y; row < r.y + r.height; ++row)
    if (!holds(p.Row(row) + r.x, r.width, row)) return false;
  return true;
}

}  // namespace

// Drawing that leaves every pixel as it was changes nothing on the screen either, as long as the
// picture shows its own pixels there: a warning square drawn the same every frame then costs no
// trip to the X server.
bool WindowSurface::ShowsOwnPixels(const RectXYWH& r) const {
  return (!serverFrame_ && movedFrame_ == nullptr) || !Overlap(r, frameArea_);
}

void WindowSurface::Fill(int x, int y, int width, int height, std::uint32_t colour) {
  const RectXYWH r = ClipToPicture(picture_, x, y, width, height);
  if (r.width == 0) return;
  const auto holdsColour = [colour](const std::uint32_t* p, int n, int) {
    return std::all_of(p, p + n, [colour](std::uint32_t v) { return v == colour; });
  };
  if (ShowsOwnPixels(r) && EveryRow(picture_, r, holdsColour)) return;
  FillRect(picture_, r.x, r.y, r.width, r.height, colour);
  AddDamage(r.x, r.y, r.width, r.height);
}

void WindowSurface::FillAll(std::uint32_t colour) {
  Fill(0, 0, Width(), Height(), colour);
}

void WindowSurface::CopyFrame(const StageBitmap& frame, int x, int y) {
  if (!(frameArea_ == RectXYWH{x, y, frame.width, frame.height})) RestorePicture();
  CopyRect(picture_, x, y, frame, 0, 0, frame.width, frame.height);
  FrameDrawn({x, y, frame.width, frame.height});
}

void WindowSurface::CopyFrame(const StageBitmap& frame, int x, int y, const RectXYWH& part) {
  CopyRect(picture_, x + part.x, y + part.y, frame, part.x, part.y, part.width, part.height);
  FramePartCopied(x, y, part);
}

void WindowSurface::FramePartCopied(int x, int y, const RectXYWH& part) {
  MarkDamage(x + part.x, y + part.y, part.width, part.height);
}

void WindowSurface::SetFrameScaler(FrameScaler* scaler) {
  if (serverFrame_) TakeFrameBack({});
  scaler_ = scaler;
}

void WindowSurface::StretchFrame(const StageBitmap& frame, const RectXYWH& dst, const RectXYWH& src,
                                 int mode) {
  if (scaler_ != nullptr && mode == kStretchDrop &&
      scaler_->ScalePart(frame, dst, src, {0, 0, frame.width, frame.height})) {
    frameArea_ = dst;
    frameSource_ = src;
    frameTouched_ = false;
    serverFrame_ = true;
    return;
  }
  if (serverFrame_) TakeFrameBack({});
  if (!(frameArea_ == dst)) RestorePicture();
  StretchBlt(picture_, dst.x, dst.y, dst.width, dst.height, frame, src.x, src.y, src.width,
             src.height, mode);
  FrameDrawn(dst);
}

namespace {

// The destination pixels [*c, *c + *cn) of a span src (s, sn) stretched onto (d, dn) that take
// their pixel from the source pixels [p, p + pn). Destination pixel j takes source pixel
// s + floor((2j + 1) sn / (2 dn)), the one under its centre. Sizes are positive.
void PartSpan(int s, int sn, int d, int dn, int p, int pn, int* c, int* cn) {
  // How many destination pixels take a source pixel before s + q / (2 dn).
  const auto before = [&](std::int64_t q) -> std::int64_t {
    const std::int64_t t = q - sn;
    if (t <= 0) return 0;
    return std::min<std::int64_t>((t + 2 * std::int64_t{sn} - 1) / (2 * std::int64_t{sn}), dn);
  };
  const std::int64_t from = before(2 * std::int64_t{dn} * (std::int64_t{p} - s));
  const std::int64_t to = before(2 * std::int64_t{dn} * (std::int64_t{p} + pn - s));
  *c = static_cast<int>(d + from);
  *cn = static_cast<int>(std::max<std::int64_t>(to - from, 0));
}

}  // namespace

RectXYWH StretchedPart(const RectXYWH& dst, const RectXYWH& src, const RectXYWH& part) {
  RectXYWH clip;
  if (src.width <= 0 || src.height <= 0 || dst.width <= 0 || dst.height <= 0) return clip;
  PartSpan(src.x, src.width, dst.x, dst.width, part.x, part.width, &clip.x, &clip.width);
  PartSpan(src.y, src.height, dst.y, dst.height, part.y, part.height, &clip.y, &clip.height);
  return clip;
}

void WindowSurface::StretchFrame(const StageBitmap& frame, const RectXYWH& dst, const RectXYWH& src,
                                 int mode, const RectXYWH& part) {
  if (src.width <= 0 || src.height <= 0 || dst.width <= 0 || dst.height <= 0) return;
  if (serverFrame_ && dst == frameArea_ && src == frameSource_ && mode == kStretchDrop &&
      scaler_->ScalePart(frame, dst, src, part))
    return;
  // An averaged pixel reads every source pixel it covers and its neighbours: drawn whole.
  if (mode != kStretchDrop) return StretchFrame(frame, dst, src, mode);
  if (serverFrame_) TakeFrameBack({});
  const RectXYWH clip = StretchedPart(dst, src, part);
  if (clip.width <= 0 || clip.height <= 0) return;
  // Since a move the frame shown is drawn when the damage is taken (damage parts are joined,
  // and a join must not carry pixels the move left out of date in the picture).
  if (movedFrame_ == &frame && dst == frameArea_)
    return MarkDamage(clip.x, clip.y, clip.width, clip.height);
  StretchBlt(picture_, dst.x, dst.y, dst.width, dst.height, frame, src.x, src.y, src.width,
             src.height, mode, clip.x, clip.y, clip.width, clip.height);
  MarkDamage(clip.x, clip.y, clip.width, clip.height);
}

bool WindowSurface::FrameKept(const RectXYWH& area) const {
  return !frameTouched_ && area.width > 0 && area.height > 0 && area == frameArea_;
}

void WindowSurface::FrameDrawn(const RectXYWH& area) {
  frameArea_ = area;
  movedFrame_ = nullptr;
  frameTouched_ = false;
  MarkDamage(area.x, area.y, area.width, area.height);
}

void WindowSurface::DrawBitmap(const Bitmap32& bmp, int x, int y) {
  const RectXYWH r = ClipToPicture(picture_, x, y, bmp.width, bmp.height);
  if (r.width == 0) return;
  const auto holdsBitmap = [&](const std::uint32_t* p, int n, int row) {
    return std::equal(p, p + n, bmp.Row(row - y) + (r.x - x));
  };
  if (ShowsOwnPixels(r) && EveryRow(picture_, r, holdsBitmap)) return;
  CopyRect(picture_, x, y, bmp, 0, 0, bmp.width, bmp.height);
  AddDamage(x, y, bmp.width, bmp.height);
}

namespace {

FontSpec TimerFont() {
  FontSpec spec;
  spec.face = kTimerFontFace;
  spec.height = kTimerFontHeight;
  return spec;
}

}  // namespace

int WindowSurface::DrawText(int x, int y, const std::string& text) {
  if (!font_) font_ = std::make_unique<FontRaster>();
  const int w = font_->Draw32(picture_, x, y, TimerFont(), text, 0xFFFFFF);
  const FontRaster::Box& b = font_->LastDrawn();
  AddDamage(b.left, b.top, b.right - b.left, b.bottom - b.top);
  return w;
}

// "Timer %04d.%03d " of the elapsed time; written digit by digit for the usual range (the text
// changes every pass, and the formatted print cost as much as drawing it).
std::string TimerText(std::int32_t elapsedMs) {
  if (elapsedMs < 0 || elapsedMs > 9999999) {
    char text[48];
    std::snprintf(text, sizeof text, "Timer %04d.%03d ", static_cast<int>(elapsedMs / 1000),
                  static_cast<int>(elapsedMs % 1000));
    return text;
  }
  std::string text = "Timer 0000.000 ";
  static constexpr int kDigitAt[] = {13, 12, 11, 9, 8, 7, 6};
  for (const int at : kDigitAt) {
    text[at] = static_cast<char>('0' + elapsedMs % 10);
    elapsedMs /= 10;
  }
  return text;
}

// Only the characters that changed since the last timer are drawn (the milliseconds, mostly):
// the others still hold exactly what drawing them again would write, as long as nothing else
// drew over them. Anything marked there since makes the next timer whole (MarkDamage), and so
// does a frame over it, whose pixels come back without a mark.
void WindowSurface::DrawTimer(std::int32_t elapsedMs) {
  if (!font_) font_ = std::make_unique<FontRaster>();
  if (Overlap(timerBand_, frameArea_)) font_->ForgetLastDrawn();
  drawingTimer_ = true;
  const int w = font_->Redraw32(picture_, kTimerX, kTimerY, TimerFont(), TimerText(elapsedMs));
  timerBand_ = {kTimerX, kTimerY, std::max(w, timerBand_.width), kTimerFontHeight};
  const FontRaster::Box& b = font_->LastDrawn();
  const RectXYWH drawn{b.left, b.top, b.right - b.left, b.bottom - b.top};
  if (drawn.width > 0 && drawn.height > 0) {
    AddDamage(drawn.x, drawn.y, drawn.width, drawn.height);
    timerBox_ = timerBox_.width > 0 ? UnionOf(timerBox_, drawn) : drawn;
  }
  drawingTimer_ = false;
}

// In the proportional face 19 spaces are narrower than the timer's text, and a glyph's ink may
// reach past its cell: what they leave of every timer drawn since the last erase is filled black
// as well.
void WindowSurface::EraseTimer() {
  DrawText(kTimerX, kTimerY, std::string(19, ' '));
  if (timerBox_.width > 0) Fill(timerBox_.x, timerBox_.y, timerBox_.width, timerBox_.height, 0);
  timerBox_ = {};
}

void WindowSurface::AddDamage(int x, int y, int width, int height) {
  const std::int64_t r = static_cast<std::int64_t>(x) + width,
                     b = static_cast<std::int64_t>(y) + height;
  if (frameArea_.width > 0 && width > 0 && height > 0 && x < frameArea_.x + frameArea_.width &&
      r > frameArea_.x && y < frameArea_.y + frameArea_.height && b > frameArea_.y) {
    frameTouched_ = true;
    if (serverFrame_) TakeFrameBack({x, y, width, height});
    RestoreAround({x, y, width, height});
  }
  MarkDamage(x, y, width, height);
}

// The picture is drawn over where the server shows the frame: the frame goes into the picture
// around `drawn` (which now holds what was drawn there), and the picture is shown again.
void WindowSurface::TakeFrameBack(const RectXYWH& drawn) {
  serverFrame_ = false;
  scaler_->DropParts();
  const Bitmap32& f = scaler_->Frame();
  const RectXYWH& a = frameArea_;
  RectXYWH around[4];
  AroundOf(a, drawn, around);
  for (const RectXYWH& c : around) {
    if (c.width <= 0 || c.height <= 0) continue;
    StretchBlt(picture_, a.x, a.y, a.width, a.height, f, frameSource_.x, frameSource_.y,
               frameSource_.width, frameSource_.height, kStretchDrop, c.x, c.y, c.width, c.height);
  }
  MarkDamage(a.x, a.y, a.width, a.height);
}

void WindowSurface::AllowFrameMoves(bool allowed) {
  // A window that came to cover this one just before a move was made hid pixels the server
  // then could not copy: the next frame is drawn and sent whole.
  if (!allowed && movesAllowed_) frameTouched_ = true;
  movesAllowed_ = allowed;
  if (!allowed) RestorePicture();
}

bool WindowSurface::MoveFrame(const StageBitmap& shown, const RectXYWH& dst, int dx, int dy) {
  if (!movesAllowed_ || movePending_ || serverFrame_ || !FrameKept(dst) || shown.Empty())
    return false;
  // Along an axis the frame moves on, only a whole-number scale moves the stretched frame by
  // whole window pixels, exactly (1920 x 1080 is x3 across but x2.25 down: a sideways move).
  const int kx = dst.width % shown.width == 0 ? dst.width / shown.width : 0;
  const int ky = dst.height % shown.height == 0 ? dst.height / shown.height : 0;
  if ((dx != 0 && kx == 0) || (dy != 0 && ky == 0)) return false;
  if (dst.x < 0 || dst.y < 0 || dst.x + dst.width > picture_.width ||
      dst.y + dst.height > picture_.height)
    return false;
  if (std::abs(dx) >= shown.width || std::abs(dy) >= shown.height || (dx == 0 && dy == 0))
    return false;
  // Parts drawn but not yet shown would be put after the move, over what it brought there.
  if (DamageIn(dst)) return false;
  move_ = {dst, dx * kx, dy * ky};
  movePending_ = true;
  movedFrame_ = &shown;
  Damaged(dst);
  return true;
}

bool WindowSurface::TakeFrameMove(FrameMove* move) {
  if (!movePending_) return false;
  movePending_ = false;
  *move = move_;
  return true;
}

void WindowSurface::RestorePicture() {
  RestoreAround({});
}

// The frame shown goes back into the picture around `drawn`, which holds what was drawn there.
void WindowSurface::RestoreAround(const RectXYWH& drawn) {
  if (movedFrame_ == nullptr) return;
  const StageBitmap& f = *movedFrame_;
  movedFrame_ = nullptr;
  const RectXYWH& a = frameArea_;
  RectXYWH around[4];
  AroundOf(a, drawn, around);
  for (const RectXYWH& c : around) {
    if (c.width <= 0 || c.height <= 0) continue;
    StretchBlt(picture_, a.x, a.y, a.width, a.height, f, 0, 0, f.width, f.height, kStretchDrop, c.x,
               c.y, c.width, c.height);
  }
}

bool WindowSurface::DamageIn(const RectXYWH& area) const {
  for (int i = 0; i < damage_.Count(); ++i)
    if (Overlap(damage_[i], area)) return true;
  return false;
}

void WindowSurface::MarkDamage(int x, int y, int width, int height) {
  // Clip to the picture first, so the record never names pixels that do not exist.
  const int left = std::max(x, 0);
  const int top = std::max(y, 0);
  const int right = std::min(x + width, picture_.width);
  const int bottom = std::min(y + height, picture_.height);
  if (right <= left || bottom <= top) return;
  const RectXYWH area{left, top, right - left, bottom - top};
  if (!drawingTimer_ && font_ && Overlap(area, timerBand_)) font_->ForgetLastDrawn();
  damage_.Add(area);
  Damaged(area);
}

DamageParts WindowSurface::TakeDamageParts() {
  DamageParts d;
  for (d.count = 0; d.count < damage_.Count(); ++d.count) d.part[d.count] = damage_[d.count];
  if (movedFrame_ != nullptr) {
    const StageBitmap& f = *movedFrame_;
    const RectXYWH& a = frameArea_;
    for (int i = 0; i < d.count; ++i) {
      const RectXYWH& p = d.part[i];
      const int l = std::max(p.x, a.x), t = std::max(p.y, a.y);
      const int r = std::min(p.x + p.width, a.x + a.width);
      const int b = std::min(p.y + p.height, a.y + a.height);
      if (r <= l || b <= t) continue;
      StretchBlt(picture_, a.x, a.y, a.width, a.height, f, 0, 0, f.width, f.height, kStretchDrop, l,
                 t, r - l, b - t);
    }
  }
  damage_.Clear();
  return d;
}

RectXYWH WindowSurface::TakeDamage() {
  const DamageParts d = TakeDamageParts();
  if (d.count == 0) return RectXYWH{};
  RectXYWH all = d.part[0];
  for (int i = 1; i < d.count; ++i) all = UnionOf(all, d.part[i]);
  return all;
}
