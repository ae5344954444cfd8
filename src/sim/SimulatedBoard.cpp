#include "sim/SimulatedBoard.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>
#include <utility>

namespace kvx::sim {

namespace {

using Ticks = std::int64_t;

// 1/192 us is the largest tick in which a byte time at 19200 bit/s is a whole number.
constexpr Ticks kTicksPerMicro = 192;
constexpr Ticks kTicksPerByte = 100'000;
static_assert(SimulatedBoard::kByteTime ==
              std::chrono::nanoseconds(kTicksPerByte * 1000 / kTicksPerMicro));

constexpr Ticks ticksOf(Micros t)
{
    return t.count() * kTicksPerMicro;
}
// Rounded up: a byte is not there before its stop bit has arrived.
constexpr Micros microsOf(Ticks t)
{
    return Micros((t + kTicksPerMicro - 1) / kTicksPerMicro);
}

constexpr Ticks kFrameGap = ticksOf(Micros(5000));
constexpr Ticks kSlowSpiDelay = ticksOf(Micros(1000));
constexpr int kProbeMinZeros = 8;
constexpr int kZeroCountLimit = 1024; // only for the log; any count past 8 means the same
constexpr qsizetype kOutputLimit = 4096;

constexpr std::uint8_t kFrameStart = 0x23;     // "#"
constexpr std::uint8_t kSlowFrameStart = 0x21; // "!"
constexpr std::uint8_t kDatagramLength = 4;
constexpr std::uint8_t kProbeEnd = 0xFF;
constexpr std::array<std::uint8_t, 5> kStartupHead = {0x20, 0x30, 0x31, 0x33, 0x32}; // " 0132"
constexpr std::array<std::uint8_t, 3> kStartupTail = {0x22, 0x00, 0x00};

constexpr char kKorveIdentification[] = "KOR310v1.0";
constexpr char kPentarIdentification[] = "ZAP310v1.0";
static_assert(sizeof(kKorveIdentification) == 11 && sizeof(kPentarIdentification) == 11);

[[nodiscard]] std::uint8_t byteAt(const QByteArray &bytes, qsizetype i)
{
    return static_cast<std::uint8_t>(bytes.at(i));
}

} // namespace

std::optional<Variant> parseVariant(std::string_view name)
{
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (Variant v : {Variant::Plain, Variant::Korve, Variant::Pentar}) {
        if (lower == variantName(v))
            return v;
    }
    return std::nullopt;
}

std::optional<StrayPosition> parseStrayPosition(std::string_view name)
{
    if (name == "before")
        return StrayPosition::Before;
    if (name == "inside")
        return StrayPosition::Inside;
    if (name == "after")
        return StrayPosition::After;
    if (name == "later")
        return StrayPosition::Later;
    return std::nullopt;
}

std::string_view variantName(Variant v)
{
    switch (v) {
    case Variant::Plain:
        return "plain";
    case Variant::Korve:
        return "korve";
    case Variant::Pentar:
        return "pentar";
    }
    return "plain";
}

SimulatedBoard::SimulatedBoard(BoardOptions options)
    : m_options(options)
    , m_random(options.seed * 0x9E3779B97F4A7C15ULL + 1)
{}

SimulatedBoard::Ticks SimulatedBoard::turnaroundTicks()
{
    Ticks t = ticksOf(std::max(m_options.turnaround, Micros(0)));
    if (m_options.turnaroundJitter.count() > 0) {
        // A fixed sequence: the same run on every machine.
        m_random = m_random * 6364136223846793005ULL + 1442695040888963407ULL;
        t += Ticks((m_random >> 33) % std::uint64_t(ticksOf(m_options.turnaroundJitter) + 1));
    }
    return t;
}

void SimulatedBoard::receive(const QByteArray &bytes, Micros at)
{
    const Ticks handedOver = ticksOf(at);
    for (const char c : bytes) {
        const Ticks arrival = arrivalOf(handedOver);
        takeByte(static_cast<std::uint8_t>(c), arrival);
    }
}

void SimulatedBoard::setFaults(const Faults &faults)
{
    if (faults.babble && !m_options.faults.babble)
        m_babbleNext = std::max(microsOf(std::max(m_lastDue, m_lastArrival)), m_chip.now());
    m_options.faults = faults;
}

QByteArray SimulatedBoard::takeDue(Micros now, int *damaged)
{
    QByteArray due;
    // Babble fills the line wherever no reply is due: one byte per character time.
    const Micros step = m_options.lineTiming ? microsOf(kTicksPerByte) : Micros(100);
    while (m_options.faults.babble && m_babbleNext <= now && due.size() < 4096 &&
           (m_output.empty() || m_output.front().due > m_babbleNext)) {
        due.append(static_cast<char>(0x55));
        m_babbleNext += step;
    }
    while (!m_output.empty() && m_output.front().due <= now) {
        due.append(static_cast<char>(m_output.front().byte));
        if (damaged && m_output.front().damaged)
            ++*damaged;
        m_output.pop_front();
    }
    return due;
}

std::optional<Micros> SimulatedBoard::nextDue() const
{
    std::optional<Micros> next;
    if (!m_output.empty())
        next = m_output.front().due;
    if (m_options.faults.babble && (!next || m_babbleNext < *next))
        next = m_babbleNext;
    return next;
}

void SimulatedBoard::advance(Micros now)
{
    m_chip.advanceTo(now);
}

SimulatedBoard::Ticks SimulatedBoard::arrivalOf(Ticks handedOver)
{
    if (!m_options.lineTiming)
        return handedOver;
    // Counting bytes from the start of a back-to-back run keeps every time exact.
    if (handedOver >= m_rxBurstStart + m_rxBurstBytes * kTicksPerByte) {
        m_rxBurstStart = handedOver;
        m_rxBurstBytes = 0;
    }
    ++m_rxBurstBytes;
    return m_rxBurstStart + m_rxBurstBytes * kTicksPerByte;
}

void SimulatedBoard::takeByte(std::uint8_t byte, Ticks arrival)
{
    if (m_unit != Unit::None && arrival - m_lastArrival > kFrameGap)
        abandonUnit();
    m_lastArrival = arrival;

    switch (m_unit) {
    case Unit::None:
        takeIdleByte(byte, arrival);
        return;
    case Unit::Frame:
        m_partial.append(static_cast<char>(byte));
        if (m_partial.size() == (m_longFrames ? 2 : 1) + kDatagramLength)
            completeFrame(arrival);
        return;
    case Unit::StartupHead:
    case Unit::StartupTail:
        takeStartupByte(byte, arrival);
        return;
    }
}

void SimulatedBoard::takeIdleByte(std::uint8_t byte, Ticks arrival)
{
    const bool headSeen = std::exchange(m_startupHeadSeen, false);
    if (byte == 0x00) {
        m_idleZeros = std::min(m_idleZeros + 1, kZeroCountLimit);
        return;
    }
    const int zeros = std::exchange(m_idleZeros, 0);
    if (byte == kProbeEnd && zeros >= kProbeMinZeros) {
        recogniseProbe(arrival, zeros);
        return;
    }
    Unit unit = Unit::None;
    if (byte == kFrameStart || (byte == kSlowFrameStart && m_longFrames))
        unit = Unit::Frame;
    else if (m_options.variant == Variant::Korve && byte == kStartupHead[0])
        unit = Unit::StartupHead;
    else if (headSeen && byte == kStartupTail[0])
        unit = Unit::StartupTail;
    if (unit == Unit::None)
        return; // cannot start anything: dropped
    m_unit = unit;
    m_partial = QByteArray(1, static_cast<char>(byte));
}

void SimulatedBoard::takeStartupByte(std::uint8_t byte, Ticks arrival)
{
    const bool head = m_unit == Unit::StartupHead;
    const auto at = static_cast<std::size_t>(m_partial.size());
    const std::uint8_t expected = head ? kStartupHead[at] : kStartupTail[at];
    if (byte != expected) {
        m_unit = Unit::None;
        m_partial.clear();
        takeIdleByte(byte, arrival);
        return;
    }
    m_partial.append(static_cast<char>(byte));
    if (head && m_partial.size() == qsizetype(kStartupHead.size())) {
        m_unit = Unit::None;
        m_partial.clear();
        m_startupHeadSeen = true;
    } else if (!head && m_partial.size() == qsizetype(kStartupTail.size())) {
        m_unit = Unit::None;
        m_partial.clear();
        m_longFrames = true;
        QByteArray sequence;
        for (std::uint8_t b : kStartupHead)
            sequence.append(static_cast<char>(b));
        for (std::uint8_t b : kStartupTail)
            sequence.append(static_cast<char>(b));
        log(arrival, sequence, {}, "start-up sequence");
    }
}

void SimulatedBoard::abandonUnit()
{
    if (m_unit == Unit::Frame)
        log(m_lastArrival, m_partial, {}, "abandoned partial frame");
    m_unit = Unit::None;
    m_partial.clear();
}

void SimulatedBoard::recogniseProbe(Ticks at, int zeros)
{
    m_longFrames = false;
    m_startupHeadSeen = false;
    m_identifyNext = m_options.variant != Variant::Plain;
    QByteArray probe(zeros, '\0');
    probe.append(static_cast<char>(kProbeEnd));
    log(at, probe, {}, "resynchronisation probe");
}

bool SimulatedBoard::faultHits(int every) const
{
    return every > 0 && m_answered % every == 0;
}

void SimulatedBoard::completeFrame(Ticks at)
{
    const QByteArray request = std::exchange(m_partial, {});
    m_unit = Unit::None;
    qsizetype offset = 1;
    if (m_longFrames) {
        if (byteAt(request, 1) != kDatagramLength) {
            log(at, request, {}, "discarded: count byte not 4");
            return;
        }
        offset = 2;
    }
    const bool slow = byteAt(request, 0) == kSlowFrameStart;
    const Datagram datagram{
        byteAt(request, offset),
        {byteAt(request, offset + 1), byteAt(request, offset + 2), byteAt(request, offset + 3)}};
    m_chip.advanceTo(microsOf(at));
    const Reply chipReply = m_chip.exchange(datagram);

    QByteArray reply;
    std::string_view note = slow ? "reply, slow SPI" : "reply";
    if (m_options.faults.lateLoses && at < m_stalledUntil) {
        // The firmware is stuck behind a late reply: the request is gone, though the chip ran
        // it, as a busy microcontroller would drop what its buffer has no room for.
        log(at, request, {}, "lost while stalled", chipReply);
        return;
    }
    if (std::exchange(m_identifyNext, false)) {
        reply = m_options.variant == Variant::Korve ? QByteArray(kKorveIdentification)
                                                    : QByteArray(kPentarIdentification);
        note = "identification";
    } else {
        reply.append(static_cast<char>(chipReply.status));
        reply.append(static_cast<char>(chipReply.data.high));
        reply.append(static_cast<char>(chipReply.data.mid));
        reply.append(static_cast<char>(chipReply.data.low));
    }

    const Faults &faults = m_options.faults;
    Ticks late = 0;
    int damagedAt = -1;
    QByteArray afterwards; // a byte that follows the reply on its own, a while later
    Ticks afterwardsDelay = 0;
    if (faults.silent || faults.silentTo == int(datagram.address)) {
        reply.clear();
        note = "silent";
    } else {
        ++m_answered;
        if (faultHits(faults.dropEvery)) {
            reply.clear();
            note = "dropped";
        } else if (faultHits(faults.truncateEvery)) {
            reply.chop(1);
            note = "truncated";
            if (faults.truncatedStrayAfter.count() > 0) {
                afterwards = QByteArray(1, static_cast<char>(strayByte()));
                afterwardsDelay = ticksOf(faults.truncatedStrayAfter);
            }
        } else if (faultHits(faults.strayEvery)) {
            const char stray = static_cast<char>(strayByte());
            if (faults.strayAt == StrayPosition::Later) {
                afterwards = QByteArray(1, stray);
                afterwardsDelay = ticksOf(faults.strayDelay);
            } else {
                const qsizetype position = faults.strayAt == StrayPosition::Before   ? 0
                                           : faults.strayAt == StrayPosition::Inside ? 2
                                                                                     : reply.size();
                reply.insert(std::min(position, reply.size()), stray);
            }
            note = "stray byte";
        } else if (faultHits(faults.corruptEvery)) {
            damagedAt = int(m_answered % reply.size());
            reply[damagedAt] = static_cast<char>(reply[damagedAt] ^ 0x5A);
            note = "damaged byte";
        } else if (faultHits(faults.lateEvery)) {
            late = ticksOf(std::chrono::duration_cast<Micros>(faults.lateBy));
            note = "late";
        }
    }

    // A board answers one request at a time: one that waited behind an earlier reply gets its
    // turnaround after that reply, not after its own request.
    const Ticks turnaround = turnaroundTicks();
    const Ticks start = std::max(at, m_options.lineTiming ? m_lastDue : at);
    const Ticks ready = start + turnaround + (slow ? kSlowSpiDelay : 0) + std::max<Ticks>(late, 0);
    if (late > 0)
        m_stalledUntil = ready;
    queueReply(reply, ready, damagedAt);
    if (!afterwards.isEmpty())
        queueReply(afterwards, std::max(ready, m_lastDue) + afterwardsDelay);
    log(at, request, reply, note, chipReply);
}

std::uint8_t SimulatedBoard::strayByte() const
{
    const int v = m_options.faults.strayValue;
    // Any value, the same sequence on every run.
    return v >= 0 ? std::uint8_t(v) : std::uint8_t((m_answered * 167 + 13) & 0xFF);
}

void SimulatedBoard::queueReply(const QByteArray &bytes, Ticks ready, int damagedAt)
{
    int index = 0;
    if (m_options.lineTiming && ready >= m_txBurstStart + m_txBurstBytes * kTicksPerByte) {
        m_txBurstStart = ready;
        m_txBurstBytes = 0;
    }
    for (const char c : bytes) {
        Ticks due = 0;
        if (m_options.lineTiming) {
            ++m_txBurstBytes;
            due = m_txBurstStart + m_txBurstBytes * kTicksPerByte;
        } else {
            due = std::max(ready, m_lastDue);
        }
        m_lastDue = due;
        m_output.push_back({microsOf(due), static_cast<std::uint8_t>(c), index++ == damagedAt});
    }
    // Nobody may be taking replies (a closed port); keep the newest bytes only.
    while (qsizetype(m_output.size()) > kOutputLimit)
        m_output.pop_front();
}

void SimulatedBoard::log(Ticks at, const QByteArray &request, const QByteArray &reply,
                         std::string_view note, const std::optional<Reply> &chipReply)
{
    if (onFrame)
        onFrame(FrameLogEntry{microsOf(at), request, reply, note, chipReply.has_value(),
                              chipReply.value_or(Reply{})});
}

} // namespace kvx::sim
