// The scrolling-text layer: perspective rows built once, an incremental 16-bit coverage buffer
// per playing text, and the 32-level drawing of that coverage.
#include "render/CScroll.h"

#include <algorithm>
#include <bit>
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

// slice[0..n) += the running sums of diff[0..n), and diff[0..n) = 0.
void AddRunningSums(std::uint16_t* diff, std::uint16_t* slice, int n) {
  int j = 0;
  std::uint16_t sum = 0;
#if defined(__SSE2__)
  __m128i carry = _mm_setzero_si128();
  const __m128i zero = _mm_setzero_si128();
  for (; j + 8 <= n; j += 8) {
    auto* d = reinterpret_cast<__m128i*>(diff + j);
    auto* c = reinterpret_cast<__m128i*>(slice + j);
    __m128i v = _mm_loadu_si128(d);
    v = _mm_add_epi16(v, _mm_slli_si128(v, 2));
    v = _mm_add_epi16(v, _mm_slli_si128(v, 4));
    v = _mm_add_epi16(v, _mm_slli_si128(v, 8));
    v = _mm_add_epi16(v, carry);
    carry = _mm_shufflehi_epi16(v, 0xFF);
    carry = _mm_unpackhi_epi64(carry, carry);
    _mm_storeu_si128(c, _mm_add_epi16(_mm_loadu_si128(c), v));
    _mm_storeu_si128(d, zero);
  }
  sum = static_cast<std::uint16_t>(_mm_cvtsi128_si32(carry));
#endif
  for (; j < n; ++j) {
    sum = static_cast<std::uint16_t>(sum + diff[j]);
    diff[j] = 0;
    slice[j] = static_cast<std::uint16_t>(slice[j] + sum);
  }
}

#if defined(OX_SCROLL_WIDE_SIMD)
// The same, 32 values a step: running sums within each 128-bit lane by shifts, then the lanes'
// totals carried across the four lanes and from the block before; the end under a mask. The
// masked forms where GCC 12 warns of uninitialised values with the plain ones.
__attribute__((target("avx512f,avx512bw,avx512vl"))) void AddRunningSumsAvx512(std::uint16_t* diff,
                                                                               std::uint16_t* slice,
                                                                               int n) {
  const __m512i zero = _mm512_setzero_si512();
  const __m512i lastValue = _mm512_set1_epi16(31);
  __m512i carry = zero;
  for (int j = 0; j < n; j += 32) {
    const __mmask32 in = n - j >= 32 ? ~__mmask32{0} : (__mmask32{1} << (n - j)) - 1;
    __m512i v = _mm512_maskz_loadu_epi16(in, diff + j);
    v = _mm512_add_epi16(v, _mm512_bslli_epi128(v, 2));
    v = _mm512_add_epi16(v, _mm512_bslli_epi128(v, 4));
    v = _mm512_add_epi16(v, _mm512_bslli_epi128(v, 8));
    // Each lane's total in all its values, then the totals of the lanes before each lane.
    __m512i before = _mm512_shufflehi_epi16(v, 0xFF);
    before = _mm512_maskz_unpackhi_epi64(0xFF, before, before);
    before = _mm512_maskz_shuffle_i32x4(0xFFF0, before, before, _MM_SHUFFLE(2, 1, 0, 0));
    before = _mm512_add_epi16(
        before, _mm512_maskz_shuffle_i32x4(0xFFF0, before, before, _MM_SHUFFLE(2, 1, 0, 0)));
    before = _mm512_add_epi16(
        before, _mm512_maskz_shuffle_i32x4(0xFF00, before, before, _MM_SHUFFLE(1, 0, 0, 0)));
    v = _mm512_add_epi16(v, _mm512_add_epi16(before, carry));
    carry = _mm512_permutexvar_epi16(lastValue, v);
    _mm512_mask_storeu_epi16(slice + j, in,
                             _mm512_add_epi16(_mm512_maskz_loadu_epi16(in, slice + j), v));
    _mm512_mask_storeu_epi16(diff + j, in, zero);
  }
}
#endif

// The running sums with the widest instructions `simd` allows.
void AddRunningSums(std::uint16_t* diff, std::uint16_t* slice, int n, PixelSimd simd) {
#if defined(OX_SCROLL_WIDE_SIMD)
  if (simd == PixelSimd::kAvx512) {
    AddRunningSumsAvx512(diff, slice, n);
    return;
  }
#endif
  (void)simd;
  AddRunningSums(diff, slice, n);
}

// Adds `factor` to a row's term at `age`, or makes one.
void AddTerm(CLineDataS& row, int age, std::uint16_t factor) {
  for (int i = 0; i < row.termCount; ++i) {
    if (row.terms[i].age != age) continue;
    row.terms[i].factor = static_cast<std::uint16_t>(row.terms[i].factor + factor);
    return;
  }
  row.terms[row.termCount++] = {age, factor};
}

// The runs of text row r's code as a step applies them: runs split at 254 pixels (continued
// after a zero gap) joined, cut at the last text column, empty ones dropped.
void DecodeRuns(const std::uint8_t* code, std::vector<std::uint16_t>& runs) {
  int x = 0;
  while (*code != 255 && x < kScrollColumns) {
    x += code[0];
    int runEnd = x + code[1];  // exclusive
    code += 2;
    while (code[0] == 0) {
      runEnd += code[1];
      code += 2;
    }
    if (runEnd > kScrollColumns) runEnd = kScrollColumns;
    if (runEnd <= x) continue;
    runs.push_back(static_cast<std::uint16_t>(x));
    runs.push_back(static_cast<std::uint16_t>(runEnd));
    x = runEnd;
  }
}

// Decodes every text row of `g` into `st` once, with the columns holding ink in each run of
// 2^l rows.
void DecodeText(const CMonoGraph& g, CPtDataS& st) {
  const int height = g.bitmap.height;
  const std::size_t h = static_cast<std::size_t>(height);
  st.runs.clear();
  st.runStart.assign(h + 1, 0);
  st.spanLeft.assign(h * kSpanLevels, kScrollColumns);
  st.spanRight.assign(h * kSpanLevels, 0);
  for (int r = 0; r < height; ++r) {
    const std::size_t before = st.runs.size();
    if (r > 0) DecodeRuns(g.RowCode(r), st.runs);
    if (st.runs.size() > before) {
      st.spanLeft[r] = st.runs[before];
      st.spanRight[r] = st.runs.back();
    }
    st.runStart[r + 1] = static_cast<std::uint32_t>(st.runs.size() / 2);
  }
  for (std::size_t l = 1; l < kSpanLevels; ++l) {
    const std::size_t half = std::size_t{1} << (l - 1);
    for (std::size_t r = 0; r + 2 * half <= h; ++r) {
      const std::size_t at = l * h + r, below = at - h;
      st.spanLeft[at] = std::min(st.spanLeft[below], st.spanLeft[below + half]);
      st.spanRight[at] = std::max(st.spanRight[below], st.spanRight[below + half]);
    }
  }
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
    row.pixelOfUnit = ((std::uint64_t{1} << 32) + b - 1) / b;
    row.termCount = 0;
    if (row.far - row.near > kBoxThreshold) {
      row.isBox = true;
      row.lo = static_cast<int>(row.near) - 1;
      row.hi = static_cast<int>(row.far) + 1;
      row.boxScale =
          static_cast<std::uint16_t>((kScrollFullCoverage - dimSum) / (b * (row.hi - row.lo)));
      row.box = AreaWeights16(kScrollColumns, row.width, row.boxScale);
      AddTerm(row, row.hi, static_cast<std::uint16_t>(-row.boxScale));
      AddTerm(row, row.lo, row.boxScale);
      row.nearAge = row.lo;
      row.farAge = row.hi - 1;
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
      AddTerm(row, row.farOffset + 1, static_cast<std::uint16_t>(-row.scaleW));
      AddTerm(row, row.farOffset, static_cast<std::uint16_t>(-row.scaleX));
      AddTerm(row, row.nearOffset, row.scaleU);
      AddTerm(row, row.nearOffset + 1, row.scaleV);
      row.nearAge = row.nearOffset;
      row.farAge = row.farOffset;
    }
    // Terms whose scales cancel add nothing.
    row.termCount =
        static_cast<int>(std::remove_if(row.terms, row.terms + row.termCount,
                                        [](const StepTerm& t) { return t.factor == 0; }) -
                         row.terms);
    row.columnIndex.resize(kScrollColumns);
    row.lastIndex.resize(kScrollColumns);
    bool exact = true;
    for (int x = 0; x < kScrollColumns; ++x) {
      const std::uint32_t u0 = x * row.unitsA, u1 = (x + 1) * row.unitsA - 1;
      row.columnIndex[x] = static_cast<std::uint16_t>(u0 / b);
      row.lastIndex[x] = static_cast<std::uint16_t>(u1 / b);
      exact = exact && ((u0 * row.pixelOfUnit) >> 32) == row.columnIndex[x] &&
              ((u1 * row.pixelOfUnit) >> 32) == row.lastIndex[x];
    }
    if (!exact || row.farAge - row.nearAge + 1 >= (1 << kSpanLevels)) return false;
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
      DecodeText(*g, *st);
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
  CPtDataS& st = *state[index];
  const std::int32_t p = st.position;
  const std::int32_t height = st.textHeight;
  st.inkTotal = 0;
  const std::size_t h = static_cast<std::size_t>(height);
  for (int k = 0; k < kScrollRows; ++k) {
    const CLineDataS& row = rows[k];
    // Text rows in the window after this step: outside their ink the coverage is 0.
    const std::int32_t first = std::max(1, p - row.farAge);
    const std::int32_t end = std::min(height, p - row.nearAge + 1);
    st.inkFrom[k] = st.inkTo[k] = 0;
    if (first < end) {
      const int l = std::bit_width(static_cast<unsigned>(end - first)) - 1;
      const std::size_t a = l * h + first, b = l * h + end - (1 << l);
      const int left = std::min(st.spanLeft[a], st.spanLeft[b]);
      const int right = std::max(st.spanRight[a], st.spanRight[b]);
      if (left < right) {
        st.inkFrom[k] = row.columnIndex[left];
        st.inkTo[k] = static_cast<std::uint16_t>(row.lastIndex[right - 1] + 1);
        st.inkTotal += 1;
      }
    }
    // The step's change of the row is gathered as differences in `diff_` and then added to the
    // row's slice in one pass over the pixels it touched.
    int left = kScrollColumns, right = 0;
    for (int t = 0; t < row.termCount; ++t) {
      const std::int32_t r = p - row.terms[t].age;
      if (r <= 0 || r >= height || st.runStart[r] == st.runStart[r + 1]) continue;
      ApplyTextRow(st, row, r, row.terms[t].factor, diff_.data(), &left, &right);
    }
    if (left >= right) continue;
    AddRunningSums(diff_.data() + left, st.coverage.data() + row.offset + left, right - left, simd);
    diff_[right] = 0;  // the last run's closing difference: its running sum is 0
  }
  st.position = p + 1;
  st.nextStep = ClockAfter(now, st.interval);
}

// Each text column adds factor x (its overlap with a pixel, in weight units) to that pixel. A run
// of ink over units [u0, u1) adds factor x b to every pixel from the one holding u0 (j0) to the
// one holding u1 - 1 (j1), less the units before u0 in the first (factor x b - head) and those
// from u1 on in the last (tail). This is the sum of the per-column weights w0 and w1 of the row's
// table, taken a run at a time; in 16-bit wrapping arithmetic the two are equal. As differences
// of neighbouring pixels a run is four entries, whatever its length.
void CScroll::ApplyTextRow(const CPtDataS& st, const CLineDataS& row, int r, std::uint16_t factor,
                           std::uint16_t* diff, int* left, int* right) {
  const std::uint16_t* run = st.runs.data() + 2 * std::size_t{st.runStart[r]};
  const std::uint16_t* const runsEnd = st.runs.data() + 2 * std::size_t{st.runStart[r + 1]};
  const std::uint32_t a = row.unitsA, b = row.unitsB, c = factor;
  const std::uint64_t m = row.pixelOfUnit;
  const std::uint16_t full = static_cast<std::uint16_t>(c * b);
  // Runs lie left to right: the first starts the pixels touched, the last ends them.
  *left = std::min(*left, static_cast<int>((run[0] * a * m) >> 32));
  *right = std::max(*right, static_cast<int>(((runsEnd[-1] * a - 1) * m) >> 32) + 1);
  for (; run < runsEnd; run += 2) {
    const std::uint32_t u0 = run[0] * a, u1 = run[1] * a;
    const std::uint32_t j0 = static_cast<std::uint32_t>((u0 * m) >> 32);
    const std::uint32_t j1 = static_cast<std::uint32_t>(((u1 - 1) * m) >> 32);
    const std::uint16_t head = static_cast<std::uint16_t>(c * ((j0 + 1) * b - u0));
    const std::uint16_t tail = static_cast<std::uint16_t>(c * ((j1 + 1) * b - u1));
    diff[j0] = static_cast<std::uint16_t>(diff[j0] + head);
    diff[j0 + 1] = static_cast<std::uint16_t>(diff[j0 + 1] + full - head);
    diff[j1] = static_cast<std::uint16_t>(diff[j1] - tail);
    diff[j1 + 1] = static_cast<std::uint16_t>(diff[j1 + 1] + tail - full);
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
      // Only the pixels whose coverage may not be 0 (a pixel below one level is left as it is).
      const int from = FromScratch ? 0 : st->inkFrom[k];
      const int to = FromScratch ? row.width : st->inkTo[k];
      if (from >= to) continue;
      DrawCoverageRow(st->coverage.data() + row.offset + from, to - from, g->ShadeRamp, shades_,
                      g->contrast, stage.Row(kStageHeight - 1 - k) + k + from, simd);
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
