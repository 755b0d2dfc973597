// The data file: where it is looked for, what a broken one does, and how the
// gamma tables are composed with it. Every test keeps its files in a directory of
// its own, given as the install directory; the file beside the library, which
// other tests load, is never touched.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "imaging/gamma.h"
#include "platform/paths.h"
#include "support/sim_fixture.h"
#include "tone_curves/data_file.h"

namespace qrx::test {
namespace {

// Writes a data file whose three curves are entry i = (i + shift) mod 65536.
void write_curves(const std::string& path, uint16_t shift,
                  size_t bytes = tone_curves::kDataFileBytes) {
  std::vector<uint8_t> data(tone_curves::kDataFileBytes);
  for (size_t i = 0; i < tone_curves::kRegionEntries; ++i) {
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
    ASSERT_FALSE(temp.path().empty());
    dir_ = temp.path() + "/";
    setenv("QRX7730_INSTALL_DIR", dir_.c_str(), 1);
  }
  std::string file(const std::string& name) const { return dir_ + name; }
  std::string dir_;
};

TEST_F(DataFileTest, TheInstallDirectoryIsUsedAsWritten) {
  auto store = std::make_unique<tone_curves::DataFileStore>();
  write_curves(file("QRX7730N.dat"), 7);
  ASSERT_TRUE(tone_curves::load_data_file(*store));
  EXPECT_EQ(store->region[0][0], 7);
  EXPECT_EQ(store->region[0][65536 + 10], 17);
  EXPECT_EQ(store->region[1][5], 0) << "only the flatbed region is filled";

  // Without its trailing separator the name is appended as it is: "<dir>QRX7730N.dat".
  setenv("QRX7730_INSTALL_DIR", (dir_ + "sub").c_str(), 1);
  write_curves(file("subQRX7730N.dat"), 11);
  ASSERT_TRUE(tone_curves::load_data_file(*store));
  EXPECT_EQ(store->region[0][0], 11);
}

TEST_F(DataFileTest, TheConfiguredFileComesFirstAndTheOneBesideTheLibraryAfter) {
  auto store = std::make_unique<tone_curves::DataFileStore>();
  const std::string configured = file("configured.dat");
  const std::string beside = file("beside.dat");
  write_curves(configured, 7);
  write_curves(beside, 3);
  const std::string shared = file("shared.dat");
  write_curves(shared, 5);
  ASSERT_TRUE(tone_curves::load_data_file(*store, {configured, shared, beside}));
  EXPECT_EQ(store->region[0][0], 7);
  std::remove(configured.c_str());
  ASSERT_TRUE(tone_curves::load_data_file(*store, {configured, shared, beside}));
  EXPECT_EQ(store->region[0][0], 5) << "fell back to the installed data directory";
  std::remove(shared.c_str());
  ASSERT_TRUE(tone_curves::load_data_file(*store, {configured, shared, beside}));
  EXPECT_EQ(store->region[0][0], 3) << "fell back to the file beside the library";
  write_curves(configured, 9);
  ASSERT_TRUE(tone_curves::load_data_file(*store, {"", shared, beside})) << "nothing configured";
  EXPECT_EQ(store->region[0][0], 3);
  std::remove(beside.c_str());
  std::remove(configured.c_str());
  EXPECT_FALSE(tone_curves::load_data_file(*store, {configured, shared, beside}))
      << "no file anywhere";

  // The installed data directory lies in the prefix the library is installed in.
  EXPECT_NE(tone_curves::shared_data_candidate().find("/share/qrx7730/QRX7730N.dat"),
            std::string::npos)
      << tone_curves::shared_data_candidate();
}

TEST_F(DataFileTest, AShortFileIsRefusedAndTheCurvesStayWhole) {
  auto store = std::make_unique<tone_curves::DataFileStore>();
  write_curves(file("QRX7730N.dat"), 5);
  ASSERT_TRUE(tone_curves::load_data_file(*store));
  write_curves(file("QRX7730N.dat"), 9, 100);
  EXPECT_FALSE(tone_curves::load_data_file(*store));
  EXPECT_EQ(store->region[0][0], 5) << "nothing of the short file was taken";
  EXPECT_EQ(store->region[0][150000], static_cast<uint16_t>(150000 % 65536 + 5));
}

TEST_F(DataFileTest, FindScannerFailsWithoutAUsableDataFileAndClosesTheDevice) {
  write_curves(file("QRX7730N.dat"), 0, 100);
  EXPECT_FALSE(open_scanner());
  EXPECT_EQ(last_error(), QRX_E_DATA_FILE);
  EXPECT_EQ(lib().device_open, 0u);
  EXPECT_FALSE(lib().context.link.is_open());
  EXPECT_EQ(lib().status_block.busy(), 0u);
}

// Composition works on a store the test fills itself; it needs no data file.
class ComposeTest : public SimTest {};

TEST_F(ComposeTest, TheGammaTablesTakeTheCurveOfTheLightOnceWhateverTheScanCount) {
  ASSERT_TRUE(open_scanner());
  auto& context = lib().context;
  auto store = std::make_unique<tone_curves::DataFileStore>();
  for (size_t i = 0; i < tone_curves::kRegionEntries; ++i) {
    store->region[0][i] = static_cast<uint16_t>(65535 - i % 65536);  // an inverting curve
  }
  store->filled[0] = true;
  // The caller's curve: entry i = i / 4 on every channel, and one marked entry.
  std::vector<uint16_t> caller(65536);
  for (size_t i = 0; i < caller.size(); ++i) caller[i] = static_cast<uint16_t>(i / 4);
  caller[65535] = 4242;
  ASSERT_EQ(imaging::set_gamma(context, {QRX_LAMP_NONE}, caller.data(), 0, QRX_OK), QRX_OK);

  context.lamp_select = 1;
  for (int scan = 0; scan < 3; ++scan) {
    ASSERT_EQ(tone_curves::compose_with_data_file(context, *store), QRX_OK);
    EXPECT_EQ(context.gamma_table[0][0], 4242) << "entry i = caller's entry at curve[i]";
    EXPECT_EQ(context.gamma_table[1][100], 65435 / 4) << "scan " << scan;
    EXPECT_EQ(context.gamma_table[2][65535], 0);
  }

  // Power-on gives the identity as the caller's curve: one start gives the data curve.
  TerminateScanner(nullptr);
  ASSERT_TRUE(open_scanner());
  context.lamp_select = 1;
  ASSERT_EQ(tone_curves::compose_with_data_file(context, *store), QRX_OK);
  ASSERT_EQ(tone_curves::compose_with_data_file(context, *store), QRX_OK);
  EXPECT_EQ(context.gamma_table[2][7], 65528);
  EXPECT_EQ(context.gamma_table[0][65535], 0);

  // Film and the other lights have no curves in the file: composing with their
  // all-zero regions would black every scan out. Their tables are the caller's own
  // curve (here the identity), not what an earlier flatbed start left.
  context.lamp_select = 12;
  context.film_type = 1;
  ASSERT_EQ(tone_curves::compose_with_data_file(context, *store), QRX_OK);
  EXPECT_EQ(context.gamma_table[2][7], 7);
  EXPECT_EQ(context.gamma_table[0][65535], 65535);
  context.film_type = 0;
  context.lamp_select = 255;
  ASSERT_EQ(tone_curves::compose_with_data_file(context, *store), QRX_OK);
  EXPECT_EQ(context.gamma_table[1][100], 100);
}

}  // namespace
}  // namespace qrx::test
