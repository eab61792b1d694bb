// Entry point of the ondrelix program: command-line tools, the screen-saver switch, the
// single-instance locks, and the window of the chosen mode.
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <QPalette>
#include <QPointer>
#include <QScreen>
#include <QSocketNotifier>
#include <QWidget>
#include <QWindow>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "app/AuthorTools.h"
#include "app/EntryPoint.h"
#include "app/XScreenSaverList.h"
#include "platform/DisplayCheck.h"
#include "platform/HugePageHeap.h"
#include "platform/InstanceLock.h"
#include "platform/Signals.h"
#include "settings/CMainCtl.h"
#include "shell/app/TMiniWin.h"
#include "shell/app/TModuleWin.h"
#include "shell/app/TSaverWin.h"
#include "shell/bonus/TOmakeWin.h"
#include "shell/platform/GstMusicDecoder.h"
#include "shell/platform/GstShowEncoder.h"
#include "shell/settings/TSetteiForm.h"

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

// Module mode: the show inside a foreign window, or the preview animation in a small one.
int RunModule(const CommandLine& cl) {
  const std::uint64_t id = cl.windowId != 0 ? cl.windowId : RootWindowId();
  const ForeignWindowInfo info = ReadForeignWindow(id);
  if (id == 0 || info.size.isEmpty()) {
    std::fprintf(stderr, "ondrelix: no X11 window 0x%llx to play in.\n",
                 static_cast<unsigned long long>(id));
    return 1;
  }
  if (info.size.width() < kModuleMinWidth || info.size.height() < kModuleMinHeight) {
    auto* w = CreatePreviewWindow(id);
    w->show();
    const int rc = QApplication::exec();
    delete w;
    return rc;
  }
  auto module = std::make_unique<TModuleWin>(id, [](CMainCtl& settings) {
    settings.Load();
    ApplyRunOptions(ThisRunOptions(), settings);
  });
  if (!module->Ready()) {
    std::fprintf(stderr, "ondrelix: cannot play in window 0x%llx (depth %d).\n",
                 static_cast<unsigned long long>(id), info.depth);
    return 1;
  }
  const int rc = QApplication::exec();
  // The host waits for its module to end before it shows the desktop again, and a module has
  // nothing to save: once the music has stopped, the process ends without taking the toolkit
  // down piece by piece.
  module.reset();
  std::fflush(nullptr);
  ::_exit(rc);
}

int RunMode(const CommandLine& cl) {
  QWidget* window = nullptr;
  switch (cl.mode) {
    case SaverMode::kModule:
      return RunModule(cl);
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
  const QPointer<QWidget> main = window;  // a closed window may have deleted itself
  const int rc = QApplication::exec();
  // Ended by a signal the windows are still open: closing them stops the music and lets go
  // of the media files before the program ends. The main window goes first: it has windows of
  // its own (the covers over other screens, the bonus window) and deletes them itself.
  delete main.data();
  QList<QPointer<QWidget>> open;
  for (QWidget* w : QApplication::topLevelWidgets()) open.append(w);
  for (const QPointer<QWidget>& w : open) delete w.data();
  return rc;
}

}  // namespace

int main(int argc, char** argv) {
  CommandLine cl = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (cl.help && cl.error.empty()) {
    std::fputs(HelpText().c_str(), stdout);
    return 0;
  }
  if (cl.version && cl.error.empty()) {
    std::fputs(VersionText().c_str(), stdout);
    return 0;
  }
  // The authoring tools run before any Qt object exists, so they need no display.
  if (cl.tool != Tool::kNone) {
    GstMusicDecoder musicDecoder;  // GStreamer starts only when --export decodes music
    const VideoBackend video = GstVideoBackend();
    ToolContext context;
    context.video = &video;
    context.music = &musicDecoder;
    return RunAuthorTool(cl, context);
  }

  ApplyScreenSaverWindow(std::getenv("XSCREENSAVER_WINDOW"), cl);
  if (!cl.error.empty()) {
    std::fprintf(stderr, "ondrelix: %s\nTry 'ondrelix --help' for the options.\n",
                 cl.error.c_str());
    return kExitUsage;
  }
  if (cl.addToXScreenSaver)
    return AddToXScreenSaver(XScreenSaverSettingsPath(), kXScreenSaverDefaults, ThisProgramPath(),
                             stdout, stderr);
  ThisRunOptions() = cl.options;
  // Before anything is made or locked: the start that follows takes over this process.
  RestartWithHugePageHeap(ThisProgramPath(), argv);

  // The saver and the settings dialog share one lock; the preview has its own, so it runs beside
  // either. A second saver or dialog exits with 1, a second preview quietly with 0. Without a
  // lock file at all the program runs unguarded rather than not at all.
  bool preview = cl.mode == SaverMode::kPreview;
  // A module runs once per screen of the desktop's saver and beside its settings preview: no lock.
  InstanceLock lock;
  const int locked =
      cl.mode == SaverMode::kModule ? 0 : lock.Acquire(preview ? kPreviewLockName : kSaverLockName);
  if (locked == 1) return preview ? 0 : 1;
  if (!lock.Problem().empty()) {
    std::fprintf(stderr, "ondrelix: %s; running without the single-instance lock.\n",
                 lock.Problem().c_str());
  }

  std::string why;
  if (!DisplayAvailable(&why)) {
    std::fprintf(stderr, "ondrelix: no display to show a window on (%s).\n", why.c_str());
    return 1;
  }

  PrepareSaverApplication();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("ondrelix"));
  // No display name: Qt would add it to every window title, and each title is its own text.
  // SIGTERM and SIGINT end every mode in order, with exit code 0.
  std::unique_ptr<QSocketNotifier> quitNotifier;
  const int graceMs = cl.mode == SaverMode::kModule ? kModuleQuitGraceMs : kQuitGraceMs;
  if (const int fd = InstallQuitSignals(graceMs); fd >= 0) {
    quitNotifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    QObject::connect(quitNotifier.get(), &QSocketNotifier::activated, [] {
      if (TakeQuitSignal() != 0) QCoreApplication::exit(0);
    });
  }
  return RunGuarded([&] { return RunMode(cl); }, ShowErrorBox);
}
