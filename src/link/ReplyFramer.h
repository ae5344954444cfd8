#pragma once

// Decides, from the bytes that arrive and when they arrive, which of them answer the request
// that is outstanding. The board's replies carry no length, checksum or delimiter, so a stray
// byte, a lost byte or a late reply would otherwise shift every reply after it onto the wrong
// request. The rules only ever reject; when unsure, the exchange counts as unanswered. Times
// the host observes are never earlier than the events, so each rule only uses them in the
// direction in which a late observation makes it more lenient, never stricter; the lengths
// come from the line's own figures (LineFigures), learned from trusted exchanges.
//
// - Count. A reply has exactly the expected number of bytes; one more is a lost step.
// - Line. Behind a real line no reply byte comes sooner than the line carries the request and
//   the byte. A program on a pseudo-terminal may answer at once: there a reply that sooner
//   only means it is a fast peer, and its replies are each proved by a quiet (below).
// - Checkpoint. A reply is trusted (committed) only once a look at the line, made long enough
//   after its last byte for anything still on its way (a tail, a stray, an adapter's next
//   window) to have come, finds nothing; a shift that keeps every reply's count and timing
//   plausible cannot pass one. Replies that follow one another at once are held and proved
//   together before the oldest is too old to show. On a line the next request may go out
//   before the look, as long as its reply cannot come before it; a look made too late to tell
//   that reply from a tail proves nothing and is made again.
// - Probation. After any anomaly (a lost step, a give-up) and until some replies have passed,
//   every reply is proved on its own, by a quiet long enough also for a reply the board had
//   queued behind a late one; and a reply that comes sooner, or later, than this board has
//   shown it answers is not taken for the request's.
// - Resync. After a lost step nothing goes out until the line has been quiet for a while.
// - Unfinished. A reply that stops part of the way is given up once its rest would have come.
//
// Pure logic: no I/O, no clock; times are microseconds on one monotonic clock, given by the
// caller. Events come out in order into the caller's list.

#include "link/DiscardReason.h"
#include "link/LineFigures.h"

#include <QByteArray>

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace kvx {

class ReplyFramer
{
public:
    using Micros = std::int64_t;
    using Reason = DiscardReason;

    // Quiet needed after a lost step, at the least.
    static constexpr Micros kResync = 20'000;
    // A program on a pseudo-terminal may be paused by its host between two bytes of a reply
    // for longer than any line leaves one: its reply is given up only after this much.
    static constexpr Micros kPeerPause = 500'000;
    // Replies each proved on their own after an anomaly: more than a poll cycle's rows, so
    // that faults that come back with every cycle still let each row be shown.
    static constexpr int kProbation = 16;
    // Replies held at most, unseen ones too: a fault found by a proof costs at most this many
    // replies asked again (a RAM transfer's words).
    static constexpr std::size_t kHeldAtMost = 64;
    // How old an unseen reply may grow before it is proved.
    static constexpr Micros kUnseenFreshness = 500'000;

    enum class EventType
    {
        Taken,     // a reply has come in whole; not to be used before it is Committed
        Committed, // the reply of `id` is trusted
        Dropped,   // the exchange `id` stays unanswered
        Discarded, // `bytes` answered no request
        Ready,     // the next request may go out
    };
    struct Event
    {
        EventType type = EventType::Ready;
        int id = -1;
        QByteArray bytes;
        Reason reason = Reason::None;
    };
    using Events = std::vector<Event>;

    struct Request
    {
        int id = -1;
        int frameBytes = 5;         // the request's length on the line
        int replyBytes = 4;         // the reply's expected length
        bool holdLine = false;      // nothing more goes out until this reply is trusted
        bool mayBeShort = false;    // the peer may send fewer bytes (no "unfinished" rule)
        bool expectNothing = false; // the request could not be written: any byte is a stray
        // Nobody sees the reply before the whole transfer it belongs to is trusted: it need not
        // be proved while it is fresh, only before the transfer ends.
        bool unseen = false;
    };

    ReplyFramer() = default;

    // Whether the peer sits behind a real line (see ByteTransport::pacedLine), and one
    // character's time on it.
    void setLine(bool paced, Micros byteTime);
    [[nodiscard]] LineFigures &figures() { return m_figures; }
    [[nodiscard]] const LineFigures &figures() const { return m_figures; }

    // A request may go out now: none outstanding, the line in step and quiet enough.
    [[nodiscard]] bool ready() const;
    // A request awaits its reply.
    [[nodiscard]] bool outstanding() const { return m_current.has_value(); }
    // Replies taken but not yet trusted.
    [[nodiscard]] std::size_t held() const { return m_held.size(); }
    // Replies still to be proved on their own after the last anomaly.
    [[nodiscard]] int probation() const { return m_probation; }
    // A program on a pseudo-terminal has shown that it sits behind a line: its replies need
    // not be proved one by one.
    [[nodiscard]] bool onLine() const { return m_lineReplies >= kLineEvidence; }

    // `request` is about to be written, at `t`: the time is taken before the write, so that a
    // host slow to write never makes a reply look early. Only while ready().
    void sent(const Request &request, Micros t);
    // The request just sent could not be written: it gets no reply, and any byte is a stray.
    void cannotBeAnswered();
    // Bytes read at `t`.
    void received(const QByteArray &bytes, Micros t, Events &out);
    // A look at the line at `t` found nothing more to read: checkpoints whose quiet has passed
    // trust what is held, a resynchronisation ends, an unfinished reply is given up.
    void advance(Micros t, Events &out);
    // When advance() next has something to decide.
    [[nodiscard]] std::optional<Micros> nextDeadline() const;
    // The reply begun to a request that may be answered short is complete as it stands: the
    // caller has seen enough of it to know that no more is coming.
    void endShort(Micros t, Events &out);
    // The owner gives up on the outstanding request (its watchdog): it and every held reply
    // are dropped, and probation starts. The line counts as ready; the owner keeps it quiet as
    // long as it sees fit.
    void giveUp(Events &out);
    // The line reported a damaged byte (a framing or parity error) at `t`: whatever is being
    // received cannot be trusted.
    void damaged(Micros t, Events &out);
    // The bytes of a reply begun and not complete (a plain board's short answer to the
    // identification, a truncated reply), for whoever shows the traffic.
    [[nodiscard]] QByteArray unfinished() const
    {
        return m_current ? m_current->bytes : QByteArray();
    }
    // The port has closed: everything is forgotten, without events; the figures too.
    void clear();

private:
    enum class Hold
    {
        None,
        Checkpoint, // a look at m_lookAt proves what is held; requests wait for m_sendFrom
        Resync,     // quiet after a lost step
    };
    struct Current
    {
        Request request;
        Micros sentAt = 0;
        QByteArray bytes;
        Micros firstBy = 0; // the first byte was there by then, on the line's pace
        Micros lastAt = 0;
        Micros firstAt = 0; // the first of its bytes was read then
        int reads = 0;      // in how many parts it was read
        bool probation = false; // sent during probation: the board's own figures hold
        bool looked = false;    // the line was looked at once the reply was due
        bool overdue = false;   // in probation, nothing had come when it should have
        bool prove = false;     // its reply is proved on its own, whatever else holds
        Micros partLooked = -1; // the part of a reply begun was looked after, as of lastAt
        Micros restLooked = -1; // its rest was looked for when a line would have carried it
    };
    struct Held
    {
        int id = -1;
        Micros at = 0;
        Micros latency = -1; // what it shows of the line, learned once it is trusted
        bool unseen = false;
    };

    // Sooner than this after a request of `frameBytes`, no reply byte can have come on a line.
    [[nodiscard]] Micros lineTime(int frameBytes) const;
    // When the reply to `c` is due whole: a look then finds what came of it, which the port
    // reports only once a whole reply is there.
    [[nodiscard]] Micros replyDue(const Current &c) const;
    // When a reply begun and not complete has had time for its rest.
    [[nodiscard]] Micros restDue(const Current &c) const;
    // When a line would have carried the rest of a reply begun: a look then reads it. The port
    // wakes the program for a whole reply only, and once part of one has been read at a look,
    // the rest alone never wakes it.
    [[nodiscard]] Micros restExpected(const Current &c) const;
    [[nodiscard]] Micros resyncQuiet() const;
    // When a look at a quiet line proves the held replies without a checkpoint of its own.
    [[nodiscard]] std::optional<Micros> quietProofAt() const;
    void take(Micros t, Events &out);
    // Starts a checkpoint after the reply just taken at `t`; `alone`: nothing goes out before
    // the look.
    void startCheckpoint(Micros t, int frameBytes, int replyBytes, bool alone, Events &out);
    void commit(Events &out);
    void loseStep(QByteArray bytes, Reason reason, Micros t, Events &out);
    // Every held reply and the outstanding request stay unanswered; probation starts.
    void dropAll(Reason reason, Events &out);
    void becomeReady(Events &out);
    [[nodiscard]] bool freshnessDue(Micros t, int frameBytes) const;
    // When what is held must have been proved, to be fresh when it is shown (some held).
    [[nodiscard]] Micros proveBy(int frameBytes) const;

    // Replies in a row no sooner than a line allows before a program on a pseudo-terminal
    // counts as behind a line; one slow answer (the host was busy) must not count.
    static constexpr int kLineEvidence = 4;

    LineFigures m_figures;
    bool m_pacedLine = true;
    Hold m_hold = Hold::None;
    Micros m_holdFrom = 0;
    Micros m_lookAt = 0;
    std::optional<Micros> m_sendFrom; // a checkpoint lets a request go out from then on
    bool m_sendOpen = false;          // and has let it
    int m_frameBytes = 5;             // the lengths of the last exchange, for the quiets
    int m_replyBytes = 4;
    bool m_proveAlone = false; // the last look could not tell: the next one holds the line
    int m_lineReplies = 0;
    int m_probation = 0;
    Micros m_lastByteAt = 0;
    std::optional<Current> m_current;
    std::deque<Held> m_held;
};

} // namespace kvx
