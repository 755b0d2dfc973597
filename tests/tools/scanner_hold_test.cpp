// The scanner hold every host takes: its name (which hosts of other versions must
// still find), and that it keeps a scanner from a second holder, in this process
// and in another, until the holder lets go or ends, however it ends.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "common/scanner_hold.h"

namespace qrx::hosts {
namespace {

// A device path of this test case's own, so that parallel runs hold nothing in common.
std::string device_of(const char* name) {
  return "sim:#scanner-hold-" + std::string(name) + "-" + std::to_string(getpid());
}

TEST(ScannerHoldTest, TheNameIsThePathOrItsHashWhenThePathIsLong) {
  EXPECT_EQ(scanner_hold_name("sim:/tmp/qrx.sock"), "qrx7730-sane:sim:/tmp/qrx.sock");
  // 13 bytes of prefix and 94 of path fill the 107 bytes an abstract name has.
  const std::string longest(94, 'p');
  EXPECT_EQ(scanner_hold_name(longest), "qrx7730-sane:" + longest);
  // One byte more: the 64-bit FNV-1a hash of the path (worked out apart from this
  // code; the hash of "a" is the published af63dc4c8601ec8c).
  EXPECT_EQ(scanner_hold_name("usb:" + std::string(91, 'x')), "qrx7730-sane:#d494ce10ee49e953");
  EXPECT_EQ(scanner_hold_name(std::string(95, 'p')).size(), 13u + 1 + 16);
  EXPECT_NE(scanner_hold_name(std::string(95, 'p')), scanner_hold_name(std::string(96, 'p')));
}

TEST(ScannerHoldTest, ASecondHolderIsRefusedUntilTheFirstLetsGo) {
  const std::string device = device_of("same-process");
  const int first = take_scanner_hold(device);
  ASSERT_GE(first, 0) << std::strerror(errno);
  errno = 0;
  EXPECT_EQ(take_scanner_hold(device), -1);
  EXPECT_EQ(errno, EADDRINUSE);
  // Another scanner is not held.
  const int other = take_scanner_hold(device + "-other");
  EXPECT_GE(other, 0);
  close(other);
  close(first);
  const int again = take_scanner_hold(device);
  EXPECT_GE(again, 0) << "let go, the scanner can be held again";
  close(again);
}

TEST(ScannerHoldTest, AnotherProcesssHoldEndsWithThatProcessEvenWhenItIsKilled) {
  const std::string device = device_of("other-process");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const char held = take_scanner_hold(device) >= 0 ? 'y' : 'n';
    (void)!write(ready[1], &held, 1);
    for (;;) pause();  // holds until killed
  }
  close(ready[1]);
  char held = 0;
  ASSERT_EQ(read(ready[0], &held, 1), 1);
  close(ready[0]);
  EXPECT_EQ(held, 'y');
  errno = 0;
  EXPECT_EQ(take_scanner_hold(device), -1);
  EXPECT_EQ(errno, EADDRINUSE);
  kill(child, SIGKILL);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  const int mine = take_scanner_hold(device);
  EXPECT_GE(mine, 0) << "a killed holder leaves the scanner free";
  close(mine);
}

}  // namespace
}  // namespace qrx::hosts
