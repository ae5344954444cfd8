#include "cli/BoardClient.h"

#include "cli/AttachProtocol.h"
#include "cli/AttachServer.h"
#include "link/PortName.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#ifdef KVX_SIMULATED_PORTS
#include "sim/SimulatedPorts.h"
#endif

namespace kvx::cli {

namespace {

// Enough for a detection probed again (an identification not trusted) and for the watchdog.
constexpr int kDetectionLimitMs = 10'000;

} // namespace

BoardClient::BoardClient(QObject *parent)
    : QObject(parent)
{
#ifdef KVX_SIMULATED_PORTS
    m_session.setSimulatedPortProvider(&sim::SimulatedPorts::terminalFor);
#endif
    // One command and the program ends: a plain board need not wait for the watchdog.
    m_session.link().setQuickDetection(true);
    connect(&m_session.link(), &BoardLink::traffic, this, [this](const LinkTraffic &t) {
        if (!t.sent && t.kind == TrafficKind::Identification)
            m_identification = t.bytes;
    });
    connect(&m_session, &BoardSession::deviceLost, this, [this](const QString &reason) {
        m_lost = true;
        m_lostReason = reason;
        emit deviceLost(reason);
    });
}

BoardClient::~BoardClient() = default;

bool BoardClient::attachTo(const QString &port, const PortTarget &target)
{
    const QString path = attachSocketPath(target);
    if (path.isEmpty() || !QFile::exists(path))
        return false;
    auto board = std::make_unique<AttachedBoard>();
    if (!board->connectTo(path))
        return false;
    const std::optional<QJsonObject> hello = board->hello();
    if (!hello)
        return false;
    m_attachedDevice = tr("%1 (through the Eval310 window)")
                           .arg(hello->value(QLatin1String("device")).toString(port));
    connect(board.get(), &AttachedBoard::lostConnection, this, &BoardClient::deviceLost);
    m_attached = std::move(board);
    return true;
}

bool BoardClient::open(const QString &port, const QMap<QString, QString> &ports, bool attach,
                       QString *error)
{
    const PortTarget target = resolvePortName(port, ports);
    if (attach && attachTo(port, target))
        return true;
    // Two programs on one line would take each other's replies; a simulated board is the
    // tool's own.
    if (!attach && target.kind == PortTarget::Kind::Device && AttachServer::heldElsewhere(target)) {
        *error = tr("an Eval310 window holds %1; leave out --no-attach to go through it").arg(port);
        return false;
    }
    if (m_session.Open(port, ports))
        return true;
    const OpenAttempt &a = m_session.lastOpen();
    const QString device = a.device.isEmpty() ? a.target.path : a.device;
    // The device in brackets only where the name was mapped to one.
    const QString named =
        device.isEmpty() || device == port ? port : tr("%1 (%2)").arg(port, device);
    *error = tr("could not open %1: %2; check --port and that no other program uses it")
                 .arg(named, a.errorText);
    return false;
}

bool BoardClient::waitForBoard(QString *error)
{
    if (m_attached) {
        // The window may still be detecting its board.
        QElapsedTimer waited;
        waited.start();
        for (;;) {
            const std::optional<QJsonObject> hello = m_attached->hello();
            if (!hello)
                break;
            const bool active = hello->value(QLatin1String("active")).toBool();
            if (active && !hello->value(QLatin1String("detecting")).toBool()) {
                m_unansweredBefore = quint64(hello->value(QLatin1String("unanswered")).toDouble());
                m_identification = QByteArray::fromHex(
                    hello->value(QLatin1String("identification")).toString().toLatin1());
                return true;
            }
            if (waited.elapsed() > kDetectionLimitMs)
                break;
            pause(50);
        }
        *error = m_attached->lost() ? m_attached->lostReason()
                                    : tr("the board on %1 did not answer; check the cable, the "
                                         "power and --port")
                                          .arg(device());
        return false;
    }
    BoardLink &link = m_session.link();
    auto settled = [&] {
        return m_lost || link.counters().unanswered > 0 ||
               (link.BoardActive() && !link.Detecting());
    };
    QEventLoop loop;
    QTimer check;
    connect(&check, &QTimer::timeout, &loop, [&] {
        if (settled())
            loop.quit();
    });
    connect(&link, &BoardLink::boardStateChanged, &loop, [&] {
        if (settled())
            loop.quit();
    });
    QTimer::singleShot(kDetectionLimitMs, &loop, &QEventLoop::quit);
    check.start(5);
    if (!settled())
        loop.exec();
    if (link.BoardActive() && !link.Detecting() && !m_lost)
        return true;
    *error = m_lost ? tr("the port %1 was lost: %2").arg(device(), m_lostReason)
                    : tr("the board on %1 did not answer; check the cable, the power and --port")
                          .arg(device());
    return false;
}

QString BoardClient::device() const
{
    return m_attached ? m_attachedDevice : m_session.lastOpen().device;
}

bool BoardClient::lost() const
{
    return m_attached ? m_attached->lost() : m_lost;
}

QString BoardClient::lostReason() const
{
    return m_attached ? m_attached->lostReason() : m_lostReason;
}

RequestChannel &BoardClient::requests()
{
    if (m_attached)
        return *m_attached;
    return m_session.link();
}

std::unique_ptr<PollPause> BoardClient::pausePolling()
{
    if (m_attached)
        return nullptr;
    return std::make_unique<PollPause>(m_session.link());
}

std::optional<QJsonObject> BoardClient::facts()
{
    if (m_attached)
        return m_attached->info();
    // A second of polling shows what the line carries.
    quint64 replies = 0;
    QObject counter;
    connect(&m_session.scheduler(), &PollScheduler::pollReplyShown, &counter,
            [&replies] { ++replies; });
    BoardLink &link = m_session.link();
    const std::int64_t from = link.fineNow();
    pause(1000);
    if (m_lost)
        return std::nullopt;
    const double seconds = double(link.fineNow() - from) / 1e6;
    return boardFacts(link, device(), m_identification, double(replies) / seconds);
}

quint64 BoardClient::unansweredPolls()
{
    if (!m_attached)
        return m_session.link().counters().unanswered;
    // The window's count since the tool came.
    const std::optional<QJsonObject> hello = m_attached->hello();
    const quint64 now = hello ? quint64(hello->value(QLatin1String("unanswered")).toDouble()) : 0;
    return now > m_unansweredBefore ? now - m_unansweredBefore : 0;
}

std::unique_ptr<CsvOutput> BoardClient::record(QIODevice &out,
                                               const std::vector<CsvRecorder::Column> &columns)
{
    if (m_attached) {
        auto recording = std::make_unique<AttachedRecording>(*m_attached, out, columns);
        if (!recording->started())
            return nullptr;
        return recording;
    }
    auto recorder = std::make_unique<CsvRecorder>(m_session, out, columns);
    recorder->start();
    return recorder;
}

std::optional<std::uint32_t> BoardClient::read(std::uint8_t address)
{
    const std::optional<Reply> r = requests().DirectRequest(Datagram{address, {}});
    if (!r)
        return std::nullopt;
    return r->data.value();
}

bool BoardClient::write(std::uint8_t address, std::uint32_t data)
{
    return requests().DirectRequest(Datagram::make(address, data)).has_value();
}

void BoardClient::pause(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace kvx::cli
