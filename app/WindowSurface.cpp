// The saver window's picture and its damage record.
#include "app/WindowSurface.h"

#include <algorithm>
#include <cstdio>

#include "render/FontRaster.h"
#include "render/PixelOps.h"

WindowSurface::WindowSurface() = default;
WindowSurface::~WindowSurface() = default;

bool WindowSurface::Resize(int width, int height) {
  if (!picture_.Create(width, height, 0)) return false;
  damage_ = {};
  AddDamage(0, 0, width, height);
  return true;
}

void WindowSurface::Fill(int x, int y, int width, int height, std::uint32_t colour) {
  FillRect(picture_, x, y, width, height, colour);
  AddDamage(x, y, width, height);
}

void WindowSurface::FillAll(std::uint32_t colour) {
  Fill(0, 0, Width(), Height(), colour);
}

void WindowSurface::CopyFrame(const StageBitmap& frame, int x, int y) {
  CopyRect(picture_, x, y, frame, 0, 0, frame.width, frame.height);
  AddDamage(x, y, frame.width, frame.height);
}

void WindowSurface::StretchFrame(const StageBitmap& frame, const RectXYWH& dst, const RectXYWH& src,
                                 int mode) {
  StretchBlt(picture_, dst.x, dst.y, dst.width, dst.height, frame, src.x, src.y, src.width,
             src.height, mode);
  AddDamage(dst.x, dst.y, dst.width, dst.height);
}

void WindowSurface::DrawBitmap(const Bitmap32& bmp, int x, int y) {
  CopyRect(picture_, x, y, bmp, 0, 0, bmp.width, bmp.height);
  AddDamage(x, y, bmp.width, bmp.height);
}

int WindowSurface::DrawText(int x, int y, const std::string& text) {
  if (!font_) font_ = std::make_unique<FontRaster>();
  FontSpec spec;
  spec.face = kTimerFontFace;
  spec.height = kTimerFontHeight;
  const int w = font_->Draw32(picture_, x, y, spec, text, 0xFFFFFF);
  AddDamage(x, y, w, font_->TextHeight(spec));
  return w;
}

void WindowSurface::DrawTimer(std::int32_t elapsedMs) {
  char text[48];
  std::snprintf(text, sizeof text, "Timer %04d.%03d ", static_cast<int>(elapsedMs / 1000),
                static_cast<int>(elapsedMs % 1000));
  DrawText(kTimerX, kTimerY, text);
}

void WindowSurface::EraseTimer() {
  DrawText(kTimerX, kTimerY, std::string(19, ' '));
}

void WindowSurface::AddDamage(int x, int y, int width, int height) {
  // Clip to the picture first, so the record never names pixels that do not exist.
  const int left = std::max(x, 0);
  const int top = std::max(y, 0);
  const int right = std::min(x + width, picture_.width);
  const int bottom = std::min(y + height, picture_.height);
  if (right <= left || bottom <= top) return;
  const RectXYWH area{left, top, right - left, bottom - top};
  if (!HasDamage()) {
    damage_ = area;
  } else {
    const int l = std::min(damage_.x, left);
    const int t = std::min(damage_.y, top);
    const int r = std::max(damage_.x + damage_.width, right);
    const int b = std::max(damage_.y + damage_.height, bottom);
    damage_ = {l, t, r - l, b - t};
  }
  Damaged(area);
}

RectXYWH WindowSurface::TakeDamage() {
  const RectXYWH d = HasDamage() ? damage_ : RectXYWH{};
  damage_ = {};
  return d;
}
