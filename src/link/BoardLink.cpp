#include "link/BoardLink.h"

#include "link/RequestFrame.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QScopeGuard>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace kvx {

// Everything the link writes, takes and throws away, and its state, for a developer who
// switches it on (QT_LOGGING_RULES="kvx.link.debug=true"); the traffic view is the user's.
Q_LOGGING_CATEGORY(lcLink, "kvx.link", QtWarningMsg)

namespace {

using namespace std::chrono_literals;
// While a wait runs, this wakes it often enough to notice a watchdog that is due even when
// the poll timer (which normally runs the watchdog) does not tick.
constexpr auto kWaitGuardInterval = 50ms;

// Monotonic time in units of `perSecond`.
std::function<std::int64_t()> steadyClock(std::int64_t nanosPerUnit)
{
    auto timer = std::make_shared<QElapsedTimer>();
    timer->start();
    return [timer, nanosPerUnit] { return timer->nsecsElapsed() / nanosPerUnit; };
}

Reply replyOf(const QByteArray &bytes)
{
    return Reply{std::uint8_t(bytes[0]),
                 {std::uint8_t(bytes[1]), std::uint8_t(bytes[2]), std::uint8_t(bytes[3])}};
}

} // namespace

struct BoardLink::Exchange
{
    int id = -1;
    TrafficKind kind = TrafficKind::Poll;
    int row = -1;
    bool startsCycle = false;
    bool identification = false;  // sent while detecting: 10 bytes expected
    bool afterGiveUp = false;     // the first after a give-up: its reply is never used
    CommandQueue::Handle request; // a command that waits for this exchange
    TrafficOrigin origin = TrafficOrigin::Own;
    Datagram datagram;
    int serial = -1;
    bool taken = false;
    QByteArray frame;        // the request as written, for the traffic view
    std::int64_t sentAt = 0; // fine clock, when the request went out
    QByteArray bytes;
    Reply reply;
};

BoardLink::BoardLink(ByteTransport &line, QObject *parent)
    : QObject(parent)
    , m_comm(&line)
    , m_clock(steadyClock(1000000))
    , m_fineClock(steadyClock(1000))
    , m_detection(line)
    , m_receiver(*this, line, m_detection, m_fineClock, this)
    , m_framer(m_receiver.framer())
    , m_waitGuard(new QTimer(this))
    , m_drainTimer(new QTimer(this))
{
    connect(&m_detection, &BoardDetection::written, this,
            [this](BoardDetection::Kind kind, const QByteArray &bytes) {
                note(true,
                     kind == BoardDetection::Kind::Probe ? TrafficKind::Probe
                                                         : TrafficKind::StartUp,
                     bytes);
            });
    connect(&m_detection, &BoardDetection::finished, this, &BoardLink::advance);
    m_waitGuard->setInterval(kWaitGuardInterval);
    connect(m_waitGuard, &QTimer::timeout, this, [this] {
        if (!LinkIdle())
            watchdog();
    });
    // Named for whoever drives the link by hand, as the receive path's fuzz harness does.
    m_drainTimer->setObjectName(QStringLiteral("drain"));
    m_drainTimer->setSingleShot(true);
    m_drainTimer->setTimerType(Qt::PreciseTimer);
    connect(m_drainTimer, &QTimer::timeout, this, &BoardLink::advance);
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
}

bool BoardLink::AwaitingDirectReply() const
{
    return m_framer.outstanding() && !m_exchanges.empty() &&
           m_exchanges.back().kind == TrafficKind::Direct;
}

QByteArray BoardLink::frame(const Datagram &d) const
{
    return requestFrame(d, variant(), m_slowSpi);
}

std::int64_t BoardLink::nextWatchdogCheck() const
{
    return m_watchdog.nextCheck(requestOutstanding());
}

bool BoardLink::SendDatagram(const Datagram &d, TrafficKind kind, TrafficOrigin origin)
{
    const QByteArray f = frame(d);
    if (m_comm->OutQueueCount() != 0 || m_comm->WriteBytes(f.constData(), int(f.size())) < 0) {
        // A port that has just been lost is reported as such by the window; a "Send error!" on
        // top of it would only repeat the news. Told once the send is over: the window's
        // message box must not open inside it.
        if (m_comm->Connected())
            QTimer::singleShot(0, this, &BoardLink::sendError);
        return false;
    }
    note(true, kind, f, DiscardReason::None, {}, m_serial - 1, origin);
    return true;
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
        // Frames never overlap on the line: the next waits for the transmit queue to empty,
        // looking again once the bytes in it can have left.
        if (const int queued = m_comm->OutQueueCount(); queued != 0) {
            m_watchdog.draining(now());
            const auto wait = std::lround(queued * m_comm->characterTime() / 1000.0);
            m_drainTimer->start(std::max<int>(1, int(wait)));
            return;
        }
        m_watchdog.drained();
        Exchange x;
        if (const CommandQueue::Request *next = m_commands.front();
            m_afterGiveUp && !Detecting() && next && !isReadAddress(next->datagram.address)) {
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

void BoardLink::startExchange(Exchange x)
{
    x.id = m_nextId++;
    x.identification = Detecting();
    x.afterGiveUp = !x.identification && std::exchange(m_afterGiveUp, false);
    x.frame = frame(x.datagram);
    x.serial = m_serial++;
    ReplyFramer::Request r;
    r.id = x.id;
    r.frameBytes = int(x.frame.size());
    r.replyBytes = x.identification ? kIdentificationSize : kReplySize;
    // A single command's read is used at once, and the identification is acted on (the KORVE
    // start-up) before anything else goes out.
    r.holdLine = x.identification || (x.request && x.request->batch < 0 && x.request->waitForTrust);
    // A plain board answers the detection's request with a short reply; the watchdog ends it.
    r.mayBeShort = x.identification;
    // A transfer hands its replies over once all are trusted.
    r.unseen = x.request && x.request->batch >= 0;
    if (x.request)
        x.request->sent = true;
    // The request's time is taken before it is written: a host slow to write makes the reply
    // look later, never sooner than it can come. A request that could not be written gets no
    // reply: it stays outstanding until the watchdog, and whatever comes meanwhile is a stray.
    x.sentAt = fineNow();
    m_framer.sent(r, x.sentAt);
    const Datagram d = x.datagram;
    const TrafficKind kind = x.kind;
    const TrafficOrigin origin = x.origin;
    m_exchanges.push_back(std::move(x));
    if (!SendDatagram(d, kind, origin))
        m_framer.cannotBeAnswered();
    m_watchdog.sent(now());
    m_receiver.armTimer();
}

bool BoardLink::waitFor(const std::function<bool()> &done)
{
    const quint64 closes = m_closeCount;
    if (m_waitDepth++ == 0)
        m_waitGuard->start();
    while (!done() && closes == m_closeCount)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    if (--m_waitDepth == 0)
        m_waitGuard->stop();
    return closes == m_closeCount;
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
        [this](const std::function<bool()> &done) { return waitFor(done); }, origin);
    if (!result.replies.empty())
        m_lastReply = result.replies.back();
    return result;
}

void BoardLink::endCommands()
{
    for (Exchange &x : m_exchanges)
        m_commands.finish(std::exchange(x.request, nullptr), false);
    m_commands.endAll();
}

void BoardLink::StartDetection()
{
    // A stalled device: one message, not one per probe byte.
    if (!m_detection.start() && m_comm->Connected())
        QTimer::singleShot(0, this, &BoardLink::sendError);
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
    m_framer.clear();
    m_framer.setLine(m_comm->pacedLine(),
                     std::max<ReplyFramer::Micros>(1, std::lround(m_comm->characterTime())));
    // A reply wakes the program once, when it is whole; anything shorter is found by the
    // framer's own looks.
    m_comm->setReadThreshold(kReplySize);
    m_counters = {};
    m_lineErrorsBefore = m_comm->lineErrors();
    countChanged();
    advance();
}

bool BoardLink::discards(const QByteArray &bytes)
{
    if (!m_watchdog.inLateQuiet())
        return false;
    // The answer to a request the watchdog has given up: it must not be taken for the next
    // one. The quiet starts again.
    m_watchdog.startLateQuiet(now());
    m_counters.lateBytes += quint64(bytes.size());
    note(false, TrafficKind::Discarded, bytes, DiscardReason::Late);
    countChanged();
    return true;
}

void BoardLink::judged(std::int64_t t, ReplyFramer::Events &events)
{
    if (const quint64 errors = m_comm->lineErrors() - m_lineErrorsBefore;
        errors != m_counters.lineErrors) {
        m_counters.lineErrors = errors;
        m_framer.damaged(t, events);
        countChanged();
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
        taken(event);
        return;
    case Type::Committed:
        committed(event.id);
        return;
    case Type::Dropped:
        dropped(event.id);
        return;
    case Type::Discarded:
        m_counters.strayBytes += quint64(event.bytes.size());
        if (event.reason != DiscardReason::Resync)
            ++m_counters.resyncs;
        note(false, TrafficKind::Discarded, event.bytes, event.reason);
        countChanged();
        return;
    case Type::Ready:
        m_watchdog.progress(now());
        m_lost = false;
        return;
    }
}

std::optional<BoardLink::Exchange> BoardLink::resolve(int id)
{
    const auto it = std::find_if(m_exchanges.begin(), m_exchanges.end(),
                                 [id](const Exchange &x) { return x.id == id; });
    if (it == m_exchanges.end())
        return std::nullopt;
    Exchange x = std::move(*it);
    m_exchanges.erase(it);
    return x;
}

void BoardLink::committed(int id)
{
    const std::optional<Exchange> resolved = resolve(id);
    if (!resolved)
        return;
    const Exchange &x = *resolved;
    if (x.afterGiveUp) {
        unused(x);
    } else {
        if (x.startsCycle) {
            m_cycleStartOwed = false;
            emit pollCycleStart();
        }
        if (x.kind == TrafficKind::Direct) {
            m_commands.finish(x.request, true, x.reply);
        } else if (x.identification) {
            if (const BoardVariant v = m_detection.identified(x.bytes, fineNow());
                v != BoardVariant::Plain)
                emit identified(v);
        } else {
            m_replySentAt = x.sentAt;
            m_replyExchange = x.serial;
            // A cycle whose first reply was lost starts with its first reply shown; one whose
            // every reply was lost is no cycle at all.
            if (std::exchange(m_cycleStartOwed, false))
                emit pollCycleStart();
            emit pollReply(x.row, x.reply);
        }
    }
    if (!m_boardActive) {
        m_boardActive = true;
        setBoardState(BoardState::Active);
    }
}

void BoardLink::unused(const Exchange &x)
{
    // A board that stalls may lose what it is sent meanwhile and then send its late answer
    // into the next request's time, where no rule of time can tell it apart: the first reply
    // after a give-up is not used. A read is asked again (not counted as a retry: it was
    // answered), a poll's row waits for the next cycle.
    ++m_counters.untrustedReplies;
    note(false, TrafficKind::Discarded, x.bytes, DiscardReason::AfterGiveUp, x.frame, x.serial,
         x.origin);
    m_cycleStartOwed = m_cycleStartOwed || x.startsCycle;
    if (x.request && !x.request->done) {
        m_commands.askAgain(x.request, false);
        ++m_counters.askedAgain;
    }
    countChanged();
}

void BoardLink::taken(const ReplyFramer::Event &event)
{
    for (Exchange &x : m_exchanges) {
        if (x.id != event.id)
            continue;
        x.taken = true;
        x.bytes = event.bytes;
        x.reply = replyOf(event.bytes);
        // Shown where it came, right after its request; should the line lose step before it
        // is trusted, an untrusted reply follows it.
        note(false,
             x.identification                ? TrafficKind::Identification
             : x.kind == TrafficKind::Direct ? TrafficKind::Direct
                                             : TrafficKind::Poll,
             x.bytes, DiscardReason::None, x.frame, x.serial, x.origin);
        // A write's reply is not used: the command goes on at once, and what becomes of the
        // reply later is no longer its business.
        if (x.request && !x.request->waitForTrust) {
            m_commands.finish(std::exchange(x.request, nullptr), true, x.reply);
        }
        emit replyTaken(x.identification);
        return;
    }
}

void BoardLink::dropped(int id)
{
    const std::optional<Exchange> resolved = resolve(id);
    if (!resolved)
        return;
    const Exchange &x = *resolved;
    m_cycleStartOwed = m_cycleStartOwed || x.startsCycle;
    m_afterGiveUp = m_afterGiveUp || x.afterGiveUp;
    if (x.taken) {
        ++m_counters.untrustedReplies;
        note(false, TrafficKind::Discarded, x.bytes, DiscardReason::Untrusted, x.frame, x.serial,
             x.origin);
        countChanged();
    }
    // A read changes nothing on the board: one whose reply was lost, or could not be trusted,
    // is asked again (after the watchdog's quiet, if it was the watchdog's). A write never
    // is: written twice, it could start a move twice or clear a flag raised meanwhile.
    const CommandQueue::Handle &r = x.request;
    if (r && !r->done && isReadAddress(x.datagram.address) && r->retries < kReadRetries &&
        m_comm->Connected() && m_state != State::Lost) {
        m_commands.askAgain(r);
        ++m_counters.askedAgain;
        countChanged();
    } else {
        m_commands.finish(r, false);
    }
    if (x.identification && m_detection.probeAgain())
        StartDetection();
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
        endCommands();
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
    if (plainAnswer) {
        const auto x = std::find_if(m_exchanges.begin(), m_exchanges.end(),
                                    [](const Exchange &e) { return e.identification; });
        note(false, TrafficKind::Identification, partial, DiscardReason::None,
             x == m_exchanges.end() ? QByteArray() : x->frame);
    } else {
        // The next reply may be this request's, late: see committed().
        m_afterGiveUp = m_exchanges.empty() || !m_exchanges.back().identification;
        if (!partial.isEmpty())
            note(false, TrafficKind::Discarded, partial, DiscardReason::Unfinished);
        note(false, TrafficKind::Unanswered, {});
        ++m_counters.unanswered;
    }
    purgeInput();
    m_comm->PurgeOutput();
    m_watchdog.startLateQuiet(t);
    m_framer.giveUp(m_receiver.events());
    countChanged();
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
        endCommands();
}

void BoardLink::endAllWaits()
{
    ++m_closeCount;
    endCommands();
    m_exchanges.clear();
    m_receiver.clear();
    m_detection.cancel();
    m_drainTimer->stop();
    m_boardActive = false;
    m_lost = false;
    m_cycleStartOwed = false;
    m_afterGiveUp = false;
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
    if (pending > 0) {
        LinkTraffic purged;
        purged.sent = false;
        purged.kind = TrafficKind::Purged;
        purged.time = now();
        purged.micros = fineNow();
        purged.purged = pending;
        emit traffic(purged);
    }
}

void BoardLink::note(bool sent, TrafficKind kind, const QByteArray &bytes, DiscardReason reason,
                     const QByteArray &request, int exchange, TrafficOrigin origin)
{
    qCDebug(lcLink) << fineNow() << (sent ? "out" : "in") << int(kind) << bytes.toHex(' ')
                    << "reason" << int(reason) << "exchange" << exchange;
    emit traffic(
        LinkTraffic{sent, kind, bytes, now(), reason, fineNow(), 0, request, exchange, origin});
}

} // namespace kvx
