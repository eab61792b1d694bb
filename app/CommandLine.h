// The command line of the ondrelix program: the screen-saver switch (/s, /p ID, /c) and one table
// of the options of every mode, the saver's and the authoring tools'. The help text is made from
// the table. No toolkit here, so all of it is tested headless.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// kModule plays inside a window of the desktop's screen saver (-root, -window-id, or
// XSCREENSAVER_WINDOW).
enum class SaverMode { kSaver, kPreview, kConfig, kModule };

// The authoring tools; kNone runs the saver in its mode.
enum class Tool { kNone, kLog, kList, kCheck, kRender, kExport };

// The second character of `firstArg`, lower-cased; 0 when it has fewer than two characters.
char ModeLetter(std::string_view firstArg);
// "s" saves, "p" previews, anything else (also 0) configures.
SaverMode ModeOf(char letter);

// Options that change one run only; nothing of them is saved.
struct RunOptions {
  std::string dataFolder;  // --data DIR, absolute; empty when not given
  int displayMode = -1;    // --mode N (0 to 4); -1 when not given
};

// What the tools' own options asked for; each tool reads the ones it takes.
struct ToolOptions {
  std::vector<std::string> operands;  // the arguments that are no option: files, the output
  int script = 1;                     // --script N, 1 = the first show of the file
  std::string out;                    // --out DIR
  bool ticksGiven = false;            // --ticks A[-B[:STEP]]
  int firstTick = 0;
  int lastTick = -1;
  int step = 1;
  bool dumpEvents = false;
  bool reference = false;
  bool smallPng = false;
  bool sizeGiven = false;  // --size WxH
  int width = 640;
  int height = 480;
};

struct CommandLine {
  SaverMode mode = SaverMode::kConfig;
  Tool tool = Tool::kNone;
  char letter = 0;
  RunOptions options;
  ToolOptions tools;
  bool help = false;
  bool version = false;
  bool addToXScreenSaver = false;  // --add-to-xscreensaver
  bool hasHostArg = false;
  std::string hostArg;         // the preview's second argument, as given
  bool root = false;           // -root or --root: play in the root window
  std::uint64_t windowId = 0;  // -window-id / --window-id / XSCREENSAVER_WINDOW; 0 when none
  std::string error;           // set when the options are wrong: the program then exits with 2
};

// Bits of the modes an option applies to.
enum OptionUse : unsigned {
  kUseSaver = 1u << 0,  // the switch's modes: saver, preview, settings dialog, module
  kUseLog = 1u << 1,
  kUseList = 1u << 2,
  kUseCheck = 1u << 3,
  kUseRender = 1u << 4,
  kUseExport = 1u << 5,
  kUseTools = kUseLog | kUseList | kUseCheck | kUseRender | kUseExport,
  kUseAll = kUseSaver | kUseTools,
};

// One row of the option table.
struct OptionSpec {
  std::string_view name;  // without its dashes
  const char* value;      // what its value is called in the help ("DIR"); null: it takes none
  unsigned use;           // the modes it applies to (OptionUse bits)
  bool oneDash;           // also written "-name", as screen-saver hosts write their options
  Tool tool;              // the tool this option runs; kNone for the others
  // For a tool: its arguments in the help, and how many it takes (max -1: no limit).
  const char* operands;
  int minOperands;
  int maxOperands;
  const char* help;  // its text in --help; null for the host options, listed together
  // Takes the option's value into `cl`: 0, or -1 with cl.error set.
  int (*apply)(const std::string& value, CommandLine& cl);
};

// Every option of every mode.
std::span<const OptionSpec> OptionTable();

// Reads the arguments after the program name. Options ("--name", "--name=value", and "-name"
// for those hosts write so) may stand anywhere. Of the other arguments, a tool takes them as
// its files; otherwise the first is the switch and the second the preview host.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// The preview host as a window id: 0 and the id, or -1 with `error` set to the message of the
// standard error box ("'x' is not a valid integer value").
int ParseHostWindow(const std::string& arg, bool given, std::uint64_t* id, std::string* error);

// A module window id: decimal or 0x hexadecimal, 1 to 0xFFFFFFFF. -1 for anything else.
int ParseWindowId(const std::string& arg, std::uint64_t* id);

// A decimal number from 0 to INT_MAX, the whole of `s`.
bool ParseWholeNumber(const std::string& s, int* out);

// The desktop screen saver names the window to play in by XSCREENSAVER_WINDOW (`env`, null when
// unset). It applies to a command line without its own switch or window (bare, or -root); an
// unreadable value is an error (exit 2) rather than a saver that plays somewhere else.
void ApplyScreenSaverWindow(const char* env, CommandLine& cl);

// The help of --help and the usage line of one tool ("--log FILE [--script N]"), from the table.
std::string HelpText();
std::string ToolSynopsis(Tool tool);
std::string VersionText();

inline constexpr int kExitUsage = 2;  // the options are wrong
