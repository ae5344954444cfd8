#include "attach/AttachServer.h"

#include "attach/AttachProtocol.h"
#include "chip/ValueFormat.h"
#include "records/CsvRecorder.h"
#include "session/BoardSession.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QLocalSocket>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#include <sys/socket.h>
#endif

namespace kvx {

namespace {

// More than a RAM transfer and its shape; a longer row is a client gone wrong.
constexpr qsizetype kMaxRequests = 1024;
// How often a recording's lines go to its client: the tool flushes its file once a second.
constexpr int kRecordingMs = 250;
// Rows a client may have waiting; the tool sends one and waits for its answer.
constexpr qsizetype kMaxQueuedRows = 4;
// Answers and recorded lines a client has not read.
constexpr qint64 kMaxUnread = 1 << 20;
// How often silent clients are looked for.
constexpr std::chrono::seconds kCheckEvery{5};
// How long a client turned away may take to read why.
constexpr int kTurnAwayMs = 2000;

// A descriptor this high leaves fewer than kSpareDescriptors for the window's own files (the
// system hands out the lowest free one).
bool amongTheSpare(qintptr descriptor)
{
#ifdef Q_OS_UNIX
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return false;
    return descriptor >= 0 &&
           rlim_t(descriptor) + AttachServer::kSpareDescriptors >= limit.rlim_cur;
#else
    Q_UNUSED(descriptor);
    return false;
#endif
}

} // namespace

AttachServer::AttachServer(BoardSession &session, QObject *parent)
    : QObject(parent)
    , m_session(session)
    , m_facts(session)
{
    auto steady = std::make_shared<QElapsedTimer>();
    steady->start();
    m_clock = [steady] { return steady->elapsed(); };
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, &AttachServer::accept);
    m_recordings.setInterval(kRecordingMs);
    connect(&m_recordings, &QTimer::timeout, this, &AttachServer::sendRecordings);
    m_checks.setInterval(kCheckEvery);
    connect(&m_checks, &QTimer::timeout, this, &AttachServer::checkClients);
}

AttachServer::~AttachServer()
{
    close();
}

bool AttachServer::heldElsewhere(const PortTarget &target)
{
    const QString path = attachSocketPath(target);
    if (path.isEmpty() || !QFile::exists(path))
        return false;
    QLocalSocket probe;
    probe.connectToServer(path);
    return probe.waitForConnected(1000);
}

bool AttachServer::listen(const QString &portName, const PortTarget &target, QString *error)
{
    close();
    QString why;
    const QString path = attachSocketPath(target, &why);
    if (path.isEmpty()) {
        *error = why.isEmpty() ? tr("the port names no device") : why;
        return false;
    }
    // A socket left by a window that crashed answers no one; one that answers is another's.
    if (heldElsewhere(target)) {
        *error = tr("another program holds the port");
        return false;
    }
    QLocalServer::removeServer(path);
    if (!m_server.listen(path)) {
        *error = m_server.errorString();
        return false;
    }
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser |
                                    QFile::WriteUser);
    m_port = portName;
    m_checks.start();
    return true;
}

void AttachServer::close()
{
    m_checks.stop();
    m_queue.clear();
    m_recordings.stop();
    const QString path = m_server.isListening() ? m_server.fullServerName() : QString();
    m_server.close();
    while (!m_clients.empty()) {
        QLocalSocket *socket = m_clients.begin()->first;
        m_clients.erase(m_clients.begin());
        socket->disconnect(this);
        // The tool tells a port let go from a window that was killed by this word. What the
        // tool sent is read first: a close with it unread would reset the connection, word
        // and all.
        socket->write(messageLine({{QStringLiteral("op"), QStringLiteral("bye")}}));
        socket->flush();
        socket->readAll();
        socket->abort();
        socket->deleteLater();
    }
    if (!path.isEmpty())
        QLocalServer::removeServer(path);
}

bool AttachServer::busy(const QLocalSocket *socket) const
{
    const auto it = m_clients.find(const_cast<QLocalSocket *>(socket));
    if (it == m_clients.end())
        return false;
    const bool queued = std::any_of(m_queue.begin(), m_queue.end(),
                                    [socket](const auto &row) { return row.first == socket; });
    return queued || it->second.served || it->second.recorder || it->second.measuring > 0;
}

void AttachServer::checkClients()
{
    const std::int64_t now = m_clock();
    const std::int64_t limit = std::chrono::milliseconds(kIdleLimit).count();
    std::vector<QLocalSocket *> silent;
    for (const auto &[socket, c] : m_clients) {
        if (!busy(socket) && now - c.heard > limit)
            silent.push_back(socket);
    }
    for (QLocalSocket *socket : silent)
        turnAway(
            socket,
            tr("the Eval310 window let the tool go after %1 s of silence").arg(kIdleLimit.count()));
}

void AttachServer::accept()
{
    while (QLocalSocket *socket = m_server.nextPendingConnection()) {
        // The socket's mode keeps others out already; the peer's own credentials make sure.
        if (!peerIsThisUser(*socket)) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        // Each client holds a descriptor: beyond these, the window's own saves would fail, and
        // the system's refusal to accept one more would close the socket for every tool.
        if (m_clients.size() >= std::size_t(kMaxClients) ||
            amongTheSpare(socket->socketDescriptor())) {
            turnAway(socket, tr("the Eval310 window serves as many tools as it can (%1); try "
                                "again once one has ended")
                                 .arg(m_clients.size()));
            continue;
        }
        m_clients[socket].heard = m_clock();
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QLocalSocket::disconnected, this, [this, socket] { drop(socket); });
    }
}

void AttachServer::drop(QLocalSocket *socket)
{
    if (forget(socket))
        socket->deleteLater();
}

bool AttachServer::forget(QLocalSocket *socket)
{
    if (m_clients.erase(socket) == 0)
        return false;
    bool recording = false;
    for (const auto &[s, c] : m_clients)
        recording = recording || c.recorder;
    if (!recording)
        m_recordings.stop();
    return true;
}

void AttachServer::readFrom(QLocalSocket *socket)
{
    const auto it = m_clients.find(socket);
    if (it == m_clients.end())
        return;
    it->second.in += socket->readAll();
    it->second.heard = m_clock();
    QByteArray &in = it->second.in;
    std::vector<QJsonObject> messages;
    for (qsizetype end = in.indexOf('\n'); end >= 0; end = in.indexOf('\n')) {
        const std::optional<QJsonObject> m = parseMessage(in.left(end));
        in.remove(0, end + 1);
        if (!m) {
            // A peer that does not speak the protocol is let go rather than answered line by
            // line.
            letGo(socket);
            return;
        }
        messages.push_back(*m);
    }
    if (in.size() > kMaxMessage) {
        letGo(socket);
        return;
    }
    for (const QJsonObject &m : messages)
        dispatch(socket, m);
}

void AttachServer::dispatch(QLocalSocket *socket, const QJsonObject &message)
{
    const QString op = message.value(QLatin1String("op")).toString();
    const QJsonValue id = message.value(QLatin1String("id"));
    if (op == QLatin1String("hello")) {
        QJsonObject h = hello();
        h.insert(QStringLiteral("id"), id);
        send(socket, h);
    } else if (op == QLatin1String("requests")) {
        // The tool waits for each answer; a peer that piles rows up is not one.
        const auto queued =
            std::count_if(m_queue.begin(), m_queue.end(),
                          [socket](const auto &row) { return row.first == socket; });
        if (queued >= kMaxQueuedRows) {
            letGo(socket);
            return;
        }
        m_queue.emplace_back(socket, message);
        // Not from within this socket's readyRead: while a row is served, what the socket
        // brings meanwhile would not be told of again.
        QTimer::singleShot(0, this, &AttachServer::serve);
    } else if (op == QLatin1String("info")) {
        // The tool waits for each answer: each measure holds a timer for a second.
        Client &c = m_clients[socket];
        if (c.measuring >= kMaxQueuedRows) {
            letGo(socket);
            return;
        }
        ++c.measuring;
        // What the poll cycle carries over a second, as the tool measures it on a port of its
        // own.
        m_facts.measure(socket, [this, socket, id](QJsonObject facts) {
            const auto it = m_clients.find(socket);
            if (it == m_clients.end())
                return;
            --it->second.measuring;
            facts.insert(QStringLiteral("id"), id);
            send(socket, facts);
        });
    } else if (op == QLatin1String("record")) {
        startRecording(socket, message);
    } else {
        send(socket, {{QStringLiteral("id"), id},
                      {QStringLiteral("error"), tr("unknown request %1").arg(quoted(op))}});
    }
}

QJsonObject AttachServer::hello() const
{
    const BoardLink &link = m_session.link();
    return {
        {QStringLiteral("op"), QStringLiteral("hello")},
        {QStringLiteral("port"), m_port},
        {QStringLiteral("device"), m_session.lastOpen().device},
        {QStringLiteral("variant"), variantName(link)},
        {QStringLiteral("identification"),
         QString::fromLatin1(m_facts.identification().toHex().toUpper())},
        {QStringLiteral("active"), link.BoardActive()},
        {QStringLiteral("detecting"), link.Detecting()},
        // The tool fails a recording during which the board left requests unanswered.
        {QStringLiteral("unanswered"), double(link.counters().unanswered)},
    };
}

void AttachServer::serve()
{
    // One row a shot: a row served waits by processing events, and a window command that
    // the shot came within goes on once that row is done, not once every client has been.
    if (m_serving || m_queue.empty())
        return;
    m_serving = true;
    const QPointer<AttachServer> self(this);
    auto [socket, message] = std::move(m_queue.front());
    m_queue.pop_front();
    if (socket && m_clients.contains(socket.data())) {
        // A row takes as long as the board makes it: its client is not silent meanwhile.
        m_clients[socket.data()].served = true;
        serveRequests(socket, message);
        if (self && socket && m_clients.contains(socket.data()))
            m_clients[socket.data()].served = false;
    }
    if (!self)
        return;
    m_serving = false;
    if (!m_queue.empty())
        QTimer::singleShot(0, this, &AttachServer::serve);
}

void AttachServer::serveRequests(QLocalSocket *socket, const QJsonObject &message)
{
    const QJsonArray list = message.value(QLatin1String("datagrams")).toArray();
    std::vector<Datagram> datagrams;
    for (const QJsonValue &v : list) {
        const std::optional<Datagram> d = datagramFromHex(v.toString());
        if (!d || list.size() > kMaxRequests) {
            send(socket, {{QStringLiteral("id"), message.value(QLatin1String("id"))},
                          {QStringLiteral("error"), tr("not a row of requests")}});
            return;
        }
        datagrams.push_back(*d);
    }
    const QPointer<QLocalSocket> client(socket);
    const QPointer<AttachServer> self(this);
    RequestChannel::Batch batch;
    BoardLink &link = m_session.link();
    if (!link.transport().Connected()) {
        batch.failedAt = 0;
    } else {
        const PollPause pause = link.PausePolling();
        batch = link.directRequests(datagrams, {},
                                    message.value(QLatin1String("showsReplies")).toBool());
    }
    if (!self || !client || !m_clients.contains(socket))
        return;
    QJsonArray replies;
    for (const Reply &r : batch.replies)
        replies.append(toHex(r));
    send(socket, {{QStringLiteral("id"), message.value(QLatin1String("id"))},
                  {QStringLiteral("replies"), replies},
                  {QStringLiteral("failedAt"), batch.failedAt},
                  {QStringLiteral("sent"), batch.sent}});
}

void AttachServer::startRecording(QLocalSocket *socket, const QJsonObject &message)
{
    std::vector<CsvRecorder::Column> columns;
    for (const QJsonValue &v : message.value(QLatin1String("columns")).toArray()) {
        const QJsonArray pair = v.toArray();
        const int row = pair.at(0).toInt(-1);
        const QString name = pair.at(1).toString();
        // The names go into the file's header as they are.
        const bool plain = !name.isEmpty() && name.size() < 64 &&
                           std::all_of(name.begin(), name.end(), [](QChar c) {
                               return c.isLetterOrNumber() || c == QLatin1Char('_');
                           });
        if (row < 0 || row >= PollTable::kRowCount || !plain) {
            send(socket, {{QStringLiteral("id"), message.value(QLatin1String("id"))},
                          {QStringLiteral("error"), tr("not a column of the poll cycle")}});
            return;
        }
        columns.push_back({row, name});
    }
    Client &c = m_clients[socket];
    c.recorder.reset();
    c.csv = std::make_unique<QBuffer>();
    c.csv->open(QIODevice::WriteOnly);
    c.recorder = std::make_unique<CsvRecorder>(m_session, *c.csv, std::move(columns));
    c.recorder->start();
    m_recordings.start();
    send(socket, {{QStringLiteral("id"), message.value(QLatin1String("id"))},
                  {QStringLiteral("recording"), true}});
}

void AttachServer::sendRecordings()
{
    for (auto &[socket, c] : m_clients) {
        if (!c.recorder)
            continue;
        c.recorder->flush();
        if (c.csv->data().isEmpty())
            continue;
        send(socket, {{QStringLiteral("csv"), QString::fromLatin1(c.csv->data())}});
        c.csv->buffer().clear();
        c.csv->seek(0);
    }
}

void AttachServer::send(QLocalSocket *socket, const QJsonObject &message)
{
    // A client that stops reading (a recording piped into a pager that waits) is let go
    // before the window holds more than this of it.
    if (socket->bytesToWrite() > kMaxUnread) {
        letGo(socket);
        return;
    }
    socket->write(messageLine(message));
}

void AttachServer::turnAway(QLocalSocket *socket, const QString &why)
{
    // Served no more, but not closed at once: a close with a line of the tool's still unread
    // resets the connection, and the tool would never read why. Closed for writing, the
    // connection ends when the tool, told, closes it, or after a while.
    forget(socket);
    socket->disconnect(this);
    socket->write(messageLine({{QStringLiteral("error"), why}}));
    socket->flush();
#ifdef Q_OS_UNIX
    ::shutdown(int(socket->socketDescriptor()), SHUT_WR);
#endif
    connect(socket, &QLocalSocket::readyRead, socket, [socket] { socket->readAll(); });
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(kTurnAwayMs, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
}

void AttachServer::letGo(QLocalSocket *socket)
{
    // Later: aborting emits disconnected at once, and the caller may be going through the
    // clients.
    QMetaObject::invokeMethod(socket, &QLocalSocket::abort, Qt::QueuedConnection);
}

} // namespace kvx
