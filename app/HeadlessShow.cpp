// A show played headless.
#include "app/HeadlessShow.h"

#include <stdlib.h>

#include <cerrno>
#include <cstring>

#include "app/CPlayback.h"
#include "app/MediaDevice.h"
#include "app/SaverObjects.h"
#include "app/WindowSurface.h"
#include "script/CTimeLine.h"
#include "settings/CMainCtl.h"

namespace {

// A show ends by itself at its /DATA; this bounds a show whose timeline never gets there.
constexpr long long kMaxPasses = 400000000LL;

// Plays catalogue entry `index` once; later loads find nothing, which ends the playing.
class SingleScriptEngine : public ShowEngine {
 public:
  SingleScriptEngine(CTimeLine* timeline, int index) : timeline_(timeline), index_(index) {}
  int PeekEventKind(int tick) override { return timeline_->PeekEventKind(tick); }
  CTimeDat* PopEvent() override { return timeline_->PopEvent(); }
  void ResetTimeline() override { timeline_->ResetTimeline(); }
  int LoadNextScript() override {
    if (loaded_) return -1;
    loaded_ = true;
    return timeline_->LoadCatalogueEntry(index_);
  }
  void StartBuiltIn(const std::string&) override {}

 private:
  CTimeLine* timeline_;
  int index_;
  bool loaded_ = false;
};

void SplitPath(const std::string& file, std::string* folder, std::string* name) {
  const size_t slash = file.rfind('/');
  if (slash == std::string::npos) {
    *folder = ".";
    *name = file;
  } else {
    folder->assign(file, 0, slash == 0 ? 1 : slash);
    name->assign(file, slash + 1, std::string::npos);
  }
}

}  // namespace

HeadlessShow::HeadlessShow(MediaDevice* music)
    : silent_(music ? nullptr : std::make_unique<SilentMediaDevice>()),
      device_(music ? music : silent_.get()) {}
HeadlessShow::~HeadlessShow() {
  objects_.reset();  // the playback object reads the engine until it goes
}

std::string HeadlessShow::Open(const std::string& file, int script, const HeadlessOptions& o) {
  char* real = realpath(file.c_str(), nullptr);
  if (!real) return "cannot read " + file + ": " + std::strerror(errno);
  std::string folder;
  std::string name;
  SplitPath(real, &folder, &name);
  std::free(real);
  // Defaults, not the user's store, so a show looks the same on every machine.
  objects_ = std::make_unique<SaverObjects>(device_, [&](CMainCtl& s) {
    s.SetStorePath("/dev/null/no-store.reg");  // can never exist: Load gives the defaults
    s.Load();
    s.SetDspMode(o.mode);
    s.SetFlgLogo(false);
    s.SetFlgWarning(false);
    s.SetCurPath(folder);
    s.LoadedPath = folder;
  });
  if (!objects_->Layout(o.screenWidth, o.screenHeight)) return "cannot make the window picture";
  CTimeLine& timeline = *objects_->TimeLine;
  if (timeline.CatalogueFile(folder + "/", name) != 0) return "cannot read " + file;
  if (script < 1 || script > timeline.CatalogueCount) {
    return file + " holds " + std::to_string(timeline.CatalogueCount) + " script(s), not " +
           std::to_string(script);
  }
  engine_ = std::make_unique<SingleScriptEngine>(&timeline, script - 1);
  objects_->Engine = engine_.get();
  CPlayback& pb = objects_->Playback();
  pb.DeferFramesToTicks = o.deferToTicks;
  if (o.paceForDisplay) pb.PaceForDisplay();
  if (o.reference) objects_->SwitchShortcutsOff();
  pb.Begin(/*noLogo=*/true, /*counter=*/false);
  return "";
}

void HeadlessShow::Pass(std::int32_t now) {
  if (!Over()) Playback().Pass(now);
}

std::int32_t HeadlessShow::NextDeadline(std::int32_t now) const {
  return Playback().NextDeadline(now);
}

bool HeadlessShow::Over() const {
  return Playback().PlayState == kScriptEnded;
}

CPlayback& HeadlessShow::Playback() {
  return objects_->Playback();
}

const CPlayback& HeadlessShow::Playback() const {
  return objects_->Playback();
}

const WindowSurface& HeadlessShow::Window() const {
  return *objects_->Window;
}

int HeadlessShow::PlayTicks(const std::function<bool(int tick)>& onTick) {
  CPlayback& pb = Playback();
  bool started = false;
  int ticks = 0;
  std::int32_t now = 0;
  for (long long passes = 0; passes < kMaxPasses && !Over(); ++passes) {
    const int state = pb.PlayState;
    const int tickBefore = pb.TickNo;
    Pass(now);
    if (state == kScriptPlaying) started = true;
    if (state == kScriptPlaying && pb.TickNo == tickBefore + 1) {
      ticks = tickBefore + 1;
      if (!onTick(tickBefore)) break;
    }
    now = NextDeadline(now);
  }
  return started ? ticks : -1;
}

int HeadlessShow::EndTick() {
  const CTimeLine& t = *objects_->TimeLine;
  int end = -1;
  for (int i = 0; i < t.EventCount; ++i) {
    const CTimeDat* ev = t.Events[i].get();
    if (!ev || (ev->Kind != kTagDataEnd && ev->Kind != kTagEnd)) continue;
    if (end < 0 || ev->Tick < end) end = ev->Tick;
  }
  return end;
}

bool HeadlessShow::HasMusic() {
  if (objects_->Player->Enabled == 0) return false;
  const CTimeLine& t = *objects_->TimeLine;
  for (int i = 0; i < t.EventCount; ++i) {
    const auto* bgm = dynamic_cast<const CTimeBgm*>(t.Events[i].get());
    if (bgm && (bgm->Switch == kBgmStart || bgm->Switch == kBgmStartPreloaded)) return true;
  }
  return false;
}
