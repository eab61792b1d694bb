// The command line: the mode-letter table, the options beside the switch, the preview host.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "app/EntryPoint.h"
#include "settings/CMainCtl.h"

namespace {

SaverMode ModeFor(std::vector<std::string> args) {
  return ParseCommandLine(args).mode;
}

TEST(EntryPoint, ModeLetterTable) {
  for (const char* s : {"/s", "/S", "-s", "xs", "/saver"})
    EXPECT_EQ(ModeFor({s}), SaverMode::kSaver) << s;
  for (const char* p : {"/p", "-P"}) EXPECT_EQ(ModeFor({p, "42"}), SaverMode::kPreview) << p;
  // One character alone, an unknown letter, /c with a window handle, and no switch at all.
  for (const char* c : {"s", "/x", "/c", "/c:1234", "", "-"})
    EXPECT_EQ(ModeFor({c}), SaverMode::kConfig) << c;
  EXPECT_EQ(ModeFor({}), SaverMode::kConfig);
  EXPECT_EQ(ModeLetter("/S:9"), 's');
  EXPECT_EQ(ModeLetter("s"), 0);
}

TEST(EntryPoint, OptionsBesideTheSwitch) {
  CommandLine cl = ParseCommandLine({"--mode", "4", "/s", "--data", "/shows/"});
  EXPECT_EQ(cl.mode, SaverMode::kSaver);
  EXPECT_EQ(cl.options.displayMode, 4);
  EXPECT_EQ(cl.options.dataFolder, "/shows");
  EXPECT_TRUE(cl.error.empty());

  cl = ParseCommandLine({"/s", "--data=examples/./demo", "--mode=0"});
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(cl.options.dataFolder, std::string(cwd) + "/examples/demo");
  EXPECT_EQ(cl.options.displayMode, 0);

  cl = ParseCommandLine({"/s"});
  EXPECT_EQ(cl.options.displayMode, -1);
  EXPECT_EQ(cl.options.dataFolder, "");
  EXPECT_TRUE(ParseCommandLine({"--help"}).help);
  EXPECT_TRUE(ParseCommandLine({"/c", "--version"}).version);
}

TEST(EntryPoint, WrongOptionsAreErrors) {
  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{{"--frobnicate"},
                                                                             {"/s", "--mode"},
                                                                             {"/s", "--mode", "5"},
                                                                             {"/s", "--mode", "-1"},
                                                                             {"/s", "--mode", "x"},
                                                                             {"/s", "--mode", "44"},
                                                                             {"/s", "--data"},
                                                                             {"--data="},
                                                                             {"--help=1"}}) {
    CommandLine cl = ParseCommandLine(args);
    EXPECT_FALSE(cl.error.empty()) << args.back();
  }
  EXPECT_NE(ParseCommandLine({"--frobnicate"}).error.find("--frobnicate"), std::string::npos);
}

// What XScreenSaver 6 and MATE put on a module's command line: the root window with two dashes
// (a trailing -root is rewritten so), and options of their own that mean nothing here.
TEST(EntryPoint, HostFormsPlayInTheRootWindowAndHostOptionsAreIgnored) {
  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
           {"--root"},
           {"-root"},
           {"--root", "--mode", "2"},
           {"-fps", "--root", "-visual", "default", "-install", "-delay", "20000"},
           {"--visual=TrueColor", "--root", "--fps", "--window", "--pair", "--delay=5"},
           {"--root", "-geometry", "640x480+0+0", "--geometry", "1x1"}}) {
    const CommandLine cl = ParseCommandLine(args);
    EXPECT_TRUE(cl.error.empty()) << args[0] << ": " << cl.error;
    EXPECT_EQ(cl.mode, SaverMode::kModule) << args[0];
    EXPECT_TRUE(cl.root) << args[0];
    // A host option's value is not taken for the switch or the preview host.
    EXPECT_FALSE(cl.hasHostArg) << args[0];
  }
  EXPECT_EQ(ParseCommandLine({"--root", "--mode", "2"}).options.displayMode, 2);
  EXPECT_EQ(ParseCommandLine({"-visual", "default", "/s"}).mode, SaverMode::kSaver);
  // A host option without its value, or with a value it takes none of, and unknown ones fail.
  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
           {"--root", "-visual"}, {"--root", "--delay"}, {"--fps=1"}, {"--roots"}}) {
    const CommandLine cl = ParseCommandLine(args);
    EXPECT_FALSE(cl.error.empty()) << args.back();
  }
  EXPECT_NE(HelpText().find("--root"), std::string::npos);
  for (const char* o : {"--fps", "--visual", "--install", "--window,", "--geometry", "--pair",
                        "--delay", "--add-to-xscreensaver"})
    EXPECT_NE(HelpText().find(o), std::string::npos) << o;
  EXPECT_TRUE(ParseCommandLine({"--add-to-xscreensaver"}).addToXScreenSaver);
}

TEST(EntryPoint, PreviewHostMustBeADecimalNumber) {
  CommandLine cl = ParseCommandLine({"/p", "12345"});
  ASSERT_TRUE(cl.hasHostArg);
  std::uint64_t id = 0;
  std::string error;
  EXPECT_EQ(ParseHostWindow(cl.hostArg, cl.hasHostArg, &id, &error), 0);
  EXPECT_EQ(id, 12345u);
  EXPECT_EQ(ParseHostWindow("+7", true, &id, &error), 0);
  EXPECT_EQ(id, 7u);

  cl = ParseCommandLine({"/p"});
  EXPECT_FALSE(cl.hasHostArg);
  EXPECT_EQ(ParseHostWindow(cl.hostArg, cl.hasHostArg, &id, &error), -1);
  EXPECT_EQ(error, "'' is not a valid integer value");
  for (const char* bad : {"", "0x1f", "12ab", "-3", "+", "99999999999"}) {
    EXPECT_EQ(ParseHostWindow(bad, true, &id, &error), -1) << bad;
    EXPECT_EQ(error, std::string("'") + bad + "' is not a valid integer value");
  }
}

TEST(EntryPoint, RunOptionsChangeTheLoadedRecordOnly) {
  CMainCtl c;
  c.CurPath = c.LoadedPath = "/saved";
  c.DspMode = 1;
  ApplyRunOptions(RunOptions{}, c);
  EXPECT_EQ(c.CurPath, "/saved");
  EXPECT_EQ(c.DspMode, 1);

  ApplyRunOptions(RunOptions{"/run/folder", 4}, c);
  EXPECT_EQ(c.GetCurPath(), "/run/folder");
  EXPECT_EQ(c.GetDspMode(), 4);
  c.SetCurPath("/run/folder/sub");
  EXPECT_EQ(c.RestoreCurPath(), "/run/folder");  // the folder restored after each script
}

TEST(EntryPoint, AnErrorThatEndsTheRunIsShownAndIsNoSuccess) {
  std::vector<std::string> shown;
  auto report = [&](const std::string& m) { shown.push_back(m); };
  EXPECT_EQ(RunGuarded([] { return 0; }, report), 0);
  EXPECT_EQ(RunGuarded([] { return 1; }, report), 1);
  EXPECT_TRUE(shown.empty());
  EXPECT_EQ(RunGuarded([]() -> int { throw std::runtime_error("broken"); }, report), kExitError);
  EXPECT_EQ(RunGuarded([]() -> int { throw 7; }, report), kExitError);
  EXPECT_EQ(shown, (std::vector<std::string>{"broken", "unexpected error"}));
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// Whether `text` names the option `name` ("-name" or "--name", not a longer name).
bool Names(const std::string& text, std::string_view name) {
  const std::string dashed = "-" + std::string(name);
  for (size_t at = text.find(dashed); at != std::string::npos; at = text.find(dashed, at + 1)) {
    const size_t end = at + dashed.size();
    const char next = end < text.size() ? text[end] : ' ';
    if (!std::isalnum(static_cast<unsigned char>(next)) && next != '-') return true;
  }
  return false;
}

// The help is made from the option table; the README and the manual page are written by hand,
// so they are checked against it: every option of every mode is in each of them.
TEST(OptionTable, TheHelpTheReadmeAndTheManualPageNameEveryOption) {
  const std::string help = HelpText();
  const std::string readme = ReadText(ONDRELIX_SOURCE_DIR "/README.md");
  std::string manual = ReadText(ONDRELIX_SOURCE_DIR "/share/ondrelix.1");
  for (size_t i = 0; (i = manual.find("\\-", i)) != std::string::npos;) manual.erase(i, 1);
  ASSERT_FALSE(readme.empty());
  ASSERT_FALSE(manual.empty());
  for (const OptionSpec& o : OptionTable()) {
    EXPECT_TRUE(Names(help, o.name)) << o.name;
    EXPECT_TRUE(Names(readme, o.name)) << "README.md lacks " << o.name;
    EXPECT_TRUE(Names(manual, o.name)) << "share/ondrelix.1 lacks " << o.name;
  }
}

// Each tool takes the options the table gives it and refuses the others, wherever they stand.
TEST(OptionTable, ToolsTakeTheirOptionsInEitherFormAnywhere) {
  CommandLine cl = ParseCommandLine({"--data=shows", "--render", "a.txt", "--ticks=3-9:3", "--out",
                                     "o", "--script=2", "--reference"});
  ASSERT_EQ(cl.error, "");
  EXPECT_EQ(cl.tool, Tool::kRender);
  EXPECT_EQ(cl.tools.operands, std::vector<std::string>{"a.txt"});
  EXPECT_EQ(cl.tools.firstTick, 3);
  EXPECT_EQ(cl.tools.lastTick, 9);
  EXPECT_EQ(cl.tools.step, 3);
  EXPECT_EQ(cl.tools.script, 2);
  EXPECT_TRUE(cl.tools.reference);
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(cl.options.dataFolder, std::string(cwd) + "/shows");  // as the saver takes it

  cl = ParseCommandLine({"a.txt", "b.txt", "--check"});
  EXPECT_EQ(cl.tools.operands, (std::vector<std::string>{"a.txt", "b.txt"}));
  EXPECT_EQ(ParseCommandLine({"--list"}).error, "");
  for (const std::vector<std::string>& bad :
       std::vector<std::vector<std::string>>{{"--list", "a.txt"},
                                             {"--list", "--script", "1"},
                                             {"--log"},
                                             {"--log", "a.txt", "b.txt"},
                                             {"--check", "a.txt", "--mode", "1"},
                                             {"--export", "a.webm"},
                                             {"--log", "a.txt", "--check"},
                                             {"--log", "a.txt", "--root"},
                                             {"/s", "--out", "o"},
                                             {"/s", "--dump-events"}}) {
    const CommandLine r = ParseCommandLine(bad);
    EXPECT_NE(r.error, "") << bad[0] << " " << bad[1];
  }
  // Help needs no file.
  EXPECT_EQ(ParseCommandLine({"--log", "--help"}).error, "");
  EXPECT_EQ(ToolSynopsis(Tool::kList), "--list [--data DIR]");
}

}  // namespace
