#pragma once

// Telling the user that a save failed, in the window's own words where it has them, and that
// the earlier file is left as it was. User-interface thread.

#include <QByteArray>
#include <QString>

class QWidget;

namespace kvx {

// Tells the user that `path` could not be saved and why. `text` is the window's own words
// where it has them ("File save error!"); otherwise the message names the file.
void reportSaveFailure(QWidget *parent, const QString &path, const QString &reason,
                       const QString &text = {});

// saveWholeFile, with reportSaveFailure on failure; true when saved.
bool saveFileOrReport(QWidget *parent, const QString &path, const QByteArray &data,
                      const QString &text = {});

} // namespace kvx
