// Outline text on FreeType: faces are found once through fontconfig and kept open, glyphs are
// rendered once per face, size, style and mode and kept in a cache.
#include "render/FontRaster.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>

#include "platform/Cp932.h"

namespace {

constexpr int kMaxTextHeight = 1024;       // larger requests are clamped; nothing real is that tall
constexpr FT_Pos kObliqueShear = 0x0366A;  // about 12 degrees, the usual synthetic italic
// Rendered glyphs kept at most; beyond this the cache starts afresh (huge sizes in a script must
// not exhaust memory).
constexpr size_t kGlyphCacheBytes = size_t{64} << 20;

// Decodes UTF-8 leniently (invalid bytes become U+FFFD); only used for face names.
std::u32string Utf8ToUtf32(std::string_view s) {
  std::u32string out;
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = s[i];
    int n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    char32_t cp = n == 1 ? c : c & (0x7F >> n);
    for (int k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    out.push_back(cp);
    i += n;
  }
  return out;
}

// Face name reduced for comparing the Japanese system names: full-width Latin to ASCII, spaces
// dropped, Latin letters upper-cased.
std::u32string FoldName(std::string_view utf8) {
  std::u32string out;
  for (char32_t c : Utf8ToUtf32(utf8)) {
    if (c >= 0xFF01 && c <= 0xFF5E) c -= 0xFEE0;
    if (c == U' ' || c == 0x3000) continue;
    if (c >= U'a' && c <= U'z') c -= 32;
    out.push_back(c);
  }
  return out;
}

enum class Alias { kNone, kGothic, kPGothic, kMincho, kPMincho };

Alias AliasOf(std::string_view face) {
  const std::u32string f = FoldName(face);
  if (f.empty() || f == U"MSゴシック" || f == U"MSGOTHIC") return Alias::kGothic;
  if (f == U"MSPゴシック" || f == U"MSPGOTHIC" || f == U"MSUIGOTHIC") return Alias::kPGothic;
  if (f == U"MS明朝" || f == U"MSMINCHO") return Alias::kMincho;
  if (f == U"MSP明朝" || f == U"MSPMINCHO") return Alias::kPMincho;
  return Alias::kNone;
}

struct FoundFace {
  std::string path;
  int index = 0;
  std::string family;  // the face's first family name
};

// Families fontconfig puts into `pat` once substituted, in order.
std::vector<std::string> FamiliesOf(FcPattern* pat) {
  std::vector<std::string> out;
  FcChar8* s = nullptr;
  for (int i = 0; FcPatternGetString(pat, FC_FAMILY, i, &s) == FcResultMatch; ++i)
    out.emplace_back(reinterpret_cast<const char*>(s));
  return out;
}

FcPattern* SubstitutedPattern(const std::string& family, const char* lang, bool bold, bool italic) {
  FcPattern* pat = FcPatternCreate();
  if (!pat) return nullptr;
  if (!family.empty())
    FcPatternAddString(pat, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
  if (lang) FcPatternAddString(pat, FC_LANG, reinterpret_cast<const FcChar8*>(lang));
  FcPatternAddBool(pat, FC_OUTLINE, FcTrue);
  FcPatternAddInteger(pat, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
  FcPatternAddInteger(pat, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
  FcConfigSubstitute(nullptr, pat, FcMatchPattern);
  FcDefaultSubstitute(pat);
  return pat;
}

bool SameFamily(const std::string& a, const std::string& b) {
  return FcStrCmpIgnoreCase(reinterpret_cast<const FcChar8*>(a.c_str()),
                            reinterpret_cast<const FcChar8*>(b.c_str())) == 0;
}

// Asks fontconfig for `family` (or, when empty, any face for `lang`). With `strict`, the match
// must be the family itself or a substitute configured for that name (a metric-compatible alias),
// not one of the defaults every unknown name gets.
bool MatchFace(const std::string& family, const char* lang, bool bold, bool italic, bool strict,
               FoundFace* out) {
  FcPattern* pat = SubstitutedPattern(family, lang, bold, italic);
  if (!pat) return false;
  std::vector<std::string> named;
  if (strict) {
    named = FamiliesOf(pat);
    if (FcPattern* dummy = SubstitutedPattern("ondrelix-no-such-face", lang, bold, italic)) {
      const std::vector<std::string> defaults = FamiliesOf(dummy);
      FcPatternDestroy(dummy);
      std::erase_if(named, [&](const std::string& n) {
        return !SameFamily(n, family) &&
               std::any_of(defaults.begin(), defaults.end(),
                           [&](const std::string& d) { return SameFamily(n, d); });
      });
    }
  }
  FcResult result;
  FcPattern* match = FcFontMatch(nullptr, pat, &result);
  FcPatternDestroy(pat);
  if (!match) return false;
  bool ok = !strict;
  for (const std::string& m : FamiliesOf(match))
    for (const std::string& n : named) ok = ok || SameFamily(m, n);
  FcChar8* file = nullptr;
  if (ok && FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
    out->path = reinterpret_cast<const char*>(file);
    int v = 0;
    out->index = FcPatternGetInteger(match, FC_INDEX, 0, &v) == FcResultMatch ? v : 0;
    FcChar8* family = nullptr;
    out->family = FcPatternGetString(match, FC_FAMILY, 0, &family) == FcResultMatch
                      ? reinterpret_cast<const char*>(family)
                      : "";
  } else {
    ok = false;
  }
  FcPatternDestroy(match);
  return ok;
}

// The Japanese Gothic face every unknown face falls back to.
bool MatchGothic(bool proportional, bool bold, bool italic, FoundFace* out) {
  if (proportional && MatchFace("IPAPGothic", nullptr, bold, italic, true, out)) return true;
  if (MatchFace("IPAGothic", nullptr, bold, italic, true, out)) return true;
  if (MatchFace("", "ja", bold, italic, false, out)) return true;
  return MatchFace("sans-serif", nullptr, bold, italic, false, out);
}

bool FindFace(const std::string& face, bool bold, bool italic, FoundFace* out) {
  switch (AliasOf(face)) {
    case Alias::kGothic:
      return MatchGothic(false, bold, italic, out);
    case Alias::kPGothic:
      return MatchGothic(true, bold, italic, out);
    case Alias::kMincho:
      return MatchFace("IPAMincho", nullptr, bold, italic, true, out) ||
             MatchGothic(false, bold, italic, out);
    case Alias::kPMincho:
      return MatchFace("IPAPMincho", nullptr, bold, italic, true, out) ||
             MatchGothic(true, bold, italic, out);
    case Alias::kNone:
      break;
  }
  return MatchFace(face, nullptr, bold, italic, true, out) || MatchGothic(false, bold, italic, out);
}

}  // namespace

struct FontRaster::Impl {
  struct Face {
    FT_Face face = nullptr;
    std::string path;
    int index = 0;
    FT_F26Dot6 charSize = 0;  // size currently set on the face
    double cellPerEm = 1.0;   // cell height (ascent + descent) per em
    double ascentPerCell = 0.8;
    bool bold = false;    // the face itself is bold
    bool italic = false;  // the face itself is italic or oblique
  };
  // A FontSpec resolved: the face to use, what must be synthesised, and the face that supplies
  // characters the first one lacks.
  struct Resolved {
    int face = -1;
    int fallback = -1;
    bool synthBold = false;
    bool synthItalic = false;
  };
  struct Glyph {
    int advance = 0;
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> coverage;  // 0 to 255, `width` per row
  };
  // One placed character of a laid-out string.
  struct Placed {
    const Glyph* glyph;
    int x;
    char32_t cp;
  };

  FT_Library lib = nullptr;
  std::vector<Face> faces;
  std::unordered_map<std::string, Resolved> resolved;
  std::unordered_map<std::uint64_t, Glyph> glyphs;
  size_t glyphBytes = 0;
  std::unordered_map<std::uint16_t, char32_t> doubleByte;
  // Ink of the last colour drawn at each coverage over black, the common case (the cell is
  // black before the ink goes on): c * a / 255 per channel, packed as a pixel.
  std::uint32_t inkColour = 0xFFFFFFFFu;
  std::uint32_t inkOverBlack[256] = {};

  const std::uint32_t* InkOverBlack(std::uint32_t colour) {
    colour &= 0xFFFFFF;
    if (colour == inkColour) return inkOverBlack;
    const int cr = (colour >> 16) & 0xFF, cg = (colour >> 8) & 0xFF, cb = colour & 0xFF;
    for (int a = 0; a < 256; ++a)
      inkOverBlack[a] = static_cast<std::uint32_t>(cr * a / 255) << 16 |
                        static_cast<std::uint32_t>(cg * a / 255) << 8 |
                        static_cast<std::uint32_t>(cb * a / 255);
    inkColour = colour;
    return inkOverBlack;
  }

  // True when no glyph has ink in the band (the cells, `width` x `cell` from the text's origin)
  // outside its own cell: the band then holds each character's ink in its cell alone.
  static bool InkInOwnCells(const std::vector<Placed>& placed, int width, int cell, int baseline) {
    for (const Placed& p : placed) {
      const Glyph& g = *p.glyph;
      const int l = std::max(p.x + g.left, 0), r = std::min(p.x + g.left + g.width, width);
      const int t = std::max(baseline - g.top, 0), b = std::min(baseline - g.top + g.height, cell);
      if (l < r && t < b && (l < p.x || r > p.x + g.advance)) return false;
    }
    return true;
  }

  // The band of a drawing in the bitmap's coordinates, and the ink's colour.
  struct InkPass {
    int left, top, right, bottom;
    std::uint32_t colour;
    const std::uint32_t* overBlack;  // InkOverBlack(colour)
  };

  // Blends glyph `g`'s ink at (gx, gy), clipped to `dst`: d + (c - d) x a / 255 per channel. A
  // kept glyph (whose ink inside the band is still there) blends only its ink outside the band
  // and hands each pixel that changes to `grew`.
  template <typename Grow>
  static void BlendGlyph(Bitmap32& dst, const Glyph& g, int gx, int gy, const InkPass& ink,
                         bool kept, Grow&& grew) {
    const int cr = (ink.colour >> 16) & 0xFF, cg = (ink.colour >> 8) & 0xFF, cb = ink.colour & 0xFF;
    const int x0 = std::max(0, -gx), x1 = std::min(g.width, dst.width - gx);
    const int y0 = std::max(0, -gy), y1 = std::min(g.height, dst.height - gy);
    for (int j = y0; j < y1; ++j) {
      const std::uint8_t* cov = g.coverage.data() + static_cast<size_t>(j) * g.width;
      std::uint32_t* row = dst.Row(gy + j);
      const bool bandRow = gy + j >= ink.top && gy + j < ink.bottom;
      for (int i = x0; i < x1; ++i) {
        const int a = cov[i];
        if (a == 0) continue;
        if (kept && bandRow && gx + i >= ink.left && gx + i < ink.right) continue;
        std::uint32_t& d = row[gx + i];
        const std::uint32_t was = d;
        if ((d & 0xFFFFFF) == 0) {  // d + (c - d) * a / 255 with d = 0
          d |= ink.overBlack[a];
        } else {
          const int dr = (d >> 16) & 0xFF, dg = (d >> 8) & 0xFF, db = d & 0xFF;
          d = (d & 0xFF000000u) | static_cast<std::uint32_t>(dr + (cr - dr) * a / 255) << 16 |
              static_cast<std::uint32_t>(dg + (cg - dg) * a / 255) << 8 |
              static_cast<std::uint32_t>(db + (cb - db) * a / 255);
        }
        if (kept && d != was) grew(gx + i, gy + j, gx + i + 1, gy + j + 1);
      }
    }
  }

  Impl() {
    if (FT_Init_FreeType(&lib) != 0) lib = nullptr;
  }
  ~Impl() {
    for (Face& f : faces)
      if (f.face) FT_Done_Face(f.face);
    if (lib) FT_Done_FreeType(lib);
  }

  int OpenFace(const FoundFace& found) {
    for (size_t i = 0; i < faces.size(); ++i)
      if (faces[i].path == found.path && faces[i].index == found.index) return static_cast<int>(i);
    Face f;
    f.path = found.path;
    f.index = found.index;
    if (!lib || FT_New_Face(lib, found.path.c_str(), found.index, &f.face) != 0) return -1;
    if (!FT_IS_SCALABLE(f.face)) {
      FT_Done_Face(f.face);
      return -1;
    }
    // Cell metrics as the system's text drawing measures them: the Windows ascent and descent
    // when the face has them, else the horizontal header's.
    double asc = f.face->ascender, desc = -f.face->descender;
    if (auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(f.face, FT_SFNT_OS2));
        os2 && os2->usWinAscent + os2->usWinDescent > 0) {
      asc = os2->usWinAscent;
      desc = os2->usWinDescent;
    }
    if (asc + desc <= 0) {
      asc = f.face->units_per_EM * 0.8;
      desc = f.face->units_per_EM * 0.2;
    }
    f.bold = (f.face->style_flags & FT_STYLE_FLAG_BOLD) != 0;
    f.italic = (f.face->style_flags & FT_STYLE_FLAG_ITALIC) != 0;
    f.cellPerEm = (asc + desc) / f.face->units_per_EM;
    f.ascentPerCell = asc / (asc + desc);
    faces.push_back(f);
    return static_cast<int>(faces.size()) - 1;
  }

  const Resolved& Resolve(const FontSpec& spec) {
    const std::string key = spec.face + '\n' + (spec.bold ? 'b' : '-') + (spec.italic ? 'i' : '-');
    auto it = resolved.find(key);
    if (it != resolved.end()) return it->second;
    Resolved r;
    FoundFace found;
    if (FindFace(spec.face, spec.bold, spec.italic, &found)) {
      r.face = OpenFace(found);
    }
    FoundFace gothic;
    if (MatchGothic(false, false, false, &gothic)) r.fallback = OpenFace(gothic);
    if (r.face < 0) r.face = r.fallback;
    if (r.face >= 0) {
      r.synthBold = spec.bold && !faces[r.face].bold;
      r.synthItalic = spec.italic && !faces[r.face].italic;
    }
    return resolved.emplace(key, r).first->second;
  }

  char32_t CodeOf(std::uint8_t lead, std::uint8_t trail) {
    const std::uint16_t key = static_cast<std::uint16_t>(lead << 8 | trail);
    auto it = doubleByte.find(key);
    if (it != doubleByte.end()) return it->second;
    const char bytes[2] = {static_cast<char>(lead), static_cast<char>(trail)};
    const std::u32string u = Cp932ToUtf32(std::string_view(bytes, 2));
    const char32_t cp = u.size() == 1 ? u[0] : 0xFFFD;
    doubleByte.emplace(key, cp);
    return cp;
  }

  // CP932 bytes to code points, with the double-byte rule: a lead byte followed by a valid trail
  // byte is one character, any other byte is one character.
  std::u32string Decode(std::string_view s) {
    std::u32string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
      const unsigned char c = s[i];
      if (IsSjisLead(c) && i + 1 < s.size() && IsSjisTrail(static_cast<unsigned char>(s[i + 1]))) {
        out.push_back(CodeOf(c, static_cast<unsigned char>(s[i + 1])));
        ++i;
      } else if (c < 0x80) {
        out.push_back(c);
      } else if (c >= 0xA1 && c <= 0xDF) {
        out.push_back(0xFF61 + (c - 0xA1));  // half-width katakana
      } else {
        out.push_back(0xFFFD);
      }
    }
    return out;
  }

  bool SetSize(Face& f, int cell) {
    const FT_F26Dot6 size =
        std::max<FT_F26Dot6>(1, static_cast<FT_F26Dot6>(std::lround(cell * 64.0 / f.cellPerEm)));
    if (f.charSize == size) return true;
    if (FT_Set_Char_Size(f.face, 0, size, 72, 72) != 0) return false;
    f.charSize = size;
    return true;
  }

  // Loads and renders one character (cached). Advances come from the anti-aliased rendering in
  // both modes, so measuring and drawing agree whatever the target.
  const Glyph* GetGlyph(const Resolved& r, int cell, char32_t cp, bool mono) {
    if (r.face < 0 || cp < 0x20 || cp > 0x10FFFF) return nullptr;
    const std::uint64_t key =
        static_cast<std::uint64_t>(cp) | static_cast<std::uint64_t>(mono) << 21 |
        static_cast<std::uint64_t>(r.synthBold) << 22 |
        static_cast<std::uint64_t>(r.synthItalic) << 23 | static_cast<std::uint64_t>(cell) << 24 |
        static_cast<std::uint64_t>(r.face) << 40;
    auto it = glyphs.find(key);
    if (it != glyphs.end()) return &it->second;
    int advance = 0;
    if (mono) {
      const Glyph* aa = GetGlyph(r, cell, cp, false);
      if (!aa) return nullptr;
      advance = aa->advance;
    }
    Glyph g;
    Render(r, cell, cp, mono, &g);
    if (mono) g.advance = advance;
    glyphBytes += g.coverage.size() + sizeof(Glyph);
    return &glyphs.emplace(key, std::move(g)).first->second;
  }

  void Render(const Resolved& r, int cell, char32_t cp, bool mono, Glyph* g) {
    int slotIndex = r.face;
    FT_UInt index = FT_Get_Char_Index(faces[slotIndex].face, cp);
    if (index == 0 && r.fallback >= 0 && r.fallback != r.face) {
      const FT_UInt alt = FT_Get_Char_Index(faces[r.fallback].face, cp);
      if (alt != 0) {
        slotIndex = r.fallback;
        index = alt;
      }
    }
    Face& f = faces[slotIndex];
    if (!SetSize(f, cell)) return;
    const FT_Int32 flags = FT_LOAD_NO_BITMAP | (mono ? FT_LOAD_TARGET_MONO : FT_LOAD_TARGET_NORMAL);
    if (FT_Load_Glyph(f.face, index, flags) != 0) return;
    FT_GlyphSlot slot = f.face->glyph;
    g->advance = static_cast<int>((slot->advance.x + 32) >> 6);
    if (slot->format != FT_GLYPH_FORMAT_OUTLINE) return;
    if (r.synthBold) {
      // Thicken by about 1/24 of the em, at least a pixel, and widen the advance by as much.
      const FT_Pos strength = std::max<FT_Pos>(64, ((f.charSize / 24) + 32) & ~63);
      FT_Outline_Embolden(&slot->outline, strength);
      g->advance += static_cast<int>(strength >> 6);
    }
    if (r.synthItalic) {
      FT_Matrix shear = {0x10000, kObliqueShear, 0, 0x10000};
      FT_Outline_Transform(&slot->outline, &shear);
    }
    if (FT_Render_Glyph(slot, mono ? FT_RENDER_MODE_MONO : FT_RENDER_MODE_NORMAL) != 0) return;
    const FT_Bitmap& bm = slot->bitmap;
    g->left = slot->bitmap_left;
    g->top = slot->bitmap_top;
    g->width = static_cast<int>(bm.width);
    g->height = static_cast<int>(bm.rows);
    g->coverage.assign(static_cast<size_t>(g->width) * g->height, 0);
    for (int y = 0; y < g->height; ++y) {
      const unsigned char* src = bm.buffer + static_cast<std::ptrdiff_t>(y) * bm.pitch;
      std::uint8_t* dst = g->coverage.data() + static_cast<size_t>(y) * g->width;
      for (int x = 0; x < g->width; ++x)
        dst[x] = bm.pixel_mode == FT_PIXEL_MODE_MONO ? ((src[x >> 3] >> (7 - (x & 7))) & 1) * 255
                                                     : src[x];
    }
  }

  int Baseline(const Resolved& r, int cell) const {
    if (r.face < 0) return 0;
    return static_cast<int>(std::lround(cell * faces[r.face].ascentPerCell));
  }

  // Lays out `sjis` and returns the advance width; `placed` (optional) receives each glyph.
  int Layout(const FontSpec& spec, std::string_view sjis, bool mono, const Resolved** res,
             std::vector<Placed>* placed) {
    const int cell = std::min(spec.height, kMaxTextHeight);
    if (cell <= 0 || sjis.empty()) return 0;
    const Resolved& r = Resolve(spec);
    if (res) *res = &r;
    if (glyphBytes > kGlyphCacheBytes) {  // only here: no glyph pointer is held between calls
      glyphs.clear();
      glyphBytes = 0;
    }
    int pen = 0;
    for (char32_t cp : Decode(sjis)) {
      const Glyph* g = GetGlyph(r, cell, cp, mono);
      if (!g) continue;
      if (placed) placed->push_back({g, pen, cp});
      pen += g->advance;
    }
    return pen;
  }
};

FontRaster::FontRaster() : impl_(std::make_unique<Impl>()) {}
FontRaster::~FontRaster() = default;

int FontRaster::TextWidth(const FontSpec& f, std::string_view sjis) {
  return impl_->Layout(f, sjis, false, nullptr, nullptr);
}

int FontRaster::TextHeight(const FontSpec& f) {
  return std::clamp(f.height, 0, kMaxTextHeight);
}

int FontRaster::DrawMono(Bitmap1& dst, int x, int y, const FontSpec& f, std::string_view sjis) {
  std::vector<Impl::Placed> placed;
  const Impl::Resolved* r = nullptr;
  const int width = impl_->Layout(f, sjis, true, &r, &placed);
  if (!r) return width;
  const int base = y + impl_->Baseline(*r, TextHeight(f));
  for (const Impl::Placed& p : placed) {
    const Impl::Glyph& g = *p.glyph;
    const int gx = x + p.x + g.left, gy = base - g.top;
    const int x0 = std::max(0, -gx), x1 = std::min(g.width, dst.width - gx);
    const int y0 = std::max(0, -gy), y1 = std::min(g.height, dst.height - gy);
    for (int j = y0; j < y1; ++j) {
      const std::uint8_t* cov = g.coverage.data() + static_cast<size_t>(j) * g.width;
      std::uint8_t* row = dst.Row(gy + j);
      for (int i = x0; i < x1; ++i) {
        if (cov[i] < 128) continue;
        const int px = gx + i;
        row[px >> 3] |= static_cast<std::uint8_t>(0x80 >> (px & 7));
      }
    }
  }
  return width;
}

int FontRaster::Draw32(Bitmap32& dst, int x, int y, const FontSpec& f, std::string_view sjis,
                       std::uint32_t colour) {
  return DrawText32(dst, x, y, f, sjis, colour, false);
}

int FontRaster::Redraw32(Bitmap32& dst, int x, int y, const FontSpec& f, std::string_view sjis,
                         std::uint32_t colour) {
  return DrawText32(dst, x, y, f, sjis, colour, true);
}

void FontRaster::ForgetLastDrawn() {
  last_.dst = nullptr;
}

namespace {

bool SameFont(const FontSpec& a, const FontSpec& b) {
  return a.face == b.face && a.height == b.height && a.bold == b.bold && a.italic == b.italic;
}

}  // namespace

int FontRaster::DrawText32(Bitmap32& dst, int x, int y, const FontSpec& f, std::string_view sjis,
                           std::uint32_t colour, bool keepSame) {
  std::vector<Impl::Placed> placed;
  const Impl::Resolved* r = nullptr;
  const int width = impl_->Layout(f, sjis, false, &r, &placed);
  drawn_ = {};
  if (!r) {
    last_.dst = nullptr;
    return width;
  }
  const int cell = TextHeight(f);
  const int baseline = impl_->Baseline(*r, cell);
  // The band (the cells, width x cell height) is cleared and takes the glyphs over black; ink
  // outside it is blended again over what is there at every drawing. So where each character's
  // ink stays in its own cell, the characters that are still those drawn last, where they were,
  // need only their ink outside the band blended again.
  const bool ownCells = Impl::InkInOwnCells(placed, width, cell, baseline);
  size_t from = 0;
  if (keepSame && ownCells && last_.ownCells && last_.dst == &dst && last_.x == x && last_.y == y &&
      last_.colour == colour && SameFont(last_.font, f)) {
    while (from < placed.size() && from < last_.glyphs.size() &&
           last_.glyphs[from] == std::pair<char32_t, int>{placed[from].cp, placed[from].x})
      ++from;
  }
  last_.dst = &dst;
  last_.x = x;
  last_.y = y;
  last_.colour = colour;
  last_.font = f;
  last_.ownCells = ownCells;
  last_.glyphs.clear();
  for (const Impl::Placed& p : placed) last_.glyphs.emplace_back(p.cp, p.x);

  Box box;
  const auto grow = [&box](int l, int t, int r, int b) {
    if (l >= r || t >= b) return;
    const bool empty = box.left >= box.right;
    box.left = empty ? l : std::min(box.left, l), box.right = empty ? r : std::max(box.right, r);
    box.top = empty ? t : std::min(box.top, t), box.bottom = empty ? b : std::max(box.bottom, b);
  };
  const int cleared = x + (from < placed.size() ? placed[from].x : width);
  grow(std::max(0, cleared), std::max(0, y), std::min(dst.width, x + width),
       std::min(dst.height, y + cell));
  // Opaque background: the cell rectangle is black before any ink goes on.
  for (int j = std::max(0, y); j < std::min(dst.height, y + cell); ++j) {
    std::uint32_t* row = dst.Row(j);
    for (int i = std::max(0, cleared); i < std::min(dst.width, x + width); ++i) row[i] = 0;
  }
  const Impl::InkPass ink{x, y, x + width, y + cell, colour, impl_->InkOverBlack(colour)};
  const int base = y + baseline;
  for (size_t k = 0; k < placed.size(); ++k) {
    const Impl::Glyph& g = *placed[k].glyph;
    const int gx = x + placed[k].x + g.left, gy = base - g.top;
    const bool kept = k < from;
    if (!kept) {
      grow(std::max(gx, 0), std::max(gy, 0), std::min(gx + g.width, dst.width),
           std::min(gy + g.height, dst.height));
    }
    Impl::BlendGlyph(dst, g, gx, gy, ink, kept, grow);
  }
  drawn_ = box;
  return width;
}

std::string FontRaster::SystemFaceFamily(const std::string& face) {
  if (FoldName(face).empty() || AliasOf(face) == Alias::kNone) return {};
  FoundFace found;
  return FindFace(face, false, false, &found) ? found.family : std::string();
}

std::vector<std::string> FontRaster::JapaneseFamilies() {
  std::vector<std::string> out;
  FcPattern* pat = FcPatternCreate();
  FcObjectSet* os = FcObjectSetBuild(FC_FAMILY, nullptr);
  if (pat && os) {
    FcPatternAddString(pat, FC_LANG, reinterpret_cast<const FcChar8*>("ja"));
    FcPatternAddBool(pat, FC_OUTLINE, FcTrue);
    if (FcFontSet* set = FcFontList(nullptr, pat, os)) {
      for (int i = 0; i < set->nfont; ++i) {
        FcChar8* s = nullptr;
        if (FcPatternGetString(set->fonts[i], FC_FAMILY, 0, &s) == FcResultMatch)
          out.emplace_back(reinterpret_cast<const char*>(s));
      }
      FcFontSetDestroy(set);
    }
  }
  if (os) FcObjectSetDestroy(os);
  if (pat) FcPatternDestroy(pat);
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}
