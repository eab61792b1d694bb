// The sound track of an exported show: music starts and stops at the ticks of its BGM events.
#include "app/MusicTrack.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "app/CPlayback.h"
#include "app/HeadlessShow.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;

namespace {

// Every file is a constant level for a given length, so the track shows which one plays where.
struct LevelDecoder : AudioDecoder {
  std::map<std::string, std::pair<std::int16_t, int>> files;  // name -> level, milliseconds
  int Decode(const std::string& path, std::vector<std::int16_t>* samples) override {
    const auto it = files.find(fs::path(path).filename().string());
    if (it == files.end()) return -1;
    samples->assign(TrackFrameAt(it->second.second) * kTrackChannels, it->second.first);
    return 0;
  }
};

struct MusicShow : ::testing::Test {
  MusicShow() {
    for (const char* f : {"a.wav", "b.mp3", "bad.wav"}) std::ofstream(dir + "/" + f) << "x";
    decoder.files["a.wav"] = {1000, 600};
    decoder.files["b.mp3"] = {-2000, 3000};
  }

  // Plays `body` as a 5-second show; the whole track, rendered in pieces as the exporter does.
  std::vector<std::int16_t> Play(const std::string& body, bool* hasMusic = nullptr) {
    std::ofstream(dir + "/script_m.txt")
        << "<DATA TITLE=\"m\" VERSION=\"1.1\"><IMAGE STRING=\"x\" TIME=\"5\">" << body
        << "</DATA>\n";
    int tick = 0;
    MusicTrack track(&decoder, [&] { return std::int64_t{tick} * kTickMs; });
    HeadlessShow show(&track);
    EXPECT_EQ(show.Open(dir + "/script_m.txt", 1, {}), "");
    std::vector<std::int16_t> out;
    std::int64_t done = 0;
    const int ticks = show.PlayTicks([&](int t) {
      if (t == 0 && hasMusic) *hasMusic = show.HasMusic();
      tick = t + 1;
      const std::int64_t to = TrackFrameAt(std::int64_t{tick} * kTickMs);
      out.resize(to * kTrackChannels);
      track.Render(done, static_cast<int>(to - done), out.data() + done * kTrackChannels);
      done = to;
      return true;
    });
    EXPECT_EQ(ticks, 5000 / kTickMs + 1);
    return out;
  }

  // The first sample frame whose level differs from `expected(ms)`, as a message; "" if none.
  template <typename F>
  static std::string FirstDifference(const std::vector<std::int16_t>& track, F expected) {
    for (size_t i = 0; i < track.size(); ++i) {
      const std::int64_t frame = static_cast<std::int64_t>(i / kTrackChannels);
      const int want = expected(frame);
      if (track[i] != want) {
        return "frame " + std::to_string(frame) + " (" + std::to_string(frame * 1000 / kTrackRate) +
               " ms): " + std::to_string(track[i]) + ", expected " + std::to_string(want);
      }
    }
    return "";
  }

  TempFolder temp_;
  std::string dir = temp_.path();
  LevelDecoder decoder;
};

TEST_F(MusicShow, MusicPlaysFromEachStartToItsStopOnTheTickClock) {
  bool hasMusic = false;
  // The first START is opened while loading (it plays the file opened in advance); a START with
  // TIME stops by itself; a file shorter than its play ends by itself.
  const auto track = Play(
      "<CLOCK SET=\"1\"><BGM FILE=\"a.wav\" MODE=\"START\">"
      "<CLOCK SET=\"1.5\"><BGM FILE=\"a.wav\" MODE=\"STOP\">"
      "<CLOCK SET=\"2\"><BGM FILE=\"b.mp3\" MODE=\"START\" TIME=\"1\">"
      "<CLOCK SET=\"4\"><BGM FILE=\"a.wav\" MODE=\"START\">",
      &hasMusic);
  EXPECT_TRUE(hasMusic);
  ASSERT_EQ(track.size(), static_cast<size_t>(TrackFrameAt(152 * kTickMs) * kTrackChannels));
  // Events fire at the tick of their time: 1 s is tick 30 (990 ms), 1.5 s tick 45, 2 s tick
  // 60, the timed stop at 3 s tick 90, 4 s tick 121.
  const auto at = [](int ms) { return TrackFrameAt(ms); };
  EXPECT_EQ(FirstDifference(track,
                            [&](std::int64_t f) {
                              if (f >= at(990) && f < at(1485)) return 1000;
                              if (f >= at(1980) && f < at(2970)) return -2000;
                              if (f >= at(3993) && f < at(3993) + at(600)) return 1000;
                              return 0;
                            }),
            "");
}

TEST_F(MusicShow, AFirstFileThatCannotBeDecodedKeepsTheShowSilent) {
  bool hasMusic = true;
  const auto track = Play(
      "<BGM FILE=\"bad.wav\" MODE=\"START\"><CLOCK SET=\"1\"><BGM FILE=\"a.wav\" MODE=\"START\">",
      &hasMusic);
  EXPECT_FALSE(hasMusic);
  EXPECT_EQ(FirstDifference(track, [](std::int64_t) { return 0; }), "");
}

TEST_F(MusicShow, StartingAFileAgainRestartsItAndAStopWithoutMusicIsHarmless) {
  const auto track = Play(
      "<BGM FILE=\"b.mp3\" MODE=\"STOP\"><CLOCK SET=\"1\"><BGM FILE=\"b.mp3\" MODE=\"START\">"
      "<CLOCK SET=\"1.2\"><BGM FILE=\"a.wav\" MODE=\"START\">"
      "<CLOCK SET=\"1.5\"><BGM FILE=\"a.wav\" MODE=\"START\">");
  const auto at = [](int ms) { return TrackFrameAt(ms); };
  // b from tick 30 (990 ms) to tick 36 (1188 ms), a from there and from its start again at tick
  // 45 (1485 ms) for its 600 ms.
  EXPECT_EQ(FirstDifference(track,
                            [&](std::int64_t f) {
                              if (f >= at(990) && f < at(1188)) return -2000;
                              if (f >= at(1188) && f < at(1485)) return 1000;
                              if (f >= at(1485) && f < at(1485) + at(600)) return 1000;
                              return 0;
                            }),
            "");
}

}  // namespace
