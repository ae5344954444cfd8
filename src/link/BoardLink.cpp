#include "link/BoardLink.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace kvx {

namespace {

using namespace std::chrono_literals;
// While a wait runs, this wakes it often enough to notice a watchdog that is due even when
// the poll timer (which normally runs the watchdog) does not tick.
constexpr auto kWaitGuardInterval = 50ms;
// Bytes that wait to be read are read before the framer's time moves on; this is how soon
// the framer looks again.
constexpr auto kReadFirst = 1ms;
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
    m_link.waitFor([&link, giveUps] { return link.LinkIdle() || link.m_giveUps != giveUps; });
}

PollPause::~PollPause()
{
    m_link.m_pollingEnabled = m_wasEnabled;
    // The poll cycle goes on at once, not at the next tick.
    if (m_wasEnabled && m_link.LinkIdle())
        emit m_link.lineReady();
}

BoardLink::BoardLink(ByteTransport &line, QObject *parent)
    : QObject(parent)
    , m_comm(&line)
    , m_clock(steadyClock())
    , m_fineClock(steadyFineClock())
    , m_detection(
          line, [this] { return now(); },
          [this](BoardDetection::Kind kind, const QByteArray &bytes) {
              note(true,
                   kind == BoardDetection::Kind::Probe ? TrafficKind::Probe : TrafficKind::StartUp,
                   bytes);
          })
    , m_waitGuard(new QTimer(this))
    , m_framerTimer(new QTimer(this))
{
    m_waitGuard->setInterval(kWaitGuardInterval);
    connect(m_waitGuard, &QTimer::timeout, this, [this] {
        if (!LinkIdle())
            watchdog();
    });
    m_framerTimer->setSingleShot(true);
    m_framerTimer->setTimerType(Qt::PreciseTimer);
    connect(m_framerTimer, &QTimer::timeout, this, &BoardLink::serviceFramer);
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
    if (m_line == Line::LateQuiet || m_line == Line::LostQuiet)
        return m_lateQuietFrom + kLateQuiet.count();
    if (requestOutstanding())
        return std::max(m_lastSendTick + kWatchdogTimeout.count() + 1, m_stallGraceUntil);
    return m_lastProgress + kWatchdogTimeout.count() + 1;
}

bool BoardLink::SendDatagram(const Datagram &d, TrafficKind kind)
{
    if (!m_detection.waitForEmptyTransmitQueue()) {
        if (m_comm->Connected())
            emit sendError();
        return false;
    }
    return writeFrame(frame(d), kind);
}

bool BoardLink::writeFrame(const QByteArray &f, TrafficKind kind, TrafficOrigin origin)
{
    if (m_comm->WriteBytes(f.constData(), int(f.size())) < 0) {
        // A port that has just been lost is reported as such by the window; a "Send error!"
        // on top of it would only repeat the news.
        if (m_comm->Connected())
            emit sendError();
        return false;
    }
    note(true, kind, f, DiscardReason::None, {}, origin);
    return true;
}

bool BoardLink::startExchange(const Datagram &d, Exchange exchange, bool holdLine)
{
    // Whatever waits to be read now arrived before this request: it cannot be its reply.
    readWaiting();
    if (!LinkIdle() || !m_comm->Connected())
        return false;
    exchange.id = m_nextId++;
    exchange.identification = Detecting();
    ReplyFramer::Request request;
    request.id = exchange.id;
    const QByteArray f = frame(d);
    request.frameBytes = int(f.size());
    request.replyBytes = Detecting() ? kIdentificationSize : kReplySize;
    // The identification is acted on (the KORVE start-up) before anything else goes out.
    request.holdLine = holdLine || Detecting();
    // A plain board answers the detection's request with a short reply; the watchdog ends it.
    request.mayBeShort = Detecting();
    // The rest of a reply begun wakes the program once; the identification may come short.
    request.gather = !Detecting();
    const TrafficKind kind = exchange.kind;
    const TrafficOrigin origin = exchange.origin;
    exchange.frame = f;
    m_exchanges.push_back(std::move(exchange));
    // The request's time is taken once its queue is empty and before it is written: a host
    // slow to write makes the reply look later, never sooner than it can come. A request that
    // could not be written gets no reply: it stays outstanding until the watchdog, and
    // whatever comes meanwhile is a stray.
    const bool drained = m_detection.waitForEmptyTransmitQueue();
    request.expectNothing = !drained;
    const std::int64_t sentAt = fineNow();
    m_framer.sent(request, sentAt);
    // Found again by its id: the wait for the queue may have resolved others meanwhile.
    for (auto x = m_exchanges.rbegin(); x != m_exchanges.rend(); ++x) {
        if (x->id == request.id) {
            x->sentAt = sentAt;
            break;
        }
    }
    if (!drained) {
        if (m_comm->Connected())
            emit sendError();
    } else if (!writeFrame(f, kind, origin)) {
        m_framer.cannotBeAnswered();
    }
    m_lastSendTick = now();
    m_lastProgress = m_lastSendTick;
    armFramerTimer();
    return true;
}

bool BoardLink::pollRequest(const Datagram &d, int row, bool startsCycle)
{
    if (!LinkIdle() || !m_pollingEnabled)
        return false;
    Exchange exchange;
    exchange.kind = TrafficKind::Poll;
    exchange.row = row;
    exchange.startsCycle = startsCycle;
    return startExchange(d, std::move(exchange), false);
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
    const TrafficOrigin origin = std::exchange(m_nextOrigin, TrafficOrigin::Own);
    // Once the port has closed (the user, the window or a lost device), the rest of a command
    // ends at once: nothing is sent, nothing waits for a watchdog.
    if (m_pollingEnabled || !m_comm->Connected())
        return std::nullopt;
    // A line that never got quiet has been given up: the rest of the command ends at once
    // rather than waiting out the watchdog once more for each request.
    if (lineLost() && !LinkIdle())
        return std::nullopt;
    const quint64 giveUps = m_giveUps;
    // The line given up while this waited for it: one that never fell quiet. A watchdog that
    // gave up another command's request is that command's business; this one still goes out
    // once the quiet after it has passed.
    auto givenUp = [&] { return m_giveUps != giveUps && lineLost(); };
    Request request;
    // A read's value is used: nothing else goes out until it is trusted.
    request.waitForTrust = isReadAddress(d.address);
    ++m_commandsWaiting;
    auto stopWaiting = qScopeGuard([this] { --m_commandsWaiting; });
    for (;;) {
        // Another command's request may still be outstanding (a click during a long
        // transfer): it keeps its reply, and this one goes out only when the line is free.
        if (!waitFor([&] { return LinkIdle() || givenUp(); }) || givenUp())
            return std::nullopt;
        Exchange exchange;
        exchange.kind = TrafficKind::Direct;
        exchange.request = &request;
        exchange.origin = origin;
        if (startExchange(d, std::move(exchange), request.waitForTrust))
            break;
    }
    stopWaiting.dismiss();
    --m_commandsWaiting;
    m_awaitingDirectReply = true;
    const bool open = waitFor([&request] { return request.done; });
    // The request lives on this stack only: no exchange may point to it once it returns.
    for (Exchange &x : m_exchanges) {
        if (x.request == &request)
            x.request = nullptr;
    }
    if (!open || !request.answered)
        return std::nullopt;
    // A command nested in this wait may have taken a later reply meanwhile; the caller reads
    // its own.
    m_lastReply = request.reply;
    return request.reply;
}

BoardLink::Batch BoardLink::directRequests(std::span<const Datagram> datagrams,
                                           const std::function<void(int)> &progress,
                                           bool showsReplies)
{
    Batch batch;
    const TrafficOrigin origin = std::exchange(m_nextOrigin, TrafficOrigin::Own);
    // As for a single command: after the port closed or the line was given up, nothing more.
    if (m_pollingEnabled || !m_comm->Connected() || (lineLost() && !LinkIdle()))
        return {{}, datagrams.empty() ? -1 : 0, 0};
    const quint64 giveUps = m_giveUps;
    // Stable addresses: the exchanges point at them until they are done.
    std::vector<Request> requests(datagrams.size());
    for (std::size_t i = 0; i < requests.size(); ++i)
        requests[i].waitForTrust = showsReplies || isReadAddress(datagrams[i].address);
    std::size_t sent = 0;
    std::size_t reported = 0;
    // One of its own requests unanswered, or the line lost; another command's request given
    // up by the watchdog does not end the batch.
    auto failed = [&] {
        for (std::size_t i = 0; i < sent; ++i) {
            if (requests[i].done && !requests[i].answered)
                return true;
        }
        return m_giveUps != giveUps && lineLost();
    };
    auto report = [&] {
        while (reported < sent && requests[reported].done && requests[reported].answered) {
            ++reported;
            if (progress)
                progress(int(reported));
        }
    };
    // Each request goes out as soon as the line is ready, from the ready event itself as the
    // poll cycle's do, rather than when the wait below next looks; single commands waiting
    // for the line go first.
    auto sendNext = [&] {
        if (sent >= datagrams.size() || failed() || !LinkIdle() || m_commandsWaiting > 0)
            return;
        Exchange exchange;
        exchange.kind = TrafficKind::Direct;
        exchange.request = &requests[sent];
        exchange.origin = origin;
        if (startExchange(datagrams[sent], std::move(exchange), false)) {
            m_awaitingDirectReply = true;
            ++sent;
        }
    };
    const QMetaObject::Connection onReady = connect(this, &BoardLink::lineReady, this, sendNext);
    sendNext();
    // Ends early when the port closes: every request is then done, unanswered.
    waitFor([&] {
        report();
        sendNext();
        return (sent == datagrams.size() || failed()) &&
               std::all_of(requests.begin(), requests.begin() + std::ptrdiff_t(sent),
                           [](const Request &r) { return r.done; });
    });
    disconnect(onReady);
    // The requests live on this stack only.
    const std::less<const Request *> before;
    for (Exchange &x : m_exchanges) {
        if (x.request && !before(x.request, requests.data()) &&
            before(x.request, requests.data() + requests.size()))
            x.request = nullptr;
    }
    report();
    for (std::size_t i = 0; i < datagrams.size(); ++i) {
        if (i >= sent || !requests[i].done || !requests[i].answered) {
            batch.failedAt = int(i);
            break;
        }
        batch.replies.push_back(requests[i].reply);
    }
    batch.sent = int(sent);
    if (!batch.replies.empty())
        m_lastReply = batch.replies.back();
    return batch;
}

void BoardLink::finish(Request *request, bool answered, const Reply &reply)
{
    if (!request || request->done)
        return;
    request->done = true;
    request->answered = answered;
    request->reply = reply;
    if (answered)
        m_lastReply = reply;
}

void BoardLink::StartDetection()
{
    // A stalled device: one message, not one per probe byte.
    if (!m_detection.sendProbe())
        emit sendError();
    m_detecting = true;
    m_lastSendTick = now();
    m_variant = BoardVariant::Plain;
    emit statusChanged(tr("Trying to detect the board."), QString());
}

void BoardLink::beginPolling()
{
    m_probesLeft = kExtraProbes;
    m_pollingEnabled = true;
    m_boardActive = false;
    m_line = Line::InStep;
    m_lastProgress = now();
    ReplyFramer::Timing timing = m_framer.timing();
    timing.byteTime = std::max<ReplyFramer::Micros>(1, std::lround(m_comm->characterTime()));
    timing.pacedLine = m_comm->pacedLine();
    m_framer.setTiming(timing);
    m_counters = {};
    countChanged();
}

void BoardLink::InitKorveBoard()
{
    m_detection.sendKorveStartUp();
}

void BoardLink::readWaiting()
{
    // Usually nothing waits: one look at the line, not two.
    if (m_comm->inQueueCount() == 0)
        return;
    m_comm->fetchInput();
    receive(m_comm->inQueueCount(), 1);
}

void BoardLink::Comm32RxChar(QObject *, int count)
{
    // The port reports bytes once as many as it was told to gather have come.
    receive(count, m_comm->readThreshold());
}

void BoardLink::receive(int count, int gathered)
{
    if (count <= 0)
        return;
    QByteArray bytes(count, 0);
    const int n = m_comm->ReadBytes(bytes.data(), count);
    if (n <= 0)
        return;
    bytes.truncate(n);
    if (m_line == Line::LateQuiet || m_line == Line::LostQuiet) {
        // The answer to a request the watchdog has given up: it must not be taken for the
        // next one. The quiet starts again.
        m_lateQuietFrom = now();
        m_counters.lateBytes += quint64(n);
        note(false, TrafficKind::Discarded, bytes, DiscardReason::Late);
        countChanged();
        return;
    }
    const std::int64_t t = fineNow();
    m_framer.received(bytes, t, m_newEvents, gathered);
    // Four bytes that do not begin an identification are a plain board's ordinary reply: with
    // quick detection it is taken as soon as the line falls quiet after it, not at the
    // watchdog. Bytes that follow it all the same undo it at the checkpoint.
    if (m_quickDetection && Detecting() && m_framer.unfinished().size() >= kReplySize &&
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
    m_comm->setReadThreshold(m_framer.gatherable());
}

std::optional<std::int64_t> BoardLink::nextFramerDeadline() const
{
    return m_framer.nextDeadline();
}

void BoardLink::serviceFramer()
{
    if (!m_comm->Connected())
        return;
    if (m_comm->inQueueCount() > 0) {
        // Read first: the port's own notification delivers them, now whatever has come.
        m_comm->setReadThreshold(1);
        m_framerTimerDue = fineNow();
        m_framerTimer->start(kReadFirst);
        return;
    }
    afterInput();
}

void BoardLink::armFramerTimer()
{
    const std::optional<ReplyFramer::Micros> due = m_framer.nextDeadline();
    if (!due || !m_comm->Connected()) {
        m_framerTimer->stop();
        return;
    }
    // A timer that fires too early only looks again; re-arming it for every byte would cost
    // more than that.
    if (m_framerTimer->isActive() && m_framerTimerDue <= *due)
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
}

BoardLink::Exchange BoardLink::takeExchange(int id)
{
    for (auto it = m_exchanges.begin(); it != m_exchanges.end(); ++it) {
        if (it->id == id) {
            Exchange e = std::move(*it);
            m_exchanges.erase(it);
            return e;
        }
    }
    return {};
}

void BoardLink::handle(const ReplyFramer::Event &event)
{
    using Type = ReplyFramer::EventType;
    switch (event.type) {
    case Type::Taken: {
        for (Exchange &x : m_exchanges) {
            if (x.id != event.id)
                continue;
            x.taken = true;
            x.bytes = event.bytes;
            x.reply = replyOf(event.bytes);
            // Shown where it came, right after its request; should the line lose step before
            // it is trusted, an untrusted reply follows it.
            note(false,
                 x.identification                ? TrafficKind::Identification
                 : x.kind == TrafficKind::Direct ? TrafficKind::Direct
                                                 : TrafficKind::Poll,
                 x.bytes, DiscardReason::None, x.frame, x.origin);
            if (x.kind == TrafficKind::Direct) {
                m_awaitingDirectReply = false;
                // A write's reply is not used: the command goes on at once, and what becomes
                // of the reply later is no longer its business.
                if (x.request && !x.request->waitForTrust) {
                    finish(x.request, true, x.reply);
                    x.request = nullptr;
                }
            }
            emit replyTaken(x.identification);
            break;
        }
        return;
    }
    case Type::Committed: {
        const Exchange x = takeExchange(event.id);
        if (x.id < 0)
            return;
        if (x.startsCycle)
            emit pollCycleStart();
        if (x.kind == TrafficKind::Direct) {
            finish(x.request, true, x.reply);
        } else if (x.identification) {
            m_detecting = false;
            identify(x.bytes);
        } else {
            m_replySentAt = x.sentAt;
            emit pollReply(x.row, x.reply);
        }
        reportActive();
        return;
    }
    case Type::Dropped: {
        const Exchange x = takeExchange(event.id);
        if (x.id < 0)
            return;
        if (x.startsCycle)
            emit pollCycleStart();
        if (x.taken) {
            ++m_counters.untrustedReplies;
            note(false, TrafficKind::Discarded, x.bytes, DiscardReason::Untrusted, x.frame,
                 x.origin);
            countChanged();
        }
        finish(x.request, false);
        if (x.identification && Detecting() && m_probesLeft > 0) {
            // A board that sends its identification only once, after a probe, would pass for a
            // plain board: it is probed again.
            --m_probesLeft;
            StartDetection();
        }
        return;
    }
    case Type::Discarded:
        m_counters.strayBytes += quint64(event.bytes.size());
        if (event.reason != DiscardReason::Resync)
            ++m_counters.resyncs;
        note(false, TrafficKind::Discarded, event.bytes, event.reason);
        countChanged();
        return;
    case Type::Ready:
        m_lastProgress = now();
        if (m_line == Line::Lost)
            m_line = Line::InStep;
        emit lineReady();
        return;
    }
}

void BoardLink::identify(const QByteArray &bytes)
{
    const BoardVariant variant = BoardDetection::identify(bytes);
    if (variant == BoardVariant::Korve)
        InitKorveBoard();
    m_variant = variant;
    if (variant != BoardVariant::Plain)
        emit identified(variant);
}

void BoardLink::reportActive()
{
    if (m_boardActive)
        return;
    m_boardActive = true;
    const QString second = KorveBoard()    ? tr("KORVE detected!")
                           : PentarBoard() ? tr("Pentar detected!")
                                           : tr("KVX310 evaluation board detected!");
    emit statusChanged(tr("The board is active."), second);
}

void BoardLink::watchdog()
{
    if (!m_comm->Connected())
        return;
    const std::int64_t t = now();
    if (m_line == Line::LateQuiet || m_line == Line::LostQuiet) {
        if (t - m_lateQuietFrom < kLateQuiet.count()) {
            if (t - m_lastProgress > kWatchdogTimeout.count()) {
                // Bytes keep coming after the watchdog: the quiet never comes.
                m_lastProgress = t;
                m_line = Line::LostQuiet;
                giveUpWaits();
            }
            return;
        }
        m_lastProgress = t;
        // Still lost until the next request can go out.
        m_line = m_framer.ready() ? Line::InStep : Line::Lost;
        if (LinkIdle())
            emit lineReady();
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
        if (t < m_stallGraceUntil)
            return;
        // What came of the reply is shown before the give-up, not lost with it.
        const QByteArray partial = m_framer.unfinished();
        // A plain board answers the identification request with an ordinary reply, and the
        // watchdog is what ends its detection: that is the detection's outcome, not a board
        // that does not respond.
        const bool plainAnswer = Detecting() && partial.size() == kReplySize;
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
        m_framer.giveUp(m_newEvents);
        countChanged();
        m_line = Line::LateQuiet;
        m_lateQuietFrom = t;
        m_lastProgress = t;
        giveUpWaits(!plainAnswer);
        m_detecting = false;
        handleEvents();
        armFramerTimer();
        m_comm->setReadThreshold(1);
        return;
    }
    if (!LinkIdle() && t - m_lastProgress > kWatchdogTimeout.count()) {
        // The line never gets quiet enough for a request: as good as no answer.
        purgeInput();
        m_lastProgress = t;
        m_line = Line::Lost;
        giveUpWaits();
    }
}

void BoardLink::giveUpWaits(bool report)
{
    if (report)
        emit statusChanged(tr("The board does not respond."),
                           tr("Please check the cable and power."));
    m_boardActive = false;
    ++m_giveUps;
}

void BoardLink::endAllWaits()
{
    ++m_closeCount;
    for (Exchange &x : m_exchanges)
        finish(x.request, false);
    m_exchanges.clear();
    m_events.clear();
    m_newEvents.clear();
    m_framer.clear();
    m_framerTimer->stop();
    m_awaitingDirectReply = false;
    m_detecting = false;
    m_boardActive = false;
    m_line = Line::InStep;
}

void BoardLink::purgeInput()
{
    const int pending = m_comm->inQueueCount();
    m_comm->PurgeInput();
    if (pending > 0) {
        emit traffic(LinkTraffic{
            false, TrafficKind::Purged, {}, now(), DiscardReason::None, fineNow(), pending, {}});
    }
}

void BoardLink::note(bool sent, TrafficKind kind, const QByteArray &bytes, DiscardReason reason,
                     const QByteArray &request, TrafficOrigin origin)
{
    emit traffic(LinkTraffic{sent, kind, bytes, now(), reason, fineNow(), 0, request, origin});
}

} // namespace kvx
