// What the entry point of the ondrelix program needs besides its command line (CommandLine.h):
// the options of this run, and the guard that reports an error that ends a run.
#pragma once

#include <functional>
#include <string>

#include "app/CommandLine.h"

class CMainCtl;

// Puts --data and --mode into a loaded record (the saver's). The data folder becomes both the
// folder in use and the folder restored after each script.
void ApplyRunOptions(const RunOptions& options, CMainCtl& settings);

// The options of this run, set once by main() and read by the windows that load settings.
RunOptions& ThisRunOptions();

inline constexpr const char* kAppTitle = "【Ondrelix】";
inline constexpr int kExitError = 3;  // an unexpected error ended the run

// Runs `run` and gives its exit code; an exception it lets out is shown with `report` (its
// message) and gives kExitError, so that an error never looks like a normal end.
int RunGuarded(const std::function<int()>& run,
               const std::function<void(const std::string&)>& report);
