// The option table of the ondrelix program, its one parser and the help made from it.
#include "app/CommandLine.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>

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

int Fail(CommandLine& cl, std::string message) {
  cl.error = std::move(message);
  return -1;
}

// "A", "A-B" or "A-B:STEP".
bool ParseTicks(const std::string& s, ToolOptions* t) {
  std::string range = s;
  t->step = 1;
  const size_t colon = s.find(':');
  if (colon != std::string::npos) {
    range = s.substr(0, colon);
    if (!ParseWholeNumber(s.substr(colon + 1), &t->step) || t->step < 1) return false;
  }
  const size_t dash = range.find('-');
  if (dash == std::string::npos) {
    if (!ParseWholeNumber(range, &t->firstTick)) return false;
    t->lastTick = t->firstTick;
    return true;
  }
  return ParseWholeNumber(range.substr(0, dash), &t->firstTick) &&
         ParseWholeNumber(range.substr(dash + 1), &t->lastTick) && t->firstTick <= t->lastTick;
}

bool ParseSize(const std::string& s, int* w, int* h) {
  const size_t x = s.find('x');
  if (x == std::string::npos) return false;
  return ParseWholeNumber(s.substr(0, x), w) && ParseWholeNumber(s.substr(x + 1), h);
}

// What each option does with its value.
int ApplyNothing(const std::string&, CommandLine&) {
  return 0;
}

int ApplyData(const std::string& v, CommandLine& cl) {
  if (v.empty()) return Fail(cl, "option --data needs a folder");
  cl.options.dataFolder = AbsoluteFolder(v);
  return 0;
}

int ApplyMode(const std::string& v, CommandLine& cl) {
  if (v.size() != 1 || v[0] < '0' || v[0] > '4')
    return Fail(cl, "invalid display mode '" + v + "' (use 0 to 4)");
  cl.options.displayMode = v[0] - '0';
  return 0;
}

int ApplyWindowId(const std::string& v, CommandLine& cl) {
  if (ParseWindowId(v, &cl.windowId) != 0)
    return Fail(cl, "invalid window id '" + v + "' (decimal or 0x hexadecimal)");
  return 0;
}

int ApplyScript(const std::string& v, CommandLine& cl) {
  if (!ParseWholeNumber(v, &cl.tools.script) || cl.tools.script < 1)
    return Fail(cl, "--script wants a number from 1");
  return 0;
}

int ApplyOut(const std::string& v, CommandLine& cl) {
  if (v.empty()) return Fail(cl, "--out needs a folder");
  cl.tools.out = v;
  return 0;
}

int ApplyTicks(const std::string& v, CommandLine& cl) {
  if (!ParseTicks(v, &cl.tools)) return Fail(cl, "--ticks wants A, A-B or A-B:STEP");
  cl.tools.ticksGiven = true;
  return 0;
}

int ApplySize(const std::string& v, CommandLine& cl) {
  if (!ParseSize(v, &cl.tools.width, &cl.tools.height))
    return Fail(cl, "--size wants WIDTHxHEIGHT");
  cl.tools.sizeGiven = true;
  return 0;
}

// The options in the order of the help. A host option is one that screen-saver hosts pass to
// every module they run (frame rate, visual, colour map, a window of its own, its geometry, a
// second copy beside it, frame delay): this program has no use for them, and failing on them
// would leave the host's screen black.
constexpr OptionSpec kOptions[] = {
    {"root", nullptr, kUseSaver, true, Tool::kNone, nullptr, 0, 0,
     "play as a desktop screen-saver module in the root window",
     [](const std::string&, CommandLine& cl) {
       cl.root = true;
       return 0;
     }},
    {"window-id", "ID", kUseSaver, true, Tool::kNone, nullptr, 0, 0,
     "play inside the X11 window ID (decimal or 0x hex); so does XSCREENSAVER_WINDOW. Ends on "
     "SIGTERM or SIGINT.",
     ApplyWindowId},
    {"fps", nullptr, kUseSaver, true, Tool::kNone, nullptr, 0, 0, nullptr, ApplyNothing},
    {"visual", "V", kUseSaver, true, Tool::kNone, nullptr, 0, 0, nullptr, ApplyNothing},
    {"install", nullptr, kUseSaver, true, Tool::kNone, nullptr, 0, 0, nullptr, ApplyNothing},
    {"window", nullptr, kUseSaver, true, Tool::kNone, nullptr, 0, 0, nullptr, ApplyNothing},
    {"geometry", "G", kUseSaver, true, Tool::kNone, nullptr, 0, 0, nullptr, ApplyNothing},
    {"pair", nullptr, kUseSaver, true, Tool::kNone, nullptr, 0, 0, nullptr, ApplyNothing},
    {"delay", "N", kUseSaver, true, Tool::kNone, nullptr, 0, 0, nullptr, ApplyNothing},
    {"add-to-xscreensaver", nullptr, kUseSaver, false, Tool::kNone, nullptr, 0, 0,
     "add Ondrelix to the programs list of ~/.xscreensaver (made from the system's list when "
     "there is none) and print its number there",
     [](const std::string&, CommandLine& cl) {
       cl.addToXScreenSaver = true;
       return 0;
     }},
    {"data", "DIR", kUseAll, false, Tool::kNone, nullptr, 0, 0,
     "use DIR as the data folder for this run (not saved). --list lists it; the tools that take "
     "a script file load it from its own folder, as the saver does",
     ApplyData},
    {"mode", "N", kUseSaver | kUseExport, false, Tool::kNone, nullptr, 0, 0,
     "display mode for this run (not saved): 0 640x480 full screen, 1 centred, 2 stretched, "
     "3 doubled, 4 in a window; --export lays its picture out as that mode does",
     ApplyMode},
    {"help", nullptr, kUseAll, false, Tool::kNone, nullptr, 0, 0, "show this help",
     [](const std::string&, CommandLine& cl) {
       cl.help = true;
       return 0;
     }},
    {"version", nullptr, kUseAll, false, Tool::kNone, nullptr, 0, 0, "show the version",
     [](const std::string&, CommandLine& cl) {
       cl.version = true;
       return 0;
     }},
    {"log", nullptr, kUseTools, false, Tool::kLog, "FILE", 1, 1,
     "compile a show and print its log, as Script.log would hold it", ApplyNothing},
    {"list", nullptr, kUseTools, false, Tool::kList, "", 0, 0,
     "list the scripts of the data folder: index, identity, title, path, offset", ApplyNothing},
    {"check", nullptr, kUseTools, false, Tool::kCheck, "FILE...", 1, -1,
     "check scripts, every error and warning with its line", ApplyNothing},
    {"render", nullptr, kUseTools, false, Tool::kRender, "FILE", 1, 1,
     "render frames of a show to DIR/tick_NNNNN.png (--out and --ticks are needed unless "
     "--dump-events is given)",
     ApplyNothing},
    {"export", nullptr, kUseTools, false, Tool::kExport, "OUT.webm|OUT.mp4 FILE", 2, 2,
     "export a show as a video file with its music", ApplyNothing},
    {"script", "N", kUseLog | kUseRender | kUseExport, false, Tool::kNone, nullptr, 0, 0,
     "the N-th show of the file (DATA blocks counted from 1; default 1)", ApplyScript},
    {"out", "DIR", kUseRender, false, Tool::kNone, nullptr, 0, 0,
     "the folder the pictures go to (made when missing)", ApplyOut},
    {"ticks", "A-B[:STEP]", kUseRender, false, Tool::kNone, nullptr, 0, 0,
     "the ticks to write: A alone, or every STEP-th from A to B", ApplyTicks},
    {"small-png", nullptr, kUseRender, false, Tool::kNone, nullptr, 0, 0,
     "pack the pictures as small as zlib's default does, at about a fifth of the speed",
     [](const std::string&, CommandLine& cl) {
       cl.tools.smallPng = true;
       return 0;
     }},
    {"dump-events", nullptr, kUseRender, false, Tool::kNone, nullptr, 0, 0,
     "print each event (tick, kind) as it is played",
     [](const std::string&, CommandLine& cl) {
       cl.tools.dumpEvents = true;
       return 0;
     }},
    {"reference", nullptr, kUseRender, false, Tool::kNone, nullptr, 0, 0,
     "play with the reference player (every drawing shortcut off: the same pictures, slower)",
     [](const std::string&, CommandLine& cl) {
       cl.tools.reference = true;
       return 0;
     }},
    {"size", "WxH", kUseExport, false, Tool::kNone, nullptr, 0, 0,
     "the video's size (default 640x480), the picture laid out as the stretched mode does",
     ApplySize},
};

const OptionSpec* FindOption(std::string_view name) {
  for (const OptionSpec& o : kOptions)
    if (o.name == name) return &o;
  return nullptr;
}

const OptionSpec* ToolRow(Tool tool) {
  for (const OptionSpec& o : kOptions)
    if (o.tool == tool && tool != Tool::kNone) return &o;
  return nullptr;
}

unsigned UseOf(Tool tool) {
  switch (tool) {
    case Tool::kNone:
      return kUseSaver;
    case Tool::kLog:
      return kUseLog;
    case Tool::kList:
      return kUseList;
    case Tool::kCheck:
      return kUseCheck;
    case Tool::kRender:
      return kUseRender;
    case Tool::kExport:
      return kUseExport;
  }
  return 0;
}

std::string Written(const OptionSpec& o) {
  std::string s = "--" + std::string(o.name);
  if (o.value != nullptr) s += std::string(" ") + o.value;
  return s;
}

// The tool's arguments: its files, or for a saver the switch and the preview host.
void TakeOperands(std::vector<std::string> plain, CommandLine& cl) {
  if (cl.tool != Tool::kNone) {
    const OptionSpec& t = *ToolRow(cl.tool);
    const int n = static_cast<int>(plain.size());
    const std::string name = "--" + std::string(t.name);
    if (!cl.help && !cl.version && n < t.minOperands)
      Fail(cl, name + " needs " + t.operands);
    else if (t.maxOperands >= 0 && n > t.maxOperands)
      Fail(cl, name + " takes " + (t.maxOperands == 0 ? std::string("no file") : t.operands) +
                   ": unexpected " + plain[t.maxOperands]);
    cl.tools.operands = std::move(plain);
    return;
  }
  cl.letter = plain.empty() ? 0 : ModeLetter(plain[0]);
  cl.mode = ModeOf(cl.letter);
  if (cl.root || cl.windowId != 0) cl.mode = SaverMode::kModule;
  if (plain.size() >= 2) {
    cl.hasHostArg = true;
    cl.hostArg = plain[1];
  }
}

// Appends `text` to `out` in lines of at most `width` characters, each indented by `indent`.
void Wrap(std::string_view text, size_t indent, size_t width, std::string& out) {
  size_t column = indent;
  bool first = true;
  while (!text.empty()) {
    const size_t space = text.find(' ');
    const std::string_view word = text.substr(0, space);
    text = space == std::string_view::npos ? std::string_view() : text.substr(space + 1);
    if (!first && column + 1 + word.size() > width) {
      out += "\n" + std::string(indent, ' ');
      column = indent;
      first = true;
    }
    if (!first) {
      out += ' ';
      ++column;
    }
    out += word;
    column += word.size();
    first = false;
  }
  out += '\n';
}

constexpr size_t kHelpColumn = 16;
constexpr size_t kHelpWidth = 80;

// One entry of the help: what is written, then its text from column 16 (on a line of its own
// when what is written is too long).
void HelpEntry(const std::string& left, std::string_view text, std::string& out) {
  if (left.size() + 2 < kHelpColumn - 1) {
    out += "  " + left + std::string(kHelpColumn - 2 - left.size(), ' ');
  } else {
    // A long usage line breaks between its "[...]" groups, never inside one.
    std::string line = "  ";
    for (size_t at = 0; at < left.size();) {
      size_t next = left.find(" [", at + 1);
      if (next == std::string::npos) next = left.size();
      const std::string group = left.substr(at, next - at);
      if (line.size() > 4 && line.size() + group.size() > kHelpWidth) {
        out += line + "\n";
        line = "   ";
      }
      line += group;
      at = next;
    }
    out += line + "\n" + std::string(kHelpColumn, ' ');
  }
  Wrap(text, kHelpColumn, kHelpWidth, out);
}

}  // namespace

std::span<const OptionSpec> OptionTable() {
  return kOptions;
}

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

bool ParseWholeNumber(const std::string& s, int* out) {
  if (s.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(s.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < 0 || v > INT_MAX) return false;
  *out = static_cast<int>(v);
  return true;
}

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine cl;
  std::vector<std::string> plain;
  std::vector<const OptionSpec*> given;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool twoDashes = a.starts_with("--");
    if (a == "--" || a.size() < 2 || a[0] != '-') {
      plain.push_back(a);
      continue;
    }
    const std::string_view body = std::string_view(a).substr(twoDashes ? 2 : 1);
    const size_t eq = body.find('=');
    const OptionSpec* o = FindOption(body.substr(0, eq));
    if (o == nullptr || (!twoDashes && !o->oneDash)) {
      if (!twoDashes) {  // "-s", "-P": the switch, as hosts on Windows write it
        plain.push_back(a);
        continue;
      }
      Fail(cl, "unknown option '" + a + "'");
      return cl;
    }
    std::string value;
    if (o->value == nullptr && eq != std::string_view::npos) {
      Fail(cl, "option --" + std::string(o->name) + " takes no value");
      return cl;
    }
    if (o->value != nullptr && eq != std::string_view::npos) {
      value = body.substr(eq + 1);
    } else if (o->value != nullptr) {
      if (i + 1 >= args.size()) {
        Fail(cl, "option " + Written(*o) + " needs its value");
        return cl;
      }
      value = args[++i];
    }
    if (o->tool != Tool::kNone && cl.tool != Tool::kNone && cl.tool != o->tool) {
      Fail(cl, "--" + std::string(ToolRow(cl.tool)->name) + " and --" + std::string(o->name) +
                   " cannot be run together");
      return cl;
    }
    if (o->tool != Tool::kNone) cl.tool = o->tool;
    if (o->apply(value, cl) != 0) return cl;
    given.push_back(o);
  }
  // An option of another mode is a mistake, wherever it stands.
  const unsigned use = UseOf(cl.tool);
  for (const OptionSpec* o : given) {
    if ((o->use & use) != 0) continue;
    const std::string where =
        cl.tool == Tool::kNone ? "the screen saver" : "--" + std::string(ToolRow(cl.tool)->name);
    Fail(cl, "option --" + std::string(o->name) + " does not go with " + where);
    return cl;
  }
  TakeOperands(std::move(plain), cl);
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
  if (env == nullptr || *env == '\0' || !cl.error.empty() || cl.tool != Tool::kNone) return;
  if (cl.windowId != 0 || (cl.letter != 0 && !cl.root)) return;
  std::string value(env);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\n')) value.pop_back();
  if (ParseWindowId(value, &cl.windowId) != 0) {
    cl.error = "invalid XSCREENSAVER_WINDOW '" + value + "' (decimal or 0x hexadecimal)";
    return;
  }
  cl.mode = SaverMode::kModule;
}

std::string ToolSynopsis(Tool tool) {
  const OptionSpec* t = ToolRow(tool);
  if (t == nullptr) return "";
  std::string s = "--" + std::string(t->name);
  if (*t->operands != '\0') s += std::string(" ") + t->operands;
  const unsigned use = UseOf(tool);
  // The tool's own options, then those of every mode that take a value (--data); --help and
  // --version go with everything and are left out.
  for (const bool general : {false, true}) {
    for (const OptionSpec& o : kOptions) {
      if (o.tool != Tool::kNone || (o.use & use) == 0 || (o.use == kUseAll) != general) continue;
      if (o.value != nullptr || !general) s += " [" + Written(o) + "]";
    }
  }
  return s;
}

std::string HelpText() {
  std::string h =
      "Usage: ondrelix [/s | /p ID | /c | --root | --window-id ID] [--data DIR] [--mode N]\n"
      "       ondrelix TOOL ARGUMENTS... (the authoring tools below)\n"
      "Plays animation shows written as scripts (script_*.txt) in a data folder.\n"
      "\n"
      "The switch: only the second character of the first argument counts, in either case.\n";
  HelpEntry("/s", "start the screen saver", h);
  HelpEntry("/p ID", "draw the preview inside the X11 window ID (decimal)", h);
  HelpEntry("/c", "open the settings dialog (also with no switch)", h);
  h += "\nOptions:\n";
  std::string hostOptions;
  for (const OptionSpec& o : kOptions) {
    if (o.tool != Tool::kNone || (o.use & kUseSaver) == 0) continue;
    if (o.help == nullptr) {
      hostOptions += (hostOptions.empty() ? "" : ", ") + Written(o);
      continue;
    }
    std::string left = Written(o);
    if (o.oneDash) left += ", " + left.substr(1);
    HelpEntry(left, o.help, h);
  }
  HelpEntry(hostOptions,
            "options that screen-saver hosts pass to their modules (also with one dash, or as "
            "--name=value): accepted and ignored",
            h);
  h += "\nAuthoring tools (no display needed):\n";
  for (const OptionSpec& o : kOptions)
    if (o.tool != Tool::kNone) HelpEntry(ToolSynopsis(o.tool), o.help, h);
  h += "\nOptions of the tools:\n";
  for (const OptionSpec& o : kOptions)
    if (o.tool == Tool::kNone && (o.use & kUseSaver) == 0) HelpEntry(Written(o), o.help, h);
  h += "\nSettings: $XDG_CONFIG_HOME/Velnori/Pralvex.reg (default "
       "~/.config/Velnori/Pralvex.reg)\n";
  return h;
}

std::string VersionText() {
  return std::string("ondrelix ") + ONDRELIX_VERSION + "\n";
}
