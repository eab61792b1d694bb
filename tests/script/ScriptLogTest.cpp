// The script log: line heads, bodies per kind, where it stops, and the file it writes.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "ScriptFixture.h"
#include "script/TagId.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

class ScriptLog : public ::testing::Test {
 protected:
  ScriptEngine e;

  std::string Log(const std::string& script, int* result = nullptr) {
    e.Compile(script);
    int r = 0;
    std::string text = e.tl.ScriptLogText(&r);
    if (result) *result = r;
    return text;
  }
};

TEST_F(ScriptLog, HeadsAndTheEnd) {
  int result = 1;
  const std::string log = Log(Script("<CLOCK SET=1><IMAGE TIME=0>"), &result);
  EXPECT_EQ(result, 0);
  EXPECT_EQ(log,
            "\r\n000.0 (00000)  DATA       TiTle:[t]  Version:[100]  BgColor:[0]  "
            "\r\n000.9 (00030)  IMAGE      FileName:[]  String:[(null)]  BmpNo:[0]  "
            "Point.x:0.00]  Point.y:0.00]  Point.z:270.00]  BgPos:[x:0 y:0]  Trans:[ffffffff]  "
            "Contrast:[16711680]  Reverse:[0]  Angle:[0.00]  Quality:[3]  Time:[0]  "
            "\r\n000.9 (00030)  END OF DATA ============= \r\n");
  e.Compile(Script("<CLOCK SET=1.089><SOLID COLOR=#0000FF><CLOCK SET=10>"));
  // A SOLID at tick 33 after the end: the log stops at the end event.
  EXPECT_EQ(e.tl.ScriptLogText(nullptr),
            "\r\n000.0 (00000)  DATA       TiTle:[t]  Version:[100]  BgColor:[0]  "
            "\r\n000.0 (00000)  END OF DATA ============= \r\n");
  std::swap(e.tl.Events[1], e.tl.Events[2]);
  EXPECT_NE(e.tl.ScriptLogText(nullptr).find("\r\n001.0 (00033)  SOLID      Color:[ff0000]  "),
            std::string::npos);
}

TEST_F(ScriptLog, BackgroundTakesOneLinePerObject) {
  e.folder.Write("a.bmp", "x");
  const std::string log =
      Log(Script("<BGMAKE BGCOLOR=WHITE BGFILE=a.bmp><OBJECT FILE=a.bmp XPOS=3 YPOS=4>"
                 "<OBJECT FILE=b.bmp TRANS=#010203></BGMAKE><BGSET XPOS=1.9 TIME=1>"
                 "<BGSCROLL XMOVE=-2.7 ZPOS=5 TIME=2 ACC=10 DEC=20><BGMOVE XPOS=1><SCREEN>"));
  EXPECT_NE(log.find("\r\n000.0 (00000)  BGMAKE     BgColor:[ffffff]  FileName:[A.BMP]\r\n"
                     "           ResName[0]:[A.BMP]  ResPos[0]:[x:3 y:4]  ResPalent[0]:[-1]\r\n"
                     "           ResName[1]:[*NOTFOUND]  ResPos[1]:[x:0 y:0]  "
                     "ResPalent[1]:[197121]\r\n"
                     "\r\n000.0 (00000)  ILLEGAL TAG! =============="
                     "\r\n000.0 (00000)  BGSCROLL   XValue:[-2]  XMode:[2]  YValue:[0]  "
                     "YMode:[0]  ZValue:[5]  ZMode:[1]  Time:[2000]  Acc:[10]  Dec:[20]  "
                     "\r\n000.0 (00000)  ILLEGAL TAG! =============="
                     "\r\n000.0 (00000)  ILLEGAL TAG! =============="
                     "\r\n001.8 (00060)  END OF DATA"),
            std::string::npos)
      << log;
}

TEST_F(ScriptLog, ObjectBodies) {
  e.folder.Write("m.wav", "x");
  const std::string log =
      Log(Script("<BGM FILE=m.wav><TITLE POS=-1.234 SPEED=2 COLOR=RED TIME=1>"
                 "<SET ZPOS=-270 ANGLE=45 COLOR=LIME SPEED=-3.9 TIME=2 CONTRAST=HIGH>"
                 "<IMAGE STRING=\"a%sb\" TRANS=LEFTTOP REVERSE=HORIZON BGXPOS=-1.5 ANGLE=-90>"
                 "<MOVE XMOVE=1><CAPTION TIME=2>c</CAPTION><CLEAR><END>"));
  const char* want[] = {
      "  BGM        FileName:[M.WAV]  Switch:[4]  Fade:[0]  ",
      "  TITLE     Switch:[1]  FileName:[]  BmpNo:[-1]  ZPos:[-1.23]  ZPosPlus:[2.00]  "
      "Color:[ff]  Contrast:[16711680]  Time:[1000]  ",
      "  SCHEDULE_T BmpNo:[-1]  Mode:[SET]  Point.z:0.00]  Angle:[0.79]  Contrast:[16711680]  "
      "Color:[ff00]  Speed:[-3]  Time:[2000]  ",
      "  IMAGE      FileName:[]  String:[a%sb]  BmpNo:[0]  Point.x:0.00]  Point.y:0.00]  "
      "Point.z:270.00]  BgPos:[x:-1 y:0]  Trans:[fffffffe]  Contrast:[16711680]  Reverse:[1]  "
      "Angle:[-1.57]  Quality:[3]  Time:[0]  ",
      "  SCHEDULE_I BmpNo:[0]  Mode:[MOVE]  Point.x:1.00]  Color:[80000000]  "
      "Speed:[-2147483648]  Time:[0]  ",
      "  CLEAR      ",
      "  END\r\n",
  };
  for (const char* w : want) EXPECT_NE(log.find(w), std::string::npos) << w << "\n" << log;
}

TEST_F(ScriptLog, NoEndEventGivesMinusOne) {
  int result = 0;
  const std::string log = Log("<DATA TITLE=x VERSION=1><SOLID>", &result);
  EXPECT_EQ(result, -1);
  EXPECT_EQ(log.substr(0, 2), "\r\n");
}

TEST_F(ScriptLog, WritesScriptLogIntoCurPath) {
  e.Compile(Script("<CLEAR>"));
  e.settings.SetCurPath(e.folder.path());
  EXPECT_EQ(e.tl.WriteScriptLog(), 0);
  EXPECT_EQ(ReadFile(e.folder.path() + "/Script.log"), e.tl.ScriptLogText(nullptr));
  e.settings.SetCurPath(e.folder.path() + "/no/such/folder");
  EXPECT_EQ(e.tl.WriteScriptLog(), -1);
}

// A data folder may come from anyone: a Script.log that is a link must not let the log button
// overwrite the file it points at, and an existing log is replaced whole, keeping its mode.
TEST_F(ScriptLog, NeverWritesThroughALinkAndReplacesTheOldLogWhole) {
  e.Compile(Script("<CLEAR>"));
  const std::string precious = e.folder.Write("elsewhere/precious", "keep");
  const std::string log = e.folder.path() + "/Script.log";
  e.settings.SetCurPath(e.folder.path());
  ASSERT_EQ(::symlink(precious.c_str(), log.c_str()), 0);
  EXPECT_EQ(e.tl.WriteScriptLog(), -1);
  EXPECT_EQ(ReadFile(precious), "keep");
  struct stat st;
  ASSERT_EQ(::lstat(log.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));

  ASSERT_EQ(::unlink(log.c_str()), 0);
  e.folder.Write("Script.log", "an older log");
  ASSERT_EQ(::chmod(log.c_str(), 0600), 0);
  EXPECT_EQ(e.tl.WriteScriptLog(), 0);
  EXPECT_EQ(ReadFile(log), e.tl.ScriptLogText(nullptr));
  ASSERT_EQ(::stat(log.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  for (const auto& entry : std::filesystem::directory_iterator(e.folder.path())) {
    EXPECT_EQ(entry.path().filename().string().rfind("Script.log.", 0), std::string::npos);
  }
}

}  // namespace
