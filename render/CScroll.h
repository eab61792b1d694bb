// The scrolling-text layer: a one-bit text block that scrolls upward on a plane receding toward a
// vanishing point above the stage, anti-aliased in 32 levels and dimmed with distance.
#pragma once

#include <array>
#include <climits>
#include <cstdint>
#include <memory>
#include <vector>

#include "render/Bitmap.h"
#include "render/CMonoBmp.h"
#include "render/LayerEvents.h"
#include "render/MonoAnimation.h"
#include "render/PixelOps.h"

inline constexpr int kScrollRows = kStageHeight;            // one CLineDataS per stage row
inline constexpr int kScrollColumns = kStageWidth;          // text blocks are 640 pixels wide
inline constexpr std::int32_t kScrollTotalPixels = 100368;  // sum of all row widths
inline constexpr int kScrollFullCoverage = 63488;           // 31 x 2048: full coverage of a pixel
inline constexpr int kScrollLevelUnit = 2048;               // coverage per anti-aliasing level

// The colours of two neighbouring pixels at levels l0 and l1, at l0 + kScrollLevels x l1: the
// ramp's packed colours side by side (the first pixel in the low half), so that opaque coverage
// is drawn two pixels a look-up.
inline constexpr int kScrollLevels = 32;
using ShadePairs = std::array<std::uint64_t, kScrollLevels * kScrollLevels>;
void BuildShadePairs(const ShadeSlot* ramp, ShadePairs* pairs);

// What the opaque paths look colours up in, made once per text and frame: the ramp's packed
// colours (the wide paths permute them in registers) and, for kBase, their pairs.
struct ScrollShades {
  std::array<std::uint32_t, kScrollLevels> colours = {};
  ShadePairs pairs = {};
};
void BuildScrollShades(const ShadeSlot* ramp, PixelSimd simd, ScrollShades* shades);

// One stage row of coverage onto its stage pixels: each of the n values at or above one level
// unit sets its pixel from `ramp` (opaque: the slot's packed colour, also found in `shades`;
// otherwise shaded with `contrast`); the others leave the pixel as it is. `simd` at most
// BestPixelSimd(), and the one `shades` was built for.
void DrawCoverageRow(const std::uint16_t* cov, int n, const ShadeSlot* ramp,
                     const ScrollShades& shades, std::int32_t contrast, std::uint32_t* d,
                     PixelSimd simd = PixelSimd::kBase);

// A text row that a step adds into a stage row: the one `age` rows behind the newest, times
// `factor` (16-bit wrapping: a row leaving the window adds the negated scale).
struct StepTerm {
  int age = 0;
  std::uint16_t factor = 0;
};
inline constexpr int kMaxStepTerms = 4;
// The ink spans of a text are kept for runs of 1, 2, 4 .. 2^(kSpanLevels - 1) rows: enough for
// any window of fewer than 2^kSpanLevels rows.
inline constexpr int kSpanLevels = 6;

// One stage row of the perspective, counted from the bottom (row k is drawn on stage row 271 - k).
struct CLineDataS {
  std::uint16_t y = 0;      // = k; also the first stage column of the row
  std::uint16_t width = 0;  // 640 - 2k
  double near = 0;          // text-row distances behind the newest row that this row covers
  double far = 0;
  bool isBox = false;  // box window (covers more than 1.7 text rows) or interpolating window
  // Box window: ages lo .. hi - 1 contribute `boxScale` per weight unit.
  int lo = 0;
  int hi = 0;
  std::uint16_t boxScale = 0;
  // Interpolating window: ages nearOffset .. farOffset with the four scales u, v, w, x.
  int nearOffset = 0;
  int farOffset = 0;
  std::uint16_t scaleU = 0, scaleV = 0, scaleW = 0, scaleX = 0;
  // Weight units of the exact area resampling of 640 text columns onto `width` pixels:
  // each text column covers `unitsA` units, each stage pixel `unitsB`.
  std::int32_t unitsA = 0;
  std::int32_t unitsB = 0;
  std::int32_t offset = 0;  // start of this row's slice of a coverage buffer
  // Weight unit u lies in pixel (u * pixelOfUnit) >> 32, for every unit of the row.
  std::uint64_t pixelOfUnit = 0;
  // The window's changes of one step, one term per text row (the scales of a row that enters
  // and leaves at the same age summed); the ages nearAge .. farAge hold weight after the step.
  StepTerm terms[kMaxStepTerms];
  int termCount = 0;
  int nearAge = 0;
  int farAge = 0;
  // Per text column: destination pixel and the two weights of each table (the column tables of
  // the resampling; w0 goes to columnIndex, w1 to columnIndex + 1). The step adds the same
  // weights a run of ink at a time, from the units above.
  std::vector<std::uint16_t> columnIndex;
  std::vector<std::uint16_t> lastIndex;  // pixel holding the last weight unit of each column
  std::vector<AreaWeight16> box;
  std::vector<AreaWeight16> weightsU, weightsV, weightsW, weightsX;
};

// Play state of one scrolling text.
struct CPtDataS {
  // totalPixels values (row 0's slice first) plus one spare, so a zero weight one place past the
  // last row never lands outside the buffer.
  std::vector<std::uint16_t> coverage;
  // The text's runs of ink, decoded once from its row codes: text row r's runs are the pairs
  // (first column, column past the end) at runs[2 * runStart[r]] up to runs[2 * runStart[r + 1]];
  // text row 0, never drawn, has none.
  std::vector<std::uint16_t> runs;
  std::vector<std::uint32_t> runStart;
  // The text columns [spanLeft, spanRight) holding the ink of text rows r .. r + 2^l - 1, at
  // [l * textHeight + r] (left 640 and right 0 where there is none).
  std::vector<std::uint16_t> spanLeft, spanRight;
  std::int32_t position = -1;  // P: the text row that entered last
  std::int32_t textHeight = 0;
  std::int32_t interval = 0;  // ms per one-row step
  std::int32_t nextStep = 0;  // clock value of the next step
  std::int32_t lifetime = 0;  // frames
  // The pixels of each stage row whose coverage may not be 0 after the last step, [inkFrom,
  // inkTo) counted from the row's first pixel (empty when no text row in its window has ink);
  // and the number of rows where that span is not empty (0: nothing to draw).
  std::uint16_t inkFrom[kScrollRows] = {};
  std::uint16_t inkTo[kScrollRows] = {};
  std::int32_t inkTotal = 0;
};

// SET / MOVE progress of one scrolling text.
struct CMvDataS {
  std::int32_t speedCount = 0;
  std::int32_t speedTarget = 0;
  double speedValue = 0;
  double speedDelta = 0;
  ColourContrastFade fade;  // of the entry's colour and contrast
};

class CScroll : public CMonoBmp {
 public:
  explicit CScroll(LayerSettings* settings);

  // Makes entry rec.BmpNo play; `now` is the millisecond clock.
  void StartScroll(const CTimeScroll& rec, std::int32_t now);
  // SET / MOVE of speed, colour and contrast (schedules of kind 27, fades included).
  void SetScroll(const CTimeSchedule& rec);
  // One scroll step for every playing text that is due; 1 when any stepped.
  int StepScroll(std::int32_t now);
  // One frame of animation; 1 when any text has an animation.
  int AnimateScrolls();
  void DrawScrolls(StageBitmap& stage);
  // Ends every text and destroys every entry.
  void ClearScrolls();
  // Earliest nextStep of a playing text, or INT32_MAX when none plays.
  std::int32_t NextStepDue() const;

  // True when the row table was built (false only when memory ran out at creation).
  bool Ready() const { return rowsReady; }

  // Draws every playing text whole, also where the rows in view hold no ink (the reference
  // player that tests compare with).
  bool FromScratch = false;
  // The instruction set DrawScrolls draws with (tests and benchmarks pick the others).
  PixelSimd simd = BestPixelSimd();

  CLineDataS rows[kScrollRows];
  std::int32_t totalPixels = 0;
  int activeCount = 0;
  std::unique_ptr<CPtDataS> state[kMaxMonoEntries];
  std::unique_ptr<CMvDataS> animation[kMaxMonoEntries];

 private:
  bool BuildRows();
  void StepEntry(int index, std::int32_t now);
  void EndEntry(int index);
  // Adds text row r (which has runs), times `factor`, into `diff`: the differences of
  // neighbouring pixels of `row` (pixel j changes by the sum of diff[0..j]). Widens
  // [*left, *right) to the pixels it changes; diff[*right] closes the last of them.
  static void ApplyTextRow(const CPtDataS& st, const CLineDataS& row, int r, std::uint16_t factor,
                           std::uint16_t* diff, int* left, int* right);

  bool rowsReady = false;
  ScrollShades shades_;  // of the entry being drawn
  // One step's change of a row as differences (see ApplyTextRow); all 0 between steps.
  std::array<std::uint16_t, kScrollColumns + 1> diff_ = {};
};
