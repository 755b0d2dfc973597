// The scanner's UUID (see scanner_uuid.h), hashed with GnuTLS's SHA-1 (the TLS
// library the HTTP server already uses).
#include "scanner_uuid.h"

#include <gnutls/crypto.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

namespace qrx::escl {
namespace {

// The name space of the qrx7730 scanners' UUIDs (a random UUID, fixed once).
constexpr UuidBytes kScannerSpace = {0x2a, 0x81, 0x3e, 0x77, 0x1b, 0xb8, 0x46, 0xb2,
                                     0x80, 0x84, 0x54, 0x0a, 0xd4, 0x6e, 0x67, 0xc8};

std::string first_word_of(const char* path) {
  std::ifstream file(path);
  std::string word;
  file >> word;
  return word;
}

}  // namespace

std::string name_based_uuid(const UuidBytes& name_space, const std::string& name) {
  std::string input(name_space.begin(), name_space.end());
  input += name;
  uint8_t digest[20] = {};
  gnutls_hash_fast(GNUTLS_DIG_SHA1, input.data(), input.size(), digest);
  digest[6] = static_cast<uint8_t>((digest[6] & 0x0F) | 0x50);  // version 5
  digest[8] = static_cast<uint8_t>((digest[8] & 0x3F) | 0x80);  // the RFC 4122 variant
  char text[37];
  std::snprintf(
      text, sizeof text, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x",
      digest[0], digest[1], digest[2], digest[3], digest[4], digest[5], digest[6], digest[7],
      digest[8], digest[9], digest[10], digest[11], digest[12], digest[13], digest[14], digest[15]);
  return text;
}

std::string machine_id() {
  for (const char* path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
    std::string id = first_word_of(path);
    if (!id.empty()) return id;
  }
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) == 0 && name[0] != '\0') return name;
  return "unknown";
}

std::string scanner_uuid(const std::string& machine, const std::string& device) {
  return name_based_uuid(kScannerSpace, "qrx7730 scanner " + device + " on " + machine);
}

}  // namespace qrx::escl
