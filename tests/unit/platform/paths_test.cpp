// The user's private temporary directory and the library's own path.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/paths.h"

namespace qrx::platform {
namespace {

class TempDirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qrx-paths-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    base_ = pattern;
    const char* old = getenv("TMPDIR");
    had_old_ = old != nullptr;
    if (had_old_) old_ = old;
    setenv("TMPDIR", base_.c_str(), 1);
    expected_ = base_ + "/qrx7730-" + std::to_string(getuid());
  }
  void TearDown() override {
    if (had_old_) {
      setenv("TMPDIR", old_.c_str(), 1);
    } else {
      unsetenv("TMPDIR");
    }
    std::string command = "rm -rf '" + base_ + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
  }
  std::string base_, old_, expected_;
  bool had_old_ = false;
};

TEST_F(TempDirectoryTest, IsAPrivateDirectoryOfTheUser) {
  const std::string dir = temp_directory();
  EXPECT_EQ(dir, expected_ + "/");
  struct stat st{};
  ASSERT_EQ(lstat(expected_.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  EXPECT_EQ(temp_directory(), dir) << "a second call finds the same directory";
}

TEST_F(TempDirectoryTest, APlantedLinkIsRefused) {
  const std::string elsewhere = base_ + "/elsewhere";
  ASSERT_EQ(mkdir(elsewhere.c_str(), 0700), 0);
  ASSERT_EQ(symlink(elsewhere.c_str(), expected_.c_str()), 0);
  EXPECT_EQ(temp_directory(), "");
}

TEST_F(TempDirectoryTest, AnOpenDirectoryOfOursIsClosedToOthers) {
  ASSERT_EQ(mkdir(expected_.c_str(), 0700), 0);
  ASSERT_EQ(chmod(expected_.c_str(), 0777), 0);
  EXPECT_EQ(temp_directory(), expected_ + "/");
  struct stat st{};
  ASSERT_EQ(stat(expected_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(TempDirectoryTest, SomeoneElsesDirectoryIsRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to hand the directory to another user";
  ASSERT_EQ(mkdir(expected_.c_str(), 0700), 0);
  ASSERT_EQ(chown(expected_.c_str(), 65534, 65534), 0);
  EXPECT_EQ(temp_directory(), "");
}

TEST_F(TempDirectoryTest, WithoutAnAbsoluteTmpdirTheDirectoryIsMadeInTmp) {
  // Unset, empty or relative (which would put the files wherever the host runs).
  const std::string in_tmp = "/tmp/qrx7730-" + std::to_string(getuid()) + "/";
  unsetenv("TMPDIR");
  EXPECT_EQ(temp_directory(), in_tmp);
  for (const char* value : {"", "relative/dir", "."}) {
    setenv("TMPDIR", value, 1);
    EXPECT_EQ(temp_directory(), in_tmp) << value;
  }
}

TEST(PathsTest, LibraryPathNamesAnExistingFile) {
  const std::string path = library_path();
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(path.front(), '/');
  EXPECT_EQ(access(path.c_str(), R_OK), 0);
}

TEST(PathsTest, InstallDirectoryComesFromTheEnvironmentAsGiven) {
  setenv("QRX7730_INSTALL_DIR", "/opt/qrx7730", 1);
  EXPECT_EQ(install_directory(), "/opt/qrx7730");
  unsetenv("QRX7730_INSTALL_DIR");
  EXPECT_EQ(install_directory(), "");
}

}  // namespace
}  // namespace qrx::platform
