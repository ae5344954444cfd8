#pragma once

// The one way the program puts a file on disk: every save (settings, RAM file, snapshot, plot
// data and picture, traffic) goes through here, so that a full disk or a failing device never
// leaves a half-written or empty file where the user's old one was, and a recording opens its
// file here. A symbolic link is followed only when it is the user's own (or the system's,
// root's): in a folder others may write to, a link another user planted would otherwise turn
// the save into a write of whatever file it names. It needs no widgets and may run on any
// thread; SaveReport tells the user when it fails.

#include <QByteArray>
#include <QString>

class QFile;

namespace kvx {

// Writes `data` to a new file beside `path`, checks every write, syncs it to the device and
// only then renames it over `path` (a symbolic link's target, when `path` is one of the user's
// own; the old file's owner and permissions are kept where they may be). On any failure nothing
// is renamed and the temporary file goes: the old file stays as it was. Empty on success, else
// the reason, as the system gives it or naming the link that was not followed.
[[nodiscard]] QString saveWholeFile(const QString &path, const QByteArray &data);

// Opens `path` for a recording, written from its start and unbuffered: a regular file, new or
// emptied, where the user's own links lead. A device, a pipe or a folder is refused before it is
// opened (a serial device's lines would move on open). Empty on success, else the reason.
[[nodiscard]] QString openToRecord(const QString &path, QFile &file);

} // namespace kvx
