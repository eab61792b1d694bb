// Command-line tools for script authors, run without any display:
//   ondrelix --log FILE [--script N]   the compiled timeline of one script, as Script.log holds it
//   ondrelix --list [--data DIR]       the catalogue of a data folder, as the saver makes it
//   ondrelix --check FILE...           every problem of every script, with its line and column
#pragma once

#include <cstdio>
#include <string>
#include <vector>

struct RunOptions;

// Exit codes besides 0 and 1: a file, a show or a data folder that does not exist.
inline constexpr int kToolNoInput = 2;

// The tools, writing to `out` (and messages to `err`); each returns its exit code. They read the
// settings from `storePath`, the user's store when it is empty.
// --log: show `script` (1 = the first) of `file`.
int RunLogTool(const std::string& file, int script, std::FILE* out, std::FILE* err,
               const std::string& storePath = {});
// --list: the data folder of the settings, or the run's --data folder, as the saver takes it.
int RunListTool(const RunOptions& options, std::FILE* out, std::FILE* err,
                const std::string& storePath = {});
// --check: every file of `files`.
int RunCheckTool(const std::vector<std::string>& files, std::FILE* out, std::FILE* err,
                 const std::string& storePath = {});

// Why the script file `path` cannot be read, in words ("" when nothing is seen to stop it).
std::string WhyScriptUnreadable(const std::string& path);
