// The compiled-in defaults of the tuning record, written into a zeroed TuningValues by the
// ScannerSetting constructor. Each function fills its own group of fields and no other.
#pragma once

#include "settings/tuning_values.h"

namespace qrx::settings::internal {

// Every scalar field (default_scalars.cpp).
void SetDefaultScalars(TuningValues& values);
// Line periods, slope-step counts, step modes, phase indexes, feed steps, vertical bounds,
// carriage-move settings and stored-table numbers (default_motion_tables.cpp).
void SetDefaultMotionTables(TuningValues& values);
// The ten stored motor slope tables (motor_tables.cpp).
void SetDefaultMotorTables(TuningValues& values);
// Register start-up tables, shading coefficients, filter kernels, sensor and sampling tables
// (default_tables.cpp).
void SetDefaultTables(TuningValues& values);

}  // namespace qrx::settings::internal
