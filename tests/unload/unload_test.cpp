// The shared library unloaded (dlclose) while its own threads still run: a
// background calibration, and a scan's image reader. The unload stops and waits
// for them, and afterwards no thread of the library is left and its code is gone.
#include <dirent.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "qrx7730.h"
#include "support/temp_dir.h"

namespace qrx::test {
namespace {

size_t thread_count() {
  size_t n = 0;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(dir)) n += entry->d_name[0] != '.';
    closedir(dir);
  }
  return n;
}

bool library_mapped() {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    if (line.find("libqrx7730.so") != std::string::npos) return true;
  }
  return false;
}

// The exports a host needs to get a scan going.
struct Library {
  void* handle = nullptr;
  decltype(&FindScannerEx) find = nullptr;
  decltype(&InitializeScanner) initialize = nullptr;
  decltype(&SetLamp) set_lamp = nullptr;
  decltype(&SetScanParameter) set_parameters = nullptr;
  decltype(&StartScanEx) start = nullptr;
  decltype(&GetCalibrationStatus) calibration_status = nullptr;

  bool load() {
    handle = dlopen(QRX_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return false;
    find = reinterpret_cast<decltype(find)>(dlsym(handle, "FindScannerEx"));
    initialize = reinterpret_cast<decltype(initialize)>(dlsym(handle, "InitializeScanner"));
    set_lamp = reinterpret_cast<decltype(set_lamp)>(dlsym(handle, "SetLamp"));
    set_parameters = reinterpret_cast<decltype(set_parameters)>(dlsym(handle, "SetScanParameter"));
    start = reinterpret_cast<decltype(start)>(dlsym(handle, "StartScanEx"));
    calibration_status =
        reinterpret_cast<decltype(calibration_status)>(dlsym(handle, "GetCalibrationStatus"));
    return find && initialize && set_lamp && set_parameters && start && calibration_status;
  }
  // Opened, initialised, the flatbed light, a 300 dpi 48-bit colour window the
  // whole glass wide and four inches long (more than the ring and the scanner's
  // buffer hold together, so that its reader is still waiting at the end), started.
  bool start_scan(const std::string& path) {
    ScanParameter p{};
    p.xRes = p.yRes = 300;
    p.BitsPerPixel = 48;
    p.ScanningArea = {0, 0, 4 * 20416, 4 * 4 * 2400};
    return find(nullptr, path.c_str(), QRX7730_USB_PRODUCT_ID) && initialize(nullptr) &&
           set_lamp(nullptr, QRX_LAMP_FLATBED) && set_parameters(nullptr, &p) &&
           start(nullptr, nullptr);
  }
};

class UnloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("QRX7730_INSTALL_DIR", QRX_TEST_DATA_DIR, 1);
    // The library's own emulated scanner, in real time made 100 times faster.
    setenv("QRX7730_SIM", "speed=100", 1);
    path = "sim:#unload-" + std::to_string(getpid());
  }
  ScopedTempDir temp;
  std::string path;
};

TEST_F(UnloadTest, ThreadsStillRunningAreEndedByTheUnload) {
  // A thread started and ended first, so that helper threads a runtime starts
  // with the first thread (a sanitizer's) are counted already.
  std::thread([] {}).join();
  const size_t threads_before = thread_count();
  ASSERT_FALSE(library_mapped());

  // No shading files yet: the start leaves a background calibration running.
  Library lib;
  ASSERT_TRUE(lib.load()) << dlerror();
  ASSERT_TRUE(lib.start_scan(path));
  EXPECT_GT(thread_count(), threads_before) << "the calibration thread runs";
  EXPECT_EQ(dlclose(lib.handle), 0);
  EXPECT_EQ(thread_count(), threads_before);
  EXPECT_FALSE(library_mapped());

  // Loaded again: the calibration finishes, the scan starts and its reader runs.
  Library again;
  ASSERT_TRUE(again.load()) << dlerror();
  ASSERT_TRUE(again.start_scan(path));
  uint8_t status = 2;
  while (status == 2) {
    ASSERT_EQ(again.calibration_status(nullptr, &status), QRX_TRUE);
    usleep(1000);
  }
  EXPECT_GT(thread_count(), threads_before) << "the image reader runs";
  EXPECT_EQ(dlclose(again.handle), 0);
  EXPECT_EQ(thread_count(), threads_before);
  EXPECT_FALSE(library_mapped());
}

}  // namespace
}  // namespace qrx::test
