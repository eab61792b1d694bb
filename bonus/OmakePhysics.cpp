// The bonus window's pictures and motion.
#include "bonus/OmakePhysics.h"

#include <cmath>
#include <cstddef>
#include <utility>

#include "render/PixelOps.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kMaxFlyBack = 1 << 20;  // far beyond any screen; ends the search whatever happens

Bitmap32 Mirrored(const Bitmap32& p) {
  Bitmap32 m;
  if (!m.Create(p.width, p.height)) return m;
  for (int y = 0; y < p.height; ++y) {
    const std::uint32_t* s = p.Row(y);
    std::uint32_t* d = m.Row(y);
    for (int x = 0; x < p.width; ++x) d[x] = s[p.width - 1 - x];
  }
  return m;
}

}  // namespace

void RotateBitmap(const Bitmap32& source, Bitmap32& destination, double angle) {
  destination = RotatePicture(source, angle);
}

std::vector<OmakeRect> MakeRegionFromBitmap(const Bitmap32& picture, std::uint32_t key, int top,
                                            int left) {
  std::vector<OmakeRect> runs;
  key &= 0xFFFFFF;
  for (int y = 0; y < picture.height; ++y) {
    const std::uint32_t* row = picture.Row(y);
    int x = 0;
    while (x < picture.width) {
      while (x < picture.width && (row[x] & 0xFFFFFF) == key) ++x;
      const int start = x;
      while (x < picture.width && (row[x] & 0xFFFFFF) != key) ++x;
      if (x > start) runs.push_back({left + start, top + y, x - start, 1});
    }
  }
  return runs;
}

OmakePoint MapIntoTurned(int x, int y, int w, int h, int W, int H, double angle) {
  const std::int64_t sx = w / 2, sy = h / 2, cx = W / 2, cy = H / 2;
  const std::int64_t C = static_cast<std::int64_t>(std::cos(-angle) * 1024);
  const std::int64_t S = static_cast<std::int64_t>(std::sin(-angle) * 1024);
  const std::int64_t X = ((x - sx) * C + (sy - y) * S + cx * 1024) >> 10;
  const std::int64_t Y = ((x - sx) * S + (y - sy) * C + cy * 1024) >> 10;
  return {static_cast<int>(X), static_cast<int>(Y)};
}

std::vector<Bitmap32> MakeHeadFrames(const std::vector<Bitmap32>& eight) {
  std::vector<Bitmap32> frames;
  if (eight.size() != 8) return frames;
  frames = eight;
  for (int i = 7; i >= 1; --i) frames.push_back(Mirrored(eight[static_cast<std::size_t>(i)]));
  return frames;
}

// ---- Variant 0 ----

void BouncingHead::Setup(const OmakeRect& dialog, int random) {
  Y = -100;
  X = (dialog.width > 0 ? random % dialog.width : 0) + dialog.left;
  SpeedY = kStartSpeed;
  SpeedX = 0;
  Angle = 0;
  AngleSpeed = 0;
  Frame = 1;
  frameTicks_ = 0;
  Touching = false;
  work_ = Bitmap32();
}

bool BouncingHead::Step(const DialogView& dialog, int screenWidth, int screenHeight) {
  X += SpeedX / 256;
  Y += SpeedY / 256;
  SpeedY += kGravity;
  Angle += AngleSpeed;
  if (!frames_ || frames_->size() != kHeadFrames) return false;
  RotateBitmap((*frames_)[static_cast<std::size_t>(Frame)], work_, Angle);
  const int w = work_.width, h = work_.height;
  left_ = X - w / 2;
  top_ = Y - h / 2;
  const int right = left_ + w, bottom = top_ + h;
  const int centre = left_ + w / 2;
  if (top_ >= screenHeight || left_ >= screenWidth || right < 1) return false;

  if (++frameTicks_ >= 2) {
    frameTicks_ = 0;
    Frame = (Frame + 1) % kHeadFrames;
  }

  const OmakeRect& d = dialog.rect;
  const bool contact =
      bottom >= d.top && bottom < d.top + d.height / 2 && d.left < right && left_ < d.Right();
  if (!contact) {
    Touching = false;
  } else if (!Touching) {
    Touching = true;
    Bounce(dialog, centre);
  }
  return true;
}

void BouncingHead::Bounce(const DialogView& dialog, int centre) {
  const OmakeRect& d = dialog.rect;
  SpeedY = -((SpeedY - dialog.velocityY) / 3 + 3000);
  const int dialogCentre = d.left + d.width / 2;
  if (centre > dialogCentre) SpeedX += 1200;
  if (centre < dialogCentre) SpeedX -= 1200;
  if (dialog.velocityX != 0) {
    SpeedX += dialog.velocityX / 3;
  } else if (centre < d.left || centre > d.Right()) {
    SpeedX *= 2;
    SpeedY /= 2;
  }
  if (SpeedX == 0) SpeedX = 256;
  AngleSpeed = (SpeedX / 256) * -0.02;
}

// ---- Variant 1 ----

void FallingDialog::Setup(Bitmap32 snapshot, const OmakeRect& dialog, OmakePoint press) {
  snapshot_ = std::move(snapshot);
  work_ = snapshot_;
  Angle = 0;
  AngleSpeed = 0.01;
  FallSpeed = 14;
  Press = press;
  Pin = {dialog.left + press.x, dialog.top + press.y};
  DialogCentre = {dialog.left + dialog.width / 2, dialog.top + dialog.height / 2};
  Centre = DialogCentre;
  stage = kHanging;
  FlyStep = 25;
  FallDistance = 0;
  Drift = 0;
  FlyDistance = 0;
  topLeft_ = {dialog.left, dialog.top};
  MakeOutline(0);
}

void FallingDialog::MakeOutline(double angle) {
  const int w = snapshot_.width, h = snapshot_.height;
  const int sx = w / 2, sy = h / 2;
  const OmakePoint corners[4] = {{0, 0}, {2 * sx, 0}, {2 * sx, 2 * sy}, {0, 2 * sy}};
  for (int i = 0; i < 4; ++i) {
    const OmakePoint m =
        MapIntoTurned(corners[i].x, corners[i].y, w, h, work_.width, work_.height, angle);
    outline_[i] = {m.x + topLeft_.x, m.y + topLeft_.y};
  }
}

int FallingDialog::FlyBackDistance(int screenWidth, int screenHeight) const {
  const int W = work_.width, H = work_.height;
  const int SW = screenWidth, SH = screenHeight;
  const int cx = Centre.x, cy = Centre.y;
  int d = 100;
  for (; d < kMaxFlyBack; d += 4 * FlyStep) {
    const int ox = static_cast<int>(std::cos(Angle) * d);
    const int oy = static_cast<int>(-std::sin(Angle) * d);
    bool out;
    if (Angle <= kPi / 2) {
      out = SW < cx + ox - W || H + cy + oy < 0;
    } else if (Angle <= kPi) {
      out = W + cx + ox < 0 || H + cy + oy < 0;
    } else if (Angle <= 3 * kPi / 2) {
      out = W + cx + ox < 0 || SH < cy + oy - H;
    } else {
      out = SW < cx + ox - W || SH < cy + oy - H;
    }
    if (out) break;
  }
  return d;
}

FallingDialog::Action FallingDialog::Step(int random, int screenWidth, int screenHeight) {
  switch (stage) {
    case kHanging: {
      if (FallDistance >= screenHeight) {
        Angle = (random % 200) * 0.01 * kPi;
        Turn(Angle + kPi / 2);
        Centre = DialogCentre;
        FlyDistance = FlyBackDistance(screenWidth, screenHeight);
        stage = kFlyingBack;
        return Action::kNone;
      }
      const bool first = Angle == 0;
      Angle += AngleSpeed;
      Turn(Angle);
      const int cx = work_.width / 2, cy = work_.height / 2;
      if (Angle > 2.2) {
        FallDistance += FallSpeed;
        Drift += 6;
        FallSpeed += 4;
        topLeft_ = {Centre.x + Drift - cx, Centre.y + FallDistance - cy};
      } else {
        AngleSpeed += 0.008;
        const OmakePoint m = MapIntoTurned(Press.x, Press.y, snapshot_.width, snapshot_.height,
                                           work_.width, work_.height, Angle);
        topLeft_ = {Pin.x - m.x, Pin.y - m.y};
        Centre = {topLeft_.x + cx, topLeft_.y + cy};
      }
      MakeOutline(Angle);
      return first ? Action::kHideDialog : Action::kDraw;
    }
    case kFlyingBack: {
      if (FlyDistance < 1) {
        Angle += kPi / 2;
        while (Angle > 2 * kPi) Angle -= 2 * kPi;
        if (Angle > kPi) Angle -= 2 * kPi;
        AngleSpeed = Angle > 0 ? -0.1 : 0.1;
        stage = kRocking;
        return Action::kNone;
      }
      FlyDistance = FlyDistance < 11 ? FlyDistance - 2 : FlyDistance - FlyDistance / 5;
      const int cx = work_.width / 2, cy = work_.height / 2;
      topLeft_ = {static_cast<int>(std::cos(Angle) * FlyDistance + Centre.x - cx),
                  static_cast<int>(-std::sin(Angle) * FlyDistance + Centre.y - cy)};
      MakeOutline(Angle - kPi / 2);
      return Action::kDraw;
    }
    case kRocking: {
      Angle += AngleSpeed;
      Turn(Angle);
      topLeft_ = {Centre.x - work_.width / 2, Centre.y - work_.height / 2};
      if ((AngleSpeed < 0 && Angle < 0) || (AngleSpeed > 0 && Angle > 0)) return Action::kEnd;
      MakeOutline(Angle);
      return Action::kDraw;
    }
  }
  return Action::kNone;
}
