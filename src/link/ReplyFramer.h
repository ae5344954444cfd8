#pragma once

// Decides, from the bytes that arrive and when they arrive, which of them answer the request
// that is outstanding. The board's replies carry no length, checksum or delimiter, so a stray
// byte, a lost byte or a late reply would otherwise shift every reply after it onto the wrong
// request. The rules only ever reject; when unsure, the exchange counts as unanswered. Times
// the host observes are never earlier than the events, so each rule only uses them in the
// direction in which a late observation makes it more lenient, never stricter.
//
// - Count. A reply has exactly the expected number of bytes; one more is a lost step.
// - Early. Once a board has shown that it sits behind a line (its replies come no sooner than
//   a line can carry a request and a reply), a byte sooner than that after a request is a
//   stray or the tail of the reply before: on a board that has kept the line's pace a byte at
//   a time, so is any byte sooner than its place in the reply allows.
// - Pipeline. On such a line the next request follows a reply at once, whether it came byte
//   by byte or in one read: a tail byte then comes too early for the next reply, or makes one
//   byte too many.
// - Checkpoint. A reply is trusted (committed) only at a checkpoint: the line quiet since its
//   last byte long enough for any byte still on its way (a tail, a queued reply, an adapter's
//   next batch) to have arrived, as seen by a look at the line made then, not by the late
//   time of a read. A shift that keeps every reply's count and timing plausible cannot pass
//   one. On a line without an adapter the gap before the next reply is such a quiet; behind
//   an adapter the line is held for one after a command's read and after a number of
//   replies.
// - Probation. After any anomaly (a lost step, a give-up) and until the board has shown
//   that it sits behind a line, every reply is followed by a checkpoint, long enough to see a
//   reply the board had queued behind a late one.
// - Resync. After a lost step nothing goes out until the line has been quiet for a while.
// - Unfinished. A reply that stops coming part of the way through is given up after a while,
//   a longer one on a pseudo-terminal.
//
// Pure logic: no I/O, no clock; times are microseconds on one monotonic clock, given by the
// caller. Events come out in order into the caller's list.

#include "link/DiscardReason.h"

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

    struct Timing
    {
        Micros byteTime = 521; // one character on the line: 10 bits at 19200 bit/s
        // The peer sits behind a real line: a byte sooner than the line carries it cannot be
        // its reply. A pseudo-terminal's peer may answer at once, whatever it did before.
        bool pacedLine = true;
        Micros gap = 2'000;        // quiet of a checkpoint after a peer faster than any line
        Micros pacedQuiet = 2'500; // of a checkpoint on a line that delivers byte by byte
        // Of a checkpoint otherwise. An adapter hands over what it has received at least every
        // 16 ms (the longest usual latency timer), and a reply's tail reaches it within a
        // character of the reply's last byte.
        Micros batchQuiet = 17'000;
        Micros resync = 20'000;     // quiet needed after a lost step
        Micros unfinished = 50'000; // silence that ends a reply begun but not complete
        // The same on a pseudo-terminal, whose peer is a program a busy host may pause between
        // two bytes of a reply for longer than any line would.
        Micros peerUnfinished = 500'000;
        int pacedCheckpointEvery = 16;    // replies held at most, on a line byte by byte
        int batchCheckpointEvery = 64;    // and behind an adapter
        Micros checkpointAge = 1'000'000; // how long a reply is held at most
        // With a request outstanding, a quiet after a reply is looked for at once when this
        // many are held, else only once the line has been quiet this long: the look costs a
        // wake-up.
        int eagerCheckpointAt = 8;
        Micros lazyCheckpoint = 40'000;
    };

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
        bool gather = false;        // the rest of the reply may be gathered (gatherable())
    };

    ReplyFramer();
    explicit ReplyFramer(Timing timing);

    void setTiming(const Timing &timing) { m_timing = timing; }
    [[nodiscard]] const Timing &timing() const { return m_timing; }

    // A request may go out now: none outstanding, the line in step and quiet enough.
    [[nodiscard]] bool ready() const;
    // A request awaits its reply.
    [[nodiscard]] bool outstanding() const { return m_current.has_value(); }
    // Replies taken but not yet trusted.
    [[nodiscard]] std::size_t held() const { return m_held.size(); }
    // The board has shown that it sits behind a line: the early rule holds and the next
    // request follows a reply at once, outside probation.
    [[nodiscard]] bool onLine() const;
    // The board has kept the line's pace, a byte at a time, in its last replies.
    [[nodiscard]] bool paced() const;
    // Replies still to be followed by a checkpoint each after the last anomaly.
    [[nodiscard]] int probation() const { return m_probation; }

    // `request` is about to be written, at `t`: the time is taken before the write, so that a
    // host slow to write never makes a reply look early. Only while ready().
    void sent(const Request &request, Micros t);
    // The request just sent could not be written: it gets no reply, and any byte is a stray.
    void cannotBeAnswered()
    {
        if (m_current)
            m_current->request.expectNothing = true;
    }
    // Bytes read at `t`. `gathered`: how many bytes the system was told to gather before it
    // reported them (see gatherable()); 1 when each byte is reported as it comes.
    void received(const QByteArray &bytes, Micros t, Events &out, int gathered = 1);
    // How many bytes the host may let the system gather before it looks: the rest of a reply
    // that allows it once its first byte has been read on its own, 1 otherwise. The first byte's
    // time tells whether it belongs to this reply at all; the rest, gathered, still shows its pace
    // by the time it took.
    [[nodiscard]] int gatherable() const;
    // Time has passed up to `t` and nothing more waits to be read: checkpoints whose quiet has
    // passed trust what is held, a resynchronisation ends, an unfinished reply is given up.
    void advance(Micros t, Events &out);
    // When advance() next has something to do.
    [[nodiscard]] std::optional<Micros> nextDeadline() const;
    // The reply begun to a request that may be answered short is complete as it stands: the
    // caller has seen enough of it to know that no more is coming.
    void endShort(Micros t, Events &out);
    // The owner gives up on the outstanding request (its watchdog): it and every held reply
    // are dropped, and probation starts. The line counts as ready; the owner keeps it quiet as
    // long as it sees fit.
    void giveUp(Events &out);
    // The bytes of a reply begun and not complete (a plain board's short answer to the
    // identification, a truncated reply), for whoever shows the traffic.
    [[nodiscard]] QByteArray unfinished() const
    {
        return m_current ? m_current->bytes : QByteArray();
    }
    // The port has closed: everything is forgotten, without events.
    void clear();

private:
    enum class Line
    {
        Ready,
        Checkpoint, // quiet with nothing outstanding, then every held reply is trusted
        Resync,     // quiet after a lost step
    };
    struct Current
    {
        Request request;
        Micros sentAt = 0;
        bool early = false;   // a byte sooner than the line allows is a stray
        bool paced = false;   // so is any byte sooner than its place in the reply allows
        bool keptPace = true; // every byte so far came no sooner than the line allows
        bool batched = false; // some read brought more than one byte
        QByteArray bytes;
        Micros firstAt = 0;
        Micros lastAt = 0;
    };
    struct Held
    {
        int id = -1;
        Micros at = 0;
        bool holdLine = false;
    };

    // Sooner than this after a request of `frameBytes`, no reply byte can have arrived.
    [[nodiscard]] Micros earliest(int frameBytes) const;
    // How many reply bytes can have arrived by `t` on a paced line.
    [[nodiscard]] qsizetype allowed(const Current &c, Micros t) const;
    // A read of `n` bytes, `gap` after the previous read of the same reply, that brought
    // exactly what the system was told to gather, no sooner than the line could carry them and
    // no later than a character after: the bytes came one at a time, as a line delivers them.
    [[nodiscard]] bool gatheredAtPace(qsizetype n, int gathered, Micros gap) const;
    // How long a reply begun may fall silent before it is given up.
    [[nodiscard]] Micros unfinishedAfter() const
    {
        return m_timing.pacedLine ? m_timing.unfinished : m_timing.peerUnfinished;
    }
    // How long a checkpoint's quiet lasts after the last reply, by what the line has shown.
    [[nodiscard]] Micros checkpointQuiet() const;
    [[nodiscard]] bool checkpointDue(Micros t) const;
    // Whether the held replies may be trusted by the quiet since the last byte, the line not
    // held for it, and from when.
    [[nodiscard]] std::optional<Micros> quietCheckpointAt() const;
    void take(Micros t, Events &out);
    void startCheckpoint(Micros t);
    void loseStep(QByteArray bytes, Reason reason, Micros t, Events &out);
    void becomeReady(Events &out);

    // How many replies in a row must have come as a line delivers them before the board
    // counts as behind a line, or as keeping its pace byte by byte; one slow answer from a
    // fast peer (the host was busy) must not count.
    static constexpr int kLineEvidence = 4;
    static constexpr int kPaceEvidence = 4;
    // Replies each followed by a checkpoint after an anomaly: more than a poll cycle's rows,
    // so that faults that come back with every cycle still let each row be shown.
    static constexpr int kProbation = 16;

    Timing m_timing;
    Line m_line = Line::Ready;
    Micros m_quietFrom = 0;
    Micros m_quietLength = 0;
    int m_lineReplies = 0;   // replies in a row no sooner than a line allows
    int m_pacedReplies = 0;  // replies in a row that came a byte at a time at the line's pace
    bool m_lastFast = false; // the last reply came sooner than any line carries one
    int m_probation = 0;
    Micros m_lastByteAt = 0;
    std::optional<Current> m_current;
    std::deque<Held> m_held;
};

} // namespace kvx
