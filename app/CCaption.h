// The caption layer: subtitles of the loaded script, shown one after another in the band below
// the frame, drawn straight into the window's picture.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "render/Bitmap.h"
#include "script/CaptionSink.h"

class CMainCtl;

inline constexpr int kMaxCaptionEntries = 1024;
inline constexpr int kCaptionLineBytes = 256;

// One subtitle: up to two lines of CP932 text.
struct CaptionEntry {
  int width = 0;  // pixels, measured with the show font
  std::optional<std::string> line[2];
  int dashX = 0;     // pixels in the render bitmap; 0 = no dash
  int dashLine = 0;  // which line holds the dash
};

class CCaption : public CaptionSink {
 public:
  explicit CCaption(CMainCtl* settings);
  ~CCaption() override;
  CCaption(const CCaption&) = delete;
  CCaption& operator=(const CCaption&) = delete;

  // The screen the saver shows on (display modes 1 to 3 centre on it and scale by its height).
  // Rebuilds the fonts and the dash for the current display mode.
  void SetScreenSize(int width, int height);
  void PlaceCaptions(double scale, int x, int y);

  // Fed by the parser while a script loads.
  void BeginCaptionBlock() override;
  int AddCaptionChar(std::uint8_t c) override;  // 0, or -1 when the line is longer than 256 bytes
  void EndCaptionBlock() override;
  int TagFirst() const override { return TagFirst_; }
  int TagCount() const override { return TagCount_; }

  // Driven by the playback loop.
  void StartCaptions(int first, int count, int timeMs);
  int AnimateCaptions();  // 1 when the window must be redrawn
  void DrawCaptions(Bitmap32& window);
  void ClearCaptions();

  int EntryCount() const { return EntryCount_; }

  // State, for tests and tools.
  const CaptionEntry& Entry(int i) const;
  bool Active() const;
  int Current() const;
  int TicksPerEntry() const;
  int CaptionX() const;
  int CaptionY() const;
  const Bitmap32& ShowBitmap() const;
  const Bitmap32& RenderBitmap() const;
  const Bitmap32& DashBitmap() const;
  // Cell heights of the render and show fonts for the current mode, and the render scale.
  int RenderFontHeight() const;
  int ShowFontHeight() const;
  double RenderScale() const;

 private:
  struct Impl;
  void CloseEntry();
  void ShowEntry();

  std::unique_ptr<Impl> impl_;
  int EntryCount_ = 0;
  int TagFirst_ = 0;
  int TagCount_ = 0;
};
