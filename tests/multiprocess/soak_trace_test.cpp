// The soak's verdict on small traces written by hand: it must see what it is there
// to see, or a clean soak would prove nothing.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>

#include "soak_trace.h"
#include "support/temp_dir.h"

namespace qrx::test {
namespace {

class SoakTraceTest : public ::testing::Test {
 protected:
  // Connection 1 is process 100's channel 1, connection 2 process 200's; each
  // request line names its connection.
  SoakVerdict check(const std::string& requests, const std::string& log100,
                    const std::string& log200) {
    const std::string trace = dir.path() + "/trace.txt";
    std::ofstream(trace) << "1 0 co f0 0001 -1 4 0 0 64000000\n"
                         << "2 0 co f0 0001 -1 4 0 0 c8000000\n"
                         << requests;
    std::ofstream(dir.path() + "/100.log") << log100;
    std::ofstream(dir.path() + "/200.log") << log200;
    return check_soak(trace, {{100, dir.path() + "/100.log"}, {200, dir.path() + "/200.log"}});
  }
  static std::string request(int connection) {
    return std::to_string(connection) + " 5 ci 8e 4122 65 2 2 1 4455\n";
  }
  ScopedTempDir dir;
};

TEST_F(SoakTraceTest, FramesOneAfterAnotherAreClean) {
  const SoakVerdict v = check(request(1) + request(1) + request(2) + request(2),
                              "1 0 7 1\n1 0 7 1\n", "1 0 3 1\n1 0 3 1\n");
  EXPECT_EQ(v.requests, 4u);
  EXPECT_EQ(v.connections, 2u);
  EXPECT_EQ(v.frames, 2u);
  EXPECT_EQ(v.interleaved, 0u);
  EXPECT_EQ(v.unaccounted, 0u);
}

TEST_F(SoakTraceTest, AFramedRequestInsideAnotherProcesssFrameIsSeen) {
  const SoakVerdict v =
      check(request(1) + request(2) + request(1), "1 0 7 1\n1 0 7 1\n", "1 0 3 1\n");
  EXPECT_EQ(v.interleaved, 1u);
}

TEST_F(SoakTraceTest, TheImageReaderMaySendInsideAnotherFrameAHostThreadMayNot) {
  const SoakVerdict v = check(request(1) + request(2) + request(2) + request(1),
                              "1 0 7 1\n1 0 7 1\n", "1 1 0 0\n1 0 0 4\n");
  EXPECT_EQ(v.interleaved, 0u);
  EXPECT_EQ(v.library_threads, 1u);
  EXPECT_EQ(v.reader_in_frames, 1u);
  EXPECT_EQ(v.unframed_main, 1u) << "a host thread's request outside any hold";
}

TEST_F(SoakTraceTest, ARequestNoLogNamesIsCounted) {
  const SoakVerdict v = check(request(1) + request(1), "1 0 7 1\n", "");
  EXPECT_EQ(v.unaccounted, 1u);
}

}  // namespace
}  // namespace qrx::test
