#include "link/LinkReceiver.h"

#include <QTimer>

#include <algorithm>
#include <cmath>

namespace kvx {

namespace {

// How long a look that found nothing waiting stands for the next one, in microseconds.
constexpr std::int64_t kLookHolds = 100;

} // namespace

LinkReceiver::LinkReceiver(Owner &owner, ByteTransport &line, BoardDetection &detection,
                           const std::function<std::int64_t()> &fineClock, QObject *parent)
    : QObject(parent)
    , m_owner(owner)
    , m_comm(&line)
    , m_detection(detection)
    , m_fineClock(fineClock)
    , m_timer(new QTimer(this))
{
    // Named for whoever drives the link by hand, as the receive path's fuzz harness does.
    m_timer->setObjectName(QStringLiteral("framer"));
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &LinkReceiver::service);
}

void LinkReceiver::begin(int replySize)
{
    m_framer.clear();
    m_framer.setLine(m_comm->pacedLine(),
                     std::max<ReplyFramer::Micros>(1, std::lround(m_comm->characterTime())));
    // A reply wakes the program once, when it is whole; anything shorter is found by the
    // framer's own looks. Once the board is detected, the first replies wake it for every
    // byte, so that the framer sees how the line hands bytes over (see learnDelivery).
    m_comm->setReadThreshold(replySize);
    m_replySize = replySize;
    m_lineErrorsBefore = m_comm->lineErrors();
}

void LinkReceiver::readWaiting()
{
    // A look that found nothing a moment ago still holds: a byte come since is too soon for
    // the next request's reply on a line, and proved by a quiet from a program that is not.
    if (m_quietAt >= 0 && m_fineClock() - m_quietAt < kLookHolds)
        return;
    // Usually nothing waits: one look at the line, not two.
    if (m_comm->inQueueCount() == 0)
        return;
    m_comm->fetchInput();
    receive(m_comm->inQueueCount());
}

void LinkReceiver::receive(int count)
{
    if (count <= 0)
        return;
    QByteArray bytes(count, 0);
    const int n = m_comm->ReadBytes(bytes.data(), count);
    if (n <= 0)
        return;
    bytes.truncate(n);
    if (m_owner.discards(bytes))
        return;
    const std::int64_t t = m_fineClock();
    m_framer.received(bytes, t, m_newEvents);
    m_owner.judged(t, m_newEvents);
    afterInput();
}

void LinkReceiver::afterInput()
{
    // The framer's time moves on only once nothing more waits to be read: a byte that came
    // in meanwhile may show that a reply about to be trusted was not in step. The time is
    // taken before the look: the line is known quiet up to then, not up to after it.
    const std::int64_t t = m_fineClock();
    m_quietAt = -1;
    if (m_comm->inQueueCount() == 0) {
        m_framer.advance(t, m_newEvents);
        m_quietAt = t;
    }
    handleEvents();
    learnDelivery();
    armTimer();
    m_owner.inputDone();
}

void LinkReceiver::learnDelivery()
{
    // Three settings of the port in all, once each: the detection's bytes are read as before.
    if (m_replySize <= 1 || m_detection.identifying() || m_detection.busy())
        return;
    LineFigures &figures = m_framer.figures();
    if (figures.deliveryJudged()) {
        m_comm->setReadThreshold(m_replySize);
        m_replySize = 0;
    } else if (m_comm->readThreshold() != 1) {
        m_comm->setReadThreshold(1);
        figures.watchDelivery();
    }
}

std::optional<std::int64_t> LinkReceiver::nextDeadline() const
{
    const std::optional<std::int64_t> framer = m_framer.nextDeadline();
    const std::optional<std::int64_t> detection = m_detection.nextDeadline();
    if (framer && detection)
        return std::min(*framer, *detection);
    return framer ? framer : detection;
}

void LinkReceiver::service()
{
    if (!m_comm->Connected())
        return;
    m_detection.advance(m_fineClock());
    readWaiting();
    afterInput();
}

void LinkReceiver::armTimer()
{
    const std::optional<std::int64_t> due = nextDeadline();
    if (!due || !m_comm->Connected()) {
        m_timer->stop();
        return;
    }
    if (m_timer->isActive() && m_timerDue == *due)
        return;
    const std::int64_t wait = std::max<std::int64_t>(0, *due - m_fineClock());
    m_timerDue = *due;
    m_timer->start(int((wait + 999) / 1000));
}

void LinkReceiver::handleEvents()
{
    for (ReplyFramer::Event &e : m_newEvents)
        m_events.push_back(std::move(e));
    m_newEvents.clear();
    // Each event leaves the queue before it is handled: a handler may wait, and the events
    // that come meanwhile are handled by the nested call, in order.
    while (!m_events.empty()) {
        const ReplyFramer::Event e = std::move(m_events.front());
        m_events.pop_front();
        m_owner.handle(e);
    }
    m_owner.eventsHandled();
}

void LinkReceiver::clear()
{
    m_events.clear();
    m_newEvents.clear();
    m_quietAt = -1;
    m_replySize = 0;
    m_framer.clear();
    m_timer->stop();
}

} // namespace kvx
