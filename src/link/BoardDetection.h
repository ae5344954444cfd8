#pragma once

// The bytes a board expects apart from its requests: the resynchronisation probe written right
// after the port opens, the reading of the identification that a KORVE or Pentar board sends
// in answer to the first request after it (probed again when it could not be trusted), and the
// KORVE start-up sequence that answers that identification, with the pauses its firmware needs,
// timed rather than slept through: the board link looks at nextDeadline() with its own clock and
// runs advance() then, and sends nothing while a sequence is busy. User-interface thread.

#include "link/ByteTransport.h"

#include <QByteArray>
#include <QObject>

#include <chrono>
#include <cstdint>
#include <optional>

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
    // How often a detection whose identification could not be trusted is probed again.
    static constexpr int kExtraProbes = 2;
    // The KORVE firmware needs these pauses after each part of its start-up sequence.
    static constexpr std::chrono::milliseconds kKorvePause{15};

    enum class Kind
    {
        Probe,
        StartUp,
    };

    explicit BoardDetection(ByteTransport &line, QObject *parent = nullptr);
    void setTransport(ByteTransport &line) { m_line = &line; }

    // The probe is written, and the next request's reply is the identification: false when
    // the device took none of the probe.
    bool start();
    // The identification request's reply came: what it names is the variant from now on, and
    // a KORVE board's start-up begins at `now`.
    BoardVariant identified(const QByteArray &bytes, std::int64_t now);
    // The identification request went unanswered or untrusted: true when it is probed again.
    bool probeAgain();
    void stopIdentifying() { m_identifying = false; }
    // A new poll start: a detection may be probed again kExtraProbes times.
    void resetProbes() { m_probesLeft = kExtraProbes; }
    // The identification is outstanding, or the probe awaits it.
    [[nodiscard]] bool identifying() const { return m_identifying; }
    [[nodiscard]] BoardVariant variant() const { return m_variant; }
    // A plain board's answer to the identification request (four bytes that begin no
    // identification) ends the detection as soon as the line falls quiet after it, rather than
    // at the watchdog. For programs that run one command and end.
    void setQuick(bool quick) { m_quick = quick; }
    [[nodiscard]] bool endsQuickly(const QByteArray &unfinished) const;

    // The probe: 128 zero bytes, then 0xFF. They are written at once, and the line carries
    // them back to back, as it would each one once the one before had left. False when the
    // device took none of them.
    bool sendProbe();
    // " 0132", then 0x22 0x00 0x00, each followed by the firmware's pause; finished() once the
    // second pause has passed. Times are microseconds on the link's fine clock.
    void startKorveStartUp(std::int64_t now);
    // When advance() next has something to do.
    [[nodiscard]] std::optional<std::int64_t> nextDeadline() const;
    void advance(std::int64_t now);
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

    ByteTransport *m_line;
    bool m_identifying = false;
    bool m_quick = false;
    int m_probesLeft = 0;
    BoardVariant m_variant = BoardVariant::Plain;
    Step m_step = Step::Idle;
    std::int64_t m_due = 0;
};

} // namespace kvx
