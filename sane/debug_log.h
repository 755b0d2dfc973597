// The backend's debug output: with SANE_DEBUG_QRX7730=N in the environment the
// messages of level N and below go to the error output, each line led by
// "[qrx7730] " as SANE's backends print theirs, and by the local time of day to
// the millisecond ("[qrx7730] 14:03:12.345 scan started ..."), so that a user can
// see where the time goes. Without it the backend prints nothing (front ends
// report the SANE status themselves).
#pragma once

namespace qrx::sane {

inline constexpr int kLogError = 1;   // a failure, with the library's own words for it
inline constexpr int kLogInfo = 2;    // what the backend does and what it waits for
inline constexpr int kLogCall = 3;    // every entry point and every library call
inline constexpr int kLogDetail = 4;  // line by line

// Reads SANE_DEBUG_QRX7730 (sane_init calls it); a value that is not a number
// counts as 0.
void read_debug_level();
int debug_level();

void debug(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Seconds on the monotonic clock, for saying how long a wait took.
double monotonic_seconds();

}  // namespace qrx::sane
