// The installed program in the desktop's real screen savers (Debian's XScreenSaver 6 and
// mate-screensaver): configured as the README says, activated, playing the show full screen with
// one module, and ended within a second of deactivation. tests/install/play-in-host.sh does the
// run; each host costs about 30 to 60 seconds.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace {

void PlayInHost(const std::string& host) {
  if (!std::filesystem::exists(ONDRELIX_BUILD_DIR "/ondrelix"))
    GTEST_SKIP() << "the program is not built in " ONDRELIX_BUILD_DIR;
  const std::string cmd = "bash '" ONDRELIX_SOURCE_DIR "/tests/install/play-in-host.sh' " + host +
                          " '" ONDRELIX_BUILD_DIR "' 2>&1";
  FILE* p = ::popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string out;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  const int status = ::pclose(p);
  const int rc = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (rc == 77) {
    const size_t at = out.find("SKIP: ");
    GTEST_SKIP() << (at == std::string::npos ? out : out.substr(at + 6));
  }
  EXPECT_EQ(rc, 0) << out;
  EXPECT_NE(out.find("PASS: "), std::string::npos) << out;
}

TEST(RealHost, XScreenSaverPlaysTheInstalledShowAndEndsIt) {
  PlayInHost("xscreensaver");
}

TEST(RealHost, MateScreenSaverPlaysTheInstalledShowAndEndsIt) {
  PlayInHost("mate");
}

}  // namespace
