#pragma once

// Reading a file the user names, bounded: only a regular file is read (a named pipe would
// block, a device such as /dev/zero would never end), and no more of it than the caller can
// use. For the snapshot and RAM files of the windows and the tool; any thread.

#include <QByteArray>
#include <QString>

namespace kvx {

// Reads at most `limit` + 1 bytes of `path` into `content`, so that a longer file shows as
// one. Empty on success, else the reason, as the system gives it or "It is not a regular file."
[[nodiscard]] QString readRegularFile(const QString &path, qsizetype limit, QByteArray *content);

} // namespace kvx
