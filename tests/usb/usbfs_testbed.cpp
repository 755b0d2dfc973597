// The kernel's usbfs side of emulated USB devices in a umockdev testbed (see
// usbfs_testbed.h). URBs are served when the host reaps them, in submission order,
// with the kernel's rules for bulk transfers cut into several URBs: a short or
// failed URB cancels the continuation URBs queued behind it on its endpoint, and
// the endpoint refuses further continuation URBs until a new transfer starts.
#include "usbfs_testbed.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>

namespace qrx::test {
namespace {

// Without scatter-gather libusb cuts bulk transfers into URBs of 16 KiB chained
// by the continuation flag, which exercises the kernel rules modelled here.
constexpr uint32_t kCapabilities =
    USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM;
constexpr char kKernelDriver[] = "qrx-kernel";

void put16(std::vector<uint8_t>& out, uint16_t value) {
  out.push_back(static_cast<uint8_t>(value));
  out.push_back(static_cast<uint8_t>(value >> 8));
}

std::vector<uint8_t> descriptors(const EmulatedDevice& device) {
  std::vector<uint8_t> d = {18, 1, 0x00, 0x02, 0xFF, 0xFF, 0xFF, 64};
  put16(d, device.vendor_id);
  put16(d, device.product_id);
  put16(d, device.release);
  d.insert(d.end(), {0, 0, 0, 1});
  const uint16_t total = 9 + (9 + 7) + (9 + 3 * 7);
  d.insert(d.end(), {9, 2});
  put16(d, total);
  d.insert(d.end(), {2, 1, 0, 0x80, 50});
  d.insert(d.end(), {9, 4, 0, 0, 1, 0xFF, 0xFF, 0xFF, 0});               // interface 0
  d.insert(d.end(), {7, 5, 0x83, 3, 8, 0, 10});                          // interrupt in
  d.insert(d.end(), {9, 4, kBulkInterface, 0, 3, 0xFF, 0xFF, 0xFF, 0});  // interface 1
  d.insert(d.end(), {7, 5, 0x86, 3, 8, 0, 10});                          // interrupt in
  d.insert(d.end(), {7, 5, kBulkOut, 2, 0x00, 0x02, 0});                 // bulk out
  d.insert(d.end(), {7, 5, kBulkIn, 2, 0x00, 0x02, 0});                  // bulk in
  return d;
}

std::string node_name(const EmulatedDevice& device) {
  char name[32];
  std::snprintf(name, sizeof name, "/dev/bus/usb/%03u/%03u", device.bus, device.address);
  return name;
}

// The device as umockdev-record writes it: sysfs path, node, properties, attributes.
std::string record(const EmulatedDevice& device) {
  char text[1024];
  const unsigned minor = (device.bus - 1u) * 128u + (device.address - 1u);
  std::snprintf(text, sizeof text,
                "P: /devices/qrx/usb%u/%u-%u\nN: bus/usb/%03u/%03u\n"
                "E: DEVNAME=/dev/bus/usb/%03u/%03u\nE: DEVTYPE=usb_device\nE: SUBSYSTEM=usb\n"
                "E: BUSNUM=%03u\nE: DEVNUM=%03u\nA: busnum=%u\nA: devnum=%u\nA: speed=480\n"
                "A: bConfigurationValue=1\nA: bNumConfigurations=1\nA: idVendor=%04x\n"
                "A: idProduct=%04x\nA: dev=189:%u\nH: descriptors=",
                device.bus, device.bus, device.address, device.bus, device.address, device.bus,
                device.address, device.bus, device.address, device.bus, device.address,
                device.vendor_id, device.product_id, minor);
  std::string out = text;
  for (uint8_t byte : descriptors(device)) {
    char two[3];
    std::snprintf(two, sizeof two, "%02X", byte);
    out += two;
  }
  return out + "\n";
}

uint32_t endpoint_bit(uint8_t endpoint) {
  return 1u << ((endpoint & 0x0F) | ((endpoint & 0x80) >> 3));
}

// A resolved piece of the client's memory, owned here.
UMockdevIoctlData* resolve(UMockdevIoctlData* data, size_t offset, size_t size) {
  return umockdev_ioctl_data_resolve(data, offset, size, nullptr);
}

gboolean on_handle_ioctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer node) {
  return static_cast<UsbfsNode*>(node)->handle_ioctl(client) ? TRUE : FALSE;
}
void on_client_vanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer node) {
  static_cast<UsbfsNode*>(node)->client_vanished(client);
}

}  // namespace

struct UsbfsNode::Urb {
  UMockdevIoctlData* data = nullptr;    // the usbdevfs_urb
  UMockdevIoctlData* buffer = nullptr;  // its data
  ~Urb() {
    if (buffer != nullptr) g_object_unref(buffer);
    if (data != nullptr) g_object_unref(data);
  }
  usbdevfs_urb& urb() { return *reinterpret_cast<usbdevfs_urb*>(data->data); }
  uint8_t* bytes() { return buffer != nullptr ? buffer->data : nullptr; }
  void finish(int status, int actual) {
    urb().status = status;
    urb().actual_length = actual;
  }
};

struct UsbfsNode::Client {
  std::deque<std::unique_ptr<Urb>> queued;     // submitted, not yet at the device
  std::deque<std::unique_ptr<Urb>> completed;  // waiting to be reaped
  uint32_t disabled = 0;                       // endpoints refusing continuation URBs
};

struct UsbfsNode::State {
  std::map<void*, Client> clients;
  void* claimed[2] = {nullptr, nullptr};
  bool driver_bound = false;
  bool driver_detached = false;
  uint32_t halted = 0;
  bool gone = false;
  bool hold_bulk = false;
  uint64_t unplug_countdown = 0;
  uint64_t bulk_urbs = 0;
  int opens = 0;
  std::vector<ControlRecord> controls;
  std::vector<std::string> events;
  std::vector<std::string> complaints;
};

UsbfsNode::UsbfsNode(const EmulatedDevice& device)
    : device_(device), state_(std::make_unique<State>()) {
  state_->driver_bound = device.kernel_driver;
  handler_ = umockdev_ioctl_base_new();
  g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(on_handle_ioctl), this);
  g_signal_connect(handler_, "client-vanished", G_CALLBACK(on_client_vanished), this);
}

UsbfsNode::~UsbfsNode() {
  g_object_unref(handler_);
}

std::vector<ControlRecord> UsbfsNode::controls() {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_->controls;
}
std::vector<std::string> UsbfsNode::events() {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_->events;
}
std::vector<std::string> UsbfsNode::complaints() {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_->complaints;
}
uint64_t UsbfsNode::bulk_urbs() {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_->bulk_urbs;
}
int UsbfsNode::opens() {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_->opens;
}
void UsbfsNode::unplug_at_bulk_in(uint64_t n) {
  std::lock_guard<std::mutex> lock(mutex_);
  state_->unplug_countdown = n;
}
void UsbfsNode::hold_bulk(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  state_->hold_bulk = on;
}

void UsbfsNode::client_vanished(void* client) {
  std::lock_guard<std::mutex> lock(mutex_);
  state_->clients.erase(client);
  for (void*& owner : state_->claimed) {
    if (owner == client) owner = nullptr;  // closing the node releases its interfaces
  }
}

namespace {

// Runs use(pointer) on an argument of size bytes in the client's memory (written
// back when the ioctl completes); returns use's errno, or EFAULT.
template <typename Use>
int with_argument(UMockdevIoctlData* arg, size_t size, Use use) {
  UMockdevIoctlData* data = resolve(arg, 0, size);
  if (data == nullptr) return EFAULT;
  const int error = use(static_cast<void*>(data->data));
  g_object_unref(data);
  return error;
}

}  // namespace

int UsbfsNode::handle_ioctl(void* handle) {
  auto* client = static_cast<UMockdevIoctlClient*>(handle);
  const gulong request = umockdev_ioctl_client_get_request(client);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  std::unique_ptr<Urb> reaped;  // kept until the reap is completed to the client
  std::lock_guard<std::mutex> lock(mutex_);
  State& s = *state_;
  auto [entry, fresh] = s.clients.try_emplace(client);
  if (fresh) ++s.opens;
  Client& me = entry->second;
  const auto claim = [&](unsigned interface) {
    if (interface > 1) return ENOENT;
    if (s.claimed[interface] == client) return 0;
    if (s.claimed[interface] != nullptr || (interface == kBulkInterface && s.driver_bound)) {
      return EBUSY;
    }
    s.claimed[interface] = client;
    s.events.push_back("claim " + std::to_string(interface));
    return 0;
  };

  int error = 0;
  if (s.gone && request != USBDEVFS_REAPURB && request != USBDEVFS_REAPURBNDELAY) {
    error = ENODEV;
  } else {
    switch (request) {
      case USBDEVFS_GET_CAPABILITIES:
        error = with_argument(arg, 4, [](void* p) {
          std::memcpy(p, &kCapabilities, 4);
          return 0;
        });
        break;
      case USBDEVFS_CLAIMINTERFACE:
        error = with_argument(arg, 4, [&](void* p) { return claim(*static_cast<unsigned*>(p)); });
        break;
      case USBDEVFS_RELEASEINTERFACE:
        error = with_argument(arg, 4, [&](void* p) {
          const unsigned interface = *static_cast<unsigned*>(p);
          if (interface > 1 || s.claimed[interface] != client) return EINVAL;
          s.claimed[interface] = nullptr;
          s.events.push_back("release " + std::to_string(interface));
          return 0;
        });
        break;
      case USBDEVFS_DISCONNECT_CLAIM:  // detach the kernel's driver unless excepted, claim
        error = with_argument(arg, sizeof(usbdevfs_disconnect_claim), [&](void* p) {
          auto* dc = static_cast<usbdevfs_disconnect_claim*>(p);
          const bool excepted = (dc->flags & USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER) != 0 &&
                                std::strncmp(dc->driver, kKernelDriver, sizeof dc->driver) == 0;
          if (dc->interface == kBulkInterface && s.driver_bound && !excepted) {
            s.driver_bound = false;
            s.driver_detached = true;
            s.events.push_back("detach " + std::to_string(dc->interface));
          }
          return claim(dc->interface);
        });
        break;
      case USBDEVFS_IOCTL:  // only "connect": the kernel probes again, the detached driver binds
        error = with_argument(arg, sizeof(usbdevfs_ioctl), [&](void* p) {
          auto* io = static_cast<usbdevfs_ioctl*>(p);
          if (io->ioctl_code != static_cast<int>(USBDEVFS_CONNECT)) return ENOTTY;
          if (io->ifno == kBulkInterface && s.driver_detached && s.claimed[io->ifno] == nullptr) {
            s.driver_bound = true;
            s.driver_detached = false;
            s.events.push_back("attach " + std::to_string(io->ifno));
          }
          return 0;
        });
        break;
      case USBDEVFS_CLEAR_HALT:
        error = with_argument(arg, 4, [&](void* p) {
          const unsigned endpoint = *static_cast<unsigned*>(p);
          s.halted &= ~endpoint_bit(static_cast<uint8_t>(endpoint));
          char text[24];
          std::snprintf(text, sizeof text, "clear-halt 0x%02X", endpoint);
          s.events.push_back(text);
          return 0;
        });
        break;
      case USBDEVFS_SUBMITURB:
        error = submit_locked(client, me, arg);
        break;
      case USBDEVFS_DISCARDURB: {  // the argument is the URB's address itself
        uint64_t address = 0;
        std::memcpy(&address, arg->data, std::min<size_t>(sizeof address, arg->data_len));
        error = EINVAL;  // already completed, or never submitted
        for (auto it = me.queued.begin(); it != me.queued.end(); ++it) {
          if ((*it)->data->client_addr != address) continue;
          (*it)->finish(-ENOENT, 0);
          me.completed.push_back(std::move(*it));
          me.queued.erase(it);
          error = 0;
          break;
        }
        break;
      }
      case USBDEVFS_REAPURB:
      case USBDEVFS_REAPURBNDELAY: {
        if (me.completed.empty()) serve_next_locked(me);
        if (me.completed.empty()) {
          error = s.gone ? ENODEV : EAGAIN;
          break;
        }
        reaped = std::move(me.completed.front());
        me.completed.pop_front();
        UMockdevIoctlData* slot = resolve(arg, 0, sizeof(void*));
        if (slot == nullptr || !umockdev_ioctl_data_set_ptr(slot, 0, reaped->data)) error = EFAULT;
        if (slot != nullptr) g_object_unref(slot);
        break;
      }
      default:
        error = ENOTTY;
    }
  }
  if (error == ENOTTY) {
    char text[48];
    std::snprintf(text, sizeof text, "ioctl 0x%lX unknown", static_cast<unsigned long>(request));
    s.complaints.push_back(text);
  }
  umockdev_ioctl_client_complete(client, error == 0 ? 0 : -1, error);
  return 1;
}

int UsbfsNode::submit_locked(void* client, Client& me, void* argument) {
  auto* arg = static_cast<UMockdevIoctlData*>(argument);
  State& s = *state_;
  auto urb = std::make_unique<Urb>();
  urb->data = resolve(arg, 0, sizeof(usbdevfs_urb));
  if (urb->data == nullptr) return EFAULT;
  usbdevfs_urb& u = urb->urb();
  if (u.buffer_length < 0) return EINVAL;
  if (u.buffer_length > 0) {
    urb->buffer = resolve(urb->data, offsetof(usbdevfs_urb, buffer), u.buffer_length);
    if (urb->buffer == nullptr) return EFAULT;
  }
  if (u.type == USBDEVFS_URB_TYPE_CONTROL) {
    if (u.endpoint != 0 || u.buffer_length < 8) return EINVAL;
  } else if (u.type == USBDEVFS_URB_TYPE_BULK) {
    if (u.endpoint != kBulkIn && u.endpoint != kBulkOut) {
      s.complaints.push_back("bulk URB for endpoint " + std::to_string(u.endpoint));
      return ENOENT;
    }
    // usbfs would claim the interface on the fly; the channel must have claimed it.
    if (s.claimed[kBulkInterface] != client) {
      s.complaints.push_back("bulk URB on an interface not claimed");
      return EBUSY;
    }
    const uint32_t bit = endpoint_bit(u.endpoint);
    if ((u.flags & USBDEVFS_URB_BULK_CONTINUATION) == 0) {
      me.disabled &= ~bit;
    } else if ((me.disabled & bit) != 0) {
      return EREMOTEIO;
    }
  } else {
    s.complaints.push_back("URB of type " + std::to_string(u.type));
    return EINVAL;
  }
  me.queued.push_back(std::move(urb));
  return 0;
}

bool UsbfsNode::serve_next_locked(Client& me) {
  for (auto it = me.queued.begin(); it != me.queued.end(); ++it) {
    const bool bulk = (*it)->urb().type == USBDEVFS_URB_TYPE_BULK;
    if (bulk && state_->hold_bulk) continue;
    std::unique_ptr<Urb> urb = std::move(*it);
    me.queued.erase(it);
    if (!bulk) {
      serve_control_locked(*urb);
      me.completed.push_back(std::move(urb));
      return true;
    }
    const bool in = (urb->urb().endpoint & 0x80) != 0;
    if (in && state_->unplug_countdown != 0 && --state_->unplug_countdown == 0) {
      me.queued.push_front(std::move(urb));
      unplug_locked();
      return true;
    }
    const uint8_t endpoint = urb->urb().endpoint;
    serve_bulk_locked(*urb);
    const int status = urb->urb().status;
    me.completed.push_back(std::move(urb));
    if (status < 0) {
      // The rest of this transfer is cancelled: the continuation URBs queued
      // behind it on the same endpoint.
      me.disabled |= endpoint_bit(endpoint);
      for (auto next = me.queued.begin(); next != me.queued.end();) {
        usbdevfs_urb& u = (*next)->urb();
        if (u.type != USBDEVFS_URB_TYPE_BULK || u.endpoint != endpoint) {
          ++next;
          continue;
        }
        if ((u.flags & USBDEVFS_URB_BULK_CONTINUATION) == 0) break;
        (*next)->finish(-ECONNRESET, 0);
        me.completed.push_back(std::move(*next));
        next = me.queued.erase(next);
      }
    }
    return true;
  }
  return false;
}

void UsbfsNode::serve_control_locked(Urb& urb) {
  uint8_t* bytes = urb.bytes();
  ControlRecord record;
  std::memcpy(record.setup.data(), bytes, 8);
  const uint8_t type = bytes[0];
  const uint8_t request = bytes[1];
  const uint16_t value = static_cast<uint16_t>(bytes[2] | bytes[3] << 8);
  const uint16_t index = static_cast<uint16_t>(bytes[4] | bytes[5] << 8);
  const uint16_t length = static_cast<uint16_t>(bytes[6] | bytes[7] << 8);
  // The scanner knows vendor requests to or from the device, bRequest telling a
  // one-byte transfer from a longer one, and 8-bit request codes in wValue.
  const bool known = (type == 0xC0 || type == 0x40) && request == (length > 1 ? 0x04 : 0x0C) &&
                     value <= 0xFF && length <= urb.urb().buffer_length - 8;
  if (known && device_.port != nullptr) {
    uint8_t* data = bytes + 8;
    record.ok = type == 0xC0
                    ? device_.port->control_in(static_cast<uint8_t>(value), index, data, length)
                    : device_.port->control_out(static_cast<uint8_t>(value), index, data, length);
    record.data.assign(data, data + length);
  }
  if (!known) state_->complaints.push_back("control transfer the scanner does not know");
  urb.finish(record.ok ? 0 : -EPIPE, record.ok ? length : 0);
  state_->controls.push_back(std::move(record));
}

void UsbfsNode::serve_bulk_locked(Urb& urb) {
  State& s = *state_;
  ++s.bulk_urbs;
  usbdevfs_urb& u = urb.urb();
  const uint32_t bit = endpoint_bit(u.endpoint);
  const uint32_t length = static_cast<uint32_t>(u.buffer_length);
  uint32_t moved = 0;
  bool ok = false;
  if ((s.halted & bit) == 0 && device_.port != nullptr) {
    ok = (u.endpoint & 0x80) != 0 ? device_.port->bulk_in(urb.bytes(), length, moved)
                                  : device_.port->bulk_out(urb.bytes(), length, moved);
  }
  if (!ok) {
    s.halted |= bit;  // a stalled endpoint stays halted until the host clears it
    urb.finish(-EPIPE, 0);
    return;
  }
  const bool short_not_ok = (u.flags & USBDEVFS_URB_SHORT_NOT_OK) != 0;
  urb.finish(moved < length && short_not_ok ? -EREMOTEIO : 0, static_cast<int>(moved));
}

void UsbfsNode::unplug_locked() {
  state_->gone = true;
  state_->events.push_back("unplugged");
  for (auto& [handle, client] : state_->clients) {
    while (!client.queued.empty()) {
      client.queued.front()->finish(-ESHUTDOWN, 0);
      client.completed.push_back(std::move(client.queued.front()));
      client.queued.pop_front();
    }
  }
}

struct UsbfsTestbed::Impl {
  UMockdevTestbed* testbed = nullptr;
  std::vector<std::pair<std::string, std::unique_ptr<UsbfsNode>>> nodes;
};

UsbfsTestbed::UsbfsTestbed() : impl_(std::make_unique<Impl>()) {
  impl_->testbed = umockdev_testbed_new();
  EXPECT_TRUE(umockdev_in_mock_environment()) << "run this program under umockdev-wrapper";
}

UsbfsTestbed::~UsbfsTestbed() {
  for (auto& [name, node] : impl_->nodes) {
    umockdev_testbed_detach_ioctl(impl_->testbed, name.c_str(), nullptr);
  }
  impl_->nodes.clear();
  g_object_unref(impl_->testbed);
}

UsbfsNode* UsbfsTestbed::add(const EmulatedDevice& device) {
  GError* error = nullptr;
  if (!umockdev_testbed_add_from_string(impl_->testbed, record(device).c_str(), &error)) {
    ADD_FAILURE() << "umockdev refused the device: " << (error ? error->message : "?");
    if (error != nullptr) g_error_free(error);
    return nullptr;
  }
  auto node = std::make_unique<UsbfsNode>(device);
  const std::string name = node_name(device);
  if (!umockdev_testbed_attach_ioctl(impl_->testbed, name.c_str(),
                                     static_cast<UMockdevIoctlBase*>(node->handler()), &error)) {
    ADD_FAILURE() << "umockdev refused the handler: " << (error ? error->message : "?");
    if (error != nullptr) g_error_free(error);
    return nullptr;
  }
  impl_->nodes.emplace_back(name, std::move(node));
  return impl_->nodes.back().second.get();
}

}  // namespace qrx::test
