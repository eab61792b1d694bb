// What a show is, the window shows: changes that no layer reports as a change (a background made
// or moved by a jump, an image leaving the view, a title running out) reach the window on the
// tick they happen.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/CPlayback.h"
#include "app/HeadlessShow.h"
#include "app/WindowSurface.h"
#include "tests/support/TempFolder.h"
#include "tools/BmpEncoder.h"

namespace fs = std::filesystem;

namespace {

constexpr int kTileW = 64;
constexpr int kTileH = 32;

// A base picture in which every pixel of a tile differs from its neighbours.
std::uint32_t TilePixel(int x, int y, std::uint32_t tint) {
  return (static_cast<std::uint32_t>(x * 4) << 16 | static_cast<std::uint32_t>(y * 8) << 8 | 0x40) ^
         tint;
}

struct ShowFolder {
  ShowFolder() {
    WriteTile("sky.bmp", 0);
    WriteTile("sea.bmp", 0x808080);
    Bitmap32 word;
    word.Create(32, 16, 0);
    for (int y = 4; y < 12; ++y)
      for (int x = 4; x < 28; ++x) word.Row(y)[x] = 0xFFFFFF;
    Write("word.bmp", word);
  }
  void WriteTile(const char* name, std::uint32_t tint) {
    Bitmap32 tile;
    tile.Create(kTileW, kTileH, 0);
    for (int y = 0; y < kTileH; ++y)
      for (int x = 0; x < kTileW; ++x) tile.Row(y)[x] = TilePixel(x, y, tint);
    Write(name, tile);
  }
  void Write(const char* name, const Bitmap32& bmp) {
    std::vector<std::uint8_t> bytes;
    EncodeBmp(bmp, 24, &bytes);
    WriteFileBytes((dir + "/" + name).c_str(), bytes);
  }
  std::string Script(const std::string& body) {
    const std::string file = dir + "/script_case.txt";
    std::ofstream(file) << "<DATA TITLE=\"case\" VERSION=1.1>\n" << body << "\n</DATA>\n";
    return file;
  }
  TempFolder temp_;
  std::string dir = temp_.path();
};

// Plays on from clock value `now` until the pass that ran tick `tick`.
void RunThroughTick(HeadlessShow& show, int tick, std::int32_t& now) {
  while (!show.Over()) {
    const bool playing = show.Playback().PlayState == kScriptPlaying;
    const int before = show.Playback().TickNo;
    show.Pass(now);
    if (playing && before == tick && show.Playback().TickNo == tick + 1) return;
    now = show.NextDeadline(now);
  }
  FAIL() << "the show ended before tick " << tick;
}

std::uint32_t FramePixel(const HeadlessShow& show, int x, int y) {
  return show.Window().Picture().Row(kFrameTop + y)[x] & 0xFFFFFF;
}

// The frame is the base picture tiled from camera (cx, cy) with nothing over it.
::testing::AssertionResult ShowsTiles(const HeadlessShow& show, int cx, int cy,
                                      std::uint32_t tint) {
  for (int y = 0; y < kStageHeight; ++y)
    for (int x = 0; x < kStageWidth; ++x) {
      const std::uint32_t want = TilePixel((x + cx) % kTileW, (y + cy) % kTileH, tint);
      if (FramePixel(show, x, y) != want)
        return ::testing::AssertionFailure() << "pixel " << x << "," << y << " is " << std::hex
                                             << FramePixel(show, x, y) << ", not " << want;
    }
  return ::testing::AssertionSuccess();
}

// Every pixel of the frame is `colour`.
::testing::AssertionResult ShowsOnly(const HeadlessShow& show, std::uint32_t colour) {
  for (int y = 0; y < kStageHeight; ++y)
    for (int x = 0; x < kStageWidth; ++x)
      if (FramePixel(show, x, y) != colour)
        return ::testing::AssertionFailure()
               << "pixel " << x << "," << y << " is " << std::hex << FramePixel(show, x, y);
  return ::testing::AssertionSuccess();
}

// An image far off the stage keeps each show running without ever being drawn.
const std::string kKeepPlaying = "<IMAGE STRING=\"x\" XPOS=5000 TIME=3>\n";

TEST(ShowOnScreen, BackgroundsMadeOrMovedByAJumpAreShownAtOnce) {
  ShowFolder folder;
  struct Case {
    const char* name;
    std::string body;
    int tick;
    int cx, cy;
    std::uint32_t tint;
  };
  const Case cases[] = {
      {"a show with only a background", "<BGMAKE BGFILE=sky.bmp></BGMAKE>", 0, 0, 0, 0},
      {"a background after a SOLID",
       "<SOLID COLOR=RED><CLOCK SET=1><BGMAKE BGFILE=sky.bmp></BGMAKE>", 30, 0, 0, 0},
      {"a second background",
       "<BGMAKE BGFILE=sky.bmp></BGMAKE><CLOCK SET=1><BGMAKE BGFILE=sea.bmp></BGMAKE>", 30, 0, 0,
       0x808080},
      {"a jump of the camera",
       "<BGMAKE BGFILE=sky.bmp></BGMAKE><CLOCK SET=1><BGSET XPOS=330 YPOS=141 TIME=0>", 30, 10, 5,
       0},
      {"a scroll that jumps",
       "<BGMAKE BGFILE=sky.bmp></BGMAKE><CLOCK SET=1><BGSCROLL XMOVE=3 TIME=0>", 30, 3, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HeadlessShow show;
    ASSERT_EQ(show.Open(folder.Script(c.body + kKeepPlaying), 1, HeadlessOptions()), "");
    std::int32_t now = 0;
    RunThroughTick(show, c.tick, now);
    EXPECT_TRUE(ShowsTiles(show, c.cx, c.cy, c.tint));
  }
}

TEST(ShowOnScreen, ImagesThatLeaveTheViewAndTitlesThatEndDisappear) {
  ShowFolder folder;
  const std::string image = "<IMAGE STRING=\"OBJECT\" TIME=3 SIZE=300>";
  struct Case {
    const char* name;
    std::string body;
    int gone;  // the first tick without it
  };
  const Case cases[] = {
      {"moved off the stage", image + "<SET START=1 XPOS=900 TIME=0>", 30},
      {"moving off the stage", image + "<MOVE START=1 YMOVE=33000>", 30},
      {"set to size 0", image + "<SET START=1 SIZE=0 TIME=0>", 30},
      {"behind the camera", image + "<CLOCK SET=1><BGSET ZPOS=400 TIME=0>", 30},
      {"passed by the camera", image + "<CLOCK SET=1><BGMOVE ZMOVE=33000>", 30},
      {"a title running out",
       "<TITLE FILE=word.bmp POS=0 SPEED=0 TIME=1 COLOR=WHITE><SET START=0 TIME=0.5 SPEED=0>"
       "</TITLE>",
       29},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HeadlessShow show;
    ASSERT_EQ(show.Open(folder.Script("<SOLID COLOR=#102030>" + c.body + kKeepPlaying), 1,
                        HeadlessOptions()),
              "");
    std::int32_t now = 0;
    RunThroughTick(show, c.gone - 1, now);
    EXPECT_FALSE(ShowsOnly(show, 0x102030)) << "nothing to see even before";
    RunThroughTick(show, c.gone, now);
    EXPECT_TRUE(ShowsOnly(show, 0x102030));
  }
}

}  // namespace
