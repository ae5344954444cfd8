#include "link/TrafficLog.h"

#include <algorithm>

namespace kvx {

TrafficLog::TrafficLog(std::size_t capacity)
    : m_capacity(std::max<std::size_t>(capacity, 1))
{
    // The ring grows as events come, so that a short session does not hold all of it.
}

void TrafficLog::store(Slot &slot, const QByteArray &bytes)
{
    if (bytes.size() <= kShort) {
        slot.length = std::int8_t(bytes.size());
        std::copy(bytes.begin(), bytes.end(), slot.bytes.begin());
    } else {
        slot.length = -1;
        m_long[slot.serial] = bytes;
    }
}

QByteArray TrafficLog::bytesOf(const Slot &slot) const
{
    if (slot.length >= 0)
        return QByteArray(slot.bytes.data(), slot.length);
    const auto it = m_long.find(slot.serial);
    return it == m_long.end() ? QByteArray() : it->second;
}

void TrafficLog::append(const LinkTraffic &t)
{
    // The probe is written byte by byte; its bytes make one event.
    if (t.sent && t.kind == TrafficKind::Probe && m_size > 0) {
        Slot &last = m_slots[index(m_size - 1)];
        if (last.sent && last.kind == TrafficKind::Probe) {
            store(last, bytesOf(last) + t.bytes);
            return;
        }
    }

    Slot slot;
    slot.micros = t.micros - m_origin;
    slot.serial = m_total++;
    slot.purged = t.purged;
    slot.kind = t.kind;
    slot.reason = t.reason;
    slot.sent = t.sent;
    slot.origin = t.origin;
    const QByteArray request = t.request.left(qsizetype(slot.request.size()));
    slot.requestLength = std::int8_t(request.size());
    std::copy(request.begin(), request.end(), slot.request.begin());
    store(slot, t.bytes);

    if (m_slots.size() < m_capacity) {
        m_slots.push_back(slot);
        ++m_size;
        return;
    }
    // Full: the oldest goes.
    Slot &oldest = m_slots[m_first];
    if (oldest.length < 0)
        m_long.erase(oldest.serial);
    oldest = slot;
    m_first = (m_first + 1) % m_slots.size();
}

void TrafficLog::clear()
{
    m_slots.clear();
    m_long.clear();
    m_first = 0;
    m_size = 0;
}

TrafficEvent TrafficLog::at(std::size_t i) const
{
    const Slot &slot = m_slots[index(i)];
    TrafficEvent e;
    e.micros = slot.micros;
    e.sent = slot.sent;
    e.kind = slot.kind;
    e.reason = slot.reason;
    e.purged = slot.purged;
    e.origin = slot.origin;
    e.request = QByteArray(slot.request.data(), slot.requestLength);
    e.bytes = bytesOf(slot);
    return e;
}

} // namespace kvx
