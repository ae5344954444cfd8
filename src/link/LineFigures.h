#pragma once

// What the line and the board have shown of their timing, learned from exchanges whose replies
// were trusted: how long after a request could have left the line its reply's first byte was
// there, at the least and at the most. That one figure covers the board's turnaround, an
// adapter that hands bytes over in windows and a host that hears of them late; the reply
// framer takes the lengths of its quiets and the bounds of its rules from it.
//
// The figures only ever come from observations, and a byte is never seen before it came: the
// longest figure may be too long (a quiet waits longer than needed), never too short by more
// than a window the line has not yet shown. Until enough exchanges were seen, and whenever
// the line shows a longer figure, the rules are on the safe side at once; they move towards
// the figures seen only as old exchanges age out.
//
// Pure; times in microseconds.

#include <algorithm>
#include <array>
#include <cstdint>

namespace kvx {

class LineFigures
{
public:
    using Micros = std::int64_t;

    // Exchanges remembered, and how many must have been seen before the figures count.
    static constexpr int kRemembered = 64;
    static constexpr int kEnough = 8;
    // Exchanges whose longest figure a checkpoint's quiet keeps allowing for. A host that
    // wakes late now and then makes a reply look late, once; a line whose bytes really come
    // that late shows it again (an adapter's windows spread its figures up to the window).
    static constexpr int kRecent = 16;
    // Assumed until the line has shown its own: an adapter's usual latency timer.
    static constexpr Micros kSafeLatency = 16'000;
    // A reply later than this is the board's stall, not a figure of the line.
    static constexpr Micros kLatencyCap = 120'000;
    // Bytes can reach the program a little after the system has them.
    static constexpr Micros kMargin = 1'000;

    explicit LineFigures(Micros byteTime = 521);

    void setByteTime(Micros byteTime) { m_byteTime = byteTime; }
    [[nodiscard]] Micros byteTime() const { return m_byteTime; }
    // Whether the peer sits behind a line at byteTime(); a program on a pseudo-terminal that
    // writes its replies whole does not, and the times a line needs then count for nothing.
    void setPaced(bool paced) { m_paced = paced; }
    [[nodiscard]] bool paced() const { return m_paced; }

    // A new line, or a rule found the figures wrong: the safe side until the line shows its
    // figures again.
    void reset();
    // A trusted exchange whose reply's first byte was there `latency` after its request's last
    // byte. False, and nothing learned, when it was later than any line: a stalled board.
    bool add(Micros latency);
    // The shortest figure was wrong (a reply came sooner): no rule relies on it any more.
    void forgetShortest();
    // A reply came `latency` late, later than the longest figure allowed, and was not taken:
    // should the board have become slower, the rules allow as much until a reply comes in the
    // board's usual time again; a stall's late reply is not the board's new pace, and the next
    // one is held to the usual figure once more.
    void widen(Micros latency);

    // A reply of `bytes`, one of the first ones, came in `reads` parts, the last `span` after
    // the first, while the program was woken for every byte: how the line hands bytes over.
    // Windows that split a reply of four in three parts, two characters' time apart or more,
    // are shorter than three characters (the reply's bytes span three). Where most of the
    // first kEnough replies came so, a tail is seen within a few characters, and the quiets
    // need not allow for a window that began with the request. A busy host's reads that run
    // bytes together only keep the windows.
    void delivered(int bytes, int reads, Micros span);
    // The program is woken for every byte from now on: delivered() counts.
    void watchDelivery() { m_watching = true; }
    // Enough replies were seen to tell; from then on the program may be woken for whole
    // replies only.
    [[nodiscard]] bool deliveryJudged() const { return m_deliverySeen >= kEnough; }
    [[nodiscard]] bool byteByByte() const
    {
        return deliveryJudged() && m_byteByByteSeen >= kEnough - 2;
    }

    // A reply taken and not yet trusted showed `latency`: the rules allow for it at once.
    // Negative: it shows nothing.
    void hold(Micros latency) { m_held = std::max(m_held, std::min(latency, kLatencyCap)); }
    // The held replies were trusted (and added) or thrown away.
    void release() { m_held = 0; }

    [[nodiscard]] bool known() const { return m_total >= kEnough; }
    // Figures as the rules use them: the shortest is 0 until known, the longest at least the
    // safe assumption until known.
    [[nodiscard]] Micros shortest() const;
    [[nodiscard]] Micros longest() const;
    // What nine exchanges in ten showed at the most: the line's usual figure, which a host's
    // rare late wake-up does not move (the rules' bounds take the longest).
    [[nodiscard]] Micros usual() const { return m_usual; }
    // The figure a checkpoint's quiet allows for: the longest of the last kRecent exchanges and
    // at least the usual one; where known() is false, or the line has just shown a longer one,
    // the longest.
    [[nodiscard]] Micros recent() const;

    // How long after a reply's last byte a byte still on its way (its tail, a stray right
    // behind it, an adapter's next window) has certainly reached the program.
    [[nodiscard]] Micros tailQuiet(int frameBytes) const;
    // After an anomaly: long enough also for a reply the board had queued behind a late one.
    [[nodiscard]] Micros probationQuiet(int frameBytes, int replyBytes) const;
    // When, after a request of `frameBytes` went out, its reply's first byte can be there at
    // the earliest by the line alone, and by this board as it has shown itself.
    [[nodiscard]] Micros lineEarliest(int frameBytes) const;
    [[nodiscard]] Micros boardEarliest(int frameBytes) const;
    // When, after a request went out, a reply that has not begun is later than this board
    // answers.
    [[nodiscard]] Micros overdueAfter(int frameBytes) const;
    // How long a reply that stopped part of the way may still complete: its remaining bytes
    // and one delivery.
    [[nodiscard]] Micros partialGap(int remainingBytes, int frameBytes) const;
    // How old a held reply may grow before it must be trusted or thrown away: longer where
    // each proof costs more of the line, so that proofs cost a few percent of it.
    [[nodiscard]] Micros freshness(int frameBytes) const;
    // Another exchange at its longest and a checkpoint's quiet after it: how long before a
    // held reply grows too old its proof must begin.
    [[nodiscard]] Micros proofCost(int frameBytes) const;

    // How long an adapter can hold a byte before the program sees it, as far as the line has
    // shown: the longest figure, plus the request's own time for an adapter whose windows
    // start with the requests.
    [[nodiscard]] Micros deliveryBound(int frameBytes) const;
    // A character's time where the line paces the bytes, 0 where a program writes them.
    [[nodiscard]] Micros lineByte() const { return m_paced ? m_byteTime : 0; }

private:
    // What a quiet allows beyond the figure for the line's windows: one that began with the
    // request, or a few characters on a line that hands bytes over one by one.
    [[nodiscard]] Micros windowAllowance(int frameBytes) const;
    // The tail quiet for the longest figure remembered.
    [[nodiscard]] Micros longQuiet(int frameBytes) const;
    // The least or most of the figures remembered, of those seen since exchange `since`.
    [[nodiscard]] Micros extreme(std::int64_t since, bool most) const;

    Micros m_byteTime;
    bool m_paced = true;
    std::array<Micros, kRemembered> m_seen{};
    std::int64_t m_total = 0;        // exchanges seen since reset; the last kRemembered kept
    std::int64_t m_shortestFrom = 0; // the shortest figure counts only from this exchange on
    Micros m_widened = 0; // the longest figure is at least this, until a reply in the usual time
    Micros m_held = 0;
    // usual(), worked out as each figure comes: every reply's rules ask for it several times.
    Micros m_usual = 0;
    bool m_watching = false;
    int m_deliverySeen = 0;   // replies read a byte at a time, of the first kEnough
    int m_byteByByteSeen = 0; // of them, those that came byte by byte
};

} // namespace kvx
