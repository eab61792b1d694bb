// Command-line decoding for the ondrelix program.
#include "app/EntryPoint.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <exception>
#include <filesystem>

#include "settings/CMainCtl.h"

namespace {

// Makes `dir` absolute against the working folder, without resolving links (the path is part of
// every script's identity, so it is kept as the user wrote it).
std::string AbsoluteFolder(const std::string& dir) {
  std::filesystem::path p(dir);
  if (p.is_relative()) {
    std::error_code ec;
    std::filesystem::path cwd = std::filesystem::current_path(ec);
    if (!ec) p = cwd / p;
  }
  std::string out = p.lexically_normal().string();
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

// Options that screen-saver hosts pass to every module they run (frame rate, visual, colour map,
// a window of its own, its geometry, a second copy beside it, frame delay). This program has no
// use for them, and failing on them would leave the host's screen black.
struct HostOption {
  std::string_view name;  // without its dashes
  bool takesValue;
};
constexpr HostOption kHostOptions[] = {{"fps", false},      {"visual", true}, {"install", false},
                                       {"window", false},   {"geometry", true}, {"pair", false},
                                       {"delay", true}};

// How many arguments from args[i] on are a host option to ignore (one or two), 0 when args[i] is
// none, -1 when it lacks its value. Both "-name" and "--name" are taken, and "--name=value".
int HostOptionLength(const std::vector<std::string>& args, size_t i) {
  std::string_view a = args[i];
  if (!a.starts_with('-')) return 0;
  a.remove_prefix(a.starts_with("--") ? 2 : 1);
  const size_t eq = a.find('=');
  const std::string_view name = a.substr(0, eq);
  for (const HostOption& o : kHostOptions) {
    if (name != o.name) continue;
    if (eq != std::string_view::npos) return o.takesValue ? 1 : 0;
    if (!o.takesValue) return 1;
    return i + 1 < args.size() ? 2 : -1;
  }
  return 0;
}

bool ParseMode(const std::string& s, int* mode) {
  if (s.size() != 1 || s[0] < '0' || s[0] > '4') return false;
  *mode = s[0] - '0';
  return true;
}

}  // namespace

char ModeLetter(std::string_view firstArg) {
  if (firstArg.size() < 2) return 0;
  char c = firstArg[1];
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

SaverMode ModeOf(char letter) {
  if (letter == 's') return SaverMode::kSaver;
  if (letter == 'p') return SaverMode::kPreview;
  return SaverMode::kConfig;
}

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine cl;
  std::vector<std::string> plain;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-root" || a == "--root") {
      cl.root = true;
      continue;
    }
    if (const int skip = HostOptionLength(args, i); skip != 0) {
      if (skip < 0) {
        cl.error = "option " + a + " needs a value";
        return cl;
      }
      i += static_cast<size_t>(skip - 1);
      continue;
    }
    if (a == "-window-id" || a == "--window-id" || a.starts_with("--window-id=")) {
      std::string value;
      if (a.starts_with("--window-id=")) {
        value = a.substr(12);
      } else if (i + 1 < args.size()) {
        value = args[++i];
      }
      if (ParseWindowId(value, &cl.windowId) != 0) {
        cl.error = "invalid window id '" + value + "' (decimal or 0x hexadecimal)";
        return cl;
      }
      continue;
    }
    if (!a.starts_with("--") || a == "--") {
      plain.push_back(a);
      continue;
    }
    std::string name = a, value;
    bool inlineValue = false;
    if (size_t eq = a.find('='); eq != std::string::npos) {
      name = a.substr(0, eq);
      value = a.substr(eq + 1);
      inlineValue = true;
    }
    auto takeValue = [&]() {
      if (inlineValue) return true;
      if (i + 1 >= args.size()) return false;
      value = args[++i];
      return true;
    };
    if (name == "--help" && !inlineValue) {
      cl.help = true;
    } else if (name == "--version" && !inlineValue) {
      cl.version = true;
    } else if (name == "--add-to-xscreensaver" && !inlineValue) {
      cl.addToXScreenSaver = true;
    } else if (name == "--data") {
      if (!takeValue() || value.empty()) {
        cl.error = "option --data needs a folder";
        return cl;
      }
      cl.options.dataFolder = AbsoluteFolder(value);
    } else if (name == "--mode") {
      if (!takeValue()) {
        cl.error = "option --mode needs a display mode (0 to 4)";
        return cl;
      }
      if (!ParseMode(value, &cl.options.displayMode)) {
        cl.error = "invalid display mode '" + value + "' (use 0 to 4)";
        return cl;
      }
    } else {
      cl.error = "unknown option '" + a + "'";
      return cl;
    }
  }
  cl.letter = plain.empty() ? 0 : ModeLetter(plain[0]);
  cl.mode = ModeOf(cl.letter);
  if (cl.root || cl.windowId != 0) cl.mode = SaverMode::kModule;
  if (plain.size() >= 2) {
    cl.hasHostArg = true;
    cl.hostArg = plain[1];
  }
  return cl;
}

int ParseHostWindow(const std::string& arg, bool given, std::uint64_t* id, std::string* error) {
  auto fail = [&]() {
    if (error != nullptr)
      *error = "'" + (given ? arg : std::string()) + "' is not a valid integer value";
    return -1;
  };
  if (!given || arg.empty()) return fail();
  size_t i = arg[0] == '+' ? 1 : 0;
  if (i == arg.size()) return fail();
  std::uint64_t v = 0;
  for (; i < arg.size(); ++i) {
    if (arg[i] < '0' || arg[i] > '9') return fail();
    v = v * 10 + static_cast<std::uint64_t>(arg[i] - '0');
    if (v > 0xFFFFFFFFu) return fail();  // X11 window ids are 32-bit
  }
  *id = v;
  return 0;
}

int ParseWindowId(const std::string& arg, std::uint64_t* id) {
  const bool hex = arg.size() > 2 && arg[0] == '0' && (arg[1] == 'x' || arg[1] == 'X');
  const size_t start = hex ? 2 : 0;
  if (arg.size() <= start || arg.size() - start > (hex ? 8u : 10u)) return -1;
  std::uint64_t v = 0;
  for (size_t i = start; i < arg.size(); ++i) {
    const char c = arg[i];
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return -1;
    v = v * (hex ? 16 : 10) + static_cast<std::uint64_t>(digit);
  }
  if (v == 0 || v > 0xFFFFFFFFu) return -1;  // X11 window ids are 32-bit, and 0 is none
  *id = v;
  return 0;
}

void ApplyScreenSaverWindow(const char* env, CommandLine& cl) {
  if (env == nullptr || *env == '\0' || !cl.error.empty()) return;
  if (cl.windowId != 0 || (cl.letter != 0 && !cl.root)) return;
  std::string value(env);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\n')) value.pop_back();
  if (ParseWindowId(value, &cl.windowId) != 0) {
    cl.error = "invalid XSCREENSAVER_WINDOW '" + value + "' (decimal or 0x hexadecimal)";
    return;
  }
  cl.mode = SaverMode::kModule;
}

void ApplyRunOptions(const RunOptions& options, CMainCtl& settings) {
  if (!options.dataFolder.empty()) {
    settings.LoadedPath = options.dataFolder;
    settings.SetCurPath(options.dataFolder);
  }
  if (options.displayMode >= 0) settings.SetDspMode(options.displayMode);
}

RunOptions& ThisRunOptions() {
  static RunOptions options;
  return options;
}

int RunGuarded(const std::function<int()>& run,
               const std::function<void(const std::string&)>& report) {
  try {
    return run();
  } catch (const std::exception& e) {
    report(e.what());
  } catch (...) {
    report("unexpected error");
  }
  return kExitError;
}

std::string HelpText() {
  return "Usage: ondrelix [/s | /p ID | /c | --root | --window-id ID] [--data DIR] [--mode N]\n"
         "Plays animation shows written as scripts (script_*.txt) in a data folder.\n"
         "\n"
         "  /s            start the screen saver\n"
         "  /p ID         draw the preview inside the X11 window ID (decimal)\n"
         "  /c            open the settings dialog (also with no switch)\n"
         "  --root, -root play as a desktop screen-saver module in the root window\n"
         "  --window-id ID, -window-id ID\n"
         "                play inside the X11 window ID (decimal or 0x hex); so does\n"
         "                XSCREENSAVER_WINDOW. Ends on SIGTERM or SIGINT.\n"
         "  --fps, --visual V, --install, --window, --geometry G, --pair, --delay N\n"
         "                options that screen-saver hosts pass to their modules (also with one\n"
         "                dash, or as --name=value): accepted and ignored\n"
         "  --add-to-xscreensaver\n"
         "                add Ondrelix to the programs list of ~/.xscreensaver (made from the\n"
         "                system's list when there is none) and print its number there\n"
         "  --data DIR    use DIR as the data folder for this run (not saved)\n"
         "  --mode N      display mode for this run (not saved): 0 640x480 full screen,\n"
         "                1 centred, 2 stretched, 3 doubled, 4 in a window\n"
         "  --help        show this help\n"
         "  --version     show the version\n"
         "\n"
         "Authoring tools (no display needed):\n"
         "  --log FILE [--script N]       compile a show and print its log\n"
         "  --list [--data DIR]           list the scripts of a data folder\n"
         "  --check FILE...               check scripts, every error with its line\n"
         "  --render FILE [--script N] --out DIR --ticks A-B[:STEP] [--dump-events]\n"
         "                                render frames of a show to PNG files\n"
         "  --export OUT.webm|OUT.mp4 FILE [--script N] [--size WxH] [--mode N]\n"
         "                                export a show as a video file with its music\n"
         "\n"
         "Settings: $XDG_CONFIG_HOME/Velnori/Pralvex.reg (default ~/.config/Velnori/Pralvex.reg)\n";
}

std::string VersionText() {
  return std::string("ondrelix ") + ONDRELIX_VERSION + "\n";
}
