#pragma once

// The names the command-line tool gives the register map's values: every register of one
// value by its own name (X_TARGET), every field of a register of several by the field's name
// (P_MUL, RAMP_MODE), a field also as REGISTER.FIELD (REF_CONF.RAMP_MODE), and a register of
// several fields by its whole name (REFERENCE_SWITCHES). Names are matched without regard to
// case; blanks are written as "_" and "µ" as "u". How a value reads and is written as text,
// range-checked as the register editor checks it. Pure logic.

#include "chip/RegisterMap.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace kvx {

// One value: a whole register of one field, or one field of a register.
struct Item
{
    const RegisterDef *reg = nullptr;
    int field = 0; // index in reg->fields
    QString name;

    [[nodiscard]] const FieldDef &def() const { return reg->fields[std::size_t(field)]; }
    [[nodiscard]] bool common() const { return reg->common; }
    // A value a write may set: its register is written with data and the field is not one
    // the chip keeps for itself.
    [[nodiscard]] bool writable() const;
    // A setting a snapshot keeps: writable, not a flag the chip raises (INTERRUPT_FLAGS) and
    // not a telegram sent by its write (SPI_COVER_TELEGRAM).
    [[nodiscard]] bool setting() const;
};

// Every value, the motor registers' first, in register and field order.
[[nodiscard]] const std::vector<Item> &allItems();
// The values a name stands for (several for a register's whole name); empty with `error` set
// when it names none.
[[nodiscard]] std::vector<Item> findItems(const QString &name, QString *error);
// The name as the tool writes it: "REF_CONF" for "REF_CONF", "uSTEP_RES" for "µSTEP_RES".
[[nodiscard]] QString toolName(std::string_view name);

// The value of `item` in a register's 24 data bits, as the windows show it: signed where the
// field is, RAMP_MODE by name, flag sets as bits, hexadecimal fields as six digits.
[[nodiscard]] QString valueText(const Item &item, std::uint32_t data);
[[nodiscard]] std::int64_t value(const Item &item, std::uint32_t data);
// A value typed for `item`: a decimal number, 0x.. hexadecimal, 0b.. binary, the digits a
// flag set or hexadecimal field shows, flag names joined by "|", or a ramp mode's name.
// Nothing, with `error` saying why, when it is not one or lies outside the range: the one the
// register editor admits, or for a value read from the board (a snapshot), any the field's
// bits hold.
enum class Range
{
    Editor,
    Bits,
};
[[nodiscard]] std::optional<std::int64_t> parseValue(const Item &item, const QString &text,
                                                     QString *error, Range range = Range::Editor);
// The range the register editor admits for `item` of `motor` (0..2, -1 for a common register):
// the field's, but the Motor 3 page takes no -2048 for V_TARGET and V_ACTUAL.
struct ValueRange
{
    std::int64_t low = 0;
    std::int64_t high = 0;
    [[nodiscard]] bool contains(std::int64_t v) const { return v >= low && v <= high; }
};
[[nodiscard]] ValueRange editorRange(const Item &item, int motor);
// A whole number as the tool takes one: decimal, 0x.. hexadecimal or 0b.. binary, with a sign;
// nothing when it is not one.
[[nodiscard]] std::optional<std::int64_t> parseNumber(const QString &text);
// The register's data with `item` set to `v` (already range-checked).
[[nodiscard]] std::uint32_t withValue(const Item &item, std::uint32_t data, std::int64_t v);

// A name of the register map as text.
[[nodiscard]] QString nameOf(std::string_view name);
// "M1 " for motor 0, nothing for a common register (-1).
[[nodiscard]] QString motorLabel(int motor);

} // namespace kvx
