// What the shell tests share: the one application object, a scratch folder, a settings loader.
#pragma once

#include <QApplication>
#include <functional>
#include <string>

class CMainCtl;

namespace shelltest {

// The application object, made on first use (offscreen unless a platform is chosen).
QApplication& App();
// Runs the event loop for `ms` milliseconds.
void Spin(int ms);
// Runs the event loop until `done` holds or `ms` milliseconds have passed; returns `done()`.
bool SpinUntil(const std::function<bool()>& done, int ms);

// A fresh folder below /tmp, removed when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  bool Write(const std::string& name, const std::string& bytes) const;

 private:
  std::string path_;
};

// Loads a settings record from a store in `dir` (defaults when missing), then sets the display
// mode, the data folder and the logo switch for the run.
std::function<void(CMainCtl&)> Settings(const ScratchDir& dir, int mode,
                                        const std::string& dataFolder, bool logo = false);

// Stores settings with the logo off in `configHome`'s Velnori folder, where the real program
// reads them with XDG_CONFIG_HOME set to it (no logo: it would only make tests wait longer).
bool StoreSettingsWithoutLogo(const ScratchDir& configHome);

// A script that shows a solid colour and a text picture for `seconds`.
std::string DemoScript(int seconds);

}  // namespace shelltest
