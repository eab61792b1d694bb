// Adding Ondrelix to XScreenSaver's programs list: the list grows by exactly one entry at its end,
// every other line stays as it was, a second run changes nothing, and the file on disk is
// replaced whole (through a link, keeping its permissions) or not at all.
#include "app/XScreenSaverList.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;

namespace {

const char* kEntry = "\"Ondrelix\"  /opt/ox/bin/ondrelix --root";

const char* kDefaults =
    "! the system's settings\n"
    "*mode:\t\t\trandom\n"
    "*programs:\t\t\t\t\t      \\\n"
    "\t\t\t\tmaze --root\t\t\t\t    \\n\\\n"
    "- GL: \t\t\t\tsuperquadrics --root\t\t\t    \\n\\\n"
    "\t\t\t\t\"Pretty\" attraction --root\t\t    \\n\n"
    "\n"
    "*pointerHysteresis:\t10\n";

// The number the entry of `program` gets when added after everything in `text`: one more than the
// entries the list holds, so it counts them as XScreenSaver reads them.
int NextNumber(const std::string& text) {
  return AddProgramEntry(text, "", "\"X\" probe --root", "probe").number;
}

TEST(XScreenSaverList, NewListStartsAsTheSystemsAndEndsWithOndrelix) {
  for (const char* file : {"", "mode:\tone\nselected:\t2\n", "lock:\tFalse"}) {
    const ProgramsEdit edit = AddProgramEntry(file, kDefaults, kEntry, "ondrelix");
    ASSERT_TRUE(edit.added) << file;
    EXPECT_EQ(edit.number, 4) << file;
    EXPECT_EQ(NextNumber(edit.text), 5) << edit.text;
    // The user's own lines come first, unchanged; the system's list follows under the user's name.
    EXPECT_TRUE(edit.text.starts_with(file)) << edit.text;
    EXPECT_NE(edit.text.find("programs:"), std::string::npos);
    EXPECT_EQ(edit.text.find("*programs"), std::string::npos) << edit.text;
    EXPECT_EQ(edit.text.find("pointerHysteresis"), std::string::npos) << edit.text;
    EXPECT_NE(edit.text.find("superquadrics"), std::string::npos);
    EXPECT_NE(edit.text.find(std::string(kEntry) + "\t\t\t    \\n\n"), std::string::npos);
  }
  // Without the system's file the list holds Ondrelix alone.
  const ProgramsEdit alone = AddProgramEntry("", "", kEntry, "ondrelix");
  EXPECT_EQ(alone.number, 1);
  EXPECT_EQ(NextNumber(alone.text), 2) << alone.text;
}

TEST(XScreenSaverList, ExistingListGetsOneEntryAtItsEndAndOtherLinesStay) {
  struct Case {
    const char* before;  // the lines before and after the list
    const char* list;
    int entries;
  } cases[] = {
      {"timeout:\t0:10:00\n", "programs:\t\\\n\tmaze --root\t\\n\\\n\tqix --root\t\\n\n", 2},
      // The last entry without its "\n", a list on one line, an empty list.
      {"", "programs: \tmaze --root \\n\\\n\tqix --root\n", 2},
      {"", "programs: maze --root\n", 1},
      {"", "programs:\n", 0},
      // A list that ends in a continuation at the end of the file, and one without a last newline.
      {"", "programs:\t\\\n\tmaze --root\t\\n\\\n", 1},
      {"", "programs:\t\\\n\tmaze --root\t\\n", 1},
  };
  const std::string after = "\nmodules:\t\\\n\t  programs: not this one \\n\nfade:\tTrue\n";
  for (const Case& c : cases) {
    const std::string file = std::string(c.before) + c.list + after;
    const ProgramsEdit edit = AddProgramEntry(file, kDefaults, kEntry, "ondrelix");
    ASSERT_TRUE(edit.added) << file;
    EXPECT_EQ(edit.number, c.entries + 1) << file;
    EXPECT_EQ(NextNumber(edit.text), c.entries + 2) << edit.text;
    EXPECT_TRUE(edit.text.starts_with(c.before)) << edit.text;
    EXPECT_TRUE(edit.text.ends_with(after)) << edit.text;
    EXPECT_EQ(edit.text.find("superquadrics"), std::string::npos) << "the user's list is kept";
  }
  // A file whose last line is the list, without a newline, keeps having none.
  const ProgramsEdit bare = AddProgramEntry("programs: maze --root", "", kEntry, "ondrelix");
  EXPECT_FALSE(bare.text.ends_with("\n")) << bare.text;
  EXPECT_EQ(NextNumber(bare.text), 3) << bare.text;
}

TEST(XScreenSaverList, AnEntryRunningOndrelixFromAnyFolderCountsAsThere) {
  const ProgramsEdit once = AddProgramEntry("", kDefaults, kEntry, "ondrelix");
  const ProgramsEdit twice = AddProgramEntry(once.text, kDefaults, kEntry, "ondrelix");
  EXPECT_FALSE(twice.added);
  EXPECT_EQ(twice.text, once.text);
  EXPECT_EQ(twice.number, once.number);
  for (const char* there : {"\tondrelix -root\t\\n", "- GL: \"Mine\" /usr/bin/ondrelix --root \\n",
                            "-\t'/opt/my shows/ondrelix' --root --mode 2\\n"}) {
    const std::string file = std::string("programs:\tmaze --root \\n\\\n") + there + "\n";
    const ProgramsEdit edit = AddProgramEntry(file, "", kEntry, "ondrelix");
    EXPECT_FALSE(edit.added) << there;
    EXPECT_EQ(edit.number, 2) << there;
  }
  // A program whose name only contains the word is another program.
  EXPECT_TRUE(AddProgramEntry("programs: ondrelix-old --root\n", "", kEntry, "ondrelix").added);
  EXPECT_EQ(ProgramEntry("/opt/my shows/bin/ondrelix"),
            "\"Ondrelix\"  '/opt/my shows/bin/ondrelix' --root");
}

class XScreenSaverFile : public ::testing::Test {
 protected:
  void SetUp() override { std::ofstream(dir_ + "/defaults") << kDefaults; }
  int Add(const std::string& file) {
    std::FILE* null = std::fopen("/dev/null", "w");
    const int rc = AddToXScreenSaver(file, "/nonexistent:" + dir_ + "/defaults",
                                     "/opt/ox/bin/ondrelix", null, null);
    std::fclose(null);
    return rc;
  }
  static std::string Read(const std::string& file) {
    std::ifstream in(file);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  TempFolder temp_;
  std::string dir_ = temp_.path();
};

TEST_F(XScreenSaverFile, MadeWhenMissingThenLeftAloneAndWrittenThroughALink) {
  const std::string file = dir_ + "/.xscreensaver";
  ASSERT_EQ(Add(file), 0);
  const std::string made = Read(file);
  EXPECT_NE(made.find("maze --root"), std::string::npos) << "the second path of the list is used";
  EXPECT_NE(made.find(kEntry), std::string::npos);
  ASSERT_EQ(Add(file), 0);
  EXPECT_EQ(Read(file), made);

  // A settings file kept elsewhere and linked: the file it names is replaced, the link stays,
  // and so do its permissions.
  const std::string real = dir_ + "/dotfiles-xscreensaver";
  std::ofstream(real) << "mode:\tone\n";
  ::chmod(real.c_str(), 0600);
  const std::string link = dir_ + "/linked";
  fs::create_symlink(real, link);
  ASSERT_EQ(Add(link), 0);
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_NE(Read(real).find(kEntry), std::string::npos);
  EXPECT_EQ(fs::status(real).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  // No temporary file is left beside them.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 4);
}

TEST_F(XScreenSaverFile, AFileThatCannotBeReadOrWrittenIsAnErrorAndStaysAsItWas) {
  fs::create_directory(dir_ + "/folder");
  EXPECT_EQ(Add(dir_ + "/folder"), 1);
  EXPECT_TRUE(fs::is_directory(dir_ + "/folder"));
  if (::geteuid() == 0) GTEST_SKIP() << "root may write into a read-only folder";
  fs::create_directory(dir_ + "/ro");
  std::ofstream(dir_ + "/ro/.xscreensaver") << "mode:\tone\n";
  ::chmod((dir_ + "/ro").c_str(), 0500);
  EXPECT_EQ(Add(dir_ + "/ro/.xscreensaver"), 1);
  EXPECT_EQ(Read(dir_ + "/ro/.xscreensaver"), "mode:\tone\n");
  ::chmod((dir_ + "/ro").c_str(), 0700);
}

}  // namespace
