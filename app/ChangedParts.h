// The parts of a frame that changed against the frame shown: changes far apart get parts of
// their own, so a frame whose changes are small and scattered is drawn and sent as little more
// than the changed pixels.
#pragma once

#include <cstdint>

#include "app/BoxList.h"
#include "app/DisplayGeometry.h"
#include "app/PartList.h"
#include "render/Bitmap.h"
#include "render/PixelOps.h"

// Frames are compared in bands of this many rows. A band's changes are split where at least
// kChangeGapBlocks blocks of kChangeBlock columns lie unchanged in every row of the band; the
// pieces of all bands are then joined as PartList joins them, into at most kMaxChangedParts.
inline constexpr int kChangeBandRows = 16;
inline constexpr int kChangeBlock = 16;
inline constexpr int kChangeGapBlocks = 2;
inline constexpr int kMaxChangedParts = 16;
static_assert(kMaxChangedParts <= PartList::kCapacity);
// Frames wider than this are not split across columns (each band's changes are one piece).
inline constexpr int kMaxChangeColumns = 4096;

// The changed parts of `now` against `before` (bitmaps of one size) into `parts` (room for
// kMaxChangedParts); their count. Parts are joined where the join adds at most `joinPixels`.
int ChangedParts(const Bitmap32& before, const Bitmap32& now, RectXYWH* parts,
                 std::int64_t joinPixels = kPartCostPixels);
// The same against the part of `before` of now's size at (x, y), which `before` must hold.
int ChangedParts(const Bitmap32& before, int x, int y, const Bitmap32& now, RectXYWH* parts,
                 std::int64_t joinPixels = kPartCostPixels);
// The same, copying each changed pixel of `now` into `before` as it is compared: `before` then
// holds now's pixels there. `simd` at most BestPixelSimd().
int CopyChangedParts(Bitmap32& before, int x, int y, const Bitmap32& now, RectXYWH* parts,
                     std::int64_t joinPixels = kPartCostPixels,
                     PixelSimd simd = BestPixelSimd());
// The same within `areas` of `now` only (cut to now): the rest of `before` is known to hold now's
// pixels already.
int CopyChangedParts(Bitmap32& before, int x, int y, const Bitmap32& now, const BoxList& areas,
                     RectXYWH* parts, std::int64_t joinPixels = kPartCostPixels,
                     PixelSimd simd = BestPixelSimd());
