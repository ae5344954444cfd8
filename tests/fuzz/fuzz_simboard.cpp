// Fuzzes the simulated board's firmware (sim::SimulatedBoard): receive, takeDue and advance
// with arbitrary bytes at times that never decrease, for every variant, with or without line
// timing, any turnaround and any fault switches, changed between ops. The chip model behind it
// is only exercised here; its rules are tst_chipmodel's.
//
// The input is a script. Its head: variant (byte % 3) and line timing (bit 2), a signed 16-bit
// turnaround in microseconds, then the faults (see readFaults). Each op after it is a byte
// (value % 6) and its operands:
//   0 receive   n = byte % 24, then n bytes handed over at once
//   1 wait      byte: unit (bits 7..6: 1, 32, 1024 or 8192 us) and high bits, byte: low bits
//   2 take      every reply byte due by now, one due time after the other
//   3 advance   the motors run up to now
//   4 faults    new fault switches (readFaults)
//   5 paced     n = byte % 16, a gap in microseconds (byte * 8), then n bytes, one per gap
// Checked: reply bytes leave in the order their frames were logged, none before it is due and,
// while the output queue stays within its limit, none lost; each logged frame has a request
// and a reply of the sizes its note allows, an identification only from a KORVE or Pentar
// board; logged times never decrease; positions and velocities stay within their registers.

#include "FuzzInput.h"
#include "sim/SimulatedBoard.h"

#include <optional>
#include <string_view>

using kvx::sim::BoardOptions;
using kvx::sim::ChipModel;
using kvx::sim::Faults;
using kvx::sim::FrameLogEntry;
using kvx::sim::Micros;
using kvx::sim::SimulatedBoard;
using kvx::sim::StrayPosition;
using kvx::sim::Variant;
using kvxfuzz::FuzzInput;
using kvxfuzz::require;

namespace {

// The board's output queue keeps this many bytes; beyond it the oldest are dropped on purpose.
constexpr qsizetype kOutputLimit = 4096;
constexpr std::int64_t kWaitUnits[] = {1, 32, 1024, 8192};

// Byte 0: drop (bits 2..0) and truncate (bits 5..3) every Nth frame, silent when bits 7..6 are
// both set, silent to one address (byte 3) when only bit 7 is. Byte 1: stray every Nth frame
// (bits 2..0) at a position (bits 4..3), late every Nth (bits 7..5). Byte 2: how late, in 20 ms.
Faults readFaults(FuzzInput &in)
{
    const std::uint8_t f0 = in.byte();
    const std::uint8_t f1 = in.byte();
    const std::uint8_t f2 = in.byte();
    const std::uint8_t f3 = in.byte();
    Faults f;
    f.dropEvery = f0 & 7;
    f.truncateEvery = (f0 >> 3) & 7;
    f.silent = (f0 & 0xC0) == 0xC0;
    f.silentTo = (f0 & 0xC0) == 0x80 ? int(f3) : -1;
    f.strayEvery = f1 & 7;
    f.strayAt = StrayPosition(((f1 >> 3) & 3) % 3);
    f.lateEvery = (f1 >> 5) & 7;
    f.lateBy = std::chrono::milliseconds(20 * f2);
    return f;
}

[[nodiscard]] bool isIdentification(const QByteArray &bytes)
{
    return bytes == "KOR310v1.0" || bytes == "ZAP310v1.0";
}

// The sizes a logged frame may have, by its note: a 4-byte reply or the 10-byte identification,
// one byte less when truncated, one more with a stray byte.
void checkEntry(const FrameLogEntry &e, Variant variant)
{
    const std::string_view note = e.note;
    const qsizetype reply = e.reply.size();
    const bool frame = e.request.size() == 5 || e.request.size() == 6;
    if (note == "reply" || note == "reply, slow SPI") {
        require(frame && reply == 4, "an answered frame has a 4-byte reply");
    } else if (note == "identification") {
        require(frame && isIdentification(e.reply), "the identification is the variant's name");
        require(variant != Variant::Plain, "a plain board never identifies itself");
    } else if (note == "late") {
        require(frame && (reply == 4 || isIdentification(e.reply)), "a late reply is whole");
    } else if (note == "truncated") {
        require(frame && (reply == 3 || reply == 9), "a truncated reply lacks its last byte");
    } else if (note == "stray byte") {
        require(frame && (reply == 5 || reply == 11), "a stray byte adds one byte");
        require(e.reply.contains('\x55'), "the stray byte is 0x55");
    } else if (note == "dropped" || note == "silent") {
        require(frame && reply == 0, "a dropped frame has no reply");
    } else if (note == "discarded: count byte not 4") {
        require(e.request.size() == 6 && reply == 0, "a discarded long frame has no reply");
    } else if (note == "abandoned partial frame") {
        require(e.request.size() < 6 && reply == 0, "an abandoned frame is partial");
    } else if (note == "start-up sequence") {
        require(e.request == QByteArray(" 0132\x22\x00\x00", 8) && reply == 0,
                "the start-up sequence is 8 bytes");
        require(variant == Variant::Korve, "only a KORVE board takes the start-up sequence");
    } else if (note == "resynchronisation probe") {
        require(e.request.size() >= 9 && e.request.endsWith('\xFF') && reply == 0,
                "a probe is zeros and 0xFF");
    } else {
        require(false, "every logged frame has a known note");
    }
}

class Run
{
public:
    explicit Run(FuzzInput &in)
        : m_in(in)
    {
        const std::uint8_t head = in.byte();
        BoardOptions options;
        options.variant = Variant(head % 3);
        options.lineTiming = (head & 0x04) != 0;
        options.turnaround = Micros(std::int16_t(in.word()));
        options.faults = readFaults(in);
        m_board.emplace(options);
        m_board->onFrame = [this](const FrameLogEntry &e) {
            checkEntry(e, m_board->options().variant);
            require(e.at >= m_lastLogged, "logged times never decrease");
            m_lastLogged = e.at;
            m_logged += e.reply;
        };
    }

    void play()
    {
        while (!m_in.atEnd())
            step();
        // Everything still queued, however late.
        m_now += Micros(std::int64_t(1) << 34);
        take();
        if (m_logged.size() <= kOutputLimit)
            require(m_taken == m_logged, "every reply byte leaves the board, in order");
        require(!m_board->nextDue(), "nothing stays queued forever");
    }

private:
    void step()
    {
        switch (m_in.byte() % 6) {
        case 0:
            m_board->receive(m_in.bytes(m_in.byte() % 24), given(m_now));
            break;
        case 1: {
            const std::uint8_t high = m_in.byte();
            const std::int64_t units = std::int64_t(high & 0x3F) << 8 | m_in.byte();
            m_now += Micros(units * kWaitUnits[high >> 6]);
            break;
        }
        case 2:
            take();
            break;
        case 3:
            m_board->advance(given(m_now));
            checkChip();
            break;
        case 4:
            m_board->setFaults(readFaults(m_in));
            break;
        case 5: {
            const int count = m_in.byte() % 16;
            const Micros gap(8 * m_in.byte());
            for (int i = 0; i < count && !m_in.atEnd(); ++i) {
                m_now += gap;
                m_board->receive(m_in.bytes(1), given(m_now));
            }
            break;
        }
        }
    }

    // One due time at a time, so that a byte queued behind a later one would be noticed.
    void take()
    {
        while (const std::optional<Micros> due = m_board->nextDue()) {
            if (*due > m_now)
                break;
            require(*due >= m_lastDue, "reply bytes are due in the order they are queued");
            m_lastDue = *due;
            const QByteArray bytes = m_board->takeDue(given(*due));
            require(!bytes.isEmpty(), "a byte that is due is taken");
            m_taken += bytes;
        }
    }

    // The time handed to the board: never earlier than one it was given before.
    Micros given(Micros t)
    {
        m_given = std::max(m_given, t);
        return m_given;
    }

    void checkChip() const
    {
        const ChipModel &chip = m_board->chip();
        for (int m = 0; m < kvx::kMotorCount; ++m) {
            require(chip.position(m) >= -(1 << 23) && chip.position(m) < (1 << 23),
                    "positions are 24-bit");
            // Motion saturates at kMaxSpeed; V_ACTUAL written directly may also hold -2048.
            require(chip.velocity(m) >= -ChipModel::kMaxSpeed - 1 &&
                        chip.velocity(m) <= ChipModel::kMaxSpeed,
                    "velocities stay within V_ACTUAL's 12 bits");
        }
    }

    FuzzInput &m_in;
    std::optional<SimulatedBoard> m_board;
    Micros m_now{0};
    Micros m_given{0};
    Micros m_lastDue{0};
    Micros m_lastLogged{0};
    QByteArray m_logged;
    QByteArray m_taken;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput in(data, size);
    Run(in).play();
    return 0;
}
