// Command-line tools for script authors, run without any display:
//   ondrelix --log FILE [--script N]   the compiled timeline of one script, as Script.log holds it
//   ondrelix --list [--data DIR]       the catalogue of a data folder
//   ondrelix --check FILE...           every problem of every script, with its line and column
#pragma once

#include <cstdio>
#include <string>
#include <vector>

inline constexpr int kToolUsage = 2;

// The command-line hook: false when argv asks for none of the tools; else runs it and sets
// *exitCode.
bool RunScriptTool(int argc, char** argv, int* exitCode);

// The tools themselves, writing to `out` (and messages to `err`); each returns its exit code.
// `args` are the arguments after the tool's own option. `storePath` empty means the user's store.
int RunLogTool(const std::vector<std::string>& args, std::FILE* out, std::FILE* err,
               const std::string& storePath = {});
int RunListTool(const std::vector<std::string>& args, std::FILE* out, std::FILE* err,
                const std::string& storePath = {});
int RunCheckTool(const std::vector<std::string>& args, std::FILE* out, std::FILE* err,
                 const std::string& storePath = {});
