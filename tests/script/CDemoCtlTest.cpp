// Built-in scripts: logo alternation, the compiled picture script and the notice.
#include <gtest/gtest.h>

#include "ScriptFixture.h"
#include "script/CDemoCtl.h"
#include "script/TagId.h"

namespace {

class DemoCtl : public ::testing::Test {
 protected:
  ScriptEngine e;
  CDemoCtl demo{&e.settings, &e.tl};

  const CTimeImage& ImageAt(int i) { return e.At<CTimeImage>(i); }
};

TEST_F(DemoCtl, LogoPicturesAlternate) {
  const char* want[] = {"*ZQSTR", "*ZQLOGO", "*ZQSTR", "*ZQLOGO"};
  for (const char* name : want) {
    e.tl.ResetTimeline();
    demo.Start("0");
    ASSERT_EQ(e.KindAt(1), kTagImage);
    EXPECT_STREQ(ImageAt(1).FileName, name);
  }
  EXPECT_EQ(demo.LogoTurn, 2);
}

TEST_F(DemoCtl, PictureScriptCompilesToItsSchedule) {
  e.folder.Write("pic.jpg", "x");
  demo.LogoTurn = 1;
  const std::string text = demo.BuildScript("pic.jpg");
  EXPECT_EQ(text,
            "<DATA><CLOCK SET=\"1\"><IMAGE FILE=\"pic.jpg\" CONTRAST=\"0\" TIME=\"6.1\">"
            "<SET START=\"0\" TIME=\"2\" CONTRAST=\"255\"><SET START=\"4\" TIME=\"2\" "
            "CONTRAST=\"0\"></IMAGE></DATA>");
  EXPECT_EQ(demo.LogoTurn, 1);  // an interval picture does not advance the logo

  demo.Start("pic.jpg");
  ASSERT_EQ(e.tl.EventCount, 5);
  EXPECT_EQ(e.KindAt(0), kTagData);
  const CTimeImage& image = ImageAt(1);
  EXPECT_EQ(image.Tick, 30);
  EXPECT_STREQ(image.FileName, "pic.jpg");
  EXPECT_EQ(image.Contrast, 0);
  EXPECT_EQ(image.Time, 6100);
  const auto& in = e.At<CTimeSchedule>(2);
  EXPECT_EQ(in.Kind, kTagScheduleI);
  EXPECT_EQ(in.Tick, 30);
  EXPECT_EQ(in.Contrast, 0xFF0000);
  EXPECT_EQ(in.Time, 2000);
  const auto& out = e.At<CTimeSchedule>(3);
  EXPECT_EQ(out.Tick, 151);
  EXPECT_EQ(out.Contrast, 0);
  EXPECT_EQ(out.Time, 2000);
  EXPECT_EQ(e.KindAt(4), kTagDataEnd);
  EXPECT_EQ(e.TickAt(4), 215);
}

TEST_F(DemoCtl, MissingIntervalPictureStillLasts) {
  demo.Start("gone.bmp");
  EXPECT_EQ(ImageAt(1).FileName[0], 0);
  EXPECT_EQ(e.TickAt(e.tl.EventCount - 1), 215);
}

TEST_F(DemoCtl, NoticeShowsTheFolder) {
  e.settings.SetScriptStatus(2);
  e.settings.SetCurPath("/data/ショー");
  demo.Start("0");
  EXPECT_EQ(demo.LogoTurn, 0);
  ASSERT_EQ(e.tl.EventCount, 5);
  EXPECT_EQ(*ImageAt(1).String, Utf8ToCp932("指定されたデータフォルダ"));
  EXPECT_EQ(ImageAt(1).Point.y, -20);
  EXPECT_EQ(*ImageAt(2).String, Utf8ToCp932("/data/ショー"));
  EXPECT_EQ(*ImageAt(3).String, Utf8ToCp932("配下に、有効なスクリプトが見つかりません。"));
  EXPECT_EQ(ImageAt(3).Point.y, 20);
  for (int i = 1; i <= 3; ++i) {
    EXPECT_EQ(ImageAt(i).Tick, 0);  // <TIME ...> is no tag: all three appear at once
    EXPECT_EQ(ImageAt(i).Time, 100000);
    EXPECT_EQ(ImageAt(i).Contrast, 0xFF0000);  // FADE is no attribute of IMAGE
  }
  EXPECT_EQ(e.TickAt(4), 3030);
}

// The folder goes into a quoted value of the notice: however long it is, and whatever it holds,
// the line keeps its own attributes and gets no others.
TEST_F(DemoCtl, NoticeFolderIsCutAndQuotedSoTheLineKeepsItsTime) {
  e.settings.SetScriptStatus(2);
  for (int length : {100, 127, 128, 200, 221, 600}) {
    std::string folder = "/";
    while (folder.size() < static_cast<std::size_t>(length)) folder += "フォ";  // 2 bytes in CP932
    e.settings.SetCurPath(folder);
    e.tl.ResetTimeline();
    demo.Start("0");
    ASSERT_EQ(e.tl.EventCount, 5) << length;
    const std::string& shown = *ImageAt(2).String;
    EXPECT_LE(shown.size(), 127u) << length;
    EXPECT_EQ(Utf8ToCp932(folder).rfind(shown, 0), 0u) << length;  // a prefix, whole characters
    EXPECT_EQ(ImageAt(2).Time, 100000) << length;
    EXPECT_EQ(e.TickAt(4), 3030) << length;
  }
  e.settings.SetCurPath("/data/\"><IMAGE STRING=\"x\" YPOS=\"80");
  e.tl.ResetTimeline();
  demo.Start("0");
  ASSERT_EQ(e.tl.EventCount, 5);
  EXPECT_EQ(*ImageAt(2).String, "/data/???IMAGE STRING=?x? YPOS=?80");
  EXPECT_EQ(ImageAt(2).Point.y, 0);
  EXPECT_EQ(ImageAt(2).Time, 100000);
}

// A picture name that would end the FILE value early is refused: the item shows nothing (as a
// missing picture does) instead of a picture turned, enlarged or otherwise changed by the name.
TEST_F(DemoCtl, PictureNamesThatCannotBeQuotedShowNothing) {
  e.folder.Write("x.bmp", "x");
  const std::string hostile = "x.bmp\" ANGLE=\"45\" SIZE=\"300\" Q=\".bmp";
  EXPECT_FALSE(CDemoCtl::CanNamePicture(hostile));
  EXPECT_FALSE(CDemoCtl::CanNamePicture("a<b.bmp"));
  EXPECT_FALSE(CDemoCtl::CanNamePicture("a>b.bmp"));
  EXPECT_FALSE(CDemoCtl::CanNamePicture("a\nb.bmp"));
  EXPECT_FALSE(CDemoCtl::CanNamePicture("Interval/" + std::string(115, 'p') + ".bmp"));
  EXPECT_TRUE(CDemoCtl::CanNamePicture("Interval/" + std::string(114, 'p') + ".bmp"));
  EXPECT_TRUE(CDemoCtl::CanNamePicture("Interval/写真 'one' & two.jpg"));
  demo.Start(hostile);
  ASSERT_EQ(e.tl.EventCount, 5);
  EXPECT_EQ(ImageAt(1).FileName[0], 0);
  EXPECT_EQ(ImageAt(1).Angle, 0);
  EXPECT_EQ(ImageAt(1).Size, 1.0);
  EXPECT_EQ(ImageAt(1).Time, 6100);
  EXPECT_EQ(e.TickAt(4), 215);
}

}  // namespace
