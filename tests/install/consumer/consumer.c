/* A host built against the installed library: opens the scanner at the device
 * path given (the built-in emulated one for "sim:..."), reads its ability record
 * and closes it. Prints what it found; exits 0 when every call succeeded. */
#include <stdio.h>
#include <stdlib.h>

#include <qrx7730.h>

int main(int argc, char** argv) {
  const char* device = argc > 1 ? argv[1] : "sim:";
  uint16_t status = 0;
  if (!FindScannerEx(NULL, device, QRX7730_USB_PRODUCT_ID)) {
    GetScannerStatus(NULL, &status);
    printf("FindScannerEx failed: 0x%04X\n", status);
    return 1;
  }
  uint32_t version = 0;
  uint16_t size = 0;
  GetQuarnAPIVersion(NULL, &version);
  GetScannerAbilitySize(NULL, &size);
  unsigned char* record = malloc(size);
  if (record == NULL || !GetScannerAbilityXp(NULL, record)) return 1;
  /* The first item is the vendor name: an 8-byte header, then 12 characters. */
  printf("opened %s: %.12s, interface version %u, ability record %u bytes, USB id %04X:%04X\n",
         device, (const char*)record + 8, version, size, QRX7730_USB_VENDOR_ID,
         QRX7730_USB_PRODUCT_ID);
  free(record);
  TerminateScanner(NULL);
  return 0;
}
