// The playback state machine of the saver: built-in items, scripts and interval movies, played
// tick by tick, composed into the frame and presented in the window. The caller owns the clock:
// it calls Pass(now) whenever NextDeadline(now) has come, or after input.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "app/BoxList.h"
#include "app/ChangedParts.h"
#include "app/DisplayGeometry.h"
#include "render/Bitmap.h"
#include "render/ImageDrawRecord.h"
#include "script/TimeEvents.h"

class CMainCtl;
class CTimeLine;
class CDemoCtl;
class CBgCtl;
class COthBmp;
class CTitle;
class CScroll;
class CCaption;
class CMPlayer;
class WindowSurface;
class IntervalList;

// The script engine as playback sees it: the timeline of the item being played, loading the
// next script and starting a built-in item.
class ShowEngine {
 public:
  virtual ~ShowEngine() = default;
  // Kind of the next event when it is due at `tick`, else 0.
  virtual int PeekEventKind(int tick) = 0;
  virtual CTimeDat* PopEvent() = 0;
  virtual void ResetTimeline() = 0;
  // 0 when a script was loaded, anything else when none could be.
  virtual int LoadNextScript() = 0;
  // Compiles the built-in script for an interval picture, or "0" for the logo.
  virtual void StartBuiltIn(const std::string& item) = 0;
  // Compiles the script that was loaded last once more, from its file as it now stands: 0 when
  // it loaded, anything else when it could not (or this engine cannot reload).
  virtual int ReloadScript() { return -1; }
  // The file of the script that was loaded last, empty when none was.
  virtual std::string_view ScriptPath() const { return {}; }
};

// The saver's own engine and built-in script maker.
class TimeLineShowEngine : public ShowEngine {
 public:
  TimeLineShowEngine(CTimeLine* timeline, CDemoCtl* demo) : timeline_(timeline), demo_(demo) {}
  int PeekEventKind(int tick) override;
  CTimeDat* PopEvent() override;
  void ResetTimeline() override;
  int LoadNextScript() override;
  void StartBuiltIn(const std::string& item) override;
  int ReloadScript() override;
  std::string_view ScriptPath() const override;

 private:
  CTimeLine* timeline_;
  CDemoCtl* demo_;
  int loadedIndex_ = -1;  // catalogue index of the script loaded last
};

enum PlayStateId : int {
  kWaiting = 0,
  kStartIntro = 1,
  kIntroPlaying = 2,
  kIntroEnded = 3,
  kLoadScript = 4,
  kScriptPlaying = 5,
  kScriptEnded = 6,
  kStartMovie = 7,
  kMoviePlaying = 9,
  kMovieEnded = 10,
};

inline constexpr std::int32_t kLevelUnchanged = 0x10000;  // 16.16 gain of 1
inline constexpr std::int32_t kLevelNone = 0xff0000;      // no level applied at all
inline constexpr int kWaitLogoMs = 2000;
inline constexpr int kWaitNoLogoMs = 500;
inline constexpr int kWaitMovieMs = 100;
inline constexpr int kFirstTickDelayMs = 1000;
inline constexpr int kPausedRedrawMs = 165;
inline constexpr int kMoviePollMs = 33;
inline constexpr int kDefaultFrameInterval = 33;
inline constexpr int kMaxFrameInterval = 1000;
// A tick pass at most this late still counts as slack: the previous tick's work ended before this
// tick was due, and the timer that woke us only rounded to the millisecond.
inline constexpr int kSlackToleranceMs = 2;
// The most scroll steps one pass makes for the passes it stands for (CatchUpSteps).
inline constexpr int kMaxStepsCaughtUp = 64;

// Everything a pass works on. Layers, player, intervals and the warning bitmap may be null: a
// null layer takes no events and draws nothing.
struct PlaybackParts {
  CMainCtl* settings = nullptr;
  ShowEngine* engine = nullptr;
  CBgCtl* background = nullptr;
  COthBmp* images = nullptr;
  CTitle* titles = nullptr;
  CScroll* scrolls = nullptr;
  CCaption* captions = nullptr;
  CMPlayer* player = nullptr;
  IntervalList* intervals = nullptr;
  WindowSurface* window = nullptr;
  StageBitmap* stage = nullptr;
  const Bitmap32* warning = nullptr;
  DisplayGeometry geometry;
};

class CPlayback {
 public:
  explicit CPlayback(const PlaybackParts& parts);

  // Chooses the first state from the settings and the No Logo box; FrameInterval := 33.
  void Begin(bool noLogo, bool counter);

  // One step of the state machine at clock value `now` (ms).
  void Pass(std::int32_t now);
  // The earliest clock value after `now` at which a pass has work (passes run at most once per
  // millisecond, so never before now + 1).
  std::int32_t NextDeadline(std::int32_t now) const;

  // Input forwarded by the window.
  // A pause counts from the last pass: the steps a waiting window would make up are not made.
  void TogglePaused() {
    Paused = Paused ? 0 : 1;
    if (Paused) lastPassPaused_ = true;
  }
  void ReturnTop();
  void SetFrameInterval(int ms);
  void SetNoLogo(bool on) { NoLogo = on; }
  void SetCounter(bool on) { Counter = on; }
  // Plays the show that is on again from its beginning, compiled afresh from its file (an author
  // has just saved it), with the play order where it stands. Clears the layers and the music as
  // the end of a show does; the show's first tick comes on the next pass. -1, and nothing
  // changed, when no show is playing or about to play.
  int RestartShow();
  // The file of the show that is playing or about to play, else empty; valid until the next
  // pass.
  std::string_view ShowPath() const;

  // Called with every event the script frame step dispatches (the renderer's event dump).
  std::function<void(int tick, const CTimeDat& event)> OnDispatch;
  // Headless rendering looks at the window only after ticks. With this set, a pass that runs no
  // tick does not compose; the next tick pass composes instead, first the frame as it stood when
  // the window might keep it (a fade may hold the window at level 0), so the window after every
  // tick is the same as without it.
  bool DeferFramesToTicks = false;
  // How long a deferred change may wait for its tick: when it has waited this long a pass
  // composes it (ticks slowed down by the speed control still leave a moving text smooth).
  // A live window sets it to a frame time; headless rendering waits for the tick whatever it is.
  std::int32_t MaxFrameHoldMs = INT32_MAX;
  // Pacing for a window on a screen: changes between ticks are shown with the next tick, or a
  // frame time after they were made when ticks come slower. A scrolling text stepping every
  // 40 ms then costs one picture per tick instead of one per step as well. While changes wait
  // so, a scroll step due between two passes needs no pass of its own: the next pass makes it
  // first, as of its own time (StepsCaughtUp), and the saver wakes once per frame instead of
  // once per step as well.
  void PaceForDisplay() {
    DeferFramesToTicks = true;
    MaxFrameHoldMs = kDefaultFrameInterval;
  }

  // The reference player: the same passes with every shortcut off. From a show's first tick on
  // every pass composes the frame (every pass of a built-in item, from its first tick), every
  // picture is drawn whole and nothing is held back for a tick. The layers draw from scratch too
  // (SaverObjects::SwitchShortcutsOff). Tests compare the window of the real player with it.
  bool Reference = false;

  // Composes the whole frame again on the next pass that composes, as if every layer and the
  // background had changed (benchmarks measure the compose of a moving show so).
  void ComposeAgain() { BackgroundStale(); }

  // Pixels of the frame times `level` (16.16), each channel saturating at 255.
  static void ApplyScreenLevel(StageBitmap& stage, std::int32_t level);

  int PlayState = kLoadScript;
  int NextState = kLoadScript;
  std::int32_t WaitUntil = 0;
  std::int32_t Now = 0;
  int TickNo = 0;
  std::int32_t NextTickTime = 0;
  int FrameInterval = kDefaultFrameInterval;
  std::int32_t ScriptStartTime = 0;
  int PassCount = 0;
  bool Busy = false;
  int Paused = 0;
  std::int32_t ScreenLevel = 0;
  std::int32_t ScreenTarget = 0;
  std::int32_t ScreenStep = 0;
  int ScreenSteps = 0;
  int SlackPasses = 0;
  bool NoLogo = false;
  bool Counter = false;
  // Frames made by moving the last one's pixels with the background (ComposeShifted), and of
  // them those the window showed by moving its frame too; counted for tests and tools.
  int ShiftedFrames = 0;
  int MovedFrames = 0;
  // Stage pixels whose background a compose over a still background drew again, and stage pixels
  // compared with the frame shown; counted for benchmarks.
  std::int64_t FilledPixels = 0;
  std::int64_t ComparedPixels = 0;

 private:
  void Step();
  void Recover(int failedState);
  bool StepsWait() const;
  void CatchUpSteps();
  void Pending(std::int32_t since);
  void Wait(int ms, int next);
  bool LogoOn() const;
  void ChooseAfterScript();
  bool ShowOn() const;
  // Empties the window, the layers and the timeline and stops the music (end of an item).
  void ClearForNextItem();

  void StepWaiting();
  void StepStartIntro();
  void StepIntroPlaying();
  void StepIntroEnded();
  void StepLoadScript();
  void StepScriptPlaying();
  void StepScriptEnded();
  void StepStartMovie();
  void StepMoviePlaying();
  void StepMovieEnded();

  void RunScriptTick();
  void Dispatch(CTimeDat& event);
  void StartFade(const CScreen& screen);
  void FadeStep();
  void ComposeIntro();
  void DrawCaptions();
  // Composes the layers into the stage, unless it already holds them as they stand now.
  void Compose();
  // Composes only the boxes of `area` of the stage, which holds the last composed frame outside
  // them (see Compose): where the layers drew last (layerBoxes_) and draw now (`boxes`).
  void ComposeArea(const BoxList& area, const BoxList& boxes);
  // Makes the frame of a background moved by whole pixels (nothing else of it changed) from the
  // frame the window shows, moved; false, with nothing done, when that is not exact or not worth
  // it.
  bool ComposeShifted(const BoxList& boxes);
  // Where the layers would draw now: boxes holding every pixel they may write.
  BoxList LayerBoxes() const;
  // The stage no longer holds what the layers would draw (a layer changed, another item began).
  void StageStale() { stageCurrent_ = false; }
  // Nor the background the last frame was composed on (its camera, fill or picture changed).
  void BackgroundStale() {
    stageCurrent_ = false;
    backgroundKept_ = false;
  }
  void ComposeHeldFrame();
  // When a change held back for its tick is composed without waiting any longer.
  std::int32_t HeldFrameDue() const;
  // Built-in items are presented whatever the screen level is.
  void Present(bool whateverLevel = false);
  void MoveShown(const RectXYWH& area, const RectXYWH& source);
  int CompareMovedShown(RectXYWH* parts, std::int64_t joinPixels);
  Point3 Camera() const;
  void SpeedWarning();
  void ClearStage();

  PlaybackParts p_;
  bool movieOpen_ = false;
  bool restarting_ = false;  // the wait ending next is a restart's: the first tick comes at once
  // The frame as a stretched window shows it (partial redraws); an unstretched window holds it
  // in its own picture.
  StageBitmap shown_;
  Point3 shownCamera_;             // the background's camera when shown_ was made
  bool framePending_ = false;      // a change not yet composed (DeferFramesToTicks)
  std::int32_t pendingSince_ = 0;  // the clock when that change was made
  std::int32_t lastPass_ = 0;      // the clock of the pass before this one
  bool lastPassPaused_ = false;    // whether the show was paused at the last script pass
  // The stage holds the layers' frame as they stand, at screen level composedLevel_; and the
  // window was last given exactly this stage (while the window keeps its frame, presenting it
  // again would draw nothing). Ticks in which nothing changed then neither compose nor compare.
  bool stageCurrent_ = false;
  std::int32_t composedLevel_ = 0;
  bool stageShown_ = false;
  // Layers moving over a still background: the stage holds the last composed frame, whose
  // background has not changed since, and the layers drew into layerBoxes_ only. A compose then
  // draws again only where the layers drew last and draw now, and the window is given only what
  // changed there: unshown_ holds every pixel where the stage may differ from the frame last
  // presented.
  bool backgroundKept_ = false;
  BoxList layerBoxes_;
  BoxList unshown_;
  // The stage holds the frame composed last, made with the background's camera and version here.
  bool frameKept_ = false;
  Point3 composedCamera_;
  int composedBgVersion_ = 0;
  // A compose that moved the stage's pixels (ComposeShifted): the window, moved as much, then
  // differs from the stage only in movedUnshown_ (unmoved, wherever unshown_ says).
  bool movePending_ = false;
  int moveDx_ = 0;
  int moveDy_ = 0;
  BoxList movedUnshown_;
  StageBitmap movedBefore_;  // the moved frame shown, made in movedUnshown_ only (scratch)
  ImageDrawRecord drawnImages_;
};
