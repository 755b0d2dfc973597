// The hold a host keeps on a scanner for longer than one call: the SANE backend
// from sane_open to sane_close, the network scanner server for each job. The
// library powers the controller up again at every open and keeps its callers apart
// only call by call, so a host that finds the scanner held tells its user it is
// busy instead of resetting it under another host's scan. Every host that holds a
// scanner takes the hold made here, so that all of them see each other's.
//
// The hold is a Unix socket bound to an abstract name made from the device path:
// one per machine (per network namespace), shared by all users, gone with the
// process that held it, however that process ends. Linux only.
#pragma once

#include <string>

namespace qrx::hosts {

// The abstract socket name of the hold on a device path (without the leading zero
// byte): "qrx7730-sane:" and the path, or, when that would not fit an abstract
// address, "qrx7730-sane:#" and the 64-bit FNV-1a hash of the path in 16 lower-case
// hex digits.
std::string scanner_hold_name(const std::string& device_path);

// A new socket bound to the hold on device_path, which the holder closes to let the
// scanner go; -1 with errno set when the hold is not had: EADDRINUSE when another
// process (or another socket of this one) holds it, any other value when the system
// cannot make the hold at all.
int take_scanner_hold(const std::string& device_path);

}  // namespace qrx::hosts
