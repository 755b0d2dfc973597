// The process's private emulated scanner, behind the device path "sim:".
#pragma once

#include <memory>

#include "emulator/options.h"

namespace qrx::emu {

class Scanner;

// The emulated scanner of this process. Created on first use with the options of
// the QRX7730_SIM environment variable (defaults when unset); nullptr when that
// variable cannot be parsed or its document cannot be loaded. It stays, like a
// device left plugged in, across every open and close of "sim:".
std::shared_ptr<Scanner> inprocess_scanner();

// Replaces the in-process scanner by a fresh one built from options (tests);
// nullptr when the options cannot be used (for example an unreadable document).
std::shared_ptr<Scanner> reset_inprocess_scanner(const Options& options);

}  // namespace qrx::emu
