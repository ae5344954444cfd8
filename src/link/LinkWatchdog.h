#pragma once

// The link's clock of last resort, on its millisecond clock: gives up on a request older than
// the watchdog's time, keeps the line quiet a while after it so that a reply that comes late
// is not taken for the next request's, and tells of a line that never gets quiet and of a
// device that never takes what it is given. It decides; the link acts.

#include <chrono>
#include <cstdint>
#include <optional>

namespace kvx {

class LinkWatchdog
{
public:
    static constexpr std::chrono::milliseconds kTimeout{2000};
    static constexpr std::chrono::milliseconds kLateQuiet{500};

    enum class Verdict
    {
        None,
        DrainStalled,  // the transmit queue has not emptied within the timeout
        InLateQuiet,   // the quiet after a give-up goes on
        LateQuietOver, // the next request may go out
        Overdue,       // the outstanding request is past its time: look at what came, then
                       // ask giveUpNow()
        NeverQuiet,    // bytes keep the line busy: as good as no answer
    };

    // The link's picture of the line when it checks.
    struct Line
    {
        bool outstanding = false;
        bool idle = false;
        bool detecting = false;
    };

    [[nodiscard]] Verdict check(std::int64_t now, const Line &line);
    // After an Overdue verdict and a last look: true when the request is given up now.
    [[nodiscard]] bool giveUpNow(std::int64_t now);
    // When check() next has something to decide.
    [[nodiscard]] std::int64_t nextCheck(bool outstanding) const;

    void sent(std::int64_t now) { m_lastSend = m_lastProgress = now; }
    void progress(std::int64_t now) { m_lastProgress = now; }
    [[nodiscard]] std::int64_t lastSend() const { return m_lastSend; }
    void draining(std::int64_t now);
    void drained() { m_drainSince.reset(); }
    // A give-up, or bytes in its quiet: the quiet (re)starts.
    void startLateQuiet(std::int64_t now) { m_lateQuietFrom = now; }
    [[nodiscard]] bool inLateQuiet() const { return m_lateQuietFrom.has_value(); }
    // Polling starts: no quiet, no drain, progress now.
    void reset(std::int64_t now);
    // The port closed: no quiet, no drain (the clock may be gone with its owner).
    void clear();

private:
    std::int64_t m_lastSend = 0;
    std::int64_t m_lastProgress = 0; // last request sent or line ready
    std::int64_t m_stallGraceUntil = 0;
    std::optional<std::int64_t> m_lateQuietFrom;
    std::optional<std::int64_t> m_drainSince;
};

} // namespace kvx
