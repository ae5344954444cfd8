#include "link/LinkSender.h"

#include "link/RequestFrame.h"

#include <QTimer>

#include <algorithm>
#include <cmath>

namespace kvx {

LinkSender::LinkSender(ByteTransport &line, const BoardDetection &detection, TrafficNotes &notes,
                       QObject *parent)
    : QObject(parent)
    , m_comm(&line)
    , m_detection(detection)
    , m_notes(notes)
    , m_drainTimer(new QTimer(this))
{
    // Named for whoever drives the link by hand, as the receive path's fuzz harness does.
    m_drainTimer->setObjectName(QStringLiteral("drain"));
    m_drainTimer->setSingleShot(true);
    m_drainTimer->setTimerType(Qt::PreciseTimer);
    connect(m_drainTimer, &QTimer::timeout, this, &LinkSender::lineFree);
}

QByteArray LinkSender::frame(const Datagram &d) const
{
    return requestFrame(d, m_detection.variant(), m_slowSpi);
}

bool LinkSender::send(const Datagram &d, TrafficKind kind, TrafficOrigin origin, int exchange,
                      bool queueEmpty)
{
    const QByteArray f = frame(d);
    m_leftLine = false;
    m_lastExchange = exchange;
    if ((!queueEmpty && m_comm->OutQueueCount() != 0) ||
        m_comm->WriteBytes(f.constData(), int(f.size())) < 0) {
        failed();
        return false;
    }
    m_notes.note(true, kind, f, DiscardReason::None, {}, exchange, origin);
    return true;
}

bool LinkSender::draining()
{
    if (m_leftLine)
        return false;
    const int queued = m_comm->OutQueueCount();
    if (queued == 0)
        return false;
    const auto wait = std::lround(queued * m_comm->characterTime() / 1000.0);
    m_drainTimer->start(std::max<int>(1, int(wait)));
    return true;
}

void LinkSender::stopDraining()
{
    m_drainTimer->stop();
}

void LinkSender::failed()
{
    // A port that has just been lost is reported as such by the window; a "Send error!" on
    // top of it would only repeat the news. Told once the send is over: the window's message
    // box must not open inside it.
    if (m_comm->Connected())
        QTimer::singleShot(0, this, &LinkSender::sendError);
}

void LinkSender::written(BoardDetection::Kind kind, const QByteArray &bytes)
{
    m_leftLine = false;
    m_lastExchange = -1;
    m_notes.note(true,
                 kind == BoardDetection::Kind::Probe ? TrafficKind::Probe : TrafficKind::StartUp,
                 bytes);
}

} // namespace kvx
