// Tag handlers: event order and ticks, the clock, backgrounds, music, objects, fades, schedules.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "ScriptFixture.h"
#include "script/TagId.h"

namespace {

class TagHandlers : public ::testing::Test {
 protected:
  ScriptEngine e;
  CTimeLine& tl = e.tl;
};

TEST_F(TagHandlers, ObjectsBeforeSchedulesBeforeTheEndAtOneTick) {
  e.Compile(
      Script("<IMAGE FILE=\"*A\" TIME=\"1\"><SET START=\"0\" XPOS=\"5\">"
             "<IMAGE FILE=\"*B\" TIME=\"2\">"));
  ASSERT_EQ(tl.EventCount, 5);
  EXPECT_EQ(e.KindAt(0), kTagData);
  EXPECT_EQ(e.KindAt(1), kTagImage);
  EXPECT_EQ(e.At<CTimeImage>(1).BmpNo, 0);
  EXPECT_EQ(e.KindAt(2), kTagImage);
  EXPECT_EQ(e.At<CTimeImage>(2).BmpNo, 1);
  EXPECT_EQ(e.KindAt(3), kTagScheduleI);  // written before the second image, fires after it
  EXPECT_EQ(e.At<CTimeSchedule>(3).BmpNo, 0);
  EXPECT_EQ(e.KindAt(4), kTagDataEnd);
  EXPECT_EQ(e.TickAt(4), 2000 / 33);
  EXPECT_EQ(e.At<CTimeDat>(0).OrderKey, 0);
  EXPECT_EQ(e.At<CTimeDat>(3).OrderKey, (2 << 24) + 2);
}

TEST_F(TagHandlers, EndFollowsTheLongestObjectNotTheClock) {
  e.Compile(Script("<IMAGE TIME=\"10\"><CLOCK SET=\"4\"><END><CLOCK SET=\"100\">"));
  ASSERT_EQ(tl.EventCount, 4);
  EXPECT_EQ(e.KindAt(2), kTagEnd);
  EXPECT_EQ(e.TickAt(2), 121);
  EXPECT_EQ(e.KindAt(3), kTagDataEnd);
  EXPECT_EQ(e.TickAt(3), 303);
  EXPECT_EQ(tl.ScriptEndMs, 10000);
}

TEST_F(TagHandlers, ClockSetMoveAndTicks) {
  struct Case {
    const char* tags;
    int tick;
  } cases[] = {
      {"<CLOCK SET=2.5><CLOCK MOVE=1>", 106},  // 3500 ms
      {"<CLOCK MOVE=3 SET=1>", 30},            // set to the value written last
      {"<CLOCK SET=1 MOVE=3>", 90},            // both given: set, not moved
      {"<CLOCK SET=5><CLOCK>", 151},           // CLOCK without either does nothing
      {"<CLOCK SET=5><CLOCK SET>", 0},         // a missing value reads as 0
      {"<CLOCK SET=1>", 30},                   // 1000 / 33 = 30.3
      {"<CLOCK MOVE=-2>", -60},                // negative clocks give negative ticks
  };
  for (const Case& c : cases) {
    e.Compile(Script(std::string(c.tags) + "<SOLID>"));
    int solid = -1;
    for (int i = 0; i < tl.EventCount; ++i) {
      if (e.KindAt(i) == kTagSolid) solid = i;
    }
    ASSERT_GE(solid, 0) << c.tags;
    EXPECT_EQ(e.TickAt(solid), c.tick) << c.tags;
  }
}

TEST_F(TagHandlers, ScreenLevels) {
  e.Compile(
      Script("<SCREEN CONTRAST=FADEOUT TIME=2><SCREEN><SCREEN CONTRAST=1>"
             "<SCREEN CONTRAST=low><SCREEN CONTRAST=257>"));
  ASSERT_EQ(tl.EventCount, 7);
  const auto& fade = e.At<CScreen>(1);
  EXPECT_EQ(fade.FromContrast, 0x10000);
  EXPECT_EQ(fade.ToContrast, 0);
  EXPECT_EQ(fade.Time, 2000);
  const auto& plain = e.At<CScreen>(2);
  EXPECT_EQ(plain.FromContrast, kUnsetInt);
  EXPECT_EQ(plain.ToContrast, 0xFF0000);
  EXPECT_EQ(plain.Time, 1000);
  EXPECT_EQ(e.At<CScreen>(3).ToContrast, 0x10000);
  EXPECT_EQ(e.At<CScreen>(4).ToContrast, 0);
  EXPECT_EQ(e.At<CScreen>(5).ToContrast, 0x10000);  // 257 AND 255
  EXPECT_EQ(tl.ScriptEndMs, 0);                     // SCREEN does not lengthen the script
}

TEST_F(TagHandlers, BackgroundAxes) {
  e.Compile(
      Script("<BGSET XPOS=100 XMOVE=5><BGSET XPOS=100><BGSET>"
             "<BGMOVE YPOS=3 TIME=2 ACC=50><BGSCROLL ZMOVE=-1 ZPOS=7 ACC=10 DEC=20>"));
  ASSERT_EQ(tl.EventCount, 7);
  const auto& both = e.At<CTimeBgScroll>(1);
  EXPECT_EQ(both.XValue, 5);
  EXPECT_EQ(both.XMode, 2);
  EXPECT_EQ(both.YMode, 0);
  const auto& pos = e.At<CTimeBgScroll>(2);
  EXPECT_EQ(pos.XValue, 100);
  EXPECT_EQ(pos.XMode, 1);
  const auto& none = e.At<CTimeBgScroll>(3);
  EXPECT_EQ(none.XMode + none.YMode + none.ZMode, 0);
  const auto& move = e.At<CTimeBgScroll>(4);
  EXPECT_EQ(move.Kind, kTagBgMove);
  EXPECT_EQ(move.SpeedMode, 1);
  EXPECT_EQ(move.YValue, 3);
  EXPECT_EQ(move.YMode, 2);
  EXPECT_EQ(move.Time, 2000);
  EXPECT_EQ(move.Acc, 0);  // BGMOVE does not read ACC
  const auto& scroll = e.At<CTimeBgScroll>(5);
  EXPECT_EQ(scroll.ZValue, -1);
  EXPECT_EQ(scroll.ZMode, 2);
  EXPECT_EQ(scroll.Acc, 10);
  EXPECT_EQ(scroll.Dec, 20);
  EXPECT_EQ(e.TickAt(6), 60);  // the BGMOVE's 2 s lengthen the script
}

TEST_F(TagHandlers, BackgroundBlockClosesAtTheFirstForeignTag) {
  e.folder.Write("a.bmp", "x");
  e.Compile(
      Script("<CLOCK SET=1><BGMAKE BGFILE=sky.bmp BGCOLOR=#102030>"
             "<OBJECT FILE=a.bmp XPOS=10 YPOS=-3 TRANS=LEFTBTM><OBJECT XPOS=99>"
             "<OBJECT FILE=missing.bmp><IMAGE TIME=1>"));
  ASSERT_EQ(tl.EventCount, 4);
  const auto& bg = e.At<CTimeBgMake>(1);
  EXPECT_EQ(bg.Kind, kTagBgMake);
  EXPECT_EQ(bg.Tick, 30);  // the clock of the IMAGE that closed the block
  EXPECT_EQ(bg.OrderKey, (1 << 24) + 1);
  EXPECT_STREQ(bg.FileName, "*NOTFOUND");
  EXPECT_EQ(bg.BgColor, 0x00302010);
  EXPECT_STREQ(bg.ResName[0], "A.BMP");
  EXPECT_EQ(bg.ResPos[0].x, 10);
  EXPECT_EQ(bg.ResPos[0].y, -3);
  EXPECT_EQ(bg.ResPalent[0], -4);
  // The OBJECT without FILE was not accepted; the next one took its slot.
  EXPECT_STREQ(bg.ResName[1], "*NOTFOUND");
  EXPECT_EQ(bg.ResPos[1].x, 0);
  EXPECT_EQ(bg.ResName[2][0], 0);
  EXPECT_EQ(tl.InBgMake, 0);
}

TEST_F(TagHandlers, SixtyFifthObjectIsIgnored) {
  std::string body = "<BGMAKE>";
  for (int i = 0; i < 65; ++i)
    body += "<OBJECT FILE=o" + std::to_string(i) + ".bmp XPOS=" + std::to_string(i) + ">";
  e.Compile(Script(body + "</BGMAKE><OBJECT FILE=late.bmp>"));
  ASSERT_EQ(tl.EventCount, 3);
  const auto& bg = e.At<CTimeBgMake>(1);
  EXPECT_EQ(bg.ResPos[63].x, 63);
  int named = 0;
  for (const auto& n : bg.ResName) named += n[0] != 0;
  EXPECT_EQ(named, 64);
}

TEST_F(TagHandlers, FirstMusicStartIsPreloadedAndEveryTimedStartStops) {
  e.folder.Write("a.mid", "m");
  e.folder.Write("b.mp3", "m");
  e.folder.Write("c.txt", "t");
  e.Compile(
      Script("<BGM FILE=a.mid MODE=START TIME=3><BGM FILE=b.mp3 TIME=2>"
             "<BGM FILE=missing.mid><BGM FILE=c.txt><CLOCK SET=5><BGM FILE=b.mp3 MODE=stop>"
             "<BGM MODE=STOP>"));
  EXPECT_EQ(tl.MusicPreloaded, 1);
  ASSERT_EQ(tl.EventCount, 7);
  struct Want {
    int tick;
    const char* file;
    int sw;
  } want[] = {{0, "A.MID", 4}, {0, "B.MP3", 1}, {60, "", 3}, {90, "", 3}, {151, "B.MP3", 3}};
  // Sorted: DATA, the two starts, /DATA (tick 0: BGM does not lengthen the script), stops.
  EXPECT_EQ(e.KindAt(3), kTagDataEnd);
  const int at[] = {1, 2, 4, 5, 6};
  for (int i = 0; i < 5; ++i) {
    const auto& bgm = e.At<CTimeBgm>(at[i]);
    EXPECT_EQ(bgm.Tick, want[i].tick) << i;
    EXPECT_STREQ(bgm.FileName, want[i].file) << i;
    EXPECT_EQ(bgm.Switch, want[i].sw) << i;
    EXPECT_EQ(bgm.Fade, 0);
  }
}

TEST_F(TagHandlers, UnknownMusicModeIsAnErrorOnlyWithSoundOn) {
  e.folder.Write("a.mid", "m");
  e.Compile(Script("<BGM FILE=a.mid MODE=PAUSE>"));
  EXPECT_EQ(tl.EventCount, 2);
  EXPECT_STREQ(tl.LastError.Message, "<BGM MODE> 指定されたオプション PAUSE は無効です");
  EXPECT_EQ(tl.MusicPreloaded, 0);

  e.settings.SetFlgSound(false);
  e.Compile(Script("<BGM FILE=a.mid MODE=PAUSE><BGM FILE=a.mid>"));
  EXPECT_EQ(tl.EventCount, 2);
  EXPECT_STREQ(tl.LastError.Message, "");
}

TEST_F(TagHandlers, ImageAttributesAndDefaults) {
  e.folder.Write("pic.bmp", "x");
  e.Compile(
      Script("<IMAGE><IMAGE FILE=pic.bmp STRING=\"Hi there\" XPOS=1.5 YPOS=-2 ZPOS=30 "
             "BGXPOS=4 REVERSE=VERTICAL ANGLE=90 SIZE=50 OPERATION=PAINT>"
             "<IMAGE FILE=gone.bmp QUALITY=HIGH REVERSE=SIDEWAYS CONTRAST=300>"));
  const auto& d = e.At<CTimeImage>(1);
  EXPECT_EQ(d.FileName[0], 0);
  EXPECT_FALSE(d.String);
  EXPECT_EQ(d.Point.z, 270);
  EXPECT_EQ(d.Trans, -1);
  EXPECT_EQ(d.Contrast, 0xFF0000);
  EXPECT_EQ(d.Quality, 3);
  EXPECT_EQ(d.Operation, 1);
  EXPECT_EQ(d.Size, 1.0);
  const auto& a = e.At<CTimeImage>(2);
  EXPECT_STREQ(a.FileName, "PIC.BMP");
  ASSERT_TRUE(a.String);
  EXPECT_EQ(*a.String, "Hi there");
  EXPECT_EQ(a.Point.x, 1.5);
  EXPECT_EQ(a.Point.y, -2);
  EXPECT_EQ(a.Point.z, 300);
  EXPECT_EQ(a.BgPos.x, 4);
  EXPECT_EQ(a.Reverse, 2);
  EXPECT_NEAR(a.Angle, 1.5707963267948966, 1e-15);
  EXPECT_EQ(a.Size, 0.5);
  EXPECT_EQ(a.Operation, 2);
  const auto& b = e.At<CTimeImage>(3);
  EXPECT_EQ(b.FileName[0], 0);  // a missing picture empties the name
  EXPECT_EQ(b.Quality, 4);
  EXPECT_EQ(b.Reverse, 0);
  EXPECT_EQ(b.Contrast, 44 * 65536);  // 300 AND 255
  EXPECT_EQ(b.BmpNo, 2);
}

TEST_F(TagHandlers, FadeSchedulesAndTheirMinimumTimes) {
  e.Compile(Script("<IMAGE FILE=\"*A\" TIME=3 CONTRAST=FADEINOUT>"));
  ASSERT_EQ(tl.EventCount, 5);
  EXPECT_EQ(e.At<CTimeImage>(1).Contrast, 0);
  const auto& in = e.At<CTimeSchedule>(2);
  EXPECT_EQ(in.Kind, kTagScheduleI);
  EXPECT_EQ(in.Tick, 0);
  EXPECT_EQ(in.Mode, kModeSet);
  EXPECT_EQ(in.Contrast, 0xFF0000);
  EXPECT_EQ(in.Time, 500);
  const auto& out = e.At<CTimeSchedule>(3);
  EXPECT_EQ(out.Tick, 74);  // (3000 - 500) / 33 - 1
  EXPECT_EQ(out.Contrast, 0);
  EXPECT_EQ(e.TickAt(4), 90);

  struct Case {
    const char* tag;
    int schedules;
    int contrast;
  } cases[] = {
      {"<IMAGE TIME=0.9 CONTRAST=FADEINOUT>", 0, 0},
      {"<IMAGE TIME=1 CONTRAST=FADEINOUT>", 2, 0},
      {"<IMAGE TIME=0.49 CONTRAST=FADEIN>", 0, 0},
      {"<IMAGE TIME=0.5 CONTRAST=FADEIN>", 1, 0},
      {"<IMAGE TIME=0.4 CONTRAST=FADEOUT>", 0, 0xFF0000},
      {"<TITLE TIME=0.1 CONTRAST=FADEOUT>", 1, 0xFF0000},  // titles have no minimum
      {"<IMAGE TIME=2 CONTRAST=HIGH>", 0, 0xFF0000},
  };
  for (const Case& c : cases) {
    e.Compile(Script(c.tag));
    int schedules = 0;
    for (int i = 0; i < tl.EventCount; ++i)
      schedules += e.KindAt(i) >= kTagScheduleS && e.KindAt(i) <= kTagScheduleI;
    EXPECT_EQ(schedules, c.schedules) << c.tag;
    int contrast = -1;
    for (int i = 0; i < tl.EventCount; ++i) {
      if (e.KindAt(i) == kTagImage) contrast = e.At<CTimeImage>(i).Contrast;
      if (e.KindAt(i) == kTagTitle) contrast = e.At<CTimeTitle>(i).Contrast;
    }
    EXPECT_EQ(contrast, c.contrast) << c.tag;
  }
  // The title's fade-out lands before its start: (100 - 500) / 33 - 1.
  e.Compile(Script("<TITLE TIME=0.1 CONTRAST=FADEOUT>"));
  EXPECT_EQ(e.KindAt(0), kTagScheduleT);
  EXPECT_EQ(e.TickAt(0), -13);
}

TEST_F(TagHandlers, SetAndMoveInsideImagesAndTitles) {
  e.Compile(
      Script("<SET XPOS=1><CLOCK SET=1><IMAGE TIME=5><IMAGE TIME=5>"
             "<SET START=-2 XPOS=10 ZPOS=30 CONTRAST=\"high\" SPEED=2.5 ACC=3>"
             "<MOVE ZMOVE=30 ROTATE=180 CONTRAST=high COLOR=BLUE START=1>"
             "</IMAGE><SET XPOS=2>"
             "<TITLE TIME=2><MOVE SIZE=200 CONTRAST=LOW><SOLID><MOVE XPOS=3>"));
  int schedules[8];
  int n = 0;
  for (int i = 0; i < tl.EventCount; ++i) {
    if (e.KindAt(i) >= kTagScheduleS && e.KindAt(i) <= kTagScheduleI) schedules[n++] = i;
  }
  ASSERT_EQ(n, 3);  // the SETs outside a block and after SOLID are ignored
  // Sorted by tick: the image's SET (30), the title's MOVE (30, written later), the MOVE (60).
  const auto& set = e.At<CTimeSchedule>(schedules[0]);
  EXPECT_EQ(set.Kind, kTagScheduleI);
  EXPECT_EQ(set.BmpNo, 1);
  EXPECT_EQ(set.Tick, 30);  // START below 0 counts as 0
  EXPECT_EQ(set.Point.x, 10);
  EXPECT_EQ(set.Point.y, kUnsetReal);
  EXPECT_EQ(set.Point.z, 300);
  EXPECT_EQ(set.Contrast, 0);  // quoted "high" is not the keyword
  EXPECT_EQ(set.Speed, 2.5);
  EXPECT_EQ(set.Acc, 3);
  EXPECT_EQ(set.Color, kUnsetInt);
  const auto& move = e.At<CTimeSchedule>(schedules[2]);
  EXPECT_EQ(move.Mode, kModeMove);
  EXPECT_EQ(move.Tick, 60);
  EXPECT_EQ(move.Point.z, 30);
  EXPECT_NEAR(move.Angle, 3.141592653589793, 1e-15);
  EXPECT_EQ(move.Contrast, 0xFF0000);
  EXPECT_EQ(move.Color, 0x00FF0000);
  const auto& title = e.At<CTimeSchedule>(schedules[1]);
  EXPECT_EQ(title.Kind, kTagScheduleT);
  EXPECT_EQ(title.BmpNo, -1);  // the title had no picture
  EXPECT_EQ(title.Size, 2.0);
  EXPECT_EQ(title.Contrast, 0);
}

TEST_F(TagHandlers, TitleWhoseBitmapCannotBeRegisteredIsDropped) {
  // The title store holds 64 pictures; the 65th title cannot register its bitmap.
  std::string body;
  for (int i = 0; i < 65; ++i) body += "<TITLE FILE=none.bmp TIME=1>";
  e.Compile(Script(body));
  EXPECT_EQ(tl.EventCount, 66);
  EXPECT_STREQ(tl.LastError.Message, "<TITLE FILE> 指定された Bitmap ファイルが異常です");
  const auto& first = e.At<CTimeTitle>(1);
  EXPECT_EQ(first.BmpNo, 0);
  EXPECT_EQ(first.FileName[0], 0);  // the placeholder was used and the name emptied
}

TEST_F(TagHandlers, SolidClearAndDataHeader) {
  e.Compile("<DATA TITLE=\"" + std::string(40, 'x') +
            "\" VERSION=\"1.10\"><SOLID COLOR=RED>"
            "<CLOCK SET=5><CLEAR><DATA TITLE=second></DATA>");
  ASSERT_EQ(tl.EventCount, 5);
  const auto& d = e.At<CTimeData>(0);
  EXPECT_EQ(std::string(d.Title), std::string(30, 'x'));
  EXPECT_EQ(d.Version, 110);
  EXPECT_EQ(e.KindAt(1), kTagData);  // a second DATA is one more harmless event
  EXPECT_EQ(e.At<CTimeSolid>(2).Color, 0xFF);
  EXPECT_EQ(e.KindAt(3), kTagDataEnd);  // SOLID and CLEAR do not lengthen the script
  EXPECT_EQ(e.KindAt(4), kTagClear);
  EXPECT_EQ(e.TickAt(4), 151);
}

TEST_F(TagHandlers, TimelineRefusesEventsBeyondItsLimitButKeepsTheEnd) {
  std::string body;
  for (int i = 0; i < 3000; ++i) body += "<IMAGE TIME=1>";
  e.Compile(Script(body));
  EXPECT_EQ(tl.EventCount, kMaxEvents);
  EXPECT_TRUE(tl.EventsRefused);
  EXPECT_NE(std::string(tl.LastError.Message).find("2048"), std::string::npos);
  EXPECT_EQ(e.KindAt(kMaxEvents - 1), kTagDataEnd);
  EXPECT_EQ(e.TickAt(kMaxEvents - 1), 30);
  tl.ResetTimeline();
  EXPECT_EQ(tl.EventCount, 0);
  EXPECT_FALSE(tl.EventsRefused);
  for (const auto& ev : tl.Events) EXPECT_EQ(ev, nullptr);
}

TEST_F(TagHandlers, PeekAndPopFollowTheTicks) {
  e.Compile(Script("<IMAGE TIME=1><CLOCK SET=1><SOLID>"));
  EXPECT_EQ(tl.PeekEventKind(0), kTagData);
  EXPECT_EQ(tl.PopEvent()->Kind, kTagData);
  EXPECT_EQ(tl.PopEvent()->Kind, kTagImage);
  EXPECT_EQ(tl.PeekEventKind(29), 0);
  EXPECT_EQ(tl.PeekEventKind(30), kTagSolid);
  tl.PopEvent();
  EXPECT_EQ(tl.PeekEventKind(30), kTagDataEnd);
  tl.PopEvent();
  EXPECT_EQ(tl.PeekEventKind(1000), 0);
  EXPECT_EQ(tl.PopEvent(), nullptr);
}

// Every event the handlers make is the record its kind carries, so playback and the log read it.
TEST_F(TagHandlers, EveryEventCarriesTheRecordOfItsKind) {
  ASSERT_EQ(e.LoadFile(Script(
                "<BGMAKE BGFILE=\"*A\"><OBJECT FILE=\"*B\"></BGMAKE><BGSCROLL XPOS=1><BGSET YPOS=1>"
                "<BGMOVE ZPOS=1><SCREEN CONTRAST=FADEIN><IMAGE FILE=\"*A\" TIME=2 CONTRAST=FADEIN>"
                "<SET XPOS=1></IMAGE><SOLID COLOR=RED><CLEAR><SCRTEXT TIME=2>x<SET START=1>"
                "</SCRTEXT><CAPTION TIME=1>a<P></CAPTION><END>")),
            0);
  std::set<int> kinds;
  for (int i = 0; i < tl.EventCount; ++i) {
    kinds.insert(e.KindAt(i));
    EXPECT_TRUE(VisitEvent(*tl.Events[i], [](const auto&) {})) << "kind " << e.KindAt(i);
  }
  EXPECT_EQ(kinds.size(), 15u);  // all but BGM and SCHEDULE_T
}

}  // namespace
