#pragma once

// What the graphic display writes to files: the recorded cycles as comma-separated text, all
// motors in one file, and the older file of one motor. No widgets; user-interface thread.

#include "records/TraceRecorder.h"

#include <QByteArray>
#include <QString>

namespace kvx {

inline constexpr char kTraceCsvHeader[] = "cycle,position,velocity,target velocity,acceleration";

// One line per complete cycle, oldest first, after the header; velocities and acceleration
// are the magnitudes the display records. Kept for the files and scripts made before the
// whole export.
[[nodiscard]] QByteArray traceCsv(const TraceRecorder &recorder, int motor);

// The header of the whole export, named as kvx310 record names its columns:
// "time_s,X_ACTUAL_1,V_TARGET_1,V_ACTUAL_1,A_ACTUAL_1,...,A_ACTUAL_3".
[[nodiscard]] QByteArray traceCsvAllHeader();
// Every complete cycle of all three motors, oldest first: the seconds since the oldest cycle
// ended, then each motor's values, signed as the board gave them.
[[nodiscard]] QByteArray traceCsvAll(const TraceRecorder &recorder);
// The seconds from the end of the oldest complete cycle to the end of `slot`'s.
[[nodiscard]] double traceSeconds(const TraceRecorder &recorder, int slot);

} // namespace kvx
