// The installed tree: cmake --install into a scratch prefix, then the installed program, its
// module link and its desktop files are checked as a desktop would use them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;

namespace {

// Runs a shell command; returns its exit status and fills `out` with its standard output.
int Shell(const std::string& cmd, std::string* out = nullptr) {
  FILE* p = ::popen(cmd.c_str(), "r");
  if (p == nullptr) return -1;
  std::string text;
  char buf[4096];
  size_t n = 0;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
  const int status = ::pclose(p);
  if (out) *out = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool Have(const char* tool) {
  return Shell(std::string("command -v ") + tool + " >/dev/null 2>&1") == 0;
}

class Installed : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!fs::exists(fs::path(ONDRELIX_BUILD_DIR) / "ondrelix")) return;
    scratch_ = std::make_unique<TempFolder>();
    if (scratch_->path().empty()) return;
    // The install's log and manifest copy lie beside the prefix, in the same scratch folder.
    prefix_ = scratch_->path() + "/prefix";
    // The manifest of the build folder is rewritten by every install: the lock keeps other test
    // processes from installing between this install and the copy of its manifest.
    installRc_ = Shell("flock '" ONDRELIX_BUILD_DIR "/.install-lock' sh -c \"cmake --install '" ONDRELIX_BUILD_DIR
                       "' --prefix '" + prefix_ + "' && cp '" ONDRELIX_BUILD_DIR "/install_manifest.txt' '" +
                       prefix_ + ".manifest'\" >'" + prefix_ + ".log' 2>&1");
  }
  static void TearDownTestSuite() { scratch_.reset(); }
  void SetUp() override {
    if (prefix_.empty()) GTEST_SKIP() << "the program is not built in " ONDRELIX_BUILD_DIR;
    ASSERT_EQ(installRc_, 0) << "see " << prefix_ << ".log";
  }
  static std::string P(const std::string& rel) { return prefix_ + "/" + rel; }
  // The installed program with settings of its own (none saved), so the default folder counts.
  static std::string Program(const std::string& path) {
    return "XDG_CONFIG_HOME='" + prefix_ + "/config' '" + path + "'";
  }

  static std::unique_ptr<TempFolder> scratch_;
  static std::string prefix_;
  static int installRc_;
};

std::unique_ptr<TempFolder> Installed::scratch_;
std::string Installed::prefix_;
int Installed::installRc_ = -1;

TEST_F(Installed, ProgramListsItsOwnDemoShowsThroughBinAndTheModuleLink) {
  ASSERT_TRUE(fs::exists(P("bin/ondrelix")));
  const fs::path link = P("libexec/xscreensaver/ondrelix");
  ASSERT_TRUE(fs::is_symlink(link));
  EXPECT_TRUE(fs::equivalent(link, P("bin/ondrelix")));
  ASSERT_TRUE(fs::exists(P("share/Velnori/script_titles.txt")));

  for (const std::string& exe : {P("bin/ondrelix"), link.string()}) {
    std::string out;
    ASSERT_EQ(Shell(Program(exe) + " --list", &out), 0) << exe;
    // The default folder of the installed program is its own share/Velnori, not the sources.
    EXPECT_NE(out.find(P("share/Velnori/script_titles.txt")), std::string::npos) << out;
    EXPECT_EQ(out.find(ONDRELIX_SOURCE_DIR "/examples"), std::string::npos) << out;
  }
}

TEST_F(Installed, DesktopFilesValidateAndNameTheRightCommands) {
  const std::string saver = P("share/applications/screensavers/ondrelix.desktop");
  const std::string settings = P("share/applications/ondrelix-settings.desktop");
  const std::string window = P("share/applications/ondrelix-window.desktop");
  for (const std::string& f : {saver, settings, window}) ASSERT_TRUE(fs::exists(f)) << f;
  auto read = [](const std::string& f) {
    std::ifstream in(f);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  };
  EXPECT_NE(read(saver).find("\nCategories=Screensaver;\n"), std::string::npos);
  // Listed by MATE's screen-saver preferences (no NoDisplay), run in the host's module form.
  EXPECT_NE(read(saver).find("\nExec=ondrelix --root\n"), std::string::npos);
  EXPECT_EQ(read(saver).find("NoDisplay"), std::string::npos);
  EXPECT_NE(read(settings).find("\nExec=ondrelix /c\n"), std::string::npos);
  EXPECT_NE(read(window).find("\nExec=ondrelix /s --mode 4\n"), std::string::npos);
  EXPECT_TRUE(fs::exists(P("share/icons/hicolor/scalable/apps/ondrelix.svg")));
  EXPECT_TRUE(fs::exists(P("share/man/man1/ondrelix.1")));
  if (!Have("desktop-file-validate"))
    GTEST_SKIP() << "desktop-file-validate is not installed (package desktop-file-utils)";
  for (const std::string& f : {saver, settings, window}) {
    std::string out;
    EXPECT_EQ(Shell("desktop-file-validate '" + f + "' 2>&1", &out), 0) << f << "\n" << out;
    EXPECT_EQ(out.find("error:"), std::string::npos) << out;
  }
}

TEST_F(Installed, ModuleConfigAndIconAreWellFormedXmlAndRunTheRootModule) {
  const std::string config = P("share/xscreensaver/config/ondrelix.xml");
  ASSERT_TRUE(fs::exists(config));
  std::ifstream in(config);
  std::stringstream ss;
  ss << in.rdbuf();
  // XScreenSaver 6 writes the root option with two dashes whatever the file says; and every
  // choice of the mode menu names its mode, so that a saved mode cannot override it.
  EXPECT_NE(ss.str().find("<command arg=\"--root\"/>"), std::string::npos);
  EXPECT_NE(ss.str().find("_label=\"Fill the screen\" arg-set=\"--mode 2\""), std::string::npos);
  EXPECT_NE(ss.str().find("arg-set=\"--mode 1\""), std::string::npos);
  EXPECT_NE(ss.str().find("<screensaver name=\"ondrelix\""), std::string::npos);
  if (!Have("xmllint")) GTEST_SKIP() << "xmllint is not installed";
  std::string out;
  EXPECT_EQ(Shell("xmllint --noout '" + config + "' '" +
                      P("share/icons/hicolor/scalable/apps/ondrelix.svg") + "' 2>&1",
                  &out),
            0)
      << out;
}

TEST_F(Installed, ManifestNamesEveryInstalledFileAndLink) {
  std::ifstream in(prefix_ + ".manifest");
  ASSERT_TRUE(in) << "no install manifest";
  std::set<std::string> listed;
  for (std::string line; std::getline(in, line);) listed.insert(line);
  EXPECT_EQ(listed.count(P("libexec/xscreensaver/ondrelix")), 1u);
  // Whatever is installed can be removed again by the manifest.
  for (const fs::directory_entry& e : fs::recursive_directory_iterator(prefix_)) {
    if (e.is_directory() && !e.is_symlink()) continue;
    if (e.path().string().starts_with(prefix_ + "/config/")) continue;  // the programs' settings
    EXPECT_EQ(listed.count(e.path().string()), 1u) << e.path() << " is not in the manifest";
  }
}

TEST_F(Installed, ManualPageNamesEverySwitchAndOption) {
  std::ifstream in(P("share/man/man1/ondrelix.1"));
  std::stringstream ss;
  ss << in.rdbuf();
  // groff escapes the minus signs of options as \-.
  std::string page = ss.str();
  for (size_t i = 0; (i = page.find("\\-", i)) != std::string::npos;) page.erase(i, 1);
  for (const char* word : {"/s",
                           "/p",
                           "/c",
                           "-root",
                           "--root",
                           "--add-to-xscreensaver",
                           "-window-id",
                           "--window-id",
                           "--data",
                           "--mode",
                           "--help",
                           "--version",
                           "--log",
                           "--script",
                           "--list",
                           "--check",
                           "--render",
                           "--out",
                           "--ticks",
                           "--dump-events",
                           "XSCREENSAVER_WINDOW",
                           "SIGTERM",
                           "SCRIPT LANGUAGE"})
    EXPECT_NE(page.find(word), std::string::npos) << word;
}

}  // namespace
