#pragma once

// The one way the program puts a file on disk: every save (settings, RAM file, plot data and
// picture, traffic) goes through here, so that a full disk or a failing device never leaves a
// half-written or empty file where the user's old one was. It needs no widgets and may run on
// any thread; SaveReport tells the user when it fails.

#include <QByteArray>
#include <QString>

namespace kvx {

// Writes `data` to a new file beside `path`, checks every write, syncs it to the device and
// only then renames it over `path` (a symbolic link's target, when `path` is one; the old
// file's permissions are kept). On any failure nothing is renamed and the temporary file goes:
// the old file stays as it was. Empty on success, else the reason, as the system gives it.
[[nodiscard]] QString saveWholeFile(const QString &path, const QByteArray &data);

} // namespace kvx
