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

TEST_F(DemoCtl, LongFolderIsCutToFitTheScriptBuffer) {
  e.settings.SetScriptStatus(2);
  std::string folder = "/";
  for (int i = 0; i < 400; ++i) folder += "フォ";  // 1600 bytes of CP932
  e.settings.SetCurPath(folder);
  const std::string text = demo.BuildScript("0");
  EXPECT_LE(text.size(), static_cast<std::size_t>(kDemoScriptBytes - 1));
  EXPECT_GE(text.size(), static_cast<std::size_t>(kDemoScriptBytes - 2));  // cut whole characters
  EXPECT_EQ(text.substr(text.size() - 7), "</DATA>");
  EXPECT_EQ(Cp932ToUtf8(text).find("\xEF\xBF\xBD"), std::string::npos);  // no split character
  demo.Start("0");
  ASSERT_EQ(e.tl.EventCount, 5);
  const std::string& shown = *ImageAt(2).String;
  EXPECT_EQ(shown.size(), 128u);  // an attribute value holds 128 bytes
}

}  // namespace
