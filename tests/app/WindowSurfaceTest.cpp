// The window picture: drawing clipped to the picture, and the damage record the shell repaints.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <random>
#include <vector>

#include "app/ChangedParts.h"
#include "app/WindowSurface.h"
#include "render/PixelOps.h"

namespace {

class CountingSurface : public WindowSurface {
 public:
  int calls = 0;

 protected:
  void Damaged(const RectXYWH&) override { ++calls; }
};

TEST(WindowSurface, DamageIsTheBoundOfWhatChangedClippedToThePicture) {
  CountingSurface w;
  ASSERT_TRUE(w.Resize(640, 519));
  EXPECT_EQ(w.TakeDamage(), (RectXYWH{0, 0, 640, 519}));  // a new picture is all new
  EXPECT_FALSE(w.HasDamage());
  EXPECT_EQ(w.TakeDamage(), (RectXYWH{}));

  w.Fill(10, 20, 5, 5, 0xFF);
  w.Fill(100, 10, 10, 2, 0xFF);
  EXPECT_EQ(w.TakeDamage(), (RectXYWH{10, 10, 100, 15}));
  // Off the picture: clipped, or nothing at all.
  w.Fill(630, 510, 50, 50, 0xFF);
  EXPECT_EQ(w.TakeDamage(), (RectXYWH{630, 510, 10, 9}));
  const int before = w.calls;
  w.Fill(886, 740, 69, 14, 0xFF);
  EXPECT_FALSE(w.HasDamage());
  EXPECT_EQ(w.calls, before);
  // Drawing what is there already changes nothing (a warning square drawn every frame).
  w.Fill(10, 20, 5, 5, 0xFF);
  Bitmap32 square;
  square.Create(3, 3, 0xFF);
  w.DrawBitmap(square, 11, 21);
  EXPECT_FALSE(w.HasDamage());
  w.DrawBitmap(square, 9, 21);  // its first column lands on black
  EXPECT_EQ(w.TakeDamage(), (RectXYWH{9, 21, 3, 3}));
}

// Changes far apart stay parts of their own (two sprites are not repainted with everything
// between them); parts are joined where the union adds fewer pixels than a part costs, not
// merely because they touch; past the limit the two parts whose union adds least are joined.
TEST(WindowSurface, DamagePartsJoinWhereAPartCostsMore) {
  const auto has = [](const DamageParts& d, const RectXYWH& r) {
    return std::count(d.part, d.part + d.count, r) == 1;
  };
  WindowSurface w;
  ASSERT_TRUE(w.Resize(1800, 1024));
  w.TakeDamage();
  w.Fill(10, 10, 20, 20, 0xFF);
  w.Fill(500, 400, 20, 20, 0xFF);
  w.Fill(30, 15, 10, 10, 0xFF);     // beside the first: the union adds 100 pixels
  w.Fill(400, 900, 400, 20, 0xFF);  // a wide strip and a narrow one touching it below: their
  w.Fill(400, 920, 20, 20, 0xFF);   // union would add 7600 pixels
  ASSERT_GT(PartList::JoinCost({400, 900, 400, 20}, {400, 920, 20, 20}), kPartCostPixels);
  DamageParts d = w.TakeDamageParts();
  ASSERT_EQ(d.count, 4);
  EXPECT_TRUE(has(d, {10, 10, 30, 20}));
  EXPECT_TRUE(has(d, {500, 400, 20, 20}));
  EXPECT_TRUE(has(d, {400, 900, 400, 20}));
  EXPECT_TRUE(has(d, {400, 920, 20, 20}));
  EXPECT_FALSE(w.HasDamage());
  // Overlapping parts join when the overlap sent twice costs more than the join.
  w.Fill(100, 100, 100, 100, 0x77);
  w.Fill(150, 150, 100, 100, 0x77);
  d = w.TakeDamageParts();
  ASSERT_EQ(d.count, 1);
  EXPECT_EQ(d.part[0], (RectXYWH{100, 100, 150, 150}));

  // 64-pixel squares whose unions each cost more than a part, the first two closest; one more
  // far away: the first two join, not the last one with its nearest.
  ASSERT_EQ(kMaxDamageParts, 16);
  for (int i = 0; i < kMaxDamageParts; ++i) {
    const int x = i == 1 ? 154 : (i % 8) * 200;
    w.Fill(x, (i / 8) * 200, 64, 64, 0xFF);
  }
  w.Fill(1700, 800, 64, 64, 0xFF);
  d = w.TakeDamageParts();
  ASSERT_EQ(d.count, kMaxDamageParts);
  EXPECT_TRUE(has(d, {0, 0, 218, 64}));
  EXPECT_TRUE(has(d, {1700, 800, 64, 64}));
  // The bounding rectangle of the parts, for callers that repaint one area.
  w.Fill(10, 10, 20, 20, 0x77);
  w.Fill(500, 400, 20, 20, 0x77);
  EXPECT_EQ(w.TakeDamage(), (RectXYWH{10, 10, 510, 410}));
}

// The window pixels a changed part of the frame is stretched onto are exactly those the whole
// stretch fills from it: one fewer leaves a stale pixel, one more sends pixels for nothing (and
// parts of neighbouring bands would overlap). Checked against the stretch itself, over seeded
// sizes, enlarging and shrinking.
TEST(WindowSurface, StretchedPartsAreThePixelsTheStretchTakesFromThem) {
  std::mt19937 rng(2111);
  auto in = [&rng](int lo, int hi) { return lo + static_cast<int>(rng() % (hi - lo + 1)); };
  for (int round = 0; round < 60; ++round) {
    const RectXYWH src{in(0, 30), in(0, 30), in(1, 90), in(1, 60)};
    const RectXYWH dst{in(0, 20), in(0, 20), in(1, 300), in(1, 200)};
    Bitmap32 frame, picture;
    frame.Create(src.x + src.width, src.y + src.height);
    for (int y = 0; y < frame.height; ++y)
      for (int x = 0; x < frame.width; ++x)
        frame.Row(y)[x] = static_cast<std::uint32_t>(y << 16 | x);
    picture.Create(dst.x + dst.width, dst.y + dst.height);
    StretchBlt(picture, dst.x, dst.y, dst.width, dst.height, frame, src.x, src.y, src.width,
               src.height, kStretchDrop);
    const RectXYWH part{in(src.x - 5, src.x + src.width), in(src.y - 5, src.y + src.height),
                        in(1, 40), in(1, 40)};
    int l = INT32_MAX, t = INT32_MAX, r = INT32_MIN, b = INT32_MIN;
    for (int y = dst.y; y < dst.y + dst.height; ++y)
      for (int x = dst.x; x < dst.x + dst.width; ++x) {
        const int sx = static_cast<int>(picture.Row(y)[x] & 0xFFFF);
        const int sy = static_cast<int>(picture.Row(y)[x] >> 16);
        if (sx < part.x || sx >= part.x + part.width || sy < part.y || sy >= part.y + part.height)
          continue;
        l = std::min(l, x), t = std::min(t, y), r = std::max(r, x + 1), b = std::max(b, y + 1);
      }
    const RectXYWH got = StretchedPart(dst, src, part);
    if (l == INT32_MAX) {
      EXPECT_TRUE(got.width <= 0 || got.height <= 0) << "seed 2111 round " << round;
      continue;
    }
    EXPECT_EQ(got, (RectXYWH{l, t, r - l, b - t})) << "seed 2111 round " << round;
  }
}

TEST(WindowSurface, FrameCopiesAndStretches) {
  WindowSurface w;
  ASSERT_TRUE(w.Resize(1024, 768));
  StageBitmap stage;
  stage.Create(kStageWidth, kStageHeight, 0);
  for (int x = 0; x < kStageWidth; ++x) stage.Row(0)[x] = static_cast<std::uint32_t>(x);
  w.TakeDamage();
  w.CopyFrame(stage, 192, 248);
  EXPECT_EQ(w.Picture().Row(248)[192 + 17], 17u);
  EXPECT_EQ(w.TakeDamage(), (RectXYWH{192, 248, 640, 272}));
  // The doubled mode: source columns 64 .. 575 onto the whole width, each twice.
  w.StretchFrame(stage, {0, 60, 1024, 544}, {64, 0, 512, 272}, kStretchDrop);
  EXPECT_EQ(w.Picture().Row(60)[0], 64u);
  EXPECT_EQ(w.Picture().Row(61)[1], 64u);
  EXPECT_EQ(w.Picture().Row(60)[2], 65u);
  EXPECT_EQ(w.Picture().Row(60)[1023], 575u);
}

// The digit-by-digit text against the formatted print it stands for, at the edges of its range
// and over seeded random times.
TEST(WindowSurface, TimerTextIsTheFormattedTime) {
  auto printed = [](std::int32_t ms) {
    char text[48];
    std::snprintf(text, sizeof text, "Timer %04d.%03d ", static_cast<int>(ms / 1000),
                  static_cast<int>(ms % 1000));
    return std::string(text);
  };
  std::uint32_t seed = 907;
  std::vector<std::int32_t> times = {0,       1,        9,  10,    999,       1000,
                                     9999999, 10000000, -1, -1000, INT32_MAX, INT32_MIN};
  for (int i = 0; i < 2000; ++i) {
    seed = seed * 1103515245u + 12345u;
    times.push_back(static_cast<std::int32_t>(seed >> (i % 8 * 4)));
  }
  for (const std::int32_t ms : times) ASSERT_EQ(TimerText(ms), printed(ms)) << "seed 907, " << ms;
}

TEST(WindowSurface, TimerTextIsWhiteOnBlackAndErasedWhole) {
  WindowSurface w;
  ASSERT_TRUE(w.Resize(640, 519));
  w.FillAll(0x336699);
  w.TakeDamage();
  const Bitmap32 before = w.Picture();
  w.DrawTimer(61234);  // "Timer 0061.234 "
  const RectXYWH d = w.TakeDamage();
  ASSERT_GT(d.width, 0);
  // Every pixel the text changed is in the damage, ink reaching past the text's cell too (the
  // T's left edge): outside it the screen would keep a stale pixel.
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 200; ++x) {
      if (w.Picture().Row(y)[x] == before.Row(y)[x]) continue;
      ASSERT_TRUE(x >= d.x && x < d.x + d.width && y >= d.y && y < d.y + d.height) << x << "," << y;
    }
  bool white = false;
  for (int y = d.y; y < d.y + d.height; ++y)
    for (int x = d.x; x < d.x + d.width; ++x) white |= w.Picture().Row(y)[x] == 0xFFFFFFu;
  EXPECT_TRUE(white);
  EXPECT_EQ(w.Picture().Row(d.y)[d.x + d.width - 1], 0u);  // the trailing space's black cell
  // Erased whole, though the spaces are narrower than the text in the proportional face.
  w.EraseTimer();
  const RectXYWH e = w.TakeDamage();
  EXPECT_GE(e.width, d.width);
  for (int y = d.y; y < d.y + d.height; ++y)
    for (int x = d.x; x < d.x + d.width; ++x) ASSERT_EQ(w.Picture().Row(y)[x], 0u) << x << "," << y;
}

// The timer draws only the characters that changed since the last one. Against a window whose
// timer is drawn whole every time (a space drawn elsewhere in between makes the next one whole),
// with fills and bitmaps over the timer, erases and a resize between timers, seeded: the pictures
// stay the same, and the timer of the next millisecond puts less than the whole text.
TEST(WindowSurface, TimerDrawnInPartsShowsWhatTheWholeTimerShows) {
  WindowSurface parts, whole;
  std::uint32_t seed = 3301;
  const auto next = [&seed](std::uint32_t n) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % n;
  };
  Bitmap32 stamp;
  stamp.Create(9, 4, 0xFF00FF);
  std::int32_t ms = 0;
  int narrower = 0;
  for (int step = 0; step < 600; ++step) {
    const std::uint32_t event = step == 0 ? 0 : next(60);
    const int at = static_cast<int>(next(60));
    for (WindowSurface* w : {&parts, &whole}) {
      if (event == 0) {
        ASSERT_TRUE(w->Resize(640, 480));
        w->FillAll(0x336699);
        w->DrawText(600, 460, " ");
      } else if (event == 1) {
        w->Fill(20 + at, 6, 7, 3, 0x00FF00);
      } else if (event == 2) {
        w->DrawBitmap(stamp, 2 + at, 12);
      } else if (event == 3) {
        w->EraseTimer();
      }
    }
    ms += next(8) == 0 ? static_cast<std::int32_t>(next(100000))
                       : 1 + static_cast<std::int32_t>(next(40));
    parts.TakeDamage();
    parts.DrawTimer(ms);
    const RectXYWH d = parts.TakeDamage();
    whole.DrawText(600, 460, " ");
    whole.DrawTimer(ms);
    ASSERT_TRUE(parts.Picture().pixels == whole.Picture().pixels) << "seed 3301, step " << step;
    narrower += d.width > 0 && d.x > kTimerX + 40;
  }
  EXPECT_GT(narrower, 60);
}

}  // namespace

namespace {

// A server that scales frames: it keeps what it was given, and may refuse.
class KeepingScaler : public FrameScaler {
 public:
  bool refuse = false;
  RectXYWH dst, src;
  Bitmap32 frame;

  bool ScalePart(const StageBitmap& f, const RectXYWH& d, const RectXYWH& s,
                 const RectXYWH& part) override {
    if (refuse) return false;
    if (frame.width != f.width || frame.height != f.height) frame.Create(f.width, f.height);
    CopyRect(frame, part.x, part.y, f, part.x, part.y, part.width, part.height);
    dst = d, src = s;
    return true;
  }
  const Bitmap32& Frame() const override { return frame; }
  void DropParts() override {}
};

// What the screen shows: the picture, with the server's frame where it shows one.
Bitmap32 Shown(const WindowSurface& w, const KeepingScaler* s) {
  Bitmap32 out = w.Picture();
  if (s != nullptr && w.ServerShowsFrame())
    StretchBlt(out, s->dst.x, s->dst.y, s->dst.width, s->dst.height, s->frame, s->src.x, s->src.y,
               s->src.width, s->src.height, kStretchDrop);
  return out;
}

}  // namespace

// The same random run of frames, changed parts, fills (some repeated, which leave the pixels as
// they were) and direct drawing over the frame's area, with the server scaling frames (sometimes
// refusing) and without: the picture shows the same pixels after every step, and so does a
// screen that takes only the damaged parts of it (plus the server's frame where it shows one).
TEST(WindowSurface, ServerScaledFramesShowWhatTheStretchShows) {
  std::uint32_t seed = 4242;
  auto below = [&](int n) {
    return static_cast<int>(((seed = seed * 1103515245u + 12345u) >> 8) % static_cast<unsigned>(n));
  };
  KeepingScaler scaler;
  WindowSurface scaled, plain;
  ASSERT_TRUE(scaled.Resize(700, 500));
  ASSERT_TRUE(plain.Resize(700, 500));
  scaled.SetFrameScaler(&scaler);
  Bitmap32 screenScaled, screenPlain;
  screenScaled.Create(700, 500, 0xABCDEF);
  screenPlain.Create(700, 500, 0xABCDEF);
  auto refresh = [](WindowSurface& w, const KeepingScaler* s, Bitmap32& screen) {
    const DamageParts d = w.TakeDamageParts();
    const Bitmap32 shown = Shown(w, s);
    for (int i = 0; i < d.count; ++i) {
      const RectXYWH& r = d.part[i];
      CopyRect(screen, r.x, r.y, shown, r.x, r.y, r.width, r.height);
    }
    Bitmap32 out = screen;
    if (s != nullptr && w.ServerShowsFrame())
      StretchBlt(out, s->dst.x, s->dst.y, s->dst.width, s->dst.height, s->frame, s->src.x, s->src.y,
                 s->src.width, s->src.height, kStretchDrop);
    return out;
  };
  const RectXYWH dst{0, 40, 700, 310}, src{0, 0, kStageWidth, kStageHeight};
  StageBitmap stage;
  stage.Create(kStageWidth, kStageHeight);
  int fill[5] = {0, 0, 1, 1, 0};
  for (int step = 0; step < 300; ++step) {
    const int op = below(7);
    scaler.refuse = below(8) == 0;
    if (op <= 2) {
      // A new frame, changed in one rectangle; drawn in part while the window keeps the last.
      RectXYWH part{below(kStageWidth), below(kStageHeight), 1 + below(200), 1 + below(100)};
      part.width = std::min(part.width, kStageWidth - part.x);
      part.height = std::min(part.height, kStageHeight - part.y);
      FillRect(stage, part.x, part.y, part.width, part.height,
               static_cast<std::uint32_t>(below(1 << 24)));
      for (WindowSurface* w : {&scaled, &plain}) {
        if (op == 0 || !w->FrameKept(dst)) {
          w->StretchFrame(stage, dst, src, kStretchDrop);
        } else {
          w->StretchFrame(stage, dst, src, kStretchDrop, part);
        }
      }
    } else if (op <= 4) {
      if (op == 3)
        fill[0] = below(700), fill[1] = below(500), fill[2] = 1 + below(300),
        fill[3] = 1 + below(200), fill[4] = below(1 << 24);
      for (WindowSurface* s : {&scaled, &plain})
        s->Fill(fill[0], fill[1], fill[2], fill[3], static_cast<std::uint32_t>(fill[4]));
    } else if (op == 5) {
      // Drawn into the picture directly (as captions are), then reported.
      const int x = below(650), y = below(450);
      for (WindowSurface* w : {&scaled, &plain}) {
        FillRect(w->Picture(), x, y, 50, 50, 0x123456);
        w->AddDamage(x, y, 50, 50);
      }
    } else {
      ASSERT_EQ(refresh(scaled, &scaler, screenScaled).pixels,
                refresh(plain, nullptr, screenPlain).pixels)
          << "screen: seed 4242 step " << step;
    }
    ASSERT_EQ(Shown(scaled, &scaler).pixels, Shown(plain, nullptr).pixels)
        << "seed 4242 step " << step << " op " << op;
  }
}

namespace {

// The pixels of `area` of `screen` moved by (dx, dy) within it, as the display server copies.
void MoveArea(Bitmap32& screen, const RectXYWH& area, int dx, int dy) {
  Bitmap32 part;
  part.Create(area.width, area.height);
  CopyRect(part, 0, 0, screen, area.x, area.y, area.width, area.height);
  MovePixels(part, dx, dy);
  CopyRect(screen, area.x, area.y, part, 0, 0, area.width, area.height);
}

}  // namespace

// A random run of frames that move by a few pixels with changes of their own (as a scrolling
// background under sprites), fills and direct drawing, shown with moves of the frame where they
// are allowed and without: a screen that makes the moves and takes only the damaged parts shows
// the same pixels after every refresh, and so does the picture once it is restored. Across x2
// with down x2 (moves both ways) and x2.13 (a move down is refused).
TEST(WindowSurface, MovedFramesShowWhatTheWholeStretchShows) {
  for (const int height : {544, 580}) {
    const std::uint32_t start = 2121u + static_cast<std::uint32_t>(height);
    std::uint32_t seed = start;
    auto below = [&](int n) {
      return static_cast<int>(((seed = seed * 1103515245u + 12345u) >> 8) %
                              static_cast<unsigned>(n));
    };
    WindowSurface moving, plain;
    ASSERT_TRUE(moving.Resize(1300, 640));
    ASSERT_TRUE(plain.Resize(1300, 640));
    moving.AllowFrameMoves(true);
    const RectXYWH dst{10, 40, 1280, height}, src{0, 0, kStageWidth, kStageHeight};
    StageBitmap stage, shownMoving, shownPlain;
    stage.Create(kStageWidth, kStageHeight);
    for (std::uint32_t& p : stage.pixels) p = static_cast<std::uint32_t>(below(1 << 24));
    Bitmap32 screenMoving, screenPlain;
    screenMoving.Create(1300, 640, 0xABCDEF);
    screenPlain.Create(1300, 640, 0xABCDEF);
    int moves = 0, refused = 0;
    for (int step = 0; step < 300; ++step) {
      const int op = below(12);
      const std::string where = "seed " + std::to_string(start) + " step " + std::to_string(step);
      if (op <= 6) {
        // The next frame: the last one moved (or not), with a rectangle of its own.
        const int dx = below(9) - 4, dy = below(3) == 0 ? below(5) - 2 : 0;
        MovePixels(stage, dx, dy);
        const int x = below(kStageWidth), y = below(kStageHeight);
        FillRect(stage, x, y, 1 + below(100), 1 + below(60),
                 static_cast<std::uint32_t>(below(1 << 24)));
        for (WindowSurface* w : {&moving, &plain}) {
          StageBitmap& shown = w == &moving ? shownMoving : shownPlain;
          if (op == 0 || !w->FrameKept(dst)) {
            shown = stage;
            w->StretchFrame(stage, dst, src, kStretchDrop);
            continue;
          }
          if (w == &moving) {
            if (w->MoveFrame(shown, dst, dx, dy)) {
              MovePixels(shown, dx, dy);
              ++moves;
            } else {
              refused += dx != 0 || dy != 0;
            }
          }
          RectXYWH parts[kMaxChangedParts];
          const int n = CopyChangedParts(shown, 0, 0, stage, parts, 455);
          for (int i = 0; i < n; ++i) w->StretchFrame(shown, dst, src, kStretchDrop, parts[i]);
        }
      } else if (op == 7) {
        const int x = below(1300), y = below(640), w = 1 + below(200), h = 1 + below(100);
        const auto colour = static_cast<std::uint32_t>(below(1 << 24));
        for (WindowSurface* s : {&moving, &plain}) s->Fill(x, y, w, h, colour);
      } else if (op == 8) {
        // Drawn into the picture directly (as captions are), then reported.
        const int x = below(1250), y = below(600);
        for (WindowSurface* w : {&moving, &plain}) {
          FillRect(w->Picture(), x, y, 50, 30, 0x123456);
          w->AddDamage(x, y, 50, 30);
        }
      } else {
        for (WindowSurface* w : {&moving, &plain}) {
          Bitmap32& screen = w == &moving ? screenMoving : screenPlain;
          FrameMove m;
          if (w->TakeFrameMove(&m)) MoveArea(screen, m.area, m.dx, m.dy);
          const DamageParts d = w->TakeDamageParts();
          for (int i = 0; i < d.count; ++i) {
            const RectXYWH& r = d.part[i];
            CopyRect(screen, r.x, r.y, w->Picture(), r.x, r.y, r.width, r.height);
          }
        }
        ASSERT_EQ(screenMoving.pixels, screenPlain.pixels) << "screen: " << where;
        if (op == 11) {
          moving.RestorePicture();  // as before an uncovered area is put again
          ASSERT_EQ(moving.Picture().pixels, plain.Picture().pixels) << "picture: " << where;
        }
      }
    }
    EXPECT_GT(moves, 10) << start;
    // Covered: no more moves, and the next frame goes whole (a move made as the window was
    // being covered may have missed pixels).
    moving.AllowFrameMoves(false);
    EXPECT_FALSE(moving.FrameKept(dst));
    EXPECT_FALSE(moving.MoveFrame(shownMoving, dst, 1, 0));
    if (height == 580) {
      EXPECT_GT(refused, 5) << start;
    }
  }
}
