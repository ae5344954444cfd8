#include "link/TrafficNotes.h"

namespace kvx {

// Everything the link writes, takes and throws away, and its state, for a developer who
// switches it on (QT_LOGGING_RULES="kvx.link.debug=true"); the traffic view is the user's.
Q_LOGGING_CATEGORY(lcLink, "kvx.link", QtWarningMsg)

TrafficNotes::TrafficNotes(const std::function<std::int64_t()> &clock,
                           const std::function<std::int64_t()> &fineClock, QObject *parent)
    : QObject(parent)
    , m_clock(clock)
    , m_fineClock(fineClock)
{}

void TrafficNotes::note(bool sent, TrafficKind kind, const QByteArray &bytes, DiscardReason reason,
                        const QByteArray &request, int exchange, TrafficOrigin origin)
{
    qCDebug(lcLink) << m_fineClock() << (sent ? "out" : "in") << int(kind) << bytes.toHex(' ')
                    << "reason" << int(reason) << "exchange" << exchange;
    emit traffic(LinkTraffic{sent, kind, bytes, m_clock(), reason, m_fineClock(), 0, request,
                             exchange, origin});
}

void TrafficNotes::purged(int count)
{
    LinkTraffic purged;
    purged.sent = false;
    purged.kind = TrafficKind::Purged;
    purged.time = m_clock();
    purged.micros = m_fineClock();
    purged.purged = count;
    emit traffic(purged);
}

void TrafficNotes::late(const QByteArray &bytes)
{
    m_counters.lateBytes += quint64(bytes.size());
    note(false, TrafficKind::Discarded, bytes, DiscardReason::Late);
    countChanged();
}

void TrafficNotes::stray(const QByteArray &bytes, DiscardReason reason)
{
    m_counters.strayBytes += quint64(bytes.size());
    if (reason != DiscardReason::Resync)
        ++m_counters.resyncs;
    note(false, TrafficKind::Discarded, bytes, reason);
    countChanged();
}

} // namespace kvx
