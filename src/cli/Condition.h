#pragma once

// What kvx310 wait waits for: a register or field compared with a value (X_ACTUAL=5000,
// V_ACTUAL==0, >, <, >=, <=, !=), a status bit by name (REFERENCE_SWITCH_1 alone: set; =0:
// clear), or the whole status byte (STATUS). Pure logic.

#include "chip/Datagram.h"
#include "records/RegisterNames.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace kvx::cli {

struct Condition
{
    enum class Op
    {
        Equal,
        NotEqual,
        Greater,
        Less,
        GreaterEqual,
        LessEqual,
    };

    std::optional<Item> item; // none: the status byte
    int statusBit = kWholeStatus;
    Op op = Op::Equal;
    std::int64_t value = 1;
    QString text; // as typed

    // The read that shows it, for `motor` (0..2) where it is a motor's register.
    [[nodiscard]] std::uint8_t address(int motor) const;
    // What it compares, in a reply to that read.
    [[nodiscard]] std::int64_t observed(const Reply &reply) const;
    [[nodiscard]] QString observedText(const Reply &reply) const;
    [[nodiscard]] bool holds(const Reply &reply) const;
    // The name it looks at: X_ACTUAL, REFERENCE_SWITCH_1.
    [[nodiscard]] QString name() const;
};

// Nothing, with `error` saying why, when `text` is none.
[[nodiscard]] std::optional<Condition> parseCondition(const QString &text, QString *error);

} // namespace kvx::cli
