#include "link/LinkWatchdog.h"

#include <algorithm>
#include <cstdlib>

namespace kvx {

namespace {

using namespace std::chrono_literals;
// A watchdog that runs this much past its time finds a host that was asleep, and gives the
// events that waited meanwhile this long to run before it gives a request up.
constexpr auto kHostStall = 100ms;
constexpr auto kStallGrace = 20ms;

} // namespace

LinkWatchdog::Verdict LinkWatchdog::check(std::int64_t now, const Line &line)
{
    const std::int64_t timeout = kTimeout.count();
    if (m_drainSince && now - *m_drainSince > timeout) {
        m_drainSince.reset();
        return Verdict::DrainStalled;
    }
    if (m_lateQuietFrom) {
        if (now - *m_lateQuietFrom < kLateQuiet.count()) {
            if (now - m_lastProgress <= timeout)
                return Verdict::InLateQuiet;
            m_lastProgress = now;
            return Verdict::NeverQuiet;
        }
        m_lateQuietFrom.reset();
        m_lastProgress = now;
        return Verdict::LateQuietOver;
    }
    if (line.outstanding) {
        // A 64-bit monotonic count: the 32-bit tick of old wrapped after 49.7 days and then
        // fired without cause.
        return std::abs(now - m_lastSend) <= timeout ? Verdict::None : Verdict::Overdue;
    }
    if (!line.idle && !line.detecting && now - m_lastProgress > timeout) {
        m_lastProgress = now;
        return Verdict::NeverQuiet;
    }
    return Verdict::None;
}

bool LinkWatchdog::giveUpNow(std::int64_t now)
{
    // A host that was asleep well past the deadline has not yet run what came meanwhile (a
    // board in this very thread has not even answered): it looks again once that has had its
    // turn, rather than blame the board for its own stall.
    const std::int64_t due = m_lastSend + kTimeout.count() + 1;
    if (now - due > kHostStall.count() && m_stallGraceUntil < due) {
        m_stallGraceUntil = now + kStallGrace.count();
        return false;
    }
    return now >= m_stallGraceUntil;
}

std::int64_t LinkWatchdog::nextCheck(bool outstanding) const
{
    if (m_drainSince)
        return *m_drainSince + kTimeout.count() + 1;
    if (m_lateQuietFrom)
        return *m_lateQuietFrom + kLateQuiet.count();
    if (outstanding)
        return std::max(m_lastSend + kTimeout.count() + 1, m_stallGraceUntil);
    return m_lastProgress + kTimeout.count() + 1;
}

void LinkWatchdog::draining(std::int64_t now)
{
    if (!m_drainSince)
        m_drainSince = now;
}

void LinkWatchdog::reset(std::int64_t now)
{
    clear();
    m_lastProgress = now;
}

void LinkWatchdog::clear()
{
    m_lateQuietFrom.reset();
    m_drainSince.reset();
}

} // namespace kvx
