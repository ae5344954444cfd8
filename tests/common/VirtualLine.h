#pragma once

// A board session on a simulated line, in virtual time: the line's events (hand-overs, the
// host hearing of bytes), the reply framer's deadlines and the poll tick each run at their own
// instant of a clock that only this driver moves, so that minutes of traffic on any line take
// a fraction of a second and come out the same on every run and every machine.

#include "session/BoardSession.h"
#include "sim/SimulatedTransport.h"

#include <QTimer>

#include <functional>

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
    [[nodiscard]] Micros nextTick() const;

    BoardSession &m_session;
    sim::SimulatedTransport m_transport;
    QTimer m_pump; // steps the line while a command waits
    Micros m_framerServiced{-1};
    Micros m_tickRun{-1};
};

} // namespace kvx
