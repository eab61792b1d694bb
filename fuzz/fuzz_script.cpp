// The script reader, tokeniser and compiler on arbitrary file contents: the file is put in a
// data folder of its own, catalogued, and every script it holds is loaded as the saver would,
// then compiled once more with the author's diagnostics on, and once as text in memory.
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <string>

#include "app/CCaption.h"
#include "app/CMPlayer.h"
#include "app/MediaDevice.h"
#include "fuzz/FuzzSupport.h"
#include "render/CScroll.h"
#include "render/CTitle.h"
#include "script/CTimeLine.h"
#include "script/ScriptDiagnostics.h"
#include "settings/CMainCtl.h"

namespace {

struct Engine {
  CMainCtl settings;
  CScroll text{&settings};
  CTitle title{&settings};
  CCaption caption{&settings};
  SilentMediaDevice device;
  CMPlayer player{&settings, &device};
};

void CheckSorted(const CTimeLine& tl) {
  FUZZ_CHECK(tl.EventCount >= 0 && tl.EventCount <= kMaxEvents);
  for (int i = 1; i < tl.EventCount; ++i) {
    const CTimeDat* a = tl.Events[i - 1].get();
    const CTimeDat* b = tl.Events[i].get();
    FUZZ_CHECK(a && b);
    // Keys are unique but for DATA events, which all have key 0 at tick 0.
    FUZZ_CHECK(a->Tick < b->Tick || (a->Tick == b->Tick && a->OrderKey <= b->OrderKey));
  }
}

void EndScript(Engine& e, CTimeLine& tl) {
  tl.ResetTimeline();
  e.text.ClearScrolls();
  e.title.ClearTitles();
  e.caption.ClearCaptions();
  e.settings.RestoreCurPath();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Engine* engine = [] {
    auto* e = new Engine;
    e->settings.SetStorePath(FuzzFolder() + "/absent.reg");
    return e;
  }();
  Engine& e = *engine;
  const std::string folder = FuzzFolder() + "/data";
  static const bool made = [&] { return mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST; }();
  FUZZ_CHECK(made);
  WriteWholeFile(folder + "/script_fuzz.txt", data, size);
  e.settings.CurPath = folder;
  e.settings.LoadedPath = folder;

  CTimeLine scanner(&e.settings, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  scanner.ScanFolder(folder + "/");
  FUZZ_CHECK(scanner.CatalogueCount >= 0 && scanner.CatalogueCount <= kMaxScripts);

  // Every catalogued script, through the loader the saver uses.
  CTimeLine tl(&e.settings, nullptr, &e.player, nullptr, &e.text, &e.title, &e.caption);
  tl.ScanFolder(folder + "/");
  tl.BuildPlayOrder();
  const int n = tl.PlayableCount < 8 ? tl.PlayableCount : 8;
  for (int i = 0; i < n; ++i) {
    tl.LoadNextScript();
    CheckSorted(tl);
    EndScript(e, tl);
  }
  // The first one again, with every problem reported.
  if (n > 0) {
    ScriptDiagnostics diag;
    tl.SetDiagnostics(&diag);
    tl.LoadCatalogueEntry(0);
    tl.SetDiagnostics(nullptr);
    CheckSorted(tl);
    EndScript(e, tl);
  }

  // The same bytes as a built-in script held in memory.
  std::string text(reinterpret_cast<const char*>(data), size);
  tl.LoadScriptText(text.c_str());
  CheckSorted(tl);
  EndScript(e, tl);
  return 0;
}
