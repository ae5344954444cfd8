#include "app/SettingsLocation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace kvx {

namespace {

const QString kFileName = QStringLiteral("Eval310.ini");

} // namespace

QString settingsPathFor(const QString &programDir, const QString &configDir)
{
    // Permission bits do not tell it all (a read-only file system, access lists, root): a
    // file that can be created there can be kept there.
    QTemporaryFile probe(QDir(programDir).filePath(QStringLiteral("Eval310.XXXXXX")));
    if (QFileInfo(programDir).isDir() && probe.open())
        return QDir(programDir).filePath(kFileName);
    return QDir(configDir).filePath(kFileName);
}

QString defaultSettingsPath()
{
    return settingsPathFor(QCoreApplication::applicationDirPath(),
                           QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation));
}

bool ensureSettingsFolder(const QString &path)
{
    return QDir().mkpath(QFileInfo(path).absolutePath());
}

} // namespace kvx
