#pragma once

// The bytes a board expects apart from its requests: the resynchronisation probe written right
// after the port opens, the reading of the identification that a KORVE or Pentar board sends
// in answer to the first request after it, and the KORVE start-up sequence that answers that
// identification, with the pauses its firmware needs, timed rather than slept through. The
// board link runs them and sends nothing while one is busy. User-interface thread.

#include "link/ByteTransport.h"

#include <QByteArray>
#include <QObject>

#include <chrono>

class QTimer;

namespace kvx {

enum class BoardVariant
{
    Plain,
    Korve,
    Pentar,
};

class BoardDetection : public QObject
{
    Q_OBJECT

public:
    static constexpr int kProbeZeroCount = 128;
    // The KORVE firmware needs these pauses after each part of its start-up sequence.
    static constexpr std::chrono::milliseconds kKorvePause{15};

    enum class Kind
    {
        Probe,
        StartUp,
    };

    explicit BoardDetection(ByteTransport &line, QObject *parent = nullptr);
    void setTransport(ByteTransport &line) { m_line = &line; }

    // The probe: 128 zero bytes, then 0xFF. They are written at once, and the line carries
    // them back to back, as it would each one once the one before had left. False when the
    // device took none of them.
    bool sendProbe();
    // " 0132", then 0x22 0x00 0x00, each followed by the firmware's pause; finished() once the
    // second pause has passed.
    void startKorveStartUp();
    // The start-up sequence is under way: nothing else may be written.
    [[nodiscard]] bool busy() const;
    // The port closed: a sequence under way stops where it is.
    void cancel();
    // What a 10-byte identification names: "KOR" a KORVE board, "ZAP" a Pentar board, anything
    // else the plain board.
    [[nodiscard]] static BoardVariant identify(const QByteArray &identification);

signals:
    // Each piece as it is written, for the traffic view.
    void written(kvx::BoardDetection::Kind kind, const QByteArray &bytes);
    void finished();

private:
    enum class Step
    {
        Idle,
        HeadPause, // " 0132" written, the firmware's pause running
        TailWait,  // the pause over, waiting for the head to leave the transmit queue
        TailPause, // 0x22 0x00 0x00 written, the last pause running
    };

    bool write(const QByteArray &bytes, Kind kind);
    void step();

    ByteTransport *m_line;
    QTimer *m_timer;
    Step m_step = Step::Idle;
};

} // namespace kvx
