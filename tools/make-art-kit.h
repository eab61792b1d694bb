// A small drawing kit shared by the artwork tools: a supersampled canvas with filled shapes,
// anti-aliased FreeType text, a tiny ray-marched head model, and PNG contact sheets.
#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "render/Bitmap.h"
#include "render/Picture.h"
#include "tools/BmpEncoder.h"

namespace art {

struct Rgb {
  float r = 0, g = 0, b = 0;
};
inline Rgb Hex(std::uint32_t v) {
  return {float((v >> 16) & 255), float((v >> 8) & 255), float(v & 255)};
}
inline Rgb Mix(Rgb a, Rgb b, float t) {
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}
inline Rgb Scale(Rgb a, float k) {
  return {a.r * k, a.g * k, a.b * k};
}
inline float Clamp01(float v) {
  return std::clamp(v, 0.0f, 1.0f);
}
inline std::uint32_t Pack(Rgb c) {
  auto q = [](float v) { return std::uint32_t(std::clamp(int(std::lround(v)), 0, 255)); };
  return (q(c.r) << 16) | (q(c.g) << 8) | q(c.b);
}
inline Rgb Unpack(std::uint32_t v) {
  return Hex(v);
}

constexpr const char* kSans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr const char* kSansBold = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
constexpr const char* kSansCond = "/usr/share/fonts/truetype/dejavu/DejaVuSansCondensed-Bold.ttf";
constexpr const char* kSerif = "/usr/share/fonts/truetype/dejavu/DejaVuSerif.ttf";
constexpr const char* kSerifBold = "/usr/share/fonts/truetype/dejavu/DejaVuSerif-Bold.ttf";
constexpr const char* kSerifItalic = "/usr/share/fonts/truetype/dejavu/DejaVuSerif-Italic.ttf";
constexpr const char* kMono = "/usr/share/fonts/truetype/dejavu/DejaVuSansMono-Bold.ttf";
// Japanese text (fonts-ipafont-gothic).
constexpr const char* kGothic = "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf";

// A canvas sampled kSub x kSub times per pixel. Shapes are given in pixel units. Samples that
// no shape touched stay "background", so a picture with a keyed background colour can be
// resolved with hard outer edges (no blended fringe that would escape the transparency key).
class Canvas {
 public:
  static constexpr int kSub = 4;
  Canvas(int w, int h, Rgb bg)
      : w_(w),
        h_(h),
        px_(size_t(w * kSub) * size_t(h * kSub), bg),
        touched_(px_.size(), 0),
        bg_(bg) {}
  int Width() const { return w_; }
  int Height() const { return h_; }

  // Paints every sample whose centre satisfies `inside`, with `colour(x, y)` at opacity `alpha`.
  void Fill(float x0, float y0, float x1, float y1, const std::function<bool(float, float)>& inside,
            const std::function<Rgb(float, float)>& colour, float alpha = 1.0f) {
    const int sx0 = std::max(0, int(std::floor(x0 * kSub)));
    const int sy0 = std::max(0, int(std::floor(y0 * kSub)));
    const int sx1 = std::min(w_ * kSub, int(std::ceil(x1 * kSub)));
    const int sy1 = std::min(h_ * kSub, int(std::ceil(y1 * kSub)));
    for (int sy = sy0; sy < sy1; ++sy) {
      const float y = (sy + 0.5f) / kSub;
      for (int sx = sx0; sx < sx1; ++sx) {
        const float x = (sx + 0.5f) / kSub;
        if (!inside(x, y)) continue;
        const size_t i = size_t(sy) * size_t(w_ * kSub) + size_t(sx);
        px_[i] = Mix(px_[i], colour(x, y), alpha);
        touched_[i] = 1;
      }
    }
  }
  void All(const std::function<Rgb(float, float)>& colour) {
    Fill(
        0, 0, float(w_), float(h_), [](float, float) { return true; }, colour);
  }
  void Ellipse(float cx, float cy, float rx, float ry, const std::function<Rgb(float, float)>& c,
               float alpha = 1.0f) {
    Fill(
        cx - rx, cy - ry, cx + rx, cy + ry,
        [=](float x, float y) {
          const float dx = (x - cx) / rx, dy = (y - cy) / ry;
          return dx * dx + dy * dy <= 1.0f;
        },
        c, alpha);
  }
  void Ellipse(float cx, float cy, float rx, float ry, Rgb c, float alpha = 1.0f) {
    Ellipse(
        cx, cy, rx, ry, [c](float, float) { return c; }, alpha);
  }
  void RoundRect(float x0, float y0, float x1, float y1, float rad,
                 const std::function<Rgb(float, float)>& c, float alpha = 1.0f) {
    Fill(
        x0, y0, x1, y1,
        [=](float x, float y) {
          const float dx = std::max({x0 + rad - x, 0.0f, x - (x1 - rad)});
          const float dy = std::max({y0 + rad - y, 0.0f, y - (y1 - rad)});
          return dx * dx + dy * dy <= rad * rad;
        },
        c, alpha);
  }
  void RoundRect(float x0, float y0, float x1, float y1, float rad, Rgb c, float alpha = 1.0f) {
    RoundRect(
        x0, y0, x1, y1, rad, [c](float, float) { return c; }, alpha);
  }
  // A convex or concave polygon (even-odd rule).
  void Polygon(const std::vector<std::pair<float, float>>& pts,
               const std::function<Rgb(float, float)>& c, float alpha = 1.0f) {
    float x0 = 1e9f, y0 = 1e9f, x1 = -1e9f, y1 = -1e9f;
    for (auto& p : pts) {
      x0 = std::min(x0, p.first), x1 = std::max(x1, p.first);
      y0 = std::min(y0, p.second), y1 = std::max(y1, p.second);
    }
    Fill(
        x0, y0, x1, y1,
        [&pts](float x, float y) {
          bool in = false;
          for (size_t i = 0, j = pts.size() - 1; i < pts.size(); j = i++) {
            const auto& a = pts[i];
            const auto& b = pts[j];
            if ((a.second > y) != (b.second > y) &&
                x < (b.first - a.first) * (y - a.second) / (b.second - a.second) + a.first)
              in = !in;
          }
          return in;
        },
        c, alpha);
  }
  void Polygon(const std::vector<std::pair<float, float>>& pts, Rgb c, float alpha = 1.0f) {
    Polygon(
        pts, [c](float, float) { return c; }, alpha);
  }
  // A stroke with round ends, `width` pixels wide.
  void Line(float ax, float ay, float bx, float by, float width, Rgb c, float alpha = 1.0f) {
    const float r = width / 2;
    Fill(
        std::min(ax, bx) - r, std::min(ay, by) - r, std::max(ax, bx) + r, std::max(ay, by) + r,
        [=](float x, float y) {
          const float vx = bx - ax, vy = by - ay;
          const float len2 = vx * vx + vy * vy;
          float t = len2 > 0 ? ((x - ax) * vx + (y - ay) * vy) / len2 : 0;
          t = Clamp01(t);
          const float dx = x - (ax + t * vx), dy = y - (ay + t * vy);
          return dx * dx + dy * dy <= r * r;
        },
        [c](float, float) { return c; }, alpha);
  }

  // Averages the samples. With `keyed`, a pixel with fewer than half of its samples touched is
  // exactly the background colour and the others average only their touched samples.
  Bitmap32 Resolve(bool keyed = false) const {
    Bitmap32 out;
    out.Create(w_, h_);
    for (int y = 0; y < h_; ++y) {
      for (int x = 0; x < w_; ++x) {
        Rgb sum{};
        int n = 0, all = 0;
        for (int sy = 0; sy < kSub; ++sy) {
          for (int sx = 0; sx < kSub; ++sx) {
            const size_t i = size_t(y * kSub + sy) * size_t(w_ * kSub) + size_t(x * kSub + sx);
            ++all;
            if (keyed && !touched_[i]) continue;
            sum.r += px_[i].r, sum.g += px_[i].g, sum.b += px_[i].b;
            ++n;
          }
        }
        if (keyed && n * 2 < all) {
          out.Row(y)[x] = Pack(bg_);
        } else {
          out.Row(y)[x] = Pack(Scale(sum, 1.0f / float(n)));
        }
      }
    }
    return out;
  }

 private:
  int w_, h_;
  std::vector<Rgb> px_;
  std::vector<std::uint8_t> touched_;
  Rgb bg_;
};

// Anti-aliased text drawn straight into a 32-bit picture with FreeType.
class Text {
 public:
  Text() { FT_Init_FreeType(&lib_); }
  ~Text() {
    for (auto& f : faces_) FT_Done_Face(f.second);
    FT_Done_FreeType(lib_);
  }
  Text(const Text&) = delete;
  Text& operator=(const Text&) = delete;

  // Width in pixels of `s` (UTF-8) at `px` pixels per em with `spacing` extra pixels per letter.
  int Width(const char* font, int px, const std::string& s, float spacing = 0) {
    FT_Face f = Face(font, px);
    if (!f) return 0;
    float w = 0;
    const auto cps = Decode(s);
    for (size_t i = 0; i < cps.size(); ++i) {
      if (FT_Load_Char(f, cps[i], FT_LOAD_DEFAULT) != 0) continue;
      w += float(f->glyph->advance.x) / 64.0f + (i + 1 < cps.size() ? spacing : 0);
    }
    return int(std::lround(w));
  }
  // Draws with the baseline at `baseline`; `colour(x, y)` gives the ink colour per pixel.
  void Draw(Bitmap32& dst, const char* font, int px, float x, int baseline, const std::string& s,
            const std::function<Rgb(int, int)>& colour, float spacing = 0, float alpha = 1) {
    FT_Face f = Face(font, px);
    if (!f) return;
    for (char32_t cp : Decode(s)) {
      if (FT_Load_Char(f, cp, FT_LOAD_RENDER) != 0) continue;
      const FT_GlyphSlot g = f->glyph;
      const int gx = int(std::lround(x)) + g->bitmap_left, gy = baseline - g->bitmap_top;
      for (unsigned r = 0; r < g->bitmap.rows; ++r) {
        const int y = gy + int(r);
        if (y < 0 || y >= dst.height) continue;
        for (unsigned c = 0; c < g->bitmap.width; ++c) {
          const int xx = gx + int(c);
          if (xx < 0 || xx >= dst.width) continue;
          const float a = alpha * g->bitmap.buffer[r * unsigned(g->bitmap.pitch) + c] / 255.0f;
          if (a <= 0) continue;
          std::uint32_t& p = dst.Row(y)[xx];
          p = Pack(Mix(Unpack(p), colour(xx, y), a));
        }
      }
      x += float(g->advance.x) / 64.0f + spacing;
    }
  }
  void Draw(Bitmap32& dst, const char* font, int px, float x, int baseline, const std::string& s,
            Rgb colour, float spacing = 0, float alpha = 1) {
    Draw(
        dst, font, px, x, baseline, s, [colour](int, int) { return colour; }, spacing, alpha);
  }
  void Centred(Bitmap32& dst, const char* font, int px, float cx, int baseline,
               const std::string& s, Rgb colour, float spacing = 0) {
    Draw(dst, font, px, cx - Width(font, px, s, spacing) / 2.0f, baseline, s, colour, spacing);
  }

 private:
  FT_Face Face(const char* font, int px) {
    for (auto& f : faces_)
      if (f.first == font) {
        FT_Set_Pixel_Sizes(f.second, 0, FT_UInt(px));
        return f.second;
      }
    FT_Face face = nullptr;
    if (FT_New_Face(lib_, font, 0, &face) != 0) {
      std::fprintf(stderr, "cannot open %s\n", font);
      return nullptr;
    }
    faces_.emplace_back(font, face);
    FT_Set_Pixel_Sizes(face, 0, FT_UInt(px));
    return face;
  }
  static std::vector<char32_t> Decode(const std::string& s) {
    std::vector<char32_t> out;
    for (size_t i = 0; i < s.size();) {
      const unsigned char c = static_cast<unsigned char>(s[i]);
      int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
      char32_t cp = n == 1 ? c : n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
      for (int k = 1; k < n && i + size_t(k) < s.size(); ++k)
        cp = (cp << 6) | (static_cast<unsigned char>(s[i + size_t(k)]) & 0x3F);
      out.push_back(cp);
      i += size_t(n);
    }
    return out;
  }
  FT_Library lib_ = nullptr;
  std::vector<std::pair<std::string, FT_Face>> faces_;
};

// The picture cut to the box of its non-black pixels plus `margin` on every side (black), with
// an even width and height, so that it turns and splits about its true centre.
inline Bitmap32 CropToInk(const Bitmap32& b, int margin) {
  int x0 = b.width, y0 = b.height, x1 = -1, y1 = -1;
  for (int y = 0; y < b.height; ++y)
    for (int x = 0; x < b.width; ++x)
      if (b.Row(y)[x] != 0)
        x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
  Bitmap32 out;
  if (x1 < 0) {
    out.Create(2, 2, 0);
    return out;
  }
  const int w = x1 - x0 + 1 + 2 * margin, h = y1 - y0 + 1 + 2 * margin;
  out.Create(w + (w & 1), h + (h & 1), 0);
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x) out.Row(y - y0 + margin)[x - x0 + margin] = b.Row(y)[x];
  return out;
}

// Lays pictures out side by side, each enlarged by `zoom`, on grey: the sheet to look at.
inline int WriteContactSheet(const std::string& path, const std::vector<const Bitmap32*>& pics,
                             int zoom) {
  int w = 8, h = 0;
  for (auto* p : pics) w += p->width * zoom + 8, h = std::max(h, p->height * zoom);
  Bitmap32 sheet;
  sheet.Create(w, h + 16, 0x606060);
  int x = 8;
  for (auto* p : pics) {
    for (int y = 0; y < p->height * zoom; ++y)
      for (int xx = 0; xx < p->width * zoom; ++xx)
        sheet.Row(8 + y)[x + xx] = p->Row(y / zoom)[xx / zoom];
    x += p->width * zoom + 8;
  }
  return WritePng(path, sheet);
}

inline int SaveBmp(const std::string& path, const Bitmap32& bmp, int bits) {
  std::vector<std::uint8_t> bytes;
  if (EncodeBmp(bmp, bits, &bytes) != 0) {
    std::fprintf(stderr, "%s: cannot encode at %d bits\n", path.c_str(), bits);
    return -1;
  }
  return WriteFileBytes(path.c_str(), bytes);
}

}  // namespace art
