// The UUID the server presents its scanner under. Clients merge the devices
// they find by UUID, so it names this scanner on this machine: the same at every
// start, different on another machine serving its own scanner. It is a name-based
// UUID (version 5, SHA-1) of the machine's id and the device path.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace qrx::escl {

using UuidBytes = std::array<uint8_t, 16>;

// The name-based (version 5) UUID of name in the name space.
std::string name_based_uuid(const UuidBytes& name_space, const std::string& name);
// The machine's id (/etc/machine-id, else D-Bus's copy, else the host name).
std::string machine_id();
// The scanner's UUID on the machine with that id.
std::string scanner_uuid(const std::string& machine, const std::string& device);

}  // namespace qrx::escl
