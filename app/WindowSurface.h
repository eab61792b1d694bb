// The saver window's picture: a persistent 32-bit bitmap of the client area that playback draws
// into, with a record of the area changed since the shell last repainted.
#pragma once

#include <cstdint>
#include <memory>
#include <memory_resource>
#include <string>

#include "app/DisplayGeometry.h"
#include "app/PartList.h"
#include "render/Bitmap.h"

class FontRaster;

// The changed areas of the picture are recorded as at most this many rectangles, so that two
// small changes far apart are not repainted as the whole area between them; rectangles are
// joined where the join costs fewer pixels than a request (PartList).
inline constexpr int kMaxDamageParts = 16;
static_assert(kMaxDamageParts <= PartList::kCapacity);
struct DamageParts {
  RectXYWH part[kMaxDamageParts];
  int count = 0;
};

inline constexpr int kTimerX = 5;
inline constexpr int kTimerY = 5;
inline constexpr int kTimerFontHeight = 12;
inline constexpr const char* kTimerFontFace = "ＭＳ Ｐゴシック";

// The pixels of `dst` that the pixel-dropping stretch of `src` onto it takes from `part` of the
// source, exactly; empty when none.
RectXYWH StretchedPart(const RectXYWH& dst, const RectXYWH& src, const RectXYWH& part);

// Scaling of whole frames by the display server: the surface hands a stretched frame (or the
// changed parts of one) to it instead of stretching it into the picture, so a full-screen
// picture is sent as the 640 x 272 frame. Set by the shell where the server scales exactly as
// the picture would be stretched.
class FrameScaler {
 public:
  virtual ~FrameScaler() = default;
  // The server is to show the part `part` (frame pixels) of `frame` as the nearest-pixel stretch
  // of `src` onto `dst` (picture pixels) shows it; false when it cannot (the surface then
  // stretches the part itself).
  virtual bool ScalePart(const StageBitmap& frame, const RectXYWH& dst, const RectXYWH& src,
                         const RectXYWH& part) = 0;
  // The frame as the server holds it: every part taken so far.
  virtual const Bitmap32& Frame() const = 0;
  // Parts taken but not yet shown are not to be shown: the surface has stretched them into the
  // picture itself.
  virtual void DropParts() = 0;
};

// A move of the frame on the screen, in window pixels: the pixels of `area` go `dx` right and
// `dy` down (what would leave `area` is dropped, what they leave uncovered stays as it was).
struct FrameMove {
  RectXYWH area;
  int dx = 0;
  int dy = 0;
};

// The timer's text for `elapsedMs`: "Timer %04d.%03d ".
std::string TimerText(std::int32_t elapsedMs);

class WindowSurface {
 public:
  // `memory` holds the picture's pixels (a resource the shell shares with the display server).
  explicit WindowSurface(std::pmr::memory_resource* memory = std::pmr::get_default_resource());
  virtual ~WindowSurface();
  WindowSurface(const WindowSurface&) = delete;
  WindowSurface& operator=(const WindowSurface&) = delete;

  // Reallocates the picture at the given client size, black; false for a refused size.
  bool Resize(int width, int height);
  int Width() const { return picture_.width; }
  int Height() const { return picture_.height; }
  Bitmap32& Picture() { return picture_; }
  const Bitmap32& Picture() const { return picture_; }

  void Fill(int x, int y, int width, int height, std::uint32_t colour = 0);
  void FillAll(std::uint32_t colour = 0);
  // The whole frame, unscaled, with its top-left corner at (x, y).
  void CopyFrame(const StageBitmap& frame, int x, int y);
  // `src` of the frame stretched onto `dst` with stretch mode 3 (dropping) or 4 (averaging).
  void StretchFrame(const StageBitmap& frame, const RectXYWH& dst, const RectXYWH& src, int mode);
  // The same for the pixels that the part `part` of the frame (in frame pixels) shows in: after
  // a whole frame was drawn, a next frame that differs from it only there is drawn so (the
  // averaging stretch draws the whole frame).
  void CopyFrame(const StageBitmap& frame, int x, int y, const RectXYWH& part);
  void StretchFrame(const StageBitmap& frame, const RectXYWH& dst, const RectXYWH& src, int mode,
                    const RectXYWH& part);
  // Records that `part` of a frame at (x, y) was copied into Picture() directly (as the part
  // form of CopyFrame copies it).
  void FramePartCopied(int x, int y, const RectXYWH& part);
  // True when the last whole frame was drawn onto `area` and nothing but parts of frames has
  // been drawn there since (a fill, a bitmap, text or outside damage clears it), so the window
  // still shows that frame and a changed part is enough.
  bool FrameKept(const RectXYWH& area) const;
  // A bitmap at its own size with its top-left corner at (x, y).
  void DrawBitmap(const Bitmap32& bmp, int x, int y);
  // "Timer %04d.%03d " of the elapsed milliseconds at (5, 5), white on black.
  void DrawTimer(std::int32_t elapsedMs);
  // Erases the timer by writing 19 spaces over it (and black over what they leave uncovered of
  // every timer drawn since the last erase).
  void EraseTimer();
  // Text in the timer's font, white on black; returns its width. Used by the two above.
  int DrawText(int x, int y, const std::string& text);

  // Marks an area that was drawn into Picture() directly (the caption layer draws so).
  void AddDamage(int x, int y, int width, int height);
  bool HasDamage() const { return damage_.Count() > 0; }
  // The areas changed since the last call (none when nothing changed); clears the record. Areas
  // are joined where that costs fewer pixels than a part more; they may overlap where it costs
  // fewer pixels than a join.
  DamageParts TakeDamageParts();
  // The rectangle around them (empty when nothing changed); clears the record.
  RectXYWH TakeDamage();

  // Moves of the frame shown are allowed (set by a shell that can have the display server move
  // what its window shows, and only while nothing covers the window). Disallowing them puts
  // the frame back into the picture, and the next frame is drawn whole.
  void AllowFrameMoves(bool allowed);
  // The window shows the whole-number stretch of `shown` onto `dst` (source: all of `shown`),
  // kept as it is since; that frame moves by (dx, dy) frame pixels on the screen. The caller
  // moves `shown` the same way (MovePixels) and then draws the parts of its next frame that
  // differ from the moved one. The picture is not moved: until the next whole frame it holds
  // the frame only where parts were drawn since, and gets the rest back (RestorePicture) before
  // anything else reads or draws there. False, and nothing recorded, when a move is not allowed
  // now or would not be exact (a scale that is not whole, changes in the area not yet shown, a
  // move not yet taken). `shown` must outlive the move's effect (the next whole frame).
  bool MoveFrame(const StageBitmap& shown, const RectXYWH& dst, int dx, int dy);
  // The move recorded since the last call, if any (the shell makes it before it shows the
  // damage taken with it); clears it.
  bool TakeFrameMove(FrameMove* move);
  // Stretches the frame back into the picture where a move left it out of date (before the
  // picture is put on the screen for an uncovered area). The screen already shows it: no damage.
  void RestorePicture();

  // Stretched whole frames go to `scaler` (not owned; null: none) from the next one on.
  void SetFrameScaler(FrameScaler* scaler);
  // True while the server shows the frame in FrameArea(): the picture does not hold it there,
  // and a repaint of that area takes the frame from the server.
  bool ServerShowsFrame() const { return serverFrame_; }
  const RectXYWH& FrameArea() const { return frameArea_; }

 protected:
  // Called whenever an area changes; the shell overrides it to schedule a repaint.
  virtual void Damaged(const RectXYWH& /*area*/) {}

 private:
  void MarkDamage(int x, int y, int width, int height);
  bool ShowsOwnPixels(const RectXYWH& r) const;
  void FrameDrawn(const RectXYWH& area);
  void TakeFrameBack(const RectXYWH& drawn);
  void RestoreAround(const RectXYWH& drawn);
  bool DamageIn(const RectXYWH& area) const;

  Bitmap32 picture_;
  PartList damage_{kMaxDamageParts, kPartCostPixels};
  RectXYWH frameArea_;         // where the last whole frame was drawn
  bool frameTouched_ = false;  // something else was drawn there since
  FrameScaler* scaler_ = nullptr;
  bool serverFrame_ = false;  // the scaler shows the frame in frameArea_
  RectXYWH frameSource_;      // the part of the frame it shows there
  bool movesAllowed_ = false;
  bool movePending_ = false;  // move_ is not taken yet
  FrameMove move_;
  const StageBitmap* movedFrame_ = nullptr;  // what frameArea_ shows since a move, else null
  std::unique_ptr<FontRaster> font_;         // made on the first text
  RectXYWH timerBox_;                        // what the timers drawn since the last erase covered
  RectXYWH timerBand_;         // the cells of the timers drawn (their width at the most)
  bool drawingTimer_ = false;  // the damage marked is the timer's own
};
