// The options and what they make, without a scanner: the sources from the ability
// record with the film area's geometry, the options that move with each other
// (mode and depth, preview and resolution), the tone curves worked by hand, and
// lines thresholded and packed as SANE frames one-bit images.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "line_convert.h"
#include "options.h"
#include "sources.h"
#include "tone_curve.h"

namespace qrx::sane {
namespace {

// The options' scanner side where none is needed.
class NoScanner : public OptionHost {
 public:
  SANE_Status calibrate() override { return SANE_STATUS_UNSUPPORTED; }
  SANE_Status button_pressed(int, bool& pressed) override {
    pressed = false;
    return SANE_STATUS_GOOD;
  }
};

// The model's ability record as read, with a film area where asked: the film
// window limits' corners, in 1/9600 inch.
qrxscan::Abilities abilities(bool film) {
  qrxscan::Abilities a;
  a.resolutions = {75, 150, 300, 600, 1200, 2400, 4800};
  a.area_unit = 9600;
  a.glass_width = 81664;
  a.glass_length = 112256;
  if (film) {
    a.film_x = 71040;
    a.film_y = 21760;
    a.film_width = 23616;
    a.film_length = 182720;
  }
  return a;
}

class Options : public ::testing::Test {
 protected:
  void make(bool film) { options = std::make_unique<ScanOptions>(sources_of(abilities(film))); }
  SANE_Status set_word(SANE_Int option, SANE_Word value, SANE_Int* info = nullptr) {
    return options->control(option, SANE_ACTION_SET_VALUE, &value, info, host, false);
  }
  SANE_Status set_text(SANE_Int option, const char* text, SANE_Int* info = nullptr) {
    char value[32];
    std::strcpy(value, text);
    return options->control(option, SANE_ACTION_SET_VALUE, value, info, host, false);
  }
  SANE_Word word(SANE_Int option) {
    SANE_Word value = -1;
    EXPECT_EQ(options->control(option, SANE_ACTION_GET_VALUE, &value, nullptr, host, false),
              SANE_STATUS_GOOD);
    return value;
  }
  std::string text(SANE_Int option) {
    char value[32] = "";
    EXPECT_EQ(options->control(option, SANE_ACTION_GET_VALUE, value, nullptr, host, false),
              SANE_STATUS_GOOD);
    return value;
  }
  bool active(SANE_Int option) { return SANE_OPTION_IS_ACTIVE(options->descriptor(option)->cap); }

  NoScanner host;
  std::unique_ptr<ScanOptions> options;
};

TEST_F(Options, TheSourcesAreTheLightsTheAbilityRecordOffers) {
  make(false);
  const SANE_String_Const* names = options->descriptor(kSource)->constraint.string_list;
  EXPECT_STREQ(names[0], "Flatbed");
  EXPECT_EQ(names[1], nullptr);
  EXPECT_EQ(set_text(kSource, "Transparency"), SANE_STATUS_INVAL);

  make(true);
  names = options->descriptor(kSource)->constraint.string_list;
  EXPECT_STREQ(names[0], "Flatbed");
  EXPECT_STREQ(names[1], "Transparency");
  EXPECT_EQ(names[2], nullptr);
  EXPECT_EQ(text(kSource), "Flatbed");
  EXPECT_FALSE(options->settings().film);
  EXPECT_EQ(options->settings().light, QRX_LAMP_FLATBED);
}

TEST_F(Options, TheTransparencySourceScansTheFilmAreaFrom300Dpi) {
  make(true);
  ASSERT_EQ(set_word(kResolution, 75), SANE_STATUS_GOOD);
  SANE_Int info = 0;
  ASSERT_EQ(set_text(kSource, "transparency", &info), SANE_STATUS_GOOD);
  EXPECT_EQ(info & (SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS),
            SANE_INFO_RELOAD_OPTIONS | SANE_INFO_RELOAD_PARAMS);
  EXPECT_EQ(text(kSource), "Transparency");
  // The film area: 23616 x 182720 units of 1/9600 inch = 62.484 x 483.447 mm,
  // taken whole.
  const SANE_Range* x = options->descriptor(kBottomRightX)->constraint.range;
  const SANE_Range* y = options->descriptor(kBottomRightY)->constraint.range;
  EXPECT_NEAR(SANE_UNFIX(x->max), 62.484, 0.001);
  EXPECT_NEAR(SANE_UNFIX(y->max), 483.447, 0.001);
  EXPECT_EQ(word(kTopLeftX), 0);
  EXPECT_EQ(word(kBottomRightX), x->max);
  EXPECT_EQ(word(kBottomRightY), y->max);
  // No film window below 300 dpi: 75 became 300, and 150 is not offered.
  const SANE_Word* list = options->descriptor(kResolution)->constraint.word_list;
  EXPECT_EQ(list[0], 5);
  EXPECT_EQ(list[1], 300);
  EXPECT_EQ(word(kResolution), 300);
  ASSERT_EQ(set_word(kResolution, 150, &info), SANE_STATUS_GOOD);
  EXPECT_TRUE(info & SANE_INFO_INEXACT);
  EXPECT_EQ(word(kResolution), 300);

  // A window 10 mm in and 20 mm down, 25.4 x 50.8 mm: 3780 and 7559 units into the
  // film area, whose corner lies at (71040, 21760) from the scan origin.
  ASSERT_EQ(set_word(kTopLeftX, SANE_FIX(10)), SANE_STATUS_GOOD);
  ASSERT_EQ(set_word(kTopLeftY, SANE_FIX(20)), SANE_STATUS_GOOD);
  ASSERT_EQ(set_word(kBottomRightX, SANE_FIX(35.4)), SANE_STATUS_GOOD);
  ASSERT_EQ(set_word(kBottomRightY, SANE_FIX(70.8)), SANE_STATUS_GOOD);
  const ScanSettings settings = options->settings();
  EXPECT_TRUE(settings.film);
  EXPECT_EQ(settings.light, QRX_LAMP_FILM);
  ScanWindow window;
  std::string error;
  ASSERT_TRUE(window_on_glass(settings, options->glass(), window, error)) << error;
  EXPECT_EQ(window.x, 71040u + 3780);
  EXPECT_EQ(window.y, 21760u + 7559);
  EXPECT_EQ(window.width, 9600u);
  EXPECT_EQ(window.length, 19200u);
  const ScanParameter record = scan_parameter(settings, window);
  EXPECT_EQ(record.FilmArea, 1);
  EXPECT_EQ(record.xRes, 300);
  // 0.08 mm at the film area's far edge: narrower than the 128 units the scanner takes.
  ASSERT_EQ(set_word(kBottomRightX, SANE_FIX(62.48)), SANE_STATUS_GOOD);
  ASSERT_EQ(set_word(kTopLeftX, SANE_FIX(62.4)), SANE_STATUS_GOOD);
  EXPECT_FALSE(window_on_glass(options->settings(), options->glass(), window, error));
  EXPECT_NE(error.find("at least 0.34 mm"), std::string::npos) << error;

  // A preview of film is made at 300 dpi; back on the flatbed the glass is whole again.
  ASSERT_EQ(set_word(kPreview, SANE_TRUE), SANE_STATUS_GOOD);
  EXPECT_EQ(word(kResolution), 300);
  ASSERT_EQ(set_text(kSource, "Flatbed"), SANE_STATUS_GOOD);
  EXPECT_EQ(word(kResolution), 75);  // the flatbed's preview
  EXPECT_NEAR(SANE_UNFIX(word(kBottomRightX)), 216.069, 0.001);
  EXPECT_FALSE(options->settings().film);
}

TEST_F(Options, OneBitIsLineartAndPreviewSetsWhatItScansAt) {
  make(false);
  SANE_Int info = 0;
  EXPECT_FALSE(active(kThreshold));
  ASSERT_EQ(set_text(kMode, "Lineart", &info), SANE_STATUS_GOOD);
  EXPECT_TRUE(info & SANE_INFO_RELOAD_OPTIONS);
  EXPECT_EQ(word(kDepth), 1);
  EXPECT_TRUE(active(kThreshold));
  ScanSettings settings = options->settings();
  EXPECT_TRUE(settings.lineart);
  EXPECT_FALSE(settings.colour);
  EXPECT_EQ(settings.depth, 8);  // read as 8-bit grey
  // 8 bits leave Lineart for Gray; 1 bit (as simple-scan's text mode asks) is Lineart.
  ASSERT_EQ(set_word(kDepth, 8, &info), SANE_STATUS_GOOD);
  EXPECT_EQ(text(kMode), "Gray");
  EXPECT_FALSE(active(kThreshold));
  ASSERT_EQ(set_text(kMode, "Color"), SANE_STATUS_GOOD);
  ASSERT_EQ(set_word(kDepth, 1, &info), SANE_STATUS_GOOD);
  EXPECT_TRUE(info & SANE_INFO_RELOAD_OPTIONS);
  EXPECT_EQ(text(kMode), "Lineart");
  // Threshold 40 %: levels below 102 are black.
  ASSERT_EQ(set_word(kThreshold, SANE_FIX(40)), SANE_STATUS_GOOD);
  EXPECT_DOUBLE_EQ(options->threshold_level(), 102.0);
  ASSERT_EQ(set_text(kMode, "Color"), SANE_STATUS_GOOD);
  EXPECT_EQ(word(kDepth), 8);
  EXPECT_EQ(set_word(kThreshold, SANE_FIX(60)), SANE_STATUS_INVAL);  // inactive

  // Preview: the lowest resolution and 8 bits, as the options read; set back after.
  ASSERT_EQ(set_word(kResolution, 600), SANE_STATUS_GOOD);
  ASSERT_EQ(set_word(kDepth, 16), SANE_STATUS_GOOD);
  ASSERT_EQ(set_word(kPreview, SANE_TRUE, &info), SANE_STATUS_GOOD);
  EXPECT_TRUE(info & SANE_INFO_RELOAD_OPTIONS);
  EXPECT_EQ(word(kResolution), 75);
  EXPECT_EQ(word(kDepth), 8);
  settings = options->settings();
  EXPECT_EQ(settings.dpi, 75);
  EXPECT_EQ(settings.depth, 8);
  ASSERT_EQ(set_word(kPreview, SANE_FALSE), SANE_STATUS_GOOD);
  EXPECT_EQ(word(kResolution), 600);
  EXPECT_EQ(word(kDepth), 16);
  // A resolution chosen while preview is on is the one scanned at, and kept.
  ASSERT_EQ(set_word(kPreview, SANE_TRUE), SANE_STATUS_GOOD);
  ASSERT_EQ(set_word(kResolution, 300), SANE_STATUS_GOOD);
  EXPECT_EQ(options->settings().dpi, 300);
  ASSERT_EQ(set_word(kPreview, SANE_FALSE), SANE_STATUS_GOOD);
  EXPECT_EQ(word(kResolution), 300);
  EXPECT_EQ(word(kDepth), 16);
}

TEST_F(Options, CustomGammaTakesThePlaceOfBrightnessAndContrast) {
  make(false);
  EXPECT_TRUE(active(kBrightness));
  EXPECT_FALSE(active(kGammaTable));
  EXPECT_FALSE(active(kRedGammaTable));
  ASSERT_EQ(set_word(kCustomGamma, SANE_TRUE), SANE_STATUS_GOOD);
  EXPECT_FALSE(active(kBrightness));
  EXPECT_FALSE(active(kContrast));
  EXPECT_FALSE(active(kGammaTable));  // colour: one table a channel
  EXPECT_TRUE(active(kRedGammaTable));
  EXPECT_TRUE(active(kBlueGammaTable));
  EXPECT_EQ(options->descriptor(kRedGammaTable)->size, 256 * SANE_Int(sizeof(SANE_Word)));
  ASSERT_EQ(set_text(kMode, "Gray"), SANE_STATUS_GOOD);
  EXPECT_TRUE(active(kGammaTable));
  EXPECT_FALSE(active(kRedGammaTable));
  // A table entry out of range is fitted, and the caller told.
  std::vector<SANE_Word> table(256);
  for (int i = 0; i < 256; ++i) table[i] = 255 - i;
  table[7] = 300;
  SANE_Int info = 0;
  ASSERT_EQ(options->control(kGammaTable, SANE_ACTION_SET_VALUE, table.data(), &info, host, false),
            SANE_STATUS_GOOD);
  EXPECT_TRUE(info & SANE_INFO_INEXACT);
  EXPECT_EQ(table[7], 255);
  std::vector<SANE_Word> read(256, -1);
  ASSERT_EQ(options->control(kGammaTable, SANE_ACTION_GET_VALUE, read.data(), nullptr, host, false),
            SANE_STATUS_GOOD);
  EXPECT_EQ(read, table);
  const ToneRequest request = options->tone();
  EXPECT_TRUE(request.custom);
  EXPECT_FALSE(request.colour);
  EXPECT_EQ(request.tables[0][200], 55);
}

TEST(ToneCurve, BrightnessContrastAndTablesAsWorkedByHand) {
  ToneRequest request;
  EXPECT_TRUE(is_identity(tone_curves(request)[0]));
  // +20 %: every level 13107 (20 % of 65535) higher, up to white.
  request.brightness = 20;
  ToneCurves curves = tone_curves(request);
  EXPECT_EQ(curves[0][0], 13107);
  EXPECT_EQ(curves[1][32768], 45875);
  EXPECT_EQ(curves[2][52428], 65535);
  EXPECT_EQ(curves[0][52427], 65534);
  EXPECT_TRUE(is_monotonic(curves[0]));
  // Contrast 50 %: three times as steep about the middle; 0.6 of white becomes 0.8.
  request.brightness = 0;
  request.contrast = 50;
  curves = tone_curves(request);
  EXPECT_EQ(curves[0][39321], 52428);
  EXPECT_EQ(curves[0][21845], 0);  // 1/3 of white: 0.5 - (1/6) * 3
  // -100 % leaves mid-grey everywhere; 100 % makes a step there.
  request.contrast = -100;
  EXPECT_EQ(tone_curves(request)[0][0], 32768);
  EXPECT_EQ(tone_curves(request)[0][65535], 32768);
  request.contrast = 100;
  EXPECT_EQ(tone_curves(request)[0][32767], 0);
  EXPECT_EQ(tone_curves(request)[0][32768], 65535);

  // Custom tables, one a channel in colour: entry k of a table is the curve at
  // input 257 k; between entries the curve runs straight.
  std::vector<SANE_Word> grey(256), red(256), green(256), blue(256);
  for (int k = 0; k < 256; ++k) {
    grey[k] = k;
    red[k] = 255 - k;  // falling: a negative
    green[k] = k / 2;
    blue[k] = k < 128 ? 2 * k : 255 - 2 * (k - 128);  // up and down again
  }
  request = ToneRequest{};
  request.custom = true;
  request.tables = {grey.data(), red.data(), green.data(), blue.data()};
  curves = tone_curves(request);
  EXPECT_EQ(curves[0][257 * 10], 65535 - 257 * 10);
  EXPECT_EQ(curves[1][257 * 100], 257 * 50);
  // Between entries 101 (50) and 102 (51), 128/257 of the way.
  EXPECT_EQ(curves[1][257 * 101 + 128], 257 * 50 + 128);
  EXPECT_TRUE(is_monotonic(curves[0]));
  EXPECT_FALSE(is_monotonic(curves[2]));
  request.colour = false;  // grey: the grey table for every channel
  curves = tone_curves(request);
  EXPECT_TRUE(is_identity(curves[0]));
  EXPECT_TRUE(is_identity(curves[2]));
}

TEST(LineConverter, LineartIsEightPixelsAByteWithBlackAsOne) {
  LineFormat format;
  format.pixels = 10;
  format.channels = 1;
  format.lineart = true;
  format.threshold = 127.5;
  LineConverter converter(format, nullptr);
  EXPECT_EQ(converter.input_bytes(), 10u);
  EXPECT_EQ(converter.output_bytes(), 2u);
  uint8_t line[10] = {0, 255, 127, 128, 10, 200, 30, 40, 250, 5};
  const uint8_t* packed = converter.convert(line);
  // Black where below the threshold: 1 0 1 0 1 0 1 1 | 0 1.
  EXPECT_EQ(packed[0], 0b10101011);
  EXPECT_EQ(packed[1], 0b01000000);
}

TEST(LineConverter, CurvesTheLibraryDidNotTakeAreAppliedHere) {
  ToneRequest request;
  request.brightness = 20;
  auto curves = std::make_shared<const ToneCurves>(tone_curves(request));
  LineFormat narrow;
  narrow.pixels = 2;
  narrow.channels = 3;
  LineConverter eight(narrow, curves);
  // +20 % of 255 is +51.
  uint8_t line[6] = {0, 100, 204, 205, 255, 10};
  const uint8_t* out = eight.convert(line);
  const uint8_t expected[6] = {51, 151, 255, 255, 255, 61};
  EXPECT_EQ(std::memcmp(out, expected, 6), 0);
  LineFormat wide = narrow;
  wide.pixels = 1;
  wide.channels = 1;
  wide.wide = true;
  LineConverter sixteen(wide, curves);
  uint8_t sample[2] = {0x00, 0x80};  // 32768, little-endian
  const uint8_t* raised = sixteen.convert(sample);
  uint16_t value = 0;
  std::memcpy(&value, raised, 2);  // in the machine's order now
  EXPECT_EQ(value, 32768 + 13107);
}

}  // namespace
}  // namespace qrx::sane
