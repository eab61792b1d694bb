// The formatted-text engine: lines, bitmap fonts read from ruler pictures, outline fonts, the
// FORMAT stack, and the LEFT / RIGHT / CENTER / LAYOUT placement of Render.
#include "script/CScrText.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/Cp932.h"
#include "render/FontRaster.h"
#include "render/Picture.h"
#include "settings/CMainCtl.h"

namespace {

constexpr int kRenderTop = 2;  // y of the first line
constexpr int kLeftX = 45;     // left margin of LEFT and LAYOUT lines
constexpr int kRightX = 595;   // right margin of RIGHT and LAYOUT lines
constexpr int kCentreX = 320;
constexpr int kMaxPlacedWidth = 550;  // RIGHT and CENTER lines this wide or wider are not drawn
constexpr int kMaxLayoutWords = 32;
constexpr int kDefaultOutlineSize = 15;
// Colour font pictures: a pixel darker than this luminance (0 to 255) becomes ink.
constexpr int kInkLuminance = 128;
// Extreme ROW, ROWSPAN, COLSPAN and SIZE values add up past 32 bits. Sums are made in 64 bits;
// heights saturate at the 32-bit range, and places and widths at this distance, far outside any
// text picture, so that the drawing code can still add glyph offsets to them.
constexpr long long kFarOutside = 1LL << 28;

int SaturatedInt(long long v) {
  return static_cast<int>(std::clamp<long long>(v, INT32_MIN, INT32_MAX));
}
int SaturatedPlace(long long v) {
  return static_cast<int>(std::clamp<long long>(v, -kFarOutside, kFarOutside));
}

// Decimal integer as the C library reads a long: leading blanks, sign, digits; 0 without digits.
// Values beyond 32 bits saturate, as a 32-bit long does.
std::int32_t Integer(const std::string& v) {
  errno = 0;
  const long long n = std::strtoll(v.c_str(), nullptr, 10);
  return static_cast<std::int32_t>(std::clamp<long long>(n, INT32_MIN, INT32_MAX));
}

// Upper-cases single-byte a to z; double-byte characters are passed over whole.
std::string UpperSjis(const std::string& s) {
  std::string out = s;
  for (size_t i = 0; i < out.size(); ++i) {
    const unsigned char c = out[i];
    if (IsSjisLead(c) && i + 1 < out.size()) {
      ++i;
      continue;
    }
    if (c >= 'a' && c <= 'z') out[i] = static_cast<char>(c - 32);
  }
  return out;
}

// The first 63 bytes of a name, without splitting a double-byte character.
std::string CutName(const std::string& s) {
  size_t end = 0;
  while (end < s.size()) {
    const size_t n = IsSjisLead(static_cast<unsigned char>(s[end])) && end + 1 < s.size() ? 2 : 1;
    if (end + n > kFontNameBytes - 1) break;
    end += n;
  }
  return s.substr(0, end);
}

// A one-bit copy of a picture where 1 is ink: one-bit pictures keep their index bits; others
// are reduced by luminance and inverted, so dark pixels become ink.
Bitmap1 InkOf(const Picture& pic) {
  if (pic.bitsPerPixel == 1 && pic.mono.width > 0) return pic.mono;
  Bitmap1 out;
  if (!out.Create(pic.rgb.width, pic.rgb.height)) return out;
  for (int y = 0; y < pic.rgb.height; ++y) {
    const std::uint32_t* src = pic.rgb.Row(y);
    for (int x = 0; x < pic.rgb.width; ++x) {
      const int r = (src[x] >> 16) & 0xFF, g = (src[x] >> 8) & 0xFF, b = src[x] & 0xFF;
      if ((r * 299 + g * 587 + b * 114) / 1000 < kInkLuminance) out.Set(x, y, true);
    }
  }
  return out;
}

std::uint8_t StyleOf(const std::string& v) {
  const std::string k = UpperSjis(v);
  if (k == "BOLD") return kStyleBold;
  if (k == "ITALIC") return kStyleItalic;
  if (k == "BOLDITALIC" || k == "ITALICBOLD") return kStyleBold | kStyleItalic;
  return 0;
}

}  // namespace

CScrText::CScrText(CMainCtl* settings)
    : Settings(settings), raster_(std::make_unique<FontRaster>()) {}

CScrText::~CScrText() {
  Reset(false);
}

void CScrText::Reset(bool withDefault) {
  Lines.clear();
  LineHeight.clear();
  LineAlign.clear();
  LineCount_ = 0;
  CurLength = 0;
  CurHeight = 0;
  CurAlign = kAlignLeft;
  HideDepth = 0;
  FontPictures.clear();
  BitmapFonts.clear();
  OutlineFonts.clear();
  for (FormatState& s : FormatStack) s = FormatState();
  FormatDepth = 0;
  if (!withDefault) return;

  Picture pic;
  Bitmap1 ink;
  if (LoadBuiltinPicture("DEFAULTFONT", &pic) == 0) ink = InkOf(pic);
  BitmapFont font;
  font.Name = "DEFAULT";
  font.Height = std::max(0, ink.height - 1);
  const int picture = AddPicture(std::move(ink));
  int sum = 0;
  ReadRuler(font, picture, 0, &sum);
  BitmapFonts.push_back(font);
  FindOrAddOutline(Utf8ToCp932(kDefaultCptFont), kDefaultOutlineSize, 0);
}

int CScrText::AddPicture(Bitmap1 picture) {
  FontPictures.push_back(std::move(picture));
  return static_cast<int>(FontPictures.size()) - 1;
}

// Reads the ruler (top row) of picture `picture` into `font` from glyph index `first` on: a lit
// pixel marks the column after a glyph, the right edge ends the last one. Returns the index after
// the last glyph read; `sum` receives the summed widths. A picture without any marker has no
// glyphs.
int CScrText::ReadRuler(BitmapFont& font, int picture, int first, int* sum) {
  *sum = 0;
  const Bitmap1& p = FontPictures[picture];
  if (p.width <= 0 || p.height <= 0 || first < 0 || first >= kGlyphCount) return first;
  bool anyMarker = false;
  for (int x = 0; x < p.width && !anyMarker; ++x) anyMarker = p.Get(x, 0);
  if (!anyMarker) return first;
  int index = first;
  int start = 1;
  while (index < kGlyphCount && start < p.width) {
    int end = start;
    while (end < p.width && !p.Get(end, 0)) ++end;
    font.Glyphs[index] = BitmapGlyph{picture, start, end - start};
    *sum += end - start;
    ++index;
    start = end + 1;
  }
  return index;
}

int CScrText::FindBitmapFont(const std::string& upperName) const {
  const std::string name = CutName(upperName);
  for (size_t i = 0; i < BitmapFonts.size(); ++i)
    if (BitmapFonts[i].Name == name) return static_cast<int>(i);
  return -1;
}

int CScrText::ReadFont(const std::string& name, const std::string& file,
                       const std::string& assign) {
  if (static_cast<int>(FontPictures.size()) >= kMaxFontPictures) return -1;
  const std::string upper = UpperSjis(name);
  int fontIndex = FindBitmapFont(upper);
  const bool created = fontIndex < 0;
  if (created && static_cast<int>(BitmapFonts.size()) >= kMaxBitmapFonts) return -1;

  // Load before creating anything, so that a picture that cannot be read changes nothing.
  Picture pic(Settings ? &Settings->Pictures() : nullptr);
  const std::string path = Settings ? Settings->ResolvePath(file) : file;
  if (path.empty() || LoadBmpFile(path, &pic) != 0) return -1;
  Bitmap1 ink = InkOf(pic);
  if (ink.width <= 0) return -1;

  BitmapFont fresh;
  if (created) {
    fresh.Name = CutName(upper);
    if (!BitmapFonts.empty()) {
      fresh.Height = BitmapFonts[0].Height;
      for (int g = 1; g < kGlyphCount; ++g) fresh.Glyphs[g] = BitmapFonts[0].Glyphs[g];
    }
  }
  BitmapFont& font = created ? fresh : BitmapFonts[fontIndex];
  font.Height = std::max(font.Height, ink.height - 1);
  const int picture = AddPicture(std::move(ink));
  const int first = assign.empty() ? 0 : static_cast<unsigned char>(assign[0]) - 32;
  int sum = 0;
  const int last = ReadRuler(font, picture, first, &sum);
  if (created && font.Glyphs[0].width == 0) {
    // The space takes the average glyph width less one. Without any glyph read there is nothing
    // to average: the space keeps the default font's width instead of dividing by zero.
    if (last > 0)
      font.Glyphs[0].width = std::max(0, sum / last - 1);
    else if (!BitmapFonts.empty())
      font.Glyphs[0] = BitmapFonts[0].Glyphs[0];
  }
  if (created) BitmapFonts.push_back(fresh);
  return 0;
}

OutlineFont CScrText::OutlineOf(int number) const {
  const int i = number - kOutlineFontBase;
  if (i >= 0 && i < static_cast<int>(OutlineFonts.size())) return OutlineFonts[i];
  // The number given when the table was full, or no fonts at all: the default face.
  if (!OutlineFonts.empty()) return OutlineFonts[0];
  OutlineFont f;
  f.FaceUtf8 = kDefaultCptFont;
  f.Face = Utf8ToCp932(f.FaceUtf8);
  f.Size = kDefaultOutlineSize;
  return f;
}

int CScrText::FindOrAddOutline(const std::string& face, int size, std::uint8_t style) {
  const std::string cut = CutName(face);
  for (size_t i = 0; i < OutlineFonts.size(); ++i) {
    const OutlineFont& f = OutlineFonts[i];
    if (f.Face == cut && f.Size == size && f.Style == style) return static_cast<int>(i);
  }
  if (static_cast<int>(OutlineFonts.size()) >= kMaxOutlineFonts) return kMaxOutlineFonts;
  OutlineFont f;
  f.Face = cut;
  f.FaceUtf8 = Cp932ToUtf8(cut);
  f.Size = size;
  f.Style = style;
  OutlineFonts.push_back(f);
  return static_cast<int>(OutlineFonts.size()) - 1;
}

int CScrText::PushFormat(const std::optional<std::string>& font,
                         const std::optional<std::string>& size,
                         const std::optional<std::string>& align,
                         const std::optional<std::string>& rowspan,
                         const std::optional<std::string>& colspan,
                         const std::optional<std::string>& style) {
  if (FormatDepth >= kMaxFormatDepth) return -1;
  FormatState s = FormatStack[FormatDepth];
  const int p = s.Font;
  std::string face;
  if (font) {
    face = UpperSjis(*font);
    s.Font = kOutlineFontBase;
    const int bitmap = FindBitmapFont(face);
    if (bitmap >= 0) {
      s.Font = static_cast<std::uint8_t>(bitmap);
      s.Height = BitmapFonts[bitmap].Height;
    }
  }
  if (colspan) s.CharGap = Integer(*colspan);
  if (rowspan) s.LineGap = Integer(*rowspan);
  if (align) {
    const std::string a = UpperSjis(*align);
    if (a == "LEFT") s.Align = kAlignLeft;
    if (a == "RIGHT") s.Align = kAlignRight;
    if (a == "CENTER") s.Align = kAlignCenter;
    if (a == "LAYOUT") s.Align = kAlignLayout;
  }
  if (s.Font >= kOutlineFontBase) {
    const bool fromBitmap = p < kOutlineFontBase;
    const OutlineFont prev = OutlineOf(p);
    int pixels = prev.Size;
    if (size)
      pixels = Integer(*size);
    else if (fromBitmap)
      pixels = p < static_cast<int>(BitmapFonts.size()) ? BitmapFonts[p].Height : 0;
    const std::uint8_t st = style ? StyleOf(*style) : fromBitmap ? 0 : prev.Style;
    const int index = FindOrAddOutline(font ? face : prev.Face, pixels, st);
    s.Font = static_cast<std::uint8_t>(kOutlineFontBase + index);
    s.Height = pixels;
  }
  FormatStack[++FormatDepth] = s;
  return FormatDepth;
}

int CScrText::PopFormat() {
  if (FormatDepth == 0) return -1;
  return --FormatDepth;
}

void CScrText::Hide(bool on) {
  if (on)
    --HideDepth;
  else if (HideDepth < 0)
    ++HideDepth;
}

void CScrText::BreakLine(int height) {
  ScrTextLine line;
  line.Text.assign(CurText, CurText + CurLength);
  line.FontOf.assign(CurFont, CurFont + CurLength);
  line.GapOf.assign(CurGap, CurGap + CurLength);
  line.HiddenOf.assign(CurHidden, CurHidden + CurLength);
  Lines.push_back(std::move(line));
  LineHeight.push_back(height);
  LineAlign.push_back(CurAlign);
  ++LineCount_;
}

int CScrText::AddChar(std::uint8_t byte, int row) {
  const FormatState& s = FormatStack[FormatDepth];
  const int formatHeight = SaturatedInt(static_cast<long long>(s.Height) + s.LineGap);
  if (byte == '\n' || (CurLength > 0 && s.Align != CurAlign)) {
    if (LineCount_ >= kMaxTextLines) return -1;
    // ROW decides alone. Otherwise a line with text is at least as high as the formats it was
    // filled under, so that text closed by </FORMAT> before its BR does not collapse to the base
    // height.
    const int filled = CurLength > 0 ? std::max(CurHeight, formatHeight) : formatHeight;
    BreakLine(row >= 0 ? row : filled);
    CurLength = 0;
    CurHeight = s.LineGap;
    CurAlign = s.Align;
    if (byte == '\n') return 0;
  } else {
    if (CurLength == 0) CurAlign = s.Align;
    if (formatHeight > CurHeight || CurLength == 0) CurHeight = formatHeight;
  }
  if (byte == ' ' && CurLength == 0) return 0;
  if (CurLength >= kMaxLineBytes) return -1;
  CurText[CurLength] = byte == kKeptSpace ? ' ' : byte;
  CurFont[CurLength] = s.Font;
  CurGap[CurLength] = s.CharGap;
  CurHidden[CurLength] = HideDepth;
  ++CurLength;
  return 0;
}

int CScrText::TextHeight() const {
  long long sum = 0;
  for (std::int32_t h : LineHeight) sum += h;
  return static_cast<int>(std::clamp<long long>(sum, INT32_MIN, INT32_MAX));
}

int CScrText::DrawOutline(const ScrTextLine& l, int i, int len, int x, int y, bool draw,
                          Bitmap1* target) {
  const int number = l.FontOf[i];
  FontSpec spec;
  if (number >= kOutlineFontBase) {
    const OutlineFont f = OutlineOf(number);
    spec = FontSpec{f.FaceUtf8, f.Size, (f.Style & kStyleBold) != 0, (f.Style & kStyleItalic) != 0};
  } else {
    spec.face = OutlineOf(kOutlineFontBase).FaceUtf8;
    spec.height = number < static_cast<int>(BitmapFonts.size()) ? BitmapFonts[number].Height : 0;
  }
  const std::string_view text(reinterpret_cast<const char*>(l.Text.data()) + i, len);
  if (draw && target && l.HiddenOf[i] >= 0) return raster_->DrawMono(*target, x, y, spec, text);
  return raster_->TextWidth(spec, text);
}

int CScrText::DrawBitmapGlyph(const ScrTextLine& l, int i, int x, int y, bool draw,
                              Bitmap1* target) {
  const int number = l.FontOf[i];
  if (number >= static_cast<int>(BitmapFonts.size())) return 0;
  const BitmapFont& font = BitmapFonts[number];
  const int g = l.Text[i] - 32;
  const BitmapGlyph& glyph = font.Glyphs[g];
  if (!draw || !target || l.HiddenOf[i] < 0 || g == 0 || glyph.width <= 0) return glyph.width;
  const Bitmap1& pic = FontPictures[glyph.picture];
  // Rows 1 to Height of the picture; a font taller than this picture has nothing below it.
  const int rows = std::min(font.Height, pic.height - 1);
  const int cols = std::min(glyph.width, pic.width - glyph.x);
  for (int r = 0; r < rows; ++r) {
    const int ty = y + r;
    if (ty < 0 || ty >= target->height) continue;
    const std::uint8_t* src = pic.Row(r + 1);
    std::uint8_t* dst = target->Row(ty);
    for (int c = 0; c < cols; ++c) {
      const int sx = glyph.x + c, tx = x + c;
      if (tx < 0 || tx >= target->width) continue;
      if ((src[sx >> 3] >> (7 - (sx & 7))) & 1)
        dst[tx >> 3] |= static_cast<std::uint8_t>(0x80 >> (tx & 7));
    }
  }
  return glyph.width;
}

int CScrText::DrawRun(int line, int from, int x, int y, bool draw, Bitmap1* target, int* next) {
  if (line < 0 || line >= LineCount_) {
    if (next) *next = from;
    return 0;
  }
  const ScrTextLine& l = Lines[line];
  const bool layout = LineAlign[line] == kAlignLayout;
  const int n = static_cast<int>(l.Text.size());
  int width = 0;  // kept within +-kFarOutside, so that x + width cannot overflow either
  int i = std::max(0, from);
  while (i < n) {
    const std::uint8_t c = l.Text[i];
    const int len = IsSjisLead(c) && i + 1 < n && IsSjisTrail(l.Text[i + 1]) ? 2 : 1;
    if (layout && len == 1 && c == ' ') break;
    if (width != 0) width = SaturatedPlace(static_cast<long long>(width) + l.GapOf[i]);
    const int at = SaturatedPlace(static_cast<long long>(x) + width);
    const int w = len == 2 || l.FontOf[i] >= kOutlineFontBase || c < 32 || c > 126
                      ? DrawOutline(l, i, len, at, y, draw, target)
                      : DrawBitmapGlyph(l, i, at, y, draw, target);
    width = SaturatedPlace(static_cast<long long>(width) + w);
    i += len;
  }
  if (next) *next = i;
  return width;
}

void CScrText::RenderLayout(int line, int y, Bitmap1& bitmap) {
  struct Word {
    int from;
    int width;
  };
  Word words[kMaxLayoutWords];
  int count = 0;
  long long total = 0;  // words of negative width (negative COLSPAN) may sum far below zero
  const int n = static_cast<int>(Lines[line].Text.size());
  int pos = 0;
  while (pos < n && count < kMaxLayoutWords) {
    if (Lines[line].Text[pos] == ' ') {  // a run of spaces separates words
      ++pos;
      continue;
    }
    int next = pos;
    const int w = DrawRun(line, pos, 0, y, false, nullptr, &next);
    if (total + w >= kMaxPlacedWidth) break;
    words[count++] = Word{pos, w};
    total += w;
    pos = next;
  }
  if (count == 0) return;
  if (count == 1) {
    DrawRun(line, words[0].from, kLeftX, y, true, &bitmap);
    return;
  }
  const long long gap = (kMaxPlacedWidth - total) / (count - 1);
  long long x = kLeftX;
  for (int k = 0; k < count - 1; ++k) {
    DrawRun(line, words[k].from, SaturatedPlace(x), y, true, &bitmap);
    x = std::clamp(x + words[k].width + gap, -kFarOutside, kFarOutside);
  }
  DrawRun(line, words[count - 1].from, kRightX - words[count - 1].width, y, true, &bitmap);
}

int CScrText::Render(Bitmap1& bitmap) {
  long long y = kRenderTop;
  for (int i = 0; i < LineCount_; ++i) {
    const int at = SaturatedPlace(y);
    switch (LineAlign[i]) {
      case kAlignRight: {
        const int w = DrawRun(i, 0, 0, y, false, nullptr);
        if (w < kMaxPlacedWidth) DrawRun(i, 0, kRightX - w, at, true, &bitmap);
        break;
      }
      case kAlignCenter: {
        const int w = DrawRun(i, 0, 0, y, false, nullptr);
        if (w < kMaxPlacedWidth) DrawRun(i, 0, kCentreX - w / 2, at, true, &bitmap);
        break;
      }
      case kAlignLayout:
        RenderLayout(i, at, bitmap);
        break;
      default:
        DrawRun(i, 0, kLeftX, at, true, &bitmap);
        break;
    }
    y += LineHeight[i];
  }
  return 0;
}
