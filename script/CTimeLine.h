// The script engine: the timeline a script is compiled into, the catalogue of scripts found in
// the data folder, the play order, the parse state the tag handlers share and the last error.
#pragma once

#include <cassert>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "script/ScriptReader.h"
#include "script/TimeEvents.h"

class CMainCtl;
class CBgCtl;
class MusicPreloader;
class COthBmp;
class CMonoBmp;
class CaptionSink;
class CScrText;
class ScriptDiagnostics;

inline constexpr int kMaxEvents = 2048;
inline constexpr int kMaxScripts = 64;
inline constexpr int kScriptTitleBytes = 32;  // at most 30 characters used
inline constexpr int kScriptTitleChars = 30;
inline constexpr int kScriptFolderBytes = 256;
inline constexpr int kScriptPathBytes = 256;
inline constexpr int kErrorPathBytes = 128;
inline constexpr int kErrorMessageBytes = 128;
inline constexpr std::int32_t kVersionMax = 110;  // VERSION 1.10

// One catalogued script. Texts are UTF-8 paths with "/", zero-terminated, cut to fit.
struct ScriptEntry {
  char Title[kScriptTitleBytes] = {};    // CP932 bytes of the DATA tag's TITLE
  char Folder[kScriptFolderBytes] = {};  // ends with "/"
  char Path[kScriptPathBytes] = {};      // folder and file name
  std::int32_t DataOffset = 0;           // byte offset of the "<" of the DATA tag
};

// The most recent parse error of the current script. `Message` is UTF-8.
struct ScriptError {
  char ScriptPath[kErrorPathBytes] = {};
  std::int32_t TagOrdinal = 0;
  char Message[kErrorMessageBytes] = {};
};

class CTimeLine {
 public:
  static constexpr int kMaxEvents = ::kMaxEvents;
  static constexpr int kMaxScripts = ::kMaxScripts;

  // Every link but `settings` may be null (an engine that only catalogues scripts).
  CTimeLine(CMainCtl* settings, CBgCtl* bg, MusicPreloader* player, COthBmp* images,
            CMonoBmp* textLayer, CMonoBmp* titleLayer, CaptionSink* caption);
  ~CTimeLine();
  CTimeLine(const CTimeLine&) = delete;
  CTimeLine& operator=(const CTimeLine&) = delete;

  // Frees every event and clears all parse state; the catalogue and play order stay.
  void ResetTimeline();
  // Kind of the event at PlayCursor when it is due at `tick`, else 0.
  int PeekEventKind(int tick);
  // The event at PlayCursor (null past the end); advances PlayCursor.
  CTimeDat* PopEvent();

  // Catalogue. Folders are UTF-8 and end with "/".
  int ScanFolder(const std::string& folder);
  int CatalogueFile(const std::string& folder, const std::string& name);
  // 0 and the header filled when the DATA tag has a TITLE and a VERSION of at most 1.10, else -1.
  int ReadScriptHeader(const TagRecord& record, CTimeData* into);
  // 0 with the entry's title (CP932 bytes) and identity, -1 for an index outside the catalogue.
  int ScriptIdentity(int index, std::string* title, std::int32_t* identity);
  void BuildPlayOrder();
  // Loads the next script of the play order: 0 when one was loaded, -1 when none could be.
  int LoadNextScript();
  // Loads catalogue entry `index` as LoadNextScript does, without moving OrderPos.
  int LoadCatalogueEntry(int index);
  // Scans the file at `path` again and points its catalogue entries at the DATA tags it holds
  // now (the k-th entry of the file at its k-th show, entries past the last show at the last
  // one), titles too; positions and the play order stay. -1 when the file cannot be read or
  // holds no show any more (the entries are left as they were).
  int RecatalogueFile(const std::string& path);
  // Loads catalogue entry `index` after re-cataloguing its file, so an edit that moved its DATA
  // tag is read from the tag's new place. -1 when the file or the show cannot be read.
  int ReloadCatalogueEntry(int index);
  // Compiles a script held in memory (zero-terminated CP932 text). Returns 0.
  int LoadScriptText(const char* text);

  // Writes "Script.log" into CurPath: 0 when the end event was reached, -1 otherwise.
  int WriteScriptLog();
  // The log's bytes (line ends CR LF) as WriteScriptLog writes them; `result` as its return.
  std::string ScriptLogText(int* result) const;

  // Applies one tokenised tag: 0, or -1 when its handler reported an error.
  int ApplyTag(TagRecord& record);
  // Sorts Events[0..EventCount) by Tick, then OrderKey.
  void SortTimeline();

  // What the attribute readers of the tag handlers may use of the timeline while a tag is applied.
  struct TagParse;
  // A tag's attribute table and handlers (TagTables.h).
  struct TagRow;

  // Diagnostics for script authors (--check); null during normal play.
  void SetDiagnostics(ScriptDiagnostics* sink) { diag_ = sink; }
  ScriptDiagnostics* Diagnostics() const { return diag_; }

  // The timeline.
  std::unique_ptr<CTimeDat> Events[kMaxEvents];
  std::int32_t EventCount = 0;
  std::int32_t PlayCursor = 0;
  std::int32_t ClockMs = 0;
  std::int32_t NextImageNo = 0;
  std::int32_t ScriptEndMs = 0;

  // The catalogue and play order.
  std::unique_ptr<ScriptEntry> Catalogue[kMaxScripts];
  std::int32_t PlayOrder[kMaxScripts] = {};
  std::int32_t CatalogueCount = 0;
  std::int32_t PlayableCount = 0;
  std::int32_t OrderPos = 0;

  ScriptError LastError;

  // Links (not owned).
  CMainCtl* Settings = nullptr;
  CBgCtl* BackgroundLayer = nullptr;
  CaptionSink* CaptionLayer = nullptr;
  CMonoBmp* TitleLayer = nullptr;
  CMonoBmp* TextLayer = nullptr;
  COthBmp* ImageLayer = nullptr;
  MusicPreloader* Player = nullptr;

  // Parse state.
  int MusicPreloaded = 0;
  int InBgMake = 0;
  int InTitle = 0;
  int InImage = 0;
  std::int32_t CurrentObjectNo = 0;
  bool EventsRefused = false;  // the script produced more events than the timeline holds

  std::unique_ptr<CScrText> ScrText;  // owned formatted-text engine

 private:
  int LoadEntry(const ScriptEntry& entry);
  std::string SyntaxErrorDetail(const std::string& text, int why);
  bool ReadScrTextBody(ScriptSource& src);
  bool ReadCaptionBody(ScriptSource& src);
  void ApplyCommonRules(int tagId);
  int ApplyTextTag(TagRecord& record);
  // Adds a record as an event of `kind`, which must be a kind that carries that record.
  template <typename R>
  int AddEvent(std::unique_ptr<R> ev, int kind, std::int32_t tick, std::int32_t cls) {
    assert(CarriesRecord<R>(kind));
    return AddEventRecord(std::move(ev), kind, tick, cls);
  }
  int AddEventRecord(std::unique_ptr<CTimeDat> ev, int kind, std::int32_t tick, std::int32_t cls);
  void RaiseEnd(std::int32_t startMs, std::int32_t timeMs);
  void Warn(const std::string& message);
  // Records `message` in LastError; the diagnostics also get `detail` after it.
  void Error(const std::string& message, const std::string& detail = {});

  // The row of a tag in the tag table (a row without handlers for a tag that does nothing).
  static const TagRow& Row(int tagId);
  // The handlers of the tag table: each applies one tag; 0, or -1 for an error that ends the
  // script.
  int ApplyData(TagRecord& r);
  int ApplyDataEnd(TagRecord& r);
  int ApplyEnd(TagRecord& r);
  int ApplyClock(TagRecord& r);
  int ApplyScreen(TagRecord& r);
  int ApplyBgMake(TagRecord& r);
  int ApplyObject(TagRecord& r);
  int ApplyBgMakeEnd(TagRecord& r);
  int ApplyBgScroll(TagRecord& r);
  int ApplyBgm(TagRecord& r);
  int ApplyImage(TagRecord& r);
  int ApplyTitle(TagRecord& r);
  int ApplyBlockEnd(TagRecord& r);
  int ApplyScrText(TagRecord& r);
  int ApplyCaption(TagRecord& r);
  int ApplySolid(TagRecord& r);
  int ApplyClear(TagRecord& r);
  int ApplySchedule(TagRecord& r);
  int ApplyBodySchedule(TagRecord& r);
  int ApplyReadFont(TagRecord& r);
  int ApplyFormat(TagRecord& r);
  int ApplyFormatEnd(TagRecord& r);
  int ApplyNoDisp(TagRecord& r);
  int ApplyBr(TagRecord& r);
  int ApplySpc(TagRecord& r);
  int EndBgMake();
  void CheckAttributes(const TagRecord& r, bool inBody);
  std::int32_t Colour(const TagRecord& r, const AttrSlot& a);
  void CheckPicture(const char* what, std::string_view name);
  bool Exists(std::string_view name);
  void ReadObjectContrast(const char* tag, std::string_view v, int* fade, std::int32_t* contrast);
  int RenderAutoTextBitmap();
  void AddFades(int fade, int kind, std::int32_t bmpNo, std::int32_t tick, std::int32_t endMs);

  ScriptDiagnostics* diag_ = nullptr;
  ScriptSource* source_ = nullptr;              // the source being loaded, for diagnostic positions
  std::unique_ptr<CTimeBgMake> pendingBgMake_;  // the open BGMAKE block, counted at /BGMAKE
  int bgObjects_ = 0;
  int tagOrdinal_ = 0;
};
