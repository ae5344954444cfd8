#pragma once

// A board session on a simulated line, in virtual time: the line's events (hand-overs, the
// host hearing of bytes), the reply framer's deadlines and the poll tick each run at their own
// instant of a clock that only this driver moves, so that minutes of traffic on any line take
// a fraction of a second and come out the same on every run and every machine. A busy host
// (the line's hostDelay) also wakes late for its timers, by up to as much, and one that stalls
// wakes for none meanwhile.

#include "session/BoardSession.h"
#include "sim/SimulatedTransport.h"

#include <QTimer>

#include <functional>
#include <random>

namespace kvx {

class VirtualLine : public QObject
{
public:
    using Micros = sim::Micros;

    VirtualLine(BoardSession &session, const sim::BoardOptions &board,
                const sim::SimulatedTransport::Line &line);
    ~VirtualLine() override;

    [[nodiscard]] sim::SimulatedTransport &transport() { return m_transport; }
    [[nodiscard]] sim::SimulatedBoard &board() { return m_transport.board(); }
    [[nodiscard]] Micros now() const { return m_transport.now(); }

    // Opens the session on the line: the probe, the detection, then polling.
    void open();
    // Lets `d` of virtual time pass.
    void runFor(Micros d);
    // Until `done` or `limit` more of virtual time; whether `done`.
    bool runUntil(const std::function<bool()> &done, Micros limit);
    // Runs a command, which waits in nested event loops, with the line moving meanwhile.
    void command(const std::function<void()> &work);

private:
    // Moves to the next thing that happens, `limit` at the latest.
    void step(Micros limit);
    [[nodiscard]] Micros nextTick();

    BoardSession &m_session;
    sim::SimulatedTransport m_transport;
    QTimer m_pump; // steps the line while a command waits
    // When the link's timer for the framer's deadline fires, and when the poll timer ticks:
    // each late by the host's delay, drawn once per deadline.
    [[nodiscard]] Micros framerDue();
    [[nodiscard]] Micros late(Micros at, Micros &drawnFor, Micros &lateBy);

    Micros m_framerServiced{-1};
    Micros m_tickRun{-1};
    std::mt19937 m_random;
    Micros m_framerDrawnFor{-1};
    Micros m_framerLateBy{0};
    Micros m_tickDrawnFor{-1};
    Micros m_tickLateBy{0};
};

} // namespace kvx
