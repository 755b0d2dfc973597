// A umockdev testbed in which libusb finds USB devices and reaches them through
// their device nodes: each device is a sysfs entry with its descriptors and a node
// under /dev/bus/usb whose usbfs ioctls are answered here, as the kernel answers
// them (capabilities, claim and release, kernel-driver detach and attach, URB
// submit, reap and discard, halts), with an emulated scanner's UsbPort behind the
// vendor control transfers and the bulk endpoints.
//
// The test program runs under umockdev-wrapper (its preload library redirects
// /sys and /dev into the testbed and the ioctls to the handlers here, which run on
// umockdev's own thread). One testbed per process at a time.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "emulator/usb_port.h"

namespace qrx::test {

class UsbfsNode;

// The interface layout of every emulated device: interface 0 with an interrupt-in
// endpoint only; interface 1 with an interrupt-in endpoint, then bulk-out and
// bulk-in. So the channel has to find its interface and endpoints in the
// descriptors instead of taking the first ones.
inline constexpr int kBulkInterface = 1;
inline constexpr uint8_t kBulkIn = 0x82;
inline constexpr uint8_t kBulkOut = 0x01;

struct EmulatedDevice {
  uint8_t bus = 1;
  uint8_t address = 1;
  uint16_t vendor_id = 0;
  uint16_t product_id = 0;
  uint16_t release = 0x0100;
  std::shared_ptr<emu::UsbPort> port;  // null: every transfer stalls
  bool kernel_driver = false;          // a kernel driver is bound to the bulk interface
};

// One vendor control transfer as it reached the device.
struct ControlRecord {
  std::array<uint8_t, 8> setup{};
  std::vector<uint8_t> data;  // sent (to the device) or answered (to the host)
  bool ok = false;            // false: the device stalled it
};

class UsbfsTestbed {
 public:
  UsbfsTestbed();
  ~UsbfsTestbed();
  UsbfsTestbed(const UsbfsTestbed&) = delete;
  UsbfsTestbed& operator=(const UsbfsTestbed&) = delete;

  // Adds a device; nullptr (with a test failure) when umockdev refuses it.
  UsbfsNode* add(const EmulatedDevice& device);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The kernel's side of one device node.
class UsbfsNode {
 public:
  explicit UsbfsNode(const EmulatedDevice& device);
  ~UsbfsNode();
  UsbfsNode(const UsbfsNode&) = delete;
  UsbfsNode& operator=(const UsbfsNode&) = delete;

  // What the device saw.
  std::vector<ControlRecord> controls();
  // Interface and driver events in order: "claim 1", "release 1", "detach 1", "attach 1".
  std::vector<std::string> events();
  uint64_t bulk_urbs();  // bulk URBs that reached the device
  int opens();           // device node opens so far
  // Requests usbfs would refuse or a device would not know (unknown ioctls, URBs
  // for endpoints of no claimed interface): none may occur.
  std::vector<std::string> complaints();

  // Faults. unplug_at_bulk_in(n): the device is unplugged just as the nth bulk-in
  // URB from now would reach it (the library has announced the transfer with its
  // header); that URB and every one still queued end as a disconnect ends them.
  // hold_bulk: bulk URBs stay unanswered until the host discards them, as a
  // device that never sends its data.
  void unplug_at_bulk_in(uint64_t n);
  void hold_bulk(bool on);

  // umockdev's handler object and its callbacks (internal).
  void* handler() const { return handler_; }
  int handle_ioctl(void* client);
  void client_vanished(void* client);

 private:
  struct Urb;
  struct Client;
  struct State;

  int submit_locked(void* client, Client& me, void* arg);  // errno, 0 when queued
  void unplug_locked();
  bool serve_next_locked(Client& client);
  void serve_control_locked(Urb& urb);
  void serve_bulk_locked(Urb& urb);

  EmulatedDevice device_;
  void* handler_ = nullptr;
  std::mutex mutex_;
  std::unique_ptr<State> state_;
};

}  // namespace qrx::test
