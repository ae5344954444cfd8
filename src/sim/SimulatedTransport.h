#pragma once

// A line to a simulated board inside the program, for the board link: the board, the USB
// adapter between it and the host (handing bytes over only at its ticks, in either
// direction) and the host, which hears of received bytes some time after the system has them,
// as a busy machine does. Everything runs on a clock that the owner moves (advanceTo), so that
// the link's rules can be tried on any such line exactly and in virtual time. Implements the
// link's byte transport. No I/O, no clock of its own; user-interface thread.

#include "link/ByteTransport.h"
#include "sim/SimulatedBoard.h"

#include <QByteArray>

#include <deque>
#include <optional>
#include <random>

namespace kvx::sim {

class SimulatedTransport : public ByteTransport
{
    Q_OBJECT

public:
    struct Line
    {
        Micros rxWindow{
            0}; // the adapter hands received bytes to the host at these ticks; 0: at once
        Micros txWindow{0};  // and puts the host's bytes on the line at these ticks
        Micros hostDelay{0}; // the host hears of received bytes up to this much later, at random
        std::uint32_t seed = 1;
    };

    SimulatedTransport(const BoardOptions &board, const Line &line, QObject *parent = nullptr);

    [[nodiscard]] SimulatedBoard &board() { return m_board; }
    [[nodiscard]] Micros now() const { return m_now; }
    // When something next happens on the line (a hand-over, the host hearing of bytes).
    [[nodiscard]] std::optional<Micros> nextEvent() const;
    // Runs everything due up to `t`, in order; bytesReady is emitted at the time the host
    // hears of bytes, with the clock standing there.
    void advanceTo(Micros t);
    // The adapter is unplugged: writes fail, nothing more comes.
    void close() { m_open = false; }

    [[nodiscard]] bool Connected() const override { return m_open; }
    int WriteBytes(const void *buffer, int count) override;
    int ReadBytes(void *buffer, int count) override;
    int OutQueueCount() override { return 0; } // the adapter takes what is written at once
    int inQueueCount() override { return int(m_received.size()); }
    void PurgeInput() override { m_received.clear(); }
    void PurgeOutput() override { m_toBoard.clear(); }
    void setReadThreshold(int bytes) override;
    [[nodiscard]] int readThreshold() const override { return m_threshold; }
    [[nodiscard]] double characterTime() const override;
    [[nodiscard]] bool pacedLine() const override { return m_board.options().lineTiming; }

private:
    // The adapter's next tick at or after `t`.
    [[nodiscard]] static Micros tick(Micros t, Micros window);
    [[nodiscard]] std::optional<Micros> nextDelivery() const;
    void deliver(Micros at);
    // The host will hear of what waits, a random delay after `at`.
    void hearFrom(Micros at);
    void notifyIfDue();

    SimulatedBoard m_board;
    Line m_line;
    std::mt19937 m_random;
    Micros m_now{0};
    bool m_open = true;
    int m_threshold = 1;
    std::deque<std::pair<Micros, QByteArray>> m_toBoard; // written, put on the line at .first
    QByteArray m_received;                               // the system's receive queue
    std::optional<Micros> m_hearAt;                      // when the host hears of it
};

} // namespace kvx::sim
