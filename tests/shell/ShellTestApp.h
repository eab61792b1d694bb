// What the shell tests share: the one application object and a settings loader.
#pragma once

#include <QApplication>
#include <functional>
#include <string>

#include "tests/support/TempFolder.h"

class CMainCtl;

namespace shelltest {

// The application object, made on first use (offscreen unless a platform is chosen).
QApplication& App();
// Runs the event loop for `ms` milliseconds.
void Spin(int ms);
// Runs the event loop until `done` holds or `ms` milliseconds (stretched in a sanitizer build)
// have passed; returns `done()`.
bool SpinUntil(const std::function<bool()>& done, int ms);

// Loads a settings record from a store in `dir` (defaults when missing), then sets the display
// mode, the data folder and the logo switch for the run.
std::function<void(CMainCtl&)> Settings(const TempFolder& dir, int mode,
                                        const std::string& dataFolder, bool logo = false);

// Stores settings with the logo off in `configHome`'s Velnori folder, where the real program
// reads them with XDG_CONFIG_HOME set to it (no logo: it would only make tests wait longer).
bool StoreSettingsWithoutLogo(const TempFolder& configHome);

// A script that shows a solid colour and a text picture for `seconds`.
std::string DemoScript(int seconds);

}  // namespace shelltest
