#pragma once

// What the graphic display writes to files: a motor's recorded cycles as comma-separated text.
// No widgets; user-interface thread.

#include "graphics/TraceRecorder.h"

#include <QByteArray>
#include <QString>

namespace kvx {

inline constexpr char kTraceCsvHeader[] = "cycle,position,velocity,target velocity,acceleration";

// One line per complete cycle, oldest first, after the header; velocities and acceleration
// are the magnitudes the display records.
[[nodiscard]] QByteArray traceCsv(const TraceRecorder &recorder, int motor);

} // namespace kvx
