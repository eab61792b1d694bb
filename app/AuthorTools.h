// The one home of the command-line tools for script authors (--log, --list, --check, --render,
// --export): runs the tool a parsed command line names. None of them needs a display.
#pragma once

#include <cstdio>
#include <string>

class AudioDecoder;
struct CommandLine;
struct VideoBackend;

struct ToolContext {
  std::FILE* out = stdout;  // what --log, --list and --check print, and their messages
  std::FILE* err = stderr;
  std::string storePath;                // the settings store; empty: the user's own
  const VideoBackend* video = nullptr;  // --export's encoders (the shell's); needed by --export
  AudioDecoder* music = nullptr;        // --export's music decoder
};

// Runs the tool of `cl` (cl.tool is not Tool::kNone) and gives the exit code; a command line
// with an error gives its message and the usage of the tool, and exit code 2.
int RunAuthorTool(const CommandLine& cl, const ToolContext& context);
