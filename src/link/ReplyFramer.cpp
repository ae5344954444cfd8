#include "link/ReplyFramer.h"

#include <algorithm>

namespace kvx {

ReplyFramer::ReplyFramer()
    : ReplyFramer(Timing{})
{}

ReplyFramer::ReplyFramer(Timing timing)
    : m_timing(timing)
{}

bool ReplyFramer::ready() const
{
    return m_line == Line::Ready && !m_current &&
           std::none_of(m_held.begin(), m_held.end(), [](const Held &h) { return h.holdLine; });
}

bool ReplyFramer::onLine() const
{
    return m_lineReplies >= kLineEvidence;
}

bool ReplyFramer::paced() const
{
    return m_pacedReplies >= kPaceEvidence;
}

ReplyFramer::Micros ReplyFramer::earliest(int frameBytes) const
{
    // The request's bytes and the reply's first byte, each a whole character on the line; a
    // tenth off for clocks that round.
    return (frameBytes + 1) * m_timing.byteTime * 9 / 10;
}

qsizetype ReplyFramer::allowed(const Current &c, Micros t) const
{
    const Micros since = t - c.sentAt - earliest(c.request.frameBytes);
    if (since < 0)
        return 0;
    return qsizetype(since / std::max<Micros>(m_timing.byteTime, 1)) + 1;
}

void ReplyFramer::sent(const Request &request, Micros t)
{
    m_current = Current{request, t, onLine(), paced(), true, false, {}, 0, 0};
}

int ReplyFramer::gatherable() const
{
    if (m_line != Line::Ready || !m_current || !m_current->request.gather ||
        m_current->request.expectNothing || m_current->bytes.isEmpty())
        return 1;
    return int(std::max<qsizetype>(1, m_current->request.replyBytes - m_current->bytes.size()));
}

bool ReplyFramer::gatheredAtPace(qsizetype n, int gathered, Micros gap) const
{
    if (gathered <= 1 || n != gathered)
        return false;
    const Micros byteTime = std::max<Micros>(m_timing.byteTime, 1);
    return gap >= (n - 1) * byteTime * 9 / 10 && gap <= (n + 1) * byteTime;
}

void ReplyFramer::received(const QByteArray &bytes, Micros t, Events &out, int gathered)
{
    if (bytes.isEmpty())
        return;
    m_lastByteAt = t;
    if (m_line == Line::Resync) {
        out.push_back({EventType::Discarded, -1, bytes, Reason::Resync});
        m_quietFrom = t;
        return;
    }
    if (!m_current || m_current->request.expectNothing) {
        // Nothing was asked: a stray, the tail of a reply already taken, or a reply the board
        // had queued, come during a checkpoint.
        loseStep(bytes, Reason::Stray, t, out);
        return;
    }
    Current &c = *m_current;
    // A gathered read can only follow a byte read on its own: the first byte's time is what
    // tells a stray or a reply's tail from this reply.
    const bool gatheredRest =
        !c.bytes.isEmpty() && gatheredAtPace(bytes.size(), gathered, t - c.lastAt);
    if (c.bytes.isEmpty())
        c.firstAt = t;
    c.bytes += bytes;
    c.lastAt = t;
    if (bytes.size() > 1 && !gatheredRest)
        c.batched = true;
    if (c.bytes.size() > allowed(c, t))
        c.keptPace = false;
    // Seen late, a byte only looks later: sooner than a line allows, it was sooner still.
    const bool tooSoon = c.early && c.firstAt < c.sentAt + earliest(c.request.frameBytes);
    if ((tooSoon || (c.paced && !c.keptPace)) && !m_timing.pacedLine) {
        // A program on a pseudo-terminal that seemed to sit behind a line only answered late
        // because the host was slow: it is a fast peer again, and its reply is trusted after
        // a quiet, not thrown away.
        m_lineReplies = 0;
        m_pacedReplies = 0;
        c.early = false;
        c.paced = false;
        c.keptPace = true;
    } else if (tooSoon || (c.paced && !c.keptPace)) {
        if (!c.keptPace)
            m_pacedReplies = 0;
        loseStep(c.bytes, Reason::Early, t, out);
        return;
    }
    if (c.bytes.size() > c.request.replyBytes) {
        loseStep(c.bytes, Reason::Excess, t, out);
    } else if (c.bytes.size() == c.request.replyBytes) {
        take(t, out);
    }
}

void ReplyFramer::take(Micros t, Events &out)
{
    const Current c = *m_current;
    m_current.reset();
    out.push_back({EventType::Taken, c.request.id, c.bytes, Reason::None});
    // Sooner than any line: a program that writes its replies whole, such as a board on a
    // pseudo-terminal. No sooner than a line allows, however it was read: a board behind one.
    m_lastFast = c.firstAt - c.sentAt < earliest(c.request.frameBytes);
    m_lineReplies = m_lastFast ? 0 : std::min(m_lineReplies + 1, kLineEvidence);
    // A byte at a time, each no sooner than a line allows: no adapter gathers the bytes, and a
    // short quiet shows that nothing more is on its way. A reply read in one batch may come
    // from an adapter (or a host that read late): until the pace shows again, a checkpoint
    // must outlast an adapter's batches.
    if (!c.keptPace || c.batched)
        m_pacedReplies = 0;
    else
        m_pacedReplies = std::min(m_pacedReplies + 1, kPaceEvidence);
    m_held.push_back({c.request.id, t, c.request.holdLine});
    if (c.request.holdLine || m_probation > 0 || !onLine() || checkpointDue(t))
        startCheckpoint(t);
    else
        out.push_back({EventType::Ready, -1, {}, Reason::None});
}

ReplyFramer::Micros ReplyFramer::checkpointQuiet() const
{
    if (m_lastFast && !onLine())
        return m_timing.gap;
    return paced() ? m_timing.pacedQuiet : m_timing.batchQuiet;
}

bool ReplyFramer::checkpointDue(Micros t) const
{
    if (m_held.empty())
        return false;
    const int most = paced() ? m_timing.pacedCheckpointEvery : m_timing.batchCheckpointEvery;
    return qsizetype(m_held.size()) >= most || t - m_held.front().at >= m_timing.checkpointAge;
}

void ReplyFramer::startCheckpoint(Micros t)
{
    m_line = Line::Checkpoint;
    m_quietFrom = t;
    m_quietLength = checkpointQuiet();
}

void ReplyFramer::loseStep(QByteArray bytes, Reason reason, Micros t, Events &out)
{
    out.push_back({EventType::Discarded, -1, std::move(bytes), reason});
    // Oldest first, as the requests went out.
    for (const Held &h : m_held)
        out.push_back({EventType::Dropped, h.id, {}, reason});
    m_held.clear();
    if (m_current) {
        out.push_back({EventType::Dropped, m_current->request.id, {}, reason});
        m_current.reset();
    }
    m_line = Line::Resync;
    m_quietFrom = t;
    m_probation = kProbation;
}

void ReplyFramer::becomeReady(Events &out)
{
    if (ready())
        out.push_back({EventType::Ready, -1, {}, Reason::None});
}

void ReplyFramer::advance(Micros t, Events &out)
{
    if (m_current && !m_current->request.mayBeShort && !m_current->bytes.isEmpty() &&
        t - m_current->lastAt >= unfinishedAfter()) {
        loseStep(m_current->bytes, Reason::Unfinished, t, out);
    }
    // The line quiet for the checkpoint's time (held for it, or between two replies): every
    // reply held is in step. The caller looks only when nothing waits to be read.
    const std::optional<Micros> quietAt = quietCheckpointAt();
    const bool checkpoint = (m_line == Line::Checkpoint && t - m_quietFrom >= m_quietLength) ||
                            (quietAt && t - m_lastByteAt >= checkpointQuiet());
    if (checkpoint) {
        for (const Held &h : m_held)
            out.push_back({EventType::Committed, h.id, {}, Reason::None});
        m_held.clear();
        if (m_line == Line::Checkpoint) {
            if (m_probation > 0)
                --m_probation;
            m_line = Line::Ready;
            becomeReady(out);
        }
    } else if (m_line == Line::Resync && t - m_quietFrom >= m_timing.resync) {
        m_line = Line::Ready;
        becomeReady(out);
    }
}

std::optional<ReplyFramer::Micros> ReplyFramer::nextDeadline() const
{
    std::optional<Micros> next;
    auto consider = [&next](Micros at) { next = next ? std::min(*next, at) : at; };
    if (m_current && !m_current->request.mayBeShort && !m_current->bytes.isEmpty())
        consider(m_current->lastAt + unfinishedAfter());
    if (m_line == Line::Checkpoint)
        consider(m_quietFrom + m_quietLength);
    else if (m_line == Line::Resync)
        consider(m_quietFrom + m_timing.resync);
    else if (const std::optional<Micros> at = quietCheckpointAt())
        consider(*at);
    return next;
}

std::optional<ReplyFramer::Micros> ReplyFramer::quietCheckpointAt() const
{
    // Bytes of the next reply already come: the quiet before them cannot be told from a tail
    // read late.
    if (m_line != Line::Ready || m_held.empty() || (m_current && !m_current->bytes.isEmpty()))
        return std::nullopt;
    const Micros quiet = checkpointQuiet();
    // With no request outstanding nothing else would wake the program anyway.
    const bool eager = !m_current || qsizetype(m_held.size()) >= m_timing.eagerCheckpointAt;
    return m_lastByteAt + (eager ? quiet : std::max(quiet, m_timing.lazyCheckpoint));
}

void ReplyFramer::endShort(Micros t, Events &out)
{
    if (m_current && m_current->request.mayBeShort && !m_current->bytes.isEmpty())
        take(t, out);
}

void ReplyFramer::giveUp(Events &out)
{
    for (const Held &h : m_held)
        out.push_back({EventType::Dropped, h.id, {}, Reason::None});
    m_held.clear();
    if (m_current) {
        out.push_back({EventType::Dropped, m_current->request.id, {}, Reason::None});
        m_current.reset();
    }
    m_line = Line::Ready;
    m_probation = kProbation;
}

void ReplyFramer::clear()
{
    m_current.reset();
    m_held.clear();
    m_line = Line::Ready;
    m_lineReplies = 0;
    m_pacedReplies = 0;
    m_lastFast = false;
    m_probation = 0;
    m_quietFrom = 0;
    m_quietLength = 0;
    m_lastByteAt = 0;
}

} // namespace kvx
