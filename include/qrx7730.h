/*
 * qrx7730.h - public interface of the QRX7730 flatbed scanner driver library.
 *
 * A host scanning application loads libqrx7730.so (Linux) or QRX7730L.DLL (64-bit
 * Windows) and drives the scanner through the 32 functions below. Every function
 * returns a QRX_BOOL: 1 (TRUE) for success, 0 (FALSE) for failure. A failing call
 * leaves a 16-bit status code behind that GetScannerStatus reports; the codes are
 * listed at the end of this file.
 *
 * All exports except ReadRegister and WriteRegister take a pointer-sized first
 * argument that the library never reads (hosts usually pass a window handle).
 *
 * Usable from C and C++.
 */
#ifndef QRX7730_H
#define QRX7730_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(QRX7730_BUILDING_LIBRARY) && !defined(_WIN32) && defined(__GNUC__)
#define QRX7730_API __attribute__((visibility("default")))
#else
#define QRX7730_API
#endif

typedef int32_t QRX_BOOL;

#define QRX_TRUE 1
#define QRX_FALSE 0

/* USB identity of the scanner. The defaults are the open test ids of the pid.codes
 * project, which belong to no scanner maker; a build for the real device sets
 * them as CMake cache variables QRX7730_USB_VENDOR_ID / QRX7730_USB_PRODUCT_ID. */
#ifndef QRX7730_USB_VENDOR_ID
#define QRX7730_USB_VENDOR_ID 0x1209
#endif
#ifndef QRX7730_USB_PRODUCT_ID
#define QRX7730_USB_PRODUCT_ID 0x0001
#endif

/* The interface version GetQuarnAPIVersion reports. */
#define QRX7730_API_VERSION 2u

/* Longest device path FindScannerEx accepts, in characters (without terminator). */
#define QRX7730_MAX_DEVICE_PATH 255

/* ------------------------------------------------------------------------- */
/* Records exchanged with the host (little-endian, natural alignment).          */
/* ------------------------------------------------------------------------- */

/* A rectangle in 1/9600 inch, measured from the scan origin. */
typedef struct QRX_Area {
    uint32_t x;
    uint32_t y;
    uint32_t width;
    uint32_t length; /* in the direction of carriage travel */
} QRX_Area;

/* The scan description given to SetScanParameter (44 bytes). Bytes named
 * Reserved are carried but not interpreted by the library. */
typedef struct ScanParameter {
    uint16_t xRes;             /*  0: horizontal resolution, dpi */
    uint16_t yRes;             /*  2: vertical resolution, dpi */
    QRX_Area ScanningArea;     /*  4: window, 1/9600 inch */
    uint8_t FilmArea;          /* 20: 0 = flatbed glass, else film adapter area */
    uint8_t BitsPerPixel;      /* 21: 8 or 16 grey, 24 or 48 colour */
    uint8_t Reserved22;        /* 22 */
    uint8_t UseAGData;         /* 23: 1 = use the block given to SetAGData */
    uint8_t FilmType;          /* 24 */
    uint8_t Reserved25;        /* 25 */
    uint8_t LowResOversample;  /* 26: non-zero = read 75 and 150 dpi at 300 dpi */
    uint8_t Reserved27[11];    /* 27..37 */
    uint8_t WideSamples;       /* 38: 1 = 16 bits per sample for 8/24-bit requests */
    uint8_t Reserved39[5];     /* 39..43 */
} ScanParameter;

/* Header of one item of the ability stream written by GetScannerAbilityXp. */
typedef struct AbilityItem {
    uint16_t Tag;
    uint16_t Kind;   /* 0 end, 1 immediate value, 2 inline bytes, 3 referenced block */
    uint16_t Length; /* bytes of value or payload */
    uint16_t Value;  /* kind 1 only */
} AbilityItem;

#define QRX_ABILITY_KIND_END 0
#define QRX_ABILITY_KIND_VALUE 1
#define QRX_ABILITY_KIND_BYTES 2
#define QRX_ABILITY_KIND_BLOCK 3
#define QRX_ABILITY_TAG_END 0xFFFF

/* Front-panel button event written by ReadPushButton (2 bytes). */
typedef struct ButtonEvent {
    uint8_t Pressed; /* 0x80 when a newly pressed button is reported, else 0 */
    uint8_t Button;  /* 1 << (button - 1) for the reported button, else 0 */
} ButtonEvent;

/* Button layout written by InitialButton (8 bytes). */
typedef struct ButtonLayout {
    uint32_t Count;  /* 3 */
    uint16_t Value1; /* 7 */
    uint16_t Value2; /* 7 */
} ButtonLayout;

/* Film adapter report written by GetOPUMode (5 bytes). */
typedef struct OPUMode {
    uint8_t Attached; /* 1 when a film adapter unit is attached; this model: 0 */
    uint8_t Reserved[3];
    uint8_t Mode;     /* 2 */
} OPUMode;

/* Three values written by GetDataStatus. */
typedef struct DataStatus {
    uint32_t LineBytes; /* bytes per delivered line */
    uint32_t LinesLeft; /* output lines still to be read */
    uint32_t LineTime;  /* time of one line, microseconds */
} DataStatus;

/* Light-source codes for SetLamp. */
#define QRX_LAMP_FLATBED 1
#define QRX_LAMP_FILM 4
#define QRX_LAMP_FILM_STORED 12
#define QRX_LAMP_INFRARED 8
#define QRX_LAMP_NONE 255

#define QRX_SCAN_PARAMETER_SIZE 44
#define QRX_AG_BLOCK_SIZE 44
#define QRX_AG_VALUE_COUNT 21
#define QRX_START_OPTIONS_SIZE 8
#define QRX_GAMMA_ENTRIES 65536

#if defined(__cplusplus)
static_assert(sizeof(ScanParameter) == 44, "ScanParameter is 44 bytes");
static_assert(sizeof(AbilityItem) == 8, "AbilityItem header is 8 bytes");
static_assert(sizeof(ButtonEvent) == 2, "ButtonEvent is 2 bytes");
static_assert(sizeof(ButtonLayout) == 8, "ButtonLayout is 8 bytes");
static_assert(sizeof(OPUMode) == 5, "OPUMode is 5 bytes");
static_assert(sizeof(DataStatus) == 12, "DataStatus is 12 bytes");
static_assert(offsetof(ScanParameter, FilmArea) == 20, "ScanParameter layout");
static_assert(offsetof(ScanParameter, WideSamples) == 38, "ScanParameter layout");
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
_Static_assert(sizeof(ScanParameter) == 44, "ScanParameter is 44 bytes");
_Static_assert(sizeof(AbilityItem) == 8, "AbilityItem header is 8 bytes");
_Static_assert(sizeof(ButtonEvent) == 2, "ButtonEvent is 2 bytes");
_Static_assert(sizeof(ButtonLayout) == 8, "ButtonLayout is 8 bytes");
_Static_assert(sizeof(OPUMode) == 5, "OPUMode is 5 bytes");
_Static_assert(sizeof(DataStatus) == 12, "DataStatus is 12 bytes");
_Static_assert(offsetof(ScanParameter, FilmArea) == 20, "ScanParameter layout");
_Static_assert(offsetof(ScanParameter, WideSamples) == 38, "ScanParameter layout");
#endif

/* ------------------------------------------------------------------------- */
/* The 32 exported functions.                                                   */
/* ------------------------------------------------------------------------- */

/* Opens, identifies and powers up the scanner at device_path ("sim:" for the
 * built-in emulated scanner). product_id must be QRX7730_USB_PRODUCT_ID. */
QRX7730_API QRX_BOOL FindScannerEx(void *host, const char *device_path, uint16_t product_id);
QRX7730_API QRX_BOOL InitializeScanner(void *host);
QRX7730_API QRX_BOOL TerminateScanner(void *host);
QRX7730_API QRX_BOOL GetOPUMode(void *host, OPUMode *mode);
QRX7730_API QRX_BOOL GetScannerAbilitySize(void *host, uint16_t *size);
/* buffer must hold the size GetScannerAbilitySize reports. */
QRX7730_API QRX_BOOL GetScannerAbilityXp(void *host, void *buffer);
QRX7730_API QRX_BOOL GetLampStatus(void *host, uint8_t ignored);
QRX7730_API QRX_BOOL SetLamp(void *host, uint8_t light_source);
QRX7730_API QRX_BOOL SetScanParameter(void *host, const ScanParameter *parameter);
QRX7730_API QRX_BOOL DoCalibration(void *host, uint8_t film, uint8_t kind, uint16_t resolution);
QRX7730_API QRX_BOOL StartScanEx(void *host, const void *options /* 8 bytes */);
QRX7730_API QRX_BOOL ReadScan(void *host, void *passthrough, void *buffer, uint32_t size);
QRX7730_API QRX_BOOL StopScanEx(void *host, void *option);
QRX7730_API QRX_BOOL GetDataStatus(void *host, DataStatus *status);
QRX7730_API QRX_BOOL GetScannerStatus(void *host, uint16_t *status);
QRX7730_API QRX_BOOL GetCalibrationStatus(void *host, uint8_t *status);
QRX7730_API QRX_BOOL SetAGData(void *host, const void *block /* 44 bytes */);
QRX7730_API QRX_BOOL GetAGData(void *host, uint16_t *values /* 21 values */);
/* Service test `test` with its argument; the status is its result (for tests 51 and 52
 * the bit map of the input lines, TRUE up to 0xFF). Test 0 is an endurance run: it repeats
 * a carriage pass while the scanner works and returns only when a pass fails, with that
 * failure's status and the scanner free again. A host ends it by making the scanner stop
 * answering (unplugging or switching it off, stopping the emulator daemon) or by ending its
 * own process, whose hold on the scanner the next caller then takes over. */
QRX7730_API QRX_BOOL TestScanner(void *host, uint8_t test, uint8_t argument, uint8_t unused);
QRX7730_API QRX_BOOL InitialButton(void *host, ButtonLayout *layout);
/* Polls the front-panel buttons once. Returns TRUE whenever event is not null, so that a
 * polling loop does not end on a transient failure: a failed poll shows in the last status
 * (QRX_E_NOT_OPEN with no scanner open, QRX_E_BUTTON_REGISTER when the button register
 * could not be read). The record is always written: a newly pressed button, or "no button"
 * (0, 0) when none is reported, also after a failure. */
QRX7730_API QRX_BOOL ReadPushButton(void *host, uint8_t ignored, ButtonEvent *event);
QRX7730_API QRX_BOOL SetGamma(void *host, const uint16_t *table /* 65536 entries */, uint8_t channel,
                              uint32_t unused);
QRX7730_API QRX_BOOL GetQuarnAPIVersion(void *host, uint32_t *version);
QRX7730_API QRX_BOOL LockScanner(void *host, uint8_t unused);
QRX7730_API QRX_BOOL UnlockScanner(void *host);
QRX7730_API QRX_BOOL SetErrorToDevice(void *host, uint16_t unused);
QRX7730_API QRX_BOOL GetCropStatus(void *host, void *unused);
QRX7730_API QRX_BOOL GetReadStatus(void *host, void *unused);
QRX7730_API QRX_BOOL ReadRegister(uint8_t reg, uint8_t *value);
QRX7730_API QRX_BOOL WriteRegister(uint8_t reg, uint8_t value);
QRX7730_API QRX_BOOL SetRawDataParameter(void *host, void *unused);
QRX7730_API QRX_BOOL ReadRawData(void *host, void *unused1, void *unused2);

/* ------------------------------------------------------------------------- */
/* Status codes (GetScannerStatus). The high byte names the family, the low     */
/* byte the failing step.                                                       */
/* ------------------------------------------------------------------------- */

enum QRX_Status {
    QRX_OK = 0x0000,

    /* 0x01: the device could not be opened or set up */
    QRX_E_DEVICE_OPEN = 0x0101,          /* path not openable, status read failed, or not this model */
    QRX_E_NOT_OPEN = 0x0102,             /* no scanner is open: FindScannerEx first (again after TerminateScanner) */
    QRX_E_PORT_SETTING = 0x0105,         /* power-on: port-type setting not written */

    /* 0x0A: self-test verdicts */
    QRX_TEST_LIGHT_UNEVEN = 0x0A01,      /* lit sensor: smallest sample below 23 % of the largest */
    QRX_TEST_DARK_TOO_BRIGHT = 0x0A02,   /* dark sensor: largest sample 81 or more */

    /* 0x6B: film adapter unit missing */
    QRX_E_NO_FILM_ADAPTER = 0x6B01,

    /* 0x82: self-test failures */
    QRX_E_SELFTEST = 0x8200,             /* memory read-back or input/output line test failed */
    QRX_E_SELFTEST_UNIFORMITY = 0x8201,  /* light uniformity above 0.7 */

    /* 0x96: the carriage is still moving */
    QRX_E_CARRIAGE_MOVING = 0x9601,
    QRX_E_SCAN_RUNNING = 0x9602,         /* a scan of this process runs: StopScanEx ends it first */
    QRX_E_CALIBRATING = 0x9603,          /* a background calibration runs: poll GetCalibrationStatus */
    QRX_E_SCANNER_IN_USE = 0x9604,       /* another process scans on this scanner until its StopScanEx */
    QRX_E_OTHER_SCANNER_OPEN = 0x9605,   /* FindScannerEx: this process has a scanner at another path open */

    /* 0x97: a caller's parameter is outside what the device supports */
    QRX_E_PARAMETER = 0x9700,            /* memory test argument, gamma table, calibration source resolution */
    QRX_E_READ_SIZE = 0x9701,            /* ReadScan: byte count not a whole number of lines */
    QRX_E_NULL_ARGUMENT = 0x9702,        /* a required record pointer is null */
    QRX_E_DEVICE_PATH = 0x9703,          /* device path empty, too long, or not usable as a name */
    QRX_E_RESOLUTION = 0x9704,           /* a resolution the scanner cannot be read or moved at */
    QRX_E_NO_SCAN = 0x9705,              /* no scan has been set up or started, or it was stopped */
    QRX_E_UNSUPPORTED = 0x9706,          /* this build of the library cannot do what was asked */
    QRX_E_SCAN_MODE = 0x9707,            /* bit depth not 8/16/24/48, or no line timing for the mode */
    QRX_E_FLATBED_X = 0x970B,            /* flatbed window: x > 81536 */
    QRX_E_FLATBED_WIDTH = 0x970C,        /* flatbed window: width < 128 or > 81664 */
    QRX_E_FLATBED_RIGHT = 0x970D,        /* flatbed window: x + width > 81664 */
    QRX_E_FLATBED_Y = 0x970E,            /* flatbed window: y > 112128 */
    QRX_E_FLATBED_LENGTH = 0x970F,       /* flatbed window: length < 128 or > 112256 */
    QRX_E_FLATBED_BOTTOM = 0x9710,       /* flatbed window: y + length > 112256 */
    QRX_E_FILM_RESOLUTION = 0x9711,      /* film window: xRes or yRes below 300 */
    QRX_E_FILM_X = 0x9712,               /* film window: x > 94528 */
    QRX_E_FILM_WIDTH = 0x9713,           /* film window: width < 128 or > 23616 */
    QRX_E_FILM_RIGHT = 0x9714,           /* film window: x + width > 94656 */
    QRX_E_FILM_Y = 0x9715,               /* film window: y < 21760 */
    QRX_E_FILM_LENGTH = 0x9716,          /* film window: length < 128 or > 182720 */
    QRX_E_FILM_BOTTOM = 0x9717,          /* film window: y + length > 204480 */
    /* reading the image (ReadScan, GetDataStatus) */
    QRX_E_READ_PAST_END = 0x9720,        /* ReadScan: more lines asked than the scan still holds */
    QRX_E_FILTER_LINE_SIZE = 0x9721,     /* ReadScan with the line filter on: not exactly one line */
    QRX_E_FILTER_KERNEL = 0x9722,        /* GetDataStatus: the filter kernel does not fit its window */

    /* 0x98: a memory allocation failed */
    QRX_E_NOMEM_MEMORY_TEST = 0x9800,
    QRX_E_NOMEM_BUFFER = 0x9801,         /* working buffer, or a shading array missing */
    QRX_E_NOMEM_LINES = 0x9802,          /* calibration acquisition: no line buffer */
    QRX_E_NOMEM_COMPOSE = 0x9804,        /* scan start: data-file composition tables */
    QRX_E_NOMEM_SLOPE = 0x9805,          /* slope-table upload buffer */
    QRX_E_NOMEM_AVERAGE = 0x9806,        /* calibration averaging buffer */
    QRX_E_NOMEM_SELFTEST_1 = 0x980C,
    QRX_E_NOMEM_SELFTEST_2 = 0x980D,
    QRX_E_NOMEM_DRAIN = 0x981F,          /* StopScanEx drain buffer */

    /* 0x9B: a device operation failed */
    QRX_E_EXPOSURE_REGISTER = 0x9B00,    /* calibration: register 0x19 unreadable */
    QRX_E_SETUP_REGISTER = 0x9B01,       /* power-on register/clock setup, lamp register, light switch */
    QRX_E_WARMUP_STATE = 0x9B02,         /* lamp warm-up: light-state query */
    QRX_E_WARMUP_STATE_AGAIN = 0x9B03,   /* lamp warm-up: second light-state query */
    QRX_E_WARMUP_SWITCH = 0x9B04,        /* lamp warm-up: switching the light */
    QRX_E_WARMUP_EXPOSURE = 0x9B05,      /* lamp warm-up: exposure setting */
    QRX_E_POWER_LINES = 0x9B06,          /* power-on: power-line sequence */
    QRX_E_POWER_ON_TABLE = 0x9B07,       /* power-on register table; warm-up carriage move */
    QRX_E_RESET = 0x9B08,                /* power-on reset, line 19 or work tables; self-test setup */
    QRX_E_LINE_BUFFER = 0x9B09,          /* power-on line-buffer layout */
    QRX_E_MEMORY_LAYOUT = 0x9B0A,        /* power-on: registers 0x0B/0x08 unreadable, or the layout unwritten */
    QRX_E_LINE_ASSEMBLY = 0x9B0B,        /* ReadScan: a line could not be assembled */
    QRX_E_FILM_DARK_HOME = 0x9B0E,       /* film warm-up dark and return home failed */
    QRX_E_BUTTON_REGISTER = 0x9B10,      /* ReadPushButton: register 0x6D unreadable */
    QRX_E_HOME_SENSOR_BEFORE = 0x9B11,   /* homing: home sensor unreadable before the move */
    QRX_E_HOME_SENSOR_AFTER = 0x9B12,    /* homing: home sensor unreadable after the move */
    QRX_E_NOT_HOME = 0x9B13,             /* homing: carriage did not reach home */
    QRX_E_SCAN_ENABLE_WAIT = 0x9B15,     /* after the motor stopped: scan enable not cleared */
    QRX_E_HOMING_REGISTER = 0x9B16,      /* homing: register 0x0D could not be written */
    QRX_E_HOME_SENSOR_INIT = 0x9B17,     /* homing at initialisation: home sensor unreadable */
    QRX_E_HOME_SENSOR_STEP_OUT = 0x9B18, /* homing at initialisation: unreadable after stepping out */
    QRX_E_ACQUIRE_DATA = 0x9B19,         /* calibration acquisition: image data read failed */
    QRX_E_MOTOR_TIMEOUT = 0x9B1A,        /* motor did not stop within 600 polls */
    QRX_E_HOME_POSITION = 0x9B1B,        /* homing: carriage not where expected */
    QRX_E_ACQUIRE_COUNT = 0x9B1D,        /* calibration acquisition: buffered count unreadable */
    QRX_E_STOP_DRAIN = 0x9B1F,           /* StopScanEx: scan enable not cleared or count unreadable */
    QRX_E_LINE10 = 0x9B20,               /* scan start/stop: input/output line 10 */
    QRX_E_SCAN_EXPOSURE_REGISTER = 0x9B22, /* scan start: register 0x19 unreadable */
    QRX_E_STOP_SCAN_ENABLE = 0x9B24,     /* StopScanEx: scan enable not cleared */
    QRX_E_TIMING_MULTIPLIER = 0x9B25,         /* scan programme: register 0x1E */
    QRX_E_TIMING_LINE_PERIOD = 0x9B26,         /* scan programme: line period registers */
    QRX_E_TIMING_EXPOSURE = 0x9B29,         /* scan programme: exposure registers */
    QRX_E_TIMING_CODE = 0x9B2A,         /* scan programme: divider and timing code */
    QRX_E_TIMING_SAMPLING = 0x9B2C,         /* scan programme: register 0x1D */
    QRX_E_STATUS_REGISTER = 0x9B2D,      /* register 0x41 unreadable; SetLamp watchdog; regs 0x16/0x1D */
    QRX_E_POWER_STATE = 0x9B2F,          /* FindScannerEx: register 0x06 unreadable */
    QRX_E_SENSOR_RESOLUTION = 0x9B34,    /* resolution-dependent timing registers */
    QRX_E_PIXEL_WINDOW = 0x9B35,         /* pixel window registers 0x30/0x32 */
    QRX_E_SHADING_UPLOAD_1 = 0x9B36,     /* shading upload, one channel */
    QRX_E_SHADING_UPLOAD_R = 0x9B37,     /* shading upload, three channels: R, G, B */
    QRX_E_SHADING_UPLOAD_G = 0x9B38,
    QRX_E_SHADING_UPLOAD_B = 0x9B39,
    QRX_E_SHADING_UPLOAD_4R = 0x9B3A,    /* shading upload, four channels: R, G, B, IR */
    QRX_E_SHADING_UPLOAD_4G = 0x9B3B,
    QRX_E_SHADING_UPLOAD_4B = 0x9B3C,
    QRX_E_SHADING_UPLOAD_4IR = 0x9B3D,
    QRX_E_MOTOR_CONTROL = 0x9B3E,           /* motor programme: regs 0x02/0x6A/0x1F, step mode bits */
    QRX_E_MOTOR_HOLD = 0x9B3F,           /* motor programme: reg 0x02 bit 7 */
    QRX_E_MOTOR_MODE = 0x9B42,           /* motor programme: reg 0x02 mode bits */
    QRX_E_MOTOR_PHASE = 0x9B44,           /* motor programme: phase lines */
    QRX_E_MOTOR_ENABLE_BIT = 0x9B46,           /* motor programme: reg 0x02 bit 0; warm-up AFE */
    QRX_E_MOTOR_SLOT0 = 0x9B47,           /* motor programme: reg 0x21 or slot 0's table; warm-up shading switch */
    QRX_E_MOTOR_SLOT1 = 0x9B49,           /* motor programme: reg 0x24 or slot 1's table */
    QRX_E_MOTOR_SLOT2 = 0x9B4A,           /* motor programme: reg 0x69 or slot 2's table */
    QRX_E_MOTOR_SLOT3 = 0x9B4B,           /* motor programme: reg 0x6A or slot 3's table */
    QRX_E_MOTOR_SLOT4 = 0x9B4C,           /* motor programme: reg 0x5F or slot 4's table */
    QRX_E_MOTOR_FEED = 0x9B4D,           /* motor programme: feed steps */
    QRX_E_MOTOR_LINES = 0x9B4E,           /* motor programme: line count, Z1/Z2 */
    QRX_E_MOTOR_BACKWARD_FEED = 0x9B50,           /* motor programme: reg 0x23 */
    QRX_E_MOTOR_FORWARD_FEED = 0x9B51,           /* motor programme: reg 0x22 */
    QRX_E_WARMUP_SETTING = 0x9B45,       /* lamp warm-up: AFE setting */
    QRX_E_START_COUNT = 0x9B55,          /* scan start: data count did not reach zero */
    QRX_E_START_WRITE = 0x9B59,          /* scan start: enable or strobe write failed */
    QRX_E_MEMORY_MAP = 0x9B5A,           /* scan programme: memory map or gamma switch */
    QRX_E_BUFFER_THRESHOLD = 0x9B5C,     /* scan programme: buffer threshold or shading switch */
    QRX_E_MODE_BITS = 0x9B5D,            /* scan programme: mode bits */
    QRX_E_ACQUIRE_LINE10 = 0x9B61,       /* calibration acquisition: line 10 */
    QRX_E_REGISTER_READ = 0x9B70,        /* ReadRegister: the register could not be read */
    QRX_E_REGISTER_WRITE = 0x9B71,       /* WriteRegister: the register could not be written */
    QRX_E_EXPOSURE_FLATBED = 0x9BC9,     /* exposure adjustment for the flatbed missed its target */
    QRX_E_EXPOSURE_FILM = 0x9BCA,        /* exposure adjustment for film missed its target */

    /* 0xA4, 0xA6, 0xB2: lamp states */
    QRX_LAMP_WARMING_UP = 0xA400,        /* plus the warm-up count in the low byte */
    QRX_E_NO_LAMP_SELECTED = 0xA603,     /* no light source selected (SetLamp before SetScanParameter) */
    QRX_E_FILM_LIGHT_DARK = 0xB200,

    /* 0xB3: reference search at initialisation failed */
    QRX_E_REFERENCE_MARK = 0xB300,

    /* 0xFA: a worker thread or its buffer could not be set up */
    QRX_E_IMAGE_RING = 0xFA01,           /* scan start: no memory for the image ring */
    QRX_E_READER_THREAD = 0xFA02,
    QRX_E_CALIBRATION_THREAD = 0xFA03,

    /* 0xFC: data the library needs could not be read or kept */
    QRX_E_CALIBRATION_DATA = 0xFC01,     /* stored calibration not loadable; playback source empty */
    QRX_E_SHADING_SAVE = 0xFC02,         /* calibration: storing the shading result failed */
    QRX_E_DATA_FILE = 0xFC07             /* FindScannerEx: the data file could not be read */
};

#ifdef __cplusplus
}
#endif

#endif /* QRX7730_H */
