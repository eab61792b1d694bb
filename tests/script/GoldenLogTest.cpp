// Golden logs: every tests/data/scripts/NAME[.N].log is the expected `ondrelix --log
// NAME.txt --script N` output, worked out by hand, compared byte for byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/AuthorTools.h"
#include "app/CommandLine.h"

namespace {

namespace fs = std::filesystem;

const std::string kCorpus = std::string(ONDRELIX_TEST_DATA) + "/scripts";
const std::string kNoStore = "/dev/null/no-store.reg";  // never exists: default settings

std::string ReadAll(std::FILE* f) {
  std::string bytes;
  std::rewind(f);
  char buf[4096];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
  return bytes;
}

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

int RunLog(std::vector<std::string> args, std::string* out) {
  ToolContext c;
  c.out = std::tmpfile();
  c.err = std::tmpfile();
  c.storePath = kNoStore;
  args.insert(args.begin(), "--log");
  const int code = RunAuthorTool(ParseCommandLine(args), c);
  *out = ReadAll(c.out);
  std::fclose(c.out);
  std::fclose(c.err);
  return code;
}

TEST(GoldenLog, CorpusMatchesByteForByte) {
  int compared = 0;
  for (const auto& entry : fs::directory_iterator(kCorpus)) {
    if (entry.path().extension() != ".log") continue;
    std::string stem = entry.path().stem().string();  // NAME or NAME.N
    std::string script = "1";
    const std::size_t dot = stem.find('.');
    if (dot != std::string::npos) {
      script = stem.substr(dot + 1);
      stem = stem.substr(0, dot);
    }
    std::string out;
    const int code = RunLog({kCorpus + "/" + stem + ".txt", "--script", script}, &out);
    EXPECT_EQ(code, 0) << entry.path();
    EXPECT_EQ(out, ReadFile(entry.path())) << entry.path();
    ++compared;
  }
  EXPECT_GE(compared, 5);
}

TEST(GoldenLog, MissingFileOrScript) {
  std::string out;
  EXPECT_EQ(RunLog({kCorpus + "/script_nothere.txt"}, &out), 2);
  EXPECT_EQ(RunLog({kCorpus + "/script_two.txt", "--script", "3"}, &out), 2);
  EXPECT_EQ(out, "");
  EXPECT_EQ(RunLog({}, &out), kExitUsage);
  EXPECT_EQ(RunLog({kCorpus + "/script_two.txt", "--script", "0"}, &out), kExitUsage);
}

}  // namespace
