// The programs list of XScreenSaver's settings file (~/.xscreensaver): adding the entry that runs
// this program as a module, keeping every other line of the file.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

struct ProgramsEdit {
  std::string text;  // the whole new file
  int number = 0;    // the entry's place in the list, from 1 (xscreensaver-command --select N)
  bool added = false;  // false: the list already ran `program`, and `text` is the file unchanged
};

// Adds `entry` as the last program of the `programs:` resource of `fileText`. When the file has
// no such resource, the list starts as the one of `defaultsText` (the system's app-defaults file,
// whose savers a new list would otherwise hide), or empty without one. An entry whose command
// runs a program of the name `program` (any folder) counts as already there.
ProgramsEdit AddProgramEntry(std::string_view fileText, std::string_view defaultsText,
                             std::string_view entry, std::string_view program);

// The entry for the program at `path`: its label and the command in module form.
std::string ProgramEntry(const std::string& path);

// Adds this program at `path` to the settings file `settingsPath` (created when missing, written
// to a new file that replaces the old one), using the first readable file of `defaults` (a
// colon-separated list) for a new list. Reports on `out`, errors on `err`; returns the exit code.
int AddToXScreenSaver(const std::string& settingsPath, const std::string& defaults,
                      const std::string& path, std::FILE* out, std::FILE* err);

// ~/.xscreensaver of this user ($HOME, else the password database).
std::string XScreenSaverSettingsPath();

// The running program's own file, links resolved ("" when unknown).
std::string ThisProgramPath();

// Where XScreenSaver keeps the system's settings on Debian and elsewhere.
inline constexpr const char* kXScreenSaverDefaults =
    "/etc/X11/app-defaults/XScreenSaver:/usr/share/X11/app-defaults/XScreenSaver";
