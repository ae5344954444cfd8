#include "session/BoardSession.h"

#include <cerrno>

namespace kvx {

BoardSession::BoardSession(QObject *parent)
    : QObject(parent)
    , m_link(m_comm)
    , m_scheduler(m_link, m_table)
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

    // Recorded whether or not the traffic view is open: it shows what led up to a fault.
    // Connected first, so that whoever hears of an event finds it in the log.
    connect(&m_link, &BoardLink::traffic, this,
            [this](const LinkTraffic &t) { m_traffic.append(t); });
    connect(&m_link, &BoardLink::pollReply, &m_scheduler, &PollScheduler::showPollReply);
    connect(&m_link, &BoardLink::replyTaken, &m_scheduler, &PollScheduler::AdvancePollRow);
    connect(&m_link, &BoardLink::stateChanged, &m_scheduler, &PollScheduler::linkStateChanged);
    m_link.setPollSource(&m_scheduler);
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
    m_lastOpen.device = m_comm.openedDevice().isEmpty() ? device : m_comm.openedDevice();
    if (!m_comm.Connected()) {
        m_lastOpen.error = m_comm.lastError();
        m_lastOpen.errorText = m_comm.lastErrorText();
        return false;
    }
    start();
    return true;
}

void BoardSession::openLine(ByteTransport &line)
{
    attach(line);
    start();
}

void BoardSession::start()
{
    m_traffic.restartClock(m_link.fineNow());
    m_link.StartDetection();
    m_scheduler.restart();
    emit opened();
    // Row 0 goes out as soon as the probe has left, not at a tick: a command clicked before
    // it would otherwise be answered with the board's identification.
    m_link.beginPolling();
}

void BoardSession::Close()
{
    m_scheduler.stop();
    m_link.endAllWaits();
    if (m_line == &m_comm)
        m_comm.Close();
    else
        attach(m_comm); // a caller's line stays open but is no longer heard
}

} // namespace kvx
