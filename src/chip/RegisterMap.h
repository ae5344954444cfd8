#pragma once

// The KVX310's register map: every motor and common register the program addresses, with its
// address bytes, access, value class and bit fields, and the RAM word layout. These tables are
// the one place that knows an address or a bit position; the poll table, the motion commands
// and the register editor are all built from them. Pure data and functions; no Qt widgets.

#include "chip/Datagram.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace kvx {

// How the 24 data bits of a read become the number or text the displays show.
enum class ValueClass : std::uint8_t
{
    Signed23, // two's complement, sign bit 23
    Signed11, // sign bit 11, bits above it not masked off
    Unsigned,
    Hex6,   // six upper-case hexadecimal digits
    Fields, // decoded field by field
};

// The signed code the poll table records for a value class: the sign-bit position, 0, or -6.
[[nodiscard]] constexpr int pollCode(ValueClass c)
{
    switch (c) {
    case ValueClass::Signed23:
        return 23;
    case ValueClass::Signed11:
        return 11;
    case ValueClass::Hex6:
        return -6;
    case ValueClass::Unsigned:
    case ValueClass::Fields:
        break;
    }
    return 0;
}

enum class Access : std::uint8_t
{
    ReadWrite,
    ReadOnly,
    ReadWriteZero, // read; the only write carries all data bits zero
};

enum class FieldKind : std::uint8_t
{
    Unsigned,
    Signed,  // two's complement within the field
    Flag,    // one bit
    FlagSet, // several named bits, item i being field bit i
    Hex,     // edited as hexadecimal digits
};

struct FieldDef
{
    std::string_view name;
    int lsb;   // data bit of the field's bit 0
    int width; // in bits
    FieldKind kind;
    int minimum; // editing range admitted by the register editor
    int maximum;
    std::span<const std::string_view> flagNames = {};
    bool readOnly = false;

    [[nodiscard]] constexpr std::uint32_t mask() const
    {
        return ((width >= 32 ? 0xFFFFFFFFu : ((1u << width) - 1u)) << lsb) & kDataMask;
    }
};

struct RegisterDef
{
    int index; // register index 0..15 within its bank
    std::string_view name;
    Access access;
    ValueClass valueClass;
    std::span<const FieldDef> fields;
    bool common = false; // bank 3 rather than one of the motor banks

    [[nodiscard]] constexpr bool writable() const { return access != Access::ReadOnly; }
    [[nodiscard]] std::uint32_t mask() const;
};

// Register indices of a motor bank.
namespace motor {
inline constexpr int XTarget = 0;
inline constexpr int XActual = 1;
inline constexpr int VMin = 2;
inline constexpr int VMax = 3;
inline constexpr int VTarget = 4;
inline constexpr int VActual = 5;
inline constexpr int AMax = 6;
inline constexpr int AActual = 7;
inline constexpr int Currents = 8; // I_S_AGTAT / I_S_ALEAT / I_S_V0 / A_THRESHOLD
inline constexpr int PMulPDiv = 9;
inline constexpr int RefConfRampMode = 10;
inline constexpr int Interrupts = 11; // INTERRUPT_MASK / INTERRUPT_FLAGS
inline constexpr int Dividers = 12;   // PULSDIV / RAMPDIV / uSTEP_RES
inline constexpr int DxRefTolerance = 13;
inline constexpr int XLatched = 14;
inline constexpr int Count = 15; // index 15 is never addressed
} // namespace motor

// Register indices of the common bank that the program addresses.
namespace common {
inline constexpr int SpiTelegramLow = 0; // its write is "Get Low/High Word"
inline constexpr int SpiTelegramHigh = 1;
inline constexpr int SpiCoverPosLen = 2;
inline constexpr int SpiCoverTelegram = 3;
inline constexpr int RefSwitches = 14;
inline constexpr int GlobalParameters = 15;
} // namespace common

enum class RampMode : std::uint8_t
{
    Ramp = 0,
    SoftMode = 1,
    Velocity = 2,
    Hold = 3,
};

inline constexpr std::string_view kRampModeNames[] = {"RAMP", "SOFTMODE", "VELOCITY", "HOLD"};

// Fields looked up by position in their register's field list.
namespace field {
inline constexpr int Currents_AGTAT = 0, Currents_ALEAT = 1, Currents_V0 = 2,
                     Currents_AThreshold = 3;
inline constexpr int PMulPDiv_PMul = 0, PMulPDiv_PDiv = 1;
inline constexpr int RefConf_LP = 0, RefConf_RefConf = 1, RefConf_RampMode = 2;
inline constexpr int Interrupts_Mask = 0, Interrupts_Flags = 1;
inline constexpr int Dividers_PulsDiv = 0, Dividers_RampDiv = 1, Dividers_MicrostepRes = 2;
inline constexpr int CoverPosLen_Pos = 0, CoverPosLen_Len = 1;
} // namespace field

// Flag bits of REF_CONF (field bits 0..3).
inline constexpr int kRefConfDisableStopL = 0;
inline constexpr int kRefConfDisableStopR = 1;
inline constexpr int kRefConfSoftStop = 2;
inline constexpr int kRefConfRefRnL = 3;

// Flag bits shared by INTERRUPT_MASK and INTERRUPT_FLAGS.
inline constexpr int kIntPosEnd = 0;
inline constexpr int kIntRefWrong = 1;
inline constexpr int kIntRefMiss = 2;
inline constexpr int kIntStop = 3;
inline constexpr int kIntStopLeftLow = 4;
inline constexpr int kIntStopRightLow = 5;
inline constexpr int kIntStopLeftHigh = 6;
inline constexpr int kIntStopRightHigh = 7;

// Bits of the global parameter register (common index 15) and the reference switches (14).
namespace global {
inline constexpr int Lsmd = 0, SpiCs = 1, SpiClk = 2, PoPH = 3, PoFD = 4, PoDAC = 5, CsComInd = 6,
                     SpiClkDiv = 7, SpiContinuousUpd = 8, RefMux = 9, M1RRef = 10;
} // namespace global
// Data bit of a motor's right (left = right + 1) switch in the reference switch register.
[[nodiscard]] constexpr int refSwitchRightBit(int motor)
{
    return 2 * motor;
}
[[nodiscard]] constexpr int refSwitchLeftBit(int motor)
{
    return 2 * motor + 1;
}

[[nodiscard]] std::span<const RegisterDef> motorRegisters();
[[nodiscard]] std::span<const RegisterDef> commonRegisters();
[[nodiscard]] const RegisterDef &motorRegister(int index);
// nullptr for the common indices the program never addresses.
[[nodiscard]] const RegisterDef *commonRegister(int index);

// Address bytes; nullopt where the register is never written. motor is 0..2 and is ignored
// for common registers.
[[nodiscard]] std::uint8_t readAddress(const RegisterDef &reg, int motor = 0);
[[nodiscard]] std::optional<std::uint8_t> writeAddress(const RegisterDef &reg, int motor = 0);
[[nodiscard]] constexpr std::uint8_t motorReadAddress(int motorIndex, int reg)
{
    return registerAddress(motorIndex, reg, true);
}
[[nodiscard]] constexpr std::uint8_t motorWriteAddress(int motorIndex, int reg)
{
    return registerAddress(motorIndex, reg, false);
}
[[nodiscard]] constexpr std::uint8_t commonReadAddress(int reg)
{
    return registerAddress(kCommonBank, reg, true);
}
[[nodiscard]] constexpr std::uint8_t commonWriteAddress(int reg)
{
    return registerAddress(kCommonBank, reg, false);
}

// One field: the value is reduced to the field's width before it is placed.
[[nodiscard]] constexpr std::uint32_t packField(const FieldDef &f, std::int64_t value)
{
    const auto bits = static_cast<std::uint64_t>(value) & ((std::uint64_t{1} << f.width) - 1);
    return static_cast<std::uint32_t>(bits << f.lsb) & kDataMask;
}
[[nodiscard]] std::int64_t unpackField(const FieldDef &f, std::uint32_t data);

// A whole register from its field values, in the order of its field list; missing values
// count as 0 and fields marked read-only are sent as 0.
[[nodiscard]] std::uint32_t pack(const RegisterDef &reg, std::span<const std::int64_t> values);
[[nodiscard]] std::vector<std::int64_t> unpack(const RegisterDef &reg, std::uint32_t data);

// SPI_COVER_TELEGRAM typed as six hexadecimal digits: each pair is read on its own, and a pair
// that is not a hexadecimal number gives 0 for its byte only.
[[nodiscard]] std::uint32_t packHexText(std::string_view text);
// The value of a hexadecimal digit, either case; -1 for anything else.
[[nodiscard]] constexpr int hexDigit(char32_t c)
{
    if (c >= U'0' && c <= U'9')
        return int(c - U'0');
    if (c >= U'A' && c <= U'F')
        return int(c - U'A') + 10;
    if (c >= U'a' && c <= U'f')
        return int(c - U'a') + 10;
    return -1;
}

// RAM word w carries table byte 2w in bits 7..0 and byte 2w + 1 in bits 15..8.
[[nodiscard]] constexpr std::uint32_t packRamWord(std::uint8_t evenByte, std::uint8_t oddByte)
{
    return (std::uint32_t{oddByte} << 8) | evenByte;
}
[[nodiscard]] constexpr std::pair<std::uint8_t, std::uint8_t> unpackRamWord(std::uint32_t data)
{
    return {static_cast<std::uint8_t>(data), static_cast<std::uint8_t>(data >> 8)};
}

} // namespace kvx
