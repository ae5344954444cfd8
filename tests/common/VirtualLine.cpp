#include "common/VirtualLine.h"

#include <QCoreApplication>

#include <algorithm>

namespace kvx {

namespace {
constexpr sim::Micros kFar{3'600'000'000LL};
} // namespace

VirtualLine::VirtualLine(BoardSession &session, const sim::BoardOptions &board,
                         const sim::SimulatedTransport::Line &line)
    : m_session(session)
    , m_transport(board, line)
    , m_random(line.seed * 7919 + 3)
{
    m_session.setClock([this] { return now().count() / 1000; });
    m_session.setFineClock([this] { return now().count(); });
    m_pump.setInterval(0);
    connect(&m_pump, &QTimer::timeout, this, [this] { step(now() + kFar); });
}

VirtualLine::~VirtualLine()
{
    m_session.Close();
}

void VirtualLine::open()
{
    m_session.openLine(m_transport);
}

VirtualLine::Micros VirtualLine::late(Micros at, Micros &drawnFor, Micros &lateBy)
{
    if (at != drawnFor) {
        drawnFor = at;
        const auto most = m_transport.line().hostDelay.count();
        lateBy = Micros(most > 0 ? std::uniform_int_distribution<std::int64_t>(0, most)(m_random)
                                 : 0);
    }
    return m_transport.awake(at + lateBy);
}

VirtualLine::Micros VirtualLine::framerDue()
{
    const auto at = m_session.link().nextFramerDeadline();
    if (!at)
        return now() + kFar;
    return late(Micros(*at), m_framerDrawnFor, m_framerLateBy);
}

void VirtualLine::step(Micros limit)
{
    BoardLink &link = m_session.link();
    Micros next = limit;
    if (const auto at = m_transport.nextEvent())
        next = std::min(next, *at);
    // A deadline already served at this instant waits for something to change first.
    if (const Micros at = framerDue(); at > now() || now() > m_framerServiced)
        next = std::min(next, at);
    // The poll timer's next tick: it runs the watchdog and lets the link send.
    const Micros tick = nextTick();
    if (tick > now() || now() > m_tickRun)
        next = std::min(next, tick);
    m_transport.advanceTo(std::max(next, now()));
    if (framerDue() <= now() && now() > m_framerServiced) {
        m_framerServiced = now();
        link.serviceFramer();
    }
    if (nextTick() <= now() && now() > m_tickRun) {
        m_tickRun = now();
        m_session.scheduler().TimerActionsTimer();
    }
}

VirtualLine::Micros VirtualLine::nextTick()
{
    if (!m_session.scheduler().timerActive())
        return now() + kFar;
    const Micros due = std::max(m_tickRun, Micros(0)) + m_session.scheduler().timerInterval();
    return late(due, m_tickDrawnFor, m_tickLateBy);
}

void VirtualLine::runFor(Micros d)
{
    const Micros end = now() + d;
    while (now() < end)
        step(end);
}

bool VirtualLine::runUntil(const std::function<bool()> &done, Micros limit)
{
    const Micros end = now() + limit;
    while (!done() && now() < end)
        step(end);
    return done();
}

void VirtualLine::command(const std::function<void()> &work)
{
    m_pump.start();
    work();
    m_pump.stop();
}

} // namespace kvx
