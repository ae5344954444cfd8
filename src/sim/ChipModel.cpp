#include "sim/ChipModel.h"

#include "chip/RegisterMap.h"
#include "chip/StatusBits.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace kvx::sim {

namespace {

// The widest divider field (4 bits) sets the common fixed-point scale, so a divider written in
// the middle of a move keeps the accumulated fraction meaningful.
constexpr int kMaxDivider = 15;
constexpr int kPosFracBits = kMaxDivider + ChipModel::kVelocityShift;
constexpr int kVelFracBits = kMaxDivider + ChipModel::kAccelShift;
constexpr std::int64_t kClocksPerStep =
    ChipModel::kClockHz * ChipModel::kStep.count() / std::chrono::microseconds::period::den;
static_assert(kClocksPerStep == 16'000);

// Constant-velocity stretches are integrated this many steps at a time: long idle gaps stay
// cheap while the fixed-point sums stay far from overflow.
constexpr std::int64_t kChunkSteps = 4096;

[[nodiscard]] std::int32_t wrap24(std::int64_t value)
{
    const auto bits = static_cast<std::int32_t>(value & kDataMask);
    return bits >= 0x800000 ? bits - 0x1000000 : bits;
}

[[nodiscard]] std::int64_t pow2(int exponent)
{
    return std::int64_t{1} << exponent;
}

[[nodiscard]] std::uint32_t writableMask(const RegisterDef &reg)
{
    std::uint32_t mask = 0;
    for (const FieldDef &f : reg.fields) {
        if (!f.readOnly)
            mask |= f.mask();
    }
    return mask;
}

[[nodiscard]] int fieldOf(const std::array<std::uint32_t, 16> &regs, int index, int field)
{
    const RegisterDef &def = motorRegister(index);
    return static_cast<int>(unpackField(def.fields[static_cast<std::size_t>(field)], regs[index]));
}

[[nodiscard]] int valueOf(const std::array<std::uint32_t, 16> &regs, int index)
{
    return fieldOf(regs, index, 0);
}

[[nodiscard]] RampMode rampModeOf(const std::array<std::uint32_t, 16> &regs)
{
    return static_cast<RampMode>(fieldOf(regs, motor::RefConfRampMode, field::RefConf_RampMode));
}

[[nodiscard]] std::int64_t isqrt(std::int64_t n)
{
    auto r = static_cast<std::int64_t>(std::sqrt(static_cast<double>(n)));
    while (r > 0 && r * r > n)
        --r;
    while ((r + 1) * (r + 1) <= n)
        ++r;
    return r;
}

// The highest speed from which the motor can still brake to `floorSpeed` within `distance`
// steps. From v^2 = v0^2 + 2 a d with the units of ChipModel.h the clock cancels out:
// v^2 = floor^2 + A_MAX * d * 2^(PULSDIV - RAMPDIV - 1); SOFTMODE brakes at half the rate.
[[nodiscard]] int brakeSpeed(int floorSpeed, int aMax, std::int64_t distance, int pulsDiv,
                             int rampDiv, bool soft)
{
    const int exponent = pulsDiv - rampDiv - 1 - (soft ? 1 : 0);
    const std::int64_t product = std::int64_t{aMax} * distance;
    const std::int64_t term = exponent >= 0 ? product * pow2(exponent) : product >> -exponent;
    const std::int64_t speed = isqrt(std::int64_t{floorSpeed} * floorSpeed + term);
    return static_cast<int>(std::min<std::int64_t>(speed, ChipModel::kMaxSpeed));
}

[[nodiscard]] bool leftSwitch(std::int32_t x)
{
    return x <= ChipModel::kLeftSwitchPosition;
}
[[nodiscard]] bool rightSwitch(std::int32_t x)
{
    return x >= ChipModel::kRightSwitchPosition;
}

} // namespace

Reply ChipModel::exchange(const Datagram &request)
{
    const std::uint8_t address = request.address;
    const std::uint32_t data = request.data.value();
    const bool write = !isReadAddress(address);
    std::uint32_t content = 0;
    if (isRamAddress(address)) {
        const auto at = static_cast<std::size_t>(ramWordOf(address)) * 2;
        if (write) {
            const auto [even, odd] = unpackRamWord(data);
            m_ram[at] = even;
            m_ram[at + 1] = odd;
        }
        content = packRamWord(m_ram[at], m_ram[at + 1]);
    } else if (bankOf(address) == kCommonBank) {
        if (write)
            writeCommon(registerIndexOf(address), data);
        content = readCommon(registerIndexOf(address));
    } else {
        Motor &m = m_motors[static_cast<std::size_t>(bankOf(address))];
        if (write)
            writeMotor(m, registerIndexOf(address), data);
        content = readMotor(m, registerIndexOf(address));
    }
    return {status(), DataBytes::fromValue(content)};
}

std::uint32_t ChipModel::peek(std::uint8_t address) const
{
    if (isRamAddress(address)) {
        const auto at = static_cast<std::size_t>(ramWordOf(address)) * 2;
        return packRamWord(m_ram[at], m_ram[at + 1]);
    }
    if (bankOf(address) == kCommonBank)
        return readCommon(registerIndexOf(address));
    return readMotor(m_motors[static_cast<std::size_t>(bankOf(address))], registerIndexOf(address));
}

std::uint32_t ChipModel::readMotor(const Motor &m, int index) const
{
    switch (index) {
    case motor::XActual:
        return static_cast<std::uint32_t>(m.x) & kDataMask;
    case motor::VActual:
        return packField(motorRegister(index).fields[0], m.v);
    case motor::AActual:
        return packField(motorRegister(index).fields[0], m.a);
    case motor::XLatched:
        return static_cast<std::uint32_t>(m.latched) & kDataMask;
    default:
        return index < motor::Count ? m.reg[static_cast<std::size_t>(index)] : 0;
    }
}

void ChipModel::writeMotor(Motor &m, int index, std::uint32_t data)
{
    if (index >= motor::Count)
        return;
    const RegisterDef &def = motorRegister(index);
    switch (index) {
    case motor::XActual:
        m.x = wrap24(data);
        m.posFrac = 0;
        return;
    case motor::VActual:
        m.v = static_cast<int>(unpackField(def.fields[0], data));
        m.velFrac = 0;
        return;
    case motor::XLatched:
        m.latched = m.x;
        return;
    default:
        if (def.writable())
            m.reg[static_cast<std::size_t>(index)] = data & writableMask(def);
        return;
    }
}

std::uint32_t ChipModel::readCommon(int index) const
{
    switch (index) {
    case common::SpiTelegramLow:
        return m_telegramLow;
    case common::SpiTelegramHigh:
        return m_telegramHigh;
    case common::SpiCoverPosLen:
        return m_coverPosLen;
    case common::SpiCoverTelegram:
        return m_coverTelegram;
    case common::GlobalParameters:
        return m_global;
    case common::RefSwitches: {
        std::uint32_t bits = 0;
        for (int i = 0; i < kMotorCount; ++i) {
            const std::int32_t x = m_motors[static_cast<std::size_t>(i)].x;
            if (rightSwitch(x))
                bits |= 1u << refSwitchRightBit(i);
            if (leftSwitch(x))
                bits |= 1u << refSwitchLeftBit(i);
        }
        return bits;
    }
    default:
        return 0;
    }
}

void ChipModel::writeCommon(int index, std::uint32_t data)
{
    const RegisterDef *def = commonRegister(index);
    if (def == nullptr)
        return;
    switch (index) {
    case common::SpiTelegramLow:
        m_telegramLow = m_chainLow;
        m_telegramHigh = m_chainHigh;
        m_coverWaiting = false;
        return;
    case common::SpiCoverTelegram:
        m_coverTelegram = data & writableMask(*def);
        m_chainHigh = m_chainLow;
        m_chainLow = m_coverTelegram;
        m_coverWaiting = true;
        return;
    case common::SpiCoverPosLen:
        m_coverPosLen = data & writableMask(*def);
        return;
    case common::GlobalParameters:
        m_global = data & writableMask(*def);
        return;
    default:
        return; // read-only
    }
}

std::uint8_t ChipModel::status() const
{
    const RegisterDef &ints = motorRegister(motor::Interrupts);
    const RegisterDef &refConf = motorRegister(motor::RefConfRampMode);
    std::uint8_t bits = 0;
    bool interrupt = false;
    for (int i = 0; i < kMotorCount; ++i) {
        const Motor &m = m_motors[static_cast<std::size_t>(i)];
        if (wrap24(m.reg[motor::XTarget]) == m.x)
            bits |= static_cast<std::uint8_t>(1u << targetReachedBit(i));
        const auto conf =
            unpackField(refConf.fields[field::RefConf_RefConf], m.reg[motor::RefConfRampMode]);
        const bool useRight = ((conf >> kRefConfRefRnL) & 1) != 0;
        if (useRight ? rightSwitch(m.x) : leftSwitch(m.x))
            bits |= static_cast<std::uint8_t>(1u << referenceSwitchBit(i));
        const std::uint32_t reg = m.reg[motor::Interrupts];
        if ((unpackField(ints.fields[field::Interrupts_Mask], reg) &
             unpackField(ints.fields[field::Interrupts_Flags], reg)) != 0)
            interrupt = true;
    }
    if (m_coverWaiting)
        bits |= 1u << status::CoverWaiting;
    if (interrupt)
        bits |= 1u << status::Interrupt;
    return bits;
}

std::int32_t ChipModel::position(int motor) const
{
    return m_motors.at(static_cast<std::size_t>(motor)).x;
}

int ChipModel::velocity(int motor) const
{
    return m_motors.at(static_cast<std::size_t>(motor)).v;
}

std::uint8_t ChipModel::ramByte(int index) const
{
    return m_ram.at(static_cast<std::size_t>(index));
}

void ChipModel::advanceTo(Micros now)
{
    if (now <= m_now)
        return;
    m_now = now;
    const std::int64_t steps = (now - m_stepTime) / kStep;
    if (steps <= 0)
        return;
    m_stepTime += steps * kStep;
    // The motors do not interact, so each can run its whole stretch on its own.
    for (Motor &m : m_motors)
        advanceMotor(m, steps);
}

bool ChipModel::isActive(const Motor &m) const
{
    switch (rampModeOf(m.reg)) {
    case RampMode::Ramp:
    case RampMode::SoftMode:
        return m.v != 0 ||
               (wrap24(m.reg[motor::XTarget]) != m.x && valueOf(m.reg, motor::VMax) != 0);
    case RampMode::Velocity:
        return m.v != 0 ||
               (valueOf(m.reg, motor::AMax) != 0 && valueOf(m.reg, motor::VTarget) != 0);
    case RampMode::Hold:
        return m.v != 0;
    }
    return false;
}

bool ChipModel::isConstantVelocity(const Motor &m) const
{
    switch (rampModeOf(m.reg)) {
    case RampMode::Hold:
        return true;
    case RampMode::Velocity:
        return valueOf(m.reg, motor::AMax) == 0 ||
               m.v == std::clamp(valueOf(m.reg, motor::VTarget), -kMaxSpeed, kMaxSpeed);
    case RampMode::Ramp:
    case RampMode::SoftMode:
        break;
    }
    return false;
}

void ChipModel::advanceMotor(Motor &m, std::int64_t steps)
{
    while (steps > 0) {
        if (!isActive(m)) {
            m.a = 0;
            return;
        }
        if (isConstantVelocity(m)) {
            const std::int64_t chunk = std::min(steps, kChunkSteps);
            m.a = 0;
            m.x = wrap24(m.x + travel(m, m.v, chunk));
            steps -= chunk;
            continue;
        }
        const RampMode mode = rampModeOf(m.reg);
        if (mode == RampMode::Velocity)
            stepVelocity(m);
        else
            stepPositioning(m, mode == RampMode::SoftMode);
        --steps;
    }
}

std::int64_t ChipModel::travel(Motor &m, std::int64_t v, std::int64_t steps)
{
    const int pulsDiv = fieldOf(m.reg, motor::Dividers, field::Dividers_PulsDiv);
    m.posFrac += v * kClocksPerStep * pow2(kMaxDivider - pulsDiv) * steps;
    // Truncation towards zero keeps moves in both directions alike.
    const std::int64_t whole = m.posFrac / pow2(kPosFracBits);
    m.posFrac -= whole * pow2(kPosFracBits);
    return whole;
}

int ChipModel::velocityIncrement(Motor &m)
{
    const int rampDiv = fieldOf(m.reg, motor::Dividers, field::Dividers_RampDiv);
    m.velFrac += valueOf(m.reg, motor::AMax) * kClocksPerStep * pow2(kMaxDivider - rampDiv);
    const std::int64_t whole = m.velFrac >> kVelFracBits;
    m.velFrac -= whole * pow2(kVelFracBits);
    return static_cast<int>(std::min<std::int64_t>(whole, 2 * kMaxSpeed));
}

void ChipModel::stepPositioning(Motor &m, bool soft)
{
    const std::int32_t target = wrap24(m.reg[motor::XTarget]);
    const std::int64_t distance = wrap24(std::int64_t{target} - m.x);
    const int aMax = valueOf(m.reg, motor::AMax);
    const int aReport = std::min(aMax, kMaxSpeed);
    if (distance == 0) {
        // Stopping here is the only way not to pass the target.
        m.v = 0;
        m.a = 0;
        m.posFrac = 0;
        m.velFrac = 0;
        return;
    }
    const int vMax = valueOf(m.reg, motor::VMax);
    const int floorSpeed = std::max(1, std::min(valueOf(m.reg, motor::VMin), vMax));
    const int dir = distance > 0 ? 1 : -1;

    if (m.v != 0 && (m.v > 0) != (dir > 0)) {
        // The target changed behind the motor: brake to a standstill before turning.
        const int sign = m.v > 0 ? 1 : -1;
        // Without A_MAX the motor could never brake and would run away for good: it stops.
        const int speed = aMax == 0 ? 0 : std::abs(m.v) - velocityIncrement(m);
        m.v = speed <= floorSpeed ? 0 : sign * speed;
        m.a = -sign * aReport;
        m.x = wrap24(m.x + travel(m, m.v, 1));
        return;
    }

    const int pulsDiv = fieldOf(m.reg, motor::Dividers, field::Dividers_PulsDiv);
    const int rampDiv = fieldOf(m.reg, motor::Dividers, field::Dividers_RampDiv);
    const int allowed = brakeSpeed(floorSpeed, aMax, std::abs(distance), pulsDiv, rampDiv, soft);
    const int cap = std::min(vMax, allowed);
    int speed = std::abs(m.v);
    if (speed > allowed) {
        speed = allowed;
        m.a = -dir * aReport;
    } else if (speed > vMax) {
        speed = aMax == 0 ? vMax : std::max(vMax, speed - velocityIncrement(m));
        m.a = -dir * aReport;
    } else if (speed < cap) {
        speed = std::clamp(speed + velocityIncrement(m), floorSpeed, cap);
        m.a = dir * aReport;
    } else {
        m.a = 0;
    }
    m.v = dir * speed;

    const std::int64_t moved = travel(m, m.v, 1);
    if (std::abs(moved) < std::abs(distance)) {
        m.x = wrap24(m.x + moved);
        return;
    }
    m.x = target;
    m.v = 0;
    m.a = 0;
    m.posFrac = 0;
    m.velFrac = 0;
    const FieldDef &flags = motorRegister(motor::Interrupts).fields[field::Interrupts_Flags];
    m.reg[motor::Interrupts] |= std::uint32_t{1} << (flags.lsb + kIntPosEnd);
}

void ChipModel::stepVelocity(Motor &m)
{
    const int target = std::clamp(valueOf(m.reg, motor::VTarget), -kMaxSpeed, kMaxSpeed);
    const int aReport = std::min(valueOf(m.reg, motor::AMax), kMaxSpeed);
    const int increment = velocityIncrement(m);
    if (m.v < target) {
        m.v = std::min(target, m.v + increment);
        m.a = aReport;
    } else {
        m.v = std::max(target, m.v - increment);
        m.a = -aReport;
    }
    if (m.v == target)
        m.velFrac = 0;
    m.x = wrap24(m.x + travel(m, m.v, 1));
}

} // namespace kvx::sim
