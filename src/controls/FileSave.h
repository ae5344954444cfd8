#pragma once

// The one way the program puts a file on disk: every save (settings, RAM file, plot data and
// picture, traffic) goes through here, so that a full disk or a failing device never leaves a
// half-written or empty file where the user's old one was. saveWholeFile needs no widgets and
// may run on any thread; the reporting functions are for the user-interface thread.

#include <QByteArray>
#include <QString>

class QWidget;

namespace kvx {

// Writes `data` to a new file beside `path`, checks every write, syncs it to the device and
// only then renames it over `path` (a symbolic link's target, when `path` is one; the old
// file's permissions are kept). On any failure nothing is renamed and the temporary file goes:
// the old file stays as it was. Empty on success, else the reason, as the system gives it.
[[nodiscard]] QString saveWholeFile(const QString &path, const QByteArray &data);

// Tells the user that `path` could not be saved and why. `text` is the window's own words
// where it has them ("File save error!"); otherwise the message names the file.
void reportSaveFailure(QWidget *parent, const QString &path, const QString &reason,
                       const QString &text = {});

// saveWholeFile, with reportSaveFailure on failure; true when saved.
bool saveFileOrReport(QWidget *parent, const QString &path, const QByteArray &data,
                      const QString &text = {});

} // namespace kvx
