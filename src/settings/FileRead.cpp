#include "settings/FileRead.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kvx {

QString readRegularFile(const QString &path, qsizetype limit, QByteArray *content)
{
    const QString notAFile = QCoreApplication::translate("FileRead", "It is not a regular file.");
    content->clear();
#ifdef Q_OS_UNIX
    // What is opened is checked, not the name, which may stand for something else by then;
    // opening never blocks on a pipe.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return qt_error_string(errno);
    struct stat st
    {};
    QString reason;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        reason = notAFile;
    } else {
        content->resize(limit + 1);
        qsizetype got = 0;
        while (got < content->size()) {
            const ssize_t n = ::read(fd, content->data() + got, std::size_t(content->size() - got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                reason = qt_error_string(errno);
            if (n <= 0)
                break;
            got += qsizetype(n);
        }
        content->truncate(reason.isEmpty() ? got : 0);
    }
    ::close(fd);
    return reason;
#else
    QFile file(path);
    if (!QFileInfo(path).isFile())
        return notAFile;
    if (!file.open(QIODevice::ReadOnly))
        return file.errorString();
    *content = file.read(limit + 1);
    return file.error() == QFileDevice::NoError ? QString() : file.errorString();
#endif
}

} // namespace kvx
