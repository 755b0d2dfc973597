// The shading file store: names, layout, save and load, the scan counter, and files
// that are damaged, half written, linked elsewhere or not the user's.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "calibration/shading_files.h"
#include "calibration/shading_math.h"
#include "platform/clock.h"
#include "platform/memory.h"
#include "platform/paths.h"
#include "qrx7730.h"
#include "support/scripted_channel.h"
#include "support/temp_dir.h"

namespace qrx::calibration {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kPixels300 = 2568;
constexpr uint16_t kUnset = 0xAAAA;

Bytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}
void write_file(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}
uint16_t u16_at(const Bytes& b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

// The device context with the shading arrays power-on gives it, and a port type.
std::unique_ptr<transport::ScannerContext> make_context(uint32_t port_type) {
  auto context = std::make_unique<transport::ScannerContext>();
  for (auto* lines : {&context->shading_gain, &context->shading_offset, &context->shading_white}) {
    for (auto& line : *lines) line.assign(transport::kShadingEntries, kUnset);
  }
  if (port_type != 0) {
    auto device = std::make_shared<test::ScriptedDevice>();
    device->status_byte = port_type == 1 ? 0x08 : 0x00;  // bit 3 set: port type 1
    context->link.attach(std::make_unique<test::ScriptedChannel>(device));
    EXPECT_TRUE(context->link.identify(QRX7730_USB_PRODUCT_ID));
    EXPECT_EQ(context->link.port_type(), port_type);
  }
  return context;
}

bool untouched(const transport::ScannerContext& c) {
  for (const auto* lines : {&c.shading_gain, &c.shading_offset, &c.shading_white}) {
    for (const auto& line : *lines) {
      if (std::any_of(line.begin(), line.end(), [](uint16_t v) { return v != kUnset; })) {
        return false;
      }
    }
  }
  return c.shading_pixel_count == 0;
}

struct ShadingFiles : ::testing::Test {
  test::ScopedTempDir temp;
  platform::VirtualClock clock;
  platform::ScopedClock use_clock{clock};
  settings::ScannerSetting setting;
  std::unique_ptr<transport::ScannerContext> context = make_context(1);
  transport::ExposureSet exposure{{255, 255, 255, 255}, {0x1234, 0x2345, 0x3456, 0x4567}};
  ChannelLines white, dark;
  std::string dir;

  void SetUp() override {
    ASSERT_FALSE(temp.path().empty());
    dir = platform::temp_directory();
    ASSERT_EQ(dir, temp.library_dir());
    for (size_t c = 0; c < 4; ++c) {
      white[c].resize(transport::kShadingEntries);
      dark[c].resize(transport::kShadingEntries);
      for (size_t x = 0; x < white[c].size(); ++x) {
        white[c][x] = static_cast<uint16_t>(40000 + c * 1000 + x % 997);
        dark[c][x] = static_cast<uint16_t>(500 + c * 100 + x % 89);
      }
    }
  }
  std::string shading300() const { return dir + "QRX7730C.SHD"; }
  std::string counter() const { return dir + "QRX7730H.SHD"; }
  bool save_at(uint32_t resolution, uint8_t lamp_mode) {
    return save_shading(*context, {.resolution = resolution,
                                   .lamp_mode = lamp_mode,
                                   .exposure = exposure,
                                   .white = white,
                                   .dark = dark});
  }
  bool save300() { return save_at(300, kLampFlatbed); }
  uint16_t load_at(transport::ScannerContext& c, uint32_t resolution, uint8_t lamp_mode, bool count,
                   transport::ExposureSet& out) {
    return load_shading_for_scan(
        c, setting,
        {.resolution = resolution, .lamp_mode = lamp_mode, .bits_per_pixel = 48, .count = count},
        out);
  }
  uint16_t load300(transport::ScannerContext& c, bool count, transport::ExposureSet& out) {
    return load_at(c, 300, kLampFlatbed, count, out);
  }
  void set_counter(uint16_t value) {
    write_file(counter(), {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)});
  }
  uint16_t counter_value() { return u16_at(read_file(counter()), 0); }
  std::set<std::string> directory_entries() {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
  }
};

TEST_F(ShadingFiles, NamesAndSizes) {
  EXPECT_EQ(shading_file_path(*context, kLampFlatbed, 75), dir + "QRX7730A.SHD");
  EXPECT_EQ(shading_file_path(*context, kLampFlatbed, 150), dir + "QRX7730B.SHD");
  EXPECT_EQ(shading_file_path(*context, kLampFlatbed, 300), dir + "QRX7730C.SHD");
  EXPECT_EQ(shading_file_path(*context, kLampFlatbed, 600), dir + "QRX7730D.SHD");
  EXPECT_EQ(shading_file_path(*context, kLampFlatbed, 1200), dir + "QRX7730E.SHD");
  EXPECT_EQ(shading_file_path(*context, kLampFlatbed, 2400), dir + "QRX7730F.SHD");
  EXPECT_EQ(shading_file_path(*context, kLampFlatbed, 4800), dir + "QRX7730F.SHD");
  EXPECT_EQ(shading_file_path(*context, kLampFlatbed, 9600), dir + "Unknown.shd");
  EXPECT_EQ(shading_file_path(*context, kLampFlatbed, 100), dir + "Unknown.shd");
  // Film has files of its own, whichever film light calibrated.
  EXPECT_EQ(shading_file_path(*context, kLampFilm, 300), dir + "QRX7730P.SHD");
  EXPECT_EQ(shading_file_path(*context, kLampFilmSeries, 600), dir + "QRX7730Q.SHD");
  EXPECT_EQ(shading_file_path(*context, QRX_LAMP_INFRARED, 1200), dir + "QRX7730R.SHD");
  EXPECT_EQ(shading_file_path(*context, kLampFilm, 2400), dir + "QRX7730S.SHD");
  EXPECT_EQ(shading_file_path(*context, kLampFilmSeries, 4800), dir + "QRX7730S.SHD");
  EXPECT_EQ(shading_file_path(*context, kLampFilm, 150), dir + "UnknownF.shd");
  EXPECT_EQ(counter_file_path(*context), dir + "QRX7730H.SHD");
  EXPECT_EQ(shading_file_size(kLampFlatbed, 300), 41101u);
  EXPECT_EQ(shading_file_size(kLampFlatbed, 2400), 328717u);
  EXPECT_EQ(shading_file_size(kLampFlatbed, 4800), 328717u) << "4800 dpi is read at 2400 across";
  EXPECT_EQ(shading_file_size(kLampFilm, 300), 41101u) << "the whole sensor line, as the flatbed";
  EXPECT_EQ(shading_file_size(kLampFilm, 4800), 328717u);
}

TEST_F(ShadingFiles, SaveWritesTheLayoutAndACounterOfZero) {
  context->scan_count = 77;
  ASSERT_TRUE(save300());
  EXPECT_EQ(context->scan_count, 0);
  const Bytes file = read_file(shading300());
  ASSERT_EQ(file.size(), 41101u);
  const size_t n = kPixels300;
  EXPECT_EQ(file[0], 1) << "port type";
  EXPECT_EQ(Bytes(file.begin() + 1, file.begin() + 5), Bytes(4, 255));
  EXPECT_EQ(u16_at(file, 5), 0x1234);
  EXPECT_EQ(u16_at(file, 11), 0x4567);
  for (size_t c = 0; c < 4; ++c) {
    for (size_t x : {size_t{0}, n / 2, n - 1}) {
      EXPECT_EQ(u16_at(file, 13 + 2 * (c * n + x)), white[c][x]) << c << " " << x;
      EXPECT_EQ(u16_at(file, 13 + 8 * n + 2 * (c * n + x)), dark[c][x]) << c << " " << x;
    }
  }
  EXPECT_EQ(read_file(counter()), Bytes({0, 0}));
  struct stat st {};
  ASSERT_EQ(stat(shading300().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(directory_entries(), (std::set<std::string>{"QRX7730C.SHD", "QRX7730H.SHD"}))
      << "no temporary file is left behind";
}

// 4800 dpi scans are read at 2400 dpi across: one file in the 2400 dpi layout
// serves both, whichever saved it.
TEST_F(ShadingFiles, TheTopResolutionsShareOneFileInTheLayoutOf2400) {
  constexpr uint32_t kPixels2400 = 20544;
  for (uint32_t saved_at : {4800u, 2400u}) {
    SCOPED_TRACE(saved_at);
    ASSERT_TRUE(save_at(saved_at, kLampFlatbed));
    EXPECT_EQ(fs::file_size(dir + "QRX7730F.SHD"), 328717u);
    for (uint32_t scan_at : {4800u, 2400u}) {
      EXPECT_EQ(freshness_check(*context, scan_at, kLampFlatbed), 0) << scan_at;
      auto fresh = make_context(1);
      transport::ExposureSet loaded{};
      ASSERT_EQ(load_at(*fresh, scan_at, kLampFlatbed, false, loaded), QRX_OK) << scan_at;
      EXPECT_EQ(fresh->shading_pixel_count, kPixels2400);
      EXPECT_EQ(fresh->shading_white[3][kPixels2400 - 1], white[3][kPixels2400 - 1]);
      EXPECT_EQ(fresh->shading_white[0][kPixels2400], kUnset);
    }
  }
}

TEST_F(ShadingFiles, FilmIsSavedApartAndShortLinesAreNotSaved) {
  context->scan_count = 5;
  EXPECT_TRUE(save_at(300, kLampFilm));
  EXPECT_EQ(context->scan_count, 0);
  EXPECT_EQ(directory_entries(), (std::set<std::string>{"QRX7730P.SHD", "QRX7730H.SHD"}))
      << "the flatbed's 300 dpi file is not touched";
  const Bytes film = read_file(dir + "QRX7730P.SHD");
  ASSERT_EQ(film.size(), 41101u);
  EXPECT_EQ(u16_at(film, 13 + 2 * kPixels300 - 2), white[0][kPixels300 - 1]);
  fs::remove(dir + "QRX7730P.SHD");
  fs::remove(counter());
  white[2].resize(100);
  EXPECT_FALSE(save300()) << "a white line shorter than the file's";
  EXPECT_TRUE(directory_entries().empty());
}

TEST_F(ShadingFiles, LoadRoundTripComputesTheShadingAndCounts) {
  ASSERT_TRUE(save300());
  transport::ExposureSet loaded{};
  ASSERT_EQ(load300(*context, true, loaded), QRX_OK);
  EXPECT_EQ(loaded.channel, exposure.channel);
  EXPECT_EQ(loaded.exposure, exposure.exposure);
  EXPECT_EQ(context->shading_pixel_count, kPixels300);
  ChannelLines gain = white, offset = dark;
  compute_shading(setting,
                  {.pixel_count = kPixels300,
                   .lamp_mode = kLampFlatbed,
                   .resolution = 300,
                   .bits_per_pixel = 48,
                   .port_type = 1},
                  gain, offset);
  for (size_t c = 0; c < 4; ++c) {
    for (size_t x = 0; x < kPixels300; ++x) {
      ASSERT_EQ(context->shading_white[c][x], white[c][x]) << c << " " << x;
      ASSERT_EQ(context->shading_gain[c][x], gain[c][x]) << c << " " << x;
      ASSERT_EQ(context->shading_offset[c][x], offset[c][x]) << c << " " << x;
    }
    EXPECT_EQ(context->shading_gain[c][kPixels300], kUnset);
    EXPECT_EQ(context->shading_white[c][kPixels300], kUnset);
  }
  EXPECT_EQ(context->scan_count, 1);
  EXPECT_EQ(counter_value(), 1);
  ASSERT_EQ(load300(*context, false, loaded), QRX_OK);
  EXPECT_EQ(counter_value(), 1) << "not counted";
  set_counter(65535);
  ASSERT_EQ(load300(*context, true, loaded), QRX_OK);
  EXPECT_EQ(counter_value(), 65535) << "the count stops at its largest value";
}

TEST_F(ShadingFiles, TheThousandthScanMakesCalibrationDue) {
  ASSERT_TRUE(save300());
  EXPECT_EQ(freshness_check(*context, 300, kLampFlatbed), 0);
  set_counter(999);
  EXPECT_EQ(freshness_check(*context, 300, kLampFlatbed), 0);
  EXPECT_EQ(context->scan_count, 999);
  EXPECT_EQ(counter_value(), 999);
  transport::ExposureSet loaded{};
  ASSERT_EQ(load300(*context, true, loaded), QRX_OK);
  EXPECT_EQ(counter_value(), 1000);
  EXPECT_EQ(freshness_check(*context, 300, kLampFlatbed), 1);
  EXPECT_EQ(context->scan_count, 0);
  EXPECT_EQ(counter_value(), 0) << "reset by the check that reports it";
  EXPECT_EQ(freshness_check(*context, 300, kLampFlatbed), 0);
}

TEST_F(ShadingFiles, WithTheHostsGainsTheCounterStepsBackInstead) {
  ASSERT_TRUE(save300());
  context->ag_flag = 1;
  set_counter(1000);
  EXPECT_EQ(freshness_check(*context, 300, kLampFlatbed), 0);
  EXPECT_EQ(counter_value(), 999);
  EXPECT_EQ(context->scan_count, 999);
  set_counter(1200);
  EXPECT_EQ(freshness_check(*context, 300, kLampFlatbed), 0);
  EXPECT_EQ(counter_value(), 1199);
}

TEST_F(ShadingFiles, AnotherPortTypeOrAMissingFileMeansNoUsableShading) {
  ASSERT_TRUE(save300());
  EXPECT_EQ(freshness_check(*make_context(2), 300, kLampFlatbed), 2);
  EXPECT_EQ(freshness_check(*make_context(0), 300, kLampFlatbed), 2);
  EXPECT_EQ(freshness_check(*context, 600, kLampFlatbed), 2) << "no file for 600 dpi";
  EXPECT_EQ(freshness_check(*context, 300, kLampFilm), 2) << "no film file for 300 dpi";
  fs::remove(counter());
  EXPECT_EQ(freshness_check(*context, 300, kLampFlatbed), 2);
  transport::ExposureSet loaded{};
  auto fresh = make_context(1);
  EXPECT_EQ(load300(*fresh, true, loaded), QRX_E_CALIBRATION_DATA);
  EXPECT_TRUE(untouched(*fresh)) << "a missing counter leaves the arrays alone";
}

TEST_F(ShadingFiles, MissingFilesAreRetriedFiveTimesTenMillisecondsApart) {
  transport::ExposureSet loaded{};
  const uint64_t before = clock.sleeps(), start = clock.now_us();
  EXPECT_EQ(load300(*context, true, loaded), QRX_E_CALIBRATION_DATA);
  EXPECT_EQ(clock.sleeps() - before, 5u);
  EXPECT_EQ(clock.now_us() - start, 50'000u);
  EXPECT_EQ(load_at(*context, 300, kLampFilm, true, loaded), QRX_E_CALIBRATION_DATA);
  EXPECT_EQ(clock.sleeps() - before, 10u) << "film's file is waited for the same way";
}

TEST_F(ShadingFiles, MissingArraysAreReported) {
  ASSERT_TRUE(save300());
  transport::ExposureSet loaded{};
  transport::ScannerContext bare;
  EXPECT_EQ(load300(bare, true, loaded), QRX_E_NOMEM_BUFFER);
  platform::fail_allocation_after(0);  // no room to read the file into
  EXPECT_EQ(load300(*context, true, loaded), QRX_E_NOMEM_BUFFER);
  platform::fail_allocation_after(-1);
  auto short_copy = make_context(1);
  short_copy->shading_white[3].resize(kPixels300 - 1);
  EXPECT_EQ(load300(*short_copy, true, loaded), QRX_E_NOMEM_BUFFER);
  EXPECT_EQ(counter_value(), 0) << "nothing counted";
}

TEST_F(ShadingFiles, DamagedFilesAreNeitherLoadedNorUsable) {
  ASSERT_TRUE(save300());
  const Bytes good_shading = read_file(shading300());
  const Bytes good_counter = read_file(counter());
  struct Damage {
    const char* what;
    Bytes shading;
    Bytes counter;
  };
  const Bytes shorter(good_shading.begin(), good_shading.end() - 1);
  Bytes longer = good_shading;
  longer.push_back(0);
  const Bytes half(good_shading.begin(), good_shading.begin() + good_shading.size() / 2);
  const Damage damages[] = {
      {"shading one byte short", shorter, good_counter},
      {"shading one byte long", longer, good_counter},
      {"shading cut in half", half, good_counter},
      {"shading empty", {}, good_counter},
      {"counter empty", good_shading, {}},
      {"counter one byte", good_shading, {7}},
      {"counter three bytes", good_shading, {7, 0, 0}},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.what);
    write_file(shading300(), d.shading);
    write_file(counter(), d.counter);
    auto fresh = make_context(1);
    transport::ExposureSet loaded{};
    EXPECT_EQ(load300(*fresh, true, loaded), QRX_E_CALIBRATION_DATA);
    EXPECT_TRUE(untouched(*fresh));
    EXPECT_EQ(loaded.exposure[0], 0) << "the exposure set is not taken either";
    EXPECT_EQ(read_file(counter()), d.counter) << "not counted";
    EXPECT_EQ(freshness_check(*fresh, 300, kLampFlatbed), 2);
  }
  write_file(shading300(), good_shading);
  write_file(counter(), good_counter);
  EXPECT_EQ(freshness_check(*context, 300, kLampFlatbed), 0) << "the intact pair is usable";
}

TEST_F(ShadingFiles, WithoutASafeDirectoryNothingIsOpenedAnywhere) {
  // Someone's link in place of the library's directory: no directory at all.
  const std::string elsewhere = temp.path() + "/elsewhere";
  fs::create_directory(elsewhere);
  fs::remove_all(dir);
  fs::create_directory_symlink(elsewhere, dir.substr(0, dir.size() - 1));
  EXPECT_EQ(shading_file_path(*context, kLampFlatbed, 300), "");
  EXPECT_EQ(counter_file_path(*context), "");
  EXPECT_FALSE(save300());
  transport::ExposureSet loaded{};
  EXPECT_EQ(load300(*context, true, loaded), QRX_E_CALIBRATION_DATA);
  EXPECT_EQ(freshness_check(*context, 300, kLampFlatbed), 2);
  EXPECT_TRUE(fs::is_empty(elsewhere));
  EXPECT_FALSE(fs::exists("QRX7730C.SHD")) << "nothing in the working directory";
  EXPECT_FALSE(fs::exists("QRX7730H.SHD"));
}

TEST_F(ShadingFiles, PlantedLinksAreNeverFollowed) {
  ASSERT_TRUE(save300());
  // Links at both names to files of the test elsewhere; one is a perfect shading file.
  const std::string shading_target = temp.path() + "/shading-elsewhere";
  const std::string counter_target = temp.path() + "/counter-elsewhere";
  Bytes planted = read_file(shading300());
  planted[5] = 0x99;  // another exposure
  write_file(shading_target, planted);
  write_file(counter_target, {5, 0});
  fs::remove(shading300());
  fs::create_symlink(shading_target, shading300());
  auto fresh = make_context(1);
  transport::ExposureSet loaded{};
  EXPECT_EQ(load300(*fresh, true, loaded), QRX_E_CALIBRATION_DATA);
  EXPECT_TRUE(untouched(*fresh));
  EXPECT_EQ(freshness_check(*fresh, 300, kLampFlatbed), 2);

  ASSERT_TRUE(save300());
  EXPECT_EQ(read_file(shading_target), planted) << "the link's target is not written";
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(shading300()))) << "the link is replaced";
  EXPECT_EQ(fs::file_size(shading300()), 41101u);

  fs::remove(counter());
  fs::create_symlink(counter_target, counter());
  EXPECT_EQ(freshness_check(*fresh, 300, kLampFlatbed), 2);
  EXPECT_EQ(load300(*fresh, true, loaded), QRX_E_CALIBRATION_DATA);
  EXPECT_EQ(read_file(counter_target), Bytes({5, 0})) << "not counted through the link";
  EXPECT_TRUE(untouched(*fresh));
}

TEST_F(ShadingFiles, FilesOfAnotherUserAreRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "giving a file away needs root";
  ASSERT_TRUE(save300());
  set_counter(1000);
  ASSERT_EQ(chown(counter().c_str(), 4242, 4242), 0);
  EXPECT_EQ(freshness_check(*context, 300, kLampFlatbed), 2);
  EXPECT_EQ(counter_value(), 1000) << "not reset through someone else's file";
  set_counter(0);
  ASSERT_EQ(chown(counter().c_str(), 0, 0), 0);
  ASSERT_EQ(chown(shading300().c_str(), 4242, 4242), 0);
  auto fresh = make_context(1);
  transport::ExposureSet loaded{};
  EXPECT_EQ(load300(*fresh, true, loaded), QRX_E_CALIBRATION_DATA);
  EXPECT_TRUE(untouched(*fresh));
  EXPECT_EQ(freshness_check(*fresh, 300, kLampFlatbed), 2);
}

// A save that dies half-way through writing (the file size limit stops it) leaves
// the previous calibration in place, whole.
TEST_F(ShadingFiles, AnInterruptedSaveLeavesThePreviousFiles) {
  ASSERT_TRUE(save300());
  const Bytes previous = read_file(shading300());
  exposure.exposure[0] = 0x7777;
  struct rlimit old_limit {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  struct rlimit limit = old_limit;
  limit.rlim_cur = 20000;
  const sighandler_t old_handler = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  const bool saved = save300();
  setrlimit(RLIMIT_FSIZE, &old_limit);
  signal(SIGXFSZ, old_handler);
  EXPECT_FALSE(saved);
  EXPECT_EQ(read_file(shading300()), previous);
  EXPECT_EQ(directory_entries(), (std::set<std::string>{"QRX7730C.SHD", "QRX7730H.SHD"}));
  transport::ExposureSet loaded{};
  ASSERT_EQ(load300(*context, false, loaded), QRX_OK);
  EXPECT_EQ(loaded.exposure[0], 0x1234);
}

TEST_F(ShadingFiles, ASaveThatCannotTakeTheNameLeavesNothingUsable) {
  // A directory sits at the shading file's name: the finished file cannot replace it.
  fs::create_directories(shading300() + "/inside");
  const uint64_t before = clock.sleeps();
  EXPECT_FALSE(save300());
  EXPECT_EQ(clock.sleeps() - before, 5u) << "the move is tried six times";
  EXPECT_EQ(directory_entries(), (std::set<std::string>{"QRX7730C.SHD"}))
      << "no temporary or counter file is left";
  EXPECT_EQ(freshness_check(*context, 300, kLampFlatbed), 2);
  // A stale half-written file from an earlier run beside the real name is ignored.
  fs::remove_all(shading300());
  set_counter(0);
  const Bytes half(20000, 1);
  write_file(shading300() + ".a1b2c3", half);
  EXPECT_EQ(freshness_check(*context, 300, kLampFlatbed), 2);
  transport::ExposureSet loaded{};
  EXPECT_EQ(load300(*context, true, loaded), QRX_E_CALIBRATION_DATA);
  ASSERT_TRUE(save300());
  EXPECT_EQ(freshness_check(*context, 300, kLampFlatbed), 0);
}

}  // namespace
}  // namespace qrx::calibration
