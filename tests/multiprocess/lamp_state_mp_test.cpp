// The light last reported ready is kept in the status block, where every other
// process on the same device path sees it.
#include <gtest/gtest.h>

#include <string>

#include "support/child_process.h"
#include "support/sim_fixture.h"

namespace qrx::test {
namespace {

TEST(LampStateAcrossProcesses, AnotherProcessSeesTheWarmedFilmLight) {
  setenv("QRX7730_INSTALL_DIR", QRX_TEST_DATA_DIR, 1);
  platform::VirtualClock clock;
  platform::ScopedClock use_clock(clock);
  emu::Options options;
  options.film_light = emu::Options::FilmLight::kWarm;
  auto scanner = emu::reset_inprocess_scanner(options);
  ASSERT_NE(scanner, nullptr);
  const std::string path = "sim:#lamp-state-" + std::to_string(getpid());
  ASSERT_EQ(FindScannerEx(nullptr, path.c_str(), QRX7730_USB_PRODUCT_ID), QRX_TRUE);
  api::library().context.reference_offset = scanner->expected_home_offset();
  SetLamp(nullptr, QRX_LAMP_FILM);
  int polls = 0;
  while (GetLampStatus(nullptr, 0) != QRX_TRUE && ++polls < 40) clock.advance_us(1'000'000);
  ASSERT_LT(polls, 40);

  ChildProcess reader({QRX_STATUS_CLIENT, "read", path});
  std::string line;
  ASSERT_TRUE(reader.read_line(line, 20000));
  EXPECT_EQ(line, "0 0 12") << "an existing block whose lamp state is the film light";
  EXPECT_EQ(reader.wait(20000), 0);
  // The completed warm-up is kept beside the block, for every process: the light
  // is not warmed again until it is switched or the scanner reset.
  ChildProcess warmed({QRX_STATUS_CLIENT, "warmed", path});
  ASSERT_TRUE(warmed.read_line(line, 20000));
  EXPECT_EQ(line, "12");
  EXPECT_EQ(warmed.wait(20000), 0);
  expect_library_left_idle(path);
  TerminateScanner(nullptr);
}

}  // namespace
}  // namespace qrx::test
