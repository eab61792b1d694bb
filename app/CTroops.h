// The preview animation: rows of marching figures seen from behind in perspective over a fixed
// backdrop, while the viewpoint wanders, turns and bobs.
#pragma once

#include <cstdint>

#include "render/Bitmap.h"

inline constexpr int kPreviewWidth = 152;  // the host's preview area as designed
inline constexpr int kPreviewHeight = 112;
inline constexpr int kTroopRows = 12;
inline constexpr int kTroopNearLimit = 70;  // rows nearer than this are not drawn
inline constexpr int kTroopSpacingX = 100;  // ground units between columns
inline constexpr int kTroopSpacingY = 280;  // ground units between rows
inline constexpr int kTroopLane = 16;       // every 16th row and column is empty
inline constexpr int kTroopFocal = 270;
inline constexpr int kFigureWidth = 52;
inline constexpr int kFigureHeight = 134;

// The pictures of one figure set: a backdrop and two figure kinds of the same size, on black.
struct TroopPictures {
  Bitmap32 backdrop;
  Bitmap32 kind[2];
};

class CTroops {
 public:
  // Made at the host's size; the built-in pictures are used (placeholders while they are missing).
  CTroops(int width, int height, std::uint32_t seed);
  // The same with pictures of the caller's choosing for the chosen set.
  CTroops(int width, int height, std::uint32_t seed, TroopPictures pictures);

  void Step();
  void Draw(Bitmap32& target);

  // Ground grid: which cells hold a figure, and of which kind (alternating in 16 x 16 blocks).
  static bool HasFigure(int row, int column);
  static int KindOf(int row, int column);

  int Width() const { return W; }
  int Height() const { return H; }
  int FigureSet() const { return Set; }
  const Bitmap32& Backdrop() const { return pictures_.backdrop; }

  double CamX = 0, CamY = 0;
  double Heading = 0;
  double Speed = 0;
  double HeadingRate = 0, SpeedRate = 0;
  int HeadingTimer = 0, SpeedTimer = 0;
  double BobPhase = 0;
  double Bob = 0;
  int Amplitude = 0, Offset = 0;
  int RowFigures[kTroopRows] = {};

 private:
  void Start(std::uint32_t seed, bool builtin);
  void DrawRow(Bitmap32& target, int q, int d, int r, int c0);
  int Random();  // 0 .. 32767

  int W, H;
  int Set = 1;
  std::uint32_t seed_ = 0;
  TroopPictures pictures_;
  Bitmap32 strip_, mask_;
};

// Stand-ins drawn in code for the built-in preview pictures (also what the tests draw with).
Bitmap32 PlaceholderBackdrop(int width, int height);
Bitmap32 PlaceholderFigure(int set, int kind);
