// Draws the built-in pictures DEFAULTFONT (the one-bit font for the characters 32 to 126, with
// its ruler row) and NOTFOUND (the 51 x 22 "missing picture" sign) and writes them as BMP files.
//
// Regenerate with:
//   ninja -C build tool_make-builtin-font && build/tool_make-builtin-font resources
// A second argument names a folder for enlarged PNG previews of both pictures.
// The font is DejaVu Sans (fonts-dejavu-core), rasterised anti-aliased by FreeType and
// thresholded to clean one-bit strokes.
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "render/Bitmap.h"
#include "render/Picture.h"
#include "tools/BmpEncoder.h"

namespace {

constexpr const char* kFontFile = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr int kGlyphRows = 16;   // rows below the ruler
constexpr int kPixelSize = 14;   // em size in pixels: capitals 10 rows, descenders 3 or 4
constexpr int kBaseline = 12;    // glyph row (from the first row below the ruler) of the baseline
constexpr int kThreshold = 112;  // coverage from which an anti-aliased pixel becomes ink
constexpr int kFirstChar = 32;
constexpr int kLastChar = 126;

struct Glyph {
  int width = 0;                  // cell width, spacing included
  std::vector<std::uint8_t> ink;  // kGlyphRows x width, 1 = ink
};

int RenderGlyph(FT_Face face, int ch, Glyph* g) {
  if (FT_Load_Char(face, static_cast<FT_ULong>(ch), FT_LOAD_DEFAULT | FT_LOAD_TARGET_LIGHT) != 0 ||
      FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL) != 0) {
    return -1;
  }
  const FT_GlyphSlot slot = face->glyph;
  const FT_Bitmap& bm = slot->bitmap;
  const int advance = static_cast<int>((slot->advance.x + 32) >> 6);
  const int left = std::max(0, slot->bitmap_left);
  const int top = kBaseline - slot->bitmap_top;
  // Last ink column, to give every glyph at least one blank column on its right.
  int lastInk = -1;
  for (unsigned r = 0; r < bm.rows; ++r)
    for (unsigned c = 0; c < bm.width; ++c)
      if (bm.buffer[r * bm.pitch + c] >= kThreshold) lastInk = std::max(lastInk, left + int(c));
  g->width = std::max(advance, lastInk + 2);
  g->ink.assign(static_cast<std::size_t>(g->width * kGlyphRows), 0);
  for (unsigned r = 0; r < bm.rows; ++r) {
    const int y = top + static_cast<int>(r);
    if (y < 0 || y >= kGlyphRows) {
      std::fprintf(stderr, "character %d: a row falls outside the %d glyph rows\n", ch, kGlyphRows);
      return -1;
    }
    for (unsigned c = 0; c < bm.width; ++c) {
      const int x = left + static_cast<int>(c);
      if (x < g->width && bm.buffer[r * bm.pitch + c] >= kThreshold) g->ink[y * g->width + x] = 1;
    }
  }
  return 0;
}

// Row 0 is the ruler: column 0 is unused, each glyph follows one past the previous marker and
// is ended by a lit marker column.
int MakeFont(Bitmap1* out) {
  FT_Library lib;
  FT_Face face;
  if (FT_Init_FreeType(&lib) != 0) return -1;
  if (FT_New_Face(lib, kFontFile, 0, &face) != 0) {
    std::fprintf(stderr, "cannot open %s\n", kFontFile);
    return -1;
  }
  FT_Set_Pixel_Sizes(face, 0, kPixelSize);
  std::vector<Glyph> glyphs(kLastChar - kFirstChar + 1);
  int width = 1;
  for (int ch = kFirstChar; ch <= kLastChar; ++ch) {
    if (RenderGlyph(face, ch, &glyphs[ch - kFirstChar]) != 0) return -1;
    width += glyphs[ch - kFirstChar].width + 1;
  }
  FT_Done_Face(face);
  FT_Done_FreeType(lib);
  out->Create(width, kGlyphRows + 1);
  int x = 1;
  for (const Glyph& g : glyphs) {
    for (int r = 0; r < kGlyphRows; ++r)
      for (int c = 0; c < g.width; ++c)
        if (g.ink[r * g.width + c]) out->Set(x + c, r + 1, true);
    x += g.width;
    out->Set(x, 0, true);
    ++x;
  }
  return 0;
}

// A 4 x 7 (T: 5 x 7) pixel alphabet for the word of the sign.
struct Letter {
  char ch;
  const char* rows[7];
};
constexpr Letter kLetters[] = {
    {'N', {"X..X", "XX.X", "XX.X", "X.XX", "X.XX", "X..X", "X..X"}},
    {'O', {".XX.", "X..X", "X..X", "X..X", "X..X", "X..X", ".XX."}},
    {'T', {"XXXXX", "..X..", "..X..", "..X..", "..X..", "..X..", "..X.."}},
    {'F', {"XXXX", "X...", "X...", "XXX.", "X...", "X...", "X..."}},
    {'U', {"X..X", "X..X", "X..X", "X..X", "X..X", "X..X", ".XX."}},
    {'D', {"XXX.", "X..X", "X..X", "X..X", "X..X", "X..X", "XXX."}},
};

const Letter* LetterOf(char ch) {
  for (const Letter& l : kLetters)
    if (l.ch == ch) return &l;
  return nullptr;
}

int WordWidth(const std::string& word) {
  int w = -1;
  for (char ch : word) w += static_cast<int>(std::string(LetterOf(ch)->rows[0]).size()) + 1;
  return w;
}

void DrawWord(Bitmap1& b, const std::string& word, int centreX, int top) {
  int x = centreX - WordWidth(word) / 2;
  for (char ch : word) {
    const Letter* l = LetterOf(ch);
    const int w = static_cast<int>(std::string(l->rows[0]).size());
    for (int r = 0; r < 7; ++r)
      for (int c = 0; c < w; ++c)
        if (l->rows[r][c] == 'X') b.Set(x + c, top + r, true);
    x += w + 1;
  }
}

// A framed sign: a crossed-out picture box on the left, "NOT FOUND" on the right.
void MakeNotFound(Bitmap1* out) {
  constexpr int kW = 51, kH = 22;
  out->Create(kW, kH);
  for (int x = 0; x < kW; ++x) out->Set(x, 0, true), out->Set(x, kH - 1, true);
  for (int y = 0; y < kH; ++y) out->Set(0, y, true), out->Set(kW - 1, y, true);
  constexpr int kBox = 3, kBoxSide = 16;
  for (int i = 0; i < kBoxSide; ++i) {
    out->Set(kBox + i, kBox, true), out->Set(kBox + i, kBox + kBoxSide - 1, true);
    out->Set(kBox, kBox + i, true), out->Set(kBox + kBoxSide - 1, kBox + i, true);
    out->Set(kBox + i, kBox + i, true), out->Set(kBox + kBoxSide - 1 - i, kBox + i, true);
  }
  const int centre = (kBox + kBoxSide + kW - 1) / 2;
  DrawWord(*out, "NOT", centre, 3);
  DrawWord(*out, "FOUND", centre, 12);
}

// Enlarged copy for looking at: each pixel a scale x scale block, ink white on dark grey.
Bitmap32 Enlarge(const Bitmap1& b, int scale) {
  Bitmap32 big;
  big.Create(b.width * scale, b.height * scale, 0x303030);
  for (int y = 0; y < big.height; ++y)
    for (int x = 0; x < big.width; ++x)
      if (b.Get(x / scale, y / scale)) big.Row(y)[x] = 0xFFFFFF;
  return big;
}

// Sample lines set with the glyphs the ruler defines, to judge the font as text.
Bitmap1 SetSample(const Bitmap1& font, const std::vector<std::string>& lines) {
  std::vector<int> start, width;
  int from = 1;
  for (int x = 1; x < font.width; ++x) {
    if (font.Get(x, 0)) start.push_back(from), width.push_back(x - from), from = x + 1;
  }
  const int h = font.height - 1;
  Bitmap1 out;
  out.Create(600, static_cast<int>(lines.size()) * (h + 2) + 4);
  int y = 2;
  for (const std::string& line : lines) {
    int x = 2;
    for (char ch : line) {
      const int g = ch - kFirstChar;
      if (g < 0 || g >= static_cast<int>(start.size())) continue;
      for (int r = 0; r < h; ++r)
        for (int c = 0; c < width[g] && x + c < out.width; ++c)
          if (font.Get(start[g] + c, r + 1)) out.Set(x + c, y + r, true);
      x += width[g];
    }
    y += h + 2;
  }
  return out;
}

int Save(const Bitmap1& b, const std::string& dir, const char* name) {
  std::vector<std::uint8_t> bytes;
  const std::string path = dir + "/" + name + ".bmp";
  if (EncodeBmp1(b, &bytes) != 0 || WriteFileBytes(path.c_str(), bytes) != 0) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return -1;
  }
  std::printf("%s: %d x %d\n", path.c_str(), b.width, b.height);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s RESOURCE_DIR [PREVIEW_DIR]\n", argv[0]);
    return 2;
  }
  Bitmap1 font, sign;
  if (MakeFont(&font) != 0) return 1;
  MakeNotFound(&sign);
  if (Save(font, argv[1], "DEFAULTFONT") != 0 || Save(sign, argv[1], "NOTFOUND") != 0) return 1;
  if (argc >= 3) {
    const std::string dir = argv[2];
    WritePng(dir + "/DEFAULTFONT-x4.png", Enlarge(font, 4));
    const Bitmap1 sample =
        SetSample(font, {"The quick brown fox jumps over the lazy dog.",
                         "PACK MY BOX WITH FIVE DOZEN LIQUOR JUGS",
                         "0123456789 !\"#$%&'()*+,-./:;<=>?@", "[\\]^_`{|}~ gjpqy Wij Ill1 O0o"});
    WritePng(dir + "/SAMPLE-x3.png", Enlarge(sample, 3));
    WritePng(dir + "/NOTFOUND-x8.png", Enlarge(sign, 8));
  }
  return 0;
}
