// Full-screen frames scaled by the X server: the changed parts of the 640 x 272 frame go into a
// pixmap of the server from shared memory, and RENDER stretches them onto the picture window with
// its nearest-pixel filter, so a full-screen picture costs the server one read of the frame
// instead of a copy of nine times as many pixels, and us no stretch at all.
#pragma once

#include <xcb/render.h>
#include <xcb/xcb.h>

#include <QRegion>
#include <memory>
#include <vector>

#include "app/WindowSurface.h"
#include "shell/platform/QtXcb.h"

class QtShmResource;

class QtFrameScaler : public FrameScaler {
 public:
  // A scaler of the frame part `src` onto `dst` of `window` (picture pixels, which are window
  // pixels); null unless the server offers RENDER with picture filters, the frame can be held in
  // a segment of `memory`, and the server's stretch picks, for every pixel of `dst`, the pixel
  // our own stretch picks (tried on a pattern before anything is shown).
  static std::unique_ptr<QtFrameScaler> Create(xcb_window_t window, const RectXYWH& dst,
                                               const RectXYWH& src, QtShmResource& memory);
  // Whether the server's stretch costs less than ours plus the server's copy of the stretched
  // picture. A server that draws in software (Xvfb, a VNC server, a plain frame buffer) scales
  // pixel by pixel more slowly than it copies rows: under Xvfb a whole 1920 x 816 frame cost it
  // 0.6 ms stretched against 0.3 ms copied (and our stretch 0.1 ms). A server that offers DRI3
  // draws with a graphics processor, where the stretch is nearly free and sending nine times the
  // pixels is not. ONDRELIX_RENDER=1 takes the server's stretch on any server, ONDRELIX_NO_RENDER=1
  // on none.
  static bool PaysOff();
  ~QtFrameScaler() override;
  QtFrameScaler(const QtFrameScaler&) = delete;
  QtFrameScaler& operator=(const QtFrameScaler&) = delete;

  bool ScalePart(const StageBitmap& frame, const RectXYWH& dst, const RectXYWH& src,
                 const RectXYWH& part) override;
  const Bitmap32& Frame() const override { return frame_; }
  void DropParts() override;

  // The window pixels that the parts taken since the last Send cover.
  const QRegion& Pending() const { return pending_; }
  // Sends those parts and stretches them onto the window.
  void Send();
  // The server stretches the frame it holds onto `region` of the window again (it was exposed).
  void Repaint(const QRegion& region);
  // Returns once the server has read the frame's memory of the last Send (see XcbFence).
  void Settle() { fence_.Wait(); }

 private:
  QtFrameScaler(xcb_window_t window, const RectXYWH& dst, const RectXYWH& src,
                QtShmResource& memory);
  bool Realise(xcb_render_pictformat_t frameFormat, xcb_render_pictformat_t windowFormat);
  // Source position = destination position x step + start on each axis, in 16.16.
  void SetTransform(std::int64_t mx, std::int64_t tx, std::int64_t my, std::int64_t ty);
  bool ChooseTransform();
  void Stretch(xcb_render_picture_t target, const QRect& area, int originX, int originY);

  xcb_connection_t* conn_;
  xcb_window_t window_;
  RectXYWH dst_, src_;
  Bitmap32 frame_;  // in a shared segment: the frame as the server holds it
  xcb_shm_seg_t segment_ = 0;
  xcb_pixmap_t pixmap_ = 0;  // the frame on the server
  xcb_gcontext_t gc_ = 0;
  xcb_render_pictformat_t frameFormat_ = 0;
  xcb_render_picture_t source_ = 0, target_ = 0;
  std::vector<RectXYWH> uploads_;  // frame parts to send
  QRegion pending_;
  XcbFence fence_;
};
