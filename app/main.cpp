// Entry point of the ondrelix program: command-line tools, the screen-saver switch, the
// single-instance locks, and the window of the chosen mode.
#include <QApplication>
#include <QMessageBox>
#include <QPalette>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <exception>
#include <string>
#include <vector>

#include "app/EntryPoint.h"
#include "app/RenderTool.h"
#include "app/TMiniWin.h"
#include "app/TSaverWin.h"
#include "bonus/TOmakeWin.h"
#include "app/ScriptTools.h"
#include "platform/DisplayCheck.h"
#include "platform/InstanceLock.h"
#include "settings/CMainCtl.h"
#include "settings/TSetteiForm.h"

namespace {

// Shows a message as the standard error box does; on a headless platform it goes to stderr.
void ShowErrorBox(const std::string& message) {
  if (HeadlessPlatform()) {
    std::fprintf(stderr, "%s: %s\n", kAppTitle, message.c_str());
    return;
  }
  QMessageBox::critical(nullptr, QString::fromUtf8(kAppTitle), QString::fromStdString(message));
}

// ---- Window factories: each mode's window is made here and shown by main(). ----

// The saver window. The record is loaded and given this run's --data and --mode.
QWidget* CreateSaverWindow() {
  SaverWinOptions options;
  options.loadSettings = [](CMainCtl& settings) {
    settings.Load();
    ApplyRunOptions(ThisRunOptions(), settings);
  };
  auto* w = new TSaverWin(options);
  w->setAttribute(Qt::WA_DeleteOnClose);
  return w;
}

// The preview window: inside the host window, or a stand-in window of 152 x 112 without one.
QWidget* CreatePreviewWindow(std::uint64_t hostId) {
  auto* w = new TMiniWin(hostId, static_cast<std::uint32_t>(std::time(nullptr)));
  w->setAttribute(Qt::WA_DeleteOnClose);
  return w;
}

// The settings dialog, and the hidden bonus window that it owns from then on.
QWidget* CreateSettingsWindow() {
  auto* form = new TSetteiForm;
  form->setAttribute(Qt::WA_DeleteOnClose);
  new TOmakeWin(form);
  return form;
}

// ---- end of the window factories ----

int RunMode(const CommandLine& cl) {
  QWidget* window = nullptr;
  switch (cl.mode) {
    case SaverMode::kSaver:
      window = CreateSaverWindow();
      break;
    case SaverMode::kPreview: {
      std::uint64_t hostId = 0;
      std::string error;
      if (ParseHostWindow(cl.hostArg, cl.hasHostArg, &hostId, &error) != 0) {
        ShowErrorBox(error);
        return 0;
      }
      window = CreatePreviewWindow(hostId);
      break;
    }
    case SaverMode::kConfig:
      window = CreateSettingsWindow();
      break;
  }
  window->show();
  return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
  // ---- Command-line tools: each takes the run when the arguments are its own and gives the exit
  // code. They run before any Qt object exists, so they need no display. One line per tool:
  if (int code = 0; RunScriptTool(argc, argv, &code)) return code;  // --log, --list, --check
  if (int code = 0; RunRenderTool(argc, argv, &code)) return code;  // playback: --render
  // ---- end of the command-line tools ----

  CommandLine cl = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (!cl.error.empty()) {
    std::fprintf(stderr, "ondrelix: %s\nTry 'ondrelix --help' for the options.\n",
                 cl.error.c_str());
    return kExitUsage;
  }
  if (cl.help) {
    std::fputs(HelpText().c_str(), stdout);
    return 0;
  }
  if (cl.version) {
    std::fputs(VersionText().c_str(), stdout);
    return 0;
  }
  ThisRunOptions() = cl.options;

  // The saver and the settings dialog share one lock; the preview has its own, so it runs beside
  // either. A second saver or dialog exits with 1, a second preview quietly with 0. Without a
  // lock file at all the program runs unguarded rather than not at all.
  bool preview = cl.mode == SaverMode::kPreview;
  InstanceLock lock;
  if (lock.Acquire(preview ? kPreviewLockName : kSaverLockName) == 1) return preview ? 0 : 1;

  std::string why;
  if (!DisplayAvailable(&why)) {
    std::fprintf(stderr, "ondrelix: no display to show a window on (%s).\n", why.c_str());
    return 1;
  }

  PrepareSaverApplication();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("ondrelix"));
  QApplication::setApplicationDisplayName(QString::fromUtf8(kAppTitle));
  try {
    return RunMode(cl);
  } catch (const std::exception& e) {
    ShowErrorBox(e.what());
  } catch (...) {
    ShowErrorBox("unexpected error");
  }
  return 0;
}
