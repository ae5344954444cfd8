#include "cli/AttachedBoard.h"

#include "attach/AttachProtocol.h"
#include "chip/ValueFormat.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QTimer>

namespace kvx::cli {

namespace {

// A window that does not answer for this long (stopped, hung) is given up.
constexpr int kAnswerLimitMs = 60'000;

} // namespace

AttachedBoard::AttachedBoard(QObject *parent)
    : BoardClient(parent)
{
    connect(&m_socket, &QLocalSocket::readyRead, this, &AttachedBoard::readMessages);
    connect(&m_socket, &QLocalSocket::disconnected, this, [this] {
        // What came before the end may still be unread: a goodbye, or why the window let go.
        readMessages();
        loseConnection(m_goodbye ? tr("the Eval310 window that holds the port closed it")
                                 : tr("the Eval310 window that held the port went away without "
                                      "a word (it was killed or crashed)"));
    });
}

AttachedBoard::~AttachedBoard()
{
    // The socket outlives nothing of this object: its goodbye is not a lost window.
    m_socket.disconnect(this);
    m_socket.abort();
}

std::unique_ptr<AttachedBoard> AttachedBoard::attach(const QString &port, const PortTarget &target,
                                                     QString *error)
{
    QString why;
    const QString path = attachSocketPath(target, &why);
    // Without a folder of the user's own it cannot be told whether a window holds the device:
    // two programs on one line would take each other's replies.
    if (path.isEmpty() && !why.isEmpty() && target.kind == PortTarget::Kind::Device) {
        *error = tr("cannot tell whether an Eval310 window holds %1: %2; --no-attach opens it "
                    "all the same")
                     .arg(port, why);
        return nullptr;
    }
    if (path.isEmpty() || !QFile::exists(path))
        return nullptr;
    auto board = std::make_unique<AttachedBoard>();
    if (!board->connectTo(path))
        return nullptr;
    const std::optional<QJsonObject> hello = board->hello();
    // A window that turned the tool away (too many tools) holds the port all the same; one that
    // let the port go meanwhile has left it to the tool.
    if (!hello && board->m_lost && !board->m_goodbye)
        *error = board->m_lostReason;
    if (!hello)
        return nullptr;
    board->m_device = tr("%1 (through the Eval310 window)")
                          .arg(hello->value(QLatin1String("device")).toString(port));
    return board;
}

bool AttachedBoard::waitForBoard(QString *error)
{
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        const std::optional<QJsonObject> hello = this->hello();
        if (!hello)
            break;
        const bool active = hello->value(QLatin1String("active")).toBool();
        if (active && !hello->value(QLatin1String("detecting")).toBool()) {
            m_unansweredBefore = quint64(hello->value(QLatin1String("unanswered")).toDouble());
            return true;
        }
        if (waited.elapsed() > kDetectionLimitMs)
            break;
        pause(50);
    }
    *error = m_lost ? m_lostReason
                    : tr("the board on %1 did not answer; check the cable, the power and --port")
                          .arg(device());
    return false;
}

quint64 AttachedBoard::unansweredPolls()
{
    const std::optional<QJsonObject> hello = this->hello();
    const quint64 now = hello ? quint64(hello->value(QLatin1String("unanswered")).toDouble()) : 0;
    return now > m_unansweredBefore ? now - m_unansweredBefore : 0;
}

std::unique_ptr<CsvOutput> AttachedBoard::record(QIODevice &out,
                                                 const std::vector<CsvRecorder::Column> &columns)
{
    auto recording = std::make_unique<AttachedRecording>(*this, out, columns);
    if (!recording->started())
        return nullptr;
    return recording;
}

bool AttachedBoard::connectTo(const QString &path)
{
    m_socket.connectToServer(path);
    if (!m_socket.waitForConnected(1000))
        return false;
    // Only a window of this user is told what to write to the board, and believed.
    if (peerIsThisUser(m_socket))
        return true;
    m_socket.disconnect(this);
    m_socket.abort();
    return false;
}

void AttachedBoard::loseConnection(const QString &reason)
{
    if (m_lost)
        return;
    m_lost = true;
    m_lostReason = reason;
    emit deviceLost(reason);
}

void AttachedBoard::readMessages()
{
    m_in += m_socket.readAll();
    for (qsizetype end = m_in.indexOf('\n'); end >= 0; end = m_in.indexOf('\n')) {
        const std::optional<QJsonObject> m = parseMessage(m_in.left(end));
        m_in.remove(0, end + 1);
        if (!m)
            continue;
        if (m->contains(QLatin1String("csv"))) {
            emit csv(m->value(QLatin1String("csv")).toString().toLatin1());
        } else if (m->value(QLatin1String("op")).toString() == QLatin1String("bye")) {
            m_goodbye = true;
        } else if (!m->contains(QLatin1String("id"))) {
            if (m->contains(QLatin1String("error")))
                loseConnection(
                    controlsEscaped(m->value(QLatin1String("error")).toString().left(200)));
        } else {
            const int id = m->value(QLatin1String("id")).toInt();
            m_answers[id] = *m;
            emit answered(id);
        }
    }
    if (m_in.size() > kMaxMessage) {
        loseConnection(tr("the Eval310 window sent what the tool cannot read"));
        m_socket.abort();
    }
}

std::optional<QJsonObject> AttachedBoard::call(QJsonObject message)
{
    if (m_lost)
        return std::nullopt;
    const int id = m_nextId++;
    message.insert(QStringLiteral("id"), id);
    m_socket.write(messageLine(message));
    QEventLoop loop;
    connect(this, &AttachedBoard::answered, &loop, [&](int got) {
        if (got == id)
            loop.quit();
    });
    connect(this, &AttachedBoard::deviceLost, &loop, &QEventLoop::quit);
    QTimer limit;
    limit.setSingleShot(true);
    connect(&limit, &QTimer::timeout, &loop, [&] {
        loseConnection(tr("the Eval310 window that holds the port did not answer"));
        m_socket.abort();
    });
    limit.start(kAnswerLimitMs);
    if (!m_lost && !m_answers.contains(id))
        loop.exec();
    const auto it = m_answers.find(id);
    if (it == m_answers.end())
        return std::nullopt;
    QJsonObject answer = it->second;
    m_answers.erase(it);
    if (answer.contains(QLatin1String("error")))
        return std::nullopt;
    return answer;
}

std::optional<QJsonObject> AttachedBoard::hello()
{
    return call({{QStringLiteral("op"), QStringLiteral("hello")}});
}

std::optional<QJsonObject> AttachedBoard::info()
{
    return call({{QStringLiteral("op"), QStringLiteral("info")}});
}

bool AttachedBoard::startRecording(const std::vector<CsvRecorder::Column> &columns)
{
    QJsonArray list;
    for (const CsvRecorder::Column &c : columns)
        list.append(QJsonArray{c.row, c.name});
    return call({{QStringLiteral("op"), QStringLiteral("record")},
                 {QStringLiteral("columns"), list}})
        .has_value();
}

std::optional<Reply> AttachedBoard::DirectRequest(const Datagram &d)
{
    const Batch b = directRequests(std::span(&d, 1));
    if (b.failedAt >= 0 || b.replies.empty())
        return std::nullopt;
    return b.replies.front();
}

RequestChannel::Batch AttachedBoard::directRequests(std::span<const Datagram> datagrams,
                                                    const std::function<void(int done)> &progress,
                                                    bool showsReplies)
{
    QJsonArray list;
    for (const Datagram &d : datagrams)
        list.append(toHex(d));
    // Without an answer nothing is known of the row: the window may have sent all of it.
    Batch batch;
    batch.failedAt = 0;
    batch.sent = int(datagrams.size());
    const std::optional<QJsonObject> answer =
        call({{QStringLiteral("op"), QStringLiteral("requests")},
              {QStringLiteral("datagrams"), list},
              {QStringLiteral("showsReplies"), showsReplies}});
    if (!answer)
        return batch;
    for (const QJsonValue &v : answer->value(QLatin1String("replies")).toArray()) {
        const std::optional<Reply> r = replyFromHex(v.toString());
        if (!r)
            return batch;
        batch.replies.push_back(*r);
    }
    batch.failedAt = answer->value(QLatin1String("failedAt")).toInt(0);
    batch.sent = answer->value(QLatin1String("sent")).toInt(0);
    // Whatever the window says, a reply missing means that request went unanswered.
    if (batch.failedAt < 0 && batch.replies.size() != datagrams.size())
        batch.failedAt = int(batch.replies.size());
    if (progress) {
        for (std::size_t i = 0; i < batch.replies.size(); ++i)
            progress(int(i) + 1);
    }
    return batch;
}

AttachedRecording::AttachedRecording(AttachedBoard &board, QIODevice &out,
                                     const std::vector<CsvRecorder::Column> &columns,
                                     QObject *parent)
    : CsvOutput(out, parent)
{
    m_since.start();
    // The window's lines come as it writes them: the header, then whole lines.
    connect(&board, &AttachedBoard::csv, this, &AttachedRecording::add);
    m_started = board.startRecording(columns);
}

double AttachedRecording::seconds() const
{
    return double(m_since.nsecsElapsed()) / 1e9;
}

} // namespace kvx::cli
