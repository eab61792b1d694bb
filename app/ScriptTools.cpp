// Command-line tools for script authors: --log, --list and --check.
#include "app/ScriptTools.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/CCaption.h"
#include "app/CMPlayer.h"
#include "app/MediaDevice.h"
#include "platform/Cp932.h"
#include "render/CMonoBmp.h"
#include "script/CTimeLine.h"
#include "script/ScriptDiagnostics.h"
#include "settings/CMainCtl.h"

namespace {

// Everything a script needs to compile with its pictures and captions, but no window.
struct ToolEngine {
  explicit ToolEngine(const std::string& storePath) {
    if (!storePath.empty()) settings.SetStorePath(storePath);
    settings.Load();
    player = std::make_unique<CMPlayer>(&settings, &device);
    titles = std::make_unique<CMonoBmp>(&settings);
    texts = std::make_unique<CMonoBmp>(&settings);
    caption = std::make_unique<CCaption>(&settings);
    engine = std::make_unique<CTimeLine>(&settings, nullptr, player.get(), nullptr, texts.get(),
                                         titles.get(), caption.get());
  }
  // Empties the timeline and the layers between two scripts, as playback does.
  void Reset() {
    engine->ResetTimeline();
    titles->ClearEntries();
    texts->ClearEntries();
    caption->ClearCaptions();
  }

  CMainCtl settings;
  SilentMediaDevice device;
  std::unique_ptr<CMPlayer> player;
  std::unique_ptr<CMonoBmp> titles;
  std::unique_ptr<CMonoBmp> texts;
  std::unique_ptr<CCaption> caption;
  std::unique_ptr<CTimeLine> engine;
};

// Splits a path into its absolute folder (ending with "/") and file name.
bool SplitFile(const std::string& file, std::string* folder, std::string* name) {
  char* real = realpath(file.c_str(), nullptr);
  if (!real) return false;
  const std::string path = real;
  std::free(real);
  const std::size_t slash = path.rfind('/');
  *folder = path.substr(0, slash + 1);
  *name = path.substr(slash + 1);
  return !name->empty();
}

bool ParsePositive(const std::string& s, int* out) {
  char* end = nullptr;
  const long v = std::strtol(s.c_str(), &end, 10);
  if (s.empty() || *end != 0 || v < 1 || v > 1000000) return false;
  *out = static_cast<int>(v);
  return true;
}

// Problems of a file that keep a DATA block out of the catalogue, which the saver skips silently.
void CheckCatalogue(CTimeLine& tl, const std::string& path, ScriptDiagnostics& diag) {
  ScriptSource src;
  if (!src.OpenFile(path)) return;
  bool open = false;
  std::size_t openAt = 0;
  int line, column;
  for (;;) {
    bool tagStart = false;
    if (src.ReadChar(&tagStart) == kReadEnd) break;
    if (!tagStart) continue;
    std::string text = src.ReadTagText();
    TagRecord r;
    if (!ParseTag(text, &r)) continue;
    src.LineColumn(src.TagOffset(), &line, &column);
    if (r.TagId == kTagData) {
      if (open) {
        diag.Report(false, line, column, "a second <DATA> inside a script is ignored");
        continue;
      }
      CTimeData header;
      if (tl.ReadScriptHeader(r, &header) != 0) {
        diag.Report(false, line, column,
                    "<DATA> needs a TITLE and a VERSION of at most 1.10; this script is not "
                    "played");
        continue;
      }
      open = true;
      openAt = src.TagOffset();
    } else if (r.TagId == kTagDataEnd) {
      open = false;
    }
  }
  if (open) {
    src.LineColumn(openAt, &line, &column);
    diag.Report(false, line, column, "this script has no </DATA>; it is not played");
  }
}

}  // namespace

int RunLogTool(const std::vector<std::string>& args, std::FILE* out, std::FILE* err,
               const std::string& storePath) {
  std::string file;
  int script = 1;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--script" && i + 1 < args.size()) {
      if (!ParsePositive(args[++i], &script)) {
        std::fprintf(err, "ondrelix: --script needs a number from 1\n");
        return kToolUsage;
      }
    } else if (args[i] == "--data" && i + 1 < args.size()) {
      ++i;  // the script's own folder is the data folder while it loads
    } else if (file.empty() && args[i].rfind("--", 0) != 0) {
      file = args[i];
    } else {
      std::fprintf(err, "ondrelix: --log FILE [--script N]: unexpected %s\n", args[i].c_str());
      return kToolUsage;
    }
  }
  if (file.empty()) {
    std::fprintf(err, "ondrelix: --log needs a script file\n");
    return kToolUsage;
  }
  std::string folder, name;
  ToolEngine tool(storePath);
  if (!SplitFile(file, &folder, &name) || tool.engine->CatalogueFile(folder, name) != 0) {
    std::fprintf(err, "ondrelix: cannot read %s\n", file.c_str());
    return 2;
  }
  if (script > tool.engine->CatalogueCount) {
    std::fprintf(err, "ondrelix: %s holds %d script(s), not %d\n", file.c_str(),
                 tool.engine->CatalogueCount, script);
    return 2;
  }
  if (tool.engine->LoadCatalogueEntry(script - 1) != 0) {
    std::fprintf(err, "ondrelix: cannot read %s\n", file.c_str());
    return 2;
  }
  int result = -1;
  const std::string log = tool.engine->ScriptLogText(&result);
  std::fwrite(log.data(), 1, log.size(), out);
  std::fflush(out);
  return result == 0 ? 0 : 1;
}

int RunListTool(const std::vector<std::string>& args, std::FILE* out, std::FILE* err,
                const std::string& storePath) {
  ToolEngine tool(storePath);
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--data" && i + 1 < args.size()) {
      tool.settings.SetCurPath(args[++i]);
    } else {
      std::fprintf(err, "ondrelix: --list [--data DIR]: unexpected %s\n", args[i].c_str());
      return kToolUsage;
    }
  }
  std::string folder = tool.settings.GetCurPath();
  if (folder.empty() || folder.back() != '/') folder += '/';
  CTimeLine& tl = *tool.engine;
  tl.ScanFolder(folder);
  for (int i = 0; i < tl.CatalogueCount; ++i) {
    std::string title;
    std::int32_t id = 0;
    tl.ScriptIdentity(i, &title, &id);
    std::fprintf(out, "%d\t%d\t%s\t%s\t%d\n", i, id, Cp932ToUtf8(title).c_str(),
                 tl.Catalogue[i]->Path, tl.Catalogue[i]->DataOffset);
  }
  return 0;
}

int RunCheckTool(const std::vector<std::string>& args, std::FILE* out, std::FILE* err,
                 const std::string& storePath) {
  std::vector<std::string> files;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--data" && i + 1 < args.size()) {
      ++i;  // each script's own folder is the data folder while it loads
    } else {
      files.push_back(args[i]);
    }
  }
  int errors = 0;
  int warnings = 0;
  int scripts = 0;
  if (files.empty()) {
    std::fprintf(err, "ondrelix: --check needs one or more script files\n");
    return kToolUsage;
  }
  for (const std::string& file : files) {
    ScriptDiagnostics diag;
    std::string folder, name;
    ToolEngine tool(storePath);
    // Every tag is checked, also those that the switches would leave out.
    tool.settings.SetFlgSound(true);
    tool.settings.SetFlgCaption(true);
    CTimeLine& tl = *tool.engine;
    if (!SplitFile(file, &folder, &name) || tl.CatalogueFile(folder, name) != 0) {
      std::fprintf(out, "%s:0:0: error: the file cannot be read\n", file.c_str());
      ++errors;
      continue;
    }
    CheckCatalogue(tl, folder + name, diag);
    if (tl.CatalogueCount == 0) diag.Report(false, 1, 1, "the file holds no playable script");
    tl.SetDiagnostics(&diag);
    for (int i = 0; i < tl.CatalogueCount; ++i) {
      tool.Reset();
      if (tl.LoadCatalogueEntry(i) != 0) {
        diag.Report(true, 0, 0, "the script cannot be read");
        continue;
      }
      ++scripts;
    }
    tl.SetDiagnostics(nullptr);
    std::stable_sort(diag.problems.begin(), diag.problems.end(),
                     [](const ScriptProblem& a, const ScriptProblem& b) {
                       return a.line != b.line ? a.line < b.line : a.column < b.column;
                     });
    for (const ScriptProblem& p : diag.problems) {
      std::fprintf(out, "%s:%d:%d: %s: %s\n", file.c_str(), p.line, p.column,
                   p.error ? "error" : "warning", p.message.c_str());
    }
    errors += diag.errors;
    warnings += diag.warnings;
  }
  std::fprintf(out, "%d error(s), %d warning(s) in %d script(s) of %zu file(s)\n", errors, warnings,
               scripts, files.size());
  return errors > 0 ? 1 : 0;
}

bool RunScriptTool(int argc, char** argv, int* exitCode) {
  // The tool's option may follow other options (ondrelix --data DIR --list).
  int at = 0;
  for (int i = 1; i < argc && at == 0; ++i) {
    const std::string a = argv[i];
    if (a == "--log" || a == "--list" || a == "--check") at = i;
    if (a == "--data") ++i;
  }
  if (at == 0) return false;
  const std::string tool = argv[at];
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    if (i != at) args.push_back(argv[i]);
  }
  if (tool == "--log") {
    *exitCode = RunLogTool(args, stdout, stderr);
  } else if (tool == "--list") {
    *exitCode = RunListTool(args, stdout, stderr);
  } else {
    *exitCode = RunCheckTool(args, stdout, stderr);
  }
  return true;
}
