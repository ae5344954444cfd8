#include "link/BoardLink.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QScopeGuard>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace kvx {

// Everything the link writes, takes and throws away, and its state, for a developer who
// switches it on (QT_LOGGING_RULES="kvx.link.debug=true"); the traffic view is the user's.
Q_LOGGING_CATEGORY(lcLink, "kvx.link", QtWarningMsg)

namespace {

using namespace std::chrono_literals;
// While a wait runs, this wakes it often enough to notice a watchdog that is due even when
// the poll timer (which normally runs the watchdog) does not tick.
constexpr auto kWaitGuardInterval = 50ms;
// A watchdog that runs this much past its time finds a host that was asleep, and gives the
// events that waited meanwhile this long to run before it gives a request up.
constexpr auto kHostStall = 100ms;
constexpr auto kStallGrace = 20ms;

constexpr char kFrameStart = '#';
constexpr char kSlowFrameStart = '!';
constexpr std::uint8_t kKorveDatagramLength = 4;

BoardLink::Clock steadyClock()
{
    auto timer = std::make_shared<QElapsedTimer>();
    timer->start();
    return [timer] { return timer->elapsed(); };
}

BoardLink::FineClock steadyFineClock()
{
    auto timer = std::make_shared<QElapsedTimer>();
    timer->start();
    return [timer] { return timer->nsecsElapsed() / 1000; };
}

Reply replyOf(const QByteArray &bytes)
{
    return Reply{std::uint8_t(bytes[0]),
                 {std::uint8_t(bytes[1]), std::uint8_t(bytes[2]), std::uint8_t(bytes[3])}};
}

} // namespace

// A command's wait for one request; it lives on the command's stack.
struct BoardLink::Request
{
    bool waitForTrust = false; // done once the reply is trusted, not when it has come
    int batch = -1;            // the transfer it belongs to; -1: a single command
    int retries = 0;
    bool sent = false;
    bool done = false;
    bool answered = false;
    Reply reply;
};

struct BoardLink::Pending
{
    Datagram datagram;
    Request *request = nullptr;
    std::int64_t order = 0; // single commands before transfers, each in the order asked
};

struct BoardLink::Exchange
{
    int id = -1;
    TrafficKind kind = TrafficKind::Poll;
    int row = -1;
    bool startsCycle = false;
    bool identification = false; // sent while detecting: 10 bytes expected
    Request *request = nullptr;  // a command that waits for this exchange
    Datagram datagram;
    std::int64_t order = 0;
    int serial = -1;
    bool taken = false;
    QByteArray frame;        // the request as written, for the traffic view
    std::int64_t sentAt = 0; // fine clock, when the request went out
    QByteArray bytes;
    Reply reply;
};

PollPause::PollPause(BoardLink &link)
    : m_link(link)
    , m_wasEnabled(link.m_pollingEnabled)
{
    if (!m_wasEnabled)
        return;
    m_link.m_pollingEnabled = false;
    // Until the outstanding poll request is answered and the line is free for the command's
    // first request, or the watchdog has given up.
    const quint64 giveUps = link.m_giveUps;
    m_link.waitFor([&link, giveUps] {
        using State = BoardLink::State;
        return link.m_state == State::Idle || link.m_state == State::Closed ||
               link.m_state == State::Lost || link.m_giveUps != giveUps;
    });
}

PollPause::~PollPause()
{
    m_link.m_pollingEnabled = m_wasEnabled;
    // The poll cycle goes on at once, not at the next tick.
    if (m_wasEnabled)
        m_link.advance();
}

BoardLink::BoardLink(ByteTransport &line, QObject *parent)
    : QObject(parent)
    , m_comm(&line)
    , m_clock(steadyClock())
    , m_fineClock(steadyFineClock())
    , m_detection(line)
    , m_waitGuard(new QTimer(this))
    , m_framerTimer(new QTimer(this))
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
    m_framerTimer->setObjectName(QStringLiteral("framer"));
    m_drainTimer->setObjectName(QStringLiteral("drain"));
    for (QTimer *t : {m_framerTimer, m_drainTimer}) {
        t->setSingleShot(true);
        t->setTimerType(Qt::PreciseTimer);
    }
    connect(m_framerTimer, &QTimer::timeout, this, &BoardLink::serviceFramer);
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
}

bool BoardLink::AwaitingDirectReply() const
{
    return m_framer.outstanding() && !m_exchanges.empty() &&
           m_exchanges.back().kind == TrafficKind::Direct;
}

QByteArray BoardLink::frame(const Datagram &d) const
{
    QByteArray f;
    if (KorveBoard()) {
        f.append(m_slowSpi ? kSlowFrameStart : kFrameStart);
        f.append(char(kKorveDatagramLength));
    } else {
        f.append(kFrameStart);
    }
    f.append(char(d.address));
    f.append(char(d.data.high));
    f.append(char(d.data.mid));
    f.append(char(d.data.low));
    return f;
}

std::int64_t BoardLink::nextWatchdogCheck() const
{
    if (m_drainSince >= 0)
        return m_drainSince + kWatchdogTimeout.count() + 1;
    if (m_lateQuietFrom)
        return *m_lateQuietFrom + kLateQuiet.count();
    if (requestOutstanding())
        return std::max(m_lastSendTick + kWatchdogTimeout.count() + 1, m_stallGraceUntil);
    return m_lastProgress + kWatchdogTimeout.count() + 1;
}

bool BoardLink::SendDatagram(const Datagram &d, TrafficKind kind)
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
    note(true, kind, f, DiscardReason::None, {}, m_serial - 1);
    return true;
}

void BoardLink::settle()
{
    State s = State::Idle;
    if (!m_comm->Connected())
        s = State::Closed;
    else if (m_detection.busy() || (m_identifying && m_framer.outstanding()))
        s = State::Detecting;
    else if (m_lost)
        s = State::Lost;
    else if (m_framer.outstanding())
        s = State::AwaitingReply;
    else if (m_lateQuietFrom || !m_framer.ready())
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
    readWaiting();
    settle();
    while (m_state == State::Idle) {
        // Frames never overlap on the line: the next waits for the transmit queue to empty,
        // looking again once the bytes in it can have left.
        if (const int queued = m_comm->OutQueueCount(); queued != 0) {
            if (m_drainSince < 0)
                m_drainSince = now();
            const auto wait = std::lround(queued * m_comm->characterTime() / 1000.0);
            m_drainTimer->start(std::max<int>(1, int(wait)));
            return;
        }
        m_drainSince = -1;
        Exchange x;
        if (!m_queue.empty()) {
            const Pending p = m_queue.front();
            m_queue.erase(m_queue.begin());
            x.kind = TrafficKind::Direct;
            x.request = p.request;
            x.datagram = p.datagram;
            x.order = p.order;
        } else if (const auto poll =
                       m_pollingEnabled && m_polls ? m_polls->nextPoll() : std::nullopt) {
            x.row = poll->row;
            x.startsCycle = poll->startsCycle;
            x.datagram = poll->datagram;
        } else {
            return;
        }
        startExchange(x.datagram, std::move(x));
        settle();
    }
}

bool BoardLink::startExchange(const Datagram &d, Exchange x)
{
    x.id = m_nextId++;
    x.identification = m_identifying;
    x.frame = frame(d);
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
    if (x.request)
        x.request->sent = true;
    // The request's time is taken before it is written: a host slow to write makes the reply
    // look later, never sooner than it can come. A request that could not be written gets no
    // reply: it stays outstanding until the watchdog, and whatever comes meanwhile is a stray.
    x.sentAt = fineNow();
    m_framer.sent(r, x.sentAt);
    const TrafficKind kind = x.kind;
    m_exchanges.push_back(std::move(x));
    const bool written = SendDatagram(d, kind);
    if (!written)
        m_framer.cannotBeAnswered();
    m_lastSendTick = now();
    m_lastProgress = m_lastSendTick;
    armFramerTimer();
    return written;
}

void BoardLink::enqueue(const Datagram &d, Request *request)
{
    // Single commands go ahead of a transfer's rows: a Stop clicked during a RAM transfer does
    // not wait for its 64 words.
    const std::int64_t order = (request->batch >= 0 ? std::int64_t(1) << 40 : 0) + m_order++;
    const auto at = std::find_if(m_queue.begin(), m_queue.end(),
                                 [order](const Pending &p) { return p.order > order; });
    m_queue.insert(at, Pending{d, request, order});
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
    // Once the port has closed (the user, the window or a lost device), or the line was given
    // up because it never fell quiet, the rest of a command ends at once: nothing is sent,
    // nothing waits for a watchdog.
    if (m_pollingEnabled || !m_comm->Connected() || m_state == State::Lost)
        return std::nullopt;
    const Batch b = directRequests(std::span(&d, 1));
    if (b.replies.empty())
        return std::nullopt;
    m_lastReply = b.replies.front();
    return m_lastReply;
}

BoardLink::Batch BoardLink::directRequests(std::span<const Datagram> datagrams,
                                           const std::function<void(int)> &progress,
                                           bool showsReplies)
{
    if (m_pollingEnabled || !m_comm->Connected() || m_state == State::Lost)
        return {{}, datagrams.empty() ? -1 : 0, 0};
    const bool single = datagrams.size() == 1 && !progress && !showsReplies;
    const int batch = single ? -1 : m_batches++;
    // Stable addresses: the queue and the exchanges point at them until they are done.
    std::vector<Request> requests(datagrams.size());
    for (std::size_t i = 0; i < requests.size(); ++i) {
        requests[i].waitForTrust = showsReplies || isReadAddress(datagrams[i].address);
        requests[i].batch = batch;
        enqueue(datagrams[i], &requests[i]);
    }
    advance();
    std::size_t reported = 0;
    // Ends early when the port closes: every request is then done, unanswered.
    waitFor([&] {
        while (reported < requests.size() && requests[reported].done &&
               requests[reported].answered) {
            ++reported;
            if (progress)
                progress(int(reported));
        }
        return std::all_of(requests.begin(), requests.end(),
                           [](const Request &r) { return r.done; });
    });
    // The requests live on this stack only.
    const auto ours = [&](const Request *r) {
        return r >= requests.data() && r < requests.data() + requests.size();
    };
    std::erase_if(m_queue, [&](const Pending &p) { return ours(p.request); });
    for (Exchange &x : m_exchanges) {
        if (ours(x.request))
            x.request = nullptr;
    }
    Batch result;
    for (std::size_t i = 0; i < requests.size(); ++i) {
        result.sent += requests[i].sent ? 1 : 0;
        if (result.failedAt < 0 && requests[i].done && requests[i].answered)
            result.replies.push_back(requests[i].reply);
        else if (result.failedAt < 0)
            result.failedAt = int(i);
    }
    if (!result.replies.empty())
        m_lastReply = result.replies.back();
    return result;
}

void BoardLink::finish(Request *request, bool answered, const Reply &reply)
{
    if (!request || request->done)
        return;
    request->done = true;
    request->answered = answered;
    request->reply = reply;
    if (!answered && request->batch >= 0) {
        // A transfer stops at its first row without an answer: the rest is not sent.
        const int batch = request->batch;
        for (const Pending &p : m_queue) {
            if (p.request->batch == batch)
                p.request->done = true;
        }
        std::erase_if(m_queue, [batch](const Pending &p) { return p.request->batch == batch; });
    }
}

void BoardLink::endCommands()
{
    for (Exchange &x : m_exchanges) {
        finish(x.request, false);
        x.request = nullptr;
    }
    const std::vector<Pending> queued = std::exchange(m_queue, {});
    for (const Pending &p : queued)
        finish(p.request, false);
}

void BoardLink::StartDetection()
{
    // A stalled device: one message, not one per probe byte.
    if (!m_detection.sendProbe() && m_comm->Connected())
        QTimer::singleShot(0, this, &BoardLink::sendError);
    m_identifying = true;
    m_lastSendTick = now();
    m_variant = BoardVariant::Plain;
    setBoardState(BoardState::Detecting);
}

void BoardLink::beginPolling()
{
    m_probesLeft = kExtraProbes;
    m_pollingEnabled = true;
    m_boardActive = false;
    m_lost = false;
    m_lateQuietFrom.reset();
    m_lastProgress = now();
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

void BoardLink::readWaiting()
{
    // Usually nothing waits: one look at the line, not two.
    if (m_comm->inQueueCount() == 0)
        return;
    m_comm->fetchInput();
    receive(m_comm->inQueueCount());
}

void BoardLink::Comm32RxChar(QObject *, int count)
{
    receive(count);
}

void BoardLink::receive(int count)
{
    if (count <= 0)
        return;
    QByteArray bytes(count, 0);
    const int n = m_comm->ReadBytes(bytes.data(), count);
    if (n <= 0)
        return;
    bytes.truncate(n);
    if (m_lateQuietFrom) {
        // The answer to a request the watchdog has given up: it must not be taken for the
        // next one. The quiet starts again.
        m_lateQuietFrom = now();
        m_counters.lateBytes += quint64(n);
        note(false, TrafficKind::Discarded, bytes, DiscardReason::Late);
        countChanged();
        return;
    }
    const std::int64_t t = fineNow();
    m_framer.received(bytes, t, m_newEvents);
    if (const quint64 errors = m_comm->lineErrors() - m_lineErrorsBefore;
        errors != m_counters.lineErrors) {
        m_counters.lineErrors = errors;
        m_framer.damaged(t, m_newEvents);
        countChanged();
    }
    // Four bytes that do not begin an identification are a plain board's ordinary reply: with
    // quick detection it is taken as soon as the line falls quiet after it, not at the
    // watchdog. Bytes that follow it all the same undo it at the checkpoint.
    if (m_quickDetection && m_identifying && m_framer.unfinished().size() >= kReplySize &&
        BoardDetection::identify(m_framer.unfinished()) == BoardVariant::Plain)
        m_framer.endShort(t, m_newEvents);
    afterInput();
}

void BoardLink::afterInput()
{
    // The framer's time moves on only once nothing more waits to be read: a byte that came
    // in meanwhile may show that a reply about to be trusted was not in step. The time is
    // taken before the look: the line is known quiet up to then, not up to after it.
    const std::int64_t t = fineNow();
    if (m_comm->inQueueCount() == 0)
        m_framer.advance(t, m_newEvents);
    handleEvents();
    armFramerTimer();
    advance();
}

std::optional<std::int64_t> BoardLink::nextFramerDeadline() const
{
    const std::optional<std::int64_t> framer = m_framer.nextDeadline();
    const std::optional<std::int64_t> detection = m_detection.nextDeadline();
    if (framer && detection)
        return std::min(*framer, *detection);
    return framer ? framer : detection;
}

void BoardLink::serviceFramer()
{
    if (!m_comm->Connected())
        return;
    m_detection.advance(fineNow());
    // A look at the line: what has come is read first, however few bytes it is.
    readWaiting();
    afterInput();
}

void BoardLink::armFramerTimer()
{
    const std::optional<ReplyFramer::Micros> due = nextFramerDeadline();
    if (!due || !m_comm->Connected()) {
        m_framerTimer->stop();
        return;
    }
    if (m_framerTimer->isActive() && m_framerTimerDue == *due)
        return;
    const ReplyFramer::Micros wait = std::max<ReplyFramer::Micros>(0, *due - fineNow());
    m_framerTimerDue = *due;
    m_framerTimer->start(int((wait + 999) / 1000));
}

void BoardLink::handleEvents()
{
    for (ReplyFramer::Event &e : m_newEvents)
        m_events.push_back(std::move(e));
    m_newEvents.clear();
    // Each event leaves the queue before it is handled: a handler may wait, and the events
    // that come meanwhile are handled by the nested call, in order.
    while (!m_events.empty()) {
        const ReplyFramer::Event e = std::move(m_events.front());
        m_events.pop_front();
        handle(e);
    }
    settle();
}

void BoardLink::handle(const ReplyFramer::Event &event)
{
    using Type = ReplyFramer::EventType;
    switch (event.type) {
    case Type::Taken:
        taken(event);
        return;
    case Type::Committed: {
        const auto it = std::find_if(m_exchanges.begin(), m_exchanges.end(),
                                     [&](const Exchange &x) { return x.id == event.id; });
        if (it == m_exchanges.end())
            return;
        const Exchange x = std::move(*it);
        m_exchanges.erase(it);
        if (x.startsCycle) {
            m_cycleStartOwed = false;
            emit pollCycleStart();
        }
        if (x.kind == TrafficKind::Direct) {
            finish(x.request, true, x.reply);
        } else if (x.identification) {
            m_identifying = false;
            identify(x.bytes);
        } else {
            m_replySentAt = x.sentAt;
            m_replyExchange = x.serial;
            // A cycle whose first reply was lost starts with its first reply shown; one whose
            // every reply was lost is no cycle at all.
            if (std::exchange(m_cycleStartOwed, false))
                emit pollCycleStart();
            emit pollReply(x.row, x.reply);
        }
        if (!m_boardActive) {
            m_boardActive = true;
            setBoardState(BoardState::Active);
        }
        return;
    }
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
        m_lastProgress = now();
        m_lost = false;
        return;
    }
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
             x.bytes, DiscardReason::None, x.frame, x.serial);
        // A write's reply is not used: the command goes on at once, and what becomes of the
        // reply later is no longer its business.
        if (x.request && !x.request->waitForTrust) {
            finish(x.request, true, x.reply);
            x.request = nullptr;
        }
        emit replyTaken(x.identification);
        return;
    }
}

void BoardLink::dropped(int id)
{
    const auto it = std::find_if(m_exchanges.begin(), m_exchanges.end(),
                                 [id](const Exchange &x) { return x.id == id; });
    if (it == m_exchanges.end())
        return;
    const Exchange x = std::move(*it);
    m_exchanges.erase(it);
    m_cycleStartOwed = m_cycleStartOwed || x.startsCycle;
    if (x.taken) {
        ++m_counters.untrustedReplies;
        note(false, TrafficKind::Discarded, x.bytes, DiscardReason::Untrusted, x.frame, x.serial);
        countChanged();
    }
    // A read changes nothing on the board: one whose reply was lost, or could not be trusted,
    // is asked again (after the watchdog's quiet, if it was the watchdog's). A write never
    // is: written twice, it could start a move twice or clear a flag raised meanwhile.
    Request *r = x.request;
    if (r && !r->done && isReadAddress(x.datagram.address) && r->retries < kReadRetries &&
        m_comm->Connected() && m_state != State::Lost) {
        ++r->retries;
        ++m_counters.askedAgain;
        const auto at = std::find_if(m_queue.begin(), m_queue.end(),
                                     [&x](const Pending &p) { return p.order > x.order; });
        m_queue.insert(at, Pending{x.datagram, r, x.order});
        countChanged();
    } else {
        finish(r, false);
    }
    if (x.identification && m_identifying && m_probesLeft > 0) {
        // A board that sends its identification only once, after a probe, would pass for a
        // plain board: it is probed again.
        --m_probesLeft;
        StartDetection();
    }
}

void BoardLink::identify(const QByteArray &bytes)
{
    const BoardVariant variant = BoardDetection::identify(bytes);
    if (variant == BoardVariant::Korve)
        m_detection.startKorveStartUp(fineNow());
    m_variant = variant;
    if (variant != BoardVariant::Plain)
        emit identified(variant);
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
    if (m_drainSince >= 0 && t - m_drainSince > kWatchdogTimeout.count()) {
        // A device that never takes what it is given: its queue is dropped, and the commands
        // that wait for it end.
        m_drainSince = -1;
        m_comm->PurgeOutput();
        emit sendError();
        endCommands();
    }
    if (m_lateQuietFrom) {
        if (t - *m_lateQuietFrom < kLateQuiet.count()) {
            if (t - m_lastProgress > kWatchdogTimeout.count()) {
                // Bytes keep coming after the watchdog: the quiet never comes.
                m_lastProgress = t;
                m_lost = true;
                giveUpWaits();
            }
            settle();
            return;
        }
        m_lateQuietFrom.reset();
        m_lastProgress = t;
        // Still lost until the next request can go out.
        m_lost = m_lost && !m_framer.ready();
        advance();
        return;
    }
    if (requestOutstanding()) {
        // A 64-bit monotonic count: the 32-bit tick of old wrapped after 49.7 days and then
        // fired without cause.
        if (std::abs(t - m_lastSendTick) <= kWatchdogTimeout.count())
            return;
        // What has come and not been read yet may be the reply itself.
        readWaiting();
        if (!requestOutstanding())
            return;
        // A host that was asleep well past the deadline has not yet run what came meanwhile
        // (a board in this very thread has not even answered): it looks again once that has
        // had its turn, rather than blame the board for its own stall.
        const std::int64_t due = m_lastSendTick + kWatchdogTimeout.count() + 1;
        if (t - due > kHostStall.count() && m_stallGraceUntil < due) {
            m_stallGraceUntil = t + kStallGrace.count();
            return;
        }
        if (t >= m_stallGraceUntil)
            giveUpRequest(t);
        return;
    }
    if (m_state != State::Idle && t - m_lastProgress > kWatchdogTimeout.count() &&
        !m_detection.busy()) {
        // The line never gets quiet enough for a request: as good as no answer.
        purgeInput();
        m_lastProgress = t;
        m_lost = true;
        giveUpWaits();
        settle();
    }
}

void BoardLink::giveUpRequest(std::int64_t t)
{
    // What came of the reply is shown before the give-up, not lost with it.
    const QByteArray partial = m_framer.unfinished();
    // A plain board answers the identification request with an ordinary reply, and the
    // watchdog is what ends its detection: that is the detection's outcome, not a board that
    // does not respond.
    const bool plainAnswer = m_identifying && partial.size() == kReplySize;
    if (plainAnswer) {
        const auto x = std::find_if(m_exchanges.begin(), m_exchanges.end(),
                                    [](const Exchange &e) { return e.identification; });
        note(false, TrafficKind::Identification, partial, DiscardReason::None,
             x == m_exchanges.end() ? QByteArray() : x->frame);
    } else {
        if (!partial.isEmpty())
            note(false, TrafficKind::Discarded, partial, DiscardReason::Unfinished);
        note(false, TrafficKind::Unanswered, {});
        ++m_counters.unanswered;
    }
    purgeInput();
    m_comm->PurgeOutput();
    m_lateQuietFrom = t;
    m_framer.giveUp(m_newEvents);
    countChanged();
    m_lastProgress = t;
    m_identifying = false;
    giveUpWaits(!plainAnswer);
    handleEvents();
    armFramerTimer();
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
    m_events.clear();
    m_newEvents.clear();
    m_framer.clear();
    m_detection.cancel();
    m_framerTimer->stop();
    m_drainTimer->stop();
    m_drainSince = -1;
    m_identifying = false;
    m_boardActive = false;
    m_lost = false;
    m_cycleStartOwed = false;
    m_lateQuietFrom.reset();
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
        emit traffic(LinkTraffic{false,
                                 TrafficKind::Purged,
                                 {},
                                 now(),
                                 DiscardReason::None,
                                 fineNow(),
                                 pending,
                                 {},
                                 -1});
    }
}

void BoardLink::note(bool sent, TrafficKind kind, const QByteArray &bytes, DiscardReason reason,
                     const QByteArray &request, int exchange)
{
    qCDebug(lcLink) << fineNow() << (sent ? "out" : "in") << int(kind) << bytes.toHex(' ')
                    << "reason" << int(reason) << "exchange" << exchange;
    emit traffic(LinkTraffic{sent, kind, bytes, now(), reason, fineNow(), 0, request, exchange});
}

} // namespace kvx
