// Music and movies through the Qt media device and the player, with files made here: each music
// format plays and stops, broken files switch music off, movies get their sizes and end.
#include <gtest/gtest.h>

#include <QAudioDecoder>
#include <QAudioDevice>
#include <QAudioFormat>
#include <QElapsedTimer>
#include <QImage>
#include <QMediaDevices>
#include <QUrl>
#include <QVideoFrame>
#include <QVideoSink>
#include <QWidget>
#include <filesystem>

#if defined(__SANITIZE_ADDRESS__)
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();  // the sanitizer's own heap
#else
#include <malloc.h>
#endif

#include "app/CMPlayer.h"
#include "settings/CMainCtl.h"
#include "shell/app/QtMediaDevice.h"
#include "shell/platform/QtQuietSound.h"
#include "tests/shell/MediaFiles.h"
#include "tests/shell/ShellTestApp.h"

namespace {

using shelltest::Spin;
using shelltest::SpinUntil;

// Bytes the program holds from the allocator now (every thread's heap).
std::size_t HeapInUse() {
#if defined(__SANITIZE_ADDRESS__)
  return __sanitizer_get_current_allocated_bytes();
#else
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
#endif
}

// How long the format tests wait for a file to open, start or end. These waits end as soon as
// the condition holds; they are long because under the sanitizer build on a busy machine opening
// a MIDI file alone (the synthesiser loading its sound font) has taken more than 5 s. The
// saver's own open limit is tested with broken files, where it matters.
constexpr int kPatientMs = 60000;

class Media : public ::testing::Test {
 protected:
  void SetUp() override {
    shelltest::App();
    display.resize(640, 519);
    display.show();
    settings.SetCurPath(dir.path());
    settings.LoadedPath = dir.path();
    ASSERT_TRUE(testmedia::WriteWav(dir.File("a.wav"), 400));
    ASSERT_TRUE(testmedia::WriteMidi(dir.File("a.mid"), 500));
    ASSERT_TRUE(testmedia::WriteMp3(dir.File("a.mp3"), 500));
    ASSERT_NE(dir.Write("broken.mp3", std::string(3000, 'x')), "");
  }

  static CTimeBgm Bgm(const char* name, int sw) {
    CTimeBgm e;
    std::snprintf(e.FileName, sizeof e.FileName, "%s", name);
    e.Switch = sw;
    return e;
  }

  bool appMade_ = (shelltest::App(), true);  // before any widget
  TempFolder dir;
  QWidget display;
  QtMediaDevice device{&display};
  CMainCtl settings;
  CMPlayer player{&settings, &device};
};

TEST_F(Media, EachMusicFormatPlaysStopsAndEnds) {
  device.SetOpenTimeLimit(kPatientMs);
  for (const char* name : {"a.wav", "a.mid", "a.mp3"}) {
    SCOPED_TRACE(name);
    ASSERT_EQ(player.Preload(name), 0);
    EXPECT_EQ(player.MusicOpen, 1);
    EXPECT_EQ(player.HandleBgm(Bgm(name, kBgmStartPreloaded)), 0);
    EXPECT_TRUE(SpinUntil([&] { return device.Playing(); }, kPatientMs));
    player.StopMusic();
    EXPECT_FALSE(device.Playing());
    EXPECT_TRUE(device.Stopped());
    EXPECT_EQ(player.MusicOpen, 0);

    // Started without advance opening, it plays to its end by itself.
    EXPECT_EQ(player.HandleBgm(Bgm(name, kBgmStart)), 0);
    EXPECT_TRUE(SpinUntil([&] { return device.Playing(); }, kPatientMs));
    EXPECT_TRUE(SpinUntil([&] { return device.Stopped(); }, kPatientMs));
    player.StopMusic();
  }
  EXPECT_EQ(player.Enabled, 1);
}

// Without a sound output music is not decoded: it opens (so broken files are found), plays on
// the clock for its length and stops. With a sound output, or forced, the backend plays it.
// (An MP3 file may tell its length only while it plays: then it is decoded either way.)
TEST_F(Media, WithoutASoundOutputMusicPlaysSilentlyWithoutDecoding) {
  const bool output = !QMediaDevices::audioOutputs().isEmpty();
  device.SetOpenTimeLimit(kPatientMs);
  for (const char* name : {"a.wav", "a.mid", "a.mp3"}) {
    SCOPED_TRACE(name);
    ASSERT_EQ(device.OpenMusic(dir.File(name)), 0);
    const bool lengthKnown = device.LengthMs() > 0;
    ASSERT_EQ(device.Play(), 0);
    EXPECT_TRUE(SpinUntil([&] { return device.Playing(); }, kPatientMs));
    EXPECT_FALSE(device.Stopped());
    if (std::string(name) != "a.mp3") {
      EXPECT_TRUE(lengthKnown);
    }
    if (lengthKnown) {
      EXPECT_EQ(device.Decoding(), output);
    }
    EXPECT_TRUE(SpinUntil([&] { return device.Stopped(); }, kPatientMs));  // ends after its length
    EXPECT_FALSE(device.Playing());
  }
  device.SetAudioAlways(true);
  ASSERT_EQ(device.OpenMusic(dir.File("a.wav")), 0);
  ASSERT_EQ(device.Play(), 0);
  EXPECT_TRUE(SpinUntil([&] { return device.Decoding(); }, kPatientMs));
  device.Stop();
  EXPECT_TRUE(device.Stopped());
  device.Close();
}

// Music opened, started and stopped over and over, as a show's music switches do: every opening
// loads and nothing locks (a player that connected its output from a streaming thread while
// seeking on this one froze here once in about a hundred MP3 openings).
TEST_F(Media, MusicOpenedAgainAndAgainNeverLocks) {
  device.SetOpenTimeLimit(kPatientMs);
  for (int i = 0; i < 40; ++i) {
    const char* name = i % 4 == 3 ? "a.wav" : "a.mp3";
    SCOPED_TRACE(std::to_string(i) + " " + name);
    ASSERT_EQ(device.OpenMusic(dir.File(name)), 0);
    ASSERT_EQ(device.Play(), 0);
    EXPECT_TRUE(device.Playing());
    ASSERT_EQ(device.Stop(), 0);
    EXPECT_TRUE(device.Stopped());
  }
  device.Close();
  EXPECT_TRUE(device.Stopped());
}

// A saver plays music for days, opening a file for every show: what one opening takes must all
// come back when it closes. (The player's own volume stage kept about 5 kB an opening for good.)
TEST_F(Media, MusicOpenedAgainAndAgainKeepsNoMemory) {
  device.SetOpenTimeLimit(kPatientMs);
  const auto openAndClose = [&](int times) {
    for (int i = 0; i < times; ++i) {
      const char* name = i % 2 ? "a.wav" : "a.mp3";
      if (device.OpenMusic(dir.File(name)) != 0) return false;
      device.Close();
    }
    return true;
  };
  ASSERT_TRUE(openAndClose(60));  // the libraries' first-use tables and caches
  const std::size_t before = HeapInUse();
  constexpr int kOpenings = 80;
  ASSERT_TRUE(openAndClose(kOpenings));
  const std::size_t after = HeapInUse();
  EXPECT_LT(after, before + kOpenings * 1024)
      << (after - before) / kOpenings << " bytes an opening";
}

// The same for movies, which locked the same way in that player (a video-only AVI among them).
TEST_F(Media, MoviesOpenedAgainAndAgainNeverLock) {
  const std::string movie = dir.File("m.avi");
  ASSERT_TRUE(testmedia::WriteAvi(movie, 160, 120, 3));
  for (int i = 0; i < 30; ++i) {
    SCOPED_TRACE(i);
    ASSERT_EQ(player.PlayMovie(movie, 640, 519), 0);
    EXPECT_EQ(device.Destination(), QRect(240, 199, 160, 120));
    player.CloseMovie();
  }
}

TEST_F(Media, BgmStopStopsTheMusic) {
  ASSERT_EQ(testmedia::WriteWav(dir.File("long.wav"), 5000), true);
  ASSERT_EQ(player.HandleBgm(Bgm("long.wav", kBgmStart)), 0);
  ASSERT_TRUE(SpinUntil([&] { return device.Playing(); }, 3000));
  EXPECT_EQ(player.HandleBgm(Bgm("long.wav", kBgmStop)), 0);
  EXPECT_TRUE(device.Stopped());
  player.StopMusic();
}

TEST_F(Media, BrokenOrMissingMusicSwitchesMusicOffWithoutAFreeze) {
  QElapsedTimer t;
  t.start();
  EXPECT_EQ(player.Preload("broken.mp3"), -1);
  EXPECT_EQ(player.Enabled, 0);
  EXPECT_LT(t.elapsed(), 6000);
  // Later music is ignored for the rest of the run, even a valid file.
  EXPECT_EQ(player.HandleBgm(Bgm("a.wav", kBgmStart)), 0);
  Spin(300);
  EXPECT_FALSE(device.Playing());

  CMPlayer fresh(&settings, &device);
  EXPECT_EQ(fresh.Preload("nothing-here.wav"), -1);
  EXPECT_EQ(fresh.Enabled, 0);
  CMPlayer third(&settings, &device);
  EXPECT_EQ(third.HandleBgm(Bgm("broken.mp3", kBgmStart)), -1);
  EXPECT_EQ(third.Enabled, 0);
}

// The files really decode to sound (MP3 through the libav plugin needs the explicit format).
TEST_F(Media, MusicFilesDecodeToSamples) {
  for (const char* name : {"a.wav", "a.mid", "a.mp3"}) {
    SCOPED_TRACE(name);
    QAudioDecoder decoder;
    QAudioFormat format;
    format.setSampleRate(44100);
    format.setChannelCount(2);
    format.setSampleFormat(QAudioFormat::Int16);
    decoder.setAudioFormat(format);
    decoder.setSource(QUrl::fromLocalFile(QString::fromStdString(dir.File(name))));
    qint64 bytes = 0;
    bool finished = false, failed = false;
    QObject::connect(&decoder, &QAudioDecoder::bufferReady,
                     [&] { bytes += decoder.read().byteCount(); });
    QObject::connect(&decoder, &QAudioDecoder::finished, [&] { finished = true; });
    QObject::connect(&decoder, qOverload<QAudioDecoder::Error>(&QAudioDecoder::error),
                     [&] { failed = true; });
    decoder.start();
    SpinUntil([&] { return finished || failed; }, 10000);
    EXPECT_FALSE(failed) << decoder.errorString().toStdString();
    EXPECT_GT(bytes, 44100 * 4 / 10);  // at least a tenth of a second of stereo samples
  }
}

struct MovieCase {
  int w, h;
  QRect expected;  // in the 640 x 519 client area
};

TEST_F(Media, MoviesAreShrunkToFitAndCentredNeverEnlarged) {
  const MovieCase cases[] = {
      {320, 240, QRect(160, 139, 320, 240)},
      {800, 600, QRect(0, 19, 640, 480)},
      {1280, 480, QRect(0, 139, 640, 240)},
  };
  for (const MovieCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
    const std::string path = dir.File("m" + std::to_string(c.w) + ".avi");
    ASSERT_TRUE(testmedia::WriteAvi(path, c.w, c.h, 3));
    ASSERT_EQ(player.PlayMovie(path, 640, 519), 0);
    EXPECT_EQ(device.Destination(), c.expected);
    EXPECT_TRUE(device.VideoShown());
    EXPECT_TRUE(SpinUntil([&] { return player.MovieStopped(); }, 5000));
    player.CloseMovie();
    EXPECT_FALSE(device.VideoShown());
  }
}

// The real decoders behind each kind of movie the saver meets: MJPEG (whose stream tells no
// size before it is decoded), uncompressed and MPEG-4 video, the first and last made from the
// uncompressed one with gst-launch-1.0. Each plays at its own size and its frames reach the
// video widget's sink.
TEST_F(Media, MjpegUncompressedAndMpeg4MoviesPlayTheirFrames) {
  const std::string raw = dir.File("raw.avi");
  ASSERT_TRUE(testmedia::WriteAvi(raw, 320, 240, 20));
  std::vector<std::string> movies = {raw};
  for (const char* encoder : {"jpegenc", "avenc_mpeg4"}) {
    movies.push_back(dir.File(std::string(encoder) + ".avi"));
    const std::string encode =
        "gst-launch-1.0 -q filesrc location=" + raw + " ! avidemux ! videoconvert ! " + encoder +
        " ! avimux ! filesink location=" + movies.back() + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(encode.c_str()), 0) << encode;
  }
  QVideoSink* sink = device.VideoSink();
  ASSERT_NE(sink, nullptr);
  for (const std::string& m : movies) {
    SCOPED_TRACE(m);
    ASSERT_EQ(player.PlayMovie(m, 640, 519), 0);
    EXPECT_EQ(device.Destination(), QRect(160, 139, 320, 240));
    EXPECT_TRUE(device.VideoShown());
    QImage frame;
    EXPECT_TRUE(SpinUntil(
        [&] {
          frame = sink->videoFrame().toImage();
          return frame.size() == QSize(320, 240) && device.Playing();
        },
        5000));
    // Every pixel of the movie has a red level of 0x80 (lossy codecs come close).
    if (!frame.isNull()) {
      EXPECT_NEAR(qRed(frame.pixel(160, 120)), 0x80, 12);
    }
    player.CloseMovie();
  }
}

// On a machine without a sound device every sound system the backend tries for the movie's
// audio complains on standard error; the program quiets them (where there is a device, nothing
// complains in the first place).
TEST_F(Media, AMovieLeavesAtMostOneLineOnStandardError) {
  QuietSoundSystems();
  testing::internal::CaptureStderr();
  EXPECT_EQ(player.PlayMovie(ONDRELIX_SOURCE_DIR "/examples/Interval/orbit.avi", 640, 519), 0);
  SpinUntil([&] { return device.Playing(); }, 3000);
  shelltest::Spin(300);
  player.CloseMovie();
  ASSERT_EQ(player.Preload("a.wav"), 0);
  EXPECT_EQ(player.HandleBgm(Bgm("a.wav", kBgmStartPreloaded)), 0);
  player.StopMusic();
  const std::string err = testing::internal::GetCapturedStderr();
  for (const char* noise : {"ALSA", "AL lib", "PulseAudio", "Failed to connect"})
    EXPECT_EQ(err.find(noise), std::string::npos) << err;
  std::size_t said = 0;
  for (std::size_t at = err.find("sound output"); at != std::string::npos;
       at = err.find("sound output", at + 1))
    ++said;
  EXPECT_LE(said, 1u) << err;
}

TEST_F(Media, AMovieWithoutDecodableVideoCannotBePlayed) {
  const std::string unknown = dir.File("codec.avi");
  ASSERT_TRUE(testmedia::WriteAvi(unknown, 320, 240, 3, "XXXX"));
  const std::string garbage = dir.File("garbage.avi");
  ASSERT_NE(dir.Write("garbage.avi", "RIFF....AVI LIST" + std::string(500, '\0')), "");
  for (const std::string& path : {unknown, garbage, dir.File("missing.avi")}) {
    SCOPED_TRACE(path);
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(player.PlayMovie(path, 640, 519), -1);
    EXPECT_LT(t.elapsed(), 6000);
    EXPECT_FALSE(device.VideoShown());
  }
  // The device is usable again afterwards.
  const std::string good = dir.File("good.avi");
  ASSERT_TRUE(testmedia::WriteAvi(good, 160, 120, 2));
  EXPECT_EQ(player.PlayMovie(good, 640, 519), 0);
  player.CloseMovie();
}

// The demo folder's interval movies are what a new user sees between the shows: each one plays
// to its end through the real decoders.
TEST_F(Media, TheDemoFoldersIntervalMoviesPlay) {
  const std::filesystem::path interval =
      std::filesystem::path(ONDRELIX_TEST_DATA) / ".." / ".." / "examples" / "Interval";
  int movies = 0;
  for (const auto& e : std::filesystem::directory_iterator(interval)) {
    if (e.path().extension() != ".avi") continue;
    ++movies;
    SCOPED_TRACE(e.path().string());
    ASSERT_EQ(player.PlayMovie(e.path().string(), 640, 519), 0);
    EXPECT_TRUE(device.VideoShown());
    EXPECT_TRUE(SpinUntil([&] { return player.MovieStopped(); }, 15000));
    player.CloseMovie();
  }
  EXPECT_GE(movies, 1);
}

}  // namespace
