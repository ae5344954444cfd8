#include "link/Exchanges.h"

#include <algorithm>
#include <utility>

namespace kvx {

namespace {

Reply replyOf(const QByteArray &bytes)
{
    return Reply{std::uint8_t(bytes[0]),
                 {std::uint8_t(bytes[1]), std::uint8_t(bytes[2]), std::uint8_t(bytes[3])}};
}

} // namespace

Exchanges::Exchanges(CommandQueue &commands, BoardDetection &detection, TrafficNotes &notes,
                     const std::function<std::int64_t()> &fineClock,
                     std::function<bool()> mayAskAgain, QObject *parent)
    : QObject(parent)
    , m_commands(commands)
    , m_detection(detection)
    , m_notes(notes)
    , m_fineClock(fineClock)
    , m_mayAskAgain(std::move(mayAskAgain))
{}

ReplyFramer::Request Exchanges::prepare(Exchange &x, bool identifying, const QByteArray &frame)
{
    x.id = m_serial++;
    x.identification = identifying;
    x.afterGiveUp = !x.identification && std::exchange(m_afterGiveUp, false);
    x.frame = frame;
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
    return r;
}

std::optional<Exchanges::Exchange> Exchanges::resolve(int id)
{
    const auto it = std::find_if(m_exchanges.begin(), m_exchanges.end(),
                                 [id](const Exchange &x) { return x.id == id; });
    if (it == m_exchanges.end())
        return std::nullopt;
    Exchange x = std::move(*it);
    m_exchanges.erase(it);
    return x;
}

void Exchanges::committed(int id)
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
            if (const BoardVariant v = m_detection.identified(x.bytes, m_fineClock());
                v != BoardVariant::Plain)
                emit identified(v);
        } else {
            m_replySentAt = x.sentAt;
            m_replyExchange = x.id;
            // A cycle whose first reply was lost starts with its first reply shown; one whose
            // every reply was lost is no cycle at all.
            if (std::exchange(m_cycleStartOwed, false))
                emit pollCycleStart();
            emit pollReply(x.row, x.reply);
        }
    }
    emit answered();
}

void Exchanges::unused(const Exchange &x)
{
    // A board that stalls may lose what it is sent meanwhile and then send its late answer
    // into the next request's time, where no rule of time can tell it apart: the first reply
    // after a give-up is not used. A read is asked again (not counted as a retry: it was
    // answered), a poll's row waits for the next cycle.
    untrusted(x, DiscardReason::AfterGiveUp);
    m_cycleStartOwed = m_cycleStartOwed || x.startsCycle;
    if (x.request && !x.request->done) {
        m_commands.askAgain(x.request, false);
        ++m_notes.counters().askedAgain;
    }
    m_notes.countChanged();
}

void Exchanges::taken(const ReplyFramer::Event &event)
{
    for (Exchange &x : m_exchanges) {
        if (x.id != event.id)
            continue;
        x.taken = true;
        x.bytes = event.bytes;
        x.reply = replyOf(event.bytes);
        // Shown where it came, right after its request; should the line lose step before it
        // is trusted, an untrusted reply follows it.
        m_notes.note(false,
                     x.identification                ? TrafficKind::Identification
                     : x.kind == TrafficKind::Direct ? TrafficKind::Direct
                                                     : TrafficKind::Poll,
                     x.bytes, DiscardReason::None, x.frame, x.id, x.origin);
        // A write's reply is not used: the command goes on at once, and what becomes of the
        // reply later is no longer its business.
        if (x.request && !x.request->waitForTrust) {
            m_commands.finish(std::exchange(x.request, nullptr), true, x.reply);
        }
        emit replyTaken(x.identification);
        return;
    }
}

void Exchanges::dropped(int id)
{
    const std::optional<Exchange> resolved = resolve(id);
    if (!resolved)
        return;
    const Exchange &x = *resolved;
    m_cycleStartOwed = m_cycleStartOwed || x.startsCycle;
    m_afterGiveUp = m_afterGiveUp || x.afterGiveUp;
    if (x.taken) {
        untrusted(x, DiscardReason::Untrusted);
        m_notes.countChanged();
    }
    // A read changes nothing on the board: one whose reply was lost, or could not be trusted,
    // is asked again (after the watchdog's quiet, if it was the watchdog's). A write never
    // is: written twice, it could start a move twice or clear a flag raised meanwhile.
    const CommandQueue::Handle &r = x.request;
    if (r && !r->done && isReadAddress(x.datagram.address) && r->retries < kReadRetries &&
        m_mayAskAgain()) {
        m_commands.askAgain(r);
        ++m_notes.counters().askedAgain;
        m_notes.countChanged();
    } else {
        m_commands.finish(r, false);
    }
    if (x.identification && m_detection.probeAgain())
        emit probeAgain();
}

void Exchanges::untrusted(const Exchange &x, DiscardReason reason)
{
    ++m_notes.counters().untrustedReplies;
    m_notes.note(false, TrafficKind::Discarded, x.bytes, reason, x.frame, x.id, x.origin);
}

void Exchanges::givenUp(const QByteArray &partial, bool plainAnswer)
{
    if (plainAnswer) {
        const auto x = std::find_if(m_exchanges.begin(), m_exchanges.end(),
                                    [](const Exchange &e) { return e.identification; });
        m_notes.note(false, TrafficKind::Identification, partial, DiscardReason::None,
                     x == m_exchanges.end() ? QByteArray() : x->frame);
    } else {
        // The next reply may be this request's, late: see committed().
        m_afterGiveUp = m_exchanges.empty() || !m_exchanges.back().identification;
        if (!partial.isEmpty())
            m_notes.note(false, TrafficKind::Discarded, partial, DiscardReason::Unfinished);
        m_notes.note(false, TrafficKind::Unanswered, {});
        ++m_notes.counters().unanswered;
    }
}

void Exchanges::endCommands()
{
    for (Exchange &x : m_exchanges)
        m_commands.finish(std::exchange(x.request, nullptr), false);
    m_commands.endAll();
}

void Exchanges::clear()
{
    m_exchanges.clear();
    m_cycleStartOwed = false;
    m_afterGiveUp = false;
}

} // namespace kvx
