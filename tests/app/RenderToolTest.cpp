// The headless renderer: its arguments, the pictures it writes and the event dump.
#include <gtest/gtest.h>
#include <png.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/AuthorTools.h"
#include "app/CommandLine.h"
#include "app/RenderTool.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;

namespace {

TEST(RenderArgs, TicksAsRangeStepOrSingle) {
  RenderRequest r;
  ASSERT_EQ(ParseRenderArgs({"show.txt", "--out", "o", "--ticks", "10-40:10"}, &r), "");
  EXPECT_EQ(r.file, "show.txt");
  EXPECT_EQ(r.script, 1);
  EXPECT_EQ(r.firstTick, 10);
  EXPECT_EQ(r.lastTick, 40);
  EXPECT_EQ(r.step, 10);
  ASSERT_EQ(ParseRenderArgs({"--ticks", "7", "--script", "3", "--out", "o", "s.txt"}, &r), "");
  EXPECT_EQ(r.firstTick, 7);
  EXPECT_EQ(r.lastTick, 7);
  EXPECT_EQ(r.script, 3);
  EXPECT_FALSE(r.smallPng);
  ASSERT_EQ(ParseRenderArgs({"s.txt", "--small-png", "--dump-events"}, &r), "");
  EXPECT_TRUE(r.smallPng);
  EXPECT_TRUE(r.dumpEvents);
  EXPECT_FALSE(r.ticksGiven);
}

TEST(RenderArgs, RefusesWhatItCannotDo) {
  RenderRequest r;
  EXPECT_NE(ParseRenderArgs({"s.txt", "--out", "o"}, &r), "");
  EXPECT_NE(ParseRenderArgs({"s.txt", "--ticks", "1"}, &r), "");
  EXPECT_NE(ParseRenderArgs({"--out", "o", "--ticks", "1"}, &r), "");
  for (const char* bad : {"5-3", "1-", "-4", "a", "1-9:0", "1-9:x", "99999999999"}) {
    EXPECT_NE(ParseRenderArgs({"s.txt", "--out", "o", "--ticks", bad}, &r), "") << bad;
  }
  EXPECT_NE(ParseRenderArgs({"s.txt", "--out", "o", "--ticks", "1", "--script", "0"}, &r), "");
  EXPECT_NE(ParseRenderArgs({"s.txt", "--out", "o", "--ticks", "1", "--frobnicate"}, &r), "");
  EXPECT_NE(ParseRenderArgs({"s.txt", "t.txt", "--dump-events"}, &r), "");
  EXPECT_NE(ParseRenderArgs({"s.txt", "--dump-events", "--log"}, &r), "");  // one tool at a time
  EXPECT_NE(ParseRenderArgs({"s.txt", "--dump-events", "--size", "640x480"}, &r), "");
  ToolContext quiet;
  quiet.err = std::tmpfile();
  EXPECT_EQ(RunAuthorTool(ParseCommandLine({"--render"}), quiet), kExitUsage);
  std::fclose(quiet.err);
}

struct RenderFixture : ::testing::Test {
  RenderFixture() {
    std::ofstream(dir + "/script_show.txt")
        << "<DATA TITLE=\"one\" VERSION=\"1.1\">\n<SOLID COLOR=\"RED\">\n"
           "<IMAGE STRING=\"x\" TIME=\"2\">\n<CLOCK SET=\"1\">\n<SOLID COLOR=\"#0000FF\">\n"
           "</DATA>\n<DATA TITLE=\"two\" VERSION=\"1.1\"><SOLID COLOR=\"LIME\">"
           "<IMAGE STRING=\"y\" TIME=\"1\"></DATA>\n"
           "<DATA TITLE=\"fade\" VERSION=\"1.1\"><SOLID COLOR=\"GRAY\">"
           "<SCREEN CONTRAST=\"FADEIN\" TIME=\"1\"><CLOCK SET=\"1.5\">"
           "<SCREEN CONTRAST=\"2\" TIME=\"0\"><SOLID COLOR=\"#C86432\">"
           "<IMAGE STRING=\"z\" TIME=\"1\"></DATA>\n";
  }

  // The RGB pixel at (x, y) of a written picture, or -1.
  long Pixel(const std::string& file, int x, int y) {
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&img, file.c_str())) return -1;
    img.format = PNG_FORMAT_RGB;
    std::vector<unsigned char> buf(PNG_IMAGE_SIZE(img));
    if (!png_image_finish_read(&img, nullptr, buf.data(), 0, nullptr)) return -1;
    width = img.width;
    height = img.height;
    const unsigned char* p = buf.data() + (static_cast<size_t>(y) * img.width + x) * 3;
    return (p[0] << 16) | (p[1] << 8) | p[2];
  }

  int Render(std::vector<std::string> args) {
    RenderRequest r;
    EXPECT_EQ(ParseRenderArgs(args, &r), "");
    return RunRender(r);
  }

  TempFolder temp_;
  std::string dir = temp_.path();
  unsigned width = 0;
  unsigned height = 0;
};

TEST_F(RenderFixture, WritesTheWindowPictureAfterEachRequestedTick) {
  const std::string out = dir + "/out";
  ASSERT_EQ(Render({dir + "/script_show.txt", "--out", out, "--ticks", "0-90:29"}), 0);
  EXPECT_EQ(Pixel(out + "/tick_00000.png", 0, 102), 0xFF0000);
  EXPECT_EQ(width, 640u);
  EXPECT_EQ(height, 480u);
  EXPECT_EQ(Pixel(out + "/tick_00000.png", 639, 373), 0xFF0000);
  EXPECT_EQ(Pixel(out + "/tick_00000.png", 0, 101), 0);
  EXPECT_EQ(Pixel(out + "/tick_00000.png", 0, 374), 0);
  EXPECT_EQ(Pixel(out + "/tick_00029.png", 0, 102), 0xFF0000);
  EXPECT_EQ(Pixel(out + "/tick_00058.png", 0, 102), 0x0000FF);  // SOLID at 1 s = tick 30
  // The show ends at tick 60: nothing after it.
  EXPECT_FALSE(fs::exists(out + "/tick_00087.png"));
  EXPECT_FALSE(fs::exists(out + "/tick_00001.png"));

  ASSERT_EQ(Render({dir + "/script_show.txt", "--script", "2", "--out", out, "--ticks", "5"}), 0);
  EXPECT_EQ(Pixel(out + "/tick_00005.png", 320, 200), 0x00FF00);
}

TEST_F(RenderFixture, ScreenFadeStepsPerTickAndLevelsAboveOneSaturate) {
  const std::string out = dir + "/fade";
  ASSERT_EQ(Render({dir + "/script_show.txt", "--script", "3", "--out", out, "--ticks", "0-45"}),
            0);
  // FADEIN over 1 s: 30 steps of 0x10000 / 30 = 2184, the first taken on tick 0.
  EXPECT_EQ(Pixel(out + "/tick_00000.png", 0, 102), 0x040404);  // 128 * 2184 >> 16
  EXPECT_EQ(Pixel(out + "/tick_00010.png", 0, 102), 0x2E2E2E);  // 128 * 11 * 2184 >> 16
  EXPECT_EQ(Pixel(out + "/tick_00028.png", 0, 102), 0x7B7B7B);  // 128 * 29 * 2184 >> 16
  EXPECT_EQ(Pixel(out + "/tick_00029.png", 0, 102), 0x808080);  // the target itself
  // At 1.5 s (tick 45) a gain of 2, applied at once: 0xC8 saturates instead of wrapping.
  EXPECT_EQ(Pixel(out + "/tick_00045.png", 0, 102), 0xFFC864);
}

TEST_F(RenderFixture, DumpsEveryDispatchedEventInOrder) {
  testing::internal::CaptureStdout();
  ASSERT_EQ(Render({dir + "/script_show.txt", "--dump-events"}), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "0 1 DATA\n0 14 SOLID\n0 11 IMAGE\n30 14 SOLID\n60 2 /DATA\n");
}

TEST_F(RenderFixture, AMissingFileOrScriptOrNoPictureAtAllFails) {
  EXPECT_EQ(Render({dir + "/nothing.txt", "--dump-events"}), 1);
  EXPECT_EQ(Render({dir + "/script_show.txt", "--script", "4", "--dump-events"}), 1);
  // A show that ends before the first wanted tick writes nothing: not a success.
  EXPECT_EQ(Render({dir + "/script_show.txt", "--out", dir + "/late", "--ticks", "70-80"}), 1);
  // Some of the pictures are still a success; the missing rest is reported.
  EXPECT_EQ(Render({dir + "/script_show.txt", "--out", dir + "/part", "--ticks", "50-80"}), 0);
}

}  // namespace
