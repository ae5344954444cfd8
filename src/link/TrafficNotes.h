#pragma once

// What the link tells of its line as it goes: an event for the traffic view for each frame
// written, taken or thrown away, and the counts of what it threw away. The link and its
// exchanges note here; the link hands both signals on as its own. User-interface thread.

#include "link/LinkTraffic.h"

#include <QLoggingCategory>
#include <QObject>

#include <cstdint>
#include <functional>

namespace kvx {

Q_DECLARE_LOGGING_CATEGORY(lcLink)

class TrafficNotes : public QObject
{
    Q_OBJECT

public:
    // The link's clocks, milliseconds and microseconds; they may be replaced meanwhile.
    TrafficNotes(const std::function<std::int64_t()> &clock,
                 const std::function<std::int64_t()> &fineClock, QObject *parent = nullptr);

    void note(bool sent, TrafficKind kind, const QByteArray &bytes,
              DiscardReason reason = DiscardReason::None, const QByteArray &request = {},
              int exchange = -1, TrafficOrigin origin = TrafficOrigin::Own);
    // `count` received bytes were thrown away unread.
    void purged(int count);
    // Bytes that came in the watchdog's quiet after a give-up.
    void late(const QByteArray &bytes);
    // Bytes that answered no request, thrown away for `reason`.
    void stray(const QByteArray &bytes, DiscardReason reason);

    [[nodiscard]] LinkCounters &counters() { return m_counters; }
    [[nodiscard]] const LinkCounters &counters() const { return m_counters; }
    void countChanged() { emit countersChanged(m_counters); }

signals:
    void traffic(const kvx::LinkTraffic &event);
    void countersChanged(const kvx::LinkCounters &counters);

private:
    const std::function<std::int64_t()> &m_clock;
    const std::function<std::int64_t()> &m_fineClock;
    LinkCounters m_counters;
};

} // namespace kvx
