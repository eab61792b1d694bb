// Loading a catalogued show again after its file was edited: the file is scanned again, so an edit
// that moves the DATA tag is read from the tag's new place, and the entry keeps its position.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "ScriptFixture.h"
#include "script/TagId.h"

namespace {

std::string Show(const std::string& title, const std::string& colour) {
  return "<DATA TITLE=\"" + title + "\" VERSION=\"1.1\"><SOLID COLOR=\"" + colour +
         "\"></DATA>\r\n";
}

class ReloadCatalogue : public ::testing::Test {
 protected:
  ScriptEngine e;
  CTimeLine& tl = e.tl;

  std::string Dir() const { return e.folder.path() + "/"; }
  // Catalogues every file written so far.
  void Scan() { ASSERT_GT(tl.ScanFolder(Dir()), 0); }
  int IndexOf(const std::string& title) const {
    for (int i = 0; i < tl.CatalogueCount; ++i) {
      if (title == tl.Catalogue[i]->Title) return i;
    }
    return -1;
  }
  // Reloads entry `index` into an empty timeline.
  int Reload(int index) {
    tl.ResetTimeline();
    return tl.ReloadCatalogueEntry(index);
  }
  std::string LoadedTitle() const {
    if (tl.EventCount == 0 || tl.Events[0]->Kind != kTagData) return {};
    return static_cast<const CTimeData&>(*tl.Events[0]).Title;
  }
  std::int32_t LoadedSolid() const {
    for (int i = 0; i < tl.EventCount; ++i) {
      if (tl.Events[i]->Kind == kTagSolid) return static_cast<CTimeSolid&>(*tl.Events[i]).Color;
    }
    return -1;
  }
};

TEST_F(ReloadCatalogue, EditsBeforeTheTagOrInsideTheShowAreWhatPlays) {
  e.folder.Write("script_a.txt", Show("a", "WHITE"));
  e.folder.Write("script_b.txt", Show("b", "WHITE"));
  Scan();
  const int a = IndexOf("a");
  ASSERT_GE(a, 0);
  const std::string path = tl.Catalogue[a]->Path;

  // Text added before the tag: the old offset would land inside it.
  const std::string note = "; a note the author added above the show\r\n";
  e.folder.Write("script_a.txt", note + Show("a2", "RED"));
  ASSERT_EQ(Reload(a), 0);
  EXPECT_EQ(LoadedTitle(), "a2");
  EXPECT_EQ(LoadedSolid(), 0x0000FF);
  EXPECT_EQ(tl.Catalogue[a]->DataOffset, static_cast<int>(note.size()));
  EXPECT_STREQ(tl.Catalogue[a]->Title, "a2");

  // The text removed again: the tag moves back to the start.
  e.folder.Write("script_a.txt", Show("a3", "BLUE"));
  ASSERT_EQ(Reload(a), 0);
  EXPECT_EQ(LoadedTitle(), "a3");
  EXPECT_EQ(tl.Catalogue[a]->DataOffset, 0);

  // An edit inside the show leaves the offset and reads the new body.
  e.folder.Write("script_a.txt", Show("a3", "GREEN"));
  ASSERT_EQ(Reload(a), 0);
  EXPECT_EQ(LoadedSolid(), 0x008000);
  EXPECT_EQ(tl.Catalogue[a]->DataOffset, 0);

  // The other file's entry and the catalogue's size are as they were.
  EXPECT_EQ(tl.CatalogueCount, 2);
  EXPECT_EQ(IndexOf("b"), 1 - a);
  EXPECT_STREQ(tl.Catalogue[a]->Path, path.c_str());
  EXPECT_EQ(tl.Settings->GetCurPath() + "/", Dir());
}

TEST_F(ReloadCatalogue, InAFileOfTwoShowsEachEntryKeepsItsPlaceAmongThem) {
  e.folder.Write("script_two.txt", Show("first", "WHITE") + Show("second", "BLUE"));
  Scan();
  ASSERT_EQ(tl.CatalogueCount, 2);
  const int first = IndexOf("first");
  const int second = IndexOf("second");
  ASSERT_GE(first, 0);
  ASSERT_GE(second, 0);

  // The first show grows, so the second one's tag moves on.
  const std::string longer =
      "<DATA TITLE=\"first\" VERSION=\"1.1\"><SOLID COLOR=\"RED\"><CLEAR></DATA>\r\n";
  e.folder.Write("script_two.txt", longer + Show("second", "YELLOW"));
  ASSERT_EQ(Reload(second), 0);
  EXPECT_EQ(LoadedTitle(), "second");
  EXPECT_EQ(LoadedSolid(), 0x00FFFF);
  EXPECT_EQ(tl.Catalogue[second]->DataOffset, static_cast<int>(longer.size()));
  // The sibling was pointed at its new place too, so it plays right when its turn comes.
  tl.ResetTimeline();
  ASSERT_EQ(tl.LoadCatalogueEntry(first), 0);
  EXPECT_EQ(LoadedTitle(), "first");
  EXPECT_EQ(LoadedSolid(), 0x0000FF);

  // A show the header check refuses does not count as one of the file's shows.
  e.folder.Write("script_two.txt",
                 "<DATA TITLE=\"draft\"></DATA>" + Show("first", "WHITE") + Show("second", "RED"));
  ASSERT_EQ(Reload(second), 0);
  EXPECT_EQ(LoadedTitle(), "second");
  ASSERT_EQ(Reload(first), 0);
  EXPECT_EQ(LoadedTitle(), "first");
}

TEST_F(ReloadCatalogue, AFileWithFewerShowsOrNoneLeft) {
  e.folder.Write("script_two.txt", Show("first", "WHITE") + Show("second", "BLUE"));
  Scan();
  const int first = IndexOf("first");
  const int second = IndexOf("second");

  // The second show deleted while it plays: the file's last show is what plays.
  e.folder.Write("script_two.txt", Show("first", "RED"));
  ASSERT_EQ(Reload(second), 0);
  EXPECT_EQ(LoadedTitle(), "first");
  EXPECT_EQ(tl.CatalogueCount, 2);

  // No show left (the tag half typed): -1, and the entries stay as they were.
  e.folder.Write("script_two.txt", "<DATA TITLE=\"first\" VERS");
  const int offset = tl.Catalogue[first]->DataOffset;
  EXPECT_EQ(Reload(first), -1);
  EXPECT_EQ(tl.Catalogue[first]->DataOffset, offset);
  EXPECT_STREQ(tl.Catalogue[first]->Title, "first");

  // The file gone: -1 as well.
  std::filesystem::remove(Dir() + "script_two.txt");
  EXPECT_EQ(Reload(first), -1);
  EXPECT_EQ(Reload(-1), -1);
  EXPECT_EQ(Reload(tl.CatalogueCount), -1);
}

TEST_F(ReloadCatalogue, AnEditedTitleIsCutAsTheScanCutsIt) {
  e.folder.Write("script_a.txt", Show("a", "WHITE"));
  Scan();
  const std::string longTitle(40, 'T');
  e.folder.Write("script_a.txt", Show(longTitle, "WHITE"));
  ASSERT_EQ(Reload(0), 0);
  EXPECT_EQ(std::string(tl.Catalogue[0]->Title), longTitle.substr(0, kScriptTitleChars));
}

}  // namespace

namespace {

// A show edited while another one plays is read from its tag's new place when its turn comes,
// without any reload being asked for.
TEST_F(ReloadCatalogue, AShowEditedBeforeItsTurnPlaysFromItsNewPlace) {
  e.folder.Write("script_a.txt", Show("a", "WHITE"));
  e.folder.Write("script_b.txt", Show("b", "WHITE"));
  Scan();
  tl.BuildPlayOrder();
  ASSERT_EQ(tl.PlayableCount, 2);
  const int later = tl.PlayOrder[1];
  const std::string title = tl.Catalogue[later]->Title;
  ASSERT_EQ(tl.LoadNextScript(), 0);

  const std::string note(57, ';');
  e.folder.Write("script_" + title + ".txt", note + "\r\n" + Show(title + "2", "RED"));
  tl.ResetTimeline();
  ASSERT_EQ(tl.LoadNextScript(), 0);
  EXPECT_EQ(LoadedTitle(), title + "2");
  EXPECT_EQ(LoadedSolid(), 0x0000FF);
  EXPECT_EQ(tl.Catalogue[later]->DataOffset, static_cast<int>(note.size() + 2));
  EXPECT_EQ(tl.PlayOrder[1], later);  // the order is as it was
}

}  // namespace
