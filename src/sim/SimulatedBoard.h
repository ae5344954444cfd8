#pragma once

// A simulated evaluation board: the board's firmware (request framing, resynchronisation,
// identification, the KORVE start-up sequence, optional line timing and injected faults) in
// front of a model of the KVX310 (ChipModel). Pure and driven by the time it is given: no
// clock, no sleeping, no I/O, so tests are exact. Single-threaded; the owner calls it from one
// thread (PtyBoardServer does so from the Qt event loop).

#include "sim/ChipModel.h"
#include "sim/SimTime.h"

#include <QByteArray>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string_view>

namespace kvx::sim {

enum class Variant : std::uint8_t
{
    Plain,
    Korve,
    Pentar,
};

[[nodiscard]] std::optional<Variant> parseVariant(std::string_view name); // "plain", "korve", ...
[[nodiscard]] std::string_view variantName(Variant v);

// Where the stray byte of the stray fault goes.
enum class StrayPosition : std::uint8_t
{
    Before, // ahead of the reply
    Inside, // after its second byte
    After,  // right after it
    Later,  // Faults::strayDelay after the reply, when the line is otherwise idle
};

[[nodiscard]] std::optional<StrayPosition> parseStrayPosition(std::string_view name);

// Faults for reliability tests; every count N applies to the Nth, 2Nth, ... answered frame.
struct Faults
{
    int dropEvery = 0;     // no reply at all
    int strayEvery = 0;    // one extra byte with the reply
    int truncateEvery = 0; // only the first 3 of the 4 reply bytes
    bool silent = false;   // never answers
    StrayPosition strayAt = StrayPosition::After;
    // Later strays come this long after the reply's last byte.
    std::chrono::microseconds strayDelay{1500};
    // The stray's value; -1: a different one each time, any of the 256.
    int strayValue = 0x55;
    // A truncated reply is followed by a stray this long after its last byte; 0: none.
    std::chrono::microseconds truncatedStrayAfter{0};
    int corruptEvery = 0; // one reply byte damaged on the line (the line reports it)
    int lateEvery = 0;    // the reply comes `lateBy` later; the replies after it queue behind it
    std::chrono::milliseconds lateBy{2100};
    // While a late reply is held back, the board loses the requests it is sent.
    bool lateLoses = false;
    int silentTo = -1; // no reply to requests of this address byte (the chip still takes them)
    // The board's line babbles: a stray byte after another, as fast as the line carries them,
    // from the time the fault is set until it is cleared (a loose wire, a board in a loop).
    bool babble = false;
};

struct BoardOptions
{
    Variant variant = Variant::Plain;
    bool lineTiming = false; // 19200 bit/s, 10 bits per byte, both directions
    // From a request's last byte to its reply, and from a reply's last byte to the next
    // reply when requests queue up behind it; each time up to `turnaroundJitter` more.
    std::chrono::microseconds turnaround{0};
    std::chrono::microseconds turnaroundJitter{0};
    std::uint32_t seed = 1; // for the jitter
    // Reply bytes reach the host only every so often, as a USB adapter delivers them; 0: at
    // once. Applied by the server that carries the bytes.
    std::chrono::microseconds deliveryBatch{0};
    Faults faults;
};

// One exchange, for logging.
struct FrameLogEntry
{
    Micros at{0};          // when the request was complete
    QByteArray request;    // the whole frame as received
    QByteArray reply;      // what the board sends back (empty when dropped or silent)
    std::string_view note; // "identification", "dropped", "start-up sequence", ...
    // A request frame's Datagram ran on the chip: this is what it answered, whatever the
    // board then sent; false for the probe, the start-up sequence and abandoned frames.
    bool ran = false;
    Reply chipReply;
};

class SimulatedBoard
{
public:
    explicit SimulatedBoard(BoardOptions options = {});

    // Bytes written to the board's serial line, handed over at board time `at`. Times given
    // to receive, takeDue and advance never decrease.
    void receive(const QByteArray &bytes, Micros at);

    // Reply bytes due at or before `now`, in order; they leave the board's output queue.
    // `damaged`: how many of them the line carried with a framing error.
    [[nodiscard]] QByteArray takeDue(Micros now, int *damaged = nullptr);
    // When the next queued reply byte is due, if any.
    [[nodiscard]] std::optional<Micros> nextDue() const;

    // Lets the motors run up to `now` (replies and frames advance the chip themselves).
    void advance(Micros now);

    [[nodiscard]] const BoardOptions &options() const { return m_options; }
    // Faults change between frames; the counters go on counting answered frames.
    void setFaults(const Faults &faults);
    [[nodiscard]] ChipModel &chip() { return m_chip; }
    [[nodiscard]] const ChipModel &chip() const { return m_chip; }
    // True once a KORVE board has taken its start-up sequence and expects 6-byte frames.
    [[nodiscard]] bool longFrames() const { return m_longFrames; }

    std::function<void(const FrameLogEntry &)> onFrame;

    // Time one byte takes on the line at 19200 bit/s with 10 bits per byte (520.83 us).
    static constexpr std::chrono::nanoseconds kByteTime{10'000'000'000LL / 19200};

private:
    struct Pending
    {
        Micros due;
        std::uint8_t byte;
        bool damaged = false;
    };

    // How this firmware behaves where the host's protocol leaves it open:
    // - Framing. Idle bytes other than a frame start ("#", and "!" once a KORVE board takes
    //   6-byte frames) are dropped. A KORVE board in 6-byte mode answers only frames whose
    //   count byte is 4; others are discarded whole (no reply). Before its start-up sequence a
    //   KORVE board reads 5-byte frames like the others, so a 6-byte frame is then "#" and the
    //   next four bytes, its last byte dropped; in 6-byte mode a 5-byte frame waits for a
    //   sixth byte and is abandoned after the gap below, unanswered.
    // - Partial frames. Zero bytes are legal frame content, so a frame is abandoned only when
    //   the gap before its next byte exceeds kFrameGap (5 ms, nearly ten byte times); that
    //   byte is then taken as an idle byte. The same gap rule applies inside each half of the
    //   start-up sequence.
    // - Probe. 0xFF after at least kProbeMinZeros idle 0x00 bytes. By then no partial frame
    //   is left: one older than kFrameGap was abandoned by the first zero, a younger one was
    //   completed by the zeros and answered like any frame. The probe returns a KORVE board
    //   to 5-byte frames and makes a KORVE or Pentar board answer the next frame with its
    //   identification, "KOR310v1.0" or "ZAP310v1.0", instead of the 4-byte reply; the chip
    //   still runs that frame's datagram. Replies already queued are not withdrawn: they are
    //   on the line.
    // - Start-up sequence (KORVE only). " 0132", then 0x22 0x00 0x00 as the next bytes after
    //   any pause; no reply. Any other byte in between cancels it.
    // - Slow SPI ("!") frames are answered kSlowSpiDelay (1 ms) later than "#" frames.
    // - Faults. The counters count answered frames, the identification included; the start-up
    //   sequence, discarded frames and probes are not frames for them, and nothing is counted
    //   while silent. One fault per frame, in this order: silent, drop, truncate (the last
    //   byte is cut, so 3 of 4 or 9 of 10), stray (kStrayByte, 0x55, before, inside or after
    //   the reply), late (the firmware stalls: this reply and every one after it wait). A
    //   dropped or silent frame still reaches the chip, as with a dead transmit line.
    // - Reply bytes are due at their stop bit, rounded up to the next microsecond; line times
    //   are kept exactly in ticks of 1/192 us (a byte is 100000 ticks), so nothing drifts.
    //   Without line timing replies are still queued in order. The queue keeps the newest
    //   kOutputLimit (4096) bytes; a negative turnaround counts as none.
    using Ticks = std::int64_t;
    enum class Unit : std::uint8_t
    {
        None,
        Frame,
        StartupHead,
        StartupTail,
    };

    [[nodiscard]] Ticks arrivalOf(Ticks handedOver);
    void takeByte(std::uint8_t byte, Ticks arrival);
    void takeIdleByte(std::uint8_t byte, Ticks arrival);
    void takeStartupByte(std::uint8_t byte, Ticks arrival);
    void abandonUnit();
    void completeFrame(Ticks at);
    void recogniseProbe(Ticks at, int zeros);
    // Queues `bytes` from `ready` on; `damagedAt`: the index of a byte damaged on the line.
    void queueReply(const QByteArray &bytes, Ticks ready, int damagedAt = -1);
    [[nodiscard]] Ticks turnaroundTicks();
    void log(Ticks at, const QByteArray &request, const QByteArray &reply, std::string_view note,
             const std::optional<Reply> &chipReply = std::nullopt);
    [[nodiscard]] bool faultHits(int every) const;
    [[nodiscard]] std::uint8_t strayByte() const;

    BoardOptions m_options;
    ChipModel m_chip;
    std::deque<Pending> m_output;
    bool m_longFrames = false;
    Unit m_unit = Unit::None;
    QByteArray m_partial; // the frame or start-up half being received
    Ticks m_lastArrival = 0;
    bool m_startupHeadSeen = false;
    int m_idleZeros = 0;
    bool m_identifyNext = false;
    std::int64_t m_answered = 0;
    Ticks m_rxBurstStart = 0; // receive line: first byte of the current back-to-back run
    std::int64_t m_rxBurstBytes = 0;
    Ticks m_txBurstStart = 0; // transmit line, likewise
    std::int64_t m_txBurstBytes = 0;
    Ticks m_lastDue = 0;
    Ticks m_stalledUntil = 0; // a late reply is held back until then
    Micros m_babbleNext{-1};  // the next babbled byte is due then
    std::uint64_t m_random;
};

} // namespace kvx::sim
