// The title layer: per-title 8-bit level buffers rendered each frame at scale 270 / z (exact area
// averaging when shrinking, nearest pixel when enlarging) and shaded onto the stage.
#include "render/CTitle.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <numeric>
#include <string>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// Wider vector paths, compiled for their own target and chosen at run time.
#if defined(__x86_64__) && defined(__GNUC__)
#define OX_TITLE_WIDE_SIMD 1
#include <immintrin.h>
#endif

#include "render/Picture.h"
#include "render/PixelOps.h"

namespace {

constexpr double kZStepPerSpeed = 0.1;
constexpr std::uint32_t kFullLevel = 0xF8000000u;  // 31 << 27: a fully covered pixel
constexpr int kLevelShift = 27;
// Beyond this scaled width one source pixel covers the whole stage: nothing sensible to draw.
constexpr double kMaxScaledSide = 1e9;

// Nearest-pixel map of `dstLen` stage pixels onto `srcLen` source pixels starting at `src0`: an
// error term starting at -dstLen gains srcLen per pixel and advances the source while it is >= 0.
void NearestMap(int src0, int srcLen, int dstLen, int* out) {
  int src = src0;
  std::int64_t err = -dstLen;
  for (int i = 0; i < dstLen; ++i) {
    out[i] = src;
    err += srcLen;
    while (err >= 0) {
      ++src;
      err -= dstLen;
    }
  }
}

// Each byte b of the one-bit pictures as eight bytes, 0xFF for each set bit, leftmost first.
struct ByteSpread {
  std::uint64_t of[256];
  constexpr ByteSpread() : of() {
    for (int b = 0; b < 256; ++b)
      for (int k = 0; k < 8; ++k)
        if (b & (0x80 >> k)) of[b] |= std::uint64_t{0xFF} << (8 * k);
  }
};
constexpr ByteSpread kSpread;
constexpr std::uint64_t kEveryByte = 0x0101010101010101ull;

// The eight levels of one byte of the silhouette and of the ink picture, leftmost lowest.
inline std::uint64_t LevelWord(std::uint8_t sil, std::uint8_t ink) {
  const std::uint64_t s = kSpread.of[sil], p = kSpread.of[ink];
  return (s & ~p & (kEveryByte * kTitleSilhouette)) | (p & (kEveryByte * kTitleInk));
}

// The levels of source columns [x0, x0 + n) of one row, eight columns per byte of the bitmaps:
// written from out[-(x0 & 7)] on, so `out` needs 7 bytes before it and 8 to spare after.
void RowLevels(const std::uint8_t* ink, const std::uint8_t* sil, int x0, int n, std::uint8_t* out) {
  std::uint8_t* d = out - (x0 & 7);
  for (int byte = x0 >> 3, end = (x0 + n + 7) >> 3; byte < end; ++byte, d += 8) {
    const std::uint64_t v = LevelWord(sil[byte], ink != nullptr ? ink[byte] : 0);
    std::memcpy(d, &v, sizeof v);
  }
}

// Where the stage columns of an enlarged row come from, grouped by the source byte they read: the
// columns [i, end[i]) all read byte byteOf[i] of the row, at bit shift[i].
struct ScaledColumns {
  std::uint16_t byteOf[kStageWidth];
  std::uint16_t end[kStageWidth];
  std::uint8_t shift[kStageWidth];
  ScaledColumns(const int* cols, int dw) {
    for (int i = 0; i < dw; ++i) {
      byteOf[i] = static_cast<std::uint16_t>(cols[i] >> 3);
      shift[i] = static_cast<std::uint8_t>(8 * (cols[i] & 7));
    }
    for (int i = dw - 1, next = dw; i >= 0; --i) {
      if (i + 1 < dw && byteOf[i + 1] != byteOf[i]) next = i + 1;
      end[i] = static_cast<std::uint16_t>(next);
    }
  }
};

// One enlarged row into out[0, dw), which has 8 bytes to spare. A source byte whose eight levels
// are one (empty, silhouette or ink all through, the most of a title) fills its stage columns a
// word at a time; any other picks each column's level out of the byte's eight.
void ScaledRow(const std::uint8_t* ink, const std::uint8_t* sil, const ScaledColumns& c, int dw,
               std::uint8_t* out) {
  for (int i = 0; i < dw;) {
    const int byte = c.byteOf[i], end = c.end[i];
    const std::uint8_t p = ink != nullptr ? ink[byte] : 0, s = sil[byte];
    const std::uint64_t word = LevelWord(s, p);
    if (p == 0xFF || (p == 0 && (s == 0 || s == 0xFF))) {
      for (; i < end; i += 8) std::memcpy(out + i, &word, sizeof word);
      i = end;
      continue;
    }
    for (; i < end; ++i) out[i] = static_cast<std::uint8_t>(word >> c.shift[i]);
  }
}

// kPicked.of[m][b]: the bits of b that are set in m, in their order and moved up to the top bit,
// as a reduced row reads them.
struct PickedBits {
  std::uint8_t of[256][256];
  PickedBits() {
    for (int m = 0; m < 256; ++m)
      for (int b = 0; b < 256; ++b) {
        int out = 0, n = 0;
        for (int k = 7; k >= 0; --k) {
          if (!((m >> k) & 1)) continue;
          out |= ((b >> k) & 1) << (7 - n);
          ++n;
        }
        of[m][b] = static_cast<std::uint8_t>(out);
      }
  }
};

const PickedBits& Picked() {
  static const PickedBits table;
  return table;
}

// Where the stage columns of a reduced row come from (fewer stage columns than source columns, so
// one source byte gives at most eight): per source byte that any column reads, the bits read and
// the first stage column.
struct ReducedColumns {
  std::uint16_t byte[kStageWidth];
  std::uint16_t start[kStageWidth];
  std::uint8_t mask[kStageWidth];
  int count = 0;
  ReducedColumns(const int* cols, int dw) {
    for (int i = 0; i < dw; ++i) {
      const int b = cols[i] >> 3;
      if (count == 0 || byte[count - 1] != b) {
        byte[count] = static_cast<std::uint16_t>(b);
        start[count] = static_cast<std::uint16_t>(i);
        mask[count] = 0;
        ++count;
      }
      mask[count - 1] |= static_cast<std::uint8_t>(0x80 >> (cols[i] & 7));
    }
  }
};

// One reduced row into out[0, dw), which has 8 bytes to spare: each source byte's read bits are
// gathered by table and widened to levels a word at a time, without a branch on the picture.
void ReducedRow(const std::uint8_t* ink, const std::uint8_t* sil, const ReducedColumns& c,
                std::uint8_t* out) {
  const PickedBits& picked = Picked();
  for (int g = 0; g < c.count; ++g) {
    const std::uint8_t* of = picked.of[c.mask[g]];
    const std::uint8_t p = ink != nullptr ? of[ink[c.byte[g]]] : 0;
    const std::uint64_t word = LevelWord(of[sil[c.byte[g]]], p);
    std::memcpy(out + c.start[g], &word, sizeof word);
  }
}

// Where the stage columns of a row come from, in blocks of kBlockColumns that each read at most as
// many source bytes (so the scale is above about 1/7 with sixteen, 1/8 with 64): per block its
// first byte, counted from the row's first read byte, and per column the byte within the block and
// the bit in that byte.
template <int kBlockColumns>
struct PickedColumnsOf {
  static constexpr int kBlock = kBlockColumns;
  static constexpr int kMaxBytes = kMaxTitleWidth / 8;
  std::uint8_t within[kStageWidth + kBlock];
  std::uint8_t bit[kStageWidth + kBlock];
  std::uint16_t from[kStageWidth / kBlock + 1];
  int firstByte = 0;
  int bytes = 0;  // read from the row, firstByte on
  bool fits = true;
  PickedColumnsOf(const int* cols, int dw) {
    if (dw <= 0) return;
    firstByte = cols[0] >> 3;
    bytes = (cols[dw - 1] >> 3) - firstByte + 1;
    for (int b = 0, i = 0; i < dw; ++b, i += kBlock) {
      const int base = cols[i] >> 3, last = cols[std::min(i + kBlock, dw) - 1] >> 3;
      if (last - base >= kBlock) fits = false;
      from[b] = static_cast<std::uint16_t>(base - firstByte);
      for (int k = i; k < i + kBlock; ++k) {
        within[k] = k < dw ? static_cast<std::uint8_t>((cols[k] >> 3) - base) : 0;
        bit[k] = k < dw ? static_cast<std::uint8_t>(0x80 >> (cols[k] & 7)) : 0;
      }
    }
  }
};
// Sixteen columns a block for the shuffles, 64 for the byte permutes of AVX-512.
using PickedColumns = PickedColumnsOf<16>;
using PickedColumns64 = PickedColumnsOf<64>;

#if defined(OX_TITLE_WIDE_SIMD)
// The set bits of sixteen stage columns as 0xFF bytes: each column's source byte picked by a
// shuffle, then tested for its bit.
__attribute__((target("ssse3"))) inline __m128i PickBits(const std::uint8_t* row, int from,
                                                         __m128i within, __m128i bit) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + from));
  return _mm_cmpeq_epi8(_mm_and_si128(_mm_shuffle_epi8(bytes, within), bit), bit);
}

// One row into out[0, dw), sixteen columns at a time, the last block (when fewer are left) through
// a buffer. The rows are copies of the read bytes with 16 bytes to spare.
__attribute__((target("ssse3"))) void PickedRow(const std::uint8_t* ink, const std::uint8_t* sil,
                                                const PickedColumns& c, int dw, std::uint8_t* out) {
  const __m128i silhouette = _mm_set1_epi8(static_cast<char>(kTitleSilhouette));
  const __m128i full = _mm_set1_epi8(kTitleInk);
  for (int b = 0, i = 0; i < dw; ++b, i += PickedColumns::kBlock) {
    const __m128i within = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c.within + i));
    const __m128i bit = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c.bit + i));
    __m128i level = _mm_and_si128(PickBits(sil, c.from[b], within, bit), silhouette);
    if (ink != nullptr) {
      const __m128i p = PickBits(ink, c.from[b], within, bit);
      level = _mm_or_si128(_mm_andnot_si128(p, level), _mm_and_si128(p, full));
    }
    if (dw - i >= PickedColumns::kBlock) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), level);
      continue;
    }
    alignas(16) std::uint8_t last[PickedColumns::kBlock];
    _mm_store_si128(reinterpret_cast<__m128i*>(last), level);
    std::memcpy(out + i, last, static_cast<std::size_t>(dw - i));
  }
}

// Whether this processor permutes bytes across a whole AVX-512 register.
bool BytePermutes() {
  static const bool has =
      __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi");
  return has;
}

// The set bits of 64 stage columns as a mask: each column's source byte picked by a permute, then
// tested for its bit.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) inline __mmask64 PickBits64(
    const std::uint8_t* row, int from, __m512i within, __m512i bit) {
  const __m512i bytes = _mm512_maskz_permutexvar_epi8(
      ~__mmask64{0}, within, _mm512_loadu_si512(row + from));  // not the plain form (GCC 12)
  return _mm512_test_epi8_mask(bytes, bit);
}

// One row into out[0, dw), 64 columns at a time, the last block masked. The rows hold the read
// bytes with 64 more readable after them.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) void PickedRow64(const std::uint8_t* ink,
                                                                        const std::uint8_t* sil,
                                                                        const PickedColumns64& c,
                                                                        int dw, std::uint8_t* out) {
  const __m512i silhouette = _mm512_set1_epi8(static_cast<char>(kTitleSilhouette));
  const __m512i full = _mm512_set1_epi8(kTitleInk);
  for (int b = 0, i = 0; i < dw; ++b, i += PickedColumns64::kBlock) {
    const __m512i within = _mm512_loadu_si512(c.within + i);
    const __m512i bit = _mm512_loadu_si512(c.bit + i);
    __m512i level = _mm512_maskz_mov_epi8(PickBits64(sil, c.from[b], within, bit), silhouette);
    if (ink != nullptr)
      level = _mm512_mask_mov_epi8(level, PickBits64(ink, c.from[b], within, bit), full);
    if (dw - i >= PickedColumns64::kBlock) {
      _mm512_storeu_si512(out + i, level);
      continue;
    }
    _mm512_mask_storeu_epi8(out + i, (__mmask64{1} << (dw - i)) - 1, level);
  }
}
#endif

}  // namespace

namespace {

// Nearest-pixel rows of a title picture and its silhouette onto a stage rectangle (see
// NearestCopy), one stage row at a time.
class NearestRows {
 public:
  NearestRows(const Bitmap1* ink, const Bitmap1& sil, int sx0, int sw, int sy0, int sh, int dx,
              int dw, int dy, int dh, Bitmap8& buf, TitleSimd simd)
      : ink_(ink),
        sil_(sil),
        sx0_(sx0),
        sw_(sw),
        dx_(dx),
        dw_(dw),
        dy_(dy),
        buf_(buf),
        maps_(sx0, sw, dw, sy0, sh, dh),
        shuffle_(Shuffles(simd)),
        permute_(Permutes(simd)),
        // The sixteen-column table only where the byte permutes do not serve.
        picked_(maps_.cols, shuffle_ && !permute_ ? dw : 0),
        picked64_(maps_.cols, permute_ ? dw : 0),
        shuffled_(shuffle_ && (permute_ ? picked64_.fits : picked_.fits)),
        permuted_(shuffled_ && permute_),
        columns_(maps_.cols, shuffled_ || dw == sw || dw < sw ? 0 : dw),
        reducedColumns_(maps_.cols, !shuffled_ && dw < sw ? dw : 0) {}

  // Whether stage row j reads the source row that row j - 1 read.
  bool SameAsAbove(int j) const { return j > 0 && maps_.rowsOf[j] == maps_.rowsOf[j - 1]; }

  // Stage row dy + j, j in [0, dh).
  void Row(int j) {
    std::uint8_t* d = buf_.Row(dy_ + j) + dx_;
    const int sy = maps_.rowsOf[j];
    const std::uint8_t* inkRow = ink_ != nullptr ? ink_->Row(sy) : nullptr;
    // A row with nothing in the bytes it reads (above and below the words of a title) is all 0.
    if (Blank(sil_.Row(sy)) && (inkRow == nullptr || Blank(inkRow))) {
      std::memset(d, 0, static_cast<std::size_t>(dw_));
      return;
    }
#if defined(OX_TITLE_WIDE_SIMD)
    if (shuffled_) {
      const int first = permuted_ ? picked64_.firstByte : picked_.firstByte;
      const auto n = static_cast<std::size_t>(permuted_ ? picked64_.bytes : picked_.bytes);
      if (permuted_) {
        PickedRow64(inkRow != nullptr ? Readable(*ink_, inkRow + first, n, inkBytes_) : nullptr,
                    Readable(sil_, sil_.Row(sy) + first, n, silBytes_), picked64_, dw_, d);
        return;
      }
      std::memcpy(silBytes_, sil_.Row(sy) + first, n);
      if (inkRow != nullptr) std::memcpy(inkBytes_, inkRow + first, n);
      PickedRow(inkRow != nullptr ? inkBytes_ : nullptr, silBytes_, picked_, dw_, d);
      return;
    }
#endif
    std::uint8_t* lev = levels_ + 8;
    if (dw_ == sw_) {
      RowLevels(inkRow, sil_.Row(sy), sx0_, sw_, lev);
    } else if (dw_ < sw_) {
      ReducedRow(inkRow, sil_.Row(sy), reducedColumns_, lev);
    } else {
      ScaledRow(inkRow, sil_.Row(sy), columns_, dw_, lev);
    }
    std::memcpy(d, lev, static_cast<std::size_t>(dw_));
  }

 private:
  struct Maps {
    int cols[kStageWidth];
    int rowsOf[kStageHeight];
    Maps(int sx0, int sw, int dw, int sy0, int sh, int dh) {
      NearestMap(sx0, sw, dw, cols);
      NearestMap(sy0, sh, dh, rowsOf);
    }
  };
  // The n bytes from `from` in the picture with 64 more readable after them: in the picture
  // itself, or (near its end) copied into `spare`.
  static const std::uint8_t* Readable(const Bitmap1& pic, const std::uint8_t* from, std::size_t n,
                                      std::uint8_t* spare) {
    const std::uint8_t* end = pic.bits.data() + pic.bits.size();
    if (static_cast<std::size_t>(end - from) >= n + 64) return from;
    std::memcpy(spare, from, n);
    return spare;
  }
  // Whether the bytes of a source row that hold columns [sx0, sx0 + sw) are all 0.
  bool Blank(const std::uint8_t* row) const {
    const int first = sx0_ >> 3, end = (sx0_ + sw_ + 7) >> 3;
#if defined(__SSE2__)
    // Sixteen bytes at a time, the last sixteen of the row's last (they may overlap the others).
    if (end - first >= 16) {
      const auto at = [row](int i) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
      };
      __m128i any = at(end - 16);
      for (int i = first; i + 16 < end; i += 16) any = _mm_or_si128(any, at(i));
      return _mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) == 0xFFFF;
    }
#endif
    std::uint8_t any = 0;
    for (int i = first; i < end; ++i) any |= row[i];
    return any == 0;
  }
  static bool Shuffles(TitleSimd simd) {
#if defined(OX_TITLE_WIDE_SIMD)
    return simd != TitleSimd::kBase;
#else
    return (static_cast<void>(simd), false);
#endif
  }
  static bool Permutes(TitleSimd simd) {
#if defined(OX_TITLE_WIDE_SIMD)
    return simd == TitleSimd::kAvx512 && BytePermutes();
#else
    return (static_cast<void>(simd), false);
#endif
  }

  const Bitmap1* ink_;
  const Bitmap1& sil_;
  int sx0_, sw_, dx_, dw_, dy_;
  Bitmap8& buf_;
  Maps maps_;
  bool shuffle_, permute_;
  PickedColumns picked_;
  PickedColumns64 picked64_;
  bool shuffled_, permuted_;
  ScaledColumns columns_;
  ReducedColumns reducedColumns_;
  alignas(16) std::uint8_t levels_[kMaxTitleWidth + 24];
  // The read bytes of the rows, with room for the last block's whole load.
  alignas(64) std::uint8_t inkBytes_[PickedColumns::kMaxBytes + 64] = {};
  alignas(64) std::uint8_t silBytes_[PickedColumns::kMaxBytes + 64] = {};
};

}  // namespace

void NearestCopy(const Bitmap1* ink, const Bitmap1& sil, int sx0, int sw, int sy0, int sh, int dx,
                 int dw, int dy, int dh, Bitmap8& buf, TitleSimd simd) {
  NearestRows rows(ink, sil, sx0, sw, sy0, sh, dx, dw, dy, dh, buf, simd);
  for (int j = 0; j < dh; ++j) {
    if (rows.SameAsAbove(j)) {
      std::memcpy(buf.Row(dy + j) + dx, buf.Row(dy + j - 1) + dx, static_cast<std::size_t>(dw));
      continue;
    }
    rows.Row(j);
  }
}

void StoreShrunkLevels(const std::uint32_t* acc, int n, std::uint8_t* d) {
  int i = 0;
#if defined(__SSE2__)
  // Sixteen columns at a time: the top five bits of each sum packed to bytes, and each byte
  // that is not 0 replaces the one below it.
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= n; i += 16) {
    const auto* a = reinterpret_cast<const __m128i*>(acc + i);
    const __m128i l0 = _mm_srli_epi32(_mm_loadu_si128(a), kLevelShift);
    const __m128i l1 = _mm_srli_epi32(_mm_loadu_si128(a + 1), kLevelShift);
    const __m128i l2 = _mm_srli_epi32(_mm_loadu_si128(a + 2), kLevelShift);
    const __m128i l3 = _mm_srli_epi32(_mm_loadu_si128(a + 3), kLevelShift);
    const __m128i levels = _mm_packus_epi16(_mm_packs_epi32(l0, l1), _mm_packs_epi32(l2, l3));
    auto* out = reinterpret_cast<__m128i*>(d + i);
    const __m128i keep = _mm_cmpeq_epi8(levels, zero);
    const __m128i below = _mm_and_si128(keep, _mm_loadu_si128(out));
    _mm_storeu_si128(out, _mm_or_si128(below, _mm_andnot_si128(keep, levels)));
  }
#endif
  for (; i < n; ++i) {
    const auto level = static_cast<std::uint8_t>(acc[i] >> kLevelShift);
    if (level != 0) d[i] = level;
  }
}

namespace {

// The ink runs of every row of a title picture from its row codes: runs that meet merged, cut to
// the picture's width.
void DecodeInkRuns(const CMonoGraph& g, std::vector<std::uint32_t>& runs,
                   std::vector<std::uint32_t>& rowStart) {
  const int w = g.bitmap.width, h = g.bitmap.height;
  runs.clear();
  rowStart.assign(static_cast<std::size_t>(h) + 1, 0);
  for (int py = 0; py < h; ++py) {
    rowStart[static_cast<std::size_t>(py)] = static_cast<std::uint32_t>(runs.size());
    const std::uint8_t* code = g.RowCode(py);
    int px = 0;
    while (*code != 255 && px < w) {
      px += code[0];
      int runEnd = px + code[1];
      code += 2;
      while (code[0] == 0) {
        runEnd += code[1];
        code += 2;
      }
      runEnd = std::min(runEnd, w);
      if (runEnd <= px) continue;
      runs.push_back(static_cast<std::uint32_t>(px) | static_cast<std::uint32_t>(runEnd) << 16);
      px = runEnd;
    }
  }
  rowStart[static_cast<std::size_t>(h)] = static_cast<std::uint32_t>(runs.size());
}

// One stage row's sums and the steps of its middle columns.
struct ShrinkRow {
  std::uint32_t* acc;
  std::uint32_t* steps;
  std::uint64_t* touched;  // the blocks of columns a stepped run added to
  // How the runs mark the blocks: not at all (the row is narrow, so every block is passed as
  // touched), in touched[0] alone, or in every word.
  enum class Marking { kNone, kOneWord, kAll } marking = Marking::kNone;
};

// Marks the blocks of columns a picture row's runs add steps to: a run's first column, the one
// after it and its last. A write to the same word for every run would wait on the one before, so
// a row of at most 63 blocks gathers its marks in a register; a wider one writes a block's mark
// only when it is not the one marked last (the runs come in order).
template <ShrinkRow::Marking kMarking>
class TouchMarks {
 public:
  explicit TouchMarks(const ShrinkRow& row) : touched_(row.touched) {}
  void Add(int first, int last) {
    if constexpr (kMarking == ShrinkRow::Marking::kNone) return;
    const int a = first / kTitleShrinkBlock, b = last / kTitleShrinkBlock;
    if constexpr (kMarking == ShrinkRow::Marking::kOneWord) {
      bits_ |= std::uint64_t{3} << a | std::uint64_t{1} << b;
      return;
    }
    Mark(a);
    Mark((first + 1) / kTitleShrinkBlock);
    Mark(b);
  }
  void Done() {
    if constexpr (kMarking == ShrinkRow::Marking::kOneWord) touched_[0] |= bits_;
  }

 private:
  void Mark(int block) {
    if (block == last_) return;
    last_ = block;
    touched_[block / 64] |= std::uint64_t{1} << (block % 64);
  }
  std::uint64_t* touched_;
  std::uint64_t bits_ = 0;
  int last_ = -1;
};

// cur[0..n) += a and, when a source row is split between two stage rows, next[0..n) += b; in
// blocks of four that become vector adds.
template <bool kSplit>
void AddToAll(std::uint32_t* cur, std::uint32_t* next, int n, std::uint32_t a, std::uint32_t b) {
  for (; n >= 4; n -= 4, cur += 4, next += 4) {
    for (int i = 0; i < 4; ++i) cur[i] += a;
    if constexpr (kSplit) {
      for (int i = 0; i < 4; ++i) next[i] += b;
    }
  }
  for (int i = 0; i < n; ++i) {
    cur[i] += a;
    if constexpr (kSplit) next[i] += b;
  }
}

// Adds ink runs of one picture row to the stage rows: wa units of each to this row and wb to the
// next (kSplit: wb is not 0); fullA and fullB are a whole stage column's. The partly covered end
// columns take their weights. The whole columns between them take a whole column's each, or
// (kStepped, where many picture rows make one stage row) a step up of it after the first column
// and down at the last, summed when the row is stored. A run inside one column gets both ends'
// weights less a whole column's, which sum to its own units. The sums wrap in 32 bits, so the
// order they are added in does not change them.
template <bool kSplit, bool kStepped, ShrinkRow::Marking kMarking>
void AddRuns(const std::uint32_t* run, const std::uint32_t* end, const TitleRunEdge* starting,
             const TitleRunEdge* ending, std::uint32_t wa, std::uint32_t wb, std::uint32_t fullA,
             std::uint32_t fullB, ShrinkRow cur, ShrinkRow next) {
  TouchMarks<kMarking> curMarks(cur), nextMarks(next);
  for (; run < end; ++run) {
    const TitleRunEdge a = starting[*run & 0xFFFF], b = ending[*run >> 16];
    cur.acc[a.column] += wa * a.weight;
    cur.acc[b.column] += wa * b.weight;
    if constexpr (kSplit) {
      next.acc[a.column] += wb * a.weight;
      next.acc[b.column] += wb * b.weight;
    }
    if constexpr (kStepped) {
      cur.steps[a.column + 1] += fullA;
      cur.steps[b.column] -= fullA;
      curMarks.Add(a.column, b.column);
      if constexpr (kSplit) {
        next.steps[a.column + 1] += fullB;
        next.steps[b.column] -= fullB;
        nextMarks.Add(a.column, b.column);
      }
    } else if (b.column == a.column) {
      cur.acc[a.column] -= fullA;
      if constexpr (kSplit) next.acc[a.column] -= fullB;
    } else {
      AddToAll<kSplit>(cur.acc + a.column + 1, next.acc + a.column + 1, b.column - a.column - 1,
                       fullA, fullB);
    }
  }
  if constexpr (kStepped) {
    curMarks.Done();
    if constexpr (kSplit) nextMarks.Done();
  }
}

// One picture row's runs with the path and marking chosen for the frame.
template <bool kStepped, ShrinkRow::Marking kMarking>
void AddRowRuns(const std::uint32_t* run, const std::uint32_t* end, const TitleRunEdge* starting,
                const TitleRunEdge* ending, std::uint32_t wa, std::uint32_t wb, std::uint32_t fullA,
                std::uint32_t fullB, ShrinkRow cur, ShrinkRow next) {
  if (wb == 0) {
    AddRuns<false, kStepped, kMarking>(run, end, starting, ending, wa, wb, fullA, fullB, cur, next);
  } else {
    AddRuns<true, kStepped, kMarking>(run, end, starting, ending, wa, wb, fullA, fullB, cur, next);
  }
}

template <bool kStepped>
void AddRowRuns(const std::uint32_t* run, const std::uint32_t* end, const TitleRunEdge* starting,
                const TitleRunEdge* ending, std::uint32_t wa, std::uint32_t wb, std::uint32_t fullA,
                std::uint32_t fullB, ShrinkRow cur, ShrinkRow next) {
  using enum ShrinkRow::Marking;
  if (!kStepped || cur.marking == kNone) {
    AddRowRuns<kStepped, kNone>(run, end, starting, ending, wa, wb, fullA, fullB, cur, next);
  } else if (cur.marking == kOneWord) {
    AddRowRuns<kStepped, kOneWord>(run, end, starting, ending, wa, wb, fullA, fullB, cur, next);
  } else {
    AddRowRuns<kStepped, kAll>(run, end, starting, ending, wa, wb, fullA, fullB, cur, next);
  }
}

// acc[i] += sum + steps[0] + ... + steps[i] for i in [0, n); returns the sum through steps[n - 1].
std::uint32_t AddSteps(std::uint32_t* acc, const std::uint32_t* steps, int n, std::uint32_t sum) {
  int i = 0;
#if defined(__SSE2__)
  __m128i carry = _mm_set1_epi32(static_cast<int>(sum));
  for (; i + 4 <= n; i += 4) {
    __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(steps + i));
    x = _mm_add_epi32(x, _mm_slli_si128(x, 4));
    x = _mm_add_epi32(x, _mm_slli_si128(x, 8));
    x = _mm_add_epi32(x, carry);
    carry = _mm_shuffle_epi32(x, 0xFF);
    auto* a = reinterpret_cast<__m128i*>(acc + i);
    _mm_storeu_si128(a, _mm_add_epi32(_mm_loadu_si128(a), x));
  }
  sum = static_cast<std::uint32_t>(_mm_cvtsi128_si32(carry));
#endif
  for (; i < n; ++i) {
    sum += steps[i];
    acc[i] += sum;
  }
  return sum;
}

// The first block from b on that is marked in `touched`, or `blocks` when none before it is.
inline int NextTouched(const std::uint64_t* touched, int b, int blocks) {
  for (int word = b / 64; word * 64 < blocks; ++word) {
    const std::uint64_t bits =
        word == b / 64 ? touched[word] >> (b % 64) << (b % 64) : touched[word];
    if (bits != 0) return std::min(word * 64 + __builtin_ctzll(bits), blocks);
  }
  return blocks;
}

// The stored columns of blocks [from, to), [first, end) of the row as a stored window.
struct BlockWindow {
  int from, to;
  BlockWindow(int fromBlock, int toBlock, int first, int end)
      : from(std::max(fromBlock * kTitleShrinkBlock, first)),
        to(std::min(toBlock * kTitleShrinkBlock, end)) {}
  bool Empty() const { return to <= from; }
};

// The window's columns of blocks no run reached, all of one sum: its level where not 0.
inline void FillQuietBlocks(std::uint32_t sum, const BlockWindow& w, int first, std::uint8_t* d) {
  const auto level = static_cast<std::uint8_t>(sum >> kLevelShift);
  if (level != 0 && !w.Empty()) {
    std::memset(d + (w.from - first), level, static_cast<std::size_t>(w.to - w.from));
  }
}

// The row pass a block at a time, with the plain or SSE2 prefix sum and store; the blocks between
// marked ones are filled at once.
void FlushTouchedRow(std::uint32_t* acc, std::uint32_t* steps, int s, int first, int count,
                     std::uint8_t* d, std::uint64_t* touched) {
  std::uint32_t sum = 0;
  for (int b = 0, blocks = (s + 1) / kTitleShrinkBlock + 1; b < blocks; ++b) {
    const int next = NextTouched(touched, b, blocks);
    if (next > b) {
      FillQuietBlocks(sum, BlockWindow(b, next, first, first + count), first, d);
      b = next - 1;
      continue;
    }
    const BlockWindow w(b, b + 1, first, first + count);
    std::uint32_t* a = acc + b * kTitleShrinkBlock;
    std::uint32_t* up = steps + b * kTitleShrinkBlock;
    sum = AddSteps(a, up, kTitleShrinkBlock, sum);
    if (!w.Empty()) StoreShrunkLevels(acc + w.from, w.to - w.from, d + (w.from - first));
    std::memset(a, 0, kTitleShrinkBlock * sizeof(std::uint32_t));
    std::memset(up, 0, kTitleShrinkBlock * sizeof(std::uint32_t));
  }
  std::fill_n(touched, kTitleTouchedWords, 0);
}

#if defined(OX_TITLE_WIDE_SIMD)
// Sixteen levels (0..31) into d[0, 16), or d[0, left) when fewer are left: each that is not 0
// replaces the byte there.
__attribute__((target("avx512f"))) inline void StoreLevelsAvx512(__m512i level, int left,
                                                                 std::uint8_t* d) {
  if (left < 16) {
    const auto in = static_cast<__mmask16>((1u << left) - 1);
    _mm512_mask_cvtepi32_storeu_epi8(d, in & _mm512_test_epi32_mask(level, level), level);
    return;
  }
  // The levels packed in a register and put over the old bytes where not 0 (a masked narrowing
  // store is several times dearer than this on some processors).
  auto* out = reinterpret_cast<__m128i*>(d);
  const __m128i levels = _mm512_maskz_cvtepi32_epi8(0xFFFF, level);  // not the plain form (GCC 12)
  const __m128i keep = _mm_cmpeq_epi8(levels, _mm_setzero_si128());
  _mm_storeu_si128(out, _mm_blendv_epi8(levels, _mm_loadu_si128(out), keep));
}

// The row pass with AVX-512, a block of sixteen columns at a time: the steps summed into the sums
// (a scan within the block plus the sum so far) and each level that is not 0 stored. A block no run
// reached is neither read nor cleared: its levels are all the sum so far's.
__attribute__((target("avx512f"))) void FlushSteppedRowAvx512(std::uint32_t* acc,
                                                              std::uint32_t* steps, int s,
                                                              int first, int count, std::uint8_t* d,
                                                              std::uint64_t* touched) {
  const __m512i zero = _mm512_setzero_si512();
  const __m512i lastLane = _mm512_set1_epi32(15);
  const __m512i lanes = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  __m512i carry = zero;
  for (int b = 0, blocks = (s + 1) / kTitleShrinkBlock + 1; b < blocks; ++b) {
    const int next = NextTouched(touched, b, blocks);
    if (next > b) {
      const auto sum = static_cast<std::uint32_t>(_mm512_cvtsi512_si32(carry));
      FillQuietBlocks(sum, BlockWindow(b, next, first, first + count), first, d);
      b = next - 1;
      continue;
    }
    const BlockWindow w(b, b + 1, first, first + count);
    std::uint32_t* a = acc + b * kTitleShrinkBlock;
    std::uint32_t* up = steps + b * kTitleShrinkBlock;
    __m512i x = _mm512_loadu_si512(up);
    x = _mm512_add_epi32(
        x, _mm512_maskz_alignr_epi32(0xFFFF, x, zero, 15));  // each lane plus the one before
    x = _mm512_add_epi32(x, _mm512_maskz_alignr_epi32(0xFFFF, x, zero, 14));
    x = _mm512_add_epi32(x, _mm512_maskz_alignr_epi32(0xFFFF, x, zero, 12));
    x = _mm512_add_epi32(x, _mm512_maskz_alignr_epi32(0xFFFF, x, zero, 8));
    // The block's total goes into the sum so far apart from the scan, so that each block waits
    // on one add of the one before.
    const __m512i total = _mm512_maskz_permutexvar_epi32(0xFFFF, lastLane, x);
    x = _mm512_add_epi32(x, carry);
    carry = _mm512_add_epi32(carry, total);
    const __m512i level =
        _mm512_maskz_srli_epi32(0xFFFF, _mm512_add_epi32(_mm512_loadu_si512(a), x), kLevelShift);
    _mm512_storeu_si512(a, zero);
    _mm512_storeu_si512(up, zero);
    if (w.Empty()) continue;
    const int skip = w.from - b * kTitleShrinkBlock, n = w.to - w.from;
    if (skip == 0 && n == kTitleShrinkBlock) {
      StoreLevelsAvx512(level, n, d + (w.from - first));
      continue;
    }
    // A block the window cuts: its stored lanes moved down to lane 0.
    const __m512i at = _mm512_add_epi32(lanes, _mm512_set1_epi32(skip));
    StoreLevelsAvx512(_mm512_maskz_permutexvar_epi32(0xFFFF, at, level), n, d + (w.from - first));
  }
  std::fill_n(touched, kTitleTouchedWords, 0);
}
#endif

}  // namespace

void FlushShrunkRow(std::uint32_t* acc, std::uint32_t* steps, int s, int first, int count,
                    std::uint8_t* d, TitleSimd simd, std::uint64_t* touched) {
#if defined(OX_TITLE_WIDE_SIMD)
  if (simd == TitleSimd::kAvx512) {
    return FlushSteppedRowAvx512(acc, steps, s, first, count, d, touched);
  }
#endif
  (void)simd;
  FlushTouchedRow(acc, steps, s, first, count, d, touched);
}

// Stage columns [first, first + count) of the shrinking path when a stage column spans at most
// four picture columns, so touches at most five. Per block of sixteen columns: the virtual picture
// column its taps are counted from, the first its first column touches or (with two pairs at most)
// the one before it where the units are stored on a 64-byte boundary, when the block's taps still
// lie within 64 columns of it. Per column, in two 16-bit lanes: the offset from that of its own
// first picture column and of the one after it (at most 60 and 61 on, as sixteen columns span at
// most 64 picture columns), and per pair of taps k the units the column covers of the picture
// columns 2k and 2k + 1 after its first.
struct TitleTaps {
  static constexpr int kBlock = 16;
  static constexpr int kMaxPairs = 3;
  static constexpr int kLanes = 2 * (kStageWidth + kBlock);
  int pairs = 0;
  std::int32_t base[kStageWidth / kBlock + 1];
  // Per block, whether a second pair of taps weighs anything (near natural size most blocks
  // read at most two picture columns a stage column).
  bool second[kStageWidth / kBlock + 1];
  alignas(64) std::uint16_t index[kLanes];
  alignas(64) std::uint16_t weight[kMaxPairs][kLanes];
  // Virtual picture columns ax units wide, stage columns bx units wide (bx <= 4 ax, ax < 2^15);
  // column v's units lie on a 64-byte boundary where v + phase is a multiple of 32.
  void Make(std::int64_t ax, std::int64_t bx, int first, int count, int phase) {
    // The taps depend on nothing else: a title that keeps its size keeps them.
    if (ax == made_.ax && bx == made_.bx && first == made_.first && count == made_.count &&
        phase == made_.phase) {
      return;
    }
    made_ = Key{ax, bx, first, count, phase};
    pairs = static_cast<int>(((bx + ax - 1) / ax + 2) / 2);  // the taps, rounded up to pairs
    // Column j starts at unit j x bx, in picture column q = j x bx / ax, which starts at unit
    // q x ax: both kept as j goes on, without a division per column.
    std::int64_t start = first * bx, q = start / ax, qStart = q * ax;
    for (int i = 0; i < (count + kBlock - 1) / kBlock * kBlock; ++i, start += bx) {
      for (; qStart + ax <= start; qStart += ax) ++q;
      if (i % kBlock == 0) {
        base[i / kBlock] = static_cast<std::int32_t>(Base(ax, bx, first + i, q, count - i, phase));
        second[i / kBlock] = false;
      }
      const auto at = static_cast<std::uint16_t>(i < count ? q - base[i / kBlock] : 0);
      const auto units = [&](int k) -> std::uint16_t {
        const std::int64_t from = std::max(qStart + k * ax, start);
        const std::int64_t to = std::min(qStart + (k + 1) * ax, start + bx);
        return static_cast<std::uint16_t>(i < count && to > from ? to - from : 0);
      };
      index[2 * i] = at;
      index[2 * i + 1] = static_cast<std::uint16_t>(at + 1);
      for (int k = 0; k < pairs; ++k) {
        weight[k][2 * i] = units(2 * k);
        weight[k][2 * i + 1] = units(2 * k + 1);
      }
      if (pairs > 1) second[i / kBlock] |= (weight[1][2 * i] | weight[1][2 * i + 1]) != 0;
    }
  }

 private:
  struct Key {
    std::int64_t ax = 0, bx = 0;
    int first = 0, count = -1, phase = 0;
  };
  Key made_;  // what the tables were last made for
  // The base of the block whose first column j lies in picture column q, with `left` columns from
  // j on to be stored.
  std::int64_t Base(std::int64_t ax, std::int64_t bx, int j, std::int64_t q, int left,
                    int phase) const {
    if (pairs > 2) return q;
    const std::int64_t aligned = q - (q + phase) % 32;
    const std::int64_t last = (j + std::min(left, kBlock) - 1) * bx / ax;
    return last - aligned <= 60 ? aligned : q;
  }
};

namespace {

// The units rows of the whole-rows path start this many elements past a 64-byte boundary of their
// storage, at most.
constexpr int kUnitsAlign = 32;

// Where the units row in `v` starts: its first 64-byte boundary.
std::uint16_t* AlignedUnits(std::vector<std::uint16_t>& v) {
  const auto at = reinterpret_cast<std::uintptr_t>(v.data());
  return v.data() + (64 - at % 64) % 64 / sizeof(std::uint16_t);
}

// Ink mask words per picture row on the whole-rows path: an even number, read in pairs.
inline int LaneWords(int width) {
  return (width + 31) / 32 * 2;
}

// The ink runs of a title picture as sixteen-column masks (see CPtDataT::inkLanes), `words` to a
// row.
void MakeInkLanes(const std::vector<std::uint32_t>& runs,
                  const std::vector<std::uint32_t>& rowStart, int words,
                  std::vector<std::uint16_t>& lanes) {
  const auto n = static_cast<std::size_t>(words);
  lanes.assign((rowStart.size() - 1) * n, 0);
  for (std::size_t py = 0; py + 1 < rowStart.size(); ++py) {
    std::uint16_t* row = lanes.data() + py * n;
    for (std::uint32_t k = rowStart[py]; k < rowStart[py + 1]; ++k) {
      for (int p = static_cast<int>(runs[k] & 0xFFFF), end = static_cast<int>(runs[k] >> 16);
           p < end;) {
        const int lo = p & 15, bits = std::min(16 - lo, end - p);
        row[p >> 4] |= static_cast<std::uint16_t>(((1u << bits) - 1) << lo);
        p += bits;
      }
    }
  }
}

#if defined(OX_TITLE_WIDE_SIMD)
// A picture row of a stage row: its ink masks and the units of it the stage row covers.
struct RowShare {
  const std::uint16_t* lanes;
  std::uint32_t units;
};
// At most this many picture rows make one stage row on the whole-rows path.
constexpr int kMaxRowShares = 8;

// The units of ink per picture column of one stage row, summed down its n picture rows, into
// units[0, 16 x words) (words even; every sum below 2^15).
// With kRows picture rows (0: any number up to kMaxRowShares), each row's units broadcast once.
template <int kRows>
__attribute__((target("avx512f,avx512bw"))) void SumRowLanesAvx512(const RowShare* rows, int n,
                                                                   int words,
                                                                   std::uint16_t* units) {
  if constexpr (kRows != 0) n = kRows;
  __m512i weight[kMaxRowShares];
  for (int r = 0; r < n; ++r) {
    weight[r] = _mm512_set1_epi16(static_cast<std::int16_t>(rows[r].units));
  }
  for (int k = 0; k < words; k += 2) {
    __m512i sum = _mm512_setzero_si512();
    for (int r = 0; r < n; ++r) {
      std::uint32_t lanes;
      std::memcpy(&lanes, rows[r].lanes + k, sizeof lanes);
      sum = _mm512_mask_add_epi16(sum, lanes, sum, weight[r]);
    }
    _mm512_storeu_si512(units + 16 * k, sum);
  }
}

void SumRowLanes(const RowShare* rows, int n, int words, std::uint16_t* units) {
  if (n == 1) return SumRowLanesAvx512<1>(rows, n, words, units);
  if (n == 2) return SumRowLanesAvx512<2>(rows, n, words, units);
  SumRowLanesAvx512<0>(rows, n, words, units);
}

// A stage row summed across from its picture columns' units by kPairs pairs of taps (products
// below 2^30), times c, stored as the levels of its count visible columns in d (each that is not
// 0). With two pairs at most (offsets up to 33) one window of 64 columns from the block's first
// serves all; with three, pair k reads the 64 from the block's first plus 2k.
// The units of sixteen stage columns from a pair of taps: two picture columns' units each, times
// their weights.
__attribute__((target("avx512f,avx512bw"))) inline __m512i PairAvx512(__m512i units,
                                                                      const std::uint16_t* weight) {
  return _mm512_madd_epi16(units, _mm512_loadu_si512(weight));
}

template <int kPairs>
__attribute__((target("avx512f,avx512bw"))) void FlushTapsAvx512(const std::uint16_t* units,
                                                                 const TitleTaps& t, int count,
                                                                 std::uint32_t c, std::uint8_t* d) {
  const __m512i scale = _mm512_set1_epi32(static_cast<int>(c));
  for (int i = 0, b = 0; i < count; i += TitleTaps::kBlock, ++b) {
    const std::uint16_t* from = units + t.base[b];
    const __m512i lo = _mm512_loadu_si512(from), hi = _mm512_loadu_si512(from + 32);
    // Every column the block reads: none with ink leaves all its levels 0.
    __m512i any = _mm512_or_si512(lo, hi);
    if constexpr (kPairs == 3) any = _mm512_or_si512(any, _mm512_loadu_si512(from + 36));
    if (_mm512_test_epi32_mask(any, any) == 0) continue;
    const __m512i index = _mm512_loadu_si512(t.index + 2 * i);
    __m512i sum = PairAvx512(_mm512_permutex2var_epi16(lo, index, hi), t.weight[0] + 2 * i);
    if (kPairs == 2 && t.second[b]) {
      const __m512i next = _mm512_add_epi16(index, _mm512_set1_epi16(2));
      sum = _mm512_add_epi32(
          sum, PairAvx512(_mm512_permutex2var_epi16(lo, next, hi), t.weight[1] + 2 * i));
    }
    if constexpr (kPairs == 3) {
      for (int k = 1; k < kPairs; ++k) {
        const __m512i v = _mm512_permutex2var_epi16(_mm512_loadu_si512(from + 2 * k), index,
                                                    _mm512_loadu_si512(from + 2 * k + 32));
        sum = _mm512_add_epi32(sum, PairAvx512(v, t.weight[k] + 2 * i));
      }
    }
    StoreLevelsAvx512(_mm512_maskz_srli_epi32(0xFFFF, _mm512_mullo_epi32(sum, scale), kLevelShift),
                      count - i, d + i);
  }
}

// The same with the pairs the taps have.
void FlushTaps(const std::uint16_t* units, const TitleTaps& t, int count, std::uint32_t c,
               std::uint8_t* d) {
  if (t.pairs <= 1) return FlushTapsAvx512<1>(units, t, count, c, d);
  if (t.pairs == 2) return FlushTapsAvx512<2>(units, t, count, c, d);
  FlushTapsAvx512<3>(units, t, count, c, d);
}
#endif

// Per picture column px of the shrinking path (virtual column px + ox, ax units wide, in stage
// columns bx wide): starting[px], the stage column of its first unit and c times the units from
// there to that column's end; ending[px + 1], the stage column of its last unit and c times the
// units from that column's start through it. The column a unit falls in is kept as px goes on
// (a picture column is narrower than a stage column when shrinking), so only the first takes a
// division: a title that changes size every frame makes these anew each time.
void MakeRunEdges(int srcW, std::int64_t ox, std::int64_t ax, std::int64_t bx, std::uint32_t c,
                  TitleRunEdge* starting, TitleRunEdge* ending) {
  const auto cbx = c * static_cast<std::uint32_t>(bx);
  const std::int64_t u0 = ox * ax;
  std::int64_t column = u0 / bx, into = u0 - column * bx;  // where column px's first unit falls
  ending[0] = TitleRunEdge{0, 0};
  for (int px = 0; px < srcW; ++px) {
    starting[px] =
        TitleRunEdge{static_cast<std::int32_t>(column), c * static_cast<std::uint32_t>(bx - into)};
    for (into += ax; into >= bx; into -= bx) ++column;
    // The last unit lies in the column the next picture column starts in, or the one before
    // when that one starts on a stage column's first unit.
    ending[px + 1] = into != 0 ? TitleRunEdge{static_cast<std::int32_t>(column),
                                              c * static_cast<std::uint32_t>(into)}
                               : TitleRunEdge{static_cast<std::int32_t>(column - 1), cbx};
  }
}

void ClearRect(Bitmap8& buf, const TitleRect& r) {
  for (int y = r.top; y < r.bottom; ++y) {
    std::memset(buf.Row(y) + r.left, 0, static_cast<std::size_t>(r.right - r.left));
  }
}

}  // namespace

CTitle::CTitle(LayerSettings* settings) : CMonoBmp(settings) {}

CTitle::~CTitle() = default;

// --- start ---------------------------------------------------------------------------------------

void CTitle::StartTitle(const CTimeTitle& rec) {
  const int i = rec.BmpNo;
  CMonoGraph* g = Entry(i);
  if (g == nullptr) return;
  const int w = g->bitmap.width, h = g->bitmap.height;
  if (w <= 0 || h <= 0 || w > kMaxTitleWidth) return;
  try {
    auto st = std::make_unique<CPtDataT>();
    st->halfWidth = w / 2;
    st->halfHeight = h / 2;
    st->z = rec.ZPos + kFocalDistance;
    st->zStep = rec.ZPosPlus * kZStepPerSpeed;
    st->contrast = rec.Contrast;
    st->lifetime = rec.Time / kTickMs;
    if (!st->buffer.Create(kStageWidth, kStageHeight) || !st->silhouette.Create(w, h)) return;
    // The silhouette: every non-black pixel of the title picture, centred like the picture.
    Picture pic;
    const std::string name(rec.FileName, strnlen(rec.FileName, sizeof rec.FileName));
    if (settings != nullptr) {
      LoadPictureOrNotFound(*settings, name, &pic);
    } else {
      LoadBuiltinPicture("NOTFOUND", &pic);
    }
    const int ox = w / 2 - pic.rgb.width / 2, oy = h / 2 - pic.rgb.height / 2;
    for (int y = 0; y < pic.rgb.height; ++y) {
      if (oy + y < 0 || oy + y >= h) continue;
      const std::uint32_t* row = pic.rgb.Row(y);
      for (int x = 0; x < pic.rgb.width; ++x) {
        if (ox + x >= 0 && ox + x < w && (row[x] & 0x00FFFFFFu) != 0) {
          st->silhouette.Set(ox + x, oy + y, true);
        }
      }
    }
    state[i] = std::move(st);
  } catch (const std::bad_alloc&) {
    return;
  }
  g->colour = rec.Color;
  BuildShadeRamp(i);
}

// --- set -----------------------------------------------------------------------------------------

void CTitle::SetTitle(const CTimeSchedule& rec) {
  const int i = rec.BmpNo;
  CMonoGraph* g = Entry(i);
  // A schedule for a title that is not playing has nothing to change.
  if (g == nullptr || !state[i]) return;
  CMvDataT* anim = EnsureAnimation(animation[i]);
  if (anim == nullptr) return;
  CMvDataT& mv = *anim;
  const CPtDataT& st = *state[i];
  const std::int32_t n = FadeFrames(rec.Time);
  const bool speedGiven = rec.Speed != kUnsetReal;
  if (rec.Mode == kModeMove) {
    if (speedGiven) {
      mv.speedCount = 0x7FFFFFFF;
      mv.speedDelta = rec.Speed * kZStepPerSpeed / n;
    }
    return;
  }
  if (rec.Mode != kModeSet) return;
  if (speedGiven) {
    mv.speedCount = n;
    mv.speedTarget = rec.Speed * kZStepPerSpeed;
    mv.speedDelta = (mv.speedTarget - st.zStep) / n;
  }
  mv.fade.Start(rec, n, g->colour, st.contrast);
}

// --- animate -------------------------------------------------------------------------------------

int CTitle::AnimateTitles() {
  for (int i = 0; i < count; ++i) {
    if (!state[i] || !animation[i]) continue;
    CPtDataT& st = *state[i];
    CMvDataT& mv = *animation[i];
    st.lifetime -= 1;
    if (st.lifetime <= 0) {
      EndEntry(i);
      continue;
    }
    if (mv.speedCount != 0) {
      st.zStep = mv.speedCount == 1 ? mv.speedTarget : st.zStep + mv.speedDelta;
      mv.speedCount -= 1;
    }
    if (mv.fade.StepColour(entries[i]->colour)) BuildShadeRamp(i);
    mv.fade.StepContrast(st.contrast);
  }
  int any = 0;
  for (int i = 0; i < count; ++i) {
    if (!state[i]) continue;
    any = 1;
    CPtDataT& st = *state[i];
    const CMonoGraph& g = *entries[i];
    if (FromScratch) std::fill(st.buffer.pixels.begin(), st.buffer.pixels.end(), 0);
    const double z = st.z == 0 ? 1 : st.z;
    const double ws = st.halfWidth * 270 / z * 2;
    const double hs = st.halfHeight * 270 / z * 2;
    if (!std::isfinite(ws) || !std::isfinite(hs)) {
      st.rect = TitleRect();
    } else if (g.bitmap.width > ws) {
      st.rect = Shrink(g, st, ws, hs);
    } else if (ws > kMaxScaledSide || hs > kMaxScaledSide) {
      st.rect = TitleRect();
    } else {
      st.rect = Enlarge(g, st, static_cast<int>(ws), static_cast<int>(hs));
    }
    st.z += st.zStep;
  }
  return any;
}

TitleRect CTitle::Enlarge(const CMonoGraph& g, CPtDataT& st, int w, int h) {
  const int srcW = g.bitmap.width, srcH = g.bitmap.height;
  const double r = static_cast<double>(srcW) / w;
  int sx0 = 0, sw = srcW, dx = kStageCentreX - w / 2, dw = w;
  if (w > kStageWidth) {
    const double cut = (w - kStageWidth) * r;
    sx0 = static_cast<int>(cut * 0.5);
    sw = srcW - static_cast<int>(cut);
    dx = 0;
    dw = kStageWidth;
  }
  int sy0 = 0, sh = srcH, dy = kStageCentreY - h / 2, dh = h;
  if (h > kStageHeight) {
    const double cut = (h - kStageHeight) * r;
    sy0 = static_cast<int>(cut * 0.5);
    sh = srcH - static_cast<int>(cut);
    dy = 0;
    dh = kStageHeight;
  }
  // With one source column left (or none) the picture is magnified past the stage: draw nothing
  // rather than leave last frame's levels to be shown again.
  if (sw <= 1 || sh < 1 || dw <= 0 || dh <= 0) return TitleRect();
  NearestCopy(&g.bitmap, st.silhouette, sx0, sw, sy0, sh, dx, dw, dy, dh, st.buffer, simd);
  return TitleRect{dx, dy, dx + dw, dy + dh};
}

bool CTitle::RowsPay(const CPtDataT& st, int laneWords, std::int64_t ax, std::int64_t bx,
                     std::int64_t ay, std::int64_t by, std::uint32_t c) const {
#if defined(OX_TITLE_WIDE_SIMD)
  // A run costs about as much as this many masked adds of sixteen columns.
  constexpr std::size_t kRunCost = 4;
  const std::size_t rows = st.inkRowStart.size() - 1;
  // Sums of units and tap weights below 2^15, as the 16-bit multiply-adds take them.
  constexpr std::int64_t kMaxUnits = 0x7FFF;
  static const bool wordOps = __builtin_cpu_supports("avx512bw");
  return simd == TitleSimd::kAvx512 && wordOps && bx <= 4 * ax && ax <= kMaxUnits &&
         by <= kMaxUnits && by <= (kMaxRowShares - 2) * ay && c != 0 &&
         st.inkRuns.size() * kRunCost > rows * static_cast<std::size_t>(laneWords);
#else
  (void)st, (void)laneWords, (void)ax, (void)bx, (void)ay, (void)by, (void)c;
  return false;
#endif
}

bool CTitle::PrepareRows(CPtDataT& st, int srcW, std::int64_t sw, std::int64_t ax, std::int64_t bx,
                         int col0, int colCount, int phase) {
  const int laneWords = LaneWords(srcW);
  try {
    if (!taps) taps = std::make_unique<TitleTaps>();
    // The taps read 64 + 4 columns from a block's first, at most the last virtual column; the
    // rows are shifted by a phase below 32 and start on a 64-byte boundary.
    const auto size = static_cast<std::size_t>(sw) + 72 + 32 + kUnitsAlign;
    for (auto& units : columnUnits) {
      if (units.size() < size) units.resize(size, 0);
    }
    if (st.inkLanes.size() != (st.inkRowStart.size() - 1) * static_cast<std::size_t>(laneWords)) {
      MakeInkLanes(st.inkRuns, st.inkRowStart, laneWords, st.inkLanes);
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  taps->Make(ax, bx, col0, colCount, phase);
  return true;
}

TitleRect CTitle::Shrink(const CMonoGraph& g, CPtDataT& st, double ws, double hs) {
  if (!(ws >= 1) || !(hs >= 1)) return TitleRect();
  const int srcW = g.bitmap.width, srcH = g.bitmap.height;
  // Stage extent s x t (even) and the source extent sw x sh it covers; sw should be even so the
  // picture sits exactly in the middle of the virtual source.
  int s = static_cast<int>(std::ceil(ws)), t = static_cast<int>(std::ceil(hs));
  s = (s + 1) & ~1;
  t = (t + 1) & ~1;
  const double scaleX = ws / srcW, scaleY = hs / srcH;
  std::int64_t sw = 0, sh = 0;
  for (int tries = 0; tries < kTitleEvenSearchTries; ++tries) {
    sw = static_cast<std::int64_t>(s / scaleX);
    sh = static_cast<std::int64_t>(t / scaleY);
    if (sw % 2 == 0 || tries == kTitleEvenSearchTries - 1) break;
    s += 2;
    t += 2;
  }
  if (s + 1 > kTitleAccumulatorColumns || sw < srcW || sh < srcH) return TitleRect();
  const int x = kStageCentreX - s / 2, y = kStageCentreY - t / 2;
  const std::int64_t ox = (sw - srcW) / 2, oy = (sh - srcH) / 2;

  TitleRect r;
  r.left = std::max(x, 0);
  r.top = std::max(y, 0);
  r.right = std::min(x + s, kStageWidth);
  r.bottom = std::min(y + t, kStageHeight);

  // Silhouette: the whole picture onto the s x t rectangle, cut to the stage, which sets every
  // level of r; last frame's levels need clearing only where they reach outside it.
  int sx0 = 0, sws = srcW, dx = x, dw = s;
  if (x < 0) {
    const int cut = static_cast<int>(static_cast<std::int64_t>(-x) * srcW / s);
    sx0 = cut, sws = srcW - 2 * cut, dx = 0, dw = kStageWidth;
  }
  int sy0 = 0, shs = srcH, dy = y, dh = t;
  if (y < 0) {
    const int cut = static_cast<int>(static_cast<std::int64_t>(-y) * srcH / t);
    sy0 = cut, shs = srcH - 2 * cut, dy = 0, dh = kStageHeight;
  }
  const bool silhouette = sws > 0 && shs > 0;
  const TitleRect& was = st.rect;
  const bool inside =
      was.left >= r.left && was.top >= r.top && was.right <= r.right && was.bottom <= r.bottom;
  if (!silhouette || !inside) ClearRect(st.buffer, was);

  // Ink: exact area averaging. Horizontal units: each virtual source column covers ax units,
  // each stage column bx; vertically ay and by. A stage pixel fully covered by ink receives
  // c x bx x by, just below 31 << 27.
  const std::int64_t lx = std::lcm(sw, static_cast<std::int64_t>(s));
  const std::int64_t ly = std::lcm(sh, static_cast<std::int64_t>(t));
  const std::int64_t ax = lx / sw, bx = lx / s, ay = ly / sh, by = ly / t;
  const std::uint64_t area = static_cast<std::uint64_t>(bx) * static_cast<std::uint64_t>(by);
  const std::uint32_t c = area > kFullLevel ? 0 : static_cast<std::uint32_t>(kFullLevel / area);

  // Per picture column: the stage column of its first unit and the weight of a run starting there
  // (the units up to the end of that stage column); the stage column of its last unit and the
  // weight of a run ending there (the units from the start of that stage column).
  if (st.inkRowStart.size() != static_cast<std::size_t>(srcH) + 1) {
    DecodeInkRuns(g, st.inkRuns, st.inkRowStart);
  }
  // Written columns of the accumulator rows: all s of them, or the middle 640.
  const int col0 = s > kStageWidth ? (s - kStageWidth) / 2 : 0;
  const int colCount = s > kStageWidth ? kStageWidth : s;
  const int stageX0 = s > kStageWidth ? 0 : x;
  const int laneWords = LaneWords(srcW);
  // The units rows keep virtual column v at [phase + v] from a 64-byte boundary, the phase putting
  // the picture's first column on one, so that both the stores and most loads are whole lines.
  const int phase = static_cast<int>((32 - ox % 32) % 32);
  const bool byRows = RowsPay(st, laneWords, ax, bx, ay, by, c) &&
                      PrepareRows(st, srcW, sw, ax, bx, col0, colCount, phase);
  if (silhouette && !byRows) {
    NearestCopy(nullptr, st.silhouette, sx0, sws, sy0, shs, dx, dw, dy, dh, st.buffer, simd);
  }
#if defined(OX_TITLE_WIDE_SIMD)
  if (byRows) {
    // The silhouette's rows are made just before the levels are stored over them, while they are
    // still in the first-level cache (no silhouette: none).
    NearestRows silhouetteRows(nullptr, st.silhouette, sx0, sws, sy0, shs, dx, dw, dy, dh,
                               st.buffer, simd);
    int silhouetteRow = silhouette ? dy : dy + dh;  // the next stage row it makes
    // Each visible stage row the picture touches: its units per picture column summed down, then
    // across by the taps a stage row later, so the sums are stored long before they are read.
    const int firstRow = static_cast<int>(std::max<std::int64_t>(oy * ay / by, -y));
    const int endRow =
        static_cast<int>(std::min<std::int64_t>(((srcH + oy) * ay - 1) / by + 1, kStageHeight - y));
    const std::size_t written = static_cast<std::size_t>(laneWords) * 16;
    RowShare share[kMaxRowShares];
    std::uint16_t* const units[2] = {AlignedUnits(columnUnits[0]) + phase,
                                     AlignedUnits(columnUnits[1]) + phase};
    for (int row = firstRow; row <= endRow; ++row) {
      if (row < endRow) {
        const std::int64_t top = row * by, bottom = top + by;
        int n = 0;
        for (std::int64_t py = std::max<std::int64_t>(top / ay - oy, 0);
             py < srcH && (py + oy) * ay < bottom && n < kMaxRowShares; ++py) {
          const std::int64_t from = std::max((py + oy) * ay, top);
          const std::int64_t to = std::min((py + oy + 1) * ay, bottom);
          share[n++] =
              RowShare{st.inkLanes.data() + py * laneWords, static_cast<std::uint32_t>(to - from)};
        }
        SumRowLanes(share, n, laneWords, units[row & 1] + ox);
      }
      if (row > firstRow) {
        for (; silhouetteRow <= y + row - 1; ++silhouetteRow)
          silhouetteRows.Row(silhouetteRow - dy);
        FlushTaps(units[(row - 1) & 1], *taps, colCount, c, st.buffer.Row(y + row - 1) + stageX0);
      }
    }
    for (; silhouetteRow < dy + dh; ++silhouetteRow) silhouetteRows.Row(silhouetteRow - dy);
    for (std::uint16_t* u : units) std::fill_n(u + ox, written, 0);
    return r.Empty() ? TitleRect() : r;
  }
#endif
  runEdges.resize(static_cast<std::size_t>(srcW) * 2 + 1);
  TitleRunEdge* starting = runEdges.data();
  TitleRunEdge* ending = starting + srcW;
  MakeRunEdges(srcW, ox, ax, bx, c, starting, ending);

  // Marking the blocks pays on wide rows of few runs (a solid shape), where many blocks between a
  // run's ends are passed over; a mark costs about as much as passing over a block when there are
  // this many runs to a block of each stage row (text has many runs and few empty blocks).
  constexpr int kMarkedFrom = 8 * kTitleShrinkBlock;
  constexpr std::size_t kMarkCost = 4;
  const auto blocksInRows = static_cast<std::size_t>(std::min(t, kStageHeight)) *
                            static_cast<std::size_t>((s + 1) / kTitleShrinkBlock + 1);
  const bool marked = s >= kMarkedFrom && st.inkRuns.size() * kMarkCost < blocksInRows;
  const ShrinkRow::Marking marking = !marked                          ? ShrinkRow::Marking::kNone
                                     : s + 1 < 63 * kTitleShrinkBlock ? ShrinkRow::Marking::kOneWord
                                                                      : ShrinkRow::Marking::kAll;
  // The two stage rows in progress, rows[k] the upper; each inked when a run added to it since it
  // was last stored (else its sums are all 0). The rows are not written in the loop, so passing
  // them on never waits on a store to them.
  const ShrinkRow rows[2] = {{accumulator[0], steps[0], touched[0], marking},
                             {accumulator[1], steps[1], touched[1], marking}};
  bool inked[2] = {false, false};
  int k = 0;
  // Steps pay when at least this many picture rows make one stage row: their sum costs about a
  // whole-column add per stage column, once per stage row (sixteen columns a few adds with
  // AVX-512, where they always pay).
  constexpr int kRowsForSteps = 4;
  const bool stepped = simd == TitleSimd::kAvx512 || by >= kRowsForSteps * ay;
  auto flush = [&](int row, int i) {
    const int sy = y + row;
    const ShrinkRow& acc = rows[i];
    if (!inked[i]) return;  // no levels to store, nothing to clear
    const bool onStage = sy >= 0 && sy < kStageHeight;
    std::uint8_t* d = onStage ? st.buffer.Row(sy) + stageX0 : nullptr;
    if (stepped) {
      if (marking == ShrinkRow::Marking::kNone) std::fill_n(acc.touched, kTitleTouchedWords, ~0ull);
      FlushShrunkRow(acc.acc, acc.steps, s, col0, onStage ? colCount : 0, d, simd, acc.touched);
      return;
    }
    if (onStage) StoreShrunkLevels(acc.acc + col0, colCount, d);
    std::memset(acc.acc, 0, static_cast<std::size_t>(s + 1) * sizeof(std::uint32_t));
  };

  const std::uint32_t* runs = st.inkRuns.data();
  int curRow = static_cast<int>((oy * ay) / by);
  // The stage row picture row py starts in and how many of its units lie above that start, kept
  // as py goes on (a picture row is shorter than a stage row when shrinking).
  int row = curRow;
  std::int64_t into = oy * ay - row * by;
  for (int py = 0; py < srcH; ++py) {
    if (py > 0) {
      for (into += ay; into >= by; into -= by) ++row;
    }
    if (row != curRow) {
      flush(curRow, k);
      inked[k] = false;
      k ^= 1;
      curRow = row;
    }
    if (y + row >= kStageHeight) break;
    const std::uint32_t* run = runs + st.inkRowStart[static_cast<std::size_t>(py)];
    const std::uint32_t* runEnd = runs + st.inkRowStart[static_cast<std::size_t>(py) + 1];
    if (run == runEnd || y + row + 1 < 0 || c == 0) continue;
    // Vertical weights: A units to this stage row, B to the next.
    const std::uint32_t wa = static_cast<std::uint32_t>(std::min(ay, by - into));
    const std::uint32_t wb = static_cast<std::uint32_t>(ay) - wa;
    const std::uint32_t fullA = wa * c * static_cast<std::uint32_t>(bx);
    const std::uint32_t fullB = wb * c * static_cast<std::uint32_t>(bx);
    inked[k] = true;
    inked[k ^ 1] = inked[k ^ 1] || wb != 0;
    if (stepped) {
      AddRowRuns<true>(run, runEnd, starting, ending, wa, wb, fullA, fullB, rows[k], rows[k ^ 1]);
    } else {
      AddRowRuns<false>(run, runEnd, starting, ending, wa, wb, fullA, fullB, rows[k], rows[k ^ 1]);
    }
  }
  // The row in progress and the lower part of the picture's last row.
  flush(curRow, k);
  flush(curRow + 1, k ^ 1);

  if (r.Empty()) return TitleRect();
  return r;
}

// --- draw ----------------------------------------------------------------------------------------

namespace {

constexpr std::uint32_t kAlphaBits = 0xFF000000u;

// An opaque title's levels as table rows: a stage pixel keeps the bits of keep[level] and takes
// those of colour[level], so level 0 keeps the pixel and every other level sets its ramp colour.
struct OpaqueLevels {
  std::uint32_t keep[256];
  std::uint32_t colour[256];
  explicit OpaqueLevels(const ShadeSlot* ramp) {
    keep[0] = ~0u;
    colour[0] = 0;
    for (int l = 1; l < 256; ++l) {
      keep[l] = kAlphaBits;
      colour[l] = ramp[l].packed & ~kAlphaBits;
    }
  }
  std::uint32_t Onto(std::uint8_t level, std::uint32_t d) const {
    return (d & keep[level]) | colour[level];
  }
};

// Four pixels of one level.
inline void ShadeOpaqueFourOf(std::uint8_t level, std::uint32_t* d, const OpaqueLevels& t) {
#if defined(__SSE2__)
  const __m128i keep = _mm_set1_epi32(static_cast<int>(t.keep[level]));
  const __m128i colour = _mm_set1_epi32(static_cast<int>(t.colour[level]));
  auto* p = reinterpret_cast<__m128i*>(d);
  _mm_storeu_si128(p, _mm_or_si128(_mm_and_si128(_mm_loadu_si128(p), keep), colour));
#else
  for (int k = 0; k < 4; ++k) d[k] = (d[k] & t.keep[level]) | t.colour[level];
#endif
}

// Four pixels: one level for all four (the inside of a stroke, or the empty space between
// strokes) takes one look-up, mixed levels one each.
inline void ShadeOpaqueFour(const std::uint8_t* b, std::uint32_t* d, const OpaqueLevels& t) {
  std::uint32_t four;
  std::memcpy(&four, b, sizeof four);
  if (four == (four & 0xFF) * 0x01010101u) {
    if (four != 0) ShadeOpaqueFourOf(b[0], d, t);
    return;
  }
  for (int k = 0; k < 4; ++k) d[k] = t.Onto(b[k], d[k]);
}

void ShadeOpaqueRow(const std::uint8_t* b, std::uint32_t* d, int left, int right,
                    const OpaqueLevels& t) {
  int x = left;
#if defined(__SSE2__)
  // Sixteen levels at a time: a block of one level (most of a title: empty, silhouette or full
  // ink) is one colour for all sixteen pixels, four to a vector.
  for (; x + 16 <= right; x += 16) {
    const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + x));
    const int same = _mm_movemask_epi8(_mm_cmpeq_epi8(l, _mm_slli_si128(l, 1))) | 1;
    if (same != 0xFFFF) {
      for (int k = x; k < x + 16; k += 4) ShadeOpaqueFour(b + k, d + k, t);
      continue;
    }
    const std::uint8_t level = b[x];
    if (level == 0) continue;
    for (int k = x; k < x + 16; k += 4) ShadeOpaqueFourOf(level, d + k, t);
  }
#else
  // Eight levels at a time, passed over when all are empty.
  for (; x + 8 <= right; x += 8) {
    std::uint64_t eight;
    std::memcpy(&eight, b + x, sizeof eight);
    if (eight == 0) continue;
    ShadeOpaqueFour(b + x, d + x, t);
    ShadeOpaqueFour(b + x + 4, d + x + 4, t);
  }
#endif
  for (; x < right; ++x) d[x] = t.Onto(b[x], d[x]);
}

#if defined(OX_TITLE_WIDE_SIMD)
// The ramp levels 1..31 and the silhouette are looked up sixteen (AVX-512) or eight (AVX2) at a
// time, whatever mix of levels a block holds; a block with any other level (never rendered, but
// the buffer may hold one) is drawn from the table one pixel at a time.

__attribute__((target("avx512f"))) void ShadeOpaqueRowAvx512(const std::uint8_t* b,
                                                             std::uint32_t* d, int left, int right,
                                                             const OpaqueLevels& t) {
  const __m512i low = _mm512_loadu_si512(t.colour), high = _mm512_loadu_si512(t.colour + 16);
  const __m512i back = _mm512_set1_epi32(static_cast<int>(t.colour[kTitleSilhouette]));
  const __m512i alpha = _mm512_set1_epi32(static_cast<int>(kAlphaBits));
  const __m512i ramp = _mm512_set1_epi32(kTitleInk + 1);
  const __m512i silhouette = _mm512_set1_epi32(kTitleSilhouette);
  int x = left;
  for (; x + 16 <= right; x += 16) {
    const __m128i l8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + x));
    if (_mm_testz_si128(l8, l8)) continue;
    const __m512i l = _mm512_maskz_cvtepu8_epi32(0xFFFF, l8);  // the plain form trips GCC 12
    const __mmask16 inRamp = _mm512_cmplt_epu32_mask(l, ramp);
    const __mmask16 isBack = _mm512_cmpeq_epi32_mask(l, silhouette);
    if ((inRamp | isBack) != 0xFFFF) {
      for (int k = x; k < x + 16; ++k) d[k] = t.Onto(b[k], d[k]);
      continue;
    }
    const __m512i colour =
        _mm512_mask_mov_epi32(_mm512_permutex2var_epi32(low, l, high), isBack, back);
    const __m512i px = _mm512_loadu_si512(d + x);
    // (px & alpha) | colour, stored where the level is not 0.
    _mm512_mask_storeu_epi32(d + x, _mm512_test_epi32_mask(l, l),
                             _mm512_ternarylogic_epi32(px, alpha, colour, 0xEA));
  }
  for (; x < right; ++x) d[x] = t.Onto(b[x], d[x]);
}

__attribute__((target("avx2"))) inline __m256i PickAvx2(__m256i a, __m256i b, __m256i top) {
  return _mm256_castps_si256(
      _mm256_blendv_ps(_mm256_castsi256_ps(a), _mm256_castsi256_ps(b), _mm256_castsi256_ps(top)));
}

__attribute__((target("avx2"))) void ShadeOpaqueRowAvx2(const std::uint8_t* b, std::uint32_t* d,
                                                        int left, int right,
                                                        const OpaqueLevels& t) {
  const auto* c = reinterpret_cast<const __m256i*>(t.colour);
  const __m256i c0 = _mm256_loadu_si256(c), c1 = _mm256_loadu_si256(c + 1);
  const __m256i c2 = _mm256_loadu_si256(c + 2), c3 = _mm256_loadu_si256(c + 3);
  const __m256i back = _mm256_set1_epi32(static_cast<int>(t.colour[kTitleSilhouette]));
  const __m256i alpha = _mm256_set1_epi32(static_cast<int>(kAlphaBits));
  const __m256i lastInk = _mm256_set1_epi32(kTitleInk);
  const __m256i silhouette = _mm256_set1_epi32(kTitleSilhouette);
  const __m256i zero = _mm256_setzero_si256();
  int x = left;
  for (; x + 8 <= right; x += 8) {
    std::int64_t eight;
    std::memcpy(&eight, b + x, sizeof eight);
    if (eight == 0) continue;
    auto* p = reinterpret_cast<__m256i*>(d + x);
    if (static_cast<std::uint64_t>(eight) == (eight & 0xFF) * kEveryByte) {
      // Eight pixels of one level (the inside of a stroke): one colour, no look-ups.
      const std::uint8_t level = b[x];
      const __m256i keep = _mm256_set1_epi32(static_cast<int>(t.keep[level]));
      const __m256i one = _mm256_set1_epi32(static_cast<int>(t.colour[level]));
      _mm256_storeu_si256(p, _mm256_or_si256(_mm256_and_si256(_mm256_loadu_si256(p), keep), one));
      continue;
    }
    const __m256i l = _mm256_cvtepu8_epi32(_mm_cvtsi64_si128(eight));
    const __m256i isBack = _mm256_cmpeq_epi32(l, silhouette);
    const __m256i other = _mm256_andnot_si256(isBack, _mm256_cmpgt_epi32(l, lastInk));
    if (!_mm256_testz_si256(other, other)) {
      for (int k = x; k < x + 8; ++k) d[k] = t.Onto(b[k], d[k]);
      continue;
    }
    // Levels 0..31: the permutes look up bits 0-2, and bits 3 and 4 (moved to the sign bit)
    // choose among the four.
    const __m256i bit3 = _mm256_slli_epi32(l, 28), bit4 = _mm256_slli_epi32(l, 27);
    const __m256i lowHalf =
        PickAvx2(_mm256_permutevar8x32_epi32(c0, l), _mm256_permutevar8x32_epi32(c1, l), bit3);
    const __m256i highHalf =
        PickAvx2(_mm256_permutevar8x32_epi32(c2, l), _mm256_permutevar8x32_epi32(c3, l), bit3);
    const __m256i colour = _mm256_blendv_epi8(PickAvx2(lowHalf, highHalf, bit4), back, isBack);
    const __m256i px = _mm256_loadu_si256(p);
    const __m256i shaded = _mm256_or_si256(_mm256_and_si256(px, alpha), colour);
    _mm256_storeu_si256(p, _mm256_blendv_epi8(shaded, px, _mm256_cmpeq_epi32(l, zero)));
  }
  for (; x < right; ++x) d[x] = t.Onto(b[x], d[x]);
}
#endif

// An opaque title's row with the chosen instruction set.
void ShadeOpaqueRowWith(TitleSimd simd, const std::uint8_t* b, std::uint32_t* d, int left,
                        int right, const OpaqueLevels& t) {
#if defined(OX_TITLE_WIDE_SIMD)
  if (simd == TitleSimd::kAvx512) return ShadeOpaqueRowAvx512(b, d, left, right, t);
  if (simd == TitleSimd::kAvx2) return ShadeOpaqueRowAvx2(b, d, left, right, t);
#endif
  (void)simd;
  ShadeOpaqueRow(b, d, left, right, t);
}

// One level onto its stage pixel with the title's contrast; level 0 is empty.
inline void BlendLevel(std::uint8_t level, std::uint32_t* d, const ShadeSlot* ramp,
                       std::int32_t contrast) {
  if (level != 0) ShadePixel(d, ramp[level], contrast);
}

#if defined(__SSE2__)
// The ramp's colours for a faded title, or false when a slot or the contrast lies outside what
// the vector blend computes exactly (components 0..255, contrast 0..255 in its third byte).
bool BlendColours(const ShadeSlot* ramp, std::int32_t contrast, std::uint32_t* colour) {
  if (contrast < 0 || contrast > 0xFFFFFF) return false;
  colour[0] = 0;
  for (int l = 1; l < 256; ++l) {
    const ShadeSlot& s = ramp[l];
    if ((s.r | s.g | s.b) & ~0xFF) return false;
    colour[l] = static_cast<std::uint32_t>(s.r << 16 | s.g << 8 | s.b);
  }
  return true;
}

// d + a x (s - d) / 256 per byte, the quotient cut toward 0, for a = 0..255: the magnitude of
// a x (s - d) fits sixteen unsigned bits, so it is shifted and then given the sign of s - d.
__m128i BlendBytes(__m128i d, __m128i s, __m128i a) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i up = _mm_subs_epu8(s, d), down = _mm_subs_epu8(d, s);
  auto half = [&](__m128i d16, __m128i up16, __m128i down16) {
    const __m128i u = _mm_srli_epi16(_mm_mullo_epi16(up16, a), 8);
    const __m128i v = _mm_srli_epi16(_mm_mullo_epi16(down16, a), 8);
    return _mm_sub_epi16(_mm_add_epi16(d16, u), v);
  };
  const __m128i lo =
      half(_mm_unpacklo_epi8(d, zero), _mm_unpacklo_epi8(up, zero), _mm_unpacklo_epi8(down, zero));
  const __m128i hi =
      half(_mm_unpackhi_epi8(d, zero), _mm_unpackhi_epi8(up, zero), _mm_unpackhi_epi8(down, zero));
  return _mm_packus_epi16(lo, hi);
}

// Four pixels at a time with the colours looked up per level; a pixel whose level is 0 is
// blended with itself (and so kept), as is the alpha byte of every pixel.
void BlendRowVector(const std::uint8_t* b, std::uint32_t* d, int left, int right,
                    const std::uint32_t* colour, std::int32_t contrast, const ShadeSlot* ramp) {
  const __m128i a = _mm_set1_epi16(static_cast<std::int16_t>(contrast >> 16));
  const __m128i zero = _mm_setzero_si128();
  const __m128i alpha = _mm_set1_epi32(static_cast<int>(kAlphaBits));
  int x = left;
  for (; x + 4 <= right; x += 4) {
    std::int32_t four;
    std::memcpy(&four, b + x, sizeof four);
    if (four == 0) continue;
    const __m128i l = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(four), zero), zero);
    const __m128i keep = _mm_or_si128(_mm_cmpeq_epi32(l, zero), alpha);
    const __m128i c =
        _mm_set_epi32(static_cast<int>(colour[b[x + 3]]), static_cast<int>(colour[b[x + 2]]),
                      static_cast<int>(colour[b[x + 1]]), static_cast<int>(colour[b[x]]));
    auto* p = reinterpret_cast<__m128i*>(d + x);
    const __m128i px = _mm_loadu_si128(p);
    const __m128i s = _mm_or_si128(_mm_and_si128(keep, px), _mm_andnot_si128(keep, c));
    _mm_storeu_si128(p, BlendBytes(px, s, a));
  }
  for (; x < right; ++x) BlendLevel(b[x], d + x, ramp, contrast);
}
#endif

// The levels of one row of a faded title, one pixel at a time.
void BlendRow(const std::uint8_t* b, std::uint32_t* d, int left, int right, const ShadeSlot* ramp,
              std::int32_t contrast) {
  for (int x = left; x < right; ++x) BlendLevel(b[x], d + x, ramp, contrast);
}

}  // namespace

void CTitle::DrawTitles(StageBitmap& stage) {
  if (stage.width != kStageWidth || stage.height != kStageHeight) return;
  for (int i = 0; i < count; ++i) {
    const CPtDataT* st = state[i].get();
    if (st == nullptr || st->contrast == 0 || st->rect.Empty()) continue;
    const ShadeSlot* ramp = entries[i]->ShadeRamp;
    const std::int32_t contrast = st->contrast;
    const TitleRect& r = st->rect;
    if (contrast == 0xFF0000) {
      const OpaqueLevels table(ramp);
      for (int y = r.top; y < r.bottom; ++y) {
        ShadeOpaqueRowWith(simd, st->buffer.Row(y), stage.Row(y), r.left, r.right, table);
      }
      continue;
    }
#if defined(__SSE2__)
    std::uint32_t colour[256];
    if (BlendColours(ramp, contrast, colour)) {
      for (int y = r.top; y < r.bottom; ++y) {
        BlendRowVector(st->buffer.Row(y), stage.Row(y), r.left, r.right, colour, contrast, ramp);
      }
      continue;
    }
#endif
    for (int y = r.top; y < r.bottom; ++y) {
      BlendRow(st->buffer.Row(y), stage.Row(y), r.left, r.right, ramp, contrast);
    }
  }
}

TitleSimd BestTitleSimd() {
#if defined(OX_TITLE_WIDE_SIMD)
  if (__builtin_cpu_supports("avx512f")) return TitleSimd::kAvx512;
  if (__builtin_cpu_supports("avx2")) return TitleSimd::kAvx2;
  if (__builtin_cpu_supports("ssse3")) return TitleSimd::kSsse3;
#endif
  return TitleSimd::kBase;
}

// --- clear ---------------------------------------------------------------------------------------

void CTitle::EndEntry(int index) {
  state[index].reset();
  animation[index].reset();
}

void CTitle::ClearTitles() {
  for (int i = 0; i < kMaxMonoEntries; ++i) {
    state[i].reset();
    animation[i].reset();
  }
  ClearEntries();
}
