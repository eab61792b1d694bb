// The caption layer: subtitles of the loaded script, shown one after another in the band below
// the frame, drawn straight into the window's picture.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "render/Bitmap.h"

class CMainCtl;

inline constexpr int kMaxCaptionEntries = 1024;
inline constexpr int kCaptionLineBytes = 256;

class CCaption {
 public:
  explicit CCaption(CMainCtl* settings);
  ~CCaption();

  // The screen the saver shows on (display modes 1 to 3 centre on it and scale by its height).
  void SetScreenSize(int width, int height);
  void PlaceCaptions(double scale, int x, int y);

  // Fed by the parser while a script loads.
  void BeginCaptionBlock();
  int AddCaptionChar(std::uint8_t c);  // 0, or -1 when the line is longer than 256 bytes
  void EndCaptionBlock();
  int TagFirst() const { return TagFirst_; }
  int TagCount() const { return TagCount_; }

  // Driven by the playback loop.
  void StartCaptions(int first, int count, int timeMs);
  int AnimateCaptions();  // 1 when the window must be redrawn
  void DrawCaptions(Bitmap32& window);
  void ClearCaptions();

  int EntryCount() const { return EntryCount_; }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  int EntryCount_ = 0;
  int TagFirst_ = 0;
  int TagCount_ = 0;
};
