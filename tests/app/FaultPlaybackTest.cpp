// The whole saver on a virtual clock when its files go bad: pictures that cannot be read, and a
// data folder that is deleted while the saver runs. The tests run as root, which reads files
// whatever their permission bits, so an unreadable picture is made in ways that bind root too: a
// folder named like the picture, a cut or empty file, a link that loops, a named pipe.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <thread>

#include "app/CPlayback.h"
#include "app/MediaDevice.h"
#include "app/SaverObjects.h"
#include "app/WindowSurface.h"
#include "settings/CMainCtl.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;

namespace {

const std::string kSource = ONDRELIX_SOURCE_DIR;
const std::string kData = ONDRELIX_TEST_DATA;

struct FaultPlayback : ::testing::Test {
  std::unique_ptr<SaverObjects> Make(const std::string& dir) {
    auto o = std::make_unique<SaverObjects>(&device, [&](CMainCtl& s) {
      s.SetStorePath("/dev/null/no-store.reg");
      s.Load();
      s.SetDspMode(kDisplayWindow);
      s.SetCurPath(dir);
      s.LoadedPath = dir;
    });
    EXPECT_TRUE(o->Layout(1024, 768));
    return o;
  }
  // Runs the playback on its own deadlines from `now` until `until`; calls `each` after every
  // pass.
  template <typename F>
  void Run(CPlayback& pb, std::int32_t until, F each) {
    for (std::int32_t t = pb.NextDeadline(now); t <= until; t = pb.NextDeadline(now)) {
      ASSERT_GT(t, now);
      now = t;
      pb.Pass(t);
      each();
    }
  }
  void Run(CPlayback& pb, std::int32_t until) {
    Run(pb, until, [] {});
  }
  static void WriteText(const std::string& path, const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }

  TempFolder temp_;
  std::string root = temp_.path();
  SilentMediaDevice device;
  std::int32_t now = 0;
};

// One show that puts a picture into each layer that reads picture files: the background and an
// object placed on it, an image, a title and a scrolling text. `bg`, `img`, `ttl` and `txt` name
// the pictures.
std::string PictureShow(const std::string& bg, const std::string& img, const std::string& ttl,
                        const std::string& txt) {
  return "<DATA TITLE=\"pics\" VERSION=\"1.1\">"
         "<BGMAKE BGFILE=\"" +
         bg + "\"><OBJECT FILE=\"" + img +
         "\" XPOS=\"100\" YPOS=\"40\"></BGMAKE>"
         "<IMAGE FILE=\"" +
         img +
         "\" XPOS=\"-100\" TIME=\"4\">"
         "<TITLE FILE=\"" +
         ttl +
         "\" TIME=\"4\">"
         "<SCRTEXT BITMAP=\"" +
         txt + "\" SPEED=\"4\" TIME=\"4\"></SCRTEXT></DATA>";
}

// The window after 40 ticks of the show in `dir`, played by the whole saver. With `replay` the
// show must then end and start again (it is the only one).
Bitmap32 PlayPictureShow(FaultPlayback& f, const std::string& dir, bool replay = true) {
  f.now = 0;
  auto o = f.Make(dir);
  o->PrepareShows(5, false);
  EXPECT_EQ(o->TimeLine->PlayableCount, 1);
  CPlayback& pb = o->Playback();
  pb.Begin(/*noLogo=*/true, false);
  const std::int32_t shot = 500 + 1000 + 40 * 33;
  f.Run(pb, shot);
  EXPECT_EQ(pb.PlayState, kScriptPlaying);
  Bitmap32 frame = o->Window->Picture();
  if (!replay) return frame;
  // The show ends at 4 s, then waits 500 ms and starts its first tick a second later.
  std::map<int, int> entered;
  int last = pb.PlayState;
  f.Run(pb, 500 + 1000 + 4000 + 500 + 1000 + 10 * 33, [&] {
    if (pb.PlayState != last) ++entered[last = pb.PlayState];
  });
  EXPECT_GE(entered[kWaiting], 1) << "the show ended";
  EXPECT_GE(entered[kScriptPlaying], 1) << "and played again";
  return frame;
}

bool SameFrame(const Bitmap32& a, const Bitmap32& b) {
  if (a.width != b.width || a.height != b.height) return false;
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x)
      if (a.Row(y)[x] != b.Row(y)[x]) return false;
  return true;
}

TEST_F(FaultPlayback, UnreadablePicturesShowNotFoundAndTheShowGoesOn) {
  const std::string ref = root + "/ref";
  WriteText(ref + "/script_pics.txt",
            PictureShow("*NOTFOUND", "*NOTFOUND", "*NOTFOUND", "*NOTFOUND"));
  const Bitmap32 expected = PlayPictureShow(*this, ref, false);
  // A name that resolves to no file at all leaves the image without a file name, which shows
  // NOTFOUND as it comes, without the even padding a loaded picture gets.
  const std::string none = root + "/none";
  WriteText(none + "/script_pics.txt", PictureShow("bg.bmp", "img.bmp", "ttl.bmp", "txt.bmp"));
  const Bitmap32 missing = PlayPictureShow(*this, none, false);

  // The comparison can tell pictures apart: a readable picture gives another frame.
  const std::string good = root + "/good";
  fs::create_directories(good);
  fs::copy_file(kSource + "/resources/ZQLOGO.bmp", good + "/logo.bmp");
  WriteText(good + "/script_pics.txt", PictureShow("logo.bmp", "logo.bmp", "logo.bmp", "logo.bmp"));
  EXPECT_FALSE(SameFrame(PlayPictureShow(*this, good, false), expected));

  const std::map<std::string, std::function<void(const std::string&)>> kinds = {
      {"folder", [](const std::string& p) { fs::create_directories(p); }},
      {"empty", [](const std::string& p) { WriteText(p, ""); }},
      {"cut bmp",
       [](const std::string& p) { fs::copy_file(kData + "/malformed/bmp-truncated-rows.bmp", p); }},
      {"cut jpeg",
       [](const std::string& p) {
         fs::copy_file(kData + "/malformed/jpeg-truncated-progressive.jpg", p);
       }},
      {"link loop", [](const std::string& p) { fs::create_symlink(fs::path(p).filename(), p); }},
  };
  for (const auto& [kind, make] : kinds) {
    SCOPED_TRACE(kind);
    const std::string dir = root + "/case";
    fs::create_directories(dir);
    const char* ext = kind == "cut jpeg" ? ".jpg" : ".bmp";
    for (const char* name : {"bg", "img", "ttl", "txt"}) make(dir + "/" + name + ext);
    WriteText(dir + "/script_pics.txt",
              PictureShow(std::string("bg") + ext, std::string("img") + ext, "ttl.bmp", "txt.bmp"));
    if (kind == "cut jpeg") {
      WriteText(dir + "/ttl.bmp", "");
      WriteText(dir + "/txt.bmp", "");
    }
    // A link that loops does not count as an existing file: it plays as a missing one.
    EXPECT_TRUE(SameFrame(PlayPictureShow(*this, dir), kind == "link loop" ? missing : expected));
    fs::remove_all(dir);
  }
}

TEST_F(FaultPlayback, NamedPipeInPlaceOfAPictureDoesNotHangTheShow) {
  // Opening a pipe for reading waits for a writer. Should the saver do that, this watchdog plays
  // the writer after a while, so the test fails instead of hanging.
  const std::string dir = root + "/pipes";
  fs::create_directories(dir);
  const std::string pipes[] = {dir + "/bg.bmp", dir + "/img.bmp", dir + "/ttl.bmp",
                               dir + "/txt.bmp"};
  for (const std::string& p : pipes) ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0);
  WriteText(dir + "/script_pics.txt", PictureShow("bg.bmp", "img.bmp", "ttl.bmp", "txt.bmp"));
  std::atomic<bool> done{false};
  std::atomic<int> rescued{0};
  std::thread watchdog([&] {
    const auto start = std::chrono::steady_clock::now();
    while (!done) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      if (std::chrono::steady_clock::now() - start < std::chrono::seconds(10)) continue;
      for (const std::string& p : pipes) {
        const int fd = ::open(p.c_str(), O_WRONLY | O_NONBLOCK);  // succeeds only with a reader
        if (fd >= 0) {
          ::close(fd);
          ++rescued;
        }
      }
    }
  });
  const std::string ref = root + "/ref";
  WriteText(ref + "/script_pics.txt",
            PictureShow("*NOTFOUND", "*NOTFOUND", "*NOTFOUND", "*NOTFOUND"));
  const Bitmap32 frame = PlayPictureShow(*this, dir);
  done = true;
  watchdog.join();
  EXPECT_EQ(rescued, 0) << "the saver waited on a named pipe";
  EXPECT_TRUE(SameFrame(frame, PlayPictureShow(*this, ref, false)));
}

TEST_F(FaultPlayback, DataFolderDeletedWhileTheSaverRunsKeepsItCycling) {
  const std::string dir = root + "/data";
  fs::create_directories(dir + "/Interval");
  fs::copy_file(kSource + "/resources/ZQLOGO.bmp", dir + "/Interval/Logo.bmp");
  fs::copy_file(kSource + "/resources/ZQLOGO.bmp", dir + "/pic.bmp");
  for (const char* name : {"one", "two"}) {
    // The second half of each show reads its pictures only when it gets there.
    WriteText(dir + "/script_" + std::string(name) + ".txt",
              std::string("<DATA TITLE=\"") + name +
                  "\" VERSION=\"1.1\">"
                  "<IMAGE FILE=\"pic.bmp\" TIME=\"2\"><CLOCK SET=\"2\">"
                  "<BGMAKE BGFILE=\"pic.bmp\"></BGMAKE><IMAGE FILE=\"pic.bmp\" TIME=\"2\">"
                  "<TITLE FILE=\"pic.bmp\" TIME=\"2\"></DATA>");
  }
  auto o = Make(dir);
  o->PrepareShows(11);
  ASSERT_EQ(o->TimeLine->PlayableCount, 2);
  CPlayback& pb = o->Playback();
  pb.Begin(/*noLogo=*/false, false);

  // Into the first item, then the folder goes.
  Run(pb, 4000);
  fs::remove_all(dir);
  ASSERT_FALSE(fs::exists(dir));

  std::map<int, int> entered;
  int last = pb.PlayState;
  std::int32_t lastChange = now, longestStill = 0;
  Run(pb, 4000 + 90000, [&] {
    if (pb.PlayState == last) return;
    longestStill = std::max(longestStill, now - lastChange);
    lastChange = now;
    ++entered[last = pb.PlayState];
  });
  longestStill = std::max(longestStill, now - lastChange);
  // Loads are tried again and again (they fail: the files are gone), the built-in items (the
  // logo and the interval picture, now NOTFOUND) keep playing, and no state holds for long.
  EXPECT_GE(entered[kLoadScript], 5);
  EXPECT_GE(entered[kIntroPlaying], 3);
  EXPECT_LT(longestStill, 30000);
  EXPECT_EQ(pb.Busy, false);

  // A regular file where the folder was changes nothing either.
  WriteText(dir, "not a folder");
  entered.clear();
  Run(pb, 4000 + 90000 + 30000, [&] {
    if (pb.PlayState != last) ++entered[last = pb.PlayState];
  });
  EXPECT_GE(entered[kLoadScript], 2);
  EXPECT_GE(entered[kIntroPlaying], 1);
}

}  // namespace
