// The caption layer: entries collected while a script loads, then shown one after another with
// 5-tick blanks between them, rendered at the render scale and copied into the window.
#include "app/CCaption.h"

#include <algorithm>
#include <string_view>

#include "platform/Cp932.h"
#include "render/FontRaster.h"
#include "render/PixelOps.h"
#include "settings/CMainCtl.h"

namespace {

constexpr int kBaseFontHeight = 25;  // caption cell height in a 640 x 480 picture
constexpr int kCaptionHeight = 55;   // band height at scale 1
constexpr int kSecondLineY = 30;     // top of the second line at scale 1
constexpr int kBlankTicks = 5;       // blank ticks before each subtitle
constexpr int kTickMs = 33;
constexpr int kBandTop = 288;  // caption band below the frame's top, at scale 1
constexpr int kWindowCentreX = 320;
constexpr std::string_view kDash = "\x81\x7C\x81\x7C";  // "－－" in CP932

// First "－－" in `line` that starts on a character boundary, or npos.
size_t FindDash(const std::string& line) {
  for (size_t i = 0; i + kDash.size() <= line.size();) {
    if (std::string_view(line).substr(i, kDash.size()) == kDash) return i;
    const unsigned char c = line[i];
    i += IsSjisLead(c) && i + 1 < line.size() ? 2 : 1;
  }
  return std::string::npos;
}

}  // namespace

struct CCaption::Impl {
  CMainCtl* settings = nullptr;
  FontRaster raster;
  FontSpec renderFont;
  FontSpec showFont;
  int screenWidth = 640;
  int screenHeight = 480;

  CaptionEntry entries[kMaxCaptionEntries];
  std::string lineBuffer;  // LineBuffer; its size is LineLength
  int lineNo = 0;

  Bitmap32 renderBitmap;
  Bitmap32 showBitmap;
  Bitmap32 dashBitmap;
  bool active = false;
  int current = 0;
  int end = 0;
  bool showNext = false;
  int ticksLeft = 0;
  int switchAt = 0;
  int ticksPerEntry = 0;
  int captionY = 0;
  double captionScale = 1.0;
  int captionX = 0;

  int Mode() const { return settings ? settings->GetDspMode() : 0; }
  int SettingsScale() const { return settings ? settings->GetRenderScale() : 1; }

  double Scale() const {
    switch (Mode()) {
      case 2:
        return screenHeight / 480.0;
      case 3:
        return 2.0;
      default:
        return SettingsScale();
    }
  }

  void BuildFonts() {
    std::string face = settings ? settings->GetCptFont() : std::string();
    if (face.empty()) face = kDefaultCptFont;
    const bool bold = settings ? settings->GetFlgFontBold() : true;
    int render = kBaseFontHeight * SettingsScale(), show = kBaseFontHeight;
    if (Mode() == 2) render = show = static_cast<int>(kBaseFontHeight * screenHeight / 480.0);
    if (Mode() == 3) render = show = 2 * kBaseFontHeight;
    renderFont = FontSpec{face, render, bold, false};
    showFont = FontSpec{face, show, bold, false};
    BuildDash();
  }

  // The entry's lines (the second at `lineY`) and its long dash, in the render font.
  void DrawEntry(Bitmap32& to, const CaptionEntry& e, int lineY) {
    if (e.line[0]) raster.Draw32(to, 0, 0, renderFont, *e.line[0]);
    if (e.line[1]) raster.Draw32(to, 0, lineY, renderFont, *e.line[1]);
    if (e.dashX != 0)
      CopyRect(to, e.dashX, e.dashLine == 0 ? 0 : lineY, dashBitmap, 0, 0, dashBitmap.width,
               dashBitmap.height);
  }

  // Two dash glyphs with the gap between them closed: the column a quarter in is stretched over
  // the rest, so a long dash reads as one unbroken bar.
  void BuildDash() {
    const int w = raster.TextWidth(renderFont, kDash);
    const int h = raster.TextHeight(renderFont);
    dashBitmap.Create(w, h, 0);
    raster.Draw32(dashBitmap, 0, 0, renderFont, kDash, 0xFFFFFF);
    const Bitmap32 source = dashBitmap;
    StretchBlt(dashBitmap, w / 4 + 1, 0, (w / 4) * 3, h, source, w / 4, 0, 1, h, kStretchDrop);
  }
};

CCaption::CCaption(CMainCtl* settings) : impl_(std::make_unique<Impl>()) {
  impl_->settings = settings;
  impl_->renderBitmap.Create(1, 1, 0);
  impl_->showBitmap.Create(1, 1, 0);
  impl_->BuildFonts();
}

CCaption::~CCaption() = default;

void CCaption::SetScreenSize(int width, int height) {
  impl_->screenWidth = std::max(0, width);
  impl_->screenHeight = std::max(0, height);
  impl_->BuildFonts();
}

void CCaption::PlaceCaptions(double scale, int /*x*/, int y) {
  impl_->captionY = static_cast<int>(y + scale * kBandTop);
  impl_->captionScale = scale;
  impl_->BuildFonts();  // the display mode may have changed since creation
}

void CCaption::BeginCaptionBlock() {
  TagFirst_ = EntryCount_;
}

void CCaption::EndCaptionBlock() {
  TagCount_ = EntryCount_ - TagFirst_;
}

int CCaption::AddCaptionChar(std::uint8_t c) {
  Impl& m = *impl_;
  if (EntryCount_ >= kMaxCaptionEntries) return 0;
  if (c != '\n' && c != 27) {
    if (m.lineBuffer.empty() && c == ' ') return 0;
    if (static_cast<int>(m.lineBuffer.size()) >= kCaptionLineBytes) return -1;
    m.lineBuffer.push_back(static_cast<char>(c));
    return 0;
  }
  if (!m.lineBuffer.empty()) {
    // A third line and later ones are dropped rather than carried into the next entry.
    if (m.lineNo < 2) m.entries[EntryCount_].line[m.lineNo++] = m.lineBuffer;
    m.lineBuffer.clear();
  }
  if (c == 27) CloseEntry();
  return 0;
}

void CCaption::CloseEntry() {
  Impl& m = *impl_;
  CaptionEntry& e = m.entries[EntryCount_];
  const size_t len1 = e.line[0] ? e.line[0]->size() : 0;
  const size_t len2 = e.line[1] ? e.line[1]->size() : 0;
  if (len1 > 0 || len2 > 0) {
    const std::string& longer = len2 >= len1 ? *e.line[1] : *e.line[0];
    e.width = m.raster.TextWidth(m.showFont, longer);
    const int dashLine = len2 >= 4 ? 1 : len1 >= 4 ? 0 : -1;
    if (dashLine >= 0) {
      const std::string& line = *e.line[dashLine];
      const size_t at = FindDash(line);
      if (at != std::string::npos) {
        e.dashX = m.raster.TextWidth(m.renderFont, std::string_view(line).substr(0, at));
        e.dashLine = dashLine;
      }
    }
  }
  ++EntryCount_;
  m.lineNo = 0;
}

void CCaption::StartCaptions(int first, int count, int timeMs) {
  Impl& m = *impl_;
  if (count <= 0) return;
  m.active = true;
  m.showBitmap.Fill(0);
  const int total = timeMs / kTickMs;
  m.ticksPerEntry = (total - kBlankTicks * count) / count;
  m.current = first;
  m.end = first + count;
  m.showNext = true;
  m.ticksLeft = total;
  m.switchAt = total - kBlankTicks;
}

int CCaption::AnimateCaptions() {
  Impl& m = *impl_;
  if (!m.active) return 0;
  if (--m.ticksLeft > m.switchAt) return 0;
  if (!m.showNext) {
    m.showNext = true;
    m.showBitmap.Fill(0);
    if (++m.current >= m.end) m.active = false;
    m.switchAt -= kBlankTicks;
    return 1;
  }
  m.showNext = false;
  ShowEntry();
  m.switchAt -= m.ticksPerEntry;
  return 1;
}

void CCaption::ShowEntry() {
  Impl& m = *impl_;
  const CaptionEntry& e = Entry(m.current);
  const double s = m.Scale();
  const int mode = m.Mode();
  const bool unscaledModes = mode != 2 && mode != 3;
  if (unscaledModes && m.SettingsScale() == 2) {
    // Drawn at double size and halved with averaging, which smooths the glyph edges.
    m.renderBitmap.Create(static_cast<int>(e.width * s), static_cast<int>(kCaptionHeight * s), 0);
    m.DrawEntry(m.renderBitmap, e, static_cast<int>(kSecondLineY * s));
    m.showBitmap.Create(e.width, kCaptionHeight, 0);
    StretchBlt(m.showBitmap, 0, 0, e.width, kCaptionHeight, m.renderBitmap, 0, 0,
               m.renderBitmap.width, m.renderBitmap.height, kStretchAverage);
  } else {
    // The render font is the show font here, so the entry is drawn where it is shown: its width
    // was measured in that font, and ink beyond it would be cut off by a copy anyway.
    m.showBitmap.Create(e.width, static_cast<int>(kCaptionHeight * s), 0);
    m.DrawEntry(m.showBitmap, e, static_cast<int>(kSecondLineY * s));
  }
  const int centre = mode == 0 || mode == 4 ? kWindowCentreX : m.screenWidth / 2;
  m.captionX = centre - m.showBitmap.width / 2;
}

void CCaption::DrawCaptions(Bitmap32& window) {
  const Impl& m = *impl_;
  CopyRect(window, m.captionX, m.captionY, m.showBitmap, 0, 0, m.showBitmap.width,
           m.showBitmap.height);
}

void CCaption::ClearCaptions() {
  Impl& m = *impl_;
  for (CaptionEntry& e : m.entries) e = CaptionEntry();
  EntryCount_ = 0;
  m.lineNo = 0;
  m.lineBuffer.clear();
  m.active = false;
  m.current = 0;
  m.end = 0;
  m.showNext = false;
  m.ticksLeft = 0;
  m.switchAt = 0;
  m.ticksPerEntry = 0;
  m.captionX = 0;
  TagFirst_ = 0;
  TagCount_ = 0;
}

const CaptionEntry& CCaption::Entry(int i) const {
  static const CaptionEntry kNone;
  return i >= 0 && i < kMaxCaptionEntries ? impl_->entries[i] : kNone;
}
bool CCaption::Active() const {
  return impl_->active;
}
int CCaption::Current() const {
  return impl_->current;
}
int CCaption::TicksPerEntry() const {
  return impl_->ticksPerEntry;
}
int CCaption::CaptionX() const {
  return impl_->captionX;
}
int CCaption::CaptionY() const {
  return impl_->captionY;
}
const Bitmap32& CCaption::ShowBitmap() const {
  return impl_->showBitmap;
}
const Bitmap32& CCaption::RenderBitmap() const {
  return impl_->renderBitmap;
}
const Bitmap32& CCaption::DashBitmap() const {
  return impl_->dashBitmap;
}
int CCaption::RenderFontHeight() const {
  return impl_->renderFont.height;
}
int CCaption::ShowFontHeight() const {
  return impl_->showFont.height;
}
double CCaption::RenderScale() const {
  return impl_->Scale();
}
