// SIGINT and SIGTERM ask the daemon to stop. They are caught from the start, before
// the ready line, so that a signal sent the moment a client sees that line still
// gives a clean stop instead of killing the process with its socket left behind.
#pragma once

namespace qrx::sim {

// From now on SIGINT and SIGTERM no longer end the process; they are remembered.
void catch_stop_signals();
// Returns once SIGINT or SIGTERM has arrived (at once if one already has).
void wait_for_stop_signal();

}  // namespace qrx::sim
