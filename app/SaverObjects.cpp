// Creation and destruction of the playing saver's objects.
#include "app/SaverObjects.h"

#include <cstdlib>

#include "app/CCaption.h"
#include "app/CMPlayer.h"
#include "app/IntervalList.h"
#include "app/WindowSurface.h"
#include "render/CBgCtl.h"
#include "render/COthBmp.h"
#include "render/CScroll.h"
#include "render/CTitle.h"
#include "render/Picture.h"
#include "render/PixelOps.h"
#include "script/CDemoCtl.h"
#include "script/CTimeLine.h"
#include "settings/CMainCtl.h"

Bitmap32 MakeWarningBitmap(bool warningOn) {
  Bitmap32 bmp;
  if (!warningOn) {
    bmp.Create(1, 1, 0);
    return bmp;
  }
  Picture pic;
  if (LoadBuiltinPicture("LOWPOWER", &pic) == 0 && !pic.rgb.Empty()) return pic.rgb;
  // Without the badge's artwork: a red box with a white edge of the same size.
  bmp.Create(kWarningWidth, kWarningHeight, 0xFFFFFF);
  FillRect(bmp, 1, 1, kWarningWidth - 2, kWarningHeight - 2, 0xFF0000);
  return bmp;
}

SaverObjects::SaverObjects(MediaDevice* device, const std::function<void(CMainCtl&)>& loadSettings,
                           WindowSurface* window) {
  Stage = std::make_unique<StageBitmap>();
  Stage->Create(kStageWidth, kStageHeight, 0);
  if (window) {
    Window = window;
  } else {
    ownWindow_ = std::make_unique<WindowSurface>();
    Window = ownWindow_.get();
  }
  Settings = std::make_unique<CMainCtl>();
  if (loadSettings) loadSettings(*Settings);
  BackgroundLayer = std::make_unique<CBgCtl>(Settings.get());
  TitleLayer = std::make_unique<CTitle>(Settings.get());
  TextLayer = std::make_unique<CScroll>(Settings.get());
  ImageLayer = std::make_unique<COthBmp>(Settings.get(), BackgroundLayer.get());
  Player = std::make_unique<CMPlayer>(Settings.get(), device);
  Caption = std::make_unique<CCaption>(Settings.get());
  TimeLine = std::make_unique<CTimeLine>(Settings.get(), BackgroundLayer.get(), Player.get(),
                                         ImageLayer.get(), TextLayer.get(), TitleLayer.get(),
                                         Caption.get());
  DemoCtl = std::make_unique<CDemoCtl>(Settings.get(), TimeLine.get());
  engine_ = std::make_unique<TimeLineShowEngine>(TimeLine.get(), DemoCtl.get());
  Engine = engine_.get();
  WarningBitmap = std::make_unique<Bitmap32>(MakeWarningBitmap(Settings->GetFlgWarning()));
  Intervals = std::make_unique<IntervalList>();
}

SaverObjects::~SaverObjects() {
  // Whatever holds links to the others goes first: the playback object, then the script engine
  // and its maker of built-in scripts, then the layers, the player, the captions, the settings.
  playback_.reset();
  engine_.reset();
  DemoCtl.reset();
  TimeLine.reset();
  BackgroundLayer.reset();
  TitleLayer.reset();
  TextLayer.reset();
  ImageLayer.reset();
  Player.reset();
  Caption.reset();
  Settings.reset();
  WarningBitmap.reset();
  Stage.reset();
  Intervals.reset();
}

bool SaverObjects::Layout(int screenWidth, int screenHeight) {
  const int mode = Settings->GetDspMode();
  int w = 0;
  int h = 0;
  WindowSizeFor(mode, screenWidth, screenHeight, &w, &h);
  if (!Window->Resize(w, h)) return false;
  Geometry = ComputeDisplayGeometry(mode, screenWidth, screenHeight, w, h, WarningBitmap->width,
                                    WarningBitmap->height);
  Caption->SetScreenSize(screenWidth, screenHeight);
  Caption->PlaceCaptions(Geometry.CaptionScale, Geometry.CaptionX, Geometry.CaptionY);
  return true;
}

void SaverObjects::PrepareShows(unsigned seed, bool intervals) {
  std::srand(seed);
  if (intervals) {
    Intervals->Build(Settings->GetCurPath());
    Intervals->Shuffle([] { return std::rand(); });
    Intervals->Rewind();
  }
  if (TimeLine->ScanFolder(Settings->GetCurPath() + "/") == 0) {
    Settings->SetScriptStatus(2);
  } else {
    TimeLine->BuildPlayOrder();
  }
}

PlaybackParts SaverObjects::Parts() {
  PlaybackParts p;
  p.settings = Settings.get();
  p.engine = Engine;
  p.background = BackgroundLayer.get();
  p.images = ImageLayer.get();
  p.titles = TitleLayer.get();
  p.scrolls = TextLayer.get();
  p.captions = Caption.get();
  p.player = Player.get();
  p.intervals = Intervals.get();
  p.window = Window;
  p.stage = Stage.get();
  p.warning = WarningBitmap.get();
  p.geometry = Geometry;
  return p;
}

void SaverObjects::SwitchShortcutsOff() {
  CPlayback& pb = Playback();
  pb.Reference = true;
  pb.DeferFramesToTicks = false;
  BackgroundLayer->FromScratch = true;
  ImageLayer->FromScratch = true;
  TitleLayer->FromScratch = true;
  TextLayer->FromScratch = true;
}

CPlayback& SaverObjects::Playback() {
  if (!playback_) playback_ = std::make_unique<CPlayback>(Parts());
  return *playback_;
}
