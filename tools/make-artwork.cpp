// Draws every built-in picture except DEFAULTFONT and NOTFOUND (the logo, the speed badge, the
// preview backdrop and marchers, the dialog pictures and the turning heads) and writes them as
// BMP files.
//
// Regenerate with:
//   ninja -C build tool_make-artwork && build/tool_make-artwork resources [SHEETDIR]
// With SHEETDIR, enlarged PNG contact sheets of all pictures are written there to look at.
// Everything is drawn from shapes, a small ray-marched head model and DejaVu text
// (fonts-dejavu-core); nothing is read but the fonts.
#include <array>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/make-art-kit.h"

using art::Canvas;
using art::Hex;
using art::Mix;
using art::Rgb;
using art::Scale;

namespace {

constexpr float kPi = 3.14159265f;

// ---------------------------------------------------------------- the head model
struct V3 {
  float x, y, z;
};
V3 operator+(V3 a, V3 b) {
  return {a.x + b.x, a.y + b.y, a.z + b.z};
}
V3 operator-(V3 a, V3 b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}
V3 operator*(V3 a, float k) {
  return {a.x * k, a.y * k, a.z * k};
}
float Dot(V3 a, V3 b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}
float Len(V3 a) {
  return std::sqrt(Dot(a, a));
}
V3 Norm(V3 a) {
  return a * (1.0f / Len(a));
}

float Ellipsoid(V3 p, V3 c, V3 r) {
  const V3 q = p - c;
  const float k0 = Len({q.x / r.x, q.y / r.y, q.z / r.z});
  const float k1 = Len({q.x / (r.x * r.x), q.y / (r.y * r.y), q.z / (r.z * r.z)});
  return k1 > 0 ? k0 * (k0 - 1) / k1 : -std::min({r.x, r.y, r.z});
}
float Capsule(V3 p, V3 a, V3 b, float r) {
  const V3 pa = p - a, ba = b - a;
  const float h = art::Clamp01(Dot(pa, ba) / Dot(ba, ba));
  return Len(pa - ba * h) - r;
}
float SmoothMin(float a, float b, float k) {
  const float h = art::Clamp01(0.5f + 0.5f * (b - a) / k);
  return b + (a - b) * h - k * h * (1 - h);
}

struct HeadStyle {
  Rgb skin = Hex(0xE8B896);
  Rgb hair = Hex(0x4A2E1C);
  Rgb shirt = Hex(0x3C6EA8);
  Rgb iris = Hex(0x30405A);
  float eyeRadius = 0.105f;
  float pupilCos = 0.93f;  // the iris covers the eye where its direction is within this cone
  float mouthOpen = 0.0f;  // 0 closed lips; up to 1 a round open mouth
  float browLift = 0.0f;
  float hairBack = 0.0f;  // longer hair at the back
  bool glasses = false;
};

enum Material { kSkin, kHair, kEye, kShirt, kNone };

struct Hit {
  float d;
  Material m;
};

Hit HeadField(V3 p, const HeadStyle& s) {
  float skin = Ellipsoid(p, {0, 0.12f, 0}, {0.64f, 0.86f, 0.9f});
  skin = SmoothMin(skin, Ellipsoid(p, {0, -0.34f, 0.28f}, {0.46f, 0.54f, 0.62f}), 0.2f);
  skin = SmoothMin(skin, Ellipsoid(p, {0, -0.06f, 0.9f}, {0.11f, 0.2f, 0.22f}), 0.06f);
  for (float sx : {-1.0f, 1.0f})
    skin = SmoothMin(skin, Ellipsoid(p, {sx * 0.64f, 0.0f, -0.04f}, {0.09f, 0.19f, 0.12f}), 0.05f);
  skin = SmoothMin(skin, Capsule(p, {0, -0.6f, -0.1f}, {0, -1.3f, -0.12f}, 0.33f), 0.15f);
  const float hairShell = Ellipsoid(p, {0, 0.2f, -0.04f}, {0.7f, 0.9f, 0.96f + s.hairBack});
  // The hairline runs from the forehead over the temples, above the ears, down to the nape.
  auto step = [](float a, float b, float v) {
    const float t = art::Clamp01((v - a) / (b - a));
    return t * t * (3 - 2 * t);
  };
  const float hairline =
      -0.5f - 0.2f * s.hairBack + 0.72f * step(-0.4f, -0.05f, p.z) + 0.22f * step(0.35f, 0.7f, p.z);
  const float hair = std::max(hairShell, (hairline - p.y) * 0.8f);
  float eye = 1e9f;
  for (float sx : {-1.0f, 1.0f})
    eye = std::min(eye, Len(p - V3{sx * 0.24f, 0.1f, 0.77f}) - s.eyeRadius);
  const float shirt = Ellipsoid(p, {0, -1.52f, -0.12f}, {1.15f, 0.42f, 0.62f});
  Hit h{skin, kSkin};
  if (hair < h.d) h = {hair, kHair};
  if (eye < h.d) h = {eye, kEye};
  if (shirt < h.d) h = {shirt, kShirt};
  return h;
}

// Surface colour of a hit, with the painted details (brows, lips, irises, glasses).
Rgb Albedo(V3 p, Material m, const HeadStyle& s) {
  if (m == kHair) {
    const float streak = 0.9f + 0.1f * std::sin(p.x * 40.0f + p.z * 25.0f);
    return Scale(s.hair, streak);
  }
  if (m == kShirt) return s.shirt;
  if (m == kEye) {
    const float side = p.x < 0 ? -1.0f : 1.0f;
    const V3 dir = Norm(p - V3{side * 0.24f, 0.1f, 0.77f});
    if (dir.z > s.pupilCos + 0.04f) return Hex(0x101014);
    if (dir.z > s.pupilCos) return s.iris;
    return Hex(0xF4F2EE);
  }
  if (p.z > 0.3f) {
    const float ax = std::fabs(p.x);
    // Brows: short arcs above the eyes.
    const float browY = 0.28f + s.browLift + 0.03f * (1.0f - std::fabs(ax - 0.25f) * 8.0f);
    if (ax > 0.13f && ax < 0.38f && std::fabs(p.y - browY) < 0.03f) return Scale(s.hair, 0.8f);
    // Mouth: lips, or a dark round opening.
    const float my = -0.4f;
    const float mw = 0.17f - 0.05f * s.mouthOpen, mh = 0.025f + 0.1f * s.mouthOpen;
    const float e = (p.x / mw) * (p.x / mw) + ((p.y - my) / mh) * ((p.y - my) / mh);
    if (e < 1.0f) return s.mouthOpen > 0 ? Hex(0x5A1E1E) : Hex(0xB8605A);
    if (s.glasses) {
      for (float sx : {-0.25f, 0.25f}) {
        const float r = std::hypot(p.x - sx, p.y - 0.1f);
        if (std::fabs(r - 0.16f) < 0.022f) return Hex(0x2A2A30);
      }
      if (ax < 0.09f && std::fabs(p.y - 0.13f) < 0.02f) return Hex(0x2A2A30);
    }
  }
  return s.skin;
}

// One ray-marched sample; false when the ray misses. `yaw` turns the head (radians).
bool TraceHead(float u, float v, float yaw, float pitch, const HeadStyle& s, Rgb* out) {
  const V3 eye{0, 0, 7.0f};
  V3 dir = Norm(V3{u, v, -7.0f});
  const float cy = std::cos(yaw), sy = std::sin(yaw), cp = std::cos(pitch), sp = std::sin(pitch);
  auto toLocal = [&](V3 w) {
    V3 a{w.x * cy + w.z * sy, w.y, -w.x * sy + w.z * cy};
    return V3{a.x, a.y * cp - a.z * sp, a.y * sp + a.z * cp};
  };
  auto toWorldDir = [&](V3 l) {
    V3 a{l.x, l.y * cp + l.z * sp, -l.y * sp + l.z * cp};
    return V3{a.x * cy - a.z * sy, a.y, a.x * sy + a.z * cy};
  };
  float t = 4.5f;
  for (int i = 0; i < 160 && t < 10.0f; ++i) {
    const V3 p = toLocal(eye + dir * t);
    const Hit h = HeadField(p, s);
    if (h.d < 0.002f) {
      const float e = 0.003f;
      const V3 n = Norm(V3{HeadField(p + V3{e, 0, 0}, s).d - HeadField(p - V3{e, 0, 0}, s).d,
                           HeadField(p + V3{0, e, 0}, s).d - HeadField(p - V3{0, e, 0}, s).d,
                           HeadField(p + V3{0, 0, e}, s).d - HeadField(p - V3{0, 0, e}, s).d});
      const V3 nw = toWorldDir(n);
      const V3 light = Norm(V3{-0.55f, 0.6f, 0.75f});
      const float diff = std::max(0.0f, Dot(nw, light));
      const float rim = std::pow(1.0f - std::max(0.0f, nw.z), 3.0f) * 0.35f;
      const V3 half = Norm(light + V3{0, 0, 1});
      const float spec = std::pow(std::max(0.0f, Dot(nw, half)), h.m == kEye ? 60.0f : 24.0f) *
                         (h.m == kEye    ? 0.8f
                          : h.m == kHair ? 0.25f
                                         : 0.12f);
      const Rgb a = Albedo(p, h.m, s);
      Rgb c = Scale(a, 0.22f + 0.85f * diff);
      c = Mix(c, Hex(0xFFF4E0), spec);
      c = Mix(c, Hex(0x8090B0), rim);
      *out = c;
      return true;
    }
    t += std::max(h.d * 0.7f, 0.002f);
  }
  return false;
}

// Renders the head into a w x h picture; `scale` is head units per picture height, (ox, oy)
// the picture point of the head's origin. Missed samples are `bg`; with `keyed` a pixel is the
// background unless most of its samples hit.
Bitmap32 RenderHead(int w, int h, float scale, float ox, float oy, float yaw, float pitch,
                    const HeadStyle& s, Rgb bg, bool keyed) {
  constexpr int kSub = 3;
  Bitmap32 out;
  out.Create(w, h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      Rgb sum{};
      int hits = 0;
      for (int j = 0; j < kSub; ++j) {
        for (int i = 0; i < kSub; ++i) {
          const float px = x + (i + 0.5f) / kSub, py = y + (j + 0.5f) / kSub;
          Rgb c;
          if (TraceHead((px - ox) * scale / h, (oy - py) * scale / h, yaw, pitch, s, &c)) {
            sum.r += c.r, sum.g += c.g, sum.b += c.b;
            ++hits;
          } else if (!keyed) {
            sum.r += bg.r, sum.g += bg.g, sum.b += bg.b;
          }
        }
      }
      if (keyed) {
        out.Row(y)[x] = hits * 2 < kSub * kSub ? art::Pack(bg) : art::Pack(Scale(sum, 1.0f / hits));
      } else {
        out.Row(y)[x] = art::Pack(Scale(sum, 1.0f / (kSub * kSub)));
      }
    }
  }
  return out;
}

// ---------------------------------------------------------------- shading helpers
// A cylinder lit from the upper left: `x` across a part centred at `cx` with half width `hw`.
Rgb Round(Rgb c, float x, float cx, float hw) {
  const float t = std::clamp((x - cx) / hw, -1.0f, 1.0f);
  const float lit = 0.55f + 0.45f * std::cos((t + 0.35f) * kPi * 0.5f);
  return Scale(c, lit);
}
std::function<Rgb(float, float)> Rounded(Rgb c, float cx, float hw) {
  return [=](float x, float) { return Round(c, x, cx, hw); };
}
std::function<Rgb(float, float)> VGrad(Rgb top, Rgb bottom, float y0, float y1) {
  return [=](float, float y) { return Mix(top, bottom, art::Clamp01((y - y0) / (y1 - y0))); };
}

// ---------------------------------------------------------------- the logo pictures
void Sparkle(Canvas& c, float cx, float cy, float len, Rgb col) {
  for (int k = 0; k < 2; ++k) {
    c.Fill(
        cx - len, cy - len, cx + len, cy + len,
        [=](float x, float y) {
          const float dx = std::fabs(x - cx), dy = std::fabs(y - cy);
          const float a = k == 0 ? dx : dy, b = k == 0 ? dy : dx;
          return a < len && b < 1.2f * (1.0f - a / len) + 0.15f;
        },
        [=](float, float) { return col; });
  }
  c.Ellipse(cx, cy, 2.4f, 2.4f, Hex(0xFFFFFF));
}

Bitmap32 MakeLogoMark() {
  const int n = 220;
  const float cx = n / 2.0f, cy = n / 2.0f, rOut = 92, rIn = 78;
  Canvas c(n, n, Hex(0));
  // A faint amber halo around the ring.
  c.All([=](float x, float y) {
    const float r = std::hypot(x - cx, y - cy);
    const float g = std::exp(-std::pow((r - rOut + 4) / 14.0f, 2.0f)) * 0.35f;
    return Scale(Hex(0xFF9A20), g);
  });
  // The disc: a night sky over a plane of lines that recede to a bright point.
  const float vy = cy - 10;
  c.Ellipse(cx, cy, rIn, rIn, [=](float x, float y) {
    if (y < vy)
      return Mix(Hex(0x06081A), Hex(0x1A1640), art::Clamp01((y - (cy - rIn)) / (vy - cy + rIn)));
    const float depth = 30.0f / (y - vy + 0.8f);
    const float stripe = std::fmod(depth * 6.0f, 1.0f);
    const float fade = art::Clamp01((y - vy) / 50.0f);
    const float cross =
        std::fabs(std::fmod((x - cx) / (y - vy + 0.8f) * 3.0f + 100.5f, 1.0f) - 0.5f);
    Rgb base = Mix(Hex(0x1A1640), Hex(0x2A1006), fade);
    if (stripe < 0.32f || cross < 0.06f) base = Mix(base, Hex(0xFFB030), 0.25f + 0.65f * fade);
    return base;
  });
  // Glow at the vanishing point and two small stars.
  c.Ellipse(
      cx, vy, 40, 14,
      [=](float x, float y) {
        const float d = std::hypot((x - cx) / 40.0f, (y - vy) / 14.0f);
        return Mix(Hex(0xFFE0A0), Hex(0x000000), art::Clamp01(d));
      },
      0.5f);
  Sparkle(c, cx, vy, 16, Hex(0xFFF4D8));
  Sparkle(c, cx - 38, cy - 44, 6, Hex(0xC8D0FF));
  Sparkle(c, cx + 30, cy - 52, 4, Hex(0xC8D0FF));
  // The ring, lit from the top.
  c.Fill(
      cx - rOut, cy - rOut, cx + rOut, cy + rOut,
      [=](float x, float y) {
        const float r = std::hypot(x - cx, y - cy);
        return r >= rIn - 0.5f && r <= rOut;
      },
      [=](float x, float y) {
        const float r = std::hypot(x - cx, y - cy);
        const float a = (y - cy) / rOut;
        const float bevel = std::sin((r - rIn) / (rOut - rIn) * kPi);
        Rgb col = Mix(Hex(0xFFE28A), Hex(0xE0560A), art::Clamp01(0.5f + a * 0.6f));
        return Scale(col, 0.55f + 0.5f * bevel);
      });
  // A notch in the ring where the plane meets it, so the mark reads as an open eye / horizon.
  c.Fill(
      cx - rOut - 1, vy - 1.6f, cx + rOut + 1, vy + 1.6f,
      [=](float x, float) { return std::fabs(x - cx) > rIn - 2; },
      [](float, float) { return Hex(0xFFF4D8); });
  return c.Resolve();
}

Bitmap32 MakeWordMark(art::Text& text) {
  const int w = 470, h = 120;
  Bitmap32 b;
  b.Create(w, h, 0);
  const std::string word = "ONDRELIX";
  const int px = 72;
  const float spacing = 7;
  const int tw = text.Width(art::kSansBold, px, word, spacing);
  const float x0 = (w - tw) / 2.0f;
  const int base = 78;
  // A soft orange shadow a little below, then the letters in a gold-to-orange gradient.
  text.Draw(b, art::kSansBold, px, x0 + 2, base + 3, word, Hex(0x5A1800), spacing);
  text.Draw(
      b, art::kSansBold, px, x0, base, word,
      [&](int, int y) {
        const float t = art::Clamp01(float(y - (base - 54)) / 56.0f);
        Rgb c = Mix(Hex(0xFFF0B0), Hex(0xFFB020), std::min(1.0f, t * 1.6f));
        if (t > 0.6f) c = Mix(Hex(0xFFB020), Hex(0xE04A08), (t - 0.6f) / 0.4f);
        if (std::abs(y - (base - 30)) < 1) c = Mix(c, Hex(0xFFFFFF), 0.35f);
        return c;
      },
      spacing);
  // A rule fading toward its ends, and the tag line.
  for (int x = 20; x < w - 20; ++x) {
    const float t = 1.0f - std::fabs(x - w / 2.0f) / (w / 2.0f - 20);
    b.Row(base + 12)[x] = art::Pack(Scale(Hex(0xFFB030), t * t));
  }
  text.Centred(b, art::kSans, 13, w / 2.0f, base + 32, "SCRIPTED  ANIMATION  SAVER", Hex(0xD8C8A8),
               3);
  return b;
}

// ---------------------------------------------------------------- the speed badge
Bitmap32 MakeLowPower(art::Text& text) {
  const int w = 69, h = 14;
  Canvas c(w, h, Hex(0));
  c.RoundRect(0, 0, w, h, 3, Hex(0x701010));
  c.RoundRect(1, 1, w - 1, h - 1, 2.5f, VGrad(Hex(0xF03A2A), Hex(0xB01414), 1, h - 1));
  Bitmap32 b = c.Resolve();
  text.Centred(b, art::kSansCond, 9, w / 2.0f, 10, "LOW POWER", Hex(0xFFFFFF), 0.3f);
  // 16 colours: black, the reds of the box, and a ramp from red to white for the letters.
  std::vector<Rgb> pal = {Hex(0x000000), Hex(0x701010), Hex(0xB01414), Hex(0xC8201A),
                          Hex(0xE0301F), Hex(0xF03A2A), Hex(0x400808)};
  for (int k = 1; k <= 9; ++k) pal.push_back(Mix(Hex(0xD02418), Hex(0xFFFFFF), k / 9.0f));
  for (auto& p : b.pixels) {
    const Rgb v = art::Unpack(p);
    size_t best = 0;
    float bd = 1e9f;
    for (size_t i = 0; i < pal.size(); ++i) {
      const float d = (v.r - pal[i].r) * (v.r - pal[i].r) + (v.g - pal[i].g) * (v.g - pal[i].g) +
                      (v.b - pal[i].b) * (v.b - pal[i].b);
      if (d < bd) bd = d, best = i;
    }
    p = art::Pack(pal[best]);
  }
  return b;
}

// ---------------------------------------------------------------- the preview pictures
Bitmap32 MakeBackdrop() {
  const int w = 152, h = 112;
  const float horizon = 44;
  Canvas c(w, h, Hex(0));
  c.All([=](float x, float y) {
    if (y < horizon) {
      const float t = y / horizon;
      Rgb sky = Mix(Hex(0x0A0C2A), Hex(0x3A2A5A), t * t);
      sky = Mix(sky, Hex(0xE07A3A), std::pow(t, 6.0f) * 0.8f);
      // A few stars in the upper sky.
      const unsigned hsh = unsigned(int(x) * 73856093) ^ unsigned(int(y) * 19349663);
      if (t < 0.6f && hsh % 97 == 0) sky = Mix(sky, Hex(0xE8E8FF), 0.7f);
      return sky;
    }
    const float d = y - horizon;
    const float depth = 40.0f / (d + 0.5f);
    const float row = std::fmod(depth * 2.0f, 1.0f);
    const float colx =
        std::fabs(std::fmod((x - w / 2.0f) / (d + 0.5f) * 1.5f + 100.5f, 1.0f) - 0.5f);
    Rgb g = Mix(Hex(0x2A2436), Hex(0x1A3A2A), art::Clamp01(d / 60.0f));
    if (row < 0.08f + 0.02f * d / 60 || colx < 0.03f) g = Mix(g, Hex(0x6A8A5A), 0.5f);
    return Mix(g, Hex(0xE07A3A), std::exp(-d / 4.0f) * 0.5f);
  });
  // Distant hills on the horizon.
  c.Fill(
      0, horizon - 10, w, horizon + 0.5f,
      [=](float x, float y) {
        return y > horizon - 4 - 4 * std::sin(x * 0.07f) - 2 * std::sin(x * 0.19f + 1);
      },
      [](float, float) { return Hex(0x241A30); });
  return c.Resolve();
}

struct Uniform {
  Rgb coat, trim, trousers, hat, skinOrHair;
  bool busby;  // tall fur hat (set 1) or a brimmed hat with a pack (set 2)
  Rgb pack;
};

// A marcher seen from behind, stepping with the left foot, on black.
Bitmap32 MakeFigure(const Uniform& u) {
  const int w = 52, h = 134;
  const float cx = 26;
  Canvas c(w, h, Hex(0));
  const Rgb boot = Hex(0x18161A);
  // Legs: the right one straight and planted, the left one lifted and a little behind.
  c.Line(31, 80, 32, 122, 11, u.trousers);
  c.RoundRect(26, 119, 38, 131, 3, boot);
  c.Line(20, 80, 19, 112, 11, Scale(u.trousers, 0.8f));
  c.RoundRect(13.5f, 109, 25, 120, 3, Scale(boot, 1.2f));
  // Arms swinging: the left forward (shorter, seen from behind), the right back.
  c.Line(10, 44, 7, 74, 8, Scale(u.coat, 0.75f));
  c.Ellipse(7, 76, 3.6f, 4, Scale(Hex(0xE0B090), 0.8f));
  c.Line(42, 44, 46, 68, 8, Scale(u.coat, 0.9f));
  c.Ellipse(46.5f, 70, 3.6f, 4, Hex(0xE0B090));
  // Coat: shoulders to the hem.
  c.Polygon({{9, 42}, {14, 37}, {38, 37}, {43, 42}, {41, 84}, {11, 84}}, Rounded(u.coat, cx, 17));
  c.Fill(
      10, 80, 42, 85, [](float, float) { return true; }, Rounded(Scale(u.trim, 0.9f), cx, 17));
  if (u.busby) {
    // Cross belts on the back and a belt.
    c.Line(13, 42, 39, 78, 3.5f, u.trim);
    c.Line(39, 42, 13, 78, 3.5f, u.trim);
    c.Fill(
        11, 64, 41, 68, [](float, float) { return true; }, Rounded(u.trim, cx, 16));
    // Head: neck, hair under the hat, and the tall fur hat.
    c.RoundRect(21, 30, 31, 39, 3, Scale(u.skinOrHair, 0.9f));
    c.Ellipse(cx, 26, 9, 8, Rounded(Hex(0x3A2A1E), cx, 9));
    c.RoundRect(15, 2, 37, 28, 9, [=](float x, float y) {
      const float fur = 0.85f + 0.15f * std::sin(x * 3.1f + y * 1.7f) * std::sin(y * 2.3f);
      return Scale(Round(u.hat, x, cx, 11), fur);
    });
    c.Line(17, 26, 35, 26, 2, u.trim);
  } else {
    // A pack with a rolled blanket, straps and a brimmed hat.
    c.RoundRect(14, 40, 38, 70, 5, Rounded(u.pack, cx, 12));
    c.RoundRect(13, 36, 39, 42, 3, Rounded(Hex(0x8A3A2A), cx, 13));
    c.Fill(
        15, 54, 37, 57, [](float, float) { return true; }, Rounded(Scale(u.pack, 0.7f), cx, 12));
    c.RoundRect(21, 28, 31, 37, 3, Scale(u.skinOrHair, 0.9f));
    c.Ellipse(cx, 24, 9, 9, Rounded(Hex(0x5A3A22), cx, 9));
    c.Ellipse(cx, 21, 16, 4.5f, Rounded(Scale(u.hat, 0.8f), cx, 16));
    c.Ellipse(cx, 16, 9, 8, Rounded(u.hat, cx, 9));
    c.Line(17.5f, 19.5f, 34.5f, 19.5f, 2, u.trim);
  }
  return c.Resolve();
}

// ---------------------------------------------------------------- the dialog pictures
Bitmap32 MakeMeetingRoom() {
  const int w = 244, h = 157;
  Canvas c(w, h, Hex(0));
  // Wall with a soft light from above, a skirting board and a window on the left.
  c.All([=](float x, float y) {
    Rgb wall = Mix(Hex(0xD8C8A8), Hex(0x9A8468), art::Clamp01(y / 130.0f));
    wall = Scale(wall, 0.85f + 0.15f * std::exp(-std::pow((x - 122) / 90.0f, 2.0f)));
    return wall;
  });
  c.RoundRect(6, 16, 36, 78, 2, Hex(0x6A5A48));
  c.Fill(
      8, 18, 34, 76, [](float, float) { return true; },
      VGrad(Hex(0x8EC4F0), Hex(0xE8F0F4), 18, 76));
  c.Fill(
      20, 18, 22, 76, [](float, float) { return true; },
      [](float, float) { return Hex(0x6A5A48); });
  c.Fill(
      8, 45, 34, 47, [](float, float) { return true; }, [](float, float) { return Hex(0x6A5A48); });
  // A plant in the corner.
  c.RoundRect(10, 98, 28, 118, 3, Rounded(Hex(0xB05A30), 19, 9));
  for (int k = 0; k < 7; ++k) {
    const float a = -1.3f + k * 0.42f;
    c.Ellipse(19 + std::sin(a) * 10, 92 - std::cos(a) * 10, 4, 8,
              Mix(Hex(0x2E7A3A), Hex(0x5AAA4A), k / 6.0f));
  }
  // The projection screen: a frame and a pure black picture area from x = 45.
  c.RoundRect(41, 4, 188, 117, 2, VGrad(Hex(0x504A48), Hex(0x34302E), 4, 117));
  c.Fill(
      45, 8, 184, 113, [](float, float) { return true; }, [](float, float) { return Hex(0); });
  c.RoundRect(38, 0, 191, 5, 2, Rounded(Hex(0x8A8480), 114, 77));
  // A clock on the wall at the right.
  c.Ellipse(217, 30, 11, 11, Hex(0x5A4A3A));
  c.Ellipse(217, 30, 9, 9, Hex(0xF4F0E8));
  c.Line(217, 30, 217, 23.5f, 1.4f, Hex(0x202020));
  c.Line(217, 30, 222, 32, 1.4f, Hex(0x202020));
  // The table and the backs of the audience.
  c.Polygon({{0, 132}, {244, 132}, {244, 157}, {0, 157}},
            VGrad(Hex(0x7A4A2A), Hex(0x4A2A18), 132, 157));
  c.Fill(
      0, 131, 244, 134, [](float, float) { return true; },
      [](float, float) { return Hex(0xA06A40); });
  const std::array<std::array<float, 3>, 5> heads = {
      {{28, 133, 12}, {76, 131, 13}, {128, 134, 12}, {178, 130, 13}, {222, 133, 12}}};
  const std::array<Rgb, 5> hair = {Hex(0x2A2018), Hex(0x4A3020), Hex(0x1E1E24), Hex(0x6A4A2A),
                                   Hex(0x3A2A20)};
  const std::array<Rgb, 5> coats = {Hex(0x2A3A5A), Hex(0x5A2A2A), Hex(0x3A4A3A), Hex(0x2A2A3A),
                                    Hex(0x4A3A5A)};
  for (size_t i = 0; i < heads.size(); ++i) {
    const float x = heads[i][0], y = heads[i][1], r = heads[i][2];
    c.Ellipse(x, y + r * 2.4f, r * 2.2f, r * 1.5f, Rounded(coats[i], x, r * 2.2f));
    c.Ellipse(x, y, r, r * 1.12f, Rounded(hair[i], x, r));
  }
  return c.Resolve();
}

Bitmap32 MakeAbout(art::Text& text) {
  const int w = 138, h = 537;
  Bitmap32 b;
  b.Create(w, h, 0);
  const Rgb gold = Hex(0xFFD27A), light = Hex(0xE8E4DC), dim = Hex(0xA8A098);
  const float cx = w / 2.0f;
  text.Centred(b, art::kSerifBold, 20, cx, 38, "Ondrelix", gold, 1);
  text.Centred(b, art::kSans, 10, cx, 56, "a screen saver", light);
  text.Centred(b, art::kSans, 10, cx, 69, "that plays your scripts", light);
  // A small ring between the heading and the credits.
  Canvas ring(w, 60, Hex(0));
  ring.Fill(
      cx - 20, 10, cx + 20, 50,
      [=](float x, float y) {
        const float r = std::hypot(x - cx, y - 30);
        return r > 14 && r < 19;
      },
      [=](float, float y) { return Mix(Hex(0xFFE28A), Hex(0xE0560A), (y - 10) / 40.0f); });
  ring.Fill(
      cx - 14, 29, cx + 14, 31, [](float, float) { return true; },
      [](float, float) { return Hex(0xFFB030); });
  const Bitmap32 r = ring.Resolve();
  for (int y = 0; y < r.height; ++y)
    for (int x = 0; x < w; ++x) b.Row(82 + y)[x] = r.Row(y)[x];
  struct Credit {
    int y;
    const char* role;
    const char* who;
  };
  const Credit credits[] = {
      {164, "Script language", "The Compiler Desk"},
      {196, "Pictures and layers", "The Pixel Workshop"},
      // Rows 212 to 236 stay black: the dialog writes the version at row 220.
      {262, "Playback", "The Timekeepers"},
      {294, "Text and captions", "The Letterers"},
      {326, "Windows and dialogs", "The Window Makers"},
      {358, "Artwork and shows", "The Ondrelix Studio"},
      {390, "Testing", "Everyone, every day"},
  };
  for (const Credit& c : credits) {
    text.Centred(b, art::kSans, 9, cx, c.y, c.role, dim, 0.5f);
    text.Centred(b, art::kSansBold, 11, cx, c.y + 14, c.who, light);
  }
  text.Centred(b, art::kSerifItalic, 12, cx, 450, "Thank you", gold);
  text.Centred(b, art::kSerifItalic, 12, cx, 466, "for watching", gold);
  text.Centred(b, art::kSans, 9, cx, 500, "The Ondrelix team", dim);
  return b;
}

Bitmap32 MakeMonitor() {
  const int w = 125, h = 100;
  Canvas c(w, h, Hex(0xEFEFEF));
  // Stand: a neck and an oval foot.
  c.Ellipse(62.5f, 97, 26, 3, Hex(0xB4B0AC));
  c.Polygon({{54, 92}, {71, 92}, {74, 97}, {51, 97}}, Rounded(Hex(0xC8C4C0), 62.5f, 12));
  // Bezel with a soft top light, the black inner lip and the screen.
  c.RoundRect(1, 1, 124, 94, 6, Hex(0x8A8682));
  c.RoundRect(2, 2, 123, 93, 5, VGrad(Hex(0xF4F2EE), Hex(0xC4C0BA), 2, 93));
  c.RoundRect(7, 7, 118, 91, 2, Hex(0x2A2A2C));
  c.Fill(
      9, 9, 116, 89, [](float, float) { return true; }, [](float, float) { return Hex(0x101018); });
  c.Ellipse(113, 92, 1.3f, 1.0f, Hex(0x40D060));
  return c.Resolve();
}

Bitmap32 MakeStartled() {
  const int w = 65, h = 97;
  HeadStyle s;
  s.hair = Hex(0x2E2A3A);
  s.shirt = Hex(0xE0A030);
  s.eyeRadius = 0.13f;
  s.pupilCos = 0.975f;
  s.mouthOpen = 1.0f;
  s.browLift = 0.1f;
  Bitmap32 b = RenderHead(w, h, 3.3f, 32.5f, 40, -0.12f, -0.06f, s, Hex(0xEFEFEF), false);
  // A sweat drop and two shock marks drawn over the rendered head.
  Canvas c(w, h, Hex(0));
  c.Ellipse(53, 28, 3.2f, 4, Hex(0x7AB8F0));
  c.Polygon({{50.2f, 27}, {55.8f, 27}, {53, 19}}, Hex(0x7AB8F0));
  c.Ellipse(52, 27, 0.9f, 1.4f, Hex(0xE8F4FF));
  c.Line(10, 6, 14, 13, 2, Hex(0x404048));
  c.Line(4, 14, 11, 17, 2, Hex(0x404048));
  c.Line(17, 2, 18.5f, 10, 2, Hex(0x404048));
  const Bitmap32 marks = c.Resolve(true);
  for (size_t i = 0; i < b.pixels.size(); ++i)
    if (marks.pixels[i] != 0) b.pixels[i] = marks.pixels[i];
  return b;
}

// A miniature of the saver's 640 x 480 picture: the stage band is rows 17 to 62.
Bitmap32 MakeScreen(int which, art::Text& text) {
  const int w = 107, h = 80;
  Canvas c(w, h, Hex(0));
  const float top = 17, bottom = 62;
  if (which == 1) {
    // A crawl of text lines receding toward the top of the stage.
    c.Fill(
        0, top, w, bottom, [](float, float) { return true; },
        VGrad(Hex(0x000010), Hex(0x0A0A24), top, bottom));
    // Rows of text as perspective bars: y, half width, thickness, and the part of a row used.
    const float rows[][4] = {
        {58, 40, 1.3f, 1},    {52.5f, 34, 1.1f, 0.8f},     {48, 28.5f, 1, 1},
        {44, 24, 0.9f, 1},    {40.6f, 20.5f, 0.8f, 0.55f}, {37.7f, 17.5f, 0.7f, 1},
        {35.3f, 15, 0.6f, 1}, {33.3f, 13, 0.55f, 0.7f},    {31.6f, 11.3f, 0.5f, 1}};
    for (const auto& r : rows) {
      const float x0 = w / 2.0f - r[1], x1 = x0 + 2 * r[1] * r[3];
      const float shade = art::Clamp01((r[0] - 26) / 32.0f);
      c.Fill(
          x0, r[0] - r[2], x1, r[0] + r[2], [](float, float) { return true; },
          [=](float, float) { return Scale(Hex(0xFFFFFF), 0.35f + 0.65f * shade); });
    }
  } else if (which == 2) {
    // A title flying in front of a twilight gradient.
    c.Fill(
        0, top, w, bottom, [](float, float) { return true; },
        VGrad(Hex(0x10082A), Hex(0x3A1A3A), top, bottom));
  } else {
    // A picture in the gallery over a tiled background.
    c.Fill(
        0, top, w, bottom, [](float, float) { return true; },
        [](float x, float y) {
          return ((int(x / 6) + int(y / 6)) % 2) ? Hex(0x1A2A3A) : Hex(0x142230);
        });
    c.RoundRect(30, 22, 77, 57, 1, Hex(0xE8E0D0));
    c.Fill(
        32, 24, 75, 55, [](float, float) { return true; },
        [](float x, float y) {
          if (y > 44 - 4 * std::sin(x * 0.3f)) return Hex(0x2E6A3A);
          return Mix(Hex(0x3A7AD0), Hex(0xF0C080), (y - 24) / 24.0f);
        });
    c.Ellipse(65, 31, 3.5f, 3.5f, Hex(0xFFF0C0));
  }
  Bitmap32 b = c.Resolve();
  if (which == 2) {
    text.Centred(b, art::kSansBold, 15, w / 2.0f, 45, "ONDRELIX", Hex(0xFFFFFF), 1);
  }
  if (which != 2) {
    // The caption line, inside 10, 64 to 76, 76.
    text.Draw(b, art::kSans, 9, 10, 73, which == 1 ? "Long ago..." : "A quiet lake", Hex(0xFFFFFF));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        if (y >= 63 && (x < 10 || x >= 76 || y >= 76)) b.Row(y)[x] = 0;
  }
  return b;
}

// ---------------------------------------------------------------- output
struct Output {
  const char* name;
  Bitmap32 bmp;
  int bits;
  int zoom;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s RESOURCEDIR [SHEETDIR]\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  art::Text text;
  std::vector<Output> out;
  out.push_back({"ZQLOGO", MakeLogoMark(), 24, 2});
  out.push_back({"ZQSTR", MakeWordMark(text), 24, 2});
  out.push_back({"LOWPOWER", MakeLowPower(text), 4, 8});
  out.push_back({"PreviewBackdrop", MakeBackdrop(), 24, 4});
  const Uniform uniforms[4] = {
      {Hex(0xC8282A), Hex(0xF0ECE0), Hex(0x24283A), Hex(0x1E1A1C), Hex(0xE0B090), true, {}},
      {Hex(0x2A4AB0), Hex(0xF0ECE0), Hex(0x2A2A30), Hex(0x1E1A1C), Hex(0xE0B090), true, {}},
      {Hex(0x3A7A3A), Hex(0x6A4A2A), Hex(0x5A5040), Hex(0xC8A870), Hex(0xE0B090), false,
       Hex(0xB08A5A)},
      {Hex(0xE07A20), Hex(0x4A3A2A), Hex(0x3A4050), Hex(0x8A7A5A), Hex(0xE0B090), false,
       Hex(0x7A8A9A)},
  };
  const char* figureNames[4] = {"FigureA", "FigureB", "FigureC", "FigureD"};
  for (int i = 0; i < 4; ++i) out.push_back({figureNames[i], MakeFigure(uniforms[i]), 24, 4});
  out.push_back({"KAIGI", MakeMeetingRoom(), 24, 3});
  HeadStyle presenter;
  presenter.hair = Hex(0x8A8A92);
  presenter.shirt = Hex(0x2A3A5A);
  presenter.glasses = true;
  presenter.mouthOpen = 0.35f;
  out.push_back({"DODON",
                 RenderHead(62, 71, 3.0f, 31, 30, 0.28f, 0.0f, presenter, Hex(0xA19A84), true), 24,
                 4});
  out.push_back({"ABOUT", MakeAbout(text), 24, 2});
  for (int i = 1; i <= 3; ++i) {
    static std::string names[3];
    names[i - 1] = "GAMEN" + std::to_string(i);
    out.push_back({names[i - 1].c_str(), MakeScreen(i, text), 24, 4});
  }
  HeadStyle turner;
  static std::string lbNames[8];
  for (int i = 0; i < 8; ++i) {
    lbNames[i] = "LB0" + std::to_string(i + 1);
    out.push_back(
        {lbNames[i].c_str(),
         RenderHead(88, 85, 3.1f, 44, 36, -i * 22.5f * kPi / 180.0f, 0.0f, turner, Hex(0), false),
         24, 3});
  }
  out.push_back({"MONITOR", MakeMonitor(), 24, 4});
  out.push_back({"KAKUNIN", MakeStartled(), 24, 4});

  int failures = 0;
  for (const Output& o : out) {
    if (art::SaveBmp(dir + "/" + o.name + ".bmp", o.bmp, o.bits) != 0) ++failures;
  }
  if (argc > 2) {
    const std::string sheets = argv[2];
    // One sheet per group, so each can be looked at enlarged.
    auto sheet = [&](const std::string& name, int from, int to, int zoom) {
      std::vector<const Bitmap32*> pics;
      for (int i = from; i < to; ++i) pics.push_back(&out[size_t(i)].bmp);
      art::WriteContactSheet(sheets + "/" + name + ".png", pics, zoom);
    };
    sheet("logo", 0, 2, 1);
    sheet("badge-backdrop", 2, 4, 4);
    sheet("figures", 4, 8, 3);
    sheet("kaigi-dodon-about", 8, 11, 2);
    sheet("gamen", 11, 14, 3);
    sheet("heads", 14, 22, 2);
    sheet("monitor-kakunin", 22, 24, 3);
  }
  return failures == 0 ? 0 : 1;
}
