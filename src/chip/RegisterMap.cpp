#include "chip/RegisterMap.h"

#include <algorithm>
#include <array>
#include <cassert>

namespace kvx {

namespace {

constexpr std::string_view kRefConfFlags[] = {"DISABLE_STOP_L", "DISABLE_STOP_R", "SOFT_STOP",
                                              "REF_RnL"};
constexpr std::string_view kMaskFlags[] = {
    "MASK_POS_END",       "MASK_REF_WRONG",      "MASK_REF_MISS",       "MASK_STOP",
    "MASK_STOP_LEFT_LOW", "MASK_STOP_RIGHT_LOW", "MASK_STOP_LEFT_HIGH", "MASK_STOP_RIGHT_HIGH",
};
constexpr std::string_view kIntFlags[] = {
    "INT_POS_END",       "INT_REF_WRONG",      "INT_REF_MISS",       "INT_STOP",
    "INT_STOP_LEFT_LOW", "INT_STOP_RIGHT_LOW", "INT_STOP_LEFT_HIGH", "INT_STOP_RIGHT_HIGH",
};

using K = FieldKind;

constexpr FieldDef kPosition[] = {{"position", 0, 24, K::Signed, -8388608, 8388607}};
constexpr FieldDef kLatched[] = {{"latched position", 0, 24, K::Signed, 0, 0, {}, true}};
constexpr FieldDef kVelocityU[] = {{"velocity", 0, 12, K::Unsigned, 0, 2047}};
constexpr FieldDef kVelocityS[] = {{"velocity", 0, 12, K::Signed, -2048, 2047}};
constexpr FieldDef kAccelU[] = {{"acceleration", 0, 12, K::Unsigned, 0, 2047}};
constexpr FieldDef kAccelS[] = {{"acceleration", 0, 12, K::Signed, -2048, 2047, {}, true}};
constexpr FieldDef kTolerance[] = {{"tolerance", 0, 12, K::Unsigned, 0, 4095}};
constexpr FieldDef kCurrents[] = {
    {"I_S_AGTAT", 20, 4, K::Unsigned, 0, 7},
    {"I_S_ALEAT", 16, 4, K::Unsigned, 0, 7},
    {"I_S_V0", 12, 4, K::Unsigned, 0, 7},
    {"A_THRESHOLD", 0, 11, K::Unsigned, 0, 2047},
};
constexpr FieldDef kPMulPDiv[] = {
    {"P_MUL", 8, 8, K::Unsigned, 128, 255},
    {"P_DIV", 0, 4, K::Unsigned, 0, 13},
};
constexpr FieldDef kRefConf[] = {
    {"LP", 16, 1, K::Flag, 0, 1, {}, true},
    {"REF_CONF", 8, 4, K::FlagSet, 0, 15, kRefConfFlags},
    {"RAMP_MODE", 0, 2, K::Unsigned, 0, 3},
};
constexpr FieldDef kInterrupts[] = {
    {"INTERRUPT_MASK", 8, 8, K::FlagSet, 0, 255, kMaskFlags},
    {"INTERRUPT_FLAGS", 0, 8, K::FlagSet, 0, 255, kIntFlags},
};
constexpr FieldDef kDividers[] = {
    {"PULSDIV", 12, 4, K::Unsigned, 0, 13},
    {"RAMPDIV", 8, 4, K::Unsigned, 0, 13},
    {"µSTEP_RES", 0, 3, K::Unsigned, 0, 7},
};

constexpr FieldDef kTelegramWord[] = {{"content", 0, 24, K::Hex, 0, 0xFFFFFF, {}, true}};
constexpr FieldDef kCoverTelegram[] = {{"content", 0, 24, K::Hex, 0, 0xFFFFFF}};
constexpr FieldDef kCoverPosLen[] = {
    {"SPI_COVER_POS", 8, 6, K::Unsigned, 0, 63},
    {"SPI_COVER LEN", 0, 5, K::Unsigned, 0, 31},
};
constexpr FieldDef kRefSwitches[] = {
    {"Right 1", 0, 1, K::Flag, 0, 1, {}, true}, {"Left 1", 1, 1, K::Flag, 0, 1, {}, true},
    {"Right 2", 2, 1, K::Flag, 0, 1, {}, true}, {"Left 2", 3, 1, K::Flag, 0, 1, {}, true},
    {"Right 3", 4, 1, K::Flag, 0, 1, {}, true}, {"Left 3 ", 5, 1, K::Flag, 0, 1, {}, true},
};
constexpr FieldDef kGlobal[] = {
    {"LSMD", 0, 2, K::Unsigned, 0, 3},
    {"SPI_CS", 2, 1, K::Flag, 0, 1},
    {"SPI_CLK", 3, 1, K::Flag, 0, 1},
    {"PoPH", 4, 1, K::Flag, 0, 1},
    {"PoFD", 5, 1, K::Flag, 0, 1},
    {"PoDAC", 6, 1, K::Flag, 0, 1},
    {"csComInd", 7, 1, K::Flag, 0, 1},
    {"SPI_CLK_DIV", 8, 8, K::Unsigned, 0, 255},
    {"SPI_CONTINUOS_UPD", 16, 1, K::Flag, 0, 1},
    {"REFMUX", 20, 1, K::Flag, 0, 1},
    {"M1R_REF", 21, 1, K::Flag, 0, 1},
};

using A = Access;
using V = ValueClass;

constexpr RegisterDef kMotorRegisters[] = {
    {motor::XTarget, "X_TARGET", A::ReadWrite, V::Signed23, kPosition},
    {motor::XActual, "X_ACTUAL", A::ReadWrite, V::Signed23, kPosition},
    {motor::VMin, "V_MIN", A::ReadWrite, V::Unsigned, kVelocityU},
    {motor::VMax, "V_MAX", A::ReadWrite, V::Unsigned, kVelocityU},
    {motor::VTarget, "V_TARGET", A::ReadWrite, V::Signed11, kVelocityS},
    {motor::VActual, "V_ACTUAL", A::ReadWrite, V::Signed11, kVelocityS},
    {motor::AMax, "A_MAX", A::ReadWrite, V::Unsigned, kAccelU},
    {motor::AActual, "A_ACTUAL", A::ReadOnly, V::Signed11, kAccelS},
    {motor::Currents, "I_S_AGTAT / I_S_ALEAT / I_S_V0 / A_THRESHOLD", A::ReadWrite, V::Fields,
     kCurrents},
    {motor::PMulPDiv, "P_MUL / P_DIV", A::ReadWrite, V::Fields, kPMulPDiv},
    {motor::RefConfRampMode, "REF_CONF / RAMP_MODE", A::ReadWrite, V::Fields, kRefConf},
    {motor::Interrupts, "INTERRUPT_MASK / INTERRUPT_FLAGS", A::ReadWrite, V::Fields, kInterrupts},
    {motor::Dividers, "PULSDIV / RAMPDIV / µSTEP_RES", A::ReadWrite, V::Fields, kDividers},
    {motor::DxRefTolerance, "DX_REF_TOLERANCE", A::ReadWrite, V::Unsigned, kTolerance},
    {motor::XLatched, "X_LATCHED", A::ReadWriteZero, V::Signed23, kLatched},
};
static_assert(std::size(kMotorRegisters) == motor::Count);

constexpr RegisterDef kCommonRegisters[] = {
    {common::SpiTelegramLow, "SPI_TELEGRAM_LOW_WORD", A::ReadWriteZero, V::Hex6, kTelegramWord,
     true},
    {common::SpiTelegramHigh, "SPI_TELEGRAM_HIGH_WORD", A::ReadOnly, V::Hex6, kTelegramWord, true},
    {common::SpiCoverPosLen, "SPI_COVER_POS / SPI_COVER LEN", A::ReadWrite, V::Fields, kCoverPosLen,
     true},
    {common::SpiCoverTelegram, "SPI_COVER_TELEGRAM", A::ReadWrite, V::Hex6, kCoverTelegram, true},
    {common::RefSwitches, "Reference Switches", A::ReadOnly, V::Fields, kRefSwitches, true},
    {common::GlobalParameters, "Stepper Motor Global Parameter Reg.", A::ReadWrite, V::Fields,
     kGlobal, true},
};


} // namespace

std::uint32_t RegisterDef::mask() const
{
    std::uint32_t m = 0;
    for (const FieldDef &f : fields)
        m |= f.mask();
    return m;
}

std::span<const RegisterDef> motorRegisters()
{
    return kMotorRegisters;
}
std::span<const RegisterDef> commonRegisters()
{
    return kCommonRegisters;
}

const RegisterDef &motorRegister(int index)
{
    assert(index >= 0 && index < motor::Count);
    return kMotorRegisters[index];
}

const RegisterDef *commonRegister(int index)
{
    const auto it = std::find_if(std::begin(kCommonRegisters), std::end(kCommonRegisters),
                                 [index](const RegisterDef &r) { return r.index == index; });
    return it == std::end(kCommonRegisters) ? nullptr : &*it;
}

std::uint8_t readAddress(const RegisterDef &reg, int motor)
{
    return registerAddress(reg.common ? kCommonBank : motor, reg.index, true);
}

std::optional<std::uint8_t> writeAddress(const RegisterDef &reg, int motor)
{
    if (!reg.writable())
        return std::nullopt;
    return registerAddress(reg.common ? kCommonBank : motor, reg.index, false);
}

std::int64_t unpackField(const FieldDef &f, std::uint32_t data)
{
    const std::int64_t raw = (data & f.mask()) >> f.lsb;
    if (f.kind == FieldKind::Signed && f.width > 0 && (raw >> (f.width - 1)) != 0)
        return raw - (std::int64_t{1} << f.width);
    return raw;
}

std::uint32_t pack(const RegisterDef &reg, std::span<const std::int64_t> values)
{
    // A write of a register whose only write is zero ("Get Low/High Word", X_LATCHED) carries
    // nothing else, whatever the editor holds.
    if (reg.access == Access::ReadWriteZero)
        return 0;
    std::uint32_t data = 0;
    for (std::size_t i = 0; i < reg.fields.size() && i < values.size(); ++i) {
        if (!reg.fields[i].readOnly)
            data |= packField(reg.fields[i], values[i]);
    }
    return data;
}

std::vector<std::int64_t> unpack(const RegisterDef &reg, std::uint32_t data)
{
    std::vector<std::int64_t> values;
    values.reserve(reg.fields.size());
    for (const FieldDef &f : reg.fields)
        values.push_back(unpackField(f, data));
    return values;
}

std::uint32_t packHexText(std::string_view text)
{
    std::uint32_t data = 0;
    for (int pair = 0; pair < 3; ++pair) {
        const std::size_t at = static_cast<std::size_t>(pair) * 2;
        const std::string_view digits = at < text.size() ? text.substr(at, 2) : std::string_view{};
        int byte = digits.empty() ? -1 : 0;
        for (char c : digits) {
            const int d = hexDigit(c);
            if (d < 0) {
                byte = -1;
                break;
            }
            byte = byte * 16 + d;
        }
        data = (data << 8) | static_cast<std::uint32_t>(byte < 0 ? 0 : byte);
    }
    return data;
}

} // namespace kvx
