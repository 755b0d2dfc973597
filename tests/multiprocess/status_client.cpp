// A client process for the multi-process tests of the status block and the call
// frame. It drives the library's exports against an "mp:" device whose channel
// marks, in a file shared by all clients, when it is inside a framed export.
//
//   status_client frame <path> <rounds> <shared file>  open/close the device <rounds> times
//   status_client hold <path> <shared file>           open the device and hang inside the frame
//   status_client lock                                take the machine-wide lock and hang
//   status_client write <path> <home offset>          store HomeOffset, print "ready", wait for stdin
//   status_client read <path>                         print "<created> <home offset> <lamp state>"
//   status_client warmed <path>                       print the film light last warmed up
//   status_client init <sim path>                     open and initialise the emulated scanner,
//                                                     print "<status> <home offset> <passes started>",
//                                                     then wait for stdin to close
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "api/library.h"
#include "api/status_block.h"
#include "emulator/inprocess.h"
#include "emulator/scanner.h"
#include "platform/clock.h"
#include "platform/shared_block.h"
#include "qrx7730.h"
#include "transport/device_channel.h"

namespace {

// Counters shared by every client through one mapped file.
struct SharedCounters {
  std::atomic<int32_t> inside;
  std::atomic<int32_t> overlaps;
  std::atomic<int32_t> entries;
  std::atomic<int32_t> holding;
};

SharedCounters* g_counters = nullptr;
bool g_hang = false;

SharedCounters* map_counters(const char* file) {
  int fd = open(file, O_RDWR);
  if (fd < 0) return nullptr;
  void* view = mmap(nullptr, sizeof(SharedCounters), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  close(fd);
  return view == MAP_FAILED ? nullptr : static_cast<SharedCounters*>(view);
}

// One visit to the device inside a framed export: nobody else may be inside.
void visit() {
  if (g_counters == nullptr) return;
  if (g_counters->inside.fetch_add(1) != 0) g_counters->overlaps.fetch_add(1);
  g_counters->entries.fetch_add(1);
  std::this_thread::sleep_for(std::chrono::microseconds(300));
  g_counters->inside.fetch_sub(1);
}

// Answers like the scanner's identification and checks exclusion when opened
// (inside FindScannerEx's frame) and when released (inside TerminateScanner's).
class MarkingChannel final : public qrx::transport::DeviceChannel {
 public:
  MarkingChannel() {
    visit();
    if (g_hang) {
      g_counters->holding.store(1);
      for (;;) pause();
    }
  }
  ~MarkingChannel() override { visit(); }
  // Enough of the scanner for opening and powering up: identification, and
  // registers that read back as written.
  bool control_read(uint8_t request, uint16_t index, uint8_t* buffer, uint32_t length) override {
    if (request == 0x8E && index == 0 && length == 1) {
      buffer[0] = 0x08;
      return true;
    }
    if (request == 0x8E && length == 2) {
      buffer[0] = registers_[index >> 8];
      buffer[1] = 0x55;
      return true;
    }
    return false;
  }
  bool control_write(uint8_t request, uint16_t, const uint8_t* data, uint32_t length) override {
    if (request == 0x83 && length == 2) registers_[data[0]] = data[1];
    return true;
  }
  bool device_descriptor(qrx::transport::DeviceDescriptor& d) override {
    d = {QRX7730_USB_VENDOR_ID, QRX7730_USB_PRODUCT_ID, 0x100, 0x409};
    return true;
  }
  bool bulk_read(uint8_t*, uint32_t, uint32_t& transferred) override {
    transferred = 0;
    return false;
  }
  bool bulk_write(const uint8_t*, uint32_t, uint32_t& transferred) override {
    transferred = 0;
    return false;
  }

 private:
  uint8_t registers_[256] = {};
};

void install_backend() {
  qrx::transport::register_channel_backend("mp:", [](const std::string&) {
    return std::unique_ptr<qrx::transport::DeviceChannel>(new MarkingChannel());
  });
}

int usage() {
  std::fprintf(stderr, "usage: status_client frame|hold|lock|write|read|warmed ...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  const std::string mode = argv[1];
  install_backend();
  // Power-on waits (half a second among them) pass a hundred times faster, so
  // that many rounds fit in a test; the busy-flag polls stay real sleeps.
  qrx::platform::ScaledClock fast_clock(100.0);
  qrx::platform::ScopedClock use_fast_clock(fast_clock);
  if (mode == "frame" && argc == 5) {
    g_counters = map_counters(argv[4]);
    if (g_counters == nullptr) return 3;
    const int rounds = std::atoi(argv[3]);
    for (int i = 0; i < rounds; ++i) {
      if (FindScannerEx(nullptr, argv[2], QRX7730_USB_PRODUCT_ID) != QRX_TRUE) return 4;
      if (TerminateScanner(nullptr) != QRX_TRUE) return 5;
    }
    return 0;
  }
  if (mode == "hold" && argc == 4) {
    g_counters = map_counters(argv[3]);
    if (g_counters == nullptr) return 3;
    g_hang = true;
    FindScannerEx(nullptr, argv[2], QRX7730_USB_PRODUCT_ID);
    return 6;  // not reached
  }
  if (mode == "lock" && argc == 2) {
    auto mutex = qrx::platform::SystemMutex::open();
    if (!mutex) return 3;
    mutex->lock();
    std::printf("locked\n");
    std::fflush(stdout);
    for (;;) pause();
  }
  if (mode == "write" && argc == 4) {
    qrx::api::StatusBlock block;
    block.open(argv[2]);
    const uint16_t value = static_cast<uint16_t>(std::atoi(argv[3]));
    block.write_field(2, &value, sizeof value);
    std::printf("ready\n");
    std::fflush(stdout);
    char c;
    while (read(0, &c, 1) > 0) {
    }
    return 0;
  }
  if (mode == "init" && argc == 3) {
    auto scanner = qrx::emu::reset_inprocess_scanner(qrx::emu::Options{});
    if (!scanner || FindScannerEx(nullptr, argv[2], QRX7730_USB_PRODUCT_ID) != QRX_TRUE) return 3;
    scanner->clear_trace();
    const QRX_BOOL ok = InitializeScanner(nullptr);
    uint16_t status = 0;
    GetScannerStatus(nullptr, &status);
    size_t passes = 0;
    for (const auto& e : scanner->trace({qrx::emu::RequestKind::ControlOut, 0x83, 0x0F})) {
      passes += e.ok ? 1 : 0;
    }
    std::printf("%u %u %zu\n", ok == QRX_TRUE ? 0u : status,
                qrx::api::library().status_block.home_offset(), passes);
    std::fflush(stdout);
    char c;
    while (read(0, &c, 1) > 0) {
    }
    TerminateScanner(nullptr);
    return 0;
  }
  if (mode == "warmed" && argc == 3) {
    qrx::api::StatusBlock block;
    block.open(argv[2]);
    std::printf("%u\n", block.warmed_film_light());
    return 0;
  }
  if (mode == "read" && argc == 3) {
    qrx::api::StatusBlock block;
    const uint32_t result = block.open(argv[2]);
    std::printf("%u %u %u\n", result == 0 ? 1u : 0u, block.home_offset(), block.lamp_state());
    return 0;
  }
  return usage();
}
