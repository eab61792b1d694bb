// Adding this program to XScreenSaver's programs list.
#include "app/XScreenSaverList.h"

#include <pwd.h>
#include <unistd.h>

#include <climits>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/FileReplacer.h"
#include "platform/ReplaceFile.h"

namespace {

constexpr std::size_t kMaxSettingsBytes = 4 << 20;  // a settings file is some kilobytes

std::string_view Trim(std::string_view s) {
  const std::size_t a = s.find_first_not_of(" \t");
  if (a == std::string_view::npos) return {};
  return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}

// The file as lines without their line ends; `endsWithNewline` tells whether the last had one.
std::vector<std::string> SplitLines(std::string_view text, bool* endsWithNewline) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t nl = text.find('\n', at);
    if (nl == std::string_view::npos) {
      lines.emplace_back(text.substr(at));
      break;
    }
    lines.emplace_back(text.substr(at, nl - at));
    at = nl + 1;
  }
  *endsWithNewline = !text.empty() && text.back() == '\n';
  return lines;
}

bool Continues(std::string_view line) {
  return !line.empty() && line.back() == '\\';
}

// The lines [first, last] of the `programs:` resource (also written `*programs:`), or false.
// Continuation lines of other resources and comment lines are not taken for its start.
bool FindPrograms(const std::vector<std::string>& lines, std::size_t* first, std::size_t* last) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string_view head = Trim(lines[i]);
    if (head.starts_with('*')) head.remove_prefix(1);
    if (head.starts_with("programs:")) {
      *first = i;
      while (i + 1 < lines.size() && Continues(lines[i])) ++i;
      *last = i;
      return true;
    }
    while (i + 1 < lines.size() && Continues(lines[i])) ++i;
  }
  return false;
}

// The program that an entry's command runs, without its folder: the entry may start with "-"
// (switched off), a visual ("GL:") and a quoted label.
std::string_view EntryProgram(std::string_view entry) {
  entry = Trim(entry);
  if (entry.starts_with('-')) entry = Trim(entry.substr(1));
  const std::size_t space = entry.find_first_of(" \t");
  if (space != std::string_view::npos && entry.substr(0, space).ends_with(':'))
    entry = Trim(entry.substr(space));
  if (entry.starts_with('"')) {
    const std::size_t close = entry.find('"', 1);
    entry = close == std::string_view::npos ? std::string_view() : Trim(entry.substr(close + 1));
  }
  if (entry.starts_with('\'')) {
    entry.remove_prefix(1);
    entry = entry.substr(0, entry.find('\''));
  } else {
    entry = entry.substr(0, entry.find_first_of(" \t"));
  }
  const std::size_t slash = entry.rfind('/');
  return slash == std::string_view::npos ? entry : entry.substr(slash + 1);
}

// The entries of the resource on `lines` [first, last]: the value split at its "\n" escapes.
std::vector<std::string> Entries(const std::vector<std::string>& lines, std::size_t first,
                                 std::size_t last) {
  std::string value;
  for (std::size_t i = first; i <= last; ++i) {
    std::string_view line = lines[i];
    if (i == first) line.remove_prefix(line.find(':') + 1);
    if (Continues(line)) line.remove_suffix(1);
    value += line;
  }
  std::vector<std::string> entries;
  std::size_t at = 0;
  for (;;) {
    const std::size_t end = value.find("\\n", at);
    const std::string_view one = Trim(std::string_view(value).substr(at, end - at));
    if (!one.empty()) entries.emplace_back(one);
    if (end == std::string::npos) break;
    at = end + 2;
  }
  return entries;
}

std::string JoinLines(const std::vector<std::string>& lines, bool endsWithNewline) {
  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    text += lines[i];
    if (i + 1 < lines.size() || endsWithNewline) text += '\n';
  }
  return text;
}

bool ReadWhole(const std::string& path, std::string* text, bool* missing) {
  std::ifstream in(path, std::ios::binary);
  *missing = !in && errno == ENOENT;
  if (!in) return false;
  std::ostringstream ss;
  ss << in.rdbuf();
  *text = ss.str();
  return text->size() <= kMaxSettingsBytes;
}

// A word that /bin/sh reads as it stands, quoted otherwise.
std::string ShellWord(const std::string& s) {
  if (s.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789/._+-") ==
      std::string::npos)
    return s;
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

}  // namespace

ProgramsEdit AddProgramEntry(std::string_view fileText, std::string_view defaultsText,
                             std::string_view entry, std::string_view program) {
  ProgramsEdit edit;
  bool newline = true;
  std::vector<std::string> lines = SplitLines(fileText, &newline);
  std::size_t first = 0, last = 0;
  if (!FindPrograms(lines, &first, &last)) {
    // The list starts as the system's, under the name the user's file gives it.
    bool defaultsNewline = true;
    std::vector<std::string> defaults = SplitLines(defaultsText, &defaultsNewline);
    std::size_t dFirst = 0, dLast = 0;
    first = lines.size();
    if (FindPrograms(defaults, &dFirst, &dLast)) {
      for (std::size_t i = dFirst; i <= dLast; ++i) lines.push_back(defaults[i]);
      std::string& head = lines[first];
      head.erase(0, head.find_first_not_of(" \t*"));
    } else {
      lines.emplace_back("programs:");
    }
    last = lines.size() - 1;
    newline = true;
  }
  const std::vector<std::string> entries = Entries(lines, first, last);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (EntryProgram(entries[i]) != program) continue;
    edit.number = static_cast<int>(i) + 1;
    edit.text = fileText;
    return edit;
  }
  // The last line goes on to the new one: it gets the "\n" that ends its entry if it has none.
  std::string& end = lines[last];
  if (!Continues(end)) {
    const std::string_view tail = Trim(end);
    const bool open = tail.ends_with("\\n") || tail.ends_with(':') || tail.empty();
    end.erase(end.find_last_not_of(" \t") + 1);
    end += open ? "\t\\" : " \\n\\";
  }
  lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(last) + 1,
               "\t\t\t\t" + std::string(entry) + "\t\t\t    \\n");
  edit.text = JoinLines(lines, newline);
  edit.number = static_cast<int>(entries.size()) + 1;
  edit.added = true;
  return edit;
}

std::string ProgramEntry(const std::string& path) {
  return "\"Ondrelix\"  " + ShellWord(path) + " --root";
}

int AddToXScreenSaver(const std::string& settingsPath, const std::string& defaults,
                      const std::string& path, std::FILE* out, std::FILE* err) {
  std::string text;
  bool missing = false;
  if (!ReadWhole(settingsPath, &text, &missing) && !missing) {
    std::fprintf(err, "ondrelix: cannot read %s\n", settingsPath.c_str());
    return 1;
  }
  std::string defaultsText;
  for (std::size_t at = 0; at <= defaults.size();) {
    const std::size_t colon = std::min(defaults.find(':', at), defaults.size());
    bool none = false;
    if (ReadWhole(defaults.substr(at, colon - at), &defaultsText, &none)) break;
    defaultsText.clear();
    at = colon + 1;
  }
  const ProgramsEdit edit = AddProgramEntry(text, defaultsText, ProgramEntry(path), "ondrelix");
  if (edit.added && ReplaceFile(settingsPath, [&](int fd) { return FileReplacer::WriteAll(fd, edit.text); }) != 0) {
    std::fprintf(err, "ondrelix: cannot write %s: %s\n", settingsPath.c_str(), std::strerror(errno));
    return 1;
  }
  std::fprintf(out, "%s: Ondrelix is program %d of the list%s.\n", settingsPath.c_str(),
               edit.number, edit.added ? " (added)" : " (already there)");
  std::fprintf(out,
               "Choose it in xscreensaver-settings, or set \"mode: one\" and \"selected: %d\" in "
               "the file.\n",
               edit.number - 1);
  return 0;
}

std::string XScreenSaverSettingsPath() {
  const char* home = std::getenv("HOME");
  if (home == nullptr || *home == '\0') {
    const passwd* pw = ::getpwuid(::getuid());
    home = pw != nullptr ? pw->pw_dir : "";
  }
  return std::string(home) + "/.xscreensaver";
}

std::string ThisProgramPath() {
  char exe[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  return n > 0 ? std::string(exe, static_cast<std::size_t>(n)) : std::string();
}
