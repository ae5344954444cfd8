#include "attach/AttachProtocol.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLocalSocket>

#include <algorithm>
#include <cerrno>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace kvx {

namespace {

std::optional<std::uint32_t> hexWord(const QString &hex)
{
    if (hex.size() != 8)
        return std::nullopt;
    bool ok = false;
    const std::uint32_t v = hex.toUInt(&ok, 16);
    return ok ? std::optional(v) : std::nullopt;
}

} // namespace

QString attachFolder(QString *why)
{
    auto refuse = [why](const QString &reason) {
        if (why)
            *why = reason;
        return QString();
    };
    // The user's runtime folder is theirs alone; without one, a folder of their own in /tmp.
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray folder =
        runtime.isEmpty() ? "/tmp/kvx310-" + QByteArray::number(::geteuid()) : runtime + "/kvx310";
    const QString shown = QString::fromLocal8Bit(folder);
    struct stat st
    {};
    if (!runtime.isEmpty()) {
        ::mkdir(runtime.constData(), 0700);
        // Nobody else may rename what lies in it.
        if (::stat(runtime.constData(), &st) != 0 || st.st_uid != ::geteuid() ||
            (st.st_mode & 022) != 0)
            return refuse(QCoreApplication::translate("kvx310",
                                                      "the runtime folder %1 (XDG_RUNTIME_DIR) is "
                                                      "not this user's alone")
                              .arg(QString::fromLocal8Bit(runtime)));
    }
    const bool made = ::mkdir(folder.constData(), 0700) == 0;
    const int madeError = errno;
    // A folder someone else made, or one others may enter, is not used: its sockets could be
    // theirs.
    if (::lstat(folder.constData(), &st) != 0)
        return refuse(QCoreApplication::translate("kvx310", "%1 cannot be made: %2")
                          .arg(shown, qt_error_string(made ? errno : madeError)));
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
        return refuse(QCoreApplication::translate("kvx310",
                                                  "%1 is not a folder of this user's (its owner "
                                                  "is user %2); remove it, or set "
                                                  "XDG_RUNTIME_DIR")
                          .arg(shown)
                          .arg(st.st_uid));
    if ((st.st_mode & 077) != 0)
        return refuse(QCoreApplication::translate("kvx310",
                                                  "%1 is open to other users (mode %2); make it "
                                                  "0700")
                          .arg(shown)
                          .arg(st.st_mode & 0777, 4, 8, QLatin1Char('0')));
    return shown;
}

QString attachSocketPath(const PortTarget &target, QString *why)
{
    if (target.kind == PortTarget::Kind::Invalid)
        return {};
    const QString folder = attachFolder(why);
    if (folder.isEmpty())
        return {};
    // A device by its real path: /dev/serial/by-id/... and the tty it links to are one port.
    QString key;
    if (target.kind == PortTarget::Kind::Simulated) {
        key = QStringLiteral("sim-") + target.variant;
    } else {
        const QString real = QFileInfo(target.path).canonicalFilePath();
        key = real.isEmpty() ? target.path : real;
    }
    const QByteArray hash = QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1);
    const QString unique =
        QLatin1Char('-') + QString::fromLatin1(hash.toHex().left(12)) + QStringLiteral(".sock");
    // The whole name must fit in a socket's address with its end and the byte Qt keeps for an
    // abstract name's start: a longer one cannot be listened on, and the tool would find no
    // window where there is one. The readable part of it, one byte a character, gives way to a
    // deep folder.
    constexpr qsizetype kMostBytes = qsizetype(sizeof(sockaddr_un::sun_path)) - 2;
    const qsizetype room = kMostBytes - QFile::encodeName(folder).size() - 1 - unique.size();
    if (room < 0) {
        if (why)
            *why = QCoreApplication::translate("kvx310",
                                               "%1 is too long a folder name for a socket (%2 "
                                               "bytes at most); set XDG_RUNTIME_DIR")
                       .arg(folder)
                       .arg(kMostBytes - 1 - unique.size());
        return {};
    }
    QString readable = key.right(std::min<qsizetype>(40, room));
    for (QChar &c : readable) {
        if (c.unicode() >= 0x80 ||
            (!c.isLetterOrNumber() && c != QLatin1Char('-') && c != QLatin1Char('.')))
            c = QLatin1Char('_');
    }
    return folder + QLatin1Char('/') + readable + unique;
}

QString toHex(const Datagram &d)
{
    return QStringLiteral("%1%2")
        .arg(d.address, 2, 16, QLatin1Char('0'))
        .arg(d.data.value(), 6, 16, QLatin1Char('0'))
        .toUpper();
}

QString toHex(const Reply &r)
{
    return QStringLiteral("%1%2")
        .arg(r.status, 2, 16, QLatin1Char('0'))
        .arg(r.data.value(), 6, 16, QLatin1Char('0'))
        .toUpper();
}

std::optional<Datagram> datagramFromHex(const QString &hex)
{
    const std::optional<std::uint32_t> w = hexWord(hex);
    if (!w)
        return std::nullopt;
    return Datagram::make(std::uint8_t(*w >> 24), *w & kDataMask);
}

std::optional<Reply> replyFromHex(const QString &hex)
{
    const std::optional<std::uint32_t> w = hexWord(hex);
    if (!w)
        return std::nullopt;
    return Reply{std::uint8_t(*w >> 24), DataBytes::fromValue(*w & kDataMask)};
}

bool peerIsThisUser(const QLocalSocket &socket)
{
#ifdef __linux__
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0)
        return false;
    return peer.uid == ::geteuid();
#else
    Q_UNUSED(socket);
    return true;
#endif
}

QByteArray messageLine(const QJsonObject &message)
{
    return QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<QJsonObject> parseMessage(const QByteArray &line)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    return doc.object();
}

} // namespace kvx
