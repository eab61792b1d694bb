// The title layer: square one-bit pictures centred on the stage that fly along the viewing axis,
// shrunk with exact area averaging into 32 levels and enlarged by nearest pixel, each over a
// silhouette in the background colour.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "render/Bitmap.h"
#include "render/CMonoBmp.h"
#include "render/LayerEvents.h"
#include "render/MonoAnimation.h"

// The shrinking path accumulates at most this many destination columns, so wider title pictures
// are refused by StartTitle.
inline constexpr int kMaxTitleWidth = 2048;
// How often the shrinking path widens the stage rectangle looking for an even source extent.
inline constexpr int kTitleEvenSearchTries = 21;
// Accumulator columns: the widest picture, the growth of the even-size search and the spill
// of the last column's second weight.
inline constexpr int kTitleAccumulatorColumns = kMaxTitleWidth + 2 * kTitleEvenSearchTries + 4;
// The shrinking path's row pass goes by blocks of this many accumulator columns, each marked when
// a run may have left a sum or step in it; the rows are whole blocks long, past the last step.
inline constexpr int kTitleShrinkBlock = 16;
inline constexpr int kTitleShrinkBlocks = kTitleAccumulatorColumns / kTitleShrinkBlock + 1;
inline constexpr int kTitleShrinkRow = kTitleShrinkBlocks * kTitleShrinkBlock;
inline constexpr int kTitleTouchedWords = (kTitleShrinkBlocks + 63) / 64;
inline constexpr std::uint8_t kTitleSilhouette = 255;  // buffer value painted in BackColour
inline constexpr std::uint8_t kTitleInk = 31;          // full ink level

// The vector instruction sets the title layer can use, widest last. kBase is SSE2 where the build
// has it (always on x86-64), else plain C++; the others are chosen at run time.
enum class TitleSimd { kBase, kSsse3, kAvx2, kAvx512 };
// The widest set this processor and build can run.
TitleSimd BestTitleSimd();

// Nearest-pixel copy of source columns sx0..sx0+sw-1 and rows sy0..sy0+sh-1 of a title picture
// (and its silhouette, of the same size) onto the stage rectangle (dx, dy, dw, dh) of `buf`:
// kTitleInk where the picture has ink, else kTitleSilhouette where the silhouette is set, else 0.
// With `ink` null only the silhouette is copied. The source columns lie inside the pictures,
// which are at most kMaxTitleWidth wide, and the rectangle inside the stage. `simd` at most
// BestTitleSimd().
void NearestCopy(const Bitmap1* ink, const Bitmap1& sil, int sx0, int sw, int sy0, int sh, int dx,
                 int dw, int dy, int dh, Bitmap8& buf, TitleSimd simd = BestTitleSimd());

// The shrinking path's row of sums onto its stage row: each of the n sums whose top five bits
// are not all 0 sets its pixel to that level (1..31); the others leave the pixel as it is.
void StoreShrunkLevels(const std::uint32_t* acc, int n, std::uint8_t* d);

// One stage row of the shrinking path: the sum of column i is acc[i] plus steps[0] + ... +
// steps[i] (all wrapping in 32 bits); each sum of columns [first, first + count) whose top five
// bits are not all 0 sets d[i - first] to that level, the others leave it as it is. acc and steps
// are kTitleShrinkRow long and 0 past s + 1. Bit b of `touched` is set where block b of columns
// [16b, 16b + 16) may hold a sum or step that is not 0; a block without its bit holds none, so its
// sums all equal the sum so far and are stored without being read. acc, steps and touched are
// left 0. `simd` at most BestTitleSimd(); d may be null when count is 0.
void FlushShrunkRow(std::uint32_t* acc, std::uint32_t* steps, int s, int first, int count,
                    std::uint8_t* d, TitleSimd simd, std::uint64_t* touched);

// Where a run of the shrinking path that starts at, or ends before, a picture column falls: its
// first or last stage column and the weight of the units it covers there.
struct TitleRunEdge {
  std::int32_t column;
  std::uint32_t weight;
};

struct TitleRect {
  int left = 0;
  int top = 0;
  int right = 0;   // exclusive
  int bottom = 0;  // exclusive
  bool Empty() const { return right <= left || bottom <= top; }
};

// Play state of one title.
struct CPtDataT {
  double halfWidth = 0;
  double halfHeight = 0;
  double z = 0;                      // distance; drawn at scale 270 / z
  double zStep = 0;                  // added to z after every frame's rendering
  std::int32_t contrast = 0xFF0000;  // the title's own contrast
  std::int32_t lifetime = 0;         // frames
  Bitmap8 buffer;                    // 640 x 272: 0 nothing, 1..31 ink level, 255 silhouette
  Bitmap1 silhouette;                // the entry's size: 1 where the title picture is not black
  TitleRect rect;                    // what was last rendered into `buffer`
  // The picture's ink runs, row after row, as start | end << 16 (end exclusive), and where each
  // row's runs begin (one more entry than rows); read from the row codes on the first shrink.
  std::vector<std::uint32_t> inkRuns;
  std::vector<std::uint32_t> inkRowStart;
  // The same ink as sixteen-column masks, column 16k + i in bit i of word k, row after row (an
  // even number of words to a row); made from the runs when a frame first adds whole rows.
  std::vector<std::uint16_t> inkLanes;
};

// Per frame, where each visible stage column of the shrinking path takes its units from when it
// spans at most four picture columns (defined in CTitle.cpp).
struct TitleTaps;

// SET / MOVE progress of one title.
struct CMvDataT {
  std::int32_t speedCount = 0;
  double speedTarget = 0;
  double speedValue = 0;
  double speedDelta = 0;
  ColourContrastFade fade;  // of the entry's colour and the title's own contrast
};

class CTitle : public CMonoBmp {
 public:
  explicit CTitle(LayerSettings* settings);
  ~CTitle();

  // Makes entry rec.BmpNo play (a second start replaces its state). A picture wider than
  // kMaxTitleWidth is refused: the title does not play.
  void StartTitle(const CTimeTitle& rec);
  // SET / MOVE of speed, colour and contrast (schedules of kind 28, fades included).
  void SetTitle(const CTimeSchedule& rec);
  // Renders every title into its buffer and moves it on; 1 when any title plays.
  int AnimateTitles();
  void DrawTitles(StageBitmap& stage);
  // Ends every title and destroys every entry.
  void ClearTitles();

  // Clears each title's whole buffer before it is rendered, not only what the last frame used
  // (the reference player that tests compare with).
  bool FromScratch = false;
  // The instruction set DrawTitles uses (tests force each one this processor can run).
  TitleSimd simd = BestTitleSimd();

  std::unique_ptr<CPtDataT> state[kMaxMonoEntries];
  std::unique_ptr<CMvDataT> animation[kMaxMonoEntries];

 private:
  void EndEntry(int index);
  TitleRect Enlarge(const CMonoGraph& g, CPtDataT& st, int w, int h);
  TitleRect Shrink(const CMonoGraph& g, CPtDataT& st, double wScaled, double hScaled);
  // Whether the shrinking path adds whole picture rows this frame (virtual picture columns ax
  // units wide and ay high, stage columns bx wide and rows by high), and the tables for it; false
  // when they cannot be had.
  bool RowsPay(const CPtDataT& st, int laneWords, std::int64_t ax, std::int64_t bx, std::int64_t ay,
               std::int64_t by, std::uint32_t c) const;
  bool PrepareRows(CPtDataT& st, int srcW, std::int64_t sw, std::int64_t ax, std::int64_t bx,
                   int col0, int colCount, int phase);

  // The two accumulator rows of the shrinking path, the steps of their middle columns (each
  // column gains the sum of the steps up to it) and the per-frame run edges.
  std::uint32_t accumulator[2][kTitleShrinkRow] = {};
  std::uint32_t steps[2][kTitleShrinkRow] = {};
  std::uint64_t touched[2][kTitleTouchedWords] = {};  // the blocks of steps a row's runs reached
  std::vector<TitleRunEdge> runEdges;  // per picture column: starting there, then ending before it
  // Whole rows at a time (AVX-512, a stage column at most four picture columns wide): the units of
  // ink per picture column of the two stage rows, summed down the picture rows, and the taps that
  // sum them across into stage columns.
  std::vector<std::uint16_t> columnUnits[2];
  std::unique_ptr<TitleTaps> taps;
};
