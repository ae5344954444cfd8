#include "link/ReplyFramer.h"

#include <algorithm>

namespace kvx {

void ReplyFramer::setLine(bool paced, Micros byteTime)
{
    m_pacedLine = paced;
    m_figures.setByteTime(byteTime);
    m_figures.setPaced(paced);
}

bool ReplyFramer::ready() const
{
    if (m_current)
        return false;
    switch (m_hold) {
    case Hold::None:
        return true;
    case Hold::Checkpoint:
        return m_sendOpen;
    case Hold::Resync:
        return false;
    }
    return false;
}

void ReplyFramer::sent(const Request &request, Micros t)
{
    Current c;
    c.request = request;
    c.sentAt = t;
    // The identification follows the probe, which may still be on the line: its time is the
    // board's own business.
    c.probation = m_probation > 0 && !request.mayBeShort;
    // A program on a pseudo-terminal that has not shown a line's pace answers at once: each
    // of its replies is proved by a quiet of its own.
    c.prove = !m_figures.paced();
    m_current = c;
}

void ReplyFramer::cannotBeAnswered()
{
    if (m_current)
        m_current->request.expectNothing = true;
}

void ReplyFramer::received(const QByteArray &bytes, Micros t, Events &out)
{
    if (bytes.isEmpty())
        return;
    m_lastByteAt = t;
    if (m_hold == Hold::Resync) {
        out.push_back({EventType::Discarded, -1, bytes, Reason::Resync});
        m_holdFrom = t;
        return;
    }
    if (m_hold == Hold::Checkpoint) {
        // Nothing asked, or, behind a line, before the look: the request that went out cannot
        // have been answered yet. After the look's time and not looked at, or from a program
        // that may answer at once, the bytes may be that reply: the look proves nothing, and
        // the held replies wait for the next one.
        if (!m_current || (m_pacedLine && t < m_lookAt)) {
            loseStep(bytes, Reason::Stray, t, out);
            return;
        }
        m_hold = Hold::None;
        m_sendOpen = false;
        m_sendFrom.reset();
        m_proveAlone = true;
    }
    if (!m_current || m_current->request.expectNothing) {
        // Nothing was asked: a stray, the tail of a reply already taken, or a reply the board
        // had queued.
        loseStep(bytes, Reason::Stray, t, out);
        return;
    }
    Current &c = *m_current;
    // After an anomaly, a reply first seen after it was due whole is not proved to have come
    // in time, whether the board or the host was late: it is not taken for this request's.
    if (c.probation && c.bytes.isEmpty() && t >= replyDue(c))
        c.overdue = true;
    if (c.bytes.isEmpty())
        c.firstAt = t;
    ++c.reads;
    c.bytes += bytes;
    c.lastAt = t;
    // A reply's bytes follow one another on the line: its first was there a character earlier
    // for each of its bytes that came with it.
    const qsizetype last = std::min<qsizetype>(c.bytes.size(), c.request.replyBytes) - 1;
    const Micros firstBy = t - last * m_figures.lineByte();
    c.firstBy = c.bytes.size() == bytes.size() ? firstBy : std::min(c.firstBy, firstBy);

    const Micros since = c.firstBy - c.sentAt;
    const int frame = c.request.frameBytes;
    if (since < lineTime(frame)) {
        // Seen late, a byte only looks later: sooner than a line allows, it was sooner still.
        if (m_pacedLine) {
            loseStep(c.bytes, Reason::Early, t, out);
            return;
        }
        // A program that seemed to sit behind a line only answered late because the host was
        // slow: it is a fast peer again, and its reply is proved by a quiet of its own.
        m_lineReplies = 0;
        m_figures.setPaced(false);
        c.prove = true;
    } else if (c.probation && m_pacedLine && since < m_figures.boardEarliest(frame)) {
        // Sooner than this board answers: a reply it had queued, taken for this request's.
        m_figures.forgetShortest();
        loseStep(c.bytes, Reason::Early, t, out);
        return;
    }
    if (c.overdue) {
        // Later than this board answers, while it is under suspicion: a reply it had held back
        // while it stalled, perhaps to a request it then lost. Should the board just have
        // become slower, the next one passes.
        m_figures.widen(since - (frame + 1) * m_figures.lineByte());
        loseStep(c.bytes, Reason::Overdue, t, out);
        return;
    }
    if (c.bytes.size() > c.request.replyBytes)
        loseStep(c.bytes, Reason::Excess, t, out);
    else if (c.bytes.size() == c.request.replyBytes)
        take(t, out);
}

ReplyFramer::Micros ReplyFramer::lineTime(int frameBytes) const
{
    // The request's bytes and the reply's first byte, each a whole character on the line; a
    // tenth off for clocks that round.
    return (frameBytes + 1) * m_figures.byteTime() * 9 / 10;
}

void ReplyFramer::take(Micros t, Events &out)
{
    const Current c = *m_current;
    m_current.reset();
    out.push_back({EventType::Taken, c.request.id, c.bytes, Reason::None});
    const int frame = c.request.frameBytes;
    const Micros since = c.firstBy - c.sentAt;
    if (!m_pacedLine) {
        m_lineReplies = since >= lineTime(frame) ? std::min(m_lineReplies + 1, kLineEvidence) : 0;
        m_figures.setPaced(onLine());
    }
    Held h{c.request.id, t, -1, c.request.unseen};
    // The identification's length and pace are the board's own business. A line's clock
    // rounds: a reply right at the line's time shows no more than that.
    if (!c.request.mayBeShort) {
        h.latency = std::max<Micros>(0, since - (frame + 1) * m_figures.lineByte());
        m_figures.delivered(int(c.bytes.size()), c.reads, c.lastAt - c.firstAt);
    }
    m_figures.hold(h.latency);
    m_held.push_back(h);
    const bool alone = c.request.holdLine || c.probation || m_probation > 0 || c.prove ||
                       m_proveAlone || !m_figures.known();
    if (alone || freshnessDue(t, frame))
        startCheckpoint(t, frame, c.request.replyBytes, alone, out);
    else
        out.push_back({EventType::Ready, -1, {}, Reason::None});
}

ReplyFramer::Micros ReplyFramer::proveBy(int frameBytes) const
{
    // A transfer's replies are seen once it is trusted whole, and its progress as they are
    // trusted: they may wait longer, and proofs cost a transfer less of the line.
    Micros by = m_held.front().at + kUnseenFreshness;
    const auto seen =
        std::find_if(m_held.begin(), m_held.end(), [](const Held &h) { return !h.unseen; });
    if (seen != m_held.end())
        by = std::min(by, seen->at + m_figures.freshness(frameBytes));
    return by;
}

bool ReplyFramer::freshnessDue(Micros t, int frameBytes) const
{
    if (m_held.empty())
        return false;
    if (m_held.size() >= kHeldAtMost)
        return true;
    // Due once another exchange and its proof would make the oldest held reply too old.
    return t + m_figures.proofCost(frameBytes) >= proveBy(frameBytes);
}

void ReplyFramer::startCheckpoint(Micros t, int frameBytes, int replyBytes, bool alone, Events &out)
{
    m_hold = Hold::Checkpoint;
    m_holdFrom = t;
    m_frameBytes = frameBytes;
    m_replyBytes = replyBytes;
    m_lookAt = t + (m_probation > 0 ? m_figures.probationQuiet(frameBytes, replyBytes)
                                    : m_figures.tailQuiet(frameBytes));
    m_proveAlone = false;
    m_sendOpen = false;
    m_sendFrom.reset();
    // Behind a line the next request's reply cannot come before the line has carried it: the
    // request may go out that long before the look.
    if (!alone && m_figures.paced()) {
        m_sendFrom = m_lookAt - m_figures.lineEarliest(frameBytes);
        if (*m_sendFrom <= t) {
            m_sendOpen = true;
            out.push_back({EventType::Ready, -1, {}, Reason::None});
        }
    }
}

void ReplyFramer::commit(Events &out)
{
    const bool held = m_hold != Hold::None;
    for (const Held &h : m_held) {
        out.push_back({EventType::Committed, h.id, {}, Reason::None});
        if (h.latency >= 0)
            m_figures.add(h.latency);
    }
    m_held.clear();
    m_figures.release();
    if (m_hold == Hold::Checkpoint && m_probation > 0)
        --m_probation;
    m_hold = Hold::None;
    m_sendOpen = false;
    m_sendFrom.reset();
    // A proof by a look at a free line changes nothing for what may go out.
    if (held)
        becomeReady(out);
}

void ReplyFramer::loseStep(QByteArray bytes, Reason reason, Micros t, Events &out)
{
    out.push_back({EventType::Discarded, -1, std::move(bytes), reason});
    dropAll(reason, out);
    m_hold = Hold::Resync;
    m_holdFrom = t;
}

void ReplyFramer::dropAll(Reason reason, Events &out)
{
    // Oldest first, as the requests went out.
    for (const Held &h : m_held)
        out.push_back({EventType::Dropped, h.id, {}, reason});
    m_held.clear();
    if (m_current) {
        out.push_back({EventType::Dropped, m_current->request.id, {}, reason});
        m_current.reset();
    }
    m_figures.release();
    m_probation = kProbation;
    m_proveAlone = false;
    m_sendOpen = false;
    m_sendFrom.reset();
}

void ReplyFramer::becomeReady(Events &out)
{
    if (ready())
        out.push_back({EventType::Ready, -1, {}, Reason::None});
}

ReplyFramer::Micros ReplyFramer::resyncQuiet() const
{
    return std::max(kResync, m_figures.probationQuiet(m_frameBytes, m_replyBytes));
}

void ReplyFramer::advance(Micros t, Events &out)
{
    if (m_current) {
        Current &c = *m_current;
        if (!c.bytes.isEmpty() && c.partLooked != c.lastAt && t >= restDue(c)) {
            // The rest would have come by now: what came is not a reply. A short answer (a
            // plain board's to the identification request) is the watchdog's to end.
            c.partLooked = c.lastAt;
            c.restLooked = c.lastAt;
            if (!c.request.mayBeShort) {
                loseStep(c.bytes, Reason::Unfinished, t, out);
                return;
            }
        } else if (!c.bytes.isEmpty() && c.restLooked != c.lastAt && t >= restExpected(c)) {
            // The look has read what came; a peer a busy host paused has until restDue.
            c.restLooked = c.lastAt;
        } else if (c.bytes.isEmpty() && !c.looked && t >= replyDue(c)) {
            // Nothing by then: after an anomaly, whatever comes now is later than this board
            // answers.
            c.looked = true;
            c.overdue = c.probation;
        }
    }
    switch (m_hold) {
    case Hold::Checkpoint:
        // Nothing came up to the look: everything held is in step. Bytes of a request that
        // went out meanwhile would have ended the checkpoint when they were read.
        if (t >= m_lookAt) {
            commit(out);
        } else if (m_sendFrom && !m_sendOpen && t >= *m_sendFrom) {
            m_sendOpen = true;
            out.push_back({EventType::Ready, -1, {}, Reason::None});
        }
        return;
    case Hold::Resync:
        if (t >= m_holdFrom + resyncQuiet()) {
            m_hold = Hold::None;
            becomeReady(out);
        }
        return;
    case Hold::None:
        // The line quiet since the held replies came, and nothing of the next reply come
        // either: a look proves them.
        if (const std::optional<Micros> at = quietProofAt(); at && t >= *at)
            commit(out);
        return;
    }
}

std::optional<ReplyFramer::Micros> ReplyFramer::quietProofAt() const
{
    if (m_hold != Hold::None || m_held.empty() || (m_current && !m_current->bytes.isEmpty()))
        return std::nullopt;
    const Micros quiet = m_lastByteAt + m_figures.tailQuiet(m_frameBytes);
    // With nothing asked nothing else would wake the program; with a request out, its reply
    // usually proves them sooner, and the look is only for a board that stalls meanwhile.
    if (!m_current)
        return quiet;
    return std::max(quiet, proveBy(m_frameBytes));
}

ReplyFramer::Micros ReplyFramer::replyDue(const Current &c) const
{
    return c.sentAt + m_figures.overdueAfter(c.request.frameBytes) +
           (c.request.replyBytes - 1) * m_figures.lineByte();
}

ReplyFramer::Micros ReplyFramer::restExpected(const Current &c) const
{
    return c.lastAt +
           m_figures.partialGap(int(c.request.replyBytes - c.bytes.size()), c.request.frameBytes);
}

ReplyFramer::Micros ReplyFramer::restDue(const Current &c) const
{
    const auto remaining = int(c.request.replyBytes - c.bytes.size());
    const Micros gap = m_figures.partialGap(remaining, c.request.frameBytes);
    return c.lastAt + (m_pacedLine ? gap : std::max(gap, kPeerPause));
}

std::optional<ReplyFramer::Micros> ReplyFramer::nextDeadline() const
{
    std::optional<Micros> next;
    auto consider = [&next](Micros at) { next = next ? std::min(*next, at) : at; };
    if (m_current) {
        const Current &c = *m_current;
        if (!c.bytes.isEmpty() && c.restLooked != c.lastAt)
            consider(std::min(restExpected(c), restDue(c)));
        else if (!c.bytes.isEmpty() && c.partLooked != c.lastAt)
            consider(restDue(c));
        else if (c.bytes.isEmpty() && !c.looked && !c.request.expectNothing)
            consider(replyDue(c));
    }
    switch (m_hold) {
    case Hold::Checkpoint:
        consider(m_lookAt);
        if (m_sendFrom && !m_sendOpen)
            consider(*m_sendFrom);
        break;
    case Hold::Resync:
        consider(m_holdFrom + resyncQuiet());
        break;
    case Hold::None:
        if (const std::optional<Micros> at = quietProofAt())
            consider(*at);
        break;
    }
    return next;
}

void ReplyFramer::endShort(Micros t, Events &out)
{
    if (m_current && m_current->request.mayBeShort && !m_current->bytes.isEmpty())
        take(t, out);
}

void ReplyFramer::giveUp(Events &out)
{
    dropAll(Reason::None, out);
    m_hold = Hold::None;
}

void ReplyFramer::damaged(Micros t, Events &out)
{
    loseStep(m_current ? m_current->bytes : QByteArray(), Reason::Damaged, t, out);
}

void ReplyFramer::clear()
{
    m_current.reset();
    m_held.clear();
    m_hold = Hold::None;
    m_sendOpen = false;
    m_sendFrom.reset();
    m_proveAlone = false;
    m_lineReplies = 0;
    m_probation = 0;
    m_lastByteAt = 0;
    m_figures.reset();
    m_figures.setPaced(m_pacedLine);
}

} // namespace kvx
