// The show exporter with a recording encoder: its arguments, what reaches the encoder, the exit
// codes of bad input, and that only a complete video is left under the output's name.
#include "app/ExportTool.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/AuthorTools.h"
#include "app/CommandLine.h"
#include "app/HeadlessShow.h"
#include "app/MusicTrack.h"
#include "app/WindowSurface.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;

namespace {

TEST(ExportArgs, ContainerSizeAndModeAreRead) {
  ExportRequest r;
  ASSERT_EQ(ParseExportArgs({"out.webm", "show.txt"}, &r), "");
  EXPECT_EQ(r.container, "webm");
  EXPECT_EQ(r.file, "show.txt");
  EXPECT_EQ(ExportDisplayMode(r), 4);  // the window picture, as --render writes it
  ASSERT_EQ(ParseExportArgs({"--size", "1920x1080", "a/b.c/Out.MP4", "s.txt", "--script", "2"}, &r),
            "");
  EXPECT_EQ(r.container, "mp4");
  EXPECT_EQ(r.script, 2);
  EXPECT_EQ(r.width, 1920);
  EXPECT_EQ(r.height, 1080);
  EXPECT_EQ(ExportDisplayMode(r), 2);  // another size is the stretched mode's picture
  ASSERT_EQ(ParseExportArgs({"o.webm", "s.txt", "--mode", "3", "--size", "1280x960"}, &r), "");
  EXPECT_EQ(ExportDisplayMode(r), 3);
  ASSERT_EQ(ParseExportArgs({"o.webm", "s.txt", "--mode", "0"}, &r), "");
  EXPECT_EQ(ExportDisplayMode(r), 4);
}

TEST(ExportArgs, RefusesWhatItCannotWrite) {
  ExportRequest r;
  for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
           {"out.avi", "s.txt"},
           {"out", "s.txt"},
           {"dir.webm/out", "s.txt"},
           {"out.webm"},
           {"out.webm", "s.txt", "t.txt"},
           {"out.webm", "s.txt", "--size", "641x480"},
           {"out.webm", "s.txt", "--size", "4000x2000"},
           {"out.webm", "s.txt", "--size", "32x32"},
           {"out.webm", "s.txt", "--size", "640"},
           {"out.webm", "s.txt", "--mode", "5"},
           {"out.webm", "s.txt", "--mode", "4", "--size", "1280x960"},
           {"out.webm", "s.txt", "--script", "0"},
           {"out.webm", "s.txt", "--fps", "60"},
       }) {
    std::string line;
    for (const auto& a : bad) line += a + " ";
    EXPECT_NE(ParseExportArgs(bad, &r), "") << line;
  }
  ToolContext quiet;
  quiet.err = std::tmpfile();
  EXPECT_EQ(RunAuthorTool(ParseCommandLine({"--export", "x.ogg", "s.txt"}), quiet), kExportBadInput);
  std::fclose(quiet.err);
}

TEST(ExportArgs, ProgressLineTellsPercentSpeedAndTimeLeft) {
  EXPECT_EQ(ExportProgressLine(50, 200, 2.0),
            "exporting [######..................]  25%  25 fps  0:06 left");
  EXPECT_EQ(ExportProgressLine(200, 200, 4.0),
            "exporting [########################] 100%  50 fps  0:00 left");
  EXPECT_EQ(ExportProgressLine(10, 0, 1.0), "exporting: 10 frames  10 fps");
}

// Keeps a checksum of every picture and the sound it was given; writes a file when finished.
struct RecordingEncoder : VideoEncoder {
  struct Log {
    VideoFormat format;
    std::vector<std::uint64_t> sums;
    std::vector<std::int64_t> starts;
    std::int64_t audioFrames = 0;
    std::int64_t audioSum = 0;
    int failAtFrame = -1;
    int signalAtFrame = -1;
  };
  explicit RecordingEncoder(Log* log) : log_(log) {}
  int AddFrame(const Bitmap32& p, std::int64_t startMs, int durationMs) override {
    if (static_cast<int>(log_->sums.size()) == log_->failAtFrame) return -1;
    if (static_cast<int>(log_->sums.size()) == log_->signalAtFrame) raise(SIGINT);
    EXPECT_EQ(durationMs, 33);
    EXPECT_GE(p.width, log_->format.width);
    EXPECT_GE(p.height, log_->format.height);
    std::uint64_t h = 1469598103934665603ull;
    for (int y = 0; y < log_->format.height; ++y)
      for (int x = 0; x < log_->format.width; ++x) h = (h ^ p.Row(y)[x]) * 1099511628211ull;
    log_->sums.push_back(h);
    log_->starts.push_back(startMs);
    return 0;
  }
  int AddAudio(const std::int16_t* s, int frames) override {
    for (int i = 0; i < frames * kTrackChannels; ++i) log_->audioSum += s[i] != 0;
    log_->audioFrames += frames;
    return 0;
  }
  int Finish() override {
    std::ofstream(log_->format.path) << "video";
    return 0;
  }
  std::string Error() const override { return "the recording encoder failed"; }
  Log* log_;
};

struct ToneDecoder : AudioDecoder {
  int Decode(const std::string&, std::vector<std::int16_t>* samples) override {
    samples->assign(kTrackRate * kTrackChannels, 500);  // one second
    return 0;
  }
};

struct ExportFixture : ::testing::Test {
  ExportFixture() {
    std::ofstream(dir + "/tune.wav") << "x";
    std::ofstream(dir + "/script_e.txt")
        << "<DATA TITLE=\"music\" VERSION=\"1.1\"><SOLID COLOR=\"RED\">"
           "<IMAGE STRING=\"moving\" TIME=\"2\"><SET START=\"0\" TIME=\"2\" XPOS=\"200\"></IMAGE>"
           "<CLOCK SET=\"0.5\"><BGM FILE=\"tune.wav\" MODE=\"START\"></DATA>\n"
           "<DATA TITLE=\"quiet\" VERSION=\"1.1\"><SOLID COLOR=\"LIME\">"
           "<IMAGE STRING=\"y\" TIME=\"1\"></DATA>\n";
    backend.Missing = [this](const std::string& c) { return c == "mp4" ? missingMp4 : ""; };
    backend.Make = [this](const VideoFormat& f, std::string*) {
      log.format = f;
      return std::make_unique<RecordingEncoder>(&log);
    };
  }

  int Export(std::vector<std::string> args) {
    ExportRequest r;
    EXPECT_EQ(ParseExportArgs(args, &r), "");
    return RunExport(r, backend, &decoder);
  }
  // The files of the folder other than the show's own.
  std::vector<std::string> Written() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) {
      const std::string n = e.path().filename().string();
      if (n != "tune.wav" && n != "script_e.txt") names.push_back(n);
    }
    return names;
  }

  TempFolder temp_;
  std::string dir = temp_.path();
  std::string missingMp4;
  RecordingEncoder::Log log;
  VideoBackend backend;
  ToneDecoder decoder;
};

TEST_F(ExportFixture, EveryTickIsOneFrameAsRenderedWithTheMusicBeside) {
  ASSERT_EQ(Export({dir + "/show.webm", dir + "/script_e.txt"}), 0);
  EXPECT_EQ(Written(), std::vector<std::string>{"show.webm"});
  EXPECT_EQ(log.format.width, 640);
  EXPECT_EQ(log.format.height, 480);
  EXPECT_TRUE(log.format.audio);
  ASSERT_EQ(log.sums.size(), 61u);  // ticks 0 to 60 (2 s)
  EXPECT_EQ(log.starts[60], 60 * 33);
  // One second of music from tick 15 (495 ms), on a track as long as the video.
  EXPECT_EQ(log.audioFrames, TrackFrameAt(61 * 33));
  EXPECT_EQ(log.audioSum, (TrackFrameAt(495 + 1000) - TrackFrameAt(495)) * kTrackChannels);

  // The same pictures as a headless play of the show gives after each tick.
  HeadlessShow show;
  ASSERT_EQ(show.Open(dir + "/script_e.txt", 1, {}), "");
  int differing = 0;
  show.PlayTicks([&](int tick) {
    Bitmap32 top;
    top.Create(640, 480);
    std::copy_n(show.Window().Picture().pixels.begin(), 640 * 480, top.pixels.begin());
    std::uint64_t h = 1469598103934665603ull;
    for (std::uint32_t v : top.pixels) h = (h ^ v) * 1099511628211ull;
    differing += h != log.sums[tick];
    return true;
  });
  EXPECT_EQ(differing, 0);
  EXPECT_NE(log.sums[0], log.sums[60]);  // the picture moves: frames are not all one
}

TEST_F(ExportFixture, AShowWithoutMusicHasNoSoundTrackAndSizesScaleThePicture) {
  ASSERT_EQ(Export({dir + "/q.webm", dir + "/script_e.txt", "--script", "2", "--size", "1280x720"}),
            0);
  EXPECT_FALSE(log.format.audio);
  EXPECT_EQ(log.audioFrames, 0);
  EXPECT_EQ(log.format.width, 1280);
  EXPECT_EQ(log.format.height, 720);
  EXPECT_EQ(log.sums.size(), 31u);
}

TEST_F(ExportFixture, BadInputExitsWithTwoAndLeavesNoFile) {
  EXPECT_EQ(Export({dir + "/a.webm", dir + "/no-such-show.txt"}), kExportBadInput);
  EXPECT_EQ(Export({dir + "/a.webm", dir + "/script_e.txt", "--script", "3"}), kExportBadInput);
  EXPECT_EQ(Export({dir + "/no/such/folder/a.webm", dir + "/script_e.txt"}), kExportBadInput);
  EXPECT_EQ(Written(), std::vector<std::string>{});
}

TEST_F(ExportFixture, AFailureOrAStopLeavesNoFileBehind) {
  std::ofstream(dir + "/old.webm") << "an earlier export";
  log.failAtFrame = 20;
  EXPECT_EQ(Export({dir + "/old.webm", dir + "/script_e.txt"}), 1);
  EXPECT_EQ(Written(), std::vector<std::string>{"old.webm"});  // untouched, no partial file
  log = {};
  log.signalAtFrame = 10;
  EXPECT_EQ(Export({dir + "/old.webm", dir + "/script_e.txt"}), kExportStopped);
  EXPECT_EQ(Written(), std::vector<std::string>{"old.webm"});
  EXPECT_LE(log.sums.size(), 12u);  // it stopped at the next tick
  missingMp4 = "MP4 export needs x: install y";
  EXPECT_EQ(Export({dir + "/a.mp4", dir + "/script_e.txt"}), 1);
  EXPECT_EQ(Written(), std::vector<std::string>{"old.webm"});
}

}  // namespace
