#pragma once

// The path from the main window to the KVX310: frames each Datagram for the attached board
// variant, sends it over the serial-port component, takes the 4-byte replies by their exact
// count, keeps one request outstanding at a time, resynchronises and identifies the board, and
// gives up on a request after 2000 ms. Holds the link state; the window reacts through the
// hooks. User-interface thread only; the clock is injectable so that tests control time.

#include "chip/Datagram.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

class QTimer;

namespace kvx {

class TCustomComm32;
class BoardLink;

enum class BoardVariant
{
    Plain,
    Korve,
    Pentar,
};

// Pauses polling for the lifetime of the object, after the outstanding poll reply has come;
// only the outermost pause resumes it.
class [[nodiscard]] PollPause
{
public:
    explicit PollPause(BoardLink &link);
    ~PollPause();
    PollPause(const PollPause &) = delete;
    PollPause &operator=(const PollPause &) = delete;

private:
    BoardLink &m_link;
    bool m_wasEnabled;
};

class BoardLink : public QObject
{
    Q_OBJECT

public:
    using Clock = std::function<std::int64_t()>; // monotonic milliseconds, 64 bits

    static constexpr std::chrono::milliseconds kWatchdogTimeout{2000};
    // A stalled device never empties its transmit queue; the wait for it ends here.
    static constexpr std::chrono::milliseconds kTransmitDrainTimeout{2000};
    // The KORVE firmware needs these pauses after each part of its start-up sequence.
    static constexpr std::chrono::milliseconds kKorvePause{15};
    static constexpr int kProbeZeroCount = 128;
    static constexpr int kReplySize = 4;
    static constexpr int kIdentificationSize = 10;

    explicit BoardLink(TCustomComm32 &comm, QObject *parent = nullptr);
    ~BoardLink() override;

    void setClock(Clock clock) { m_clock = std::move(clock); }
    [[nodiscard]] std::int64_t now() const { return m_clock(); }

    // Link state.
    bool PollingEnabled = true;
    bool LinkIdle = true;
    bool AwaitingDirectReply = false;
    bool Detecting = false;
    bool BoardActive = false;
    bool KorveBoard = false;
    bool PentarBoard = false;
    std::int64_t LastSendTick = 0;
    Reply LastReply;

    // The request frame of the identified variant.
    [[nodiscard]] QByteArray frame(const Datagram &d) const;
    // Waits for an empty transmit queue and writes the frame; false when it could not be sent
    // (the user has then been told "Send error!"). Touches no link state.
    bool SendDatagram(const Datagram &d);
    // Sends one Datagram and waits for its own reply, which it returns and also leaves in
    // LastReply; nothing when polling is not paused, the board did not answer within the
    // watchdog's time, or the port closed meanwhile.
    std::optional<Reply> DirectRequest(const Datagram &d);
    [[nodiscard]] PollPause PausePolling() { return PollPause(*this); }

    void StartDetection();
    void InitKorveBoard();
    void Comm32RxChar(QObject *sender, int count);
    // Gives up on the outstanding request once it is older than the watchdog's time.
    void Watchdog();
    // The port has closed or is lost: every wait ends at once, unanswered.
    void EndAllWaits();

    // Hooks to the window.
    std::function<bool()> SlowSpi; // "Use Slow SPI" is ticked
    std::function<void(const Reply &)> OnPollReply;
    std::function<void()> OnAdvancePollRow;
    std::function<void()> OnReplyTaken; // the link has just become idle after a reply
    std::function<void(const QString &, const QString &)> OnStatus;
    std::function<void(BoardVariant)> OnIdentified; // KORVE or Pentar board identified
    std::function<void()> OnSendError;

private:
    friend class PollPause;

    struct Request
    {
        bool done = false;
        bool answered = false;
        Reply reply;
    };

    // The one place that waits by processing events; true when `done` became true, false when
    // the port closed first.
    bool waitFor(const std::function<bool()> &done);
    bool waitForEmptyTransmitQueue();
    void writeRaw(const QByteArray &bytes);
    void finishRequest(bool answered, const Reply &reply = {});

    TCustomComm32 &m_comm;
    Clock m_clock;
    Request *m_outstanding = nullptr; // the direct request whose reply is awaited
    quint64 m_closeCount = 0;         // bumped by EndAllWaits; waits started before it end
    int m_waitDepth = 0;
    QTimer *m_waitGuard = nullptr;
};

} // namespace kvx
