// The self-pipe behind InstallQuitSignals.
#include "platform/Signals.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>

namespace {

int g_pipe[2] = {-1, -1};
int g_graceMs = kQuitGraceMs;

// Async-signal-safe only: write() and setitimer().
void OnQuitSignal(int sig) {
  const int saved = errno;
  const unsigned char b = static_cast<unsigned char>(sig);
  if (g_pipe[1] >= 0) {
    ssize_t ignored = ::write(g_pipe[1], &b, 1);
    (void)ignored;
  }
  // The loop may be inside a long pass (a show being compiled): the timer ends the process
  // in time even then. Only the first signal arms it.
  if (g_graceMs == kQuitNoCutOff) {
    errno = saved;
    return;
  }
  itimerval t{};
  if (::getitimer(ITIMER_REAL, &t) == 0 && t.it_value.tv_sec == 0 && t.it_value.tv_usec == 0) {
    t.it_value.tv_sec = g_graceMs / 1000;
    t.it_value.tv_usec = (g_graceMs % 1000) * 1000;
    ::setitimer(ITIMER_REAL, &t, nullptr);
  }
  errno = saved;
}

void OnGraceOver(int) {
  ::_exit(0);
}

bool SetHandler(int sig, void (*handler)(int)) {
  struct sigaction sa {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  return ::sigaction(sig, &sa, nullptr) == 0;
}

}  // namespace

int InstallQuitSignals(int graceMs) {
  g_graceMs = graceMs > 0 ? graceMs : kQuitGraceMs;
  if (g_pipe[0] >= 0) return g_pipe[0];
  if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    g_pipe[0] = g_pipe[1] = -1;
    return -1;
  }
  SetHandler(SIGALRM, OnGraceOver);
  SetHandler(SIGTERM, OnQuitSignal);
  SetHandler(SIGINT, OnQuitSignal);
  return g_pipe[0];
}

int TakeQuitSignal() {
  if (g_pipe[0] < 0) return 0;
  int last = 0;
  unsigned char buf[16];
  for (;;) {
    const ssize_t n = ::read(g_pipe[0], buf, sizeof buf);
    if (n <= 0) break;
    last = buf[n - 1];
  }
  return last;
}

void RemoveQuitSignals() {
  SetHandler(SIGTERM, SIG_DFL);
  SetHandler(SIGINT, SIG_DFL);
  itimerval off{};
  ::setitimer(ITIMER_REAL, &off, nullptr);
  SetHandler(SIGALRM, SIG_DFL);
  for (int& fd : g_pipe) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}
