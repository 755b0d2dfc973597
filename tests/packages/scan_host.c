/* A host built against the installed packages (header, library, pkg-config):
 * scans a window of one inch square at 75 dpi in 8-bit grey from the scanner at
 * the device path given, the whole sequence of a scan, and prints the mean grey
 * of the window's left and right thirds. Exits 0 when every call succeeded and
 * the lines announced were delivered. */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <qrx7730.h>

static int failed(const char *call) {
  uint16_t status = 0;
  GetScannerStatus(NULL, &status);
  printf("%s failed: 0x%04X\n", call, status);
  TerminateScanner(NULL);
  return 1;
}

static void pause_briefly(void) {
  const struct timespec wait = {0, 10 * 1000 * 1000};
  nanosleep(&wait, NULL);
}

int main(int argc, char **argv) {
  const char *device = argc > 1 ? argv[1] : "sim:";
  if (!FindScannerEx(NULL, device, QRX7730_USB_PRODUCT_ID)) return failed("FindScannerEx");
  if (!InitializeScanner(NULL)) return failed("InitializeScanner");
  int polls = 0;
  while (!SetLamp(NULL, QRX_LAMP_FLATBED)) {
    if (++polls > 6000) return failed("SetLamp");
    pause_briefly();
  }
  for (polls = 0; !GetLampStatus(NULL, 0); ++polls) {
    uint16_t status = 0;
    GetScannerStatus(NULL, &status);
    if ((status & 0xFF00) != QRX_LAMP_WARMING_UP || polls > 6000) return failed("GetLampStatus");
    pause_briefly();
  }

  ScanParameter parameter = {0};
  parameter.xRes = parameter.yRes = 75;
  parameter.ScanningArea.width = parameter.ScanningArea.length = 9600; /* one inch */
  parameter.BitsPerPixel = 8;
  if (!SetScanParameter(NULL, &parameter)) return failed("SetScanParameter");
  DataStatus data = {0};
  if (!GetDataStatus(NULL, &data)) return failed("GetDataStatus");
  if (data.LineBytes == 0 || data.LinesLeft == 0) return failed("GetDataStatus (empty)");

  const uint8_t options[QRX_START_OPTIONS_SIZE] = {0};
  if (!StartScanEx(NULL, options)) return failed("StartScanEx");
  for (polls = 0;; ++polls) {
    uint8_t status = 0;
    if (!GetCalibrationStatus(NULL, &status)) return failed("GetCalibrationStatus");
    if (status != 2) break;
    if (polls > 60000) return failed("GetCalibrationStatus (calibration)");
    pause_briefly();
  }

  const uint32_t width = data.LineBytes, lines = data.LinesLeft;
  unsigned char *line = malloc(width);
  if (line == NULL) return failed("malloc");
  double left = 0, right = 0;
  const uint32_t third = width / 3;
  for (uint32_t row = 0; row < lines; ++row) {
    if (!ReadScan(NULL, NULL, line, width)) return failed("ReadScan");
    for (uint32_t x = 0; x < third; ++x) {
      left += line[x];
      right += line[width - 1 - x];
    }
  }
  free(line);
  if (!StopScanEx(NULL, NULL)) return failed("StopScanEx");
  TerminateScanner(NULL);
  printf("scanned %s: %u x %u pixels, left third %.0f, right third %.0f\n", device, width, lines,
         left / ((double)third * lines), right / ((double)third * lines));
  return 0;
}
