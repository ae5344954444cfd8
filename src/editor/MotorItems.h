#pragma once

// The register items of a motor page of the register editor, built from the register map: the
// radio group's 14 items in order, the register each writes, the telegram each composes from
// its fields' values, the texts a polled register shows field by field, and what "Copy" reads
// back from those texts. Pure logic; no widgets.

#include "chip/Datagram.h"
#include "chip/RegisterMap.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <span>

namespace kvx {

inline constexpr int kMotorItemCount = 14;

// The register item `item` (0..13) writes: 0..6 as they are, 7..12 the indices 8..13
// (A_ACTUAL is read only and has no item), 13 X_LATCHED.
[[nodiscard]] constexpr int motorItemRegister(int item)
{
    return item < motor::AActual ? item : item + 1;
}
[[nodiscard]] const RegisterDef &motorItemDef(int item);

// The write telegram of `item` for motor `motor` (0..2) from its fields' values, in the
// register's field order; a read-only field's value is not sent, and X_LATCHED sends zeros.
[[nodiscard]] Datagram composeMotorItem(int motor, int item, std::span<const std::int64_t> values);

// What a polled register shows, one text per field in the register's field order: a flag set
// as its bit string, a flag as "1" or "0", a number in decimal.
[[nodiscard]] QStringList fieldTexts(const RegisterDef &reg, const DataBytes &data);

// The marks "Copy" reads from a shown bit string of `width` characters: field bit i is the
// (width - i)-th character, and a character missing from a shorter text counts as "0".
[[nodiscard]] std::uint32_t copiedFlags(const QString &text, int width);

} // namespace kvx
