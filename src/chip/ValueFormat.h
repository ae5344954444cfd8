#pragma once

// Conversions between register contents, numbers, display texts and bit strings, and the text
// a message shows of what came from outside.

#include "chip/RegisterMap.h"

#include <QString>

#include <cstdint>

namespace kvx {

// D when signBit < 1 or D < 2^signBit, else D - 2^(signBit+1). Bits above the sign bit are
// deliberately not masked: a 12-bit register whose reply carries bit 12 still reads D - 4096.
[[nodiscard]] constexpr std::int64_t SignExtend(std::int64_t value, int signBit)
{
    if (signBit < 1 || signBit > 62)
        return value;
    const std::int64_t limit = std::int64_t{1} << signBit;
    return value < limit ? value : value - 2 * limit;
}

// The number a read shows, by value class (Hex6 and Fields give the unsigned content).
[[nodiscard]] std::int64_t readValue(std::uint32_t data, ValueClass cls);
// The text a display shows for a read of this class.
[[nodiscard]] QString readText(std::uint32_t data, ValueClass cls);
// The text of a poll reply by the poll table's value code: hexadecimal with at least |code|
// digits for a negative code, otherwise decimal after SignExtend by the code.
[[nodiscard]] QString pollText(std::uint32_t data, int code);
// Upper-case hexadecimal with at least the given number of digits.
[[nodiscard]] QString hexText(std::uint64_t value, int digits = 2);

// Field bits width-1 down to 0 as "1" and "0".
[[nodiscard]] QString IntToBin(std::uint32_t value, int width);
// Blanks at both ends are ignored; characters count from the right, the rightmost being bit 0,
// and scanning stops at the first blank met from the right.
[[nodiscard]] std::uint32_t BinToInt(const QString &text);

// A text from outside (a file, the command line, a peer) as a message shows it: in double
// quotes, with what a terminal would act on or a C string would end at escaped (\n, \0, \x1B,
// \u202E; a quote and a backslash as \" and \\), and past `limit` characters cut with "..." and
// its whole length, so that a hostile file can neither paint the terminal nor fill it.
[[nodiscard]] QString quoted(const QString &text, qsizetype limit = 60);
// The same escapes for a whole message, without quotes or cut: it stays one line.
[[nodiscard]] QString controlsEscaped(const QString &text);

} // namespace kvx
