#pragma once

// Decides, from the bytes that arrive and when they arrive, which of them answer the request
// that is outstanding. The board's replies carry no length, checksum or delimiter, so a stray
// byte, a lost byte or a late reply would otherwise shift every reply after it onto the wrong
// request. The rules only ever reject; when unsure, the exchange counts as unanswered:
//
// - Count. A reply has exactly the expected number of bytes; one more is a lost step.
// - Quiet after a reply. Before the next request goes out, the line must stay quiet for a
//   while, so that a byte still belonging to the reply (a stray behind it, or the last byte of
//   a reply that began with a stray) shows up as one too many instead of starting the next
//   reply. A peer that answers faster than any line can (a program on a pseudo-terminal)
//   writes its replies whole: a short gap does. Behind a real line the gap must outlast the
//   batches in which USB adapters deliver (every 1 to 16 ms).
// - Pace. A board on a real line cannot start its reply before it has received the whole
//   request, nor deliver its bytes faster than the line carries them. Once the last few
//   replies came a byte at a time, each no sooner than the line allows, the next request may
//   follow a reply at once: a byte still belonging to the reply then comes sooner than any
//   reply to the next request could, and is caught as early. A reply read in one batch still
//   gets the long quiet; one faster than the line ends the trust until the board has shown
//   its pace again.
// - Hold. A complete reply is trusted only after the line has stayed in step for a while after
//   it; until then nothing taken from it is shown, and a lost step drops every reply held.
// - Resync. After a lost step nothing goes out until the line has been quiet for a while.
// - Unfinished. A reply that stops coming part of the way through is given up after a while.
//
// Pure logic: no I/O, no clock; times are microseconds on one monotonic clock, given by the
// caller. Events come out in order into the caller's list.

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

    struct Timing
    {
        Micros byteTime = 521;      // one character on the line: 10 bits at 19200 bit/s
        Micros gap = 2'000;         // quiet after a reply from a peer faster than any line
        Micros batchQuiet = 20'000; // quiet after a reply from a board not yet paced
        Micros hold = 20'000;       // how long the line must stay in step after a reply
        Micros resync = 20'000;     // quiet needed after a lost step
        Micros unfinished = 50'000; // silence that ends a reply begun but not complete
    };

    enum class EventType
    {
        Taken,     // a reply has come in whole; not to be used before it is Committed
        Committed, // the reply of `id` is trusted
        Dropped,   // the exchange `id` stays unanswered
        Discarded, // `bytes` answered no request
        Ready,     // the next request may go out
    };
    enum class Reason
    {
        None,
        Stray,      // came while no request was outstanding
        Early,      // came sooner than the board could have answered
        Excess,     // more than the reply holds
        Unfinished, // a reply that stopped part of the way
        Resync,     // came while the line was being resynchronised
        GivenUp,    // the exchange was given up by its owner
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
    // The board has kept the line's pace, a byte at a time, in its last replies.
    [[nodiscard]] bool paced() const;

    // `request` has just been written, at `t`; only while ready().
    void sent(const Request &request, Micros t);
    // Bytes read at `t`. `gathered`: how many bytes the system was told to gather before it
    // reported them (see gatherable()); 1 when each byte is reported as it comes.
    void received(const QByteArray &bytes, Micros t, Events &out, int gathered = 1);
    // How many bytes the host may let the system gather before it looks: the rest of a reply
    // that allows it once its first byte has been read on its own, 1 otherwise. The first byte's
    // time tells whether it belongs to this reply at all; the rest, gathered, still shows its pace
    // by the time it took.
    [[nodiscard]] int gatherable() const;
    // Time has passed up to `t` and nothing more waits to be read: held replies whose time has
    // come are trusted, quiet gaps end, an unfinished reply is given up.
    void advance(Micros t, Events &out);
    // When advance() next has something to do. While a request is outstanding, the read of
    // its reply advances the framer anyway: trusting a held reply may then wait up to
    // `commitSlack` longer, so that a steady exchange needs no wake-up of its own for it.
    [[nodiscard]] std::optional<Micros> nextDeadline(Micros commitSlack = 0) const;
    // The owner gives up on the outstanding request (its watchdog): it and every held reply
    // are dropped. The line counts as ready; the owner keeps it quiet as long as it sees fit.
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
        Gap,    // quiet after a reply, before the next request
        Resync, // quiet after a lost step
    };
    struct Current
    {
        Request request;
        Micros sentAt = 0;
        bool paced = false;   // bytes sooner than the line allows are strays
        bool keptPace = true; // every byte so far came no sooner than the line allows
        bool batched = false; // some read brought more than one byte
        QByteArray bytes;
        Micros firstAt = 0;
        Micros lastAt = 0;
    };
    struct Held
    {
        int id = -1;
        Micros lastAt = 0;
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
    void take(Micros t, Events &out);
    void loseStep(QByteArray bytes, Reason reason, Micros t, Events &out);
    void commitDue(Micros t, Events &out);
    void becomeReadyIfQuiet(Events &out);

    // How many replies in a row must have kept the line's pace; one slow answer from a fast
    // peer (the host was busy) must not count as pace.
    static constexpr int kPaceEvidence = 4;

    Timing m_timing;
    Line m_line = Line::Ready;
    Micros m_quietFrom = 0;
    Micros m_gapLength = 0;
    int m_pacedReplies = 0; // replies in a row that came a byte at a time at the line's pace
    std::optional<Current> m_current;
    std::deque<Held> m_held;
};

} // namespace kvx
