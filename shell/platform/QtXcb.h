// The few xcb calls the shell makes itself, on the connection of Qt's xcb platform.
#pragma once

#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <QSize>
#include <cstdint>

// Qt's connection to the X server; null when Qt runs on another platform.
xcb_connection_t* XcbConnection();
// The server offers MIT-SHM.
bool XcbHasShm();

// The size and depth of an X11 window; an empty size when there is no such window (or no X11
// display).
struct ForeignWindowInfo {
  QSize size;
  int depth = 0;
};
ForeignWindowInfo ReadForeignWindow(std::uint64_t id);
// The root window of the display's default screen; 0 without an X11 display.
std::uint64_t RootWindowId();

// One MIT-SHM PutImage: the part (x, y, w, h) of a totalW x totalH picture of 32-bit pixels held
// in segment `seg` goes to (dx, dy) of `drawable`.
void XcbShmPut(xcb_drawable_t drawable, xcb_gcontext_t gc, std::uint8_t depth, xcb_shm_seg_t seg,
               int totalW, int totalH, int x, int y, int w, int h, int dx, int dy);
// The same part to the same place.
inline void XcbShmPut(xcb_drawable_t drawable, xcb_gcontext_t gc, std::uint8_t depth,
                      xcb_shm_seg_t seg, int totalW, int totalH, int x, int y, int w, int h) {
  XcbShmPut(drawable, gc, depth, seg, totalW, totalH, x, y, w, h, x, y);
}

// A part of at most this many pixels travels inside the request (16 KiB, well under the
// server's request limit): the server needs no shared memory for it and the caller no round
// trip before drawing there again.
inline constexpr int kXcbInlinePutPixels = 4096;
// Whether a part of w x h pixels (both above 0) is small enough to travel inside its request.
inline bool XcbFitsInline(int w, int h) {
  return w > 0 && h > 0 && w <= kXcbInlinePutPixels / h;
}
// One PutImage carrying the pixels of the part (x, y, w, h) of a picture of 32-bit pixels,
// `stride` pixels a row, to (x, y) of `drawable`; false (nothing sent) when the part is larger
// than kXcbInlinePutPixels.
bool XcbInlinePut(xcb_drawable_t drawable, xcb_gcontext_t gc, std::uint8_t depth,
                  const std::uint32_t* pixels, int stride, int x, int y, int w, int h);

// The 32-bit pixels of (x, y, w, h) of a drawable of depth 24 or 32 into out[w x h], read in
// bands of rows well inside the server's reply limits; false when the server refuses.
bool XcbReadPixels(xcb_drawable_t drawable, int x, int y, int w, int h, std::uint32_t* out);

// How many marks may pass before the server must have answered for the oldest unanswered one.
// Only moves and freed memory need an answer at once (both ask for it); the period only keeps a
// client from running far ahead of the server, and each answer wakes the connection's reader
// thread, so it is long: at 30 frames a second, a client stays at most about half a second ahead.
inline constexpr int kXcbFencePeriod = 8;
// For this many presents after a moved frame each present asks the server at once (a scrolling
// sky moves the frame on most passes, and the next move needs the answer).
inline constexpr int kXcbFenceMovingPresents = 8;

// Follows how far the server has got with the requests sent. Mark sends the requests so far;
// Wait returns once the server has handled everything marked (for a put from shared memory,
// once it has read the pixels): before that memory is freed or reused for something else.
// Drawing the next frame into the memory a put reads from needs no Wait: should the server read
// a part after it changed again, it shows the newer pixels a little early, and the next put
// sends that part anyway, so the screen ends up the same. Not so when the server is asked to
// move what the window shows before that next put: the early pixels would be carried off where
// no put sets them right, so a moved frame is drawn only after a Wait. An answer from the server
// wakes the client (and costs the server a write) on every frame, so Mark asks for one only every
// kXcbFencePeriod marks, and waits for the one before: a client drawing faster than the server
// shows stays at most two periods ahead instead of filling the connection with frames. While
// frames move, Mark(true) asks at once: the answer comes back while the client sleeps, and the
// next moved frame's Wait finds it there instead of sending a question and sleeping until the
// server has answered (two more wake-ups of each side on every moved frame).
class XcbFence {
 public:
  void Mark(bool askNow = false);
  void Wait();

 private:
  void Ask();
  void Collect();

  bool pending_ = false;  // a question sent whose answer is not read yet
  int unasked_ = 0;       // marks since the last question
  xcb_get_input_focus_cookie_t cookie_{};
};
