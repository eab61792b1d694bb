// A script engine with real layers over a temporary data folder, for the compiler's tests.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "app/CCaption.h"
#include "app/CMPlayer.h"
#include "app/MediaDevice.h"
#include "platform/Cp932.h"
#include "render/CMonoBmp.h"
#include "script/CTimeLine.h"
#include "settings/CMainCtl.h"
#include "tests/support/TempFolder.h"

struct ScriptEngine {
  ScriptEngine()
      : player(&settings, &device),
        titles(&settings),
        texts(&settings),
        caption(&settings),
        tl(&settings, nullptr, &player, nullptr, &texts, &titles, &caption) {
    settings.SetStorePath(folder.path() + "/no-store.reg");
    settings.Load();
    settings.SetCurPath(folder.path());
  }
  // Compiles a script held in memory; `utf8` is converted to CP932 first.
  void Compile(const std::string& utf8) {
    tl.ResetTimeline();
    tl.LoadScriptText(Utf8ToCp932(utf8).c_str());
  }
  // Writes `bytes` as a script file, catalogues it and loads script `index` of it.
  int LoadFile(const std::string& bytes, int index = 0, const std::string& name = "script_t.txt") {
    folder.Write(name, bytes);
    tl.ResetTimeline();
    tl.CatalogueCount = 0;
    for (auto& e : tl.Catalogue) e.reset();
    if (tl.CatalogueFile(folder.path() + "/", name) != 0) return -1;
    return tl.LoadCatalogueEntry(index);
  }
  template <typename T>
  T& At(int i) {
    return *static_cast<T*>(tl.Events[i].get());
  }
  int KindAt(int i) const { return tl.Events[i]->Kind; }
  int TickAt(int i) const { return tl.Events[i]->Tick; }

  TempFolder folder;
  CMainCtl settings;
  SilentMediaDevice device;
  CMPlayer player;
  CMonoBmp titles;
  CMonoBmp texts;
  CCaption caption;
  CTimeLine tl;
};

// "<DATA TITLE=... VERSION=1>" + body + "</DATA>".
inline std::string Script(const std::string& body) {
  return "<DATA TITLE=\"t\" VERSION=\"1\">" + body + "</DATA>";
}
