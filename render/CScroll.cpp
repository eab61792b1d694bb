// The scrolling-text layer: perspective rows built once, an incremental 16-bit coverage buffer
// per playing text, and the 32-level drawing of that coverage.
#include "render/CScroll.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <numeric>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#define OX_SCROLL_WIDE_SIMD 1
#include <immintrin.h>
#endif

namespace {

// Distance of the plane at stage row i (counted from the bottom), in text rows.
constexpr long double kPlaneScale = 1.2181914972669874L;
constexpr double kPlaneDistanceBelow = -327.88705720831064;  // D(-1)
constexpr double kBoxThreshold = 1.7;    // rows covering more text rows than this use a box window
constexpr std::uint16_t kDimStart = 95;  // first step of the far-text dimming sum

double PlaneDistance(int i) {
  if (i == -1) return kPlaneDistanceBelow;
  const long double d = (-270.0L / static_cast<long double>(i - 320)) * -320.0L * kPlaneScale;
  return static_cast<double>(d);
}

std::int32_t SaturateToInt(long double v) {
  if (!(v == v)) return 0;  // NaN
  if (v >= static_cast<long double>(INT32_MAX)) return INT32_MAX;
  if (v <= static_cast<long double>(INT32_MIN)) return INT32_MIN;
  return static_cast<std::int32_t>(v);
}

std::int32_t ClockAfter(std::int32_t now, std::int32_t interval) {
  return SaturateToInt(static_cast<long double>(now) + interval);
}

// slice[0..n) += v, in blocks of eight that the compiler turns into vector adds.
void AddToAll(std::uint16_t* slice, int n, std::uint16_t v) {
  for (; n >= 8; n -= 8, slice += 8) {
    for (int i = 0; i < 8; ++i) slice[i] = static_cast<std::uint16_t>(slice[i] + v);
  }
  for (int i = 0; i < n; ++i) slice[i] = static_cast<std::uint16_t>(slice[i] + v);
}

}  // namespace

CScroll::CScroll(LayerSettings* settings) : CMonoBmp(settings) {
  try {
    rowsReady = BuildRows();
  } catch (const std::bad_alloc&) {
    rowsReady = false;
  }
}

bool CScroll::BuildRows() {
  double far = 0;
  std::uint16_t dimSum = 0, dimStep = kDimStart;
  totalPixels = 0;
  for (int k = 0; k < kScrollRows; ++k) {
    CLineDataS& row = rows[k];
    row.near = far;
    far = (PlaneDistance(k - 1) - PlaneDistance(k)) + far;
    row.far = far;
    row.y = static_cast<std::uint16_t>(k);
    row.width = static_cast<std::uint16_t>(kScrollColumns - 2 * k);
    const std::int32_t lcm = std::lcm(kScrollColumns, static_cast<std::int32_t>(row.width));
    row.unitsA = lcm / kScrollColumns;
    row.unitsB = lcm / row.width;
    row.offset = totalPixels;
    const int b = row.unitsB;
    if (row.far - row.near > kBoxThreshold) {
      row.isBox = true;
      row.lo = static_cast<int>(row.near) - 1;
      row.hi = static_cast<int>(row.far) + 1;
      row.boxScale =
          static_cast<std::uint16_t>((kScrollFullCoverage - dimSum) / (b * (row.hi - row.lo)));
      row.box = AreaWeights16(kScrollColumns, row.width, row.boxScale);
      dimSum = static_cast<std::uint16_t>(dimSum + dimStep);
      dimStep = static_cast<std::uint16_t>(dimStep + 1);
    } else {
      row.isBox = false;
      row.nearOffset = static_cast<int>(row.near);
      row.farOffset = static_cast<int>(row.far);
      const double fl = row.near - std::trunc(row.near);
      const double fh = row.far - std::trunc(row.far);
      const double g = kScrollFullCoverage / (row.far - row.near);
      row.scaleU = static_cast<std::uint16_t>(static_cast<std::int32_t>((1 - fl) * g / b));
      row.scaleV = static_cast<std::uint16_t>(static_cast<std::int32_t>(g * fl / b));
      row.scaleW = static_cast<std::uint16_t>(static_cast<std::int32_t>(g * fh / b));
      row.scaleX = static_cast<std::uint16_t>(row.scaleU + row.scaleV - row.scaleW);
      row.weightsU = AreaWeights16(kScrollColumns, row.width, row.scaleU);
      row.weightsV = AreaWeights16(kScrollColumns, row.width, row.scaleV);
      row.weightsW = AreaWeights16(kScrollColumns, row.width, row.scaleW);
      row.weightsX = AreaWeights16(kScrollColumns, row.width, row.scaleX);
    }
    row.columnIndex.resize(kScrollColumns);
    row.lastIndex.resize(kScrollColumns);
    for (int x = 0; x < kScrollColumns; ++x) {
      row.columnIndex[x] = static_cast<std::uint16_t>(x * row.unitsA / b);
      row.lastIndex[x] = static_cast<std::uint16_t>(((x + 1) * row.unitsA - 1) / b);
    }
    totalPixels += row.width;
  }
  return totalPixels == kScrollTotalPixels;
}

// --- start ---------------------------------------------------------------------------------------

void CScroll::StartScroll(const CTimeScroll& rec, std::int32_t now) {
  const int i = rec.BmpNo;
  CMonoGraph* g = Entry(i);
  if (g == nullptr || !rowsReady) return;
  if (!state[i]) {
    try {
      auto st = std::make_unique<CPtDataS>();
      st->coverage.assign(static_cast<std::size_t>(totalPixels) + 1, 0);
      state[i] = std::move(st);
    } catch (const std::bad_alloc&) {
      return;
    }
    activeCount += 1;
  }
  CPtDataS& st = *state[i];
  st.textHeight = g->bitmap.height;
  st.interval = rec.Speed;
  st.nextStep = ClockAfter(now, st.interval);
  st.lifetime = rec.Time / kTickMs;
  g->contrast = rec.Contrast;
  g->colour = rec.Color;
  BuildShadeRamp(i);
}

// --- set -----------------------------------------------------------------------------------------

void CScroll::SetScroll(const CTimeSchedule& rec) {
  const int i = rec.BmpNo;
  CMonoGraph* g = Entry(i);
  // A schedule for a text that is not playing has nothing to change.
  if (g == nullptr || !state[i]) return;
  CMvDataS* anim = EnsureAnimation(animation[i]);
  if (anim == nullptr) return;
  CMvDataS& mv = *anim;
  const CPtDataS& st = *state[i];
  const std::int32_t n = FadeFrames(rec.Time);
  const bool speedGiven = rec.Speed != kUnsetReal;
  if (rec.Mode == kModeMove) {
    if (speedGiven) {
      mv.speedCount = 0x7FFFFFFF;
      mv.speedValue = st.interval;
      mv.speedDelta = static_cast<double>(st.interval) / n;
    }
    return;
  }
  if (rec.Mode != kModeSet) return;
  if (speedGiven) {
    mv.speedCount = n;
    mv.speedTarget = SaturateToInt(std::trunc(static_cast<long double>(rec.Speed)));
    mv.speedValue = st.interval;
    mv.speedDelta = (static_cast<double>(mv.speedTarget) - st.interval) / n;
  }
  mv.fade.Start(rec, n, g->colour, g->contrast);
}

// --- step ----------------------------------------------------------------------------------------

int CScroll::StepScroll(std::int32_t now) {
  int stepped = 0;
  for (int i = 0; i < count; ++i) {
    if (!state[i] || state[i]->nextStep > now) continue;
    StepEntry(i, now);
    stepped = 1;
  }
  return stepped;
}

std::int32_t CScroll::NextStepDue() const {
  std::int32_t due = INT32_MAX;
  for (int i = 0; i < count; ++i) {
    if (state[i]) due = std::min(due, state[i]->nextStep);
  }
  return due;
}

void CScroll::StepEntry(int index, std::int32_t now) {
  const CMonoGraph& g = *entries[index];
  CPtDataS& st = *state[index];
  const std::int32_t p = st.position;
  const std::int32_t last = st.textHeight - 1;
  st.inkTotal = 0;
  for (int k = 0; k < kScrollRows; ++k) {
    const CLineDataS& row = rows[k];
    std::uint16_t* slice = st.coverage.data() + row.offset;
    // Text rows inside this stage row's window: a non-zero sum means something may show.
    const std::int32_t first = std::max(0, row.isBox ? p - row.hi : p - row.farOffset - 1);
    const std::int32_t end = std::min(last, row.isBox ? p - row.lo : p - row.nearOffset);
    std::int32_t ink = 0;
    for (std::int32_t r = first; r <= end; ++r) {
      ink += 255 - g.RowCode(r)[0];
      st.inkTotal += ink;
    }
    st.rowInk[k] = ink;
    if (row.isBox) {
      ApplyTextRow(g, st, row, p - row.hi, row.boxScale, -1, slice);
      ApplyTextRow(g, st, row, p - row.lo, row.boxScale, +1, slice);
    } else {
      ApplyTextRow(g, st, row, p - row.farOffset - 1, row.scaleW, -1, slice);
      ApplyTextRow(g, st, row, p - row.farOffset, row.scaleX, -1, slice);
      ApplyTextRow(g, st, row, p - row.nearOffset, row.scaleU, +1, slice);
      ApplyTextRow(g, st, row, p - row.nearOffset - 1, row.scaleV, +1, slice);
    }
  }
  st.position = p + 1;
  st.nextStep = ClockAfter(now, st.interval);
}

// Each text column adds scale x (its overlap with a pixel, in weight units) to that pixel, so a
// run of ink adds scale x b to every pixel it covers whole and partial amounts at its two ends.
// This is the sum of the per-column weights w0 and w1 of the row's table, taken a run at a time;
// in 16-bit wrapping arithmetic the two are equal.
void CScroll::ApplyTextRow(const CMonoGraph& g, const CPtDataS& st, const CLineDataS& row, int r,
                           std::uint16_t scale, int sign, std::uint16_t* slice) const {
  if (r <= 0 || r >= st.textHeight || scale == 0) return;
  const std::uint32_t c = sign > 0 ? scale : static_cast<std::uint16_t>(0x10000 - scale);
  const std::int32_t a = row.unitsA, b = row.unitsB;
  const std::uint16_t full = static_cast<std::uint16_t>(c * static_cast<std::uint32_t>(b));
  const std::uint16_t* firstPixel = row.columnIndex.data();
  const std::uint16_t* lastPixel = row.lastIndex.data();
  const std::uint8_t* code = g.RowCode(r);
  int x = 0;
  while (*code != 255 && x < kScrollColumns) {
    x += code[0];
    int runEnd = x + code[1];  // exclusive
    code += 2;
    // Runs split at 254 pixels continue after a zero gap: take them as one.
    while (code[0] == 0) {
      runEnd += code[1];
      code += 2;
    }
    if (runEnd > kScrollColumns) runEnd = kScrollColumns;
    if (runEnd <= x) continue;
    const std::int32_t u0 = x * a, u1 = runEnd * a;  // units [u0, u1)
    const int j0 = firstPixel[x], j1 = lastPixel[runEnd - 1];
    if (j0 == j1) {
      slice[j0] = static_cast<std::uint16_t>(slice[j0] + c * static_cast<std::uint32_t>(u1 - u0));
    } else {
      slice[j0] =
          static_cast<std::uint16_t>(slice[j0] + c * static_cast<std::uint32_t>((j0 + 1) * b - u0));
      const int span = j1 - j0 - 1;
      if (span >= 8) {
        AddToAll(slice + j0 + 1, span, full);
      } else {
        for (int j = j0 + 1; j < j1; ++j) slice[j] = static_cast<std::uint16_t>(slice[j] + full);
      }
      slice[j1] =
          static_cast<std::uint16_t>(slice[j1] + c * static_cast<std::uint32_t>(u1 - j1 * b));
    }
    x = runEnd;
  }
}

// --- animate -------------------------------------------------------------------------------------

int CScroll::AnimateScrolls() {
  if (activeCount == 0) return 0;
  int any = 0;
  for (int i = 0; i < count; ++i) {
    if (!animation[i] || !state[i]) continue;
    any = 1;
    CPtDataS& st = *state[i];
    CMvDataS& mv = *animation[i];
    CMonoGraph& g = *entries[i];
    st.lifetime -= 1;
    if (st.lifetime <= 0) {
      EndEntry(i);
      continue;
    }
    if (mv.speedCount != 0) {
      if (mv.speedCount == 1) {
        st.interval = mv.speedTarget;
      } else {
        mv.speedValue += mv.speedDelta;
        st.interval = SaturateToInt(std::trunc(static_cast<long double>(mv.speedValue)));
      }
      mv.speedCount -= 1;
    }
    if (mv.fade.StepColour(g.colour)) BuildShadeRamp(i);
    mv.fade.StepContrast(g.contrast);
    if (mv.speedCount == 0 && mv.fade.Done()) animation[i].reset();
  }
  return any;
}

// --- draw ----------------------------------------------------------------------------------------

void BuildShadePairs(const ShadeSlot* ramp, ShadePairs* pairs) {
  for (int l1 = 0; l1 < kScrollLevels; ++l1) {
    const std::uint64_t high = static_cast<std::uint64_t>(ramp[l1].packed) << 32;
    for (int l0 = 0; l0 < kScrollLevels; ++l0)
      (*pairs)[l0 + kScrollLevels * l1] = high | ramp[l0].packed;
  }
}

void BuildScrollShades(const ShadeSlot* ramp, PixelSimd simd, ScrollShades* shades) {
  for (int l = 0; l < kScrollLevels; ++l) shades->colours[l] = ramp[l].packed;
  if (simd == PixelSimd::kBase) BuildShadePairs(ramp, &shades->pairs);
}

namespace {

// Eight pixels at a time with SSE2: a block with no pixel at level 1 or more is skipped whole
// (most of a page of text); an opaque block takes its colours two pixels a look-up and keeps the
// pixels at level 0. Returns the pixels done; the plain loop finishes the row.
int CoverageRowSse2(const std::uint16_t* cov, int n, const ShadeSlot* ramp, const ShadePairs& pairs,
                    std::int32_t contrast, std::uint32_t* d) {
  int x = 0;
#if defined(__SSE2__)
  const bool opaque = contrast == kFullContrast;
  const __m128i zero = _mm_setzero_si128();
  const __m128i pairIndex = _mm_set1_epi32(1 | kScrollLevels << 16);
  for (; x + 8 <= n; x += 8) {
    const __m128i levels =
        _mm_srli_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cov + x)), 11);
    const __m128i keep = _mm_cmpeq_epi16(levels, zero);
    const int blank = _mm_movemask_epi8(keep);
    if (blank == 0xFFFF) continue;
    if (!opaque) {
      for (int i = x; i < x + 8; ++i)
        if (cov[i] >= kScrollLevelUnit)
          ShadePixel(d + i, ramp[cov[i] / kScrollLevelUnit], contrast);
      continue;
    }
    alignas(16) std::int32_t at[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(at), _mm_madd_epi16(levels, pairIndex));
    auto pair = [&pairs](int i) {
      return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pairs.data() + i));
    };
    const __m128i lo = _mm_unpacklo_epi64(pair(at[0]), pair(at[1]));
    const __m128i hi = _mm_unpacklo_epi64(pair(at[2]), pair(at[3]));
    auto* out = reinterpret_cast<__m128i*>(d + x);
    if (blank == 0) {
      _mm_storeu_si128(out, lo);
      _mm_storeu_si128(out + 1, hi);
      continue;
    }
    const __m128i keepLo = _mm_unpacklo_epi16(keep, keep), keepHi = _mm_unpackhi_epi16(keep, keep);
    const __m128i d0 = _mm_loadu_si128(out), d1 = _mm_loadu_si128(out + 1);
    _mm_storeu_si128(out, _mm_or_si128(_mm_and_si128(keepLo, d0), _mm_andnot_si128(keepLo, lo)));
    _mm_storeu_si128(out + 1,
                     _mm_or_si128(_mm_and_si128(keepHi, d1), _mm_andnot_si128(keepHi, hi)));
  }
#else
  (void)cov, (void)n, (void)ramp, (void)pairs, (void)contrast, (void)d;
#endif
  return x;
}

#if defined(OX_SCROLL_WIDE_SIMD)
// The opaque row with the ramp's 32 colours held in registers: the levels pick their colours by
// permutes, with no look-up in memory, and only the pixels at level 1 or more are written.

// Sixteen pixels a step; the row's end is loaded and stored under a mask, so nothing is left.
__attribute__((target("avx512f,avx512bw,avx512vl"))) int OpaqueCoverageRowAvx512(
    const std::uint16_t* cov, int n, const std::uint32_t* colours, std::uint32_t* d) {
  const __m512i low = _mm512_loadu_si512(colours), high = _mm512_loadu_si512(colours + 16);
  for (int x = 0; x < n; x += 16) {
    const __mmask16 inRow = n - x >= 16 ? 0xFFFF : static_cast<__mmask16>((1u << (n - x)) - 1);
    const __m256i c = _mm256_maskz_loadu_epi16(inRow, cov + x);
    // The masked forms: the plain ones trip GCC 12's uninitialised-value warning.
    const __m512i l = _mm512_maskz_srli_epi32(0xFFFF, _mm512_maskz_cvtepu16_epi32(0xFFFF, c), 11);
    _mm512_mask_storeu_epi32(d + x, _mm512_test_epi32_mask(l, l),
                             _mm512_permutex2var_epi32(low, l, high));
  }
  return n;
}

__attribute__((target("avx2"))) inline __m256i PickAvx2(__m256i a, __m256i b, __m256i top) {
  return _mm256_castps_si256(
      _mm256_blendv_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), _mm256_castsi256_ps(top)));
}

// Eight pixels a step, a blank block skipped; the plain loop finishes the row.
__attribute__((target("avx2"))) int OpaqueCoverageRowAvx2(const std::uint16_t* cov, int n,
                                                          const std::uint32_t* colours,
                                                          std::uint32_t* d) {
  const auto* c = reinterpret_cast<const __m256i*>(colours);
  const __m256i c0 = _mm256_loadu_si256(c), c1 = _mm256_loadu_si256(c + 1);
  const __m256i c2 = _mm256_loadu_si256(c + 2), c3 = _mm256_loadu_si256(c + 3);
  const __m256i zero = _mm256_setzero_si256();
  int x = 0;
  for (; x + 8 <= n; x += 8) {
    const __m256i l = _mm256_srli_epi32(
        _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cov + x))), 11);
    if (_mm256_testz_si256(l, l)) continue;
    // The permutes look up bits 0-2, and bits 3 and 4 (moved to the sign bit) choose among the
    // four.
    const __m256i bit3 = _mm256_slli_epi32(l, 28), bit4 = _mm256_slli_epi32(l, 27);
    const __m256i lowHalf =
        PickAvx2(_mm256_permutevar8x32_epi32(c0, l), _mm256_permutevar8x32_epi32(c1, l), bit3);
    const __m256i highHalf =
        PickAvx2(_mm256_permutevar8x32_epi32(c2, l), _mm256_permutevar8x32_epi32(c3, l), bit3);
    auto* p = reinterpret_cast<__m256i*>(d + x);
    _mm256_storeu_si256(p, _mm256_blendv_epi8(PickAvx2(lowHalf, highHalf, bit4),
                                              _mm256_loadu_si256(p), _mm256_cmpeq_epi32(l, zero)));
  }
  return x;
}
#endif

}  // namespace

void DrawCoverageRow(const std::uint16_t* cov, int n, const ShadeSlot* ramp,
                     const ScrollShades& shades, std::int32_t contrast, std::uint32_t* d,
                     PixelSimd simd) {
  const bool opaque = contrast == kFullContrast;
  int x = 0;
#if defined(OX_SCROLL_WIDE_SIMD)
  if (opaque && simd == PixelSimd::kAvx512) {
    x = OpaqueCoverageRowAvx512(cov, n, shades.colours.data(), d);
  } else if (opaque && simd == PixelSimd::kAvx2) {
    x = OpaqueCoverageRowAvx2(cov, n, shades.colours.data(), d);
  } else {
    x = CoverageRowSse2(cov, n, ramp, shades.pairs, contrast, d);
  }
#else
  (void)simd;
  x = CoverageRowSse2(cov, n, ramp, shades.pairs, contrast, d);
#endif
  for (; x < n; ++x) {
    const std::uint16_t v = cov[x];
    if (v < kScrollLevelUnit) continue;
    const ShadeSlot& s = ramp[v / kScrollLevelUnit];
    if (opaque) {
      d[x] = s.packed;
    } else {
      ShadePixel(d + x, s, contrast);
    }
  }
}

void CScroll::DrawScrolls(StageBitmap& stage) {
  if (activeCount == 0) return;
  if (stage.width != kStageWidth || stage.height != kStageHeight) return;
  for (int i = 0; i < count; ++i) {
    const CPtDataS* st = state[i].get();
    const CMonoGraph* g = entries[i].get();
    if (st == nullptr || g->contrast == 0 || (st->inkTotal == 0 && !FromScratch)) continue;
    if (g->contrast == kFullContrast) BuildScrollShades(g->ShadeRamp, simd, &shades_);
    for (int k = 0; k < kScrollRows; ++k) {
      const CLineDataS& row = rows[k];
      DrawCoverageRow(st->coverage.data() + row.offset, row.width, g->ShadeRamp, shades_,
                      g->contrast, stage.Row(kStageHeight - 1 - k) + k, simd);
    }
  }
}

// --- clear ---------------------------------------------------------------------------------------

void CScroll::EndEntry(int index) {
  state[index].reset();
  animation[index].reset();
  activeCount -= 1;
}

void CScroll::ClearScrolls() {
  for (int i = 0; i < kMaxMonoEntries; ++i) {
    state[i].reset();
    animation[i].reset();
  }
  ClearEntries();
  activeCount = 0;
}
