#include "cli/LocalBoard.h"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <chrono>

namespace kvx::cli {

LocalBoard::LocalBoard(bool polling, SimulatedPortProvider simulated, QObject *parent)
    : BoardClient(parent)
    , m_facts(m_session)
{
    m_session.setSimulatedPortProvider(std::move(simulated));
    m_session.scheduler().setDetectionOnly(!polling);
    // One command and the program ends: a plain board need not wait for the watchdog.
    m_session.link().setQuickDetection(true);
    connect(&m_session, &BoardSession::deviceLost, this, [this](const QString &reason) {
        m_lost = true;
        m_lostReason = reason;
        emit deviceLost(reason);
    });
}

bool LocalBoard::open(const QString &port, const QMap<QString, QString> &ports, QString *error)
{
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

bool LocalBoard::waitForBoard(QString *error)
{
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

std::unique_ptr<PollPause> LocalBoard::pausePolling()
{
    return std::make_unique<PollPause>(m_session.link());
}

std::optional<QJsonObject> LocalBoard::facts()
{
    // A second of polling shows what the line carries.
    std::optional<QJsonObject> facts;
    QEventLoop loop;
    m_facts.measure(&loop, [&](const QJsonObject &measured) {
        facts = measured;
        loop.quit();
    });
    loop.exec();
    if (m_lost)
        return std::nullopt;
    return facts;
}

quint64 LocalBoard::unansweredPolls()
{
    return m_session.link().counters().unanswered;
}

std::unique_ptr<CsvOutput> LocalBoard::record(QIODevice &out,
                                              const std::vector<CsvRecorder::Column> &columns)
{
    auto recorder = std::make_unique<CsvRecorder>(m_session, out, columns);
    recorder->start();
    return recorder;
}

std::optional<Reply> LocalBoard::nextCycleRead(std::uint8_t address, QDeadlineTimer deadline)
{
    // Read once the next cycle has begun, rather than taken from the cycle's own poll: a poll
    // reply is used once the line has been quiet after it, which behind a USB adapter is after
    // dozens of replies, while a command's read is trusted at once.
    bool begun = false;
    QEventLoop loop;
    connect(&m_session.scheduler(), &PollScheduler::cycleBegun, &loop, [&] {
        begun = true;
        loop.quit();
    });
    connect(this, &BoardClient::deviceLost, &loop, &QEventLoop::quit);
    connect(this, &BoardClient::interrupted, &loop, &QEventLoop::quit);
    QTimer limit;
    limit.setSingleShot(true);
    connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    limit.start(std::chrono::milliseconds(std::max<qint64>(0, deadline.remainingTime())));
    if (!m_lost && !m_interrupted)
        loop.exec();
    if (!begun || m_lost || m_interrupted)
        return std::nullopt;
    const auto pause = pausePolling();
    return readReply(address);
}

} // namespace kvx::cli
