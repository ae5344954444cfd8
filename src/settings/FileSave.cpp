#include "settings/FileSave.h"

#include "chip/ValueFormat.h"

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

// Where `path` leads through links of the user's own or root's (a chain ends at the file they
// all name; a dangling link where it points); empty, with `error` naming the link, at a link
// of another user's. Whoever may replace such a link in a shared folder decides where a save
// through it goes, so it is not followed wherever it lies, as the system's protection does only
// in sticky folders.
QString followOwnLinks(const QString &path, QString *error)
{
    QString target = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st
        {};
        if (::lstat(QFile::encodeName(target).constData(), &st) != 0 || !S_ISLNK(st.st_mode))
            break;
        if (st.st_uid != ::geteuid() && st.st_uid != 0) {
            *error = tr("%1 is a symbolic link of another user (uid %2); it is not followed")
                         .arg(quoted(target, 200))
                         .arg(st.st_uid);
            return {};
        }
        target = QFileInfo(target).symLinkTarget();
    }
    return target;
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
    QString refused;
    const QString target = followOwnLinks(path, &refused);
    if (target.isEmpty())
        return refused;
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

QString openToRecord(const QString &path, QFile &file)
{
#ifdef Q_OS_UNIX
    QString refused;
    const QString target = followOwnLinks(path, &refused);
    if (target.isEmpty())
        return refused;
    const QByteArray name = QFile::encodeName(target);
    struct stat st
    {};
    if (::stat(name.constData(), &st) == 0 && !S_ISREG(st.st_mode))
        return tr("It is not a regular file.");
    // What was opened is checked again: the name may stand for something else by then. A link
    // put in its place meanwhile is not followed.
    const int fd =
        ::open(name.constData(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return systemError();
    QString reason;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        reason = tr("It is not a regular file.");
    else if (::ftruncate(fd, 0) != 0)
        reason = systemError();
    else if (!file.open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered,
                        QFileDevice::AutoCloseHandle))
        reason = file.errorString();
    if (!reason.isEmpty())
        ::close(fd);
    return reason;
#else
    file.setFileName(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return file.errorString();
    return {};
#endif
}

} // namespace kvx
