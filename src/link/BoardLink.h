#pragma once

// The path to the KVX310: frames each Datagram for the attached board variant, sends it over
// the serial-port component, takes the 4-byte replies by their exact count, keeps one request
// outstanding at a time, resynchronises and identifies the board, and gives up on a request
// after 2000 ms. Sole owner and writer of the link state; everyone else reads it and listens
// to the signals. User-interface thread only; the clock is injectable so that tests control
// time.

#include "chip/Datagram.h"

#include <QByteArray>
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

// What travelled on the link, for anyone who shows or counts the traffic.
enum class TrafficKind
{
    Probe,          // the resynchronisation bytes sent after opening
    StartUp,        // the KORVE start-up sequence
    Poll,           // a poll request or its reply
    Direct,         // a user command's request or its reply
    Identification, // the 10-byte identification taken during detection
};

struct LinkTraffic
{
    bool sent = true; // written to the port; false: a reply or identification taken
    TrafficKind kind = TrafficKind::Poll;
    QByteArray bytes;
    std::int64_t time = 0; // the link's clock, milliseconds
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

    // Link state; written only here.
    [[nodiscard]] bool PollingEnabled() const { return m_pollingEnabled; }
    [[nodiscard]] bool LinkIdle() const { return m_linkIdle; }
    [[nodiscard]] bool AwaitingDirectReply() const { return m_awaitingDirectReply; }
    [[nodiscard]] bool Detecting() const { return m_detecting; }
    [[nodiscard]] bool BoardActive() const { return m_boardActive; }
    [[nodiscard]] bool KorveBoard() const { return m_korveBoard; }
    [[nodiscard]] bool PentarBoard() const { return m_pentarBoard; }
    [[nodiscard]] std::int64_t LastSendTick() const { return m_lastSendTick; }
    [[nodiscard]] const Reply &LastReply() const { return m_lastReply; }

    // "Use Slow SPI": KORVE frames start with "!" while it is ticked.
    void setSlowSpi(bool slow) { m_slowSpi = slow; }

    // The request frame of the identified variant.
    [[nodiscard]] QByteArray frame(const Datagram &d) const;
    // Waits for an empty transmit queue and writes the frame; false when it could not be sent
    // (sendError has then been raised). Touches no link state.
    bool SendDatagram(const Datagram &d, TrafficKind kind = TrafficKind::Direct);
    // Sends the poll request of PollTable row `row` on an idle link with polling enabled; the
    // reply comes back through pollReplyTaken with the same row. False when the link was busy
    // or polling is paused, and nothing was sent.
    bool PollRequest(const Datagram &d, int row);
    // Sends one Datagram and waits for its own reply, which it returns and also leaves in
    // LastReply; nothing when polling is not paused, the board did not answer within the
    // watchdog's time, or the port closed meanwhile.
    std::optional<Reply> DirectRequest(const Datagram &d);
    [[nodiscard]] PollPause PausePolling() { return PollPause(*this); }

    // Right after the port opened: sends the probe and starts detection.
    void StartDetection();
    // After detection has started: nothing outstanding, polling enabled, the board not yet
    // active, so that the first poll request (row 0) can go out.
    void BeginPolling();
    void InitKorveBoard();
    void Comm32RxChar(QObject *sender, int count);
    // Gives up on the outstanding request once it is older than the watchdog's time.
    void Watchdog();
    // The port has closed or is lost: every wait ends at once, unanswered.
    void EndAllWaits();

signals:
    void statusChanged(const QString &first, const QString &second);
    void identified(kvx::BoardVariant variant); // KORVE or Pentar board identified
    void sendError();
    // A reply to the poll request of `row`; raised before the row advances.
    void pollReplyTaken(int row, const kvx::Reply &reply);
    // The link has just become idle after taking a reply; `identification` tells that it was
    // the reply taken while detecting, after which polling starts again at row 0.
    void replyTaken(bool identification);
    void traffic(const kvx::LinkTraffic &event);

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
    void writeRaw(const QByteArray &bytes, TrafficKind kind);
    void finishRequest(bool answered, const Reply &reply = {});
    void note(bool sent, TrafficKind kind, const QByteArray &bytes);

    TCustomComm32 &m_comm;
    Clock m_clock;

    bool m_pollingEnabled = true;
    bool m_linkIdle = true;
    bool m_awaitingDirectReply = false;
    bool m_detecting = false;
    bool m_boardActive = false;
    bool m_korveBoard = false;
    bool m_pentarBoard = false;
    bool m_slowSpi = false;
    std::int64_t m_lastSendTick = 0;
    Reply m_lastReply;
    int m_pollRow = 0; // the row of the outstanding poll request

    Request *m_outstanding = nullptr; // the direct request whose reply is awaited
    quint64 m_closeCount = 0;         // bumped by EndAllWaits; waits started before it end
    int m_waitDepth = 0;
    QTimer *m_waitGuard = nullptr;
};

} // namespace kvx
