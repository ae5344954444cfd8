#include "cli/BoardClient.h"

#include <QCoreApplication>
#include <QEventLoop>
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

bool BoardClient::open(const QString &port, const QMap<QString, QString> &ports, QString *error)
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

bool BoardClient::waitForBoard(QString *error)
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
    connect(&link, &BoardLink::statusChanged, &loop, [&] {
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

std::optional<std::uint32_t> BoardClient::read(std::uint8_t address)
{
    const std::optional<Reply> r = link().DirectRequest(Datagram{address, {}});
    if (!r)
        return std::nullopt;
    return r->data.value();
}

bool BoardClient::write(std::uint8_t address, std::uint32_t data)
{
    return link().DirectRequest(Datagram::make(address, data)).has_value();
}

void BoardClient::pause(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace kvx::cli
