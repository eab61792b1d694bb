// The settings record: what the user configures, plus values the parts of one window share.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/FileTypes.h"
#include "platform/NameResolver.h"
#include "render/LayerSettings.h"
#include "render/PictureBudget.h"

inline constexpr int kMaxNoExe = 64;          // switched-off scripts remembered
inline constexpr int kScanBudgetSeconds = 5;  // CountScripts' time budget

class CMainCtl final : public LayerSettings {
 public:
  CMainCtl();

  // Reads the store (all defaults when it is missing or unreadable). Called once by each owner.
  void Load();
  // Writes the store atomically. Returns 0, or -1 with `error` set to the message the shell shows
  // ("'NAME' の設定に失敗しました") when a value cannot be written; the old store then stays whole.
  int Save(std::string* error = nullptr);

  // Where Load and Save read and write; defaults to $XDG_CONFIG_HOME/Velnori/Pralvex.reg.
  void SetStorePath(const std::string& path) { storePath_ = path; }
  static std::string DefaultStorePath();
  // The bundled demo folder: <prefix>/share/Velnori when installed, else the source tree's
  // examples/.
  static std::string DefaultDataFolder();

  // Accessors; setters store the value and return it.
  const std::string& GetCurPath() const { return CurPath; }
  const std::string& SetCurPath(const std::string& p) {
    resolver_.ClearCache();
    return CurPath = p;
  }
  const std::string& RestoreCurPath() {
    resolver_.ClearCache();
    return CurPath = LoadedPath;
  }
  const std::string& GetCptFont() const { return CptFont; }
  const std::string& SetCptFont(const std::string& f) { return CptFont = f; }
  int GetDspMode() const { return DspMode; }
  int SetDspMode(int m) { return DspMode = m; }
  bool GetFlgFontBold() const { return FlgFontBold; }
  bool SetFlgFontBold(bool v) { return FlgFontBold = v; }
  bool GetFlgCaption() const { return FlgCaption; }
  bool SetFlgCaption(bool v) { return FlgCaption = v; }
  bool GetFlgSound() const { return FlgSound; }
  bool SetFlgSound(bool v) { return FlgSound = v; }
  bool GetFlgLogo() const { return FlgLogo; }
  bool SetFlgLogo(bool v) { return FlgLogo = v; }
  bool GetFlgWarning() const { return FlgWarning; }
  bool SetFlgWarning(bool v) { return FlgWarning = v; }
  int GetRenderScale() const override { return RenderScale; }
  std::uint32_t GetBackColour() const override { return BackColour; }
  std::uint32_t SetBackColour(std::uint32_t c) override { return BackColour = c; }
  int GetScriptStatus() const { return ScriptStatus; }
  int SetScriptStatus(int s) { return ScriptStatus = s; }
  int GetVersion() const { return Version; }

  // Exclusion list: packed from slot 0, ends at the first 0.
  bool NoExeContains(std::int32_t id) const;
  void NoExeClear();
  int NoExeAdd(std::int32_t id);  // 0, or -1 when all 64 slots are taken
  std::int32_t NoExeAt(int slot) const { return NoExe[slot]; }

  // `CurPath` + "/" + name (just `CurPath` for an empty name). Valid until the next call.
  // A name from a script is given as the existing path it resolves to (see FileExists); a name
  // that resolves to nothing is joined as written, "\" read as "/" and CP932 decoded.
  const std::string& FullPath(const std::string& name);
  // 0 when FullPath(name) names an existing file or folder, -1 if not. Names from scripts use
  // "\" as separator, may be CP932 and are matched without regard to case per component.
  int FileExists(const std::string& name);
  // The existing path FullPath(name) resolves to (same rules as FileExists), or "" when none.
  std::string ResolvePath(const std::string& name) override;

  void StartScanClock();
  int ScanTimedOut(int limitSeconds) const;     // -1 once the budget is spent, else 0
  int CountScripts(const std::string& folder);  // count, or -1 when the budget ran out
  // The clock of the scan budget, in whole seconds; tests inject their own.
  void SetSecondsClock(std::function<std::int64_t()> clock) { secondsClock_ = std::move(clock); }
  // Replaces how Save writes each chunk of the store file (fd, bytes; false = failed). For tests.
  void SetStoreWriter(std::function<bool(int, std::string_view)> w) { writer_ = std::move(w); }

  // The decoded pictures that the layers of this window hold from the data folder.
  PictureBudget& Pictures() override { return pictures_; }

  // 0 none, 1 movie (.avi), 2 bitmap (.bmp), 3 JPEG (.jpg), 4 sound (.wav, .mp3, .mid).
  static int FileTypeOf(const std::string& name) { return ::FileTypeOf(name); }
  // A name that begins with "script_" and ends with ".txt", both without regard to case.
  static bool IsScriptFileName(const std::string& name);

  // Fields, in declaration order. Texts are UTF-8 (paths with "/").
  std::string PathBuffer;
  int RenderScale = 2;
  std::uint32_t BackColour = 0;
  std::int32_t Version = 0;
  std::string CurPath;
  std::string LoadedPath;
  std::string CptFont;
  int DspMode = 0;
  bool FlgFontBold = true;
  bool FlgCaption = true;
  bool FlgSound = true;
  bool FlgLogo = true;
  bool FlgWarning = false;
  std::int32_t NoExe[kMaxNoExe] = {};
  int ScriptStatus = 0;
  std::int64_t ScanStart = 0;

 private:
  NameResolver resolver_;  // folder listings, kept while CurPath stays the same
  PictureBudget pictures_;
  std::string storePath_;
  std::function<std::int64_t()> secondsClock_;
  std::function<bool(int, std::string_view)> writer_;
};

// The default caption font and the default outline face of formatted text.
inline constexpr const char* kDefaultCptFont = "ＭＳ ゴシック";
