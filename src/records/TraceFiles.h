#pragma once

// What the graphic display writes to files: the recorded cycles as comma-separated text, all
// motors in one file, and the older file of one motor. No widgets; user-interface thread.

#include "records/TraceRecorder.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace kvx {

inline constexpr char kTraceCsvHeader[] = "cycle,position,velocity,target velocity,acceleration";

// One line per complete cycle, oldest first, after the header; velocities and acceleration
// are the magnitudes the display records. Kept for the files and scripts made before the
// whole export.
[[nodiscard]] QByteArray traceCsv(const TraceRecorder &recorder, int motor);

// The header of the whole export, named as kvx310 record names its columns:
// "time_s,X_ACTUAL_1,V_TARGET_1,V_ACTUAL_1,A_ACTUAL_1,...,A_ACTUAL_3".
[[nodiscard]] QByteArray traceCsvAllHeader();
// Every complete cycle of all three motors timed whole (TraceRecorder::cycleStart), oldest
// first: the seconds since the oldest one's first request went out, as kvx310 record times its
// lines, then each motor's values, signed as the board gave them.
[[nodiscard]] QByteArray traceCsvAll(const TraceRecorder &recorder);
// The oldest complete slot whose cycle was timed whole; none before the first.
[[nodiscard]] std::optional<int> firstTimedSlot(const TraceRecorder &recorder);
// The seconds from the first request of the oldest timed cycle to that of `slot`'s; 0 for a
// slot not timed.
[[nodiscard]] double traceSeconds(const TraceRecorder &recorder, int slot);

// A mark of the time axis: at column `x` of the plot (between two cycles' columns where it falls
// between them), `seconds` after the oldest timed cycle's first request.
struct TraceTimeTick
{
    double x = 0;
    double seconds = 0;
};
// Marks at a round step (0.1, 0.2, 0.5, 1, 2, 5 ... s), at most `most` of them, over the timed
// cycles; none before two cycles are timed.
[[nodiscard]] std::vector<TraceTimeTick> traceTimeTicks(const TraceRecorder &recorder,
                                                        int most = 10);

} // namespace kvx
