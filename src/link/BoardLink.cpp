#include "link/BoardLink.h"

#include <QElapsedTimer>
#include <QScopeGuard>

#include <memory>

namespace kvx {

namespace {

// Monotonic time in units of `perSecond`.
std::function<std::int64_t()> steadyClock(std::int64_t nanosPerUnit)
{
    auto timer = std::make_shared<QElapsedTimer>();
    timer->start();
    return [timer, nanosPerUnit] { return timer->nsecsElapsed() / nanosPerUnit; };
}

} // namespace

BoardLink::BoardLink(ByteTransport &line, QObject *parent)
    : QObject(parent)
    , m_comm(&line)
    , m_clock(steadyClock(1000000))
    , m_fineClock(steadyClock(1000))
    , m_detection(line)
    , m_receiver(*this, line, m_detection, m_fineClock, this)
    , m_framer(m_receiver.framer())
    , m_notes(m_clock, m_fineClock, this)
    , m_exchanges(
          m_commands, m_detection, m_notes, m_fineClock,
          [this] { return m_comm->Connected() && m_state != State::Lost; }, this)
    , m_sender(line, m_detection, m_notes, this)
    , m_waits(this)
{
    connect(&m_notes, &TrafficNotes::traffic, this, &BoardLink::traffic);
    connect(&m_notes, &TrafficNotes::countersChanged, this, &BoardLink::countersChanged);
    connect(&m_exchanges, &Exchanges::pollCycleStart, this, &BoardLink::pollCycleStart);
    connect(&m_exchanges, &Exchanges::pollReply, this, &BoardLink::pollReply);
    connect(&m_exchanges, &Exchanges::replyTaken, this, &BoardLink::replyTaken);
    connect(&m_exchanges, &Exchanges::identified, this, &BoardLink::identified);
    connect(&m_exchanges, &Exchanges::probeAgain, this, &BoardLink::StartDetection);
    connect(&m_exchanges, &Exchanges::answered, this, [this] {
        if (!m_boardActive) {
            m_boardActive = true;
            setBoardState(BoardState::Active);
        }
    });
    connect(&m_sender, &LinkSender::sendError, this, &BoardLink::sendError);
    connect(&m_sender, &LinkSender::lineFree, this, &BoardLink::advance);
    connect(&m_detection, &BoardDetection::written, &m_sender, &LinkSender::written);
    connect(&m_detection, &BoardDetection::finished, this, &BoardLink::advance);
    connect(&m_waits, &LinkWaits::guard, this, [this] {
        if (!LinkIdle())
            watchdog();
    });
}

BoardLink::~BoardLink()
{
    endAllWaits();
}

void BoardLink::setTransport(ByteTransport &line)
{
    endAllWaits();
    m_comm = &line;
    m_detection.setTransport(line);
    m_receiver.setTransport(line);
    m_sender.setTransport(line);
}

bool BoardLink::AwaitingDirectReply() const
{
    const Exchanges::Exchange *newest = m_exchanges.newest();
    return m_framer.outstanding() && newest && newest->kind == TrafficKind::Direct;
}

std::int64_t BoardLink::nextWatchdogCheck() const
{
    return m_watchdog.nextCheck(requestOutstanding());
}

bool BoardLink::SendDatagram(const Datagram &d, TrafficKind kind, TrafficOrigin origin)
{
    return m_sender.send(d, kind, origin, -1);
}

void BoardLink::settle()
{
    State s = State::Idle;
    if (!m_comm->Connected())
        s = State::Closed;
    else if (m_detection.busy() || (Detecting() && m_framer.outstanding()))
        s = State::Detecting;
    else if (m_lost)
        s = State::Lost;
    else if (m_framer.outstanding())
        s = State::AwaitingReply;
    else if (m_watchdog.inLateQuiet() || !m_framer.ready())
        s = State::Quiet;
    if (s != m_state) {
        qCDebug(lcLink) << fineNow() << "state" << int(m_state) << "->" << int(s);
        m_state = s;
        emit stateChanged(s);
    }
}

void BoardLink::advance()
{
    if (m_advancing)
        return;
    m_advancing = true;
    const auto done = qScopeGuard([this] { m_advancing = false; });
    // Whatever waits to be read now arrived before the next request: it cannot be its reply.
    m_receiver.readWaiting();
    settle();
    while (m_state == State::Idle) {
        // Frames never overlap on the line: the next waits for the transmit queue to empty.
        if (m_sender.draining()) {
            m_watchdog.draining(now());
            return;
        }
        m_watchdog.drained();
        Exchanges::Exchange x;
        if (const CommandQueue::Request *next = m_commands.front();
            m_exchanges.afterGiveUp() && !Detecting() && next &&
            !isReadAddress(next->datagram.address)) {
            // A write is never sent twice: a read of its register goes first, to take what a
            // late answer would.
            x.kind = TrafficKind::Direct;
            x.datagram = Datagram{std::uint8_t(next->datagram.address | 1), {}};
            x.origin = next->origin;
        } else if (CommandQueue::Handle r = m_commands.takeNext()) {
            x.kind = TrafficKind::Direct;
            x.datagram = r->datagram;
            x.origin = r->origin;
            x.request = std::move(r);
        } else if (const auto poll =
                       m_pollingEnabled && m_polls ? m_polls->nextPoll() : std::nullopt) {
            x.row = poll->row;
            x.startsCycle = poll->startsCycle;
            x.datagram = poll->datagram;
        } else {
            return;
        }
        startExchange(std::move(x));
        settle();
    }
}

void BoardLink::startExchange(Exchanges::Exchange x)
{
    const ReplyFramer::Request r = m_exchanges.prepare(x, Detecting(), frame(x.datagram));
    // The request's time is taken before it is written: a host slow to write makes the reply
    // look later, never sooner than it can come. A request that could not be written gets no
    // reply: it stays outstanding until the watchdog, and whatever comes meanwhile is a stray.
    x.sentAt = fineNow();
    m_framer.sent(r, x.sentAt);
    const Datagram d = x.datagram;
    const TrafficKind kind = x.kind;
    const TrafficOrigin origin = x.origin;
    m_exchanges.add(std::move(x));
    // advance() has just found the transmit queue empty.
    if (!m_sender.send(d, kind, origin, m_exchanges.lastSerial(), true))
        m_framer.cannotBeAnswered();
    m_watchdog.sent(now());
    m_receiver.armTimer();
}

std::optional<Reply> BoardLink::DirectRequest(const Datagram &d)
{
    const Batch b = directRequests(std::span(&d, 1));
    if (b.replies.empty())
        return std::nullopt;
    return b.replies.front();
}

BoardLink::Batch BoardLink::directRequests(std::span<const Datagram> datagrams,
                                           const std::function<void(int)> &progress,
                                           bool showsReplies)
{
    // Taken before an early return could leave it to the next command.
    const TrafficOrigin origin = std::exchange(m_nextOrigin, TrafficOrigin::Own);
    // Once the port has closed (the user, the window or a lost device), or the line was given
    // up because it never fell quiet, the rest of a command ends at once: nothing is sent,
    // nothing waits for a watchdog.
    if (m_pollingEnabled || !m_comm->Connected() || m_state == State::Lost)
        return {{}, datagrams.empty() ? -1 : 0, 0};
    Batch result = m_commands.run(
        datagrams, progress, showsReplies, [this] { advance(); },
        [this](const std::function<bool()> &done) { return m_waits.waitFor(done); }, origin);
    if (!result.replies.empty())
        m_lastReply = result.replies.back();
    return result;
}

void BoardLink::StartDetection()
{
    // A stalled device: one message, not one per probe byte.
    if (!m_detection.start())
        m_sender.failed();
    m_watchdog.sent(now());
    setBoardState(BoardState::Detecting);
}

void BoardLink::beginPolling()
{
    m_detection.resetProbes();
    m_pollingEnabled = true;
    m_boardActive = false;
    m_lost = false;
    m_watchdog.reset(now());
    m_receiver.begin(kReplySize);
    m_notes.counters() = {};
    m_notes.countChanged();
    advance();
}

bool BoardLink::discards(const QByteArray &bytes)
{
    if (!m_watchdog.inLateQuiet())
        return false;
    // The answer to a request the watchdog has given up: it must not be taken for the next
    // one. The quiet starts again.
    m_watchdog.startLateQuiet(now());
    m_notes.late(bytes);
    return true;
}

void BoardLink::judged(std::int64_t t, ReplyFramer::Events &events)
{
    if (const quint64 errors = m_receiver.lineErrors(); errors != m_notes.counters().lineErrors) {
        m_notes.counters().lineErrors = errors;
        m_framer.damaged(t, events);
        m_notes.countChanged();
    }
    // Four bytes that do not begin an identification are a plain board's ordinary reply: with
    // quick detection it is taken as soon as the line falls quiet after it, not at the
    // watchdog. Bytes that follow it all the same undo it at the checkpoint.
    if (m_detection.endsQuickly(m_framer.unfinished()))
        m_framer.endShort(t, events);
}

void BoardLink::handle(const ReplyFramer::Event &event)
{
    using Type = ReplyFramer::EventType;
    switch (event.type) {
    case Type::Taken:
        m_sender.answered(event.id);
        m_exchanges.taken(event);
        return;
    case Type::Committed:
        m_exchanges.committed(event.id);
        return;
    case Type::Dropped:
        m_exchanges.dropped(event.id);
        return;
    case Type::Discarded:
        m_notes.stray(event.bytes, event.reason);
        return;
    case Type::Ready:
        m_watchdog.progress(now());
        m_lost = false;
        return;
    }
}

void BoardLink::setBoardState(BoardState state)
{
    m_boardState = state;
    emit boardStateChanged(state);
}

void BoardLink::watchdog()
{
    if (!m_comm->Connected())
        return;
    const std::int64_t t = now();
    using Verdict = LinkWatchdog::Verdict;
    switch (
        m_watchdog.check(t, {requestOutstanding(), m_state == State::Idle, m_detection.busy()})) {
    case Verdict::DrainStalled:
        // A device that never takes what it is given: its queue is dropped, and the commands
        // that wait for it end.
        m_comm->PurgeOutput();
        emit sendError();
        m_exchanges.endCommands();
        watchdog();
        return;
    case Verdict::InLateQuiet:
        settle();
        return;
    case Verdict::LateQuietOver:
        // Still lost until the next request can go out.
        m_lost = m_lost && !m_framer.ready();
        advance();
        return;
    case Verdict::Overdue:
        // What has come and not been read yet may be the reply itself.
        m_receiver.readWaiting();
        if (requestOutstanding() && m_watchdog.giveUpNow(t))
            giveUpRequest(t);
        return;
    case Verdict::NeverQuiet:
        lineLost();
        return;
    case Verdict::None:
        return;
    }
}

void BoardLink::lineLost()
{
    // The line never gets quiet enough for a request: as good as no answer. Bytes that keep
    // coming after a give-up are the watchdog's quiet's to discard.
    if (!m_watchdog.inLateQuiet())
        purgeInput();
    m_lost = true;
    giveUpWaits();
    settle();
}

void BoardLink::giveUpRequest(std::int64_t t)
{
    // What came of the reply is shown before the give-up, not lost with it.
    const QByteArray partial = m_framer.unfinished();
    // A plain board answers the identification request with an ordinary reply, and the
    // watchdog is what ends its detection: that is the detection's outcome, not a board that
    // does not respond.
    const bool plainAnswer = Detecting() && partial.size() == kReplySize;
    m_exchanges.givenUp(partial, plainAnswer);
    purgeInput();
    m_comm->PurgeOutput();
    m_watchdog.startLateQuiet(t);
    m_framer.giveUp(m_receiver.events());
    m_notes.countChanged();
    m_watchdog.progress(t);
    m_detection.stopIdentifying();
    giveUpWaits(!plainAnswer);
    m_receiver.handleEvents();
    m_receiver.armTimer();
}

void BoardLink::giveUpWaits(bool report)
{
    if (report)
        setBoardState(BoardState::NotResponding);
    m_boardActive = false;
    ++m_giveUps;
    if (m_lost)
        m_exchanges.endCommands();
}

void BoardLink::endAllWaits()
{
    m_waits.endAll();
    m_exchanges.endCommands();
    m_exchanges.clear();
    m_receiver.clear();
    m_detection.cancel();
    m_sender.stopDraining();
    m_boardActive = false;
    m_lost = false;
    m_watchdog.clear();
    if (m_state != State::Closed) {
        m_state = State::Closed;
        emit stateChanged(m_state);
    }
    if (m_boardState != BoardState::Closed)
        setBoardState(BoardState::Closed);
}

void BoardLink::purgeInput()
{
    const int pending = m_comm->inQueueCount();
    m_comm->PurgeInput();
    if (pending > 0)
        m_notes.purged(pending);
}

} // namespace kvx
