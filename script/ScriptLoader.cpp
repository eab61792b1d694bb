// Finding scripts (the catalogue), their identities, the play order, and loading one script
// from its file or from text in memory.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/Cp932.h"
#include "platform/FieldCopy.h"
#include "platform/FolderWalk.h"
#include "script/CTimeLine.h"
#include "script/ScriptValues.h"
#include "settings/CMainCtl.h"

namespace {

// Calls `found(title, offset)` for every DATA block of the source that the header check accepts
// and /DATA closes, in file order, for as long as it returns true. `offset` is that of the "<" of
// the DATA tag. Text between tags, tags that fail to tokenise and text bodies are passed over.
template <typename Found>
void ForEachShow(CTimeLine& tl, ScriptSource& src, Found found) {
  bool open = false;
  char title[sizeof CTimeData::Title] = {};
  std::size_t offset = 0;
  for (;;) {
    bool tagStart = false;
    if (src.ReadChar(&tagStart) == kReadEnd) return;
    if (!tagStart) continue;
    std::string text = src.ReadTagText();
    TagRecord r;
    if (!ParseTag(text, &r)) continue;
    if (!open && r.TagId == kTagData) {
      CTimeData header;
      if (tl.ReadScriptHeader(r, &header) != 0) continue;
      std::memcpy(title, header.Title, sizeof title);
      offset = src.TagOffset();
      open = true;
    } else if (open && r.TagId == kTagDataEnd) {
      open = false;
      if (!found(std::string_view(title, strnlen(title, sizeof title)), offset)) return;
    }
  }
}

}  // namespace

int CTimeLine::ScanFolder(const std::string& folder) {
  if (CatalogueCount >= kMaxScripts) return CatalogueCount;
  FolderWalk walk(folder);
  walk.Run([&](const FolderWalk::Entry& e) {
    if (CMainCtl::IsScriptFileName(e.name)) CatalogueFile(e.folder, e.name);
    return CatalogueCount < kMaxScripts;
  });
  return CatalogueCount;
}

int CTimeLine::CatalogueFile(const std::string& folder, const std::string& name) {
  ScriptSource src;
  if (!src.OpenFile(folder + name)) return -1;
  if (CatalogueCount >= kMaxScripts) return 0;
  ForEachShow(*this, src, [&](std::string_view title, std::size_t offset) {
    auto entry = std::make_unique<ScriptEntry>();
    CopyField(entry->Title, title, kScriptTitleChars);
    CopyField(entry->Folder, folder);
    CopyField(entry->Path, folder + name);
    entry->DataOffset = static_cast<std::int32_t>(offset);
    Catalogue[CatalogueCount++] = std::move(entry);
    return CatalogueCount < kMaxScripts;
  });
  return 0;
}

int CTimeLine::RecatalogueFile(const std::string& path) {
  ScriptSource src;
  if (!src.OpenFile(path)) return -1;
  struct Show {
    std::string Title;
    std::int32_t DataOffset;
  };
  std::vector<Show> shows;
  ForEachShow(*this, src, [&](std::string_view title, std::size_t offset) {
    shows.push_back({std::string(title), static_cast<std::int32_t>(offset)});
    return shows.size() < static_cast<std::size_t>(kMaxScripts);
  });
  if (shows.empty()) return -1;
  // The entries of one file were catalogued in file order, so the k-th of them is the file's
  // k-th show; entries past the shows the file still holds take its last one.
  std::size_t k = 0;
  for (int i = 0; i < CatalogueCount; ++i) {
    ScriptEntry* e = Catalogue[i].get();
    if (!e || std::strncmp(e->Path, path.c_str(), sizeof e->Path) != 0) continue;
    const Show& show = shows[std::min(k, shows.size() - 1)];
    CopyField(e->Title, show.Title, kScriptTitleChars);
    e->DataOffset = show.DataOffset;
    k += 1;
  }
  return 0;
}

int CTimeLine::ScriptIdentity(int index, std::string* title, std::int32_t* identity) {
  if (index < 0 || index >= CatalogueCount || !Catalogue[index]) return -1;
  const ScriptEntry& e = *Catalogue[index];
  std::uint32_t s = 0;
  std::uint32_t n = 0;
  for (const char* p = e.Path; *p && n < sizeof e.Path; ++p, ++n) {
    s += static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<std::int8_t>(*p)));
  }
  const std::uint32_t id = ((s * 256u + n) * 256u) + static_cast<std::uint32_t>(e.DataOffset);
  if (title) *title = std::string(e.Title, strnlen(e.Title, sizeof e.Title));
  if (identity) *identity = static_cast<std::int32_t>(id);
  return 0;
}

void CTimeLine::BuildPlayOrder() {
  constexpr std::int32_t kEmpty = -1;
  std::int32_t candidates[kMaxScripts];
  PlayableCount = 0;
  for (int a = 0; a < CatalogueCount; ++a) {
    std::int32_t id = 0;
    ScriptIdentity(a, nullptr, &id);
    if (Settings && Settings->NoExeContains(id)) continue;
    candidates[PlayableCount++] = a;
  }
  for (auto& slot : PlayOrder) slot = kEmpty;
  const int n = PlayableCount;
  for (int q = n; q >= 1; --q) {
    int r = std::rand() % q;
    for (int slot = 0; slot < n; ++slot) {
      if (PlayOrder[slot] != kEmpty) continue;
      if (r-- == 0) {
        PlayOrder[slot] = candidates[q - 1];
        break;
      }
    }
  }
  for (auto& slot : PlayOrder) {
    if (slot == kEmpty) slot = 0;
  }
}

namespace {

// True when the file still has a DATA tag at `offset`: an edit made since the folder was
// catalogued may have moved it.
bool DataTagAt(const std::string& path, std::int32_t offset) {
  ScriptSource src;
  if (offset < 0 || !src.OpenFile(path) || !src.Seek(static_cast<std::size_t>(offset))) {
    return false;
  }
  bool tagStart = false;
  if (src.ReadChar(&tagStart) == kReadEnd || !tagStart) return false;
  return TagNameOf(src.ReadTagText()) == "DATA";
}

}  // namespace

int CTimeLine::LoadNextScript() {
  MusicPreloaded = 0;
  InBgMake = 0;
  pendingBgMake_.reset();
  if (CatalogueCount == 0 || PlayableCount == 0) return -1;
  if (OrderPos < 0 || OrderPos >= PlayableCount) OrderPos = 0;
  const int index = PlayOrder[OrderPos];
  // The order moves on also when the file cannot be read, so one vanished file does not stop
  // every later script from playing.
  OrderPos += 1;
  if (OrderPos >= PlayableCount) OrderPos = 0;
  if (index < 0 || index >= CatalogueCount || !Catalogue[index]) return -1;
  // A file edited while the saver ran is scanned again when its show's tag is no longer where
  // it was, so the show is read from its new place (the entry keeps its place in the order).
  if (!DataTagAt(Catalogue[index]->Path, Catalogue[index]->DataOffset)) {
    const std::string path = Catalogue[index]->Path;
    RecatalogueFile(path);
  }
  return LoadEntry(*Catalogue[index]);
}

int CTimeLine::LoadCatalogueEntry(int index) {
  MusicPreloaded = 0;
  InBgMake = 0;
  pendingBgMake_.reset();
  if (index < 0 || index >= CatalogueCount || !Catalogue[index]) return -1;
  return LoadEntry(*Catalogue[index]);
}

int CTimeLine::ReloadCatalogueEntry(int index) {
  if (index < 0 || index >= CatalogueCount || !Catalogue[index]) return -1;
  // A copy: the path is compared against every entry while they are rewritten.
  const std::string path = Catalogue[index]->Path;
  if (RecatalogueFile(path) != 0) return -1;
  return LoadCatalogueEntry(index);
}

int CTimeLine::LoadEntry(const ScriptEntry& entry) {
  tagOrdinal_ = 0;
  if (Settings) {
    std::string folder = entry.Folder;
    if (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    Settings->SetCurPath(folder);
  }
  ScriptSource src;
  if (!src.OpenFile(entry.Path) || !src.Seek(static_cast<std::size_t>(entry.DataOffset))) {
    return -1;
  }
  source_ = &src;
  TagRecord endRecord;
  endRecord.TagId = kTagDataEnd;
  for (;;) {
    bool tagStart = false;
    if (src.ReadChar(&tagStart) == kReadEnd) {
      Warn("the file ends without </DATA>; the script ends there");
      ApplyTag(endRecord);
      break;
    }
    if (!tagStart) continue;
    std::string text = src.ReadTagText();
    tagOrdinal_ += 1;
    if (text.empty()) continue;
    TagRecord r;
    ParseFailure why;
    if (!ParseTag(text, &r, &why)) {
      CopyField(LastError.ScriptPath, entry.Path);
      LastError.TagOrdinal = tagOrdinal_;
      Error("何らかの文法上の誤りがあります。", SyntaxErrorDetail(text, static_cast<int>(why)));
      continue;
    }
    bool ended = false;
    if (r.TagId == kTagScrText || r.TagId == kTagCaption) {
      // A block that the tag ends is closed before the body adds its schedules.
      ApplyCommonRules(r.TagId);
      ended = r.TagId == kTagScrText ? ReadScrTextBody(src) : ReadCaptionBody(src);
    }
    ApplyTag(r);
    if (ended) {
      // The body reached the end of the script: the text's own event is in, now the end.
      ApplyTag(endRecord);
      break;
    }
    if (r.TagId == kTagDataEnd) break;
  }
  SortTimeline();
  source_ = nullptr;
  return 0;
}

std::string CTimeLine::SyntaxErrorDetail(const std::string& text, int why) {
  if (!diag_) return {};
  const std::string name = Cp932ToUtf8(TagNameOf(text));
  switch (static_cast<ParseFailure>(why)) {
    case ParseFailure::kNameTooLong:
      return " (tag name longer than 20 bytes)";
    case ParseFailure::kUnknownName:
      return " (unknown tag name \"" + name + "\")";
    case ParseFailure::kNoClosing:
      if (source_ && source_->FromFile() && text.size() >= kFileTagBytes) {
        return " (<" + name + "> is longer than 256 bytes and is cut there)";
      }
      return " (<" + name + "> has no closing \">\")";
    default:
      return {};
  }
}

int CTimeLine::LoadScriptText(const char* text) {
  MusicPreloaded = 0;
  InBgMake = 0;
  pendingBgMake_.reset();
  ScriptSource src;
  src.OpenText(text ? text : "");
  source_ = &src;
  for (;;) {
    bool tagStart = false;
    if (src.ReadChar(&tagStart) == kReadEnd) break;
    if (!tagStart) continue;
    std::string tag = src.ReadTagText();
    TagRecord r;
    if (!ParseTag(tag, &r)) continue;
    if (ApplyTag(r) == 0 && r.TagId == kTagDataEnd) break;
  }
  SortTimeline();
  source_ = nullptr;
  return 0;
}
