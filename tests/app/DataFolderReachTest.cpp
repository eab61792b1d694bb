// What the three searches below the data folder reach (the catalogue, the dialog's count, the
// interval playlist): one rule for links and depth, whatever a data folder holds.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "app/IntervalList.h"
#include "platform/FolderWalk.h"
#include "script/CTimeLine.h"
#include "settings/CMainCtl.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;

namespace {

class Reach : public ::testing::Test {
 protected:
  Reach() {
    data = top + "/data";
    settings.SetStorePath(top + "/no-store.reg");
    settings.Load();
    settings.SetCurPath(data);
  }
  void Script(const std::string& rel, const std::string& title) {
    Write(rel, "<DATA TITLE=\"" + title + "\" VERSION=\"1\"></DATA>");
  }
  void Write(const std::string& rel, const std::string& bytes) {
    fs::create_directories(fs::path(data + "/" + rel).parent_path());
    std::ofstream(data + "/" + rel) << bytes;
  }
  void Link(const std::string& to, const std::string& rel) {
    fs::create_directories(fs::path(data + "/" + rel).parent_path());
    ASSERT_EQ(::symlink(to.c_str(), (data + "/" + rel).c_str()), 0);
  }
  std::set<std::string> Catalogue() {
    CTimeLine tl(&settings, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    tl.ScanFolder(data + "/");
    std::set<std::string> titles;
    for (int i = 0; i < tl.CatalogueCount; ++i) titles.insert(tl.Catalogue[i]->Title);
    return titles;
  }
  std::set<std::string> Intervals() {
    IntervalList list;
    list.Build(data);
    std::set<std::string> names;
    for (int i = 0; i < list.Count(); ++i) names.insert(list.At(i));
    return names;
  }
  TempFolder temp_;
  std::string top = temp_.path(), data;
  CMainCtl settings;
};

// A data folder may hold links to anywhere (made by someone else, or by mistake): a link to "/"
// once made the catalogue walk the whole system. Links are followed only to folders inside the
// data folder.
TEST_F(Reach, LinksAreFollowedOnlyInsideTheDataFolder) {
  Script("script_top.txt", "top");
  Write("Interval/a.bmp", "x");
  Script("pics/script_pics.txt", "pics");
  Write("pics/p.bmp", "x");
  Link("../pics", "Interval/in");  // inside: followed
  fs::create_directories(top + "/outside");
  std::ofstream(top + "/outside/script_out.txt") << "<DATA TITLE=\"out\" VERSION=\"1\"></DATA>";
  std::ofstream(top + "/outside/o.bmp") << "x";
  Link(top + "/outside", "out");
  Link(top + "/outside", "Interval/away");
  Link("/", "root");
  EXPECT_EQ(Catalogue(), (std::set<std::string>{"top", "pics"}));
  settings.StartScanClock();
  EXPECT_EQ(settings.CountScripts(data), 2);
  EXPECT_EQ(Intervals(), (std::set<std::string>{"Interval/a.bmp", "Interval/in/p.bmp"}));
}

TEST_F(Reach, DepthLimitIsTheSameForTheCatalogueAndTheCount) {
  std::string deep;
  for (int level = 1; level <= kMaxFolderDepth + 1; ++level) deep += "d/";
  Script(deep + "script_too_deep.txt", "too deep");
  Script(deep.substr(2) + "script_deepest.txt", "deepest");
  EXPECT_EQ(Catalogue(), (std::set<std::string>{"deepest"}));
  settings.StartScanClock();
  EXPECT_EQ(settings.CountScripts(data), 1);
}

// Interval pictures go into a built-in script by name: a name that would change the script is
// left out of the playlist.
TEST_F(Reach, IntervalPicturesWhoseNamesCannotBeQuotedAreLeftOut) {
  Write("Interval/fine 'one'.bmp", "x");
  Write("Interval/x.bmp\" ANGLE=\"45\" SIZE=\"300\" Q=\".bmp", "x");
  Write("Interval/a>b.jpg", "x");
  Write("Interval/clip\".avi", "x");  // movies are played by path, not through a script
  EXPECT_EQ(Intervals(),
            (std::set<std::string>{"Interval/fine 'one'.bmp", data + "/Interval/clip\".avi"}));
}

}  // namespace
