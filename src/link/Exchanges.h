#pragma once

// The requests the link has sent and the framer has not yet resolved, oldest first, and what
// becomes of each once it is: a poll's reply shown, a command's request done or asked again,
// the identification handed to the detection, a reply that cannot be used thrown away. Each
// exchange holds what the traffic view shows of it. The link starts exchanges and hands the
// signals on as its own. User-interface thread.

#include "link/BoardDetection.h"
#include "link/CommandQueue.h"
#include "link/ReplyFramer.h"
#include "link/TrafficNotes.h"

#include <QObject>

#include <deque>
#include <functional>
#include <optional>

namespace kvx {

class Exchanges : public QObject
{
    Q_OBJECT

public:
    static constexpr int kReplySize = 4;
    static constexpr int kIdentificationSize = 10;
    // A command's read whose reply was lost is asked this many times more.
    static constexpr int kReadRetries = 2;

    struct Exchange
    {
        int id = -1; // the request's number since the link was made
        TrafficKind kind = TrafficKind::Poll;
        int row = -1;
        bool startsCycle = false;
        bool identification = false;  // sent while detecting: 10 bytes expected
        bool afterGiveUp = false;     // the first after a give-up: its reply is never used
        CommandQueue::Handle request; // a command that waits for this exchange
        TrafficOrigin origin = TrafficOrigin::Own;
        Datagram datagram;
        bool taken = false;
        QByteArray frame;        // the request as written, for the traffic view
        std::int64_t sentAt = 0; // fine clock, when the request went out
        QByteArray bytes;
        Reply reply;
    };

    // `mayAskAgain`: a read whose reply was lost may go out again on this line.
    Exchanges(CommandQueue &commands, BoardDetection &detection, TrafficNotes &notes,
              const std::function<std::int64_t()> &fineClock, std::function<bool()> mayAskAgain,
              QObject *parent = nullptr);

    // Readies `x` to go out as `frame`, the identification request when `identifying`: gives it
    // its number, which names it to the framer and in the traffic, and tells what the framer
    // is to expect of it.
    ReplyFramer::Request prepare(Exchange &x, bool identifying, const QByteArray &frame);
    // Keeps `x`, just sent, until the framer resolves it.
    void add(Exchange x) { m_exchanges.push_back(std::move(x)); }
    // The number of the request written last.
    [[nodiscard]] int lastSerial() const { return m_serial - 1; }
    [[nodiscard]] const Exchange *newest() const
    {
        return m_exchanges.empty() ? nullptr : &m_exchanges.back();
    }
    // The next reply may be the late one of a request given up.
    [[nodiscard]] bool afterGiveUp() const { return m_afterGiveUp; }
    // While pollReply is emitted: when its request went out, and its number.
    [[nodiscard]] std::int64_t replySentAt() const { return m_replySentAt; }
    [[nodiscard]] int replyExchange() const { return m_replyExchange; }

    // What the framer decided of the exchange of `event.id` / `id`.
    void taken(const ReplyFramer::Event &event);
    void committed(int id);
    void dropped(int id);
    // The watchdog gives up the outstanding request, of whose reply `partial` came;
    // `plainAnswer`: it was a plain board's answer to the identification request.
    void givenUp(const QByteArray &partial, bool plainAnswer);
    // Ends every command's request, queued or sent, unanswered.
    void endCommands();
    // The port has closed: nothing is outstanding, no reply is owed.
    void clear();

signals:
    void pollCycleStart();
    void pollReply(int row, const kvx::Reply &reply);
    void replyTaken(bool identification);
    void identified(kvx::BoardVariant variant);
    // The identification went unanswered or untrusted, and the detection starts again.
    void probeAgain();
    // A reply has been trusted: the board answers.
    void answered();

private:
    // The exchange of `id`, out of those outstanding.
    std::optional<Exchange> resolve(int id);
    void unused(const Exchange &x);
    void untrusted(const Exchange &x, DiscardReason reason);

    CommandQueue &m_commands;
    BoardDetection &m_detection;
    TrafficNotes &m_notes;
    const std::function<std::int64_t()> &m_fineClock;
    std::function<bool()> m_mayAskAgain;
    std::deque<Exchange> m_exchanges; // sent and not yet resolved, oldest first
    int m_serial = 0;                 // requests written
    std::int64_t m_replySentAt = 0;
    int m_replyExchange = -1;
    bool m_cycleStartOwed = false; // a cycle's first request went unanswered
    bool m_afterGiveUp = false;    // the next reply may be the late one of a request given up
};

} // namespace kvx
