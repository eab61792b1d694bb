// The image layer: picture loading, SET/MOVE schedules, projection and quadrant drawing.
#include "render/COthBmp.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "render/CBgCtl.h"
#include "render/FontRaster.h"
#include "render/LayerSettings.h"
#include "render/Picture.h"
#include "render/PixelOps.h"

namespace {

constexpr int kStringHeight = 15;  // cell height of STRING pictures
const char* const kStringFace = "ＭＳ ゴシック";

// A STRING picture: the text in white on black, one bit per pixel as the Gothic face draws it at
// this size, so that keying out black leaves whole strokes with no grey fringe.
void DrawStringPicture(FontRaster& font, const std::string& text, Bitmap32* out) {
  const FontSpec spec{kStringFace, kStringHeight};
  const int w = std::min(font.TextWidth(spec, text), kMaxBitmapSide);
  Bitmap1 ink;
  if (w <= 0 || !ink.Create(w, kStringHeight) || !out->Create(w, kStringHeight, 0)) return;
  font.DrawMono(ink, 0, 0, spec, text);
  for (int y = 0; y < kStringHeight; ++y) {
    std::uint32_t* row = out->Row(y);
    for (int x = 0; x < w; ++x)
      if (ink.Get(x, y)) row[x] = 0xFFFFFF;
  }
}

// Truncation toward zero, held inside a range where later sums cannot overflow an int.
int TruncInt(double v) {
  if (!(v > -1.0e9)) return v != v ? 0 : -1000000000;
  if (v > 1.0e9) return 1000000000;
  return static_cast<int>(v);
}

bool Given(double v) {
  return v != kUnsetReal;
}

// Frames of a schedule's time; a time under one frame counts as none.
int FramesOf(std::int32_t ms) {
  return ms > 0 ? ms / kTickMs : 0;
}

void Turn(CPtDataI* obj) {
  obj->turnedVersion += 1;
  if (obj->angle == 0 || obj->picture.Empty()) {
    obj->turned = obj->picture;
  } else {
    // Turned into the object's own bitmap, whose memory is reused while the angle animates.
    if (RotatePicture(obj->picture, obj->angle, &obj->turned) != 0) obj->turned = Bitmap32();
  }
}

double& Value(CPtDataI* obj, int axis) {
  switch (axis) {
    case kMotionX:
      return obj->position.x;
    case kMotionY:
      return obj->position.y;
    case kMotionZ:
      return obj->position.z;
    case kMotionAngle:
      return obj->angle;
    default:
      return obj->size;
  }
}

// Pads to even sizes (black column and row on the right and bottom) and mirrors as REVERSE says.
void PadAndReverse(Bitmap32* pic, int reverse) {
  const int w = pic->width, h = pic->height;
  if (reverse == 0 && (w & 1) == 0 && (h & 1) == 0) return;
  Bitmap32 out;
  if (!out.Create((w + 1) & ~1, (h + 1) & ~1, 0)) return;
  for (int y = 0; y < h; ++y) {
    const std::uint32_t* s = pic->Row(reverse == 2 ? h - 1 - y : y);
    std::uint32_t* d = out.Row(y);
    if (reverse == 1) {
      for (int x = 0; x < w; ++x) d[x] = s[w - 1 - x];
    } else {
      std::memcpy(d, s, sizeof(std::uint32_t) * w);
    }
  }
  *pic = std::move(out);
}

// Cuts one axis of a quadrant to 0..limit-1 of the stage; the source loses the same part at
// source resolution (scale s).
void ClipAxis(int& srcPos, int& srcLen, int& dstPos, int& dstLen, int limit, double s) {
  if (dstPos < 0) {
    const int cut = -dstPos, scut = TruncInt(cut / s);
    srcPos += scut;
    srcLen -= scut;
    dstPos = 0;
    dstLen -= cut;
  }
  if (dstPos + dstLen - 1 > limit - 1) {
    const int cut = dstPos + dstLen - limit;
    srcLen -= TruncInt(cut / s);
    dstLen -= cut;
  }
}

// Clips one quadrant against the stage, cutting its source at source resolution.
void ClipQuadrant(QuadRect& src, QuadRect& dst, double s) {
  const bool outside = dst.width < 1 || dst.height < 1 || dst.x > kStageWidth - 1 ||
                       dst.x + dst.width - 1 < 0 || dst.y > kStageHeight - 1 ||
                       dst.y + dst.height - 1 < 0;
  if (!outside) {
    ClipAxis(src.x, src.width, dst.x, dst.width, kStageWidth, s);
    ClipAxis(src.y, src.height, dst.y, dst.height, kStageHeight, s);
    if (src.width >= 1 && src.height >= 1) return;
  }
  src = QuadRect();
  dst = QuadRect();
}

#if defined(__SSE2__)
// Two pixels' channels in 16 bits: d + trunc((s - d) x a / 256) as d + sign x ((|s - d| x a)
// >> 8), whose product fits 16 bits unsigned. The fourth byte's weight is 0, so it stays d's.
inline __m128i BlendTwo(__m128i s, __m128i d, __m128i a) {
  const __m128i diff = _mm_sub_epi16(s, d);
  const __m128i neg = _mm_srai_epi16(diff, 15);
  const __m128i mag = _mm_sub_epi16(_mm_xor_si128(diff, neg), neg);
  const __m128i q = _mm_srli_epi16(_mm_mullo_epi16(mag, a), 8);
  return _mm_add_epi16(d, _mm_sub_epi16(_mm_xor_si128(q, neg), neg));
}

// The weight for blue, green and red of two pixels, 0 for the fourth bytes.
inline __m128i ChannelWeight(int a) {
  const auto w = static_cast<short>(a);
  return _mm_setr_epi16(w, w, w, 0, w, w, w, 0);
}
#else
// Four stage pixels as signed lanes (channel values and their products fit easily).
using Pixels4 = std::int32_t __attribute__((vector_size(16)));
constexpr std::int32_t kHighByte = static_cast<std::int32_t>(0xFF000000u);

Pixels4 Load4(const std::uint32_t* p) {
  Pixels4 v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

void Store4(std::uint32_t* p, Pixels4 v) {
  std::memcpy(p, &v, sizeof v);
}

#endif

}  // namespace

COthBmp::COthBmp(LayerSettings* settings, CBgCtl* background)
    : settings_(settings), background_(background) {
  temp_.Create(kStageWidth, kStageHeight, 0);
}

COthBmp::~COthBmp() = default;

// ---- start ----

void COthBmp::LoadSource(const CTimeImage& rec, CPtDataI* obj) {
  Picture pic;
  obj->transparent = kTransOff;
  if (rec.FileName[0] != '\0') {
    const std::string name(rec.FileName, strnlen(rec.FileName, sizeof rec.FileName));
    if (settings_) {
      pictures.Load(*settings_, name, &pic);
    } else {
      LoadBuiltinPicture("NOTFOUND", &pic);
    }
    obj->picture = std::move(pic.rgb);
    obj->lease = std::move(pic.lease);
    const int w = obj->picture.width, h = obj->picture.height;
    PadAndReverse(&obj->picture, rec.Reverse == 1 || rec.Reverse == 2 ? rec.Reverse : 0);
    // Corner markers read the picture as shown, not the padding that made its sides even.
    obj->transparent = ResolveTransparent(rec.Trans, obj->picture, w, h);
    return;
  }
  if (rec.String) {
    if (!font_) font_ = std::make_unique<FontRaster>();
    DrawStringPicture(*font_, *rec.String, &obj->picture);
  } else {
    LoadBuiltinPicture("NOTFOUND", &pic);
    obj->picture = std::move(pic.rgb);
  }
  obj->transparent =
      ResolveTransparent(rec.Trans, obj->picture, obj->picture.width, obj->picture.height);
}

void COthBmp::AddImage(const CTimeImage& rec) {
  int slot = -1;
  for (int i = 0; i < kMaxImages; ++i) {
    const int s = (next + i) % kMaxImages;
    if (!slots[s]) {
      slot = s;
      break;
    }
  }
  if (slot < 0) return;  // every slot is live: the image is dropped

  auto obj = std::make_unique<CPtDataI>();
  LoadSource(rec, obj.get());
  obj->id = rec.BmpNo;
  obj->angle = rec.Angle;
  obj->size = rec.Size;
  obj->contrast = rec.Contrast;
  obj->position = rec.Point;
  obj->base = rec.BgPos;
  obj->operation = rec.Operation == 2 ? 2 : 1;
  obj->lifetime = rec.Time / kTickMs;
  Turn(obj.get());
  const int scale = settings_ ? settings_->GetRenderScale() : 2;
  obj->quality = scale == 2 && rec.Quality == kStretchAverage ? kStretchAverage : kStretchDrop;

  slots[slot] = std::move(obj);
  count += 1;
  next = (slot + 1) % kMaxImages;
}

// ---- set ----

void COthBmp::SetImage(const CTimeSchedule& rec) {
  const double values[kMotionCount] = {rec.Point.x, rec.Point.y, rec.Point.z, rec.Angle, rec.Size};
  const int n = FramesOf(rec.Time);
  for (auto& slot : slots) {
    CPtDataI* obj = slot.get();
    if (!obj || obj->id != rec.BmpNo) continue;

    if (rec.Mode == kModeMove) {
      for (int i = 0; i < kMotionCount; ++i) {
        if (Given(values[i])) StartDrift(obj->motion[i], values[i] / kTickMs, n);
      }
      continue;
    }
    if (rec.Mode != kModeSet) return;

    // A SET shorter than one frame applies its values at once, like TIME 0.
    if (n == 0) {
      for (int i = 0; i < kMotionCount; ++i) {
        if (Given(values[i])) Value(obj, i) = values[i];
      }
      if (rec.Contrast != kUnsetInt) obj->contrast = rec.Contrast;
      if (Given(rec.Angle)) Turn(obj);
      return;  // only the first object with this number
    }

    int a = 0, d = 0;
    EaseFrames(rec.Time, rec.Acc, rec.Dec, &a, &d);
    const int e = (n + 1) & ~1;
    for (int i = 0; i < kMotionCount; ++i) {
      if (Given(values[i])) StartGlide(obj->motion[i], Value(obj, i), values[i], e, a, d);
    }
    if (rec.Contrast != kUnsetInt) {
      obj->contrastCount = e;
      obj->contrastTarget = rec.Contrast;
      obj->contrastDelta = (rec.Contrast - obj->contrast) / e;
    }
  }
}

// ---- animate ----

void COthBmp::Project(CPtDataI* obj, const Point3& camera) {
  const double dz = obj->position.z - camera.z;
  for (int q = 0; q < 4; ++q) {
    obj->source[q] = QuadRect();
    obj->stage[q] = QuadRect();
  }
  if (dz <= 0) return;
  const double k = kFocalDistance / dz;
  const int ax = TruncInt(TruncInt(obj->base.x - camera.x) + obj->position.x * k);
  const int ay = TruncInt(TruncInt(obj->base.y - camera.y) + obj->position.y * k);
  obj->anchorX = ax;
  obj->anchorY = ay;

  const int w = obj->turned.width, h = obj->turned.height;
  const int hw = (w + 1) / 2, lw = w / 2, hh = (h + 1) / 2, lh = h / 2;
  const double s = k * obj->size;
  QuadRect* src = obj->source;
  QuadRect* dst = obj->stage;
  src[0] = {hw, hh, lw, lh};
  dst[0] = {ax, ay, TruncInt(lw * s), TruncInt(lh * s)};
  src[1] = {hw, 0, lw, hh};
  dst[1] = {ax, 0, TruncInt(lw * s), TruncInt(hh * s)};
  dst[1].y = ay - dst[1].height;
  src[2] = {0, 0, hw, hh};
  dst[2] = {0, 0, TruncInt(hw * s), TruncInt(hh * s)};
  dst[2].x = ax - dst[2].width;
  dst[2].y = ay - dst[2].height;
  src[3] = {0, hh, hw, lh};
  dst[3] = {0, ay, TruncInt(hw * s), TruncInt(lh * s)};
  dst[3].x = ax - dst[3].width;
  for (int q = 0; q < 4; ++q) {
    dst[q].x += kStageCentreX;
    dst[q].y += kStageCentreY;
    ClipQuadrant(src[q], dst[q], s);
  }
}

int COthBmp::AnimateImages() {
  if (count == 0) return 0;
  const Point3 camera = background_ ? background_->GetCamera() : Point3{0, 0, 0};
  int changed = 0;
  for (auto& slot : slots) {
    CPtDataI* obj = slot.get();
    if (!obj) continue;
    obj->lifetime -= 1;
    if (obj->lifetime < 0) {
      slot.reset();
      count -= 1;
      changed = 1;
      continue;
    }

    const bool turning = obj->motion[kMotionAngle].counter != 0;
    for (int i = 0; i < kMotionCount; ++i) {
      if (obj->motion[i].counter != 0) StepMotion(obj->motion[i], Value(obj, i));
    }
    if (turning) Turn(obj);

    if (obj->contrastCount != 0) {
      if (obj->contrastCount == 1) {
        obj->contrast = obj->contrastTarget;
      } else {
        obj->contrast += obj->contrastDelta;
      }
      obj->contrastCount -= 1;
    }

    Project(obj, camera);
    for (const QuadRect& r : obj->stage) {
      if (r.width != 0 && r.height != 0) changed = 1;
    }
  }
  return changed;
}

// ---- draw ----

// At natural size (k x size = 1, the common case of a picture on the focal plane) both stretch
// modes give the source pixels themselves. Otherwise a stretch that comes again unchanged (same
// pixels, rectangle, size and mode) is kept on its second frame and taken from then on.
const Bitmap32* COthBmp::Stretched(CPtDataI& obj, int q, int* sx, int* sy) {
  const QuadRect& s = obj.source[q];
  const QuadRect& d = obj.stage[q];
  if (FromScratch) return nullptr;
  if (s.width == d.width && s.height == d.height) {
    if (s.x < 0 || s.y < 0 || s.x + s.width > obj.turned.width ||
        s.y + s.height > obj.turned.height)
      return nullptr;  // the stretch takes what lies outside from the edges
    *sx = s.x;
    *sy = s.y;
    return &obj.turned;
  }
  StretchedQuadrant& kept = obj.stretched[q];
  const bool again = kept.source == s && kept.width == d.width && kept.height == d.height &&
                     kept.quality == obj.quality && kept.version == obj.turnedVersion;
  if (!again) {
    kept = StretchedQuadrant();
    kept.source = s;
    kept.width = d.width;
    kept.height = d.height;
    kept.quality = obj.quality;
    kept.version = obj.turnedVersion;
    return nullptr;
  }
  if (kept.pixels.Empty()) {
    if (!RoomToKeep(static_cast<std::size_t>(d.width) * d.height) ||
        !kept.pixels.Create(d.width, d.height))
      return nullptr;
    StretchBlt(kept.pixels, 0, 0, d.width, d.height, obj.turned, s.x, s.y, s.width, s.height,
               obj.quality);
  }
  *sx = 0;
  *sy = 0;
  return &kept.pixels;
}

bool COthBmp::RoomToKeep(std::size_t pixels) const {
  std::size_t kept = pixels;
  for (const auto& slot : slots) {
    if (!slot) continue;
    for (const StretchedQuadrant& k : slot->stretched) kept += k.pixels.pixels.size();
  }
  return kept <= kMaxKeptStretchPixels;
}

namespace {

bool Opaque(const CPtDataI& obj) {
  return obj.operation != 2 && obj.transparent == -1 && obj.contrast == kFullContrast;
}

}  // namespace

bool COthBmp::CoversQuadrant(const CPtDataI& obj, int q) {
  const QuadRect& s = obj.source[q];
  const QuadRect& d = obj.stage[q];
  return Opaque(obj) && d.width > 0 && d.height > 0 && s.width > 0 && s.height > 0 && s.x >= 0 &&
         s.y >= 0 && s.x + s.width <= obj.turned.width && s.y + s.height <= obj.turned.height;
}

void COthBmp::DrawQuadrant(StageBitmap& stage, CPtDataI& obj, int q) {
  const QuadRect& s = obj.source[q];
  const QuadRect& d = obj.stage[q];
  int sx = 0, sy = 0;
  const Bitmap32* src = Stretched(obj, q, &sx, &sy);
  if (Opaque(obj)) {
    if (src) {
      CopyRect(stage, d.x, d.y, *src, sx, sy, d.width, d.height);
    } else {
      StretchBlt(stage, d.x, d.y, d.width, d.height, obj.turned, s.x, s.y, s.width, s.height,
                 obj.quality);
    }
    return;
  }
  // A stretch made now goes to the scratch first (every pixel of it is written, so the scratch
  // needs no clearing); pixels kept or the picture's own are read where they are.
  if (!src) {
    StretchBlt(temp_, 0, 0, d.width, d.height, obj.turned, s.x, s.y, s.width, s.height,
               obj.quality);
    src = &temp_;
    sx = sy = 0;
  }
  if (obj.operation != 2 && obj.contrast == kFullContrast) {
    MaskBlit(stage, d.x, d.y, *src, sx, sy, d.width, d.height, ToStageColour(obj.transparent));
    return;
  }
  int a = obj.contrast >> 16;
  if (a < 0) a = 0;
  if (a > 255) a = 255;
  if (obj.operation == 2) {
    PaintRows(stage, d, *src, sx, sy, a);
  } else {
    BlendRows(stage, d, *src, sx, sy, a);
  }
}

// The blend and paint rows run four pixels at a time (SSE2 on 16-bit channels, else portable
// vector arithmetic on 32-bit lanes), exactly the integer formulas of BlendPixel and PaintPixel,
// which finish the ends of the rows: they are the layer's own per-pixel work, on up to several
// stage-fulls of pixels a frame.
void COthBmp::BlendRows(StageBitmap& stage, const QuadRect& d, const Bitmap32& src, int sx, int sy,
                        int a) {
#if defined(__SSE2__)
  const __m128i weight = ChannelWeight(a), zero = _mm_setzero_si128();
#endif
  for (int y = 0; y < d.height; ++y) {
    const std::uint32_t* sp = src.Row(sy + y) + sx;
    std::uint32_t* dp = stage.Row(d.y + y) + d.x;
    int x = 0;
#if defined(__SSE2__)
    for (; x + 4 <= d.width; x += 4) {
      const __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sp + x));
      const __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dp + x));
      const __m128i lo = BlendTwo(_mm_unpacklo_epi8(sv, zero), _mm_unpacklo_epi8(dv, zero), weight);
      const __m128i hi = BlendTwo(_mm_unpackhi_epi8(sv, zero), _mm_unpackhi_epi8(dv, zero), weight);
      const __m128i black = _mm_cmpeq_epi32(sv, zero);  // black source pixels are transparent
      const __m128i out =
          _mm_or_si128(_mm_and_si128(black, dv), _mm_andnot_si128(black, _mm_packus_epi16(lo, hi)));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dp + x), out);
    }
#else
    for (; x + 4 <= d.width; x += 4) {
      const Pixels4 sv = Load4(sp + x), dv = Load4(dp + x);
      // d + trunc((s - d) x a / 256) per channel; the division truncates toward zero.
      auto step = [a](Pixels4 sc, Pixels4 dc) {
        const Pixels4 v = (sc - dc) * a;
        return dc + ((v + ((v >> 31) & 255)) >> 8);
      };
      const Pixels4 out = (dv & kHighByte) | step((sv >> 16) & 0xFF, (dv >> 16) & 0xFF) << 16 |
                          step((sv >> 8) & 0xFF, (dv >> 8) & 0xFF) << 8 |
                          step(sv & 0xFF, dv & 0xFF);
      const Pixels4 black = sv == 0;  // black source pixels are transparent
      Store4(dp + x, (dv & black) | (out & ~black));
    }
#endif
    for (; x < d.width; ++x) dp[x] = BlendPixel(dp[x], sp[x], a);
  }
}

void COthBmp::PaintRows(StageBitmap& stage, const QuadRect& d, const Bitmap32& src, int sx, int sy,
                        int a) {
#if defined(__SSE2__)
  const __m128i weight = ChannelWeight(a), zero = _mm_setzero_si128();
#endif
  for (int y = 0; y < d.height; ++y) {
    const std::uint32_t* sp = src.Row(sy + y) + sx;
    std::uint32_t* dp = stage.Row(d.y + y) + d.x;
    int x = 0;
#if defined(__SSE2__)
    // Saturating d + (s x a) >> 8, whose product fits 16 bits; a black source adds nothing.
    for (; x + 4 <= d.width; x += 4) {
      const __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sp + x));
      const __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dp + x));
      const __m128i lo = _mm_srli_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(sv, zero), weight), 8);
      const __m128i hi = _mm_srli_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(sv, zero), weight), 8);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(dp + x),
                       _mm_adds_epu8(dv, _mm_packus_epi16(lo, hi)));
    }
#else
    for (; x + 4 <= d.width; x += 4) {
      const Pixels4 sv = Load4(sp + x), dv = Load4(dp + x);
      // Saturating d + s x a / 256; a black source adds nothing.
      auto add = [a](Pixels4 sc, Pixels4 dc) {
        const Pixels4 n = dc + ((sc * a) >> 8);
        const Pixels4 over = n > 255;
        return (n & ~over) | (over & 255);
      };
      Store4(dp + x, (dv & kHighByte) | add((sv >> 16) & 0xFF, (dv >> 16) & 0xFF) << 16 |
                         add((sv >> 8) & 0xFF, (dv >> 8) & 0xFF) << 8 | add(sv & 0xFF, dv & 0xFF));
    }
#endif
    for (; x < d.width; ++x) dp[x] = PaintPixel(dp[x], sp[x], a);
  }
}

void COthBmp::DrawImages(StageBitmap& stage) {
  if (count == 0) return;
  for (int i = 0; i < kMaxImages; ++i) {
    CPtDataI* obj = slots[(next + i) % kMaxImages].get();
    if (!obj || obj->contrast == 0) continue;
    for (int q = 0; q < 4; ++q) {
      if (obj->stage[q].width != 0 && obj->stage[q].height != 0) DrawQuadrant(stage, *obj, q);
    }
  }
}

// ---- clear ----

void COthBmp::ClearImages() {
  for (auto& slot : slots) slot.reset();
  next = 0;
  count = 0;
  pictures.Clear();
}
