#pragma once

// A line to a simulated board inside the program, for the board link: the board, the USB
// adapter between it and the host (handing bytes over only at the ticks of its windows, in
// either direction; windows that vary and begin wherever they happen to, not with the
// requests) and the host, which hears of received bytes some time after the system has them,
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
        Micros rxWindow{0};  // the adapter hands received bytes to the host at its ticks; 0: at once
        Micros txWindow{0};  // and puts the host's bytes on the line at its ticks
        Micros hostDelay{0}; // the host hears of received bytes up to this much later, at random
        std::uint32_t seed = 1;
        // Each window up to this much shorter or longer (less than half a window).
        Micros windowJitter{0};
        // The host stands still for `stall` at the start of every `stallEvery` (a busy
        // machine, a hypervisor): it hears of nothing and wakes for no timer meanwhile.
        Micros stallEvery{0};
        Micros stall{0};
    };

    SimulatedTransport(const BoardOptions &board, const Line &line, QObject *parent = nullptr);

    [[nodiscard]] SimulatedBoard &board() { return m_board; }
    [[nodiscard]] const Line &line() const { return m_line; }
    [[nodiscard]] Micros now() const { return m_now; }
    // The first moment at or after `t` at which the host runs.
    [[nodiscard]] Micros awake(Micros t) const;
    // When something next happens on the line (a hand-over, the host hearing of bytes).
    [[nodiscard]] std::optional<Micros> nextEvent() const;
    // Runs everything due up to `t`, in order; bytesReady is emitted at the time the host
    // hears of bytes, with the clock standing there.
    void advanceTo(Micros t);
    // The adapter is unplugged: writes fail, nothing more comes.
    void close() { m_open = false; }
    // Bytes as if a board had sent them, reaching the host now (for tests that play the board
    // byte by byte).
    void inject(const QByteArray &bytes);
    // Everything the host has written, in order (the probe, start-up sequences, requests).
    [[nodiscard]] const QByteArray &written() const { return m_written; }
    void clearWritten() { m_written.clear(); }

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
    [[nodiscard]] quint64 lineErrors() const override { return m_damaged; }

private:
    // The adapter's next tick at or after `t`, in windows of `window` starting at `phase`.
    [[nodiscard]] Micros tick(Micros t, Micros window, Micros phase) const;
    [[nodiscard]] std::optional<Micros> nextDelivery() const;
    void deliver(Micros at);
    // The host will hear of what waits, a random delay after `at`.
    void hearFrom(Micros at);
    void notifyIfDue();

    SimulatedBoard m_board;
    Line m_line;
    std::mt19937 m_random;
    Micros m_rxPhase{0};
    Micros m_txPhase{0};
    Micros m_now{0};
    bool m_open = true;
    int m_threshold = 1;
    quint64 m_damaged = 0;
    std::deque<std::pair<Micros, QByteArray>> m_toBoard; // written, put on the line at .first
    QByteArray m_received;                               // the system's receive queue
    QByteArray m_written;
    std::optional<Micros> m_hearAt; // when the host hears of it
};

} // namespace kvx::sim
