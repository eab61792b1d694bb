// Instance locks: one holder per name, held across processes, released when the holder ends.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/InstanceLock.h"
#include "tests/support/TempFolder.h"

namespace {

class Locks : public ::testing::Test {
 protected:
  TempFolder temp_;
  std::string dir = temp_.path();
};

TEST_F(Locks, SaverAndDialogShareOneLockThePreviewHasItsOwn) {
  InstanceLock first, second, preview;
  EXPECT_EQ(first.Acquire(kSaverLockName, dir), 0);
  EXPECT_TRUE(first.Held());
  EXPECT_EQ(second.Acquire(kSaverLockName, dir), 1);
  EXPECT_FALSE(second.Held());
  EXPECT_EQ(preview.Acquire(kPreviewLockName, dir), 0);
  first.Release();
  EXPECT_EQ(second.Acquire(kSaverLockName, dir), 0);
}

TEST_F(Locks, AnotherProcessHoldsTheLockUntilItEnds) {
  int toParent[2], toChild[2];
  ASSERT_EQ(::pipe(toParent), 0);
  ASSERT_EQ(::pipe(toChild), 0);
  pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    InstanceLock lock;
    char c = lock.Acquire(kSaverLockName, dir) == 0 ? 'y' : 'n';
    (void)!::write(toParent[1], &c, 1);
    (void)!::read(toChild[0], &c, 1);  // wait for the parent's word, then exit holding the lock
    ::_exit(0);
  }
  char c = 0;
  ASSERT_EQ(::read(toParent[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  InstanceLock mine;
  EXPECT_EQ(mine.Acquire(kSaverLockName, dir), 1);
  (void)!::write(toChild[1], &c, 1);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_EQ(mine.Acquire(kSaverLockName, dir), 0);
  for (int fd : {toParent[0], toParent[1], toChild[0], toChild[1]}) ::close(fd);
}

TEST_F(Locks, NoLockFileMeansNoLock) {
  InstanceLock lock;
  EXPECT_EQ(lock.Acquire(kSaverLockName, dir + "/no/such/folder"), -1);
  EXPECT_FALSE(lock.Held());
}

// Without XDG_RUNTIME_DIR the folder lies in /tmp, where another user may have made it first:
// such a folder must not decide whether this user's saver runs.
TEST_F(Locks, FoldersOfOtherUsersOrOpenToOthersAreRefused) {
  const std::string open = dir + "/open";
  ASSERT_EQ(::mkdir(open.c_str(), 0700), 0);
  ASSERT_EQ(::chmod(open.c_str(), 0777), 0);
  InstanceLock lock;
  EXPECT_EQ(lock.Acquire(kSaverLockName, open), -1);
  EXPECT_NE(lock.Problem(), "");
  EXPECT_NE(::access((open + "/" + kSaverLockName).c_str(), F_OK), 0);
  ASSERT_EQ(::chmod(open.c_str(), 0700), 0);
  EXPECT_EQ(lock.Acquire(kSaverLockName, open), 0);
  EXPECT_EQ(lock.Problem(), "");
  lock.Release();

  if (::geteuid() != 0) GTEST_SKIP() << "only root can give a folder to another user here";
  const std::string squatted = dir + "/squatted";
  ASSERT_EQ(::mkdir(squatted.c_str(), 0700), 0);
  ASSERT_EQ(::chown(squatted.c_str(), 65534, 65534), 0);
  EXPECT_EQ(lock.Acquire(kSaverLockName, squatted), -1);
  EXPECT_NE(lock.Problem(), "");
}

TEST(LockFolder, RuntimeFolderElseAFolderOfThisUser) {
  const char* old = std::getenv("XDG_RUNTIME_DIR");
  std::string saved = old ? old : "";
  ::setenv("XDG_RUNTIME_DIR", "/run/user/1234", 1);
  EXPECT_EQ(InstanceLock::DefaultFolder(), "/run/user/1234");
  ::unsetenv("XDG_RUNTIME_DIR");
  EXPECT_EQ(InstanceLock::DefaultFolder(), "/tmp/ondrelix-" + std::to_string(::getuid()));
  if (old) ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
}

}  // namespace
