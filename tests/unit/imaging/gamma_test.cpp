// Gamma tables: the stored 2.2 curve against its formula, the expansion curves
// derived from recognised and estimated exponents, and SetGamma's channel and
// light rules.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "imaging/gamma.h"
#include "qrx7730.h"

namespace qrx::imaging {
namespace {

// A caller's curve output = input^(1/g), truncated.
std::vector<uint16_t> power_curve(double g) {
  std::vector<uint16_t> table(65536);
  for (uint32_t i = 0; i < table.size(); ++i) {
    table[i] = static_cast<uint16_t>(65535.0 * std::pow(i / 65535.0, 1.0 / g));
  }
  return table;
}

uint16_t expected_expansion(double g, uint32_t i) {
  return static_cast<uint16_t>(65535.0 * std::pow(i / 255.0, g));
}

class GammaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (uint32_t c = 0; c < 3; ++c) {
      context.gamma_table[c].assign(65536, 0);
      context.caller_gamma[c].assign(65536, 0);
      context.expand_table[c].resize(256);
      for (uint32_t i = 0; i < 256; ++i)
        context.expand_table[c][i] = static_cast<uint16_t>(i * 256);
    }
  }
  transport::ScannerContext context;
};

TEST(GammaCurveTest, TheStoredCurveIsTheTruncatedPowerCurve) {
  for (uint32_t i = 0; i < 256; ++i) {
    EXPECT_EQ(kReferenceCurve22[i], expected_expansion(2.2, i)) << i;
  }
  EXPECT_EQ(kReferenceCurve22[1], 0);
  EXPECT_EQ(kReferenceCurve22[3], 3);
  EXPECT_EQ(kReferenceCurve22[128], 14386);
  EXPECT_EQ(kReferenceCurve22[255], 65535);
}

TEST(GammaCurveTest, ExponentsAreRecognisedOrEstimatedToTwoDecimals) {
  std::vector<uint16_t> identity(65536);
  for (uint32_t i = 0; i < identity.size(); ++i) identity[i] = static_cast<uint16_t>(i);
  EXPECT_EQ(estimate_exponent(identity.data()), 1.0);
  EXPECT_EQ(estimate_exponent(power_curve(1.8).data()), 1.8) << "entry 16384 is 30338";
  EXPECT_EQ(power_curve(2.2)[16384], 34898);
  // Not a recognised key: estimated where the curve is furthest from the identity.
  EXPECT_NEAR(estimate_exponent(power_curve(1.5).data()), 1.5, 1e-9);
  EXPECT_NEAR(estimate_exponent(power_curve(0.5).data()), 0.5, 1e-9);
  EXPECT_EQ(estimate_exponent(std::vector<uint16_t>(65536, 0).data()), -1.0);
  // Far beyond the accepted range: exponent 20.
  EXPECT_EQ(estimate_exponent(power_curve(20.0).data()), -1.0);
  // At the lower edge: the identity but for entry 60000, where ln x / ln y rounds to
  // 0.10 (y = 26000 / 65535) or to 0.09 (y = 25600 / 65535); entry 16384 moved off
  // the identity's key by one.
  std::vector<uint16_t> edge = identity;
  edge[16384] = 16385;
  edge[60000] = 26000;
  EXPECT_EQ(estimate_exponent(edge.data()), 0.1);
  edge[60000] = 25600;
  EXPECT_EQ(estimate_exponent(edge.data()), -1.0);

  std::vector<uint16_t> expand(256, 0xEEEE);
  ASSERT_TRUE(derive_expansion(identity.data(), expand.data()));
  for (uint32_t i = 0; i < 256; ++i) ASSERT_EQ(expand[i], 257 * i) << "not the power-on 256 * i";
  ASSERT_TRUE(derive_expansion(power_curve(1.5).data(), expand.data()));
  for (uint32_t i = 0; i < 256; ++i) ASSERT_EQ(expand[i], expected_expansion(1.5, i)) << i;
  EXPECT_FALSE(derive_expansion(nullptr, expand.data()));
}

TEST_F(GammaTest, ChannelsLoadAsAskedAndAFailingChannelKeepsItsTables) {
  const std::vector<uint16_t> curve = power_curve(2.2);
  // Channel 2 is green only.
  EXPECT_EQ(set_gamma(context, {QRX_LAMP_FLATBED}, curve.data(), 2, 0x1234), QRX_OK);
  EXPECT_EQ(context.gamma_table[1], curve);
  EXPECT_EQ(context.caller_gamma[1], curve);
  EXPECT_EQ(context.expand_table[1][128], 14386) << "the stored curve";
  EXPECT_EQ(context.gamma_table[0][40000], 0);
  EXPECT_EQ(context.expand_table[2][1], 256);

  // A constant 0 table: no exponent, 0x9700, nothing of the channel changes.
  const std::vector<uint16_t> zero(65536, 0);
  EXPECT_EQ(set_gamma(context, {QRX_LAMP_FLATBED}, zero.data(), 2, QRX_OK), QRX_E_PARAMETER);
  EXPECT_EQ(context.gamma_table[1], curve);
  EXPECT_EQ(context.expand_table[1][128], 14386);

  // Channel 0: all three, in order.
  EXPECT_EQ(set_gamma(context, {QRX_LAMP_FLATBED}, curve.data(), 0, 0x1234), QRX_OK);
  EXPECT_EQ(context.gamma_table[0], curve);
  EXPECT_EQ(context.gamma_table[2], curve);

  // Channel 4 changes nothing and leaves the last error as it was.
  EXPECT_EQ(set_gamma(context, {QRX_LAMP_FLATBED}, zero.data(), 4, 0x1234), 0x1234);
  EXPECT_EQ(set_gamma(context, {QRX_LAMP_FLATBED}, zero.data(), 4, QRX_OK), QRX_OK);
  EXPECT_EQ(context.gamma_table[0], curve);
}

TEST_F(GammaTest, UnderAFilmLightOnlyTheGammaTableIsReplaced) {
  const std::vector<uint16_t> zero(65536, 0);
  std::vector<uint16_t> marked(65536, 7);
  context.gamma_table[0] = marked;
  EXPECT_EQ(set_gamma(context, {QRX_LAMP_FILM_STORED}, zero.data(), 1, 0x1234), QRX_OK);
  EXPECT_EQ(context.gamma_table[0], zero);
  EXPECT_EQ(context.caller_gamma[0], zero);
  EXPECT_EQ(context.expand_table[0][255], 255 * 256);

  // Before the power-on gives the context its tables there is nothing to load.
  transport::ScannerContext bare;
  EXPECT_EQ(set_gamma(bare, {QRX_LAMP_FILM_STORED}, zero.data(), 1, QRX_OK), QRX_E_PARAMETER);
}

}  // namespace
}  // namespace qrx::imaging
