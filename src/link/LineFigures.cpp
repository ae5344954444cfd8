#include "link/LineFigures.h"

#include <algorithm>

namespace kvx {

namespace {

// A held reply is proved within this many proofs' lengths, between these bounds: a proof
// then costs a few percent of the line, and on a line that carries a reply every few
// milliseconds fewer replies than a poll cycle's wait for one, so that a fault found by it
// costs less than a cycle.
constexpr LineFigures::Micros kFreshnessPerProof = 12;
constexpr LineFigures::Micros kFreshest = 50'000;
constexpr LineFigures::Micros kStalest = 240'000;
// A board that answers at once on a line that hands bytes over within a few milliseconds (no
// adapter, or a short latency timer): a value shown is at most about 100 ms old, even where a
// busy host made a reply or two late, whose figure the bounds keep for the next 64 exchanges;
// a host that woke 20 ms late once does not make the line an adapter's.
constexpr LineFigures::Micros kFreshOnQuickLines = 85'000;
constexpr LineFigures::Micros kQuickBoard = 2'000;
constexpr LineFigures::Micros kQuickLine = 12'000;

} // namespace

LineFigures::LineFigures(Micros byteTime)
    : m_byteTime(byteTime)
{}

void LineFigures::reset()
{
    m_total = 0;
    m_shortestFrom = 0;
    m_widened = 0;
    m_held = 0;
    m_usual = 0;
    m_watching = false;
    m_deliverySeen = 0;
    m_byteByByteSeen = 0;
}

void LineFigures::delivered(int bytes, int reads, Micros span)
{
    if (!m_watching || deliveryJudged())
        return;
    ++m_deliverySeen;
    // `reads` parts need a window shorter than (bytes - 1) / (reads - 2) characters.
    if (reads >= 3 && 3 * (reads - 2) >= bytes - 1 && span >= 2 * m_byteTime * 9 / 10)
        ++m_byteByByteSeen;
}

bool LineFigures::add(Micros latency)
{
    if (latency > kLatencyCap)
        return false;
    if (m_total > 0 && latency <= extreme(0, true))
        m_widened = 0;
    m_seen[std::size_t(m_total % kRemembered)] = std::max<Micros>(latency, 0);
    ++m_total;
    const auto n = std::size_t(std::min<std::int64_t>(m_total, kRemembered));
    std::array<Micros, kRemembered> seen = m_seen;
    const auto nth = seen.begin() + std::ptrdiff_t((n - 1) * 9 / 10);
    std::nth_element(seen.begin(), nth, seen.begin() + std::ptrdiff_t(n));
    m_usual = *nth;
    return true;
}

void LineFigures::forgetShortest()
{
    m_shortestFrom = m_total;
}

void LineFigures::widen(Micros latency)
{
    m_widened = std::min(kLatencyCap, std::max(m_widened, latency + latency / 4));
}

LineFigures::Micros LineFigures::extreme(std::int64_t since, bool most) const
{
    const std::int64_t n = std::min<std::int64_t>(m_total - since, kRemembered);
    Micros result = most ? 0 : kLatencyCap;
    for (std::int64_t i = m_total - n; i < m_total; ++i) {
        const Micros v = m_seen[std::size_t(i % kRemembered)];
        result = most ? std::max(result, v) : std::min(result, v);
    }
    return result;
}

LineFigures::Micros LineFigures::shortest() const
{
    if (m_total - m_shortestFrom < kEnough)
        return 0;
    return extreme(m_shortestFrom, false);
}

LineFigures::Micros LineFigures::longest() const
{
    Micros most = extreme(0, true);
    if (!known())
        most = std::max(most, kSafeLatency);
    return std::max({most, m_widened, m_held});
}

LineFigures::Micros LineFigures::recent() const
{
    if (!known())
        return longest();
    const Micros last = extreme(std::max<std::int64_t>(0, m_total - kRecent), true);
    return std::max({last, usual(), m_widened, m_held});
}

LineFigures::Micros LineFigures::windowAllowance(int frameBytes) const
{
    // An adapter whose windows begin as a request goes out hands the reply over a whole
    // window after the request: the figure is then the window less the request's own time. A
    // line that has shown it hands bytes over one by one has windows of three characters at
    // the most, which the quiet's character and millisecond cover with two more.
    return (byteByByte() ? 2 : frameBytes + 1) * lineByte();
}

LineFigures::Micros LineFigures::deliveryBound(int frameBytes) const
{
    return longest() + windowAllowance(frameBytes);
}

LineFigures::Micros LineFigures::longQuiet(int frameBytes) const
{
    return lineByte() + deliveryBound(frameBytes) + kMargin;
}

LineFigures::Micros LineFigures::tailQuiet(int frameBytes) const
{
    return lineByte() + recent() + windowAllowance(frameBytes) + kMargin;
}

LineFigures::Micros LineFigures::probationQuiet(int frameBytes, int replyBytes) const
{
    // The board answers a queued request at its turnaround after the reply before it; that
    // reply then comes like any other. After an anomaly every figure still remembered counts.
    return longQuiet(frameBytes) + longest() + replyBytes * lineByte();
}

LineFigures::Micros LineFigures::lineEarliest(int frameBytes) const
{
    // The request's bytes and the reply's first byte, each a whole character on the line; a
    // tenth off for clocks that round.
    return (frameBytes + 1) * lineByte() * 9 / 10;
}

LineFigures::Micros LineFigures::boardEarliest(int frameBytes) const
{
    // A board whose turnaround varies is allowed a millisecond and a tenth of its figure.
    const Micros least = shortest();
    const Micros slack = kMargin + least / 10;
    return lineEarliest(frameBytes) + std::max<Micros>(0, least - slack);
}

LineFigures::Micros LineFigures::overdueAfter(int frameBytes) const
{
    const Micros most = longest();
    return (frameBytes + 1) * lineByte() + most + most / 4 + 2 * kMargin;
}

LineFigures::Micros LineFigures::partialGap(int remainingBytes, int frameBytes) const
{
    return remainingBytes * lineByte() + deliveryBound(frameBytes) + kMargin;
}

LineFigures::Micros LineFigures::freshness(int frameBytes) const
{
    const bool quick = known() && shortest() < kQuickBoard && usual() < kQuickLine;
    const Micros stalest = quick ? kFreshOnQuickLines : kStalest;
    const Micros bound = std::clamp(kFreshnessPerProof * longQuiet(frameBytes), kFreshest, stalest);
    // Where proofs have grown long (a host that stands still now and then) a bound of a few
    // of them would have every reply proved alone: the line idle most of the time, each field
    // changing a fraction as often. Replies are held for a quiet's length at least, so that
    // proofs never take more than about half the line, and shown that much older.
    return std::max(bound, proofCost(frameBytes) + tailQuiet(frameBytes));
}

LineFigures::Micros LineFigures::proofCost(int frameBytes) const
{
    return (frameBytes + 4) * lineByte() + longest() + tailQuiet(frameBytes);
}

} // namespace kvx
