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

bool ReplyFramer::paced() const
{
    return m_pacedReplies >= kPaceEvidence;
}

void ReplyFramer::sent(const Request &request, Micros t)
{
    m_current = Current{request, t, paced(), true, false, {}, 0, 0};
}

int ReplyFramer::gatherable() const
{
    if (m_line == Line::Resync || !m_current || !m_current->request.gather ||
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
    if (m_line == Line::Resync) {
        out.push_back({EventType::Discarded, -1, bytes, Reason::Resync});
        m_quietFrom = t;
        return;
    }
    if (!m_current || m_current->request.expectNothing) {
        // Nothing was asked: a stray, or the tail of a reply already taken.
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
    if (c.paced && !c.keptPace) {
        // The board was faster than a line: a stray, or a board that keeps no line's pace.
        m_pacedReplies = 0;
        loseStep(c.bytes, Reason::Early, t, out);
    } else if (c.bytes.size() > c.request.replyBytes)
        loseStep(c.bytes, Reason::Excess, t, out);
    else if (c.bytes.size() == c.request.replyBytes)
        take(t, out);
}

void ReplyFramer::take(Micros t, Events &out)
{
    const Current c = *m_current;
    m_current.reset();
    out.push_back({EventType::Taken, c.request.id, c.bytes, Reason::None});
    // A byte at a time, each no sooner than a line allows: once the board keeps that pace,
    // the next request may follow at once, and any byte before its reply could come is a
    // stray.
    // A reply read in one batch says nothing against the board's pace (the host may only have
    // read late), but the quiet after it must outlast an adapter's batches.
    if (!c.keptPace)
        m_pacedReplies = 0;
    else if (!c.batched)
        m_pacedReplies = std::min(m_pacedReplies + 1, kPaceEvidence);
    m_held.push_back({c.request.id, t, c.request.holdLine});
    if (c.request.holdLine) {
        m_line = Line::Ready; // yet not ready() until the reply is trusted
    } else if (paced() && !c.batched) {
        m_line = Line::Ready;
        out.push_back({EventType::Ready, -1, {}, Reason::None});
    } else {
        // Sooner than any line: a program that writes its replies whole. Otherwise the bytes
        // may come in an adapter's batches, and the rest of this reply with the next batch.
        const bool fasterThanLine = c.firstAt - c.sentAt < earliest(c.request.frameBytes);
        m_line = Line::Gap;
        m_quietFrom = t;
        m_gapLength = fasterThanLine ? m_timing.gap : m_timing.batchQuiet;
    }
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
}

void ReplyFramer::commitDue(Micros t, Events &out)
{
    while (!m_held.empty() && t - m_held.front().lastAt >= m_timing.hold) {
        const Held h = m_held.front();
        m_held.pop_front();
        out.push_back({EventType::Committed, h.id, {}, Reason::None});
        if (h.holdLine)
            becomeReadyIfQuiet(out);
    }
}

void ReplyFramer::becomeReadyIfQuiet(Events &out)
{
    if (ready())
        out.push_back({EventType::Ready, -1, {}, Reason::None});
}

void ReplyFramer::advance(Micros t, Events &out)
{
    commitDue(t, out);
    if (m_current && !m_current->request.mayBeShort && !m_current->bytes.isEmpty() &&
        t - m_current->lastAt >= m_timing.unfinished) {
        loseStep(m_current->bytes, Reason::Unfinished, t, out);
    }
    if (m_line == Line::Gap && t - m_quietFrom >= m_gapLength) {
        m_line = Line::Ready;
        becomeReadyIfQuiet(out);
    } else if (m_line == Line::Resync && t - m_quietFrom >= m_timing.resync) {
        m_line = Line::Ready;
        becomeReadyIfQuiet(out);
    }
}

std::optional<ReplyFramer::Micros> ReplyFramer::nextDeadline(Micros commitSlack) const
{
    std::optional<Micros> next;
    auto consider = [&next](Micros at) { next = next ? std::min(*next, at) : at; };
    if (!m_held.empty())
        consider(m_held.front().lastAt + m_timing.hold + (m_current ? commitSlack : 0));
    if (m_current && !m_current->request.mayBeShort && !m_current->bytes.isEmpty())
        consider(m_current->lastAt + m_timing.unfinished);
    if (m_line == Line::Gap)
        consider(m_quietFrom + m_gapLength);
    else if (m_line == Line::Resync)
        consider(m_quietFrom + m_timing.resync);
    return next;
}

void ReplyFramer::giveUp(Events &out)
{
    for (const Held &h : m_held)
        out.push_back({EventType::Dropped, h.id, {}, Reason::GivenUp});
    m_held.clear();
    if (m_current) {
        out.push_back({EventType::Dropped, m_current->request.id, {}, Reason::GivenUp});
        m_current.reset();
    }
    m_line = Line::Ready;
}

void ReplyFramer::clear()
{
    m_current.reset();
    m_held.clear();
    m_line = Line::Ready;
    m_pacedReplies = 0;
}

} // namespace kvx
