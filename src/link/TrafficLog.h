#pragma once

// The link's traffic as the traffic view keeps it: a ring of the newest events, each small
// enough that a full ring costs a few megabytes. A reply keeps the request it answers, so that
// it can be decoded on its own, and the probe's 128 zeros and its 0xFF make one event.
// Pure data; user-interface thread only (a copy may be read on any thread).

#include "link/BoardLink.h"

#include <QByteArray>

#include <array>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

namespace kvx {

struct TrafficEvent
{
    std::int64_t micros = 0; // since the port was opened
    bool sent = true;
    TrafficKind kind = TrafficKind::Poll;
    DiscardReason reason = DiscardReason::None;
    int purged = 0;
    // For a reply (taken, or whole but untrusted): the frame of the request it answers.
    QByteArray request;
    QByteArray bytes;
    TrafficOrigin origin = TrafficOrigin::Own;
};

class TrafficLog
{
public:
    static constexpr std::size_t kCapacity = 100'000;

    explicit TrafficLog(std::size_t capacity = kCapacity);

    // Times count from here on; what is kept stays.
    void restartClock(std::int64_t micros) { m_origin = micros; }
    void append(const LinkTraffic &t);
    void clear();

    [[nodiscard]] std::size_t size() const { return m_size; }
    // Event i, 0 being the oldest kept.
    [[nodiscard]] TrafficEvent at(std::size_t i) const;
    // How many events were ever appended; with size() it tells which are new since a look.
    [[nodiscard]] std::uint64_t total() const { return m_total; }

private:
    // Bytes up to this length live in the slot; longer ones (probes, floods) in m_long.
    static constexpr int kShort = 12;
    struct Slot
    {
        std::int64_t micros = 0;
        std::uint64_t serial = 0;
        std::int32_t purged = 0;
        TrafficKind kind = TrafficKind::Poll;
        DiscardReason reason = DiscardReason::None;
        bool sent = true;
        TrafficOrigin origin = TrafficOrigin::Own;
        std::int8_t length = 0; // -1: in m_long
        std::int8_t requestLength = 0;
        std::array<char, kShort> bytes{};
        std::array<char, 6> request{};
    };

    [[nodiscard]] std::size_t index(std::size_t i) const { return (m_first + i) % m_slots.size(); }
    void store(Slot &slot, const QByteArray &bytes);
    [[nodiscard]] QByteArray bytesOf(const Slot &slot) const;

    std::size_t m_capacity;
    std::vector<Slot> m_slots;
    std::size_t m_first = 0;
    std::size_t m_size = 0;
    std::uint64_t m_total = 0;
    std::int64_t m_origin = 0;
    std::unordered_map<std::uint64_t, QByteArray> m_long; // by serial
};

} // namespace kvx
