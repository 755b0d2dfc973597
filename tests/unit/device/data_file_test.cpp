// The data file: where it is looked for, what a broken one does, and how the
// gamma tables are composed with it.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "device/data_file.h"
#include "platform/paths.h"
#include "support/sim_fixture.h"

namespace qrx::test {
namespace {

// Writes a data file whose three curves are entry i = (i + shift) mod 65536.
void write_curves(const std::string& path, uint16_t shift, size_t bytes = device::kDataFileBytes) {
  std::vector<uint8_t> data(device::kDataFileBytes);
  for (size_t i = 0; i < device::kRegionEntries; ++i) {
    const uint16_t v = static_cast<uint16_t>((i % 65536) + shift);
    data[2 * i] = static_cast<uint8_t>(v);
    data[2 * i + 1] = static_cast<uint8_t>(v >> 8);
  }
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite(data.data(), 1, bytes, f), bytes);
  std::fclose(f);
}

class DataFileTest : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    char pattern[] = "/tmp/qrx-data-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
    // Only the lookup-order test writes files beside the test program and in its
    // shared data directory: the tests of this fixture run in parallel.
    beside_ = device::beside_library_candidate();
    ASSERT_FALSE(beside_.empty());
  }
  void TearDown() override {
    SimTest::TearDown();
    std::system(("rm -rf '" + dir_ + "'").c_str());
  }
  std::string dir_, beside_;
};

TEST_F(DataFileTest, TheInstallDirectoryComesFirstAndIsUsedAsWritten) {
  auto store = std::make_unique<device::DataFileStore>();
  std::remove(beside_.c_str());
  write_curves(dir_ + "/QRX7730N.dat", 7);
  write_curves(beside_, 3);
  setenv("QRX7730_INSTALL_DIR", (dir_ + "/").c_str(), 1);
  ASSERT_TRUE(device::load_data_file(*store));
  EXPECT_EQ(store->region[0][0], 7);
  EXPECT_EQ(store->region[0][65536 + 10], 17);
  EXPECT_EQ(store->region[1][5], 0) << "only the flatbed region is filled";

  // Without its trailing separator the name is appended as it is: "<dir>QRX7730N.dat".
  setenv("QRX7730_INSTALL_DIR", dir_.c_str(), 1);
  ASSERT_TRUE(device::load_data_file(*store));
  EXPECT_EQ(store->region[0][0], 3) << "fell back to the file beside the library";
  write_curves(dir_ + "QRX7730N.dat", 11);
  ASSERT_TRUE(device::load_data_file(*store));
  EXPECT_EQ(store->region[0][0], 11);
  std::remove((dir_ + "QRX7730N.dat").c_str());

  unsetenv("QRX7730_INSTALL_DIR");
  ASSERT_TRUE(device::load_data_file(*store));
  EXPECT_EQ(store->region[0][0], 3);

  // The installed data directory, found from the library's own place, comes
  // after the configured directory and before the copy beside the library.
  const std::string shared = device::shared_data_candidate();
  ASSERT_NE(shared.find("/share/qrx7730/QRX7730N.dat"), std::string::npos) << shared;
  const std::string shared_dir = shared.substr(0, shared.rfind('/'));
  ASSERT_EQ(std::system(("mkdir -p '" + shared_dir + "'").c_str()), 0);
  write_curves(shared, 5);
  ASSERT_TRUE(device::load_data_file(*store));
  EXPECT_EQ(store->region[0][0], 5);
  setenv("QRX7730_INSTALL_DIR", (dir_ + "/").c_str(), 1);
  ASSERT_TRUE(device::load_data_file(*store));
  EXPECT_EQ(store->region[0][0], 7);
  unsetenv("QRX7730_INSTALL_DIR");
  std::remove(shared.c_str());

  std::remove(beside_.c_str());
  EXPECT_FALSE(device::load_data_file(*store)) << "no file anywhere";
}

TEST_F(DataFileTest, AShortFileIsRefusedAndTheCurvesStayWhole) {
  auto store = std::make_unique<device::DataFileStore>();
  write_curves(dir_ + "/QRX7730N.dat", 5);
  setenv("QRX7730_INSTALL_DIR", (dir_ + "/").c_str(), 1);
  ASSERT_TRUE(device::load_data_file(*store));
  write_curves(dir_ + "/QRX7730N.dat", 9, 100);
  EXPECT_FALSE(device::load_data_file(*store));
  EXPECT_EQ(store->region[0][0], 5) << "nothing of the short file was taken";
  EXPECT_EQ(store->region[0][150000], static_cast<uint16_t>(150000 % 65536 + 5));
}

TEST_F(DataFileTest, FindScannerFailsWithoutAUsableDataFileAndClosesTheDevice) {
  write_curves(dir_ + "/QRX7730N.dat", 0, 100);
  setenv("QRX7730_INSTALL_DIR", (dir_ + "/").c_str(), 1);
  EXPECT_FALSE(open_scanner());
  EXPECT_EQ(last_error(), QRX_E_DATA_FILE);
  EXPECT_EQ(lib().device_open, 0u);
  EXPECT_FALSE(lib().context.link.is_open());
  EXPECT_EQ(lib().status_block.busy(), 0u);
}

TEST_F(DataFileTest, ComposingTheGammaTablesAppliesTheCurveOfTheLight) {
  ASSERT_TRUE(open_scanner());
  auto& context = lib().context;
  auto store = std::make_unique<device::DataFileStore>();
  for (size_t i = 0; i < device::kRegionEntries; ++i) {
    store->region[0][i] = static_cast<uint16_t>(65535 - i % 65536);  // an inverting curve
    store->region[2][i] = static_cast<uint16_t>(i % 65536 / 2);
  }
  context.gamma_table[0][65535] = 4242;
  context.lamp_select = 1;
  ASSERT_EQ(device::compose_with_data_file(context, *store), QRX_OK);
  EXPECT_EQ(context.gamma_table[0][0], 4242) << "new entry i = old entry at curve[i]";
  EXPECT_EQ(context.gamma_table[1][100], 65435);
  context.lamp_select = 255;  // no light: the third region
  ASSERT_EQ(device::compose_with_data_file(context, *store), QRX_OK);
  EXPECT_EQ(context.gamma_table[1][200], 65435) << "composed twice, as two scan starts do";
}

}  // namespace
}  // namespace qrx::test
