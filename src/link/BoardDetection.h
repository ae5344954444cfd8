#pragma once

// The bytes a board expects apart from its requests: the resynchronisation probe written right
// after the port opens, the reading of the identification that a KORVE or Pentar board sends
// in answer to the first request after it, and the KORVE start-up sequence that answers that
// identification. The board link runs them; they touch none of its state. User-interface
// thread.

#include "link/ByteTransport.h"

#include <QByteArray>

#include <chrono>
#include <functional>

namespace kvx {

enum class BoardVariant
{
    Plain,
    Korve,
    Pentar,
};

class BoardDetection
{
public:
    static constexpr int kProbeZeroCount = 128;
    // The KORVE firmware needs these pauses after each part of its start-up sequence.
    static constexpr std::chrono::milliseconds kKorvePause{15};
    // A stalled device never empties its transmit queue; the wait for it ends here.
    static constexpr std::chrono::milliseconds kTransmitDrainTimeout{2000};

    using Clock = std::function<std::int64_t()>; // milliseconds
    enum class Kind
    {
        Probe,
        StartUp,
    };
    // Told of every piece written, for the traffic view.
    using Written = std::function<void(Kind, const QByteArray &)>;

    BoardDetection(ByteTransport &line, Clock clock, Written written);
    void setTransport(ByteTransport &line) { m_line = &line; }

    // Waits until the transmit queue is empty, at most kTransmitDrainTimeout; false when it
    // never empties.
    bool waitForEmptyTransmitQueue();
    // The probe: 128 zero bytes, each once the one before has left, then 0xFF. False when the
    // device stalled (the rest of the zeros is not written).
    bool sendProbe();
    // " 0132", then 0x22 0x00 0x00, each followed by the firmware's pause.
    void sendKorveStartUp();
    // What a 10-byte identification names: "KOR" a KORVE board, "ZAP" a Pentar board, anything
    // else the plain board.
    [[nodiscard]] static BoardVariant identify(const QByteArray &identification);

private:
    void write(const QByteArray &bytes, Kind kind);

    ByteTransport *m_line;
    Clock m_clock;
    Written m_written;
};

} // namespace kvx
