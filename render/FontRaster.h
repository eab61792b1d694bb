// Outline text on FreeType and fontconfig: face lookup by the names scripts and settings use,
// measuring, and drawing CP932 text into one-bit and 32-bit bitmaps.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "render/Bitmap.h"

struct FontSpec {
  // UTF-8 as a user or script wrote it (upper-cased Latin names, Japanese names). "ＭＳ ゴシック"
  // maps to IPAGothic, "ＭＳ Ｐゴシック" to IPAPGothic, else any face fontconfig offers for
  // lang=ja; a face that is not installed falls back to the Japanese Gothic face.
  std::string face;
  int height = 15;  // cell height in pixels
  bool bold = false;
  bool italic = false;
};

class FontRaster {
 public:
  FontRaster();
  ~FontRaster();
  FontRaster(const FontRaster&) = delete;
  FontRaster& operator=(const FontRaster&) = delete;

  // Advance width in pixels of CP932 text.
  int TextWidth(const FontSpec& f, std::string_view sjis);
  // Cell height in pixels.
  int TextHeight(const FontSpec& f);
  // Ink (bit 1) into a one-bit bitmap, no anti-aliasing, OR-ed; top-left of the cell at (x, y).
  // Clipped to `dst`. Returns the advance width.
  int DrawMono(Bitmap1& dst, int x, int y, const FontSpec& f, std::string_view sjis);
  // Anti-aliased text of `colour` (0x00RRGGBB) over an opaque black cell background (the cell
  // rectangle, advance width x cell height, is filled black first). Clipped. Returns the width.
  int Draw32(Bitmap32& dst, int x, int y, const FontSpec& f, std::string_view sjis,
             std::uint32_t colour = 0xFFFFFF);
  // Draw32 of `sjis` where `dst` still holds, at (x, y), the last Draw32 or Redraw32 of this
  // raster in the same font and colour, with nothing drawn over it since (the caller sees to
  // that, or calls ForgetLastDrawn): of the characters up to the first that differs from that
  // text (or stands elsewhere) only the ink outside the cells is drawn again. The whole text is
  // drawn when a glyph of either text has ink in another character's cell. The pixels are those
  // of Draw32 either way; LastDrawn() holds only those that may have changed.
  int Redraw32(Bitmap32& dst, int x, int y, const FontSpec& f, std::string_view sjis,
               std::uint32_t colour = 0xFFFFFF);
  // The next Redraw32 draws its whole text.
  void ForgetLastDrawn();
  // The pixels the last Draw32 wrote: its cell and the ink that overhangs it (a glyph may reach
  // past its advance or its cell), clipped to the bitmap; empty before the first.
  struct Box {
    int left = 0, top = 0, right = 0, bottom = 0;
  };
  const Box& LastDrawn() const { return drawn_; }

  // For the Japanese system face names ("ＭＳ ゴシック", "ＭＳ Ｐゴシック" and the Mincho ones),
  // the installed family they are drawn with; empty for any other name.
  static std::string SystemFaceFamily(const std::string& face);
  // Installed Japanese-capable families (UTF-8), sorted and without duplicates.
  static std::vector<std::string> JapaneseFamilies();

 private:
  struct Impl;
  // What the last 32-bit drawing left in its bitmap: each character and where it stands.
  struct LastText {
    const Bitmap32* dst = nullptr;
    int x = 0, y = 0;
    FontSpec font;
    std::uint32_t colour = 0;
    bool ownCells = false;
    std::vector<std::pair<char32_t, int>> glyphs;
  };
  int DrawText32(Bitmap32& dst, int x, int y, const FontSpec& f, std::string_view sjis,
                 std::uint32_t colour, bool keepSame);

  std::unique_ptr<Impl> impl_;
  Box drawn_;
  LastText last_;
};
