// Command-line tools for script authors: --log, --list and --check.
#include "app/ScriptTools.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/CCaption.h"
#include "app/CMPlayer.h"
#include "app/EntryPoint.h"
#include "app/MediaDevice.h"
#include "platform/Cp932.h"
#include "render/CMonoBmp.h"
#include "script/CTimeLine.h"
#include "script/ScriptDiagnostics.h"
#include "script/ScriptReader.h"
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

// ": why" for a message about a file that cannot be read, or "" when the reason is not known.
std::string Because(const std::string& path) {
  const std::string why = WhyScriptUnreadable(path);
  return why.empty() ? why : ": " + why;
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

std::string WhyScriptUnreadable(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return "it is a folder";
  if (!S_ISREG(st.st_mode)) return "it is not a regular file";
  if (static_cast<std::uint64_t>(st.st_size) > kMaxScriptFileBytes)
    return "it is larger than the " + std::to_string(kMaxScriptFileBytes >> 20) +
           " MiB a script may have";
  if (::access(path.c_str(), R_OK) != 0) return std::strerror(errno);
  return "";
}

int RunLogTool(const std::string& file, int script, std::FILE* out, std::FILE* err,
               const std::string& storePath) {
  std::string folder, name;
  ToolEngine tool(storePath);
  if (!SplitFile(file, &folder, &name) || tool.engine->CatalogueFile(folder, name) != 0) {
    std::fprintf(err, "ondrelix: cannot read %s%s\n", file.c_str(), Because(file).c_str());
    return kToolNoInput;
  }
  if (script > tool.engine->CatalogueCount) {
    std::fprintf(err, "ondrelix: %s holds %d script(s), not %d\n", file.c_str(),
                 tool.engine->CatalogueCount, script);
    return kToolNoInput;
  }
  if (tool.engine->LoadCatalogueEntry(script - 1) != 0) {
    std::fprintf(err, "ondrelix: cannot read %s%s\n", file.c_str(), Because(file).c_str());
    return kToolNoInput;
  }
  int result = -1;
  const std::string log = tool.engine->ScriptLogText(&result);
  std::fwrite(log.data(), 1, log.size(), out);
  std::fflush(out);
  return result == 0 ? 0 : 1;
}

int RunListTool(const RunOptions& options, std::FILE* out, std::FILE* err,
                const std::string& storePath) {
  ToolEngine tool(storePath);
  ApplyRunOptions(options, tool.settings);
  // The folder is scanned under the very name the saver scans, since the identities (what the
  // list of switched-off scripts holds) are made from the paths.
  const std::string folder = tool.settings.GetCurPath() + "/";
  if (DIR* d = ::opendir(folder.c_str())) {
    ::closedir(d);
  } else {
    std::fprintf(err, "ondrelix: cannot read the data folder %s: %s\n",
                 tool.settings.GetCurPath().c_str(), std::strerror(errno));
    return kToolNoInput;
  }
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

int RunCheckTool(const std::vector<std::string>& files, std::FILE* out, std::FILE*,
                 const std::string& storePath) {
  int errors = 0;
  int warnings = 0;
  int scripts = 0;
  for (const std::string& file : files) {
    ScriptDiagnostics diag;
    std::string folder, name;
    ToolEngine tool(storePath);
    // Every tag is checked, also those that the switches would leave out.
    tool.settings.SetFlgSound(true);
    tool.settings.SetFlgCaption(true);
    CTimeLine& tl = *tool.engine;
    if (!SplitFile(file, &folder, &name) || tl.CatalogueFile(folder, name) != 0) {
      std::fprintf(out, "%s:0:0: error: the file cannot be read%s\n", file.c_str(),
                   Because(file).c_str());
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
