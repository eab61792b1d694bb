// The ondrelix program as a user starts it: exit codes, instance locks, no display.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/HugePageHeap.h"
#include "platform/InstanceLock.h"
#include "script/CTimeLine.h"
#include "tests/support/TempFolder.h"

extern char** environ;

namespace {

const std::string kProgram = ONDRELIX_BUILD_DIR "/ondrelix";

class Program : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access(kProgram.c_str(), X_OK) != 0) GTEST_SKIP() << "ondrelix is not built";
    env = {"XDG_RUNTIME_DIR=" + dir, "XDG_CONFIG_HOME=" + dir, "HOME=" + dir,
           "QT_QPA_PLATFORM=offscreen", "PATH=/usr/bin:/bin"};
    AddSanitizerOptions(env);
  }
  // The sanitizer build's options (its suppressions of library caches) reach the program too,
  // so that its exit code is the program's own and not a report about a library.
  static void AddSanitizerOptions(std::vector<std::string>& environment) {
    for (const char* name : {"ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS"})
      if (const char* value = std::getenv(name))
        environment.push_back(std::string(name) + "=" + value);
  }
  void TearDown() override {
    for (pid_t p : running) {
      ::kill(p, SIGKILL);
      ::waitpid(p, nullptr, 0);
    }
  }

  // Starts the program (in the folder `cwd` when one is given); its standard output goes to
  // outFile(), its standard error to errFile().
  pid_t Start(const std::vector<std::string>& args, const std::vector<std::string>& environment,
              const std::string& cwd = {}) {
    std::vector<std::string> argStore{kProgram};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv, envp;
    for (auto& a : argStore) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStore = environment;
    for (auto& e : envStore) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, outFile().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&fa, cwd.c_str());
    posix_spawn_file_actions_addopen(&fa, 2, errFile().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, kProgram.c_str(), &fa, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    return rc == 0 ? pid : -1;
  }
  // Runs the program to its end (at most 20 s); the exit code, or -1 when it did not end.
  int Run(const std::vector<std::string>& args) { return RunIn(args, env); }
  int RunIn(const std::vector<std::string>& args, const std::vector<std::string>& environment,
            const std::string& cwd = {}) {
    pid_t pid = Start(args, environment, cwd);
    if (pid < 0) return -1;
    for (int i = 0; i < 400; ++i) {
      int status = 0;
      if (::waitpid(pid, &status, WNOHANG) == pid)
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    running.push_back(pid);
    return -1;
  }
  bool StillRunning(pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) == 0; }
  static std::string ReadFile(const std::string& path) {
    std::string out;
    if (FILE* f = std::fopen(path.c_str(), "r")) {
      char buf[512];
      size_t n;
      while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
      std::fclose(f);
    }
    return out;
  }
  std::string Stderr() { return ReadFile(errFile()); }
  std::string Stdout() { return ReadFile(outFile()); }
  std::string errFile() const { return dir + "/stderr.txt"; }
  std::string outFile() const { return dir + "/stdout.txt"; }

  // Waits until `holder` holds the lock `name`, read from /proc/locks so that looking never
  // takes the lock away from the program.
  bool WaitForHolder(const char* name, pid_t holder) {
    std::string path = dir + "/" + name;
    for (int i = 0; i < 400 && StillRunning(holder); ++i) {
      struct stat st;
      if (::stat(path.c_str(), &st) == 0) {
        std::ifstream locks("/proc/locks");
        std::string line;
        std::string ino = ":" + std::to_string(st.st_ino) + " ";
        std::string pid = " " + std::to_string(holder) + " ";
        while (std::getline(locks, line))
          if (line.find("FLOCK") != std::string::npos && line.find(ino) != std::string::npos &&
              line.find(pid) != std::string::npos)
            return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  TempFolder temp_;
  std::string dir = temp_.path();
  std::vector<std::string> env;
  std::vector<pid_t> running;
};

TEST_F(Program, SecondSaverOrDialogExitsWithOneAPreviewStartsBeside) {
  pid_t saver = Start({"/s"}, env);
  ASSERT_GT(saver, 0);
  running.push_back(saver);
  ASSERT_TRUE(WaitForHolder(kSaverLockName, saver)) << Stderr();

  EXPECT_EQ(Run({"/s"}), 1);
  EXPECT_EQ(Run({"/c"}), 1);
  EXPECT_EQ(Run({}), 1);

  pid_t preview = Start({"/p", "0"}, env);
  ASSERT_GT(preview, 0);
  running.push_back(preview);
  EXPECT_TRUE(WaitForHolder(kPreviewLockName, preview));
  EXPECT_TRUE(StillRunning(saver));
  // A second preview leaves quietly.
  EXPECT_EQ(Run({"/p", "0"}), 0);
}

// The saver keeps its heap in huge pages: it starts itself again with glibc's tunable set, in the
// same process and under its own name (hosts and users find it by name); a user's own setting of
// the tunable stands.
TEST_F(Program, TheSaversHeapIsInHugePagesUnlessTheUserSaysOtherwise) {
  if (!HugePagesOffered()) GTEST_SKIP() << "this kernel offers no transparent huge pages";
  const auto started = [&](const std::vector<std::string>& environment) {
    const pid_t pid = Start({"/s"}, environment);
    running.push_back(pid);
    EXPECT_TRUE(WaitForHolder(kSaverLockName, pid)) << Stderr();
    return pid;
  };
  const auto proc = [](pid_t pid, const char* file) {
    return ReadFile("/proc/" + std::to_string(pid) + "/" + file);
  };
  const pid_t saver = started(env);
  EXPECT_EQ(proc(saver, "comm"), "ondrelix\n");
  EXPECT_NE(
      proc(saver, "environ").find(std::string("GLIBC_TUNABLES=glibc.malloc.hugetlb=1") + '\0'),
      std::string::npos);
#if defined(__SANITIZE_ADDRESS__)
  std::puts("(the sanitizer's allocator stands in for glibc's heap: its pages are not checked)");
#else
  // The heap's mappings (split where glibc asked for huge pages) carry the kernel's "hg" flag.
  const std::string maps = proc(saver, "smaps");
  bool huge = false;
  for (std::size_t at = maps.find("[heap]"); at != std::string::npos && !huge;
       at = maps.find("[heap]", at + 1)) {
    const std::size_t flags = maps.find("VmFlags:", at);
    huge = flags != std::string::npos &&
           maps.substr(flags, maps.find('\n', flags) - flags).find(" hg") != std::string::npos;
  }
  EXPECT_TRUE(huge) << maps.substr(0, 4000);
#endif
  ::kill(saver, SIGKILL);
  ::waitpid(saver, nullptr, 0);
  running.clear();

  std::vector<std::string> small = env;
  small.push_back("GLIBC_TUNABLES=glibc.malloc.hugetlb=0");
  const pid_t own = started(small);
  const std::string ownEnvironment = proc(own, "environ");
  EXPECT_NE(ownEnvironment.find(std::string("GLIBC_TUNABLES=glibc.malloc.hugetlb=0") + '\0'),
            std::string::npos);
  EXPECT_EQ(ownEnvironment.find(kHugePageRestartMark), std::string::npos);
}

TEST_F(Program, PreviewWithoutAHostNumberReportsAndExitsWithZero) {
  EXPECT_EQ(Run({"/p"}), 0);
  EXPECT_NE(Stderr().find("'' is not a valid integer value"), std::string::npos) << Stderr();
  EXPECT_EQ(Run({"/p", "abc"}), 0);
  EXPECT_NE(Stderr().find("'abc' is not a valid integer value"), std::string::npos) << Stderr();
}

TEST_F(Program, OptionsHelpVersionAndMistakes) {
  EXPECT_EQ(Run({"--help"}), 0);
  EXPECT_EQ(Run({"--version"}), 0);
  EXPECT_EQ(Run({"/s", "--frobnicate"}), 2);
  EXPECT_NE(Stderr().find("--frobnicate"), std::string::npos);
  EXPECT_EQ(Run({"/s", "--mode", "7"}), 2);
  EXPECT_EQ(Run({"/s", "--data"}), 2);
}

TEST_F(Program, NoDisplayIsAClearErrorNotACrash) {
  std::vector<std::string> bare = {"XDG_RUNTIME_DIR=" + dir, "XDG_CONFIG_HOME=" + dir,
                                   "HOME=" + dir, "PATH=/usr/bin:/bin"};
  AddSanitizerOptions(bare);
  for (const char* mode : {"/s", "/c", "/p"}) {
    EXPECT_EQ(RunIn({mode}, bare), 1) << mode;
    EXPECT_NE(Stderr().find("no display"), std::string::npos) << Stderr();
  }
  std::vector<std::string> badX = bare;
  badX.push_back("DISPLAY=:987");
  EXPECT_EQ(RunIn({"/s"}, badX), 1);
}

// Every mode reads its options from one table: the tools take --data in both of its forms and
// anywhere on the line, --list lists the identities the saver stores (made from the absolute
// path, however the folder was written), and a data folder that is not there is an error.
TEST_F(Program, EveryToolReadsTheOptionsOfOneTable) {
  const std::string data = dir + "/shows";
  ASSERT_EQ(::mkdir(data.c_str(), 0755), 0);
  const std::string script = data + "/script_a.txt";
  std::ofstream(script) << "<DATA TITLE=\"a\" VERSION=1><SOLID COLOR=RED><CLOCK SET=0.1></DATA>\n";
  CTimeLine scan(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
  ASSERT_EQ(scan.ScanFolder(data + "/"), 1);  // as the saver scans its --data folder
  std::int32_t id = 0;
  scan.ScriptIdentity(0, nullptr, &id);
  const std::string listed = "0\t" + std::to_string(id) + "\ta\t" + script + "\t0\n";

  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--list", "--data", data},
                                             {"--list", "--data=" + data},
                                             {"--data=" + data, "--list"}}) {
    EXPECT_EQ(Run(args), 0) << args[1] << Stderr();
    EXPECT_EQ(Stdout(), listed) << args[1];
  }
  for (const char* relative : {"shows", "--data=./shows/"}) {
    const std::string arg = relative;
    const std::vector<std::string> args = arg.starts_with("--")
                                              ? std::vector<std::string>{"--list", arg}
                                              : std::vector<std::string>{"--list", "--data", arg};
    EXPECT_EQ(RunIn(args, env, dir), 0) << relative << Stderr();
    EXPECT_EQ(Stdout(), listed) << relative;
  }

  EXPECT_EQ(Run({"--list", "--data", dir + "/none"}), 2);
  EXPECT_EQ(Stdout(), "");
  EXPECT_NE(Stderr().find("cannot read the data folder " + dir + "/none: No such file"),
            std::string::npos)
      << Stderr();
  EXPECT_EQ(Run({"--list", "--data", script}), 2);  // a file is no folder

  EXPECT_EQ(Run({"--render", script, "--data", data, "--out", dir + "/png", "--ticks", "0"}), 0)
      << Stderr();
  EXPECT_EQ(::access((dir + "/png/tick_00000.png").c_str(), F_OK), 0);
  EXPECT_EQ(Run({"--log", script, "--data=" + data}), 0) << Stderr();
  EXPECT_EQ(Run({"--check", "--data", data, script}), 0) << Stderr();
  // An option of another mode is refused, on either side.
  EXPECT_EQ(Run({"--list", "--ticks", "1"}), 2);
  EXPECT_NE(Stderr().find("--ticks does not go with --list"), std::string::npos) << Stderr();
  EXPECT_EQ(Run({"/s", "--script", "2"}), 2);
}

}  // namespace
