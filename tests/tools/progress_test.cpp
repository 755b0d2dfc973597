// The progress line: its text, and how it is drawn on a terminal (a
// pseudo-terminal here) and elsewhere.
#include "progress.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <cstdio>

namespace qrx::test {
namespace {

TEST(Progress, TextWithBarLinesAndTimeLeft) {
  EXPECT_EQ(qrxscan::progress_text(0, 100, 0, 20),
            "[--------------------]   0%  0/100 lines  --:-- left");
  // Half the lines in 30 s: as long again to go.
  EXPECT_EQ(qrxscan::progress_text(50, 100, 30, 20),
            "[##########----------]  50%  50/100 lines  0:30 left");
  EXPECT_EQ(qrxscan::progress_text(3, 4, 270, 8), "[######--]  75%  3/4 lines  1:30 left");
  EXPECT_EQ(qrxscan::progress_text(120, 100, 9, 4), "[####] 100%  100/100 lines  0:00 left");
}

TEST(Progress, ATerminalGetsOneLineRedrawnInPlace) {
  int controller = -1, terminal = -1;
  ASSERT_EQ(openpty(&controller, &terminal, nullptr, nullptr, nullptr), 0);
  std::FILE* out = fdopen(terminal, "w");
  ASSERT_NE(out, nullptr);
  EXPECT_TRUE(qrxscan::is_terminal(out));
  {
    qrxscan::Progress progress(out, qrxscan::is_terminal(out), 10);
    for (uint32_t done = 1; done <= 10; ++done) progress.update(done, done * 0.5);
    progress.finish(10, 5);
  }
  std::fclose(out);
  std::string shown;
  char buffer[4096];
  ssize_t got;
  while ((got = read(controller, buffer, sizeof buffer)) > 0) {
    shown.append(buffer, static_cast<size_t>(got));
    if (shown.find('\n') != std::string::npos) break;
  }
  close(controller);
  EXPECT_EQ(shown.rfind("\rScanning [", 0), 0u) << shown;
  EXPECT_NE(shown.find("100%  10/10 lines  0:00 left"), std::string::npos) << shown;
  // One line: carriage returns between the redraws, one newline at the end.
  EXPECT_EQ(shown.find('\n'), shown.size() - 1) << shown;
}

TEST(Progress, ElsewhereAPlainLineAtEveryTenth) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  EXPECT_FALSE(qrxscan::is_terminal(out));
  qrxscan::Progress progress(out, false, 50);
  for (uint32_t done = 1; done <= 50; ++done) progress.update(done, done);
  progress.finish(50, 50);
  std::rewind(out);
  std::vector<std::string> lines;
  char line[128];
  while (std::fgets(line, sizeof line, out) != nullptr) lines.emplace_back(line);
  std::fclose(out);
  ASSERT_EQ(lines.size(), 11u);
  EXPECT_EQ(lines.front(), "Scanning: 0% (1/50 lines)\n");
  EXPECT_EQ(lines[5], "Scanning: 50% (25/50 lines)\n");
  EXPECT_EQ(lines.back(), "Scanning: 100% (50/50 lines)\n");
}

}  // namespace
}  // namespace qrx::test
