#pragma once

// What the graphic display writes to files: a motor's recorded cycles as comma-separated text,
// and the whole-or-nothing write that puts any content on disk. No widgets; user-interface
// thread.

#include "graphics/TraceRecorder.h"

#include <QByteArray>
#include <QString>

namespace kvx {

inline constexpr char kTraceCsvHeader[] = "cycle,position,velocity,target velocity,acceleration";

// One line per complete cycle, oldest first, after the header; velocities and acceleration
// are the magnitudes the display records.
[[nodiscard]] QByteArray traceCsv(const TraceRecorder &recorder, int motor);

// Writes `data` to `path` through a temporary file that replaces it only once complete, so a
// failure leaves any earlier file untouched. Empty on success, else the reason.
[[nodiscard]] QString writeWholeFile(const QString &path, const QByteArray &data);

} // namespace kvx
