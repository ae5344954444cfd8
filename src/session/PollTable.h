#pragma once

// The 51 fixed read requests of the poll cycle, built from the register map, how a reply of
// each row reads as a value and as the text its fields show, and the rule that picks the next
// row. Pure logic: the windows hear of replies from the poll scheduler and show them here
// converted.

#include "chip/Datagram.h"

#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

namespace kvx {

enum class TraceKind : std::uint8_t
{
    None,
    Position,
    Velocity,
    TargetVelocity,
    Acceleration,
};

struct PollRowDef
{
    std::uint8_t address = 0;
    int code = 0; // value code: 23 or 11 signed, 0 unsigned or fields, -6 hexadecimal
    // Polled only while the register editor shows this bank's registers (a motor's 0..2, the
    // common ones kCommonBank); none: every cycle.
    std::optional<int> bank;
    int motor = -1;
    TraceKind trace = TraceKind::None;
};

class PollTable
{
public:
    static constexpr int kRowCount = 51;
    static constexpr int kLastRow = kRowCount - 1;
    static constexpr int kFirstCommonRow = 45;

    PollTable();

    [[nodiscard]] const PollRowDef &row(int r) const { return m_rows[std::size_t(r)]; }
    // Rows by what they poll: a motor's register, or a common register (-1 when that common
    // register is not polled).
    [[nodiscard]] static constexpr int motorRow(int motor, int registerIndex)
    {
        return 15 * motor + registerIndex;
    }
    [[nodiscard]] static int commonRow(int commonIndex);

    // A reply of row r as a number (sign-extended by the row's value code, for the trace
    // recorder) and as the text the row's fields show.
    [[nodiscard]] std::int64_t value(int r, const DataBytes &data) const;
    [[nodiscard]] QString text(int r, const DataBytes &data) const;

    // The row after `current`: row 0 after the last row or after an identification reply,
    // otherwise the next row of every cycle or of the bank the editor shows (none: no bank).
    [[nodiscard]] static int nextRow(int current, bool afterIdentification, bool editorShown,
                                     std::optional<int> shownBank, const PollTable &table);

private:
    std::array<PollRowDef, kRowCount> m_rows{};
};

} // namespace kvx
