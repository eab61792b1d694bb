// Discovery and loading: the catalogue, identities, the play order, loading from files, bodies.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "ScriptFixture.h"
#include "script/ScriptReader.h"
#include "script/TagId.h"

namespace {

class ScriptLoader : public ::testing::Test {
 protected:
  ScriptEngine e;
  CTimeLine& tl = e.tl;

  std::string Dir() const { return e.folder.path() + "/"; }
  std::string TitleOf(int index) { return tl.Catalogue[index]->Title; }
  std::string LoadedTitle() { return static_cast<CTimeData&>(*tl.Events[0]).Title; }
  // Catalogues a whole script, then cuts the file to `cut` before loading it, as a file that
  // shrank between the scan and the load.
  int LoadShrunk(const std::string& cut) {
    e.LoadFile(cut + "</DATA>");
    e.folder.Write("script_t.txt", cut);
    tl.ResetTimeline();
    return tl.LoadCatalogueEntry(0);
  }
};

TEST_F(ScriptLoader, CataloguesEveryAcceptedDataBlock) {
  const std::string two =
      "<DATA TITLE=\"one\" VERSION=\"1\"></DATA>\r\n<DATA TITLE=\"two\" VERSION=\"1.1\"></DATA>";
  e.folder.Write("script_two.txt", two);
  e.folder.Write("a/b/script_deep.txt", "<DATA TITLE=deep VERSION=0.5></DATA>");
  e.folder.Write("Script_Intro.TXT", "text <DATA TITLE=intro VERSION=1></DATA>");
  e.folder.Write("script_a.txt.bak", "<DATA TITLE=bak VERSION=1></DATA>");
  e.folder.Write("script_notes", "<DATA TITLE=notes VERSION=1></DATA>");
  e.folder.Write("script_rejected.txt",
                 "<DATA TITLE=\"no version\"></DATA><DATA TITLE=\"new\" VERSION=\"1.2\"></DATA>"
                 "<DATA VERSION=1></DATA><DATA TITLE=open VERSION=1>");
  EXPECT_EQ(tl.ScanFolder(Dir()), 4);
  std::set<std::string> titles;
  for (int i = 0; i < tl.CatalogueCount; ++i) titles.insert(TitleOf(i));
  EXPECT_EQ(titles, (std::set<std::string>{"one", "two", "DEEP", "INTRO"}));

  // The two blocks of one file: same path, offsets of their "<" in the raw bytes.
  int one = -1, second = -1;
  for (int i = 0; i < tl.CatalogueCount; ++i) {
    if (TitleOf(i) == "one") one = i;
    if (TitleOf(i) == "two") second = i;
  }
  ASSERT_GE(one, 0);
  ASSERT_GE(second, 0);
  EXPECT_STREQ(tl.Catalogue[one]->Path, tl.Catalogue[second]->Path);
  EXPECT_EQ(tl.Catalogue[one]->DataOffset, 0);
  EXPECT_EQ(tl.Catalogue[second]->DataOffset, static_cast<int>(two.find("<DATA TITLE=\"two\"")));
  std::int32_t id1 = 0, id2 = 0;
  ASSERT_EQ(tl.ScriptIdentity(one, nullptr, &id1), 0);
  ASSERT_EQ(tl.ScriptIdentity(second, nullptr, &id2), 0);
  EXPECT_NE(id1, id2);
  EXPECT_EQ(tl.ScriptIdentity(tl.CatalogueCount, nullptr, &id1), -1);
  EXPECT_EQ(tl.ScriptIdentity(-1, nullptr, &id1), -1);

  // Scanning again appends.
  EXPECT_EQ(tl.ScanFolder(Dir()), 8);
}

TEST_F(ScriptLoader, LinkLoopsAreEnteredOnce) {
  e.folder.Write("a/script_a.txt", Script(""));
  std::filesystem::create_directory_symlink("..", e.folder.path() + "/a/up");
  std::filesystem::create_directory_symlink(e.folder.path() + "/a", e.folder.path() + "/b");
  EXPECT_EQ(tl.ScanFolder(Dir()), 1);
}

// Files are read whole, so a huge file named like a script would cost its size in memory (or
// end the saver): past the limit it is passed over as unreadable. The files here are sparse.
TEST_F(ScriptLoader, FilesTooLargeForAScriptAreSkipped) {
  const std::string show = "<DATA TITLE=x VERSION=1></DATA>";
  e.folder.Write("script_small.txt", show);
  const std::string over = e.folder.Write("script_over.txt", show);
  std::filesystem::resize_file(over, kMaxScriptFileBytes + 1);
  ASSERT_EQ(tl.ScanFolder(Dir()), 1);
  EXPECT_NE(std::string(tl.Catalogue[0]->Path).find("script_small.txt"), std::string::npos);
  ScriptSource src;
  EXPECT_FALSE(src.OpenFile(over));
  EXPECT_EQ(src.Size(), 0u);
  std::filesystem::resize_file(over, kMaxScriptFileBytes);
  EXPECT_TRUE(src.OpenFile(over));
  EXPECT_EQ(src.Size(), kMaxScriptFileBytes);
}

TEST_F(ScriptLoader, IdentityFormula) {
  auto add = [&](const std::string& path, int offset) {
    auto entry = std::make_unique<ScriptEntry>();
    std::snprintf(entry->Path, sizeof entry->Path, "%s", path.c_str());
    std::snprintf(entry->Title, sizeof entry->Title, "T");
    entry->DataOffset = offset;
    tl.Catalogue[tl.CatalogueCount++] = std::move(entry);
  };
  add("ab", 10);                             // ((195 * 256 + 2) * 256) + 10
  add("\xff", 0);                            // a byte above 0x7F counts as negative
  add(std::string(255, '\x7f'), 100000000);  // wraps in 32 bits
  std::int32_t id = 0;
  std::string title;
  tl.ScriptIdentity(0, &title, &id);
  EXPECT_EQ(id, 12780042);
  EXPECT_EQ(title, "T");
  tl.ScriptIdentity(1, nullptr, &id);
  EXPECT_EQ(id, -65280);
  tl.ScriptIdentity(2, nullptr, &id);
  EXPECT_EQ(id, -2072518656);
}

TEST_F(ScriptLoader, PlayOrderIsAPermutationThatRepeats) {
  for (const char* t : {"a", "b", "c"}) {
    e.folder.Write(std::string("script_") + t + ".txt",
                   std::string("<DATA TITLE=\"") + t + "\" VERSION=1><IMAGE TIME=1></DATA>");
  }
  ASSERT_EQ(tl.ScanFolder(Dir()), 3);
  for (unsigned seed = 1; seed < 40; ++seed) {
    std::srand(seed);
    tl.BuildPlayOrder();
    ASSERT_EQ(tl.PlayableCount, 3);
    std::set<int> order(tl.PlayOrder, tl.PlayOrder + 3);
    EXPECT_EQ(order, (std::set<int>{0, 1, 2})) << seed;
  }
  tl.OrderPos = 0;
  std::string loaded[4];
  for (std::string& title : loaded) {
    tl.ResetTimeline();
    ASSERT_EQ(tl.LoadNextScript(), 0);
    title = LoadedTitle();
  }
  EXPECT_EQ(std::set<std::string>(loaded, loaded + 3), (std::set<std::string>{"a", "b", "c"}));
  EXPECT_EQ(loaded[3], loaded[0]);

  // A switched-off script is left out of the order.
  std::int32_t id = 0;
  tl.ScriptIdentity(1, nullptr, &id);
  e.settings.NoExeAdd(id);
  tl.BuildPlayOrder();
  EXPECT_EQ(tl.PlayableCount, 2);
  EXPECT_EQ(std::set<int>(tl.PlayOrder, tl.PlayOrder + 2), (std::set<int>{0, 2}));
}

TEST_F(ScriptLoader, NothingToLoad) {
  EXPECT_EQ(tl.LoadNextScript(), -1);
  e.folder.Write("script_a.txt", Script(""));
  tl.ScanFolder(Dir());
  std::int32_t id = 0;
  tl.ScriptIdentity(0, nullptr, &id);
  e.settings.NoExeAdd(id);
  tl.BuildPlayOrder();
  EXPECT_EQ(tl.PlayableCount, 0);
  EXPECT_EQ(tl.LoadNextScript(), -1);
}

TEST_F(ScriptLoader, VanishedFileFailsAndTheOrderMovesOn) {
  e.folder.Write("script_a.txt", Script(""));
  e.folder.Write("script_b.txt", Script(""));
  tl.ScanFolder(Dir());
  tl.BuildPlayOrder();
  const std::string gone = tl.Catalogue[tl.PlayOrder[0]]->Path;
  std::filesystem::remove(gone);
  EXPECT_EQ(tl.LoadNextScript(), -1);
  EXPECT_EQ(tl.OrderPos, 1);
  EXPECT_EQ(tl.LoadNextScript(), 0);
}

TEST_F(ScriptLoader, NamesResolveInTheScriptsOwnFolder) {
  e.folder.Write("deep/er/pic.bmp", "x");
  e.folder.Write("deep/er/script_x.txt", Script("<IMAGE FILE=Pic.Bmp TIME=1>"));
  tl.ScanFolder(Dir());
  tl.BuildPlayOrder();
  ASSERT_EQ(tl.LoadNextScript(), 0);
  EXPECT_EQ(e.settings.GetCurPath(), e.folder.path() + "/deep/er");
  EXPECT_STREQ(e.At<CTimeImage>(1).FileName, "PIC.BMP");
}

TEST_F(ScriptLoader, SyntaxErrorsAreRecordedAndLoadingGoesOn) {
  ASSERT_EQ(e.LoadFile("junk<DATA TITLE=t VERSION=1>\n<IMAGE TIME=1><NOSUCH><SCHEDULE_I>"
                       "<SOLID COLOR=RED></DATA><IMAGE TIME=50>"),
            0);
  EXPECT_STREQ(tl.LastError.Message, "何らかの文法上の誤りがあります。");
  EXPECT_EQ(tl.LastError.TagOrdinal, 4);
  EXPECT_EQ(std::string(tl.LastError.ScriptPath),
            (e.folder.path() + "/script_t.txt").substr(0, 127));
  ASSERT_EQ(tl.EventCount, 4);  // DATA, IMAGE, SOLID, /DATA: nothing after /DATA is read
  EXPECT_EQ(e.KindAt(3), kTagDataEnd);
}

TEST_F(ScriptLoader, EndOfFileClosesTheScript) {
  ASSERT_EQ(LoadShrunk("<DATA TITLE=t VERSION=1><CLOCK SET=1><IMAGE TIME=2><BGMAKE>"), 0);
  ASSERT_EQ(tl.EventCount, 4);
  EXPECT_EQ(e.KindAt(2), kTagBgMake);  // the open block is completed by the end
  EXPECT_EQ(e.KindAt(3), kTagDataEnd);
  EXPECT_EQ(e.TickAt(3), 90);
}

TEST_F(ScriptLoader, ScrTextBodyRendersAndCarriesItsSchedules) {
  ASSERT_EQ(e.LoadFile(Script("<SCRTEXT TIME=10 CONTRAST=FADEIN>"
                              "<SET START=0 CONTRAST=100 SPEED=3 XPOS=5><MOVE START=-3 TIME=2>"
                              "<FORMAT SIZE=20>Hello<BR>world</FORMAT></SCRTEXT>"
                              "<SCRTEXT></SCRTEXT>")),
            0);
  ASSERT_EQ(tl.EventCount, 7);
  EXPECT_EQ(e.texts.count, 2);
  const auto& text = e.At<CTimeScroll>(1);
  EXPECT_EQ(text.Kind, kTagScrText);
  EXPECT_EQ(text.BmpNo, 0);
  EXPECT_EQ(text.Contrast, 0);
  EXPECT_EQ(e.KindAt(2), kTagScrText);
  EXPECT_EQ(e.At<CTimeScroll>(2).BmpNo, 1);
  // The empty body renders a bitmap 2 pixels high.
  ASSERT_NE(e.texts.Entry(1), nullptr);
  EXPECT_EQ(e.texts.Entry(1)->bitmap.height, 2);
  // The body's schedules were made before the text's event and still fire after it.
  const auto& set = e.At<CTimeSchedule>(3);
  EXPECT_EQ(set.Kind, kTagScheduleS);
  EXPECT_EQ(set.BmpNo, 0);
  EXPECT_EQ(set.Contrast, 100 * 65536);
  EXPECT_EQ(set.Speed, 3);
  EXPECT_EQ(set.Point.x, kUnsetReal);  // positions are not read inside a body
  const auto& move = e.At<CTimeSchedule>(4);
  EXPECT_EQ(move.Mode, kModeMove);
  EXPECT_EQ(move.Tick, 0);
  EXPECT_EQ(move.Time, 2000);
  EXPECT_EQ(e.At<CTimeSchedule>(5).Contrast, 0xFF0000);  // the FADEIN schedule
  EXPECT_EQ(e.TickAt(6), 606);                           // the empty text's default 20 s
}

TEST_F(ScriptLoader, ScriptEndingInsideABodyEndsThere) {
  // End of the file inside a SCRTEXT body: the text still gets its event, the end comes last.
  ASSERT_EQ(LoadShrunk("<DATA TITLE=t VERSION=1><CLOCK SET=2><SCRTEXT TIME=3>abc"), 0);
  ASSERT_EQ(tl.EventCount, 3);
  EXPECT_EQ(e.KindAt(1), kTagScrText);
  EXPECT_EQ(e.TickAt(1), 60);
  EXPECT_EQ(e.KindAt(2), kTagDataEnd);
  EXPECT_EQ(e.TickAt(2), 151);

  // </DATA> inside a CAPTION body: nothing after it is read, and the block is closed.
  ASSERT_EQ(e.LoadFile(Script("<CAPTION TIME=4>one<P>two</DATA><IMAGE TIME=50></DATA>")), 0);
  ASSERT_EQ(tl.EventCount, 3);
  const auto& cap = e.At<CTimeCaption>(1);
  EXPECT_EQ(cap.Kind, kTagCaption);
  EXPECT_EQ(cap.Time, 4000);
  EXPECT_EQ(cap.NumCaption, e.caption.TagCount());
  EXPECT_EQ(e.KindAt(2), kTagDataEnd);
  EXPECT_EQ(e.TickAt(2), 121);
}

TEST_F(ScriptLoader, CaptionsOffStillReadTheBody) {
  e.settings.SetFlgCaption(false);
  ASSERT_EQ(e.LoadFile(Script("<CAPTION TIME=40>one<IMAGE TIME=1></CAPTION><SOLID>")), 0);
  ASSERT_EQ(tl.EventCount, 3);  // DATA, SOLID, /DATA: the IMAGE in the body is skipped
  EXPECT_EQ(e.KindAt(1), kTagSolid);
  EXPECT_EQ(e.TickAt(2), 0);
}

TEST_F(ScriptLoader, BodyOfABackgroundBlockIsNotLost) {
  // The SCRTEXT closes the block before its body adds schedules.
  ASSERT_EQ(e.LoadFile(Script("<BGMAKE BGCOLOR=RED><SCRTEXT><SET START=1>x</SCRTEXT>")), 0);
  ASSERT_EQ(tl.EventCount, 5);
  EXPECT_EQ(e.KindAt(1), kTagBgMake);
  EXPECT_EQ(e.At<CTimeBgMake>(1).BgColor, 0xFF);
  EXPECT_EQ(e.KindAt(2), kTagScrText);
  EXPECT_EQ(e.KindAt(3), kTagScheduleS);
}

}  // namespace
