// Script files that change between the scan and the load, and a Script.log that cannot be
// written. The tests run as root, which ignores permission bits, so nothing here relies on
// chmod: each failure is one the kernel gives root too (a folder where a file is expected, a
// path through a regular file, a link loop, a file system that refuses new files, /dev/full).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "ScriptFixture.h"
#include "script/TagId.h"

namespace fs = std::filesystem;

namespace {

class FaultLoad : public ::testing::Test {
 protected:
  ScriptEngine e;
  CTimeLine& tl = e.tl;

  // Catalogues `a` (script_a.txt) and `b` (script_b.txt), and orders the play so that a comes
  // first. Returns the catalogued path of a.
  std::string ScanBoth(const std::string& a, const std::string& b) {
    e.folder.Write("script_a.txt", a);
    e.folder.Write("script_b.txt", b);
    tl.CatalogueCount = 0;
    for (auto& entry : tl.Catalogue) entry.reset();
    tl.OrderPos = 0;
    EXPECT_EQ(tl.ScanFolder(e.folder.path() + "/"), 2);
    tl.BuildPlayOrder();
    const int first = tl.PlayOrder[0];
    // Only the file name tells them apart: the temporary folder's own name starts "ox_script_".
    const std::string firstPath = tl.Catalogue[first]->Path;
    if (firstPath.substr(firstPath.rfind('/') + 1) != "script_a.txt")
      std::swap(tl.PlayOrder[0], tl.PlayOrder[1]);
    return tl.Catalogue[tl.PlayOrder[0]]->Path;
  }
  // A loaded timeline is sorted by tick and ends with its end event.
  void ExpectWellFormed() {
    ASSERT_GT(tl.EventCount, 0);
    for (int i = 1; i < tl.EventCount; ++i) EXPECT_LE(e.TickAt(i - 1), e.TickAt(i)) << i;
    EXPECT_EQ(e.KindAt(tl.EventCount - 1), kTagDataEnd);
  }
  // After a fault the other script still loads whole.
  void ExpectNextLoadsWhole() {
    tl.ResetTimeline();
    ASSERT_EQ(tl.LoadNextScript(), 0);
    ExpectWellFormed();
    EXPECT_STREQ(static_cast<CTimeData&>(*tl.Events[0]).Title, "b");
  }
};

const std::string kB = "<DATA TITLE=\"b\" VERSION=\"1\"><IMAGE STRING=\"b\" TIME=\"2\"></DATA>";

TEST_F(FaultLoad, FileCutShortAnywhereLoadsUpToTheCutAndEndsThere) {
  // Where the cut falls: between tags, inside a tag, inside a quoted value, inside an open
  // BGMAKE block, inside a SCRTEXT body and inside a CAPTION body.
  const std::string whole =
      "<DATA TITLE=\"a\" VERSION=\"1\"><CLOCK SET=\"5\"><IMAGE STRING=\"late\" TIME=\"1\">"
      "<CLOCK SET=\"1\"><BGMAKE BGCOLOR=\"RED\"><OBJECT XPOS=\"1\"></BGMAKE>"
      "<SCRTEXT TIME=\"3\">one<BR>two</SCRTEXT><CAPTION>c1<P>c2</CAPTION></DATA>";
  for (const char* mark : {"<CLOCK SET=\"1\">", "\"RED\"", "<OBJECT", "two", "c2"}) {
    SCOPED_TRACE(mark);
    const std::string path = ScanBoth(whole, kB);
    const size_t cut = whole.find(mark) + std::string(mark).size() / 2;
    std::ofstream(path, std::ios::binary | std::ios::trunc) << whole.substr(0, cut);
    tl.ResetTimeline();
    ASSERT_EQ(tl.LoadNextScript(), 0);
    ExpectWellFormed();
    // The IMAGE at 5 s came before every cut and outlasts what follows it: the end is at 6 s.
    EXPECT_EQ(e.TickAt(tl.EventCount - 1), 6000 / 33);
    ExpectNextLoadsWhole();
  }
}

TEST_F(FaultLoad, FileShrunkBeforeItsSecondScriptFailsThatOneOnly) {
  const std::string first = "<DATA TITLE=\"a\" VERSION=\"1\"><SOLID></DATA>\n";
  const std::string two = first + "<DATA TITLE=\"a2\" VERSION=\"1\"><CLEAR></DATA>";
  e.folder.Write("script_a.txt", two);
  ASSERT_EQ(tl.ScanFolder(e.folder.path() + "/"), 2);
  int second = tl.Catalogue[0]->DataOffset > 0 ? 0 : 1;
  e.folder.Write("script_a.txt", first.substr(0, first.size() - 1));
  tl.ResetTimeline();
  EXPECT_EQ(tl.LoadCatalogueEntry(second), -1);  // its offset now lies past the end
  tl.ResetTimeline();
  ASSERT_EQ(tl.LoadCatalogueEntry(1 - second), 0);
  ExpectWellFormed();
}

TEST_F(FaultLoad, FileReplacedByWhatCannotBeReadFailsAndTheOrderMovesOn) {
  const std::string a = "<DATA TITLE=\"a\" VERSION=\"1\"><SOLID></DATA>";
  auto folder = [](const std::string& p) { fs::create_directory(p); };
  auto loop = [](const std::string& p) { fs::create_symlink(fs::path(p).filename(), p); };
  auto dangling = [](const std::string& p) { fs::create_symlink("/no/such/file", p); };
  for (auto replace : {+folder, +loop, +dangling}) {
    const std::string path = ScanBoth(a, kB);
    fs::remove(path);
    replace(path);
    tl.ResetTimeline();
    EXPECT_EQ(tl.LoadNextScript(), -1);
    EXPECT_EQ(tl.EventCount, 0);
    ExpectNextLoadsWhole();
    fs::remove(path);
  }
}

TEST_F(FaultLoad, EmptiedFileEndsAtOnce) {
  const std::string path = ScanBoth("<DATA TITLE=\"a\" VERSION=\"1\"><SOLID></DATA>", kB);
  std::ofstream(path, std::ios::trunc);
  tl.ResetTimeline();
  ASSERT_EQ(tl.LoadNextScript(), 0);
  ExpectWellFormed();
  EXPECT_EQ(e.TickAt(tl.EventCount - 1), 0);
  ExpectNextLoadsWhole();
}

class FaultScriptLog : public ::testing::Test {
 protected:
  ScriptEngine e;

  void Compile() { e.Compile(Script("<IMAGE STRING=\"x\" TIME=\"2\"><SOLID>")); }
  // A failed write leaves the timeline as it was, and the log can still be written elsewhere.
  void ExpectNothingElseBroke(int events, const std::string& text) {
    EXPECT_EQ(e.tl.EventCount, events);
    EXPECT_EQ(e.tl.PlayCursor, 0);
    EXPECT_EQ(e.tl.ScriptLogText(nullptr), text);
    e.settings.SetCurPath(e.folder.path());
    ASSERT_EQ(e.tl.WriteScriptLog(), 0);
    std::ifstream in(e.folder.path() + "/Script.log", std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    EXPECT_EQ(bytes.str(), text);
    fs::remove(e.folder.path() + "/Script.log");
  }
};

TEST_F(FaultScriptLog, FolderThatTakesNoFileGivesMinusOne) {
  Compile();
  const int events = e.tl.EventCount;
  const std::string text = e.tl.ScriptLogText(nullptr);
  const std::string dir = e.folder.path();

  // A folder named Script.log where the file should be.
  fs::create_directories(dir + "/logdir/Script.log");
  e.settings.SetCurPath(dir + "/logdir");
  EXPECT_EQ(e.tl.WriteScriptLog(), -1);
  EXPECT_TRUE(fs::is_directory(dir + "/logdir/Script.log"));
  ExpectNothingElseBroke(events, text);

  // A data folder whose path runs through a regular file.
  e.folder.Write("plain", "x");
  e.settings.SetCurPath(dir + "/plain/sub");
  EXPECT_EQ(e.tl.WriteScriptLog(), -1);
  ExpectNothingElseBroke(events, text);

  // sysfs takes no new files, not even from root: a truly read-only folder.
  if (fs::is_directory("/sys/kernel")) {
    e.settings.SetCurPath("/sys/kernel");
    EXPECT_EQ(e.tl.WriteScriptLog(), -1);
    EXPECT_FALSE(fs::exists("/sys/kernel/Script.log"));
    ExpectNothingElseBroke(events, text);
  }
}

TEST_F(FaultScriptLog, FullDiskGivesMinusOne) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  Compile();
  const int events = e.tl.EventCount;
  const std::string text = e.tl.ScriptLogText(nullptr);
  // Every write to /dev/full fails with "no space left", as on a full disk.
  fs::create_directories(e.folder.path() + "/full");
  fs::create_symlink("/dev/full", e.folder.path() + "/full/Script.log");
  e.settings.SetCurPath(e.folder.path() + "/full");
  EXPECT_EQ(e.tl.WriteScriptLog(), -1);
  ExpectNothingElseBroke(events, text);
}

}  // namespace

namespace {

// A named pipe with a script's or the log's name must never block: nothing writes to it, so
// opening it and waiting would hang the saver for ever.
class FaultPipe : public ::testing::Test {
 protected:
  ScriptEngine e;
};

TEST_F(FaultPipe, PipeNamedLikeAScriptIsSkippedByTheScan) {
  e.folder.Write("script_b.txt", kB);
  ASSERT_EQ(mkfifo((e.folder.path() + "/script_a.txt").c_str(), 0600), 0);
  EXPECT_EQ(e.tl.ScanFolder(e.folder.path() + "/"), 1);
  e.tl.BuildPlayOrder();
  ASSERT_EQ(e.tl.LoadNextScript(), 0);
  EXPECT_STREQ(static_cast<CTimeData&>(*e.tl.Events[0]).Title, "b");
}

TEST_F(FaultPipe, PipeNamedScriptLogGivesMinusOne) {
  e.Compile(Script("<IMAGE STRING=\"x\" TIME=\"2\">"));
  ASSERT_EQ(mkfifo((e.folder.path() + "/Script.log").c_str(), 0600), 0);
  e.settings.SetCurPath(e.folder.path());
  EXPECT_EQ(e.tl.WriteScriptLog(), -1);
}

}  // namespace
