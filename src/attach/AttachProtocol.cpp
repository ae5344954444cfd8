#include "attach/AttachProtocol.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLocalSocket>

#include <sys/socket.h>
#include <sys/stat.h>
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

QString attachFolder()
{
    // The user's runtime folder is theirs alone; without one, a folder of their own in /tmp.
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray folder =
        runtime.isEmpty() ? "/tmp/kvx310-" + QByteArray::number(::geteuid()) : runtime + "/kvx310";
    struct stat st
    {};
    if (!runtime.isEmpty()) {
        ::mkdir(runtime.constData(), 0700);
        // Nobody else may rename what lies in it.
        if (::stat(runtime.constData(), &st) != 0 || st.st_uid != ::geteuid() ||
            (st.st_mode & 022) != 0)
            return {};
    }
    ::mkdir(folder.constData(), 0700);
    // A folder someone else made, or one others may enter, is not used: its sockets could be
    // theirs.
    if (::lstat(folder.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
        (st.st_mode & 077) != 0)
        return {};
    return QString::fromLocal8Bit(folder);
}

QString attachSocketPath(const PortTarget &target)
{
    if (target.kind == PortTarget::Kind::Invalid)
        return {};
    const QString folder = attachFolder();
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
    QString readable = key.right(40);
    for (QChar &c : readable) {
        if (!c.isLetterOrNumber() && c != QLatin1Char('-') && c != QLatin1Char('.'))
            c = QLatin1Char('_');
    }
    const QByteArray hash = QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1);
    return folder + QLatin1Char('/') + readable + QLatin1Char('-') +
           QString::fromLatin1(hash.toHex().left(12)) + QStringLiteral(".sock");
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
