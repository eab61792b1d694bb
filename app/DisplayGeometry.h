// Where the 640 x 272 frame lands in the saver window for each display mode, which part of it is
// shown, where captions go and where the speed warning sits.
#pragma once

inline constexpr int kDisplayExclusive = 0;  // full screen switched to 640 x 480
inline constexpr int kDisplayCentred = 1;    // 640 x 480 centred on the screen
inline constexpr int kDisplayStretched = 2;  // scaled to the whole screen
inline constexpr int kDisplayDoubled = 3;    // doubled to 1280 x 960, sides cut on small screens
inline constexpr int kDisplayWindow = 4;     // an ordinary window with a control panel

// Client area of the window in window mode: a 640 x 480 picture above a 39-pixel control panel.
inline constexpr int kWindowClientWidth = 640;
inline constexpr int kWindowClientHeight = 519;
inline constexpr int kPictureWidth = 640;
inline constexpr int kPictureHeight = 480;
inline constexpr int kFrameTop = 102;  // the frame stands for rows 102..373 of a 640 x 480 picture

struct RectXYWH {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool operator==(const RectXYWH&) const = default;
};

// The smallest rectangle holding both.
inline RectXYWH UnionOf(const RectXYWH& a, const RectXYWH& b) {
  const int l = a.x < b.x ? a.x : b.x, t = a.y < b.y ? a.y : b.y;
  const int r = a.x + a.width > b.x + b.width ? a.x + a.width : b.x + b.width;
  const int bottom = a.y + a.height > b.y + b.height ? a.y + a.height : b.y + b.height;
  return {l, t, r - l, bottom - t};
}

struct RectLTRB {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  bool operator==(const RectLTRB&) const = default;
};

struct DisplayGeometry {
  int mode = kDisplayWindow;
  RectXYWH FrameRect;   // destination of the frame in the window
  RectXYWH SourceRect;  // part of the frame that is shown (the doubled mode cuts the sides)
  double CaptionScale = 1.0;
  int CaptionX = 0;  // the point handed to the caption layer: the frame's top-left corner
  int CaptionY = 0;
  RectLTRB WarningRect;
};

// The window's client size in `mode` on a screen of the given size. The exclusive mode shows a
// 640 x 480 picture (the shell scales it onto the screen).
void WindowSizeFor(int mode, int screenWidth, int screenHeight, int* width, int* height);

// Geometry of `mode`. `windowWidth`/`windowHeight` is the client area (mode 1 centres on it);
// `warningWidth`/`warningHeight` is the warning bitmap's size. An unknown mode reads as mode 1.
DisplayGeometry ComputeDisplayGeometry(int mode, int screenWidth, int screenHeight, int windowWidth,
                                       int windowHeight, int warningWidth, int warningHeight);
