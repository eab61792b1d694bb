// The command line of the ondrelix program: the screen-saver switch (/s, /p ID, /c) and the
// options beside it. No toolkit here, so all of it is tested headless.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class CMainCtl;

// kModule plays inside a window of the desktop's screen saver (-root, -window-id, or
// XSCREENSAVER_WINDOW).
enum class SaverMode { kSaver, kPreview, kConfig, kModule };

// The second character of `firstArg`, lower-cased; 0 when it has fewer than two characters.
char ModeLetter(std::string_view firstArg);
// "s" saves, "p" previews, anything else (also 0) configures.
SaverMode ModeOf(char letter);

// Options that change one run only; nothing of them is saved.
struct RunOptions {
  std::string dataFolder;  // --data DIR, absolute; empty when not given
  int displayMode = -1;    // --mode N (0 to 4); -1 when not given
};

struct CommandLine {
  SaverMode mode = SaverMode::kConfig;
  char letter = 0;
  RunOptions options;
  bool help = false;
  bool version = false;
  bool addToXScreenSaver = false;  // --add-to-xscreensaver
  bool hasHostArg = false;
  std::string hostArg;         // the preview's second argument, as given
  bool root = false;           // -root or --root: play in the root window
  std::uint64_t windowId = 0;  // -window-id / --window-id / XSCREENSAVER_WINDOW; 0 when none
  std::string error;           // set when the options are wrong: the program then exits with 2
};

// Reads the arguments after the program name. Options ("--...") may stand anywhere; of the other
// arguments the first is the switch and the second the preview host.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// The preview host as a window id: 0 and the id, or -1 with `error` set to the message of the
// standard error box ("'x' is not a valid integer value").
int ParseHostWindow(const std::string& arg, bool given, std::uint64_t* id, std::string* error);

// A module window id: decimal or 0x hexadecimal, 1 to 0xFFFFFFFF. -1 for anything else.
int ParseWindowId(const std::string& arg, std::uint64_t* id);

// The desktop screen saver names the window to play in by XSCREENSAVER_WINDOW (`env`, null when
// unset). It applies to a command line without its own switch or window (bare, or -root); an
// unreadable value is an error (exit 2) rather than a saver that plays somewhere else.
void ApplyScreenSaverWindow(const char* env, CommandLine& cl);

// Puts --data and --mode into a loaded record (the saver's). The data folder becomes both the
// folder in use and the folder restored after each script.
void ApplyRunOptions(const RunOptions& options, CMainCtl& settings);

// The options of this run, set once by main() and read by the windows that load settings.
RunOptions& ThisRunOptions();

std::string HelpText();
std::string VersionText();

inline constexpr const char* kAppTitle = "【Ondrelix】";
inline constexpr int kExitUsage = 2;
inline constexpr int kExitError = 3;  // an unexpected error ended the run

// Runs `run` and gives its exit code; an exception it lets out is shown with `report` (its
// message) and gives kExitError, so that an error never looks like a normal end.
int RunGuarded(const std::function<int()>& run,
               const std::function<void(const std::string&)>& report);
