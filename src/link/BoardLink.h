#pragma once

// The path to the KVX310: frames each Datagram for the attached board variant and sends it
// over a byte transport (LinkSender), the serial-port component or a simulated line;
// resynchronises and identifies the board (BoardDetection), and gives up on a request after
// 2000 ms (LinkWatchdog). Which bytes answer which request is decided by the ReplyFramer: a
// reply is used only once it is sure to answer its own request; Exchanges then decides what
// becomes of each request sent.
//
// One state and one queue: commands put their requests in the CommandQueue, and advance()
// alone decides what goes out next; when the queue is empty and polling is enabled it asks
// the poll source. A read whose reply was lost is asked again, up to twice; a write never is.
// DirectRequest and PausePolling are the blocking fronts over the queue, and the only places
// that wait by processing events (LinkWaits). User-interface thread only; both clocks are
// injectable so that tests control time.

#include "link/BoardDetection.h"
#include "link/ByteTransport.h"
#include "link/CommandQueue.h"
#include "link/Exchanges.h"
#include "link/LinkReceiver.h"
#include "link/LinkSender.h"
#include "link/LinkTraffic.h"
#include "link/LinkWaits.h"
#include "link/LinkWatchdog.h"
#include "link/PollSource.h"
#include "link/TrafficNotes.h"

#include <QObject>

namespace kvx {

class BoardLink : public QObject, public RequestChannel, private LinkReceiver::Owner
{
    Q_OBJECT

public:
    using Clock = std::function<std::int64_t()>;     // monotonic milliseconds, 64 bits
    using FineClock = std::function<std::int64_t()>; // monotonic microseconds

    enum class State
    {
        Closed,
        Detecting,     // the probe, the identification or the KORVE start-up under way
        Idle,          // the next request may go out
        AwaitingReply, // a request is outstanding
        Quiet,         // the line is held quiet: a checkpoint, a resync, the watchdog's quiet
        Lost,          // the line never fell quiet: commands end at once until it does
    };

    static constexpr std::chrono::milliseconds kWatchdogTimeout = LinkWatchdog::kTimeout;
    static constexpr std::chrono::milliseconds kLateQuiet = LinkWatchdog::kLateQuiet;
    static constexpr int kReplySize = Exchanges::kReplySize;
    static constexpr int kIdentificationSize = Exchanges::kIdentificationSize;
    static constexpr int kReadRetries = Exchanges::kReadRetries;

    explicit BoardLink(ByteTransport &line, QObject *parent = nullptr);
    ~BoardLink() override;

    // The line the link talks over from now on (the port is closed: nothing is outstanding).
    void setTransport(ByteTransport &line);
    [[nodiscard]] ByteTransport &transport() const { return *m_comm; }
    void setClock(Clock clock) { m_clock = std::move(clock); }
    void setFineClock(FineClock clock) { m_fineClock = std::move(clock); }
    [[nodiscard]] std::int64_t now() const { return m_clock(); }
    [[nodiscard]] std::int64_t fineNow() const { return m_fineClock(); }
    void setPollSource(PollSource *source) { m_polls = source; }

    [[nodiscard]] State state() const { return m_state; }
    [[nodiscard]] bool PollingEnabled() const { return m_pollingEnabled; }
    // The next request may go out: none is outstanding and the line is in step and quiet.
    [[nodiscard]] bool LinkIdle() const { return m_state == State::Idle; }
    [[nodiscard]] bool requestOutstanding() const { return m_framer.outstanding(); }
    [[nodiscard]] bool AwaitingDirectReply() const;
    // The identification handshake is running: a 10-byte reply is expected.
    [[nodiscard]] bool Detecting() const { return m_detection.identifying(); }
    [[nodiscard]] bool BoardActive() const { return m_boardActive; }
    [[nodiscard]] BoardState boardState() const { return m_boardState; }
    [[nodiscard]] BoardVariant variant() const { return m_detection.variant(); }
    [[nodiscard]] bool KorveBoard() const { return variant() == BoardVariant::Korve; }
    [[nodiscard]] bool PentarBoard() const { return variant() == BoardVariant::Pentar; }
    // The framer's view of the line, for tests and whoever measures it.
    [[nodiscard]] const ReplyFramer &framer() const { return m_framer; }
    [[nodiscard]] std::int64_t LastSendTick() const { return m_watchdog.lastSend(); }
    [[nodiscard]] const Reply &LastReply() const { return m_lastReply; }
    [[nodiscard]] const LinkCounters &counters() const { return m_notes.counters(); }
    // While pollReply is emitted: when the request it answers went out, on the fine clock, and
    // its number since the open. A host that handles replies late hands several over at once;
    // their requests went out at the line's pace, one after another.
    [[nodiscard]] std::int64_t replySentAt() const { return m_exchanges.replySentAt(); }
    [[nodiscard]] int replyExchange() const { return m_exchanges.replyExchange(); }
    // When the watchdog next has something to decide, on the link's clock.
    [[nodiscard]] std::int64_t nextWatchdogCheck() const;
    // When the framer next has something to decide, on the fine clock; serviceFramer() then
    // lets it. The link's own timer does so; a caller that moves the clocks itself may too.
    [[nodiscard]] std::optional<std::int64_t> nextFramerDeadline() const
    {
        return m_receiver.nextDeadline();
    }
    void serviceFramer() { m_receiver.service(); }

    // See BoardDetection::setQuick; the windows keep the detection as boards have always seen.
    void setQuickDetection(bool quick) { m_detection.setQuick(quick); }
    // "Use Slow SPI": KORVE frames start with "!" while it is ticked.
    void setSlowSpi(bool slow) { m_sender.setSlowSpi(slow); }

    // The request frame of the identified variant.
    [[nodiscard]] QByteArray frame(const Datagram &d) const { return m_sender.frame(d); }
    // Writes the frame of `d` on an empty transmit queue; false when it could not be written
    // (sendError has then been raised). Touches no link state: the frame belongs to no
    // exchange, and its traffic event names none.
    bool SendDatagram(const Datagram &d, TrafficKind kind = TrafficKind::Direct,
                      TrafficOrigin origin = TrafficOrigin::Own);
    // Sends one Datagram and waits for its own reply, which it returns and also leaves in
    // LastReply; nothing when polling is not paused, the board did not answer, the reply could
    // not be trusted (a read: three times), or the port closed meanwhile. A read returns once
    // its reply is trusted; a write as soon as its reply has come in whole.
    std::optional<Reply> DirectRequest(const Datagram &d) override;
    [[nodiscard]] PollPause PausePolling() { return PollPause(*this); }
    // Sends the datagrams one after another, each as soon as the line allows (before the reply
    // to the one before is trusted, as polling does), and waits for every reply: trusted for a
    // read, or for any request when `showsReplies`; a write's as soon as it has come in whole.
    // Stops sending at the first exchange without its reply.
    Batch directRequests(std::span<const Datagram> datagrams,
                         const std::function<void(int done)> &progress = {},
                         bool showsReplies = false) override;
    // Whose the requests of the next DirectRequest or directRequests are; that call takes it
    // over at its start, so that a command run within its wait is the program's own again.
    void setNextOrigin(TrafficOrigin origin) { m_nextOrigin = origin; }

    // Right after the port opened: sends the probe and starts detection.
    void StartDetection();
    // After detection has started: nothing outstanding, polling enabled, the board not yet
    // active, the counts at zero; the first poll request (row 0) goes out at once.
    void beginPolling();
    void Comm32RxChar(QObject *, int count) { m_receiver.receive(count); }
    // Gives up on the outstanding request once it is older than the watchdog's time, ends the
    // quiet after it, and gives up on a line that never gets quiet.
    void watchdog();
    // The one place that sends: a single command's request, else a transfer's next row, else
    // the next poll, whenever the line is free.
    void advance();
    // The port has closed or is lost: every wait ends at once, unanswered.
    void endAllWaits();

signals:
    void stateChanged(kvx::BoardLink::State state);
    void boardStateChanged(kvx::BoardState state);
    void identified(kvx::BoardVariant variant); // KORVE or Pentar board identified
    void sendError();
    // A trusted reply to the poll request of `row`.
    void pollReply(int row, const kvx::Reply &reply);
    // A poll request sent with `startsCycle` has been answered, or given up and another reply
    // of its cycle is about to be shown; replies to earlier requests have all come before. A
    // cycle none of whose replies could be shown has none.
    void pollCycleStart();
    // A reply has come in whole (it is used only once trusted); `identification` tells that
    // it was the reply taken while detecting, after which polling starts again at row 0.
    void replyTaken(bool identification);
    void traffic(const kvx::LinkTraffic &event);
    void countersChanged(const kvx::LinkCounters &counters);

private:
    friend class PollPause;

    // Moves the state on from what the framer, the detection and the watchdog say.
    void settle();
    void startExchange(Exchanges::Exchange exchange);
    bool discards(const QByteArray &bytes) override;
    void judged(std::int64_t t, ReplyFramer::Events &events) override;
    void handle(const ReplyFramer::Event &event) override;
    void eventsHandled() override { settle(); }
    void inputDone() override { advance(); }
    void setBoardState(BoardState state);
    // Ends the waits of commands; `report`: tells that the board does not respond.
    void giveUpWaits(bool report = true);
    void giveUpRequest(std::int64_t t);
    void lineLost();
    // Purges the receive queue, telling the traffic view how many bytes went unread.
    void purgeInput();

    ByteTransport *m_comm;
    Clock m_clock;
    FineClock m_fineClock;
    PollSource *m_polls = nullptr;
    BoardDetection m_detection;
    LinkReceiver m_receiver;
    ReplyFramer &m_framer;
    LinkWatchdog m_watchdog;
    CommandQueue m_commands;
    TrafficNotes m_notes;
    Exchanges m_exchanges;
    LinkSender m_sender;
    LinkWaits m_waits;
    TrafficOrigin m_nextOrigin = TrafficOrigin::Own;

    State m_state = State::Closed;
    bool m_pollingEnabled = true;
    bool m_boardActive = false;
    BoardState m_boardState = BoardState::Closed;
    bool m_lost = false; // the line never fell quiet
    Reply m_lastReply;
    bool m_advancing = false;
    quint64 m_giveUps = 0; // bumped when the watchdog gives up; waiting commands end
};

} // namespace kvx
