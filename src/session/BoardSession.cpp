#include "session/BoardSession.h"

#include <QTimer>

#include <algorithm>
#include <cerrno>

namespace kvx {

BoardSession::BoardSession(QObject *parent)
    : QObject(parent)
    , m_link(m_comm)
    , m_scheduler(m_link, m_table)
    , m_timer(new QTimer(this))
{
    m_comm.setDeviceName(QStringLiteral("COM2"));
    m_comm.setBaudRate(TBaudRate::cbr19200);
    m_comm.setParity(TParity::paNone);
    m_comm.setStopbits(TStopbits::sb10);
    m_comm.setDatabits(TDatabits::da8);
    m_comm.setFlowControl(TFlowControl::fcRTSToggle);
    m_comm.OnDeviceLost = [this](QObject *, const QString &reason) {
        Close();
        emit deviceLost(reason);
    };

    m_timer->setObjectName(QStringLiteral("TimerActions"));
    m_timer->setTimerType(Qt::PreciseTimer);
    m_timer->setInterval(kPollInterval);
    connect(m_timer, &QTimer::timeout, this, &BoardSession::TimerActionsTimer);

    connect(&m_link, &BoardLink::statusChanged, this, &BoardSession::statusChanged);
    connect(&m_link, &BoardLink::identified, this, &BoardSession::identified);
    connect(&m_link, &BoardLink::sendError, this, &BoardSession::sendError);
    // Recorded whether or not the traffic view is open: it shows what led up to a fault.
    connect(&m_link, &BoardLink::traffic, this, [this](const LinkTraffic &t) {
        m_traffic.append(t);
        emit traffic(t);
    });
    connect(&m_link, &BoardLink::countersChanged, this, &BoardSession::countersChanged);
    connect(&m_link, &BoardLink::pollReply, &m_scheduler, &PollScheduler::ShowPollReply);
    connect(&m_link, &BoardLink::pollCycleStart, this, &BoardSession::nextSample);
    connect(&m_link, &BoardLink::replyTaken, this, [this](bool identification) {
        m_scheduler.AdvancePollRow(identification);
        emit replyTaken(identification);
    });
    // The next request goes out at once, and the tick waits for its reply. While a command
    // has polling paused, the command sends; the tick only keeps the watchdog's time.
    connect(&m_link, &BoardLink::lineReady, this, [this] {
        if (!m_link.PollingEnabled())
            return;
        m_scheduler.SendNextPoll();
        scheduleNextTick();
    });
    connect(&m_scheduler, &PollScheduler::pollReplyShown, this, &BoardSession::pollReplyShown);
    connect(&m_scheduler, &PollScheduler::traceValue, this, &BoardSession::traceValue);
}

BoardSession::~BoardSession()
{
    Close();
}

void BoardSession::setSimulatedPortProvider(SimulatedPortProvider provider)
{
    m_simulatedPorts = std::move(provider);
}

void BoardSession::attach(ByteTransport &line)
{
    disconnect(m_lineBytes);
    m_line = &line;
    m_link.setTransport(line);
    m_lineBytes = connect(&line, &ByteTransport::bytesReady, this,
                          [this](int count) { m_link.Comm32RxChar(m_line, count); });
}

bool BoardSession::Open(const QString &portName, const QMap<QString, QString> &ports)
{
    attach(m_comm);
    m_lastOpen = {resolvePortName(portName, ports), {}, 0, {}};
    QString device = m_lastOpen.target.path;
    QString error;
    switch (m_lastOpen.target.kind) {
    case PortTarget::Kind::Invalid:
        m_lastOpen.error = EINVAL;
        m_lastOpen.errorText = tr("\"%1\" is not a device or simulated board").arg(device);
        return false;
    case PortTarget::Kind::Simulated:
        device = m_simulatedPorts ? m_simulatedPorts(m_lastOpen.target.variant, &error) : QString();
        if (device.isEmpty()) {
            m_lastOpen.error = ENODEV;
            m_lastOpen.errorText = m_simulatedPorts
                                       ? error
                                       : tr("the simulated board is not available in this program");
            return false;
        }
        break;
    case PortTarget::Kind::Device:
        break;
    }
    m_comm.setDeviceName(device);
    m_comm.Open();
    m_lastOpen.device = m_comm.OpenedDevice().isEmpty() ? device : m_comm.OpenedDevice();
    if (!m_comm.Connected()) {
        m_lastOpen.error = m_comm.LastError();
        m_lastOpen.errorText = m_comm.LastErrorText();
        return false;
    }
    start();
    return true;
}

void BoardSession::OpenLine(ByteTransport &line)
{
    attach(line);
    start();
}

void BoardSession::start()
{
    m_traffic.restartClock(m_link.fineNow());
    m_link.StartDetection();
    m_link.BeginPolling();
    m_scheduler.restart();
    m_timer->setInterval(kPollInterval);
    m_timer->start();
    emit opened();
    // Row 0 goes out now rather than at the first tick: a command clicked before that tick
    // would otherwise be answered with the board's identification.
    TimerActionsTimer();
}

void BoardSession::Close()
{
    m_timer->stop();
    m_link.EndAllWaits();
    if (m_line == &m_comm)
        m_comm.Close();
}

bool BoardSession::pollTimerActive() const
{
    return m_timer->isActive();
}

std::chrono::milliseconds BoardSession::pollTimerInterval() const
{
    return std::chrono::milliseconds(m_timer->interval());
}

void BoardSession::TimerActionsTimer()
{
    m_scheduler.TimerActionsTimer();
    scheduleNextTick();
}

void BoardSession::scheduleNextTick()
{
    if (!m_timer->isActive())
        return;
    // While the link is busy (a request out, or the line keeping quiet after a reply) the next
    // request goes out when the link says it is ready, and nothing else can happen before the
    // watchdog's next decision: waking every millisecond in between would only cost processor
    // time. Once the link is idle the tick is 1 ms again.
    // While a command has polling paused the tick only runs the watchdog; the command's end
    // sends the next poll.
    std::int64_t wait = kPollInterval.count();
    if (!m_link.LinkIdle() || !m_link.PollingEnabled()) {
        wait = std::clamp<std::int64_t>(m_link.nextWatchdogCheck() - m_link.now(),
                                        kPollInterval.count(),
                                        BoardLink::kWatchdogTimeout.count() + 1);
    }
    if (m_timer->interval() != int(wait))
        m_timer->setInterval(int(wait));
}

} // namespace kvx
