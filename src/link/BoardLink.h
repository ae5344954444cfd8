#pragma once

// The path to the KVX310: frames each Datagram for the attached board variant, sends it over
// a byte transport (the serial-port component, or a simulated line), keeps one request
// outstanding at a time, resynchronises and identifies the board (BoardDetection), and gives
// up on a request after 2000 ms. Which bytes answer which request is decided by the
// ReplyFramer: a reply is used only once it is sure to answer its own request, and bytes that
// answer none are counted and thrown away. Sole owner and writer of the link state; everyone
// else reads it and listens to the signals. User-interface thread only; both clocks are
// injectable so that tests control time.

#include "chip/Datagram.h"
#include "link/BoardDetection.h"
#include "link/ByteTransport.h"
#include "link/DiscardReason.h"
#include "link/ReplyFramer.h"
#include "link/RequestChannel.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <vector>

class QTimer;

namespace kvx {

class BoardLink;

// What travelled on the link, for anyone who shows or counts the traffic.
enum class TrafficKind
{
    Probe,          // the resynchronisation bytes sent after opening
    StartUp,        // the KORVE start-up sequence
    Poll,           // a poll request or its reply
    Direct,         // a user command's request or its reply
    Identification, // the 10-byte identification taken during detection
    Discarded,      // received bytes that answered no request, or a reply not trusted
    Unanswered,     // the watchdog gave the outstanding request up (no bytes)
    Purged,         // received bytes thrown away unread when the queues were purged
};

// Who asked for a direct request: the program that holds the link, or a command-line tool
// attached to it, whose waits read as often as the poll cycle does.
enum class TrafficOrigin : std::uint8_t
{
    Own,
    Tool,
    ToolWait,
};

struct LinkTraffic
{
    bool sent = true; // written to the port; false: received
    TrafficKind kind = TrafficKind::Poll;
    QByteArray bytes;
    std::int64_t time = 0; // the link's clock, milliseconds
    DiscardReason reason = DiscardReason::None;
    std::int64_t micros = 0; // the link's fine clock
    int purged = 0;          // Purged: how many bytes (they are not read, so not known)
    QByteArray request;      // a reply's (taken or untrusted): the request frame it answers
    TrafficOrigin origin = TrafficOrigin::Own; // a direct request's, and its reply's
};

// What the link has thrown away since the port was opened.
struct LinkCounters
{
    quint64 strayBytes = 0;       // bytes that answered no request
    quint64 lateBytes = 0;        // bytes that came after the watchdog gave a request up
    quint64 untrustedReplies = 0; // whole replies dropped because the line lost step
    quint64 resyncs = 0;          // times the line was resynchronised after losing step
    quint64 unanswered = 0;       // requests the watchdog gave up

    friend bool operator==(const LinkCounters &, const LinkCounters &) = default;
};

// Pauses polling for the lifetime of the object, after the outstanding poll request has been
// answered or given up; only the outermost pause resumes it.
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

class BoardLink : public QObject, public RequestChannel
{
    Q_OBJECT

public:
    using Clock = std::function<std::int64_t()>;     // monotonic milliseconds, 64 bits
    using FineClock = std::function<std::int64_t()>; // monotonic microseconds

    static constexpr std::chrono::milliseconds kWatchdogTimeout{2000};
    // After the watchdog, the line must stay quiet this long before the next request, so that
    // a reply that comes late is not taken for the next request's.
    static constexpr std::chrono::milliseconds kLateQuiet{500};
    // How often a detection whose identification could not be trusted is probed again.
    static constexpr int kExtraProbes = 2;
    static constexpr int kReplySize = 4;
    static constexpr int kIdentificationSize = 10;

    explicit BoardLink(ByteTransport &line, QObject *parent = nullptr);
    ~BoardLink() override;

    // The line the link talks over from now on (the port is closed: nothing is outstanding).
    void setTransport(ByteTransport &line);
    [[nodiscard]] ByteTransport &transport() const { return *m_comm; }
    void setClock(Clock clock) { m_clock = std::move(clock); }
    void setFineClock(FineClock clock) { m_fineClock = std::move(clock); }
    [[nodiscard]] std::int64_t now() const { return m_clock(); }
    [[nodiscard]] std::int64_t fineNow() const { return m_fineClock(); }

    // Link state; written only here.
    [[nodiscard]] bool PollingEnabled() const { return m_pollingEnabled; }
    // The next request may go out: none is outstanding and the line is in step and quiet.
    [[nodiscard]] bool LinkIdle() const
    {
        return m_framer.ready() && m_line != Line::LateQuiet && m_line != Line::LostQuiet;
    }
    [[nodiscard]] bool requestOutstanding() const { return m_framer.outstanding(); }
    [[nodiscard]] bool AwaitingDirectReply() const { return m_awaitingDirectReply; }
    [[nodiscard]] bool Detecting() const { return m_detecting; }
    [[nodiscard]] bool BoardActive() const { return m_boardActive; }
    [[nodiscard]] BoardVariant variant() const { return m_variant; }
    [[nodiscard]] bool KorveBoard() const { return m_variant == BoardVariant::Korve; }
    [[nodiscard]] bool PentarBoard() const { return m_variant == BoardVariant::Pentar; }
    // The framer's view of the line, for tests and whoever measures it.
    [[nodiscard]] const ReplyFramer &framer() const { return m_framer; }
    [[nodiscard]] std::int64_t LastSendTick() const { return m_lastSendTick; }
    [[nodiscard]] const Reply &LastReply() const { return m_lastReply; }
    [[nodiscard]] const LinkCounters &counters() const { return m_counters; }
    // While pollReply is emitted: when the request it answers went out, on the fine clock. A
    // host that handles replies late hands several over at once; their requests went out at
    // the line's pace, one after another.
    [[nodiscard]] std::int64_t replySentAt() const { return m_replySentAt; }
    // When the watchdog next has something to decide, on the link's clock.
    [[nodiscard]] std::int64_t nextWatchdogCheck() const;
    // When the framer next has something to decide, on the fine clock; serviceFramer() then
    // lets it. The link's own timer does so; a caller that moves the clocks itself may too.
    [[nodiscard]] std::optional<std::int64_t> nextFramerDeadline() const;
    void serviceFramer();

    // A plain board's answer to the identification request ends the detection as soon as the
    // line is quiet after it, rather than at the watchdog. For programs that run one command
    // and end; the windows keep the detection as boards have always seen it.
    void setQuickDetection(bool quick) { m_quickDetection = quick; }
    // "Use Slow SPI": KORVE frames start with "!" while it is ticked.
    void setSlowSpi(bool slow) { m_slowSpi = slow; }

    // The request frame of the identified variant.
    [[nodiscard]] QByteArray frame(const Datagram &d) const;
    // Waits for an empty transmit queue and writes the frame; false when it could not be sent
    // (sendError has then been raised). Touches no link state.
    bool SendDatagram(const Datagram &d, TrafficKind kind = TrafficKind::Direct);
    // Sends the poll request of PollTable row `row` on an idle link with polling enabled; its
    // reply comes back through pollReply with the same row once it is trusted. `startsCycle`:
    // pollCycleStart comes first, in order with the replies. False when nothing was sent.
    bool pollRequest(const Datagram &d, int row, bool startsCycle = false);
    // Sends one Datagram and waits for its own reply, which it returns and also leaves in
    // LastReply; nothing when polling is not paused, the board did not answer within the
    // watchdog's time, the reply could not be trusted, or the port closed meanwhile. A read
    // returns once its reply is trusted; a write as soon as its reply has come in whole.
    std::optional<Reply> DirectRequest(const Datagram &d) override;
    [[nodiscard]] PollPause PausePolling() { return PollPause(*this); }

    // Sends the datagrams one after another, each as soon as the line allows (before the reply
    // to the one before is trusted, as polling does), and waits for every reply: trusted for a
    // read, or for any request when `showsReplies`; a write's as soon as it has come in whole,
    // as DirectRequest does. Stops sending at the first exchange without its reply: `failedAt`
    // is its index and `replies` holds the replies before it. `progress` hears of each reply
    // waited for, in order.
    Batch directRequests(std::span<const Datagram> datagrams,
                         const std::function<void(int done)> &progress = {},
                         bool showsReplies = false) override;
    // Whose the requests of the next DirectRequest or directRequests are; that call takes it
    // over at once, so that a command run within its wait is the program's own again.
    void setNextOrigin(TrafficOrigin origin) { m_nextOrigin = origin; }

    // Right after the port opened: sends the probe and starts detection.
    void StartDetection();
    // After detection has started: nothing outstanding, polling enabled, the board not yet
    // active, the counts at zero, so that the first poll request (row 0) can go out.
    void beginPolling();
    void InitKorveBoard();
    void Comm32RxChar(QObject *sender, int count);
    // Gives up on the outstanding request once it is older than the watchdog's time, ends the
    // quiet after it, and gives up on a line that never gets quiet.
    void watchdog();
    // The port has closed or is lost: every wait ends at once, unanswered.
    void endAllWaits();

signals:
    void statusChanged(const QString &first, const QString &second);
    void identified(kvx::BoardVariant variant); // KORVE or Pentar board identified
    void sendError();
    // A trusted reply to the poll request of `row`.
    void pollReply(int row, const kvx::Reply &reply);
    // A poll request sent with `startsCycle` has been answered or given up; replies to earlier
    // requests have all come before.
    void pollCycleStart();
    // A reply has come in whole (it is used only once trusted); `identification` tells that
    // it was the reply taken while detecting, after which polling starts again at row 0.
    void replyTaken(bool identification);
    // The next request may go out.
    void lineReady();
    void traffic(const kvx::LinkTraffic &event);
    void countersChanged(const kvx::LinkCounters &counters);

private:
    friend class PollPause;

    struct Request
    {
        bool waitForTrust = false; // done once the reply is trusted, not when it has come
        bool done = false;
        bool answered = false;
        Reply reply;
    };
    struct Exchange
    {
        int id = -1;
        TrafficKind kind = TrafficKind::Poll;
        int row = -1;
        bool startsCycle = false;
        bool identification = false; // sent while detecting: 10 bytes expected
        Request *request = nullptr;  // a direct request that waits for this exchange
        bool taken = false;
        QByteArray frame; // the request as written, for the traffic view
        TrafficOrigin origin = TrafficOrigin::Own;
        std::int64_t sentAt = 0; // fine clock, when the request went out
        QByteArray bytes;
        Reply reply;
    };

    enum class Line
    {
        InStep,
        LateQuiet, // after the watchdog: nothing goes out until the line has been quiet
        LostQuiet, // the same, but the line never fell quiet: commands end at once
        Lost,      // the framer never became ready: commands end at once until it does
    };

    // The one place that waits by processing events; true when `done` became true, false when
    // the port closed first.
    bool waitFor(const std::function<bool()> &done);
    // Writes a frame whose queue has been waited for; false, with sendError, when it failed.
    bool writeFrame(const QByteArray &frame, TrafficKind kind,
                    TrafficOrigin origin = TrafficOrigin::Own);
    [[nodiscard]] bool lineLost() const
    {
        return m_line == Line::Lost || m_line == Line::LostQuiet;
    }
    // Sends `d` as the next exchange, once bytes that are already waiting, in the port's
    // buffer or still in the system's, have been judged; false when the line turned out not
    // to be ready.
    bool startExchange(const Datagram &d, Exchange exchange, bool holdLine);
    void readWaiting();
    // Reads `count` bytes; `gathered`: how many the port was told to gather before it
    // reported them (1 when they were fetched without waiting).
    void receive(int count, int gathered);
    void afterInput();
    void armFramerTimer();
    void handleEvents();
    void handle(const ReplyFramer::Event &event);
    [[nodiscard]] Exchange takeExchange(int id);
    void finish(Request *request, bool answered, const Reply &reply = {});
    void identify(const QByteArray &bytes);
    void reportActive();
    // Ends the waits of commands; `report`: tells that the board does not respond.
    void giveUpWaits(bool report = true);
    // Purges the receive queue, telling the traffic view how many bytes went unread.
    void purgeInput();
    void note(bool sent, TrafficKind kind, const QByteArray &bytes,
              DiscardReason reason = DiscardReason::None, const QByteArray &request = {},
              TrafficOrigin origin = TrafficOrigin::Own);
    void countChanged() { emit countersChanged(m_counters); }

    ByteTransport *m_comm;
    Clock m_clock;
    FineClock m_fineClock;
    BoardDetection m_detection;
    ReplyFramer m_framer;
    ReplyFramer::Events m_newEvents;
    std::deque<ReplyFramer::Event> m_events; // judged, not yet handled
    std::deque<Exchange> m_exchanges;        // sent and not yet resolved, oldest first
    int m_nextId = 0;
    std::int64_t m_replySentAt = 0;
    TrafficOrigin m_nextOrigin = TrafficOrigin::Own;

    // The design's own link state; the rest is the variant and the line's state below.
    bool m_pollingEnabled = true;
    bool m_awaitingDirectReply = false;
    bool m_detecting = false;
    bool m_boardActive = false;
    bool m_slowSpi = false;
    bool m_quickDetection = false;
    BoardVariant m_variant = BoardVariant::Plain;
    Line m_line = Line::InStep;
    std::int64_t m_lastSendTick = 0;
    Reply m_lastReply;
    LinkCounters m_counters;

    std::int64_t m_lateQuietFrom = 0;
    std::int64_t m_lastProgress = 0; // last request sent or line ready, for a line never quiet
    int m_probesLeft = 0;
    std::int64_t m_stallGraceUntil = 0; // the watchdog waits for events delayed by a stall

    quint64 m_closeCount = 0; // bumped by endAllWaits; waits started before it end
    quint64 m_giveUps = 0;    // bumped when the watchdog gives up; waiting commands end
    int m_waitDepth = 0;
    // Single commands waiting for the line: a batch lets them go first, so that a Stop clicked
    // during a RAM transfer does not wait for its 64 words.
    int m_commandsWaiting = 0;
    QTimer *m_waitGuard = nullptr;
    QTimer *m_framerTimer = nullptr;
    std::int64_t m_framerTimerDue = 0; // fine clock
};

} // namespace kvx
