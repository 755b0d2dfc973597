// The shading store's file object and the private files beneath it: retries, closed
// objects, and the files that must never be opened (links, pipes, directories, other
// names of a file, files of another user).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "calibration/shading_files_io.h"
#include "platform/clock.h"
#include "platform/private_file.h"
#include "support/temp_dir.h"

namespace qrx::calibration {
namespace {

namespace fs = std::filesystem;

std::string read_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
void write_text(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

struct Files : ::testing::Test {
  test::ScopedTempDir temp;
  platform::VirtualClock clock;
  platform::ScopedClock use_clock{clock};
  std::string path(const char* name) const { return temp.path() + "/" + name; }
};

TEST_F(Files, AClosedObjectMovesNothing) {
  StoreFile file;
  char buffer[4] = {};
  uint64_t size = 0;
  EXPECT_FALSE(file.is_open());
  EXPECT_EQ(file.read(buffer, 1, 4), 0u);
  EXPECT_EQ(file.write("abcd", 1, 4), 0u);
  EXPECT_FALSE(file.seek(0));
  EXPECT_FALSE(file.size(size));
  EXPECT_FALSE(file.flush());
  EXPECT_FALSE(file.close());
}

TEST_F(Files, OpeningClosesTheHeldStreamAndDestructionClosesToo) {
  {
    StoreFile file;
    ASSERT_TRUE(file.open(path("a"), "wb"));
    ASSERT_EQ(file.write("first", 1, 5), 5u);
    ASSERT_TRUE(file.open(path("b"), "wb"));  // a is closed, its data written
    EXPECT_EQ(read_text(path("a")), "first");
    ASSERT_EQ(file.write("second", 1, 6), 6u);
  }
  EXPECT_EQ(read_text(path("b")), "second");

  StoreFile file;
  ASSERT_TRUE(file.open(path("b"), "rb+"));
  uint64_t size = 0;
  ASSERT_TRUE(file.seek(2));
  ASSERT_TRUE(file.size(size));
  EXPECT_EQ(size, 6u);
  char c = 0;
  ASSERT_EQ(file.read(&c, 1, 1), 1u);
  EXPECT_EQ(c, 'c') << "size() keeps the position";
  ASSERT_TRUE(file.seek(0));
  ASSERT_EQ(file.write("S", 1, 1), 1u);
  EXPECT_TRUE(file.close());
  EXPECT_EQ(read_text(path("b")), "Second") << "rb+ changes in place";
}

// A clock whose third sleep makes the awaited file appear.
struct AppearingFile final : platform::Clock {
  std::string path;
  int sleeps = 0;
  uint64_t now_us() override { return 0; }
  void sleep_ms(uint32_t ms) override {
    EXPECT_EQ(ms, 10u);
    if (++sleeps == 3) write_text(path, "late");
  }
};

TEST_F(Files, OpenRetriesFiveMoreTimesTenMillisecondsApart) {
  StoreFile file;
  const uint64_t start = clock.now_us();
  EXPECT_FALSE(file.open(path("missing"), "rb"));
  EXPECT_EQ(clock.sleeps(), 5u);
  EXPECT_EQ(clock.now_us() - start, 50'000u);
  EXPECT_FALSE(file.open("", "rb"));
  EXPECT_FALSE(file.open(temp.path() + "/", "rb"));
  EXPECT_EQ(clock.sleeps(), 5u) << "no waiting for what can never be a file";

  AppearingFile appearing;
  appearing.path = path("late");
  platform::ScopedClock use(appearing);
  ASSERT_TRUE(file.open(appearing.path, "rb"));
  EXPECT_EQ(appearing.sleeps, 3);
  char text[5] = {};
  EXPECT_EQ(file.read(text, 1, 4), 4u);
  EXPECT_STREQ(text, "late");
}

TEST_F(Files, CreateBesideMakesAFreshPrivateFile) {
  StoreFile one, two;
  ASSERT_TRUE(one.create_beside(path("name")));
  ASSERT_TRUE(two.create_beside(path("name")));
  EXPECT_NE(one.created_path(), two.created_path());
  EXPECT_EQ(one.created_path().rfind(path("name") + ".", 0), 0u);
  EXPECT_FALSE(fs::exists(path("name")));
  struct stat st {};
  ASSERT_EQ(lstat(one.created_path().c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  ASSERT_EQ(one.write("x", 1, 1), 1u);
  EXPECT_TRUE(one.flush());
  EXPECT_TRUE(one.close());
  ASSERT_TRUE(platform::replace_file(one.created_path(), path("name")));
  EXPECT_EQ(read_text(path("name")), "x");
  EXPECT_FALSE(platform::replace_file(path("nothing"), path("name")));
  EXPECT_FALSE(one.create_beside(""));
}

TEST_F(Files, PrivateFilesAreCreatedForTheUserOnly) {
  std::FILE* f = platform::open_private_file(path("new"), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("abc", f);
  EXPECT_TRUE(platform::flush_file(f));
  std::fclose(f);
  struct stat st {};
  ASSERT_EQ(stat(path("new").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  f = platform::open_private_file(path("new"), "wb");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_EQ(read_text(path("new")), "") << "wb empties the user's own file";
  EXPECT_EQ(platform::open_private_file(path("new"), "a"), nullptr) << "no other modes";
  EXPECT_EQ(platform::open_private_file(path("missing"), "rb"), nullptr);
  EXPECT_FALSE(platform::flush_file(nullptr));
}

TEST_F(Files, LinksPipesDirectoriesAndSecondNamesAreRefused) {
  write_text(path("target"), "precious");
  ASSERT_EQ(symlink(path("target").c_str(), path("link").c_str()), 0);
  ASSERT_EQ(link(path("target").c_str(), path("hard").c_str()), 0);
  ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
  for (const char* mode : {"rb", "rb+", "wb"}) {
    SCOPED_TRACE(mode);
    EXPECT_EQ(platform::open_private_file(path("link"), mode), nullptr);
    EXPECT_EQ(platform::open_private_file(path("fifo"), mode), nullptr) << "and it does not hang";
    EXPECT_EQ(platform::open_private_file(temp.path(), mode), nullptr);
  }
  EXPECT_EQ(platform::open_private_file(path("hard"), "rb+"), nullptr);
  EXPECT_EQ(platform::open_private_file(path("hard"), "wb"), nullptr);
  std::FILE* reading = platform::open_private_file(path("hard"), "rb");
  EXPECT_NE(reading, nullptr) << "reading through a second name changes nothing";
  if (reading != nullptr) std::fclose(reading);
  EXPECT_EQ(read_text(path("target")), "precious");
}

TEST_F(Files, AnotherUsersFileIsNeitherReadNorEmptied) {
  if (geteuid() != 0) GTEST_SKIP() << "giving a file away needs root";
  write_text(path("theirs"), "their data");
  ASSERT_EQ(chown(path("theirs").c_str(), 4242, 4242), 0);
  for (const char* mode : {"rb", "rb+", "wb"}) {
    EXPECT_EQ(platform::open_private_file(path("theirs"), mode), nullptr) << mode;
  }
  EXPECT_EQ(read_text(path("theirs")), "their data");
}

}  // namespace
}  // namespace qrx::calibration
