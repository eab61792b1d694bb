// The real ondrelix program run by a shell test in a process of its own, and the clock helpers
// such tests poll with.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace shelltest {

using Clock = std::chrono::steady_clock;

inline int MsSince(Clock::time_point t) {
  return static_cast<int>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

// Waits for something that must happen are stretched in a sanitizer build, which runs the
// program several times slower (far more on a loaded machine), so a slow start is no failure
// there; the normal build keeps the plain limits, and no bound that a test asserts is widened.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr int kSanitizerSlowdown = 4;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr int kSanitizerSlowdown = 4;
#else
inline constexpr int kSanitizerSlowdown = 1;
#endif
#else
inline constexpr int kSanitizerSlowdown = 1;
#endif
inline int Patient(int ms) {
  return ms * kSanitizerSlowdown;
}

// The program of the build this test belongs to (a sanitizer build runs its own).
inline const char* ProgramPath() {
  return ONDRELIX_BUILD_DIR "/ondrelix";
}

// How a process ended, in words: "exit code N" or "signal N".
inline std::string Ended(int status) {
  if (WIFEXITED(status)) return "exit code " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
  return "status " + std::to_string(status);
}

class TestProgram {
 public:
  TestProgram() = default;
  TestProgram(const TestProgram&) = delete;
  TestProgram& operator=(const TestProgram&) = delete;
  ~TestProgram() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }

  // Starts the program with `args` and this process's environment, but for `set` ("NAME=value",
  // replacing the variable) and `drop` (names removed). `errFile`, when given, takes its stderr.
  bool Start(std::vector<std::string> args, const std::vector<std::string>& set,
             const std::vector<std::string>& drop = {}, const std::string& errFile = {}) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string kv = *e;
      const std::string name = kv.substr(0, kv.find('='));
      bool keep = true;
      for (const std::string& d : drop) keep = keep && d != name;
      for (const std::string& s : set)
        keep = keep && s.compare(0, name.size() + 1, name + "=") != 0;
      if (keep) env.push_back(kv);
    }
    env.insert(env.end(), set.begin(), set.end());
    args.insert(args.begin(), ProgramPath());
    std::vector<char*> argv, envp;
    for (std::string& a : args) argv.push_back(a.data());
    for (std::string& e : env) envp.push_back(e.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t files;
    ::posix_spawn_file_actions_init(&files);
    if (!errFile.empty())
      ::posix_spawn_file_actions_addopen(&files, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
    const int rc = ::posix_spawn(&pid_, ProgramPath(), &files, nullptr, argv.data(), envp.data());
    ::posix_spawn_file_actions_destroy(&files);
    if (rc != 0) pid_ = 0;
    return rc == 0;
  }

  bool Running() const { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }

  // Up to `limitMs` (stretched in a sanitizer build) for it to end by itself: false when it is
  // still running.
  bool Wait(int* status, int limitMs) {
    const Clock::time_point t = Clock::now();
    while (pid_ > 0 && MsSince(t) < Patient(limitMs)) {
      if (::waitpid(pid_, status, WNOHANG) == pid_) {
        pid_ = 0;
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }
  void Signal(int sig) {
    if (pid_ > 0) ::kill(pid_, sig);
  }

  // SIGTERM, then up to 3 s for it to end: the milliseconds it took, or -1 (it is killed then).
  int Stop(int* status) {
    if (pid_ <= 0) return -1;
    const Clock::time_point t = Clock::now();
    ::kill(pid_, SIGTERM);
    return Wait(status, 3000) ? MsSince(t) : -1;
  }

 private:
  pid_t pid_ = 0;
};

// This test program's own path, for running some of its cases in a child.
inline std::string SelfPath() {
  char buf[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

inline std::string ShellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Runs the shell commands `body` with an X server of their own: Xvfb started with
// `serverOptions` (its -screen options and any more), which picks a free display and names it
// when ready; DISPLAY and QT_QPA_PLATFORM=xcb are exported, "$1" is this test program and $d a
// scratch folder. The body writes the output of the child cases it runs to $d/log, whose
// verdicts and failures are printed afterwards. The result is the body's exit status.
inline int RunOnXvfb(const std::string& serverOptions, const std::string& body) {
  const std::string script = R"(
d=$(mktemp -d); mkfifo $d/fd
Xvfb -displayfd 3 )" + serverOptions +
                             R"( -nolisten tcp 3>$d/fd >/dev/null 2>&1 & x=$!
read -r -t 10 n <$d/fd || { echo "Xvfb did not start"; kill $x; rm -rf $d; exit 1; }
for i in $(seq 50); do [ -S /tmp/.X11-unix/X$n ] && break; sleep 0.1; done
export DISPLAY=:$n QT_QPA_PLATFORM=xcb
(
)" + body + R"(
)
rc=$?
kill $x; wait $x
grep -E '^\[ +(FAILED|PASSED|OK|SKIPPED) |Failure|Expected|Which is|Value of|never|after|did not|still|not |no |outlived|covers' \
  $d/log | head -60
rm -rf $d
exit $rc
)";
  return std::system(("bash -c " + ShellQuote(script) + " bash " + ShellQuote(SelfPath())).c_str());
}

}  // namespace shelltest
