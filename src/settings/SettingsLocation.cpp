#include "settings/SettingsLocation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace kvx {

namespace {

const QString kFileName = QStringLiteral("Eval310.ini");

} // namespace

bool installed(const QString &programDir)
{
    // An install tree has the desktop entry beside bin/; a build or a portable copy has not.
    return QFileInfo::exists(
        QDir(programDir)
            .filePath(QStringLiteral("../share/applications/org.kvx310.EvalKit.desktop")));
}

QString settingsPathFor(const QString &programDir, const QString &configDir)
{
    // Permission bits do not tell it all (a read-only file system, access lists): a file that
    // can be created there can be kept there. An installed program's folder is the system's,
    // even for root, who may write it.
    QTemporaryFile probe(QDir(programDir).filePath(QStringLiteral("Eval310.XXXXXX")));
    if (QFileInfo(programDir).isDir() && !installed(programDir) && probe.open())
        return QDir(programDir).filePath(kFileName);
    return QDir(configDir).filePath(kFileName);
}

bool adoptProgramSettings(const QString &programDir, const QString &path)
{
    const QString beside = QDir(programDir).filePath(kFileName);
    if (QFileInfo(path) == QFileInfo(beside) || QFileInfo::exists(path) ||
        !QFileInfo(beside).isReadable())
        return false;
    return ensureSettingsFolder(path) && QFile::copy(beside, path);
}

QString defaultSettingsPath()
{
    const QString programDir = QCoreApplication::applicationDirPath();
    const QString path = settingsPathFor(
        programDir, QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation));
    adoptProgramSettings(programDir, path);
    return path;
}

bool ensureSettingsFolder(const QString &path)
{
    return QDir().mkpath(QFileInfo(path).absolutePath());
}

} // namespace kvx
