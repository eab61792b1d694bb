// The formatted-text engine of SCRTEXT bodies: collects characters into lines under bitmap and
// outline fonts, alignments and gaps, then measures and draws the block white on black into a
// one-bit bitmap 640 pixels wide.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "render/Bitmap.h"

class CMainCtl;
class FontRaster;

inline constexpr int kMaxFontPictures = 64;
inline constexpr int kMaxBitmapFonts = 64;
inline constexpr int kMaxOutlineFonts = 63;
inline constexpr int kMaxFormatDepth = 63;  // open FORMAT levels; the stack holds one more (base)
inline constexpr int kMaxTextLines = 2048;
inline constexpr int kMaxLineBytes = 256;
inline constexpr int kGlyphCount = 95;        // characters 32 to 126
inline constexpr int kFontNameBytes = 64;     // names keep at most 63 bytes
inline constexpr int kOutlineFontBase = 128;  // font numbers from 128 are outline fonts

inline constexpr int kAlignLeft = 0;
inline constexpr int kAlignRight = 1;
inline constexpr int kAlignCenter = 2;
inline constexpr int kAlignLayout = 3;

inline constexpr std::uint8_t kStyleBold = 1;
inline constexpr std::uint8_t kStyleItalic = 2;

inline constexpr std::uint8_t kKeptSpace = 27;  // AddChar byte of SPC: a space kept at line start

// One finished line: the four arrays have equal length.
struct ScrTextLine {
  std::vector<std::uint8_t> Text;
  std::vector<std::uint8_t> FontOf;    // font number of each byte
  std::vector<std::int32_t> GapOf;     // extra pixels before each byte
  std::vector<std::int32_t> HiddenOf;  // negative: not drawn
};

struct BitmapGlyph {
  int picture = 0;  // index into FontPictures
  int x = 0;        // first column in the picture
  int width = 0;    // 0: no glyph
};

struct BitmapFont {
  std::string Name;  // upper-case, at most 63 bytes
  BitmapGlyph Glyphs[kGlyphCount] = {};
  int Height = 0;  // glyph height: picture height minus the ruler row
};

struct OutlineFont {
  std::string Face;        // CP932 bytes, at most 63
  std::string FaceUtf8;    // the same face for the rasteriser
  int Size = 0;            // pixel height
  std::uint8_t Style = 0;  // kStyleBold | kStyleItalic
};

struct FormatState {
  std::uint8_t Font = 0;  // < 128: BitmapFonts index; 128 + i: OutlineFonts entry i
  std::int32_t Height = 0;
  std::int32_t CharGap = 0;
  std::int32_t LineGap = 0;
  std::int32_t Align = kAlignLeft;
};

class CScrText {
 public:
  explicit CScrText(CMainCtl* settings);
  ~CScrText();
  CScrText(const CScrText&) = delete;
  CScrText& operator=(const CScrText&) = delete;

  // Frees every line and font picture, clears fonts, stack and buffers; with `withDefault`
  // installs the built-in bitmap font "DEFAULT" and outline font 0 ("ＭＳ ゴシック", 15, plain).
  void Reset(bool withDefault);
  // Appends a byte (10 breaks the line; 27 is a kept space) with `row` the height of the line a
  // break ends (negative: from the format). 0, or -1 when the line or the block is full.
  int AddChar(std::uint8_t byte, int row);
  // READFONT; the caller has checked that `file` exists. 0 or -1.
  int ReadFont(const std::string& name, const std::string& file, const std::string& assign);
  // FORMAT. Each argument is std::nullopt when the tag did not give it; values are CP932 bytes.
  // Returns the new depth, or -1 when 63 levels are open.
  int PushFormat(const std::optional<std::string>& font, const std::optional<std::string>& size,
                 const std::optional<std::string>& align, const std::optional<std::string>& rowspan,
                 const std::optional<std::string>& colspan,
                 const std::optional<std::string>& style);
  // /FORMAT: the new depth, or -1 when nothing was open.
  int PopFormat();
  // NODISP (on) and /NODISP (off).
  void Hide(bool on);

  // Sum of the heights of the finished lines.
  int TextHeight() const;
  // Draws every finished line into `bitmap` (640 wide), starting at y = 2. Returns 0.
  int Render(Bitmap1& bitmap);
  // Measures (and with `draw` and a target, draws) line `line` from byte `from` at (x, y).
  // In a LAYOUT line a single-byte space ends the run; `next` receives the index of the byte
  // that ended it (the line's length at its end). Returns the width.
  int DrawRun(int line, int from, int x, int y, bool draw, Bitmap1* target, int* next = nullptr);

  int LineCount() const { return LineCount_; }
  int Depth() const { return FormatDepth; }
  const FormatState& Top() const { return FormatStack[FormatDepth]; }

  // State, as the formatter keeps it (read by tests and the log).
  std::vector<ScrTextLine> Lines;
  std::vector<std::int32_t> LineHeight;
  std::vector<std::int32_t> LineAlign;
  int LineCount_ = 0;

  // The line being filled.
  std::uint8_t CurText[kMaxLineBytes] = {};
  std::uint8_t CurFont[kMaxLineBytes] = {};
  std::int32_t CurGap[kMaxLineBytes] = {};
  std::int32_t CurHidden[kMaxLineBytes] = {};
  int CurLength = 0;
  int CurHeight = 0;
  int CurAlign = kAlignLeft;

  int HideDepth = 0;
  std::vector<Bitmap1> FontPictures;  // index bits, 1 = ink
  std::vector<BitmapFont> BitmapFonts;
  std::vector<OutlineFont> OutlineFonts;
  FormatState FormatStack[kMaxFormatDepth + 1] = {};
  int FormatDepth = 0;
  CMainCtl* Settings = nullptr;

 private:
  void BreakLine(int height);
  int DrawOutline(const ScrTextLine& l, int i, int len, int x, int y, bool draw, Bitmap1* target);
  int DrawBitmapGlyph(const ScrTextLine& l, int i, int x, int y, bool draw, Bitmap1* target);
  void RenderLayout(int line, int y, Bitmap1& bitmap);
  int AddPicture(Bitmap1 picture);
  int ReadRuler(BitmapFont& font, int picture, int first, int* sum);
  int FindBitmapFont(const std::string& upperName) const;
  int FindOrAddOutline(const std::string& face, int size, std::uint8_t style);
  OutlineFont OutlineOf(int number) const;

  std::unique_ptr<FontRaster> raster_;
};
