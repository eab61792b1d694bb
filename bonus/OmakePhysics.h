// The bonus window's pictures and motion, without a toolkit: turning pictures, shape regions,
// the bouncing head and the falling dialog.
#pragma once

#include <cstdint>
#include <vector>

#include "render/Bitmap.h"

struct OmakeRect {
  int left = 0, top = 0, width = 0, height = 0;
  int Right() const { return left + width; }
  int Bottom() const { return top + height; }
};

struct OmakePoint {
  int x = 0, y = 0;
};

// A turned copy of `source` by `angle` radians about its centre: even-sized, black where no
// source pixel lands (nearest neighbour, 10-bit fixed point).
void RotateBitmap(const Bitmap32& source, Bitmap32& destination, double angle);
// The pixels of `picture` that differ from `key` (0x00RRGGBB), moved by (left, top): one
// one-pixel-high rectangle per run in each row, rows top to bottom.
std::vector<OmakeRect> MakeRegionFromBitmap(const Bitmap32& picture, std::uint32_t key, int top,
                                            int left);
// Where snapshot point (x, y) of a w x h picture lies in its copy turned by `angle` into
// W x H (the inverse of RotateBitmap's mapping).
OmakePoint MapIntoTurned(int x, int y, int w, int h, int W, int H, double angle);

// The 15 frames of one full turn of the head: LB01..LB08, then LB08..LB02 mirrored.
inline constexpr int kHeadFrames = 15;
std::vector<Bitmap32> MakeHeadFrames(const std::vector<Bitmap32>& eight);

// What the window needs from the dialog each tick (screen coordinates, frame included).
struct DialogView {
  OmakeRect rect;
  int velocityX = 0;  // movement per tick, times 256
  int velocityY = 0;
};

// Variant 0: a turning head falls and bounces off the top half of the dialog.
class BouncingHead {
 public:
  static constexpr int kGravity = 600;
  static constexpr int kStartSpeed = 5120;  // 20 pixels per tick, downward

  explicit BouncingHead(const std::vector<Bitmap32>* frames) : frames_(frames) {}
  void Setup(const OmakeRect& dialog, int random);
  // One tick. false once the head has left the screen (nothing to draw then).
  bool Step(const DialogView& dialog, int screenWidth, int screenHeight);

  const Bitmap32& Work() const { return work_; }
  OmakePoint TopLeft() const { return {left_, top_}; }

  // Position in pixels, speeds in 1/256 pixel per tick.
  int X = 0, Y = 0;
  int SpeedX = 0, SpeedY = 0;
  double Angle = 0, AngleSpeed = 0;
  int Frame = 1;
  bool Touching = false;

 private:
  void Bounce(const DialogView& dialog, int centre);

  const std::vector<Bitmap32>* frames_;
  Bitmap32 work_;
  int frameTicks_ = 0;
  int left_ = 0, top_ = 0;
};

// Variant 1: a picture of the dialog swings round the pin, falls off the screen, flies back
// from a random direction and rocks upright into place.
class FallingDialog {
 public:
  enum Stage { kHanging = 1, kFlyingBack = 2, kRocking = 3 };
  enum class Action { kNone, kDraw, kHideDialog, kEnd };

  // `snapshot` is the dialog's window as on the screen at `dialog`; `press` is the pressed point
  // in the snapshot's coordinates.
  void Setup(Bitmap32 snapshot, const OmakeRect& dialog, OmakePoint press);
  // One tick. kHideDialog also means draw; kEnd: show the real dialog again, close the window.
  Action Step(int random, int screenWidth, int screenHeight);

  const Bitmap32& Snapshot() const { return snapshot_; }
  const Bitmap32& Work() const { return work_; }
  OmakePoint TopLeft() const { return topLeft_; }
  // The outline of the drawn picture in screen coordinates (fill alternately).
  const OmakePoint* Outline() const { return outline_; }

  Stage stage = kHanging;
  double Angle = 0, AngleSpeed = 0.01;
  int FallSpeed = 14, FallDistance = 0, Drift = 0;
  int FlyStep = 25, FlyDistance = 0;
  OmakePoint Pin, Centre, DialogCentre, Press;

 private:
  void Turn(double angle) { RotateBitmap(snapshot_, work_, angle); }
  void MakeOutline(double angle);
  int FlyBackDistance(int screenWidth, int screenHeight) const;

  Bitmap32 snapshot_;
  Bitmap32 work_;
  OmakePoint topLeft_;
  OmakePoint outline_[4];
};
