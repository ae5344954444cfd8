#include "settings/FileSave.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kvx {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("FileSave", text);
}

#ifdef Q_OS_UNIX
QString systemError()
{
    return qt_error_string(errno);
}

// Opens a new file in `folder` whose name starts with `stem`; the system applies the user's
// umask as it does for any new file.
int createBeside(const QString &folder, const QString &stem, QByteArray *name)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        *name =
            QFile::encodeName(folder + QStringLiteral("/.") + stem +
                              QStringLiteral(".%1.tmp").arg(QRandomGenerator::global()->generate(),
                                                            8, 16, QLatin1Char('0')));
        const int fd = ::open(name->constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

bool writeAll(int fd, const QByteArray &data)
{
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, std::size_t(data.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        done += qsizetype(n);
    }
    return true;
}

void syncFolder(const QString &folder)
{
    // The rename itself must reach the device too; a folder that cannot be synced still holds
    // the whole new file or the whole old one.
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}
#endif

} // namespace

QString saveWholeFile(const QString &path, const QByteArray &data)
{
#ifdef Q_OS_UNIX
    // A chain of links ends at the file they all name; a dangling link is followed as far as
    // it goes, so that the file is created where the last link points.
    QString target = path;
    for (int hops = 0; hops < 40; ++hops) {
        const QFileInfo link(target);
        if (!link.isSymLink())
            break;
        target = link.symLinkTarget();
    }
    const QFileInfo info(target);
    const QByteArray finalName = QFile::encodeName(info.absoluteFilePath());
    struct stat old
    {};
    const bool existed = ::stat(finalName.constData(), &old) == 0;
    // Renamed over, a device or a pipe would be replaced, not written.
    if (existed && !S_ISREG(old.st_mode))
        return tr("It is not a regular file.");

    QByteArray temporary;
    const int fd = createBeside(info.absolutePath(), info.fileName(), &temporary);
    if (fd < 0)
        return systemError();
    // Each step's failure is kept before close() or unlink() can change errno.
    QString reason;
    // Best effort: file systems without Unix permissions (FAT, many network shares) refuse
    // them, and a save there must not fail for it. The owner stays when we may set it.
    if (existed) {
        [[maybe_unused]] const int owned = ::fchown(fd, old.st_uid, old.st_gid);
        ::fchmod(fd, old.st_mode & 07777);
    }
    // Written data are only safe once synced: a full device may refuse them as late as that.
    if (reason.isEmpty() && (!writeAll(fd, data) || ::fsync(fd) != 0))
        reason = systemError();
    if (::close(fd) != 0 && reason.isEmpty())
        reason = systemError();
    if (reason.isEmpty() && ::rename(temporary.constData(), finalName.constData()) != 0)
        reason = systemError();
    if (!reason.isEmpty()) {
        ::unlink(temporary.constData());
        return reason;
    }
    syncFolder(info.absolutePath());
    return {};
#else
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    // The save file does not see an error of the last flush: it is checked here.
    if (file.write(data) != data.size() || !file.flush()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return reason;
    }
    if (!file.commit())
        return file.errorString();
    return {};
#endif
}

} // namespace kvx
