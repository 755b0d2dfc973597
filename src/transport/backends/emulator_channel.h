// The emulator backends: "sim:" opens the process's private in-process emulated
// scanner, "sim:<socket path>" connects to a qrx7730-sim daemon.
#pragma once

#include <memory>
#include <string>

#include "transport/device_channel.h"

namespace qrx::transport {

// target is the text after "sim:": empty (or "#name") for the in-process
// emulator, else the daemon's socket path. nullptr when it cannot be reached.
std::unique_ptr<DeviceChannel> open_emulator_channel(const std::string& target);

}  // namespace qrx::transport
