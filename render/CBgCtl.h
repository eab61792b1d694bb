// The background layer: a tiled picture with placed pictures, or a plain fill, seen through a
// camera that jumps, glides or drifts; its camera is also the viewpoint of the image objects.
#pragma once

#include <cstdint>

#include "render/Bitmap.h"
#include "render/LayerEvents.h"
#include "render/Motion.h"
#include "render/PictureBudget.h"

class LayerSettings;

inline constexpr int kMaxPlaced = 64;  // placed pictures of one background

// Transparent-colour markers a TRANS attribute may give instead of a colour.
inline constexpr std::int32_t kTransOff = -1;
inline constexpr std::int32_t kTransLeftTop = -2;
inline constexpr std::int32_t kTransRightTop = -3;
inline constexpr std::int32_t kTransLeftBottom = -4;
inline constexpr std::int32_t kTransRightBottom = -5;

// The transparent colour (packed 0x00BBGGRR) a TRANS value names for `pic`: a corner marker
// reads that corner pixel; -1 (or any other negative value, or an empty picture) means none.
std::int32_t ResolveTransparent(std::int32_t trans, const Bitmap32& pic);
// The same for the top-left width x height part of `pic` (a picture padded on the right and
// bottom keeps its corners there).
std::int32_t ResolveTransparent(std::int32_t trans, const Bitmap32& pic, int width, int height);

// One axis of camera motion. `exact` is the unrounded position while a move runs.
struct BgAxis : Motion {
  double exact = 0;
};

struct BgRect {
  int left = 0;
  int top = 0;
  int right = 0;   // left + width
  int bottom = 0;  // top + height
  bool Empty() const { return right <= left || bottom <= top; }
};

// A background frame turned into the next one by moving its pixels: the tiled picture seen from
// a camera moved by whole pixels is the last frame moved the other way, but for what came into
// view and where a placed picture rounds against the camera differently from the tile.
struct BgShift {
  int dx = 0;  // how far the stage's pixels move
  int dy = 0;
  BgRect moved;     // where the moved pixels land
  BgRect fresh[2];  // what came into view, outside `moved` and apart from each other
  int freshCount = 0;
  BgRect placed;  // within `moved`: placed pictures' old (moved) and new places, when
                  // they round differently from the tile there; else empty
};

class CBgCtl {
 public:
  explicit CBgCtl(LayerSettings* settings);

  void MakeBackground(const CTimeBgMake& rec);
  void ScrollBackground(const CTimeBgScroll& rec);
  int AnimateBackground();  // 1 when x or y changed this frame
  void DrawBackground(StageBitmap& stage);
  // The same pixels, in `area` of the stage only (cut to the stage), for a frame whose camera and
  // fill are those of the frame drawn last.
  void DrawBackground(StageBitmap& stage, const BgRect& area);
  // How a frame drawn with the camera at `from`, with the picture, placed pictures and fill as
  // they are now, becomes the frame at the current camera by a move (see BgShift). False when it
  // cannot exactly: a fill instead of a picture, no move or a move of a whole stage or more, a
  // camera too far out for whole-pixel arithmetic.
  bool PlanShift(const Point3& from, BgShift* shift) const;
  // Moves the stage's pixels as planned and draws the background where they do not hold it (what
  // came into view, the placed pictures' places in `shift.placed`), and in `more` (where the
  // caller draws over the background), all as the whole draw of this frame would.
  void ShiftBackground(StageBitmap& stage, const BgShift& shift, const BgRect* more = nullptr,
                       int moreCount = 0);
  // Counts every change of what the background draws other than its camera: picture, placed
  // pictures, fill.
  int Version() const { return version_; }
  // SOLID: mode 0 and its packed colour; CLEAR: mode 1 and 0.
  void SetBackgroundFill(int mode, std::int32_t colour);
  Point3 GetCamera() const { return Camera; }
  void ClearBackground();

  // Redraws `composed` from the base picture and the placed pictures at the current camera.
  void ComposeBackground();
  // `composed` as the camera now stands (a moving background is composed into the frame
  // directly, and into `composed` only when it is asked for).
  const Bitmap32& Composed();

  // Composes a background picture whenever the camera moves and on every draw instead of
  // keeping it for later (the reference player that tests compare with).
  bool FromScratch = false;

  // State, public for tests and tools.
  Bitmap32 composed;  // the current 640 x 272 window
  Bitmap32 basePicture;
  int hasBase = 0;
  Bitmap32 placed[kMaxPlaced];
  bool placedUsed[kMaxPlaced] = {};
  BgRect placedRect[kMaxPlaced];
  std::int32_t placedTransparent[kMaxPlaced];  // packed 0x00BBGGRR or -1
  int placedCount = 0;
  Point3 Camera;
  std::int32_t fillColour = 0;  // packed 0x00BBGGRR
  int fillMode = 0;             // 1 draws `composed`, 0 fills with `fillColour`
  BgAxis axis[3];               // x, y, z

 private:
  // What basePicture and each placed picture hold of the window's picture budget.
  PictureLease baseLease_;
  PictureLease placedLease_[kMaxPlaced];

  void LoadPicture(const char* name, Bitmap32* out, PictureLease* lease);
  void StartPositionMove(const CTimeBgScroll& rec);
  void StartRateMove(const CTimeBgScroll& rec);
  double& Coord(int i);
  // The base picture tiled from the camera, with the placed pictures, into a 640 x 272 bitmap,
  // within `clip` only (cut to the stage).
  void ComposeInto(Bitmap32& out);
  void ComposeInto(Bitmap32& out, const BgRect& clip);
  // Where placed picture n lands on the stage with the camera at `cam` (before any cut to the
  // stage), and the part of the picture it shows; false when it is out of view.
  bool PlacedOnStage(int n, const Point3& cam, BgRect* dst, int* sx, int* sy) const;

  int version_ = 0;
  bool composedStale_ = false;  // the camera moved since `composed` was made
  // Draws since the camera last moved, counted up to kStillDrawsToKeep.
  static constexpr int kStillDrawsToKeep = 3;
  int stillDraws_ = 0;

  LayerSettings* settings_;
};
