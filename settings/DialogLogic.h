// The settings dialog's drawing and decisions, without a toolkit: the display-mode list, the
// monitor preview, the caption sample, the About animation, folder paths, the signature, the
// Help button slide and the script list.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "render/Bitmap.h"

class CMainCtl;
class FontRaster;

// ---- Display-mode list ----

inline constexpr int kDspModeCount = 5;  // items 0-3 always, item 4 (window) on request
inline constexpr int kDspWindowMode = 4;

// The text of list item `index` (UTF-8); items 2 and 3 carry the screen size.
std::string DspItemText(int index, int screenWidth, int screenHeight);

// What the list should hold before it opens: 5 items when Ctrl is held and it has 4, 4 items when
// Ctrl is not held, it has 5 and item 4 is not selected; otherwise `count` unchanged.
int DspCountOnDropDown(int count, int selected, bool ctrlHeld);
// What the list should hold after a choice: item 4 goes when it is there and not chosen.
int DspCountOnChange(int count, int selected);

// ---- Monitor preview ----

inline constexpr int kGamenWidth = 107;
inline constexpr int kGamenHeight = 80;
inline constexpr std::uint32_t kDesktopBlue = 0x3A6EA5;  // RGB (58, 110, 165)
// The caption line of the first and third sample screens.
inline constexpr int kGamenCaptionLeft = 10, kGamenCaptionTop = 64;
inline constexpr int kGamenCaptionRight = 76, kGamenCaptionBottom = 76;

// Draws `frame` (107 x 80) into `gamen` (107 x 80) as the saver would place its 640 x 480 picture
// on a screen of screenWidth x screenHeight in display mode `mode`, then the speed-warning badge.
// `buttonFace` (0x00RRGGBB) frames the window of mode 4.
void DrawMonitorPreview(Bitmap32& gamen, const Bitmap32& frame, const Bitmap32& badge, int mode,
                        int screenWidth, int screenHeight, bool warning, std::uint32_t buttonFace);

// ---- Caption sample ----

inline constexpr int kCaptionSampleWidth = 225;
inline constexpr int kCaptionSampleHeight = 29;
inline constexpr int kCaptionFontHeight = 25;  // times RenderScale
inline constexpr int kCaptionSampleCount = 6;
// The sample text of index i (UTF-8); i outside 0..5 gives "".
const char* CaptionSampleText(int index);

// Draws sample `*index` (set back to 0 when it points past the last one) in `face`, white on
// black, into `work` (RenderScale times the sample's size) and from there into `sample`.
void DrawCaptionSample(FontRaster& raster, Bitmap32& work, Bitmap32& sample,
                       const std::string& face, bool bold, int renderScale, int* index);

// Caption faces for the list: the Japanese-capable families without vertical-writing and other
// special faces (names beginning with "@" or "$"), in the order given.
std::vector<std::string> CaptionFaces(const std::vector<std::string>& families);
// The entry to select for a stored face and the face kept in the settings.
struct CaptionFaceChoice {
  int index = -1;
  std::string face;
};
// The entry of the stored name (letter case ignored); for a name that is not listed but is drawn
// with the listed face `drawnWith` (a system name such as "ＭＳ ゴシック"), that entry, the name
// kept as it is; otherwise the first entry, whose name replaces the stored one. An empty list
// selects nothing and keeps an empty name.
CaptionFaceChoice ChooseCaptionFace(const std::vector<std::string>& faces,
                                    const std::string& stored, const std::string& drawnWith);

// ---- About page ----

inline constexpr int kAboutWinWidth = 241;
inline constexpr int kAboutWinHeight = 137;
inline constexpr std::uint32_t kDodonKey = 0xA19A84;  // RGB (161, 154, 132)

// Writes the version line into the credits picture, centred at row 220.
void WriteCreditsVersion(FontRaster& raster, Bitmap32& credits, const std::string& text);

// The About animation: credits scrolling behind the scene and the zooming head.
class AboutAnimation {
 public:
  AboutAnimation(const Bitmap32* scene, const Bitmap32* credits, const Bitmap32* sprite)
      : scene_(scene), credits_(credits), sprite_(sprite) {}
  // One step into `out` (the scene's size).
  void Step(Bitmap32& out);
  // One tick of the zoom: grows while the button is held, shrinks otherwise.
  void Zoom(bool held);

  int ScrollOffset = 0;
  double ZoomFactor = 0.2;

 private:
  const Bitmap32* scene_;
  const Bitmap32* credits_;
  const Bitmap32* sprite_;
};

// ---- Folder paths ----

// The data folder as typed, made absolute against `cwd`, "." and ".." resolved, trailing "/"
// removed; "/" itself stays. An empty text is the root.
std::string NormaliseFolder(const std::string& text, const std::string& cwd);

// Shortens `path` by cutting leading folders ("/.../", ".../", then only the last name) until
// `width(result)` is at most `maxWidth`.
std::string ShortenPath(const std::string& path, int maxWidth,
                        const std::function<int(const std::string&)>& width);

// ---- Small state machines of the dialog ----

// The signature: every click alternates the two lines; the 20th reveals the logo switch.
class SignatureClicks {
 public:
  // Returns true on the click that reveals the switch; `groupLine` tells which line to show.
  bool Click(bool* groupLine);
  int Counter = 1;
};

// The shy Help button: slides down from under the pages, and back up when the pointer comes.
class HelpSlide {
 public:
  static constexpr int kHiddenTop = 180;
  static constexpr int kShownTop = 224;
  void Start() {
    Active = true;
    Up = false;
    count_ = 0;
  }
  void PointerReached() {
    if (Active) Up = true;
  }
  // One timer tick with the button at `top`; returns the new top. `period` ticks pass between
  // moves plus one.
  int Tick(int top, int period);

  bool Active = false;
  bool Up = false;

 private:
  int count_ = 0;
};

// Counts ticks and reports every (period + 1)-th one.
class TickDivider {
 public:
  bool Tick(int period) {
    if (++count_ <= period) return false;
    count_ = 0;
    return true;
  }
  void Reset() { count_ = 0; }

 private:
  int count_ = 0;
};

// The timer's periods at `intervalMs` (30, 60 and 1 at 33 ms).
inline int PreviewPeriod(int intervalMs) {
  return intervalMs > 0 ? 1000 / intervalMs : 0;
}
inline int SamplePeriod(int intervalMs) {
  return intervalMs > 0 ? 2000 / intervalMs : 0;
}
inline int SlidePeriod(int intervalMs) {
  return intervalMs > 0 ? 33 / intervalMs : 0;
}

// 1 when random % 4 >= 2, else 0.
inline int VariantOf(int random) {
  return (random % 4) >= 2 ? 1 : 0;
}

// Rebuilds the exclusion list: every unchecked row's identity, in row order.
void ApplyScriptList(CMainCtl& settings, const std::vector<std::int32_t>& identities,
                     const std::vector<bool>& checked);
