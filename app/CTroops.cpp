// The preview animation: step, then draw rows far to near with AND/OR masking.
#include "app/CTroops.h"

#include <cmath>
#include <string>
#include <utility>

#include "render/Picture.h"
#include "render/PixelOps.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kRowTable[] = {2, 4, 6, 8, 8, 10, 6, 6, 6, -1};  // figures per row, nearest first
constexpr int kRowsAfterTable = 4;

double Radians(int degrees) {
  return degrees * kPi / 180.0;
}

bool LoadPicture(const char* name, Bitmap32* out) {
  Picture p;
  if (LoadBuiltinPicture(name, &p) != 0 || p.rgb.Empty()) return false;
  *out = std::move(p.rgb);
  return true;
}

bool IsBlack(std::uint32_t p) {
  return (p & 0x00FFFFFFu) == 0;
}

}  // namespace

CTroops::CTroops(int width, int height, std::uint32_t seed) : W(width), H(height) {
  Start(seed, true);
}

CTroops::CTroops(int width, int height, std::uint32_t seed, TroopPictures pictures)
    : W(width), H(height), pictures_(std::move(pictures)) {
  Start(seed, false);
}

void CTroops::Start(std::uint32_t seed, bool builtin) {
  seed_ = seed;
  Set = (Random() % 2) ? 1 : 2;
  Amplitude = Set == 1 ? 50 : 25;
  Offset = Set == 1 ? 10 : 1;

  if (builtin) {
    const char* kinds[2][2] = {{"FigureA", "FigureB"}, {"FigureC", "FigureD"}};
    if (!LoadPicture("PreviewBackdrop", &pictures_.backdrop))
      pictures_.backdrop = PlaceholderBackdrop(kPreviewWidth, kPreviewHeight);
    for (int k = 0; k < 2; ++k)
      if (!LoadPicture(kinds[Set - 1][k], &pictures_.kind[k]))
        pictures_.kind[k] = PlaceholderFigure(Set, k);
  }
  // The backdrop is shown at the view's size, stretched by dropping pixels when it differs.
  Bitmap32& b = pictures_.backdrop;
  if (b.width != W || b.height != H) {
    Bitmap32 sized;
    sized.Create(W, H);
    if (!b.Empty()) StretchBlt(sized, 0, 0, W, H, b, 0, 0, b.width, b.height, kStretchDrop);
    b = std::move(sized);
  }

  int q = 0;
  for (; q < kTroopRows && kRowTable[q] != -1; ++q) RowFigures[q] = kRowTable[q];
  for (; q < kTroopRows; ++q) RowFigures[q] = kRowsAfterTable;

  CamX = 200000 + Random();
  CamY = 200000 + Random();
  Heading = Radians(Random() % 360);
  Speed = (Random() % 10) + 7;
  HeadingRate = SpeedRate = 0;
  HeadingTimer = ((Random() % 8) + 3) * 1000 / 33 + 1;
  SpeedTimer = ((Random() % 7) + 2) * 1000 / 33 + 1;
  BobPhase = 0;
  Bob = 0;
}

int CTroops::Random() {
  seed_ = seed_ * 1103515245u + 12345u;
  return static_cast<int>((seed_ >> 16) & 0x7FFF);
}

bool CTroops::HasFigure(int row, int column) {
  return row % kTroopLane != 0 && column % kTroopLane != 0;
}

int CTroops::KindOf(int row, int column) {
  return ((column >> 4) + (row >> 4)) & 1;
}

void CTroops::Step() {
  Bob = std::sin(BobPhase) * Amplitude + Offset;
  BobPhase += 0.03;
  if (BobPhase > kPi) BobPhase -= 2 * kPi;

  Heading += HeadingRate;
  if (Heading > 2 * kPi) Heading -= 4 * kPi;
  if (Heading < -2 * kPi) Heading += 4 * kPi;
  Speed += SpeedRate;

  CamX += std::sin(Heading) * Speed;
  CamY += std::cos(Heading) * Speed;
  if (CamX < 100) CamX += 200000;
  if (CamY < 100) CamY += 200000;

  if (--HeadingTimer < 0) {
    HeadingTimer = ((Random() % 8) + 3) * 1000 / 33;
    const double target = Radians(Random() % 360);
    HeadingRate = (target - Heading) / HeadingTimer;
    if (Random() % 2 == 0) HeadingRate = -HeadingRate;
  }
  if (--SpeedTimer < 0) {
    SpeedTimer = ((Random() % 7) + 2) * 1000 / 33;
    SpeedRate = ((Random() % 10) + 7 - Speed) / SpeedTimer;
  }
}

void CTroops::Draw(Bitmap32& target) {
  CopyRect(target, 0, 0, pictures_.backdrop, 0, 0, W, H);
  const int camY = static_cast<int>(CamY);
  int d = kTroopRows * kTroopSpacingY - camY % kTroopSpacingY;
  int r = (camY + kTroopRows * kTroopSpacingY) / kTroopSpacingY;
  const int c0 = static_cast<int>(CamX) / kTroopSpacingX;
  for (int q = kTroopRows - 1; q >= 0; --q, d -= kTroopSpacingY, --r) {
    if (r % kTroopLane == 0 || d < kTroopNearLimit) continue;
    DrawRow(target, q, d, r, c0);
  }
}

// One row: its figures scaled into a strip, then masked onto the target so that black is clear.
void CTroops::DrawRow(Bitmap32& target, int q, int d, int r, int c0) {
  const Bitmap32& kind0 = pictures_.kind[0];
  const int halfW = kind0.width / 2, halfH = kind0.height / 2;
  const double k = static_cast<double>(kTroopFocal) / d;
  const int n = RowFigures[q];
  const int cell = static_cast<int>(kind0.width * k);
  const int stripW = static_cast<int>((kind0.width + n * kTroopSpacingX) * k);

  const int top = static_cast<int>((Bob - halfH) * k);
  const int bottom = static_cast<int>((halfH + Bob) * k);
  int stripH = bottom - top;
  int srcY = 0;
  int srcH = kind0.height;
  int y = top;
  const int h2 = H / 2;
  if (top < -h2) {
    stripH += h2 + top;
    y = -h2;
    srcY = static_cast<int>((-h2 - top) / k);
    srcH = static_cast<int>(srcH - (-h2 - top) / k);
  }
  if (bottom > h2) {
    stripH += h2 - bottom;
    srcH = static_cast<int>(srcH - (bottom - h2) / k);
  }
  if (stripW <= 0 || stripH <= 0 || srcH <= 0 || cell <= 0) return;

  strip_.Create(stripW, stripH);
  int firstX[2] = {-1, -1};
  for (int i = 0; i < n; ++i) {
    const int c = c0 - n / 2 + i;
    if (c % kTroopLane == 0) continue;
    const int kind = KindOf(r, c);
    const int fx = static_cast<int>(i * kTroopSpacingX * k);
    if (firstX[kind] < 0) {
      const Bitmap32& pic = pictures_.kind[kind];
      StretchBlt(strip_, fx, 0, cell, stripH, pic, 0, srcY, kind0.width, srcH, kStretchDrop);
      firstX[kind] = fx;
    } else {
      for (int row = 0; row < stripH; ++row) {
        std::uint32_t* line = strip_.Row(row);
        for (int j = 0; j < cell && fx + j < stripW; ++j) line[fx + j] = line[firstX[kind] + j];
      }
    }
  }

  int x = static_cast<int>(k * (kTroopSpacingX - static_cast<int>(CamX) % kTroopSpacingX -
                                (n / 2) * kTroopSpacingX - halfW)) +
          W / 2;
  y += H / 2;
  int srcX = 0;
  int width = stripW;
  if (x < 0) {
    width -= -x;
    srcX = -x;
    x = 0;
  }
  if (x + width > W) width = W - x;
  if (width <= 0) return;

  mask_.Create(stripW, stripH);
  for (int row = 0; row < stripH; ++row) {
    const std::uint32_t* s = strip_.Row(row);
    std::uint32_t* m = mask_.Row(row);
    for (int j = 0; j < stripW; ++j) m[j] = IsBlack(s[j]) ? 0xFFFFFFFFu : 0u;
  }
  AndRect(target, x, y, mask_, srcX, 0, width, stripH);
  OrRect(target, x, y, strip_, srcX, 0, width, stripH);
}

Bitmap32 PlaceholderBackdrop(int width, int height) {
  Bitmap32 b;
  b.Create(width, height);
  for (int y = 0; y < height; ++y) {
    std::uint32_t* row = b.Row(y);
    const bool sky = y < height / 2;
    const int t =
        sky ? y * 255 / (height / 2 > 0 ? height / 2 : 1) : (y - height / 2) * 80 / height;
    const std::uint32_t c = sky ? (static_cast<std::uint32_t>(20 + t / 4) << 16) |
                                      (static_cast<std::uint32_t>(40 + t / 3) << 8) |
                                      static_cast<std::uint32_t>(90 + t / 2)
                                : (static_cast<std::uint32_t>(50 + t) << 16) |
                                      (static_cast<std::uint32_t>(40 + t) << 8) | 20u;
    for (int x = 0; x < width; ++x) row[x] = c;
  }
  return b;
}

// A figure seen from behind: head, shoulders and body, legs apart, on black.
Bitmap32 PlaceholderFigure(int set, int kind) {
  static constexpr std::uint32_t kCoats[2][2] = {{0x3050C0, 0xC03030}, {0x30A040, 0xC0A020}};
  const std::uint32_t coat = kCoats[set == 2 ? 1 : 0][kind & 1];
  const std::uint32_t skin = 0xE0B090;
  Bitmap32 b;
  b.Create(kFigureWidth, kFigureHeight);
  const int cx = kFigureWidth / 2;
  for (int y = 0; y < kFigureHeight; ++y) {
    std::uint32_t* row = b.Row(y);
    for (int x = 0; x < kFigureWidth; ++x) {
      const int dx = x - cx;
      if (y < 24) {
        const int dy = y - 12;
        if (dx * dx + dy * dy <= 100) row[x] = skin;
      } else if (y < 84) {
        const int half = y < 32 ? 10 + (y - 24) * 2 : 24;
        if (dx >= -half && dx < half) row[x] = coat;
      } else if ((dx >= -14 && dx < -3) || (dx >= 3 && dx < 14)) {
        row[x] = y < 126 ? 0x303030u : 0x101010u + 0x202020u;
      }
    }
  }
  return b;
}
