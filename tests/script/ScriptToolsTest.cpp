// The --check and --list tools.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "ScriptFixture.h"
#include "app/AuthorTools.h"
#include "app/CommandLine.h"
#include "app/ScriptTools.h"
#include "script/ScriptReader.h"

namespace {

const std::string kNoStore = "/dev/null/no-store.reg";

struct Output {
  int code = 0;
  std::string out;
  std::string err;
};

std::string ReadBack(std::FILE* f) {
  std::string s;
  std::rewind(f);
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  std::fclose(f);
  return s;
}

// Runs the command line `args` as the program does, with no settings store.
Output RunTool(const std::vector<std::string>& args) {
  ToolContext c;
  c.out = std::tmpfile();
  c.err = std::tmpfile();
  c.storePath = kNoStore;
  Output r;
  r.code = RunAuthorTool(ParseCommandLine(args), c);
  r.out = ReadBack(c.out);
  r.err = ReadBack(c.err);
  return r;
}

TEST(CheckTool, ReportsEveryProblemWithItsPlace) {
  TempFolder dir;
  dir.Write("pic.bmp", "x");
  const std::string file = dir.Write("script_c.txt",
                                     "<DATA TITLE=c VERSION=1>\r\n"
                                     "<IMAGE FILE=pic.bmp WIBBLE=1 REVERSE=UPSIDE>\r\n"
                                     "  <NOSUCH>\r\n"
                                     "<BGM FILE=none.mid MODE=LOUD>\r\n"
                                     "<SCRTEXT><READFONT NAME=X FILE=nofont.bmp>text</SCRTEXT>\r\n"
                                     "<IMAGE FILE=gone.jpg>\r\n"
                                     "</DATA>\r\n"
                                     "<DATA TITLE=new VERSION=2></DATA>\r\n");
  const Output r = RunTool({"--check", file});
  EXPECT_EQ(r.code, 1);
  const char* want[] = {
      ":2:1: warning: <IMAGE> attribute WIBBLE is not known and is ignored\n",
      ":2:1: warning: <IMAGE REVERSE> \"UPSIDE\" is not HORIZON or VERTICAL and is ignored\n",
      ":3:3: error: 何らかの文法上の誤りがあります。 (unknown tag name \"NOSUCH\")\n",
      ":4:1: warning: <BGM FILE> sound file \"NONE.MID\" does not exist\n",
      ":4:1: error: <BGM MODE> 指定されたオプション LOUD は無効です\n",
      ":5:10: warning: <READFONT FILE> font picture \"NOFONT.BMP\" does not exist\n",
      ":6:1: warning: <IMAGE FILE> file \"GONE.JPG\" does not exist\n",
      ":8:1: warning: <DATA> needs a TITLE and a VERSION of at most 1.10; this script is not "
      "played\n",
      "2 error(s), 6 warning(s) in 1 script(s) of 1 file(s)\n",
  };
  for (const char* w : want) EXPECT_NE(r.out.find(w), std::string::npos) << w << "\n" << r.out;
  EXPECT_EQ(r.out.rfind(file + ":2:1:", 0), 0u) << r.out;  // sorted by line
}

// Where a tag is applied decides what it knows and does: SET and MOVE take other attributes in a
// SCRTEXT body, text tags do nothing outside one, and object tags nothing inside one.
TEST(CheckTool, TagsKnowTheirAttributesInAShowAndInATextBody) {
  TempFolder dir;
  const std::string file = dir.Write("script_v.txt",
                                     "<DATA TITLE=v VERSION=1>\n"
                                     "<SET XPOS=1>\n"
                                     "<IMAGE FILE=*A><SET XPOS=1 ACC=2 NO=1></IMAGE>\n"
                                     "<SCRTEXT><SET XPOS=1 SPEED=2><BR ROW=1 NO=1><SOLID>\n"
                                     "</FORMAT><NODISP>x</NODISP></SCRTEXT>\n"
                                     "<BR><BGMOVE ACC=1 XPOS=2><BGSET ACC=1 XPOS=2>\n"
                                     "</DATA>\n");
  const Output r = RunTool({"--check", file});
  EXPECT_EQ(r.code, 0);
  const std::string want[] = {":2:1: warning: <SET> outside a TITLE or IMAGE block is ignored",
                              ":3:16: warning: <SET> attribute NO is not known and is ignored",
                              ":4:10: warning: <SET> attribute XPOS is not known and is ignored",
                              ":4:30: warning: <BR> attribute NO is not known and is ignored",
                              ":4:45: warning: <SOLID> does nothing in a SCRTEXT body",
                              ":5:1: warning: </FORMAT> without an open FORMAT is ignored",
                              ":6:1: warning: <BR> does nothing outside a SCRTEXT or CAPTION body",
                              ":6:5: warning: <BGMOVE> attribute ACC is not known and is ignored",
                              "0 error(s), 8 warning(s) in 1 script(s) of 1 file(s)"};
  for (const std::string& w : want)
    EXPECT_NE(r.out.find(w), std::string::npos) << w << "\n" << r.out;
}

TEST(CheckTool, CleanScriptAndUnreadableFile) {
  TempFolder dir;
  const std::string file = dir.Write("script_ok.txt", "<DATA TITLE=ok VERSION=1></DATA>");
  Output r = RunTool({"--check", file});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out, "0 error(s), 0 warning(s) in 1 script(s) of 1 file(s)\n");
  r = RunTool({"--check", dir.path() + "/none.txt"});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(
      r.out.rfind(dir.path() + "/none.txt:0:0: error: the file cannot be read: No such file", 0),
      0u)
      << r.out;
  EXPECT_EQ(RunTool({"--check"}).code, kExitUsage);
}

// A script over the size cap is refused before a byte of it is read; the message says so. The
// file is sparse, so the test writes nothing of its size.
TEST(CheckTool, AFileOverTheSizeCapSaysWhyItCannotBeRead) {
  TempFolder dir;
  const std::string big = dir.Write("script_big.txt", "<DATA TITLE=big VERSION=1></DATA>");
  std::filesystem::resize_file(big, kMaxScriptFileBytes + 1);
  Output r = RunTool({"--check", big});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.out, big +
                       ":0:0: error: the file cannot be read: it is larger than the 16 MiB a "
                       "script may have\n1 error(s), 0 warning(s) in 0 script(s) of 1 file(s)\n");
  r = RunTool({"--log", big});
  EXPECT_EQ(r.code, kToolNoInput);
  EXPECT_NE(r.err.find("larger than the 16 MiB a script may have"), std::string::npos) << r.err;
}

TEST(ListTool, OneLinePerCataloguedScript) {
  TempFolder dir;
  const std::string two =
      "<DATA TITLE=\"a\" VERSION=1></DATA>\n<DATA TITLE=\"日本\" VERSION=1></DATA>";
  dir.Write("script_two.txt", Utf8ToCp932(two));
  const Output r = RunTool({"--list", "--data", dir.path()});
  EXPECT_EQ(r.code, 0);
  const std::string path = dir.path() + "/script_two.txt";
  CTimeLine tl(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  tl.ScanFolder(dir.path() + "/");
  ASSERT_EQ(tl.CatalogueCount, 2);
  std::int32_t id0 = 0, id1 = 0;
  tl.ScriptIdentity(0, nullptr, &id0);
  tl.ScriptIdentity(1, nullptr, &id1);
  const int second = static_cast<int>(Utf8ToCp932(two).find("<DATA TITLE=\"\x93\xfa"));
  EXPECT_EQ(r.out, "0\t" + std::to_string(id0) + "\ta\t" + path + "\t0\n" + "1\t" +
                       std::to_string(id1) + "\t日本\t" + path + "\t" + std::to_string(second) +
                       "\n");
}

}  // namespace

namespace {

TEST(CheckTool, ColourThatIsNeitherANameNorDigits) {
  TempFolder dir;
  const std::string file =
      dir.Write("script_c.txt",
                "<DATA TITLE=c VERSION=1><SOLID COLOR=PURPLE1><SOLID COLOR=#FFC000>"
                "<SOLID COLOR=farslant><SOLID COLOR=ff00></DATA>");
  const Output r = RunTool({"--check", file});
  EXPECT_EQ(r.code, 0);
  EXPECT_NE(r.out.find(":1:25: warning: <SOLID COLOR> \"PURPLE1\" is not a colour name or RRGGBB"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("0 error(s), 1 warning(s)"), std::string::npos) << r.out;
}

}  // namespace

namespace {

TEST(CheckTool, CaptionTextAfterTheLastParagraphMark) {
  TempFolder dir;
  const std::string file =
      dir.Write("script_c.txt",
                "<DATA TITLE=c VERSION=1>\n<CAPTION>one<P>two</CAPTION>\n<CAPTION>three<P> "
                "</CAPTION></DATA>");
  const Output r = RunTool({"--check", file});
  EXPECT_NE(r.out.find(":2:19: warning: <CAPTION> text after the last <P> is not closed"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("0 error(s), 1 warning(s)"), std::string::npos) << r.out;
}

}  // namespace
