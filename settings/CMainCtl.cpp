// The settings record: defaults, the store's load and save orders, paths and the script count.
#include "settings/CMainCtl.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <utility>
#include <vector>

#include "platform/FolderWalk.h"
#include "settings/RegStore.h"

namespace {

const char* const kFlagNames[] = {"FlgFontBold", "FlgCaption", "FlgSound", "FlgLogo"};

std::string NoExeName(int slot) {
  return "NoExe" + std::to_string(slot);
}

bool IsFolder(const std::string& path, struct stat* st) {
  return ::stat(path.c_str(), st) == 0 && S_ISDIR(st->st_mode);
}

}  // namespace

CMainCtl::CMainCtl()
    : secondsClock_([] {
        using namespace std::chrono;
        return static_cast<std::int64_t>(
            duration_cast<seconds>(steady_clock::now().time_since_epoch()).count());
      }) {
  storePath_ = DefaultStorePath();
  // A count made without StartScanClock still gets a budget from the record's creation.
  StartScanClock();
}

std::string CMainCtl::DefaultStorePath() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home != nullptr ? home : "") + "/.config";
  }
  return base + "/Velnori/Pralvex.reg";
}

std::string CMainCtl::DefaultDataFolder() {
  char exe[PATH_MAX];
  ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n > 0) {
    std::string path(exe, static_cast<size_t>(n));
    size_t slash = path.find_last_of('/');
    std::string bin = slash == std::string::npos ? std::string() : path.substr(0, slash);
    size_t up = bin.find_last_of('/');
    // An installed program lives in <prefix>/bin, its demo folder in <prefix>/share/Velnori.
    if (up != std::string::npos && bin.substr(up + 1) == "bin") {
      std::string share = bin.substr(0, up) + "/share/Velnori";
      struct stat st;
      if (IsFolder(share, &st)) return share;
    }
  }
  return ONDRELIX_SOURCE_DIR "/examples";
}

void CMainCtl::Load() {
  std::string folder = DefaultDataFolder();
  CurPath = folder;
  PathBuffer = CurPath;
  NoExeClear();

  RegStore store;
  if (store.Load(storePath_) != 0) {
    Version = 0;
    LoadedPath = PathBuffer;
    CurPath = PathBuffer;
    CptFont = kDefaultCptFont;
    DspMode = 0;
    FlgFontBold = FlgCaption = FlgSound = FlgLogo = true;
    FlgWarning = false;
    return;
  }

  std::uint32_t n = 0;
  Version = store.GetDword("Version", &n) == 0 ? static_cast<std::int32_t>(n) : 0;
  if (store.GetString("CurPath", &LoadedPath) != 0) LoadedPath = folder;
  if (store.GetString("CurPath", &CurPath) != 0) CurPath = folder;
  if (store.GetString("CptFont", &CptFont) != 0) CptFont = kDefaultCptFont;
  DspMode = store.GetDword("DspMode", &n) == 0 ? static_cast<int>(n) : 0;
  bool* flags[] = {&FlgFontBold, &FlgCaption, &FlgSound, &FlgLogo};
  for (int i = 0; i < 4; ++i) *flags[i] = store.GetDword(kFlagNames[i], &n) == 0 ? n != 0 : true;
  FlgWarning = store.GetDword("FlgWarning", &n) == 0 ? n != 0 : false;
  for (int i = 0; i < kMaxNoExe; ++i) {
    std::string name = NoExeName(i);
    if (!store.Has(name)) break;
    if (store.GetDword(name, &n) == 0) NoExe[i] = static_cast<std::int32_t>(n);
  }
}

int CMainCtl::Save(std::string* error) {
  RegStore store;
  store.Load(storePath_);  // keeps values the record does not know; a bad file starts afresh
  store.SetDword("Version", 110);
  store.SetString("CurPath", CurPath);
  store.SetString("CptFont", CptFont);
  store.SetDword("DspMode", static_cast<std::uint32_t>(DspMode));
  bool flags[] = {FlgFontBold, FlgCaption, FlgSound, FlgLogo};
  for (int i = 0; i < 4; ++i) store.SetDword(kFlagNames[i], flags[i] ? 1 : 0);
  store.SetDword("FlgWarning", FlgWarning ? 1 : 0);
  int i = 0;
  for (; i < kMaxNoExe && NoExe[i] != 0; ++i)
    store.SetDword(NoExeName(i), static_cast<std::uint32_t>(NoExe[i]));
  for (; i < kMaxNoExe; ++i) store.Delete(NoExeName(i));

  if (writer_) store.SetWriter(writer_);
  std::string failed;
  if (store.Save(storePath_, &failed) == 0) return 0;
  // When no file could be written at all, the save failed at its first value.
  if (failed.empty()) failed = "Version";
  if (error != nullptr) *error = "'" + failed + "' の設定に失敗しました";
  return -1;
}

bool CMainCtl::NoExeContains(std::int32_t id) const {
  for (int i = 0; i < kMaxNoExe && NoExe[i] != 0; ++i)
    if (NoExe[i] == id) return true;
  return false;
}

void CMainCtl::NoExeClear() {
  for (std::int32_t& slot : NoExe) slot = 0;
}

int CMainCtl::NoExeAdd(std::int32_t id) {
  for (std::int32_t& slot : NoExe) {
    if (slot == 0) {
      slot = id;
      return 0;
    }
  }
  return -1;
}

const std::string& CMainCtl::FullPath(const std::string& name) {
  PathBuffer = CurPath;
  if (name.empty()) return PathBuffer;
  std::string found = resolver_.Resolve(CurPath, name);
  if (!found.empty()) return PathBuffer = found;
  if (PathBuffer.empty() || PathBuffer.back() != '/') PathBuffer += '/';
  PathBuffer += ScriptNameToUtf8(name);
  return PathBuffer;
}

int CMainCtl::FileExists(const std::string& name) {
  return ResolvePath(name).empty() ? -1 : 0;
}

std::string CMainCtl::ResolvePath(const std::string& name) {
  return resolver_.Resolve(CurPath, name);
}

void CMainCtl::StartScanClock() {
  ScanStart = secondsClock_();
}

int CMainCtl::ScanTimedOut(int limitSeconds) const {
  return secondsClock_() >= ScanStart + limitSeconds ? -1 : 0;
}

int CMainCtl::CountScripts(const std::string& folder) {
  FolderWalk walk(folder);
  walk.SetExpired([this] { return ScanTimedOut(kScanBudgetSeconds) != 0; });
  int count = 0;
  const int walked = walk.Run([&](const FolderWalk::Entry& e) {
    if (IsScriptFileName(e.name)) ++count;
    return true;
  });
  return walked < 0 ? -1 : count;
}

bool CMainCtl::IsScriptFileName(const std::string& name) {
  constexpr std::string_view kPrefix = "script_";
  if (name.size() < kPrefix.size()) return false;
  for (size_t i = 0; i < kPrefix.size(); ++i) {
    unsigned char c = name[i];
    if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
    if (c != static_cast<unsigned char>(kPrefix[i])) return false;
  }
  return FileExtension(name) == ".txt";
}
