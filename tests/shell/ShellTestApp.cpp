// Shared set-up of the shell tests.
#include "tests/shell/ShellTestApp.h"

#include <sys/stat.h>

#include <QElapsedTimer>
#include <cstdlib>
#include <fstream>

#include "app/EntryPoint.h"
#include "settings/CMainCtl.h"
#include "shell/app/TSaverWin.h"
#include "tests/shell/TestProgram.h"

namespace shelltest {

QApplication& App() {
  static int argc = 1;
  static char name[] = "test_shell";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    PrepareSaverApplication();
    return new QApplication(argc, argv);
  }();
  return *app;
}

void Spin(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

bool SpinUntil(const std::function<bool()>& done, int ms) {
  QElapsedTimer t;
  t.start();
  while (!done() && t.elapsed() < Patient(ms))
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  return done();
}

std::function<void(CMainCtl&)> Settings(const TempFolder& dir, int mode,
                                        const std::string& dataFolder, bool logo) {
  const std::string store = dir.File("Pralvex.reg");
  return [store, mode, dataFolder, logo](CMainCtl& s) {
    s.SetStorePath(store);
    s.Load();
    RunOptions o;
    o.dataFolder = dataFolder;
    o.displayMode = mode;
    ApplyRunOptions(o, s);
    s.SetFlgLogo(logo);
  };
}

bool StoreSettingsWithoutLogo(const TempFolder& configHome) {
  if (::mkdir(configHome.File("Velnori").c_str(), 0700) != 0) return false;
  CMainCtl settings;
  settings.SetStorePath(configHome.File("Velnori/Pralvex.reg"));
  settings.Load();
  settings.SetFlgLogo(false);
  return settings.Save() == 0;
}

std::string DemoScript(int seconds) {
  const std::string t = std::to_string(seconds);
  return "<DATA TITLE=\"Shell test\" VERSION=\"1.10\">\n"
         "<SOLID COLOR=MIDNIGHTBLUE>\n"
         "<IMAGE STRING=\"Ondrelix\" TIME=" +
         t +
         " SIZE=200>\n"
         "<SET ANGLE=30 TIME=" +
         t +
         ">\n"
         "</IMAGE>\n"
         "</DATA>\n";
}

}  // namespace shelltest
