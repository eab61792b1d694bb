// The image layer: up to 64 pictures placed in space, turned, scaled, faded and moved, projected
// each frame against the background camera and drawn as four independently clipped quadrants.
#pragma once

#include <cstdint>
#include <memory>

#include "render/Bitmap.h"
#include "render/LayerEvents.h"
#include "render/Motion.h"
#include "render/PictureBudget.h"
#include "render/PictureCache.h"

class LayerSettings;
class CBgCtl;
class FontRaster;

inline constexpr int kMaxImages = 64;  // live image objects of one layer
// Stretched quadrants kept for pictures that stand still, at most four stages' worth of pixels.
inline constexpr std::size_t kMaxKeptStretchPixels = 4u * 640u * 272u;

struct QuadRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool operator==(const QuadRect&) const = default;
};

// A quadrant as it was last stretched: the same source pixels at the same size give the same
// pixels, so a picture standing still is stretched once instead of on every frame.
struct StretchedQuadrant {
  QuadRect source;
  int width = -1;
  int height = -1;
  int quality = -1;
  unsigned version = 0;  // CPtDataI::turnedVersion it was made from
  Bitmap32 pixels;       // empty until the same stretch came twice running
};

// Indexes of the animated values in CPtDataI::motion.
enum MotionAxis { kMotionX = 0, kMotionY, kMotionZ, kMotionAngle, kMotionSize, kMotionCount };

struct CPtDataI {
  int id = -1;
  std::int32_t transparent = -1;  // packed 0x00BBGGRR, -1 for none
  Point3 position;                // z is the script value + 270
  double angle = 0;               // radians
  double size = 1.0;
  std::int32_t contrast = 0xFF0000;
  int lifetime = 0;    // frames
  Bitmap32 picture;    // the source, even-sized
  PictureLease lease;  // what the source holds of the window's picture budget
  Bitmap32 turned;     // `picture` turned by `angle` (a copy when 0)
  int quality = 3;     // stretch mode
  Point3 base;         // place in background coordinates
  int operation = 1;   // 1 COPY, 2 PAINT
  Motion motion[kMotionCount];
  std::int32_t contrastCount = 0;
  std::int32_t contrastTarget = 0;
  std::int32_t contrastDelta = 0;
  // Projection of the last frame: quadrants 0 lower right, 1 upper right, 2 upper left,
  // 3 lower left; an empty stage rectangle is not drawn.
  int anchorX = 0;
  int anchorY = 0;
  QuadRect source[4];
  QuadRect stage[4];
  unsigned turnedVersion = 0;  // counts the changes of `turned`
  StretchedQuadrant stretched[4];
};

class COthBmp {
 public:
  COthBmp(LayerSettings* settings, CBgCtl* background);
  ~COthBmp();
  COthBmp(const COthBmp&) = delete;
  COthBmp& operator=(const COthBmp&) = delete;

  void AddImage(const CTimeImage& rec);
  void SetImage(const CTimeSchedule& rec);
  int AnimateImages();  // 1 when an object was removed or is visible
  void DrawImages(StageBitmap& stage);
  void ClearImages();
  // Whether quadrant q of `obj` is drawn over every pixel of its stage rectangle with the
  // picture's own pixels, whatever lay under them (an opaque copy at full contrast of a part
  // inside the turned picture): nothing drawn under it there is seen.
  static bool CoversQuadrant(const CPtDataI& obj, int q);

  // Stretches every quadrant afresh, without kept stretches or plain copies at natural size
  // (the reference player that tests compare with).
  bool FromScratch = false;

  // State, public for tests and tools.
  std::unique_ptr<CPtDataI> slots[kMaxImages];
  int next = 0;
  int count = 0;
  // The picture files this show loaded, for the objects that load them again.
  PictureCache pictures;

 private:
  void LoadSource(const CTimeImage& rec, CPtDataI* obj);
  void Project(CPtDataI* obj, const Point3& camera);
  void DrawQuadrant(StageBitmap& stage, CPtDataI& obj, int q);
  // The bitmap that holds quadrant q of `obj` as stretched, with its top-left at (*sx, *sy):
  // the turned picture itself at natural size, else the kept stretch; null when it must be
  // stretched now.
  const Bitmap32* Stretched(CPtDataI& obj, int q, int* sx, int* sy);
  // Whether another quadrant of `pixels` pixels may be kept (all kept ones stay under a bound).
  bool RoomToKeep(std::size_t pixels) const;
  // BlendPixel and PaintPixel of the stretched quadrant, at (sx, sy) of `src`, onto the stage
  // rectangle `d`.
  static void BlendRows(StageBitmap& stage, const QuadRect& d, const Bitmap32& src, int sx, int sy,
                        int a);
  static void PaintRows(StageBitmap& stage, const QuadRect& d, const Bitmap32& src, int sx, int sy,
                        int a);

  LayerSettings* settings_;
  CBgCtl* background_;
  std::unique_ptr<FontRaster> font_;  // made on the first STRING picture
  Bitmap32 temp_;                     // stage-sized scratch for blended quadrants
};
