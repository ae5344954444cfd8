#include "controls/SaveReport.h"

#include "controls/Dialogs.h"
#include "settings/FileSave.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace kvx {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("FileSave", text);
}

} // namespace

void reportSaveFailure(QWidget *parent, const QString &path, const QString &reason,
                       const QString &text)
{
    const QString name = QDir::toNativeSeparators(path);
    const QString why = text.isEmpty() ? reason : name + QStringLiteral(": ") + reason;
    Dialogs::message(parent,
                     MessageRequest{QMessageBox::Critical,
                                    text.isEmpty() ? tr("Could not save %1.").arg(name) : text,
                                    QFileInfo::exists(path)
                                        ? why + QLatin1Char('\n') +
                                              tr("An earlier file of that name is left as it was.")
                                        : why});
}

bool saveFileOrReport(QWidget *parent, const QString &path, const QByteArray &data,
                      const QString &text)
{
    const QString reason = saveWholeFile(path, data);
    if (reason.isEmpty())
        return true;
    reportSaveFailure(parent, path, reason, text);
    return false;
}

} // namespace kvx
