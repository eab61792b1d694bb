// The run options and the error guard of the ondrelix program's entry point.
#include "app/EntryPoint.h"

#include <exception>

#include "settings/CMainCtl.h"

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
