// Saving the settings when the disk refuses: a folder that takes no new file, a disk that fills
// up half way through the file, a write that breaks off inside a value. The old store must stay
// whole and Save must say which value failed. The tests run as root, which ignores permission
// bits, so read-only folders are made with what binds root as well: the immutable attribute,
// a file system that takes no new files (sysfs), and the file-size limit of the process.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "settings/CMainCtl.h"
#include "tests/support/TempFolder.h"

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

int CountEntries(const std::string& dir) {
  int n = 0;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d)) n += e->d_name[0] != '.';
    ::closedir(d);
  }
  return n;
}

// Sets or clears the immutable attribute of a folder: no file can be made, renamed or removed
// in it, by root either. False when the file system or the process cannot do it.
bool SetImmutable(const std::string& dir, bool on) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  int flags = 0;
  bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
  if (ok) {
    flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
  }
  ::close(fd);
  return ok;
}

// The file-size limit of the process for the life of the object: writes past it fail with EFBIG
// (its signal is ignored meanwhile), as on a disk that has filled up.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &old_);
    oldSignal_ = ::signal(SIGXFSZ, SIG_IGN);
    rlimit lim = old_;
    lim.rlim_cur = bytes;
    ok_ = ::setrlimit(RLIMIT_FSIZE, &lim) == 0;
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old_);
    ::signal(SIGXFSZ, oldSignal_);
  }
  bool ok() const { return ok_; }

 private:
  rlimit old_{};
  sighandler_t oldSignal_ = SIG_DFL;
  bool ok_ = false;
};

class FaultSave : public ::testing::Test {
 protected:
  FaultSave() {
    folder = root + "/Velnori";
    store = folder + "/Pralvex.reg";
  }
  ~FaultSave() override { SetImmutable(folder, false); }
  // A record whose store holds one earlier save, with a long data folder path.
  CMainCtl Saved() {
    CMainCtl c;
    c.SetStorePath(store);
    c.Load();
    c.SetCurPath("/media/shows/" + std::string(200, 'p'));
    c.SetDspMode(3);
    c.NoExeAdd(77);
    EXPECT_EQ(c.Save(), 0);
    old = ReadFile(store);
    EXPECT_FALSE(old.empty());
    return c;
  }
  // The store is byte for byte the earlier one, it reads back to the earlier values, and no
  // temporary file is left beside it.
  void ExpectOldStoreWhole() {
    EXPECT_EQ(ReadFile(store), old);
    EXPECT_EQ(CountEntries(folder), 1);
    CMainCtl back;
    back.SetStorePath(store);
    back.Load();
    EXPECT_EQ(back.GetDspMode(), 3);
    EXPECT_TRUE(back.NoExeContains(77));
    EXPECT_EQ(back.GetVersion(), 110);
  }

  TempFolder temp_;
  std::string root = temp_.path(), folder, store, old;
};

TEST_F(FaultSave, ReadOnlyFolderKeepsTheOldStoreAndReportsTheFailure) {
  CMainCtl c = Saved();
  c.SetDspMode(1);
  if (!SetImmutable(folder, true)) GTEST_SKIP() << "no immutable attribute here";
  std::string error;
  EXPECT_EQ(c.Save(&error), -1);
  EXPECT_EQ(error, "'Version' の設定に失敗しました");
  SetImmutable(folder, false);
  ExpectOldStoreWhole();
  // Once the folder takes files again, the same record saves.
  EXPECT_EQ(c.Save(), 0);
  EXPECT_NE(ReadFile(store), old);
}

TEST_F(FaultSave, FolderOnAFileSystemWithoutNewFilesIsReported) {
  if (!fs::is_directory("/sys/kernel")) GTEST_SKIP() << "no sysfs";
  CMainCtl c;
  c.SetStorePath("/sys/kernel/Velnori/Pralvex.reg");
  c.Load();
  std::string error;
  EXPECT_EQ(c.Save(&error), -1);
  EXPECT_EQ(error, "'Version' の設定に失敗しました");
  EXPECT_FALSE(fs::exists("/sys/kernel/Velnori"));
}

TEST_F(FaultSave, DiskFullHalfWayNamesTheValueAndKeepsTheOldStore) {
  CMainCtl c = Saved();
  c.SetDspMode(1);
  // Room for the head of the file and the Version line, not for the long CurPath after it.
  const std::string head = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Velnori\\Pralvex]\n";
  const std::string version = "\"Version\"=dword:0000006e\n";
  ASSERT_EQ(old.compare(0, head.size() + version.size(), head + version), 0);
  std::string error;
  int rc = 0;
  {
    FileSizeLimit full(head.size() + version.size() + 40);
    ASSERT_TRUE(full.ok());
    rc = c.Save(&error);
  }
  EXPECT_EQ(rc, -1);
  EXPECT_EQ(error, "'CurPath' の設定に失敗しました");
  ExpectOldStoreWhole();
}

TEST_F(FaultSave, WriteThatBreaksOffInsideAValueKeepsTheOldStore) {
  CMainCtl c = Saved();
  c.SetDspMode(1);
  c.SetCptFont("New Face");
  // Half of the CptFont line reaches the disk, then the device fails.
  c.SetStoreWriter([](int fd, std::string_view bytes) {
    if (bytes.find("\"CptFont\"") == std::string_view::npos)
      return ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    (void)!::write(fd, bytes.data(), bytes.size() / 2);
    return false;
  });
  std::string error;
  EXPECT_EQ(c.Save(&error), -1);
  EXPECT_EQ(error, "'CptFont' の設定に失敗しました");
  ExpectOldStoreWhole();

  // The next save, on a sound disk, writes everything.
  c.SetStoreWriter(nullptr);
  ASSERT_EQ(c.Save(), 0);
  CMainCtl back;
  back.SetStorePath(store);
  back.Load();
  EXPECT_EQ(back.GetDspMode(), 1);
  EXPECT_EQ(back.GetCptFont(), "New Face");
  EXPECT_EQ(CountEntries(folder), 1);
}

}  // namespace
