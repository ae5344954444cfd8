#pragma once

// A model of the KVX310 as the front end sees it: the register file of the three motor banks
// and the common bank, the 128-byte on-chip RAM, the status byte and the motion of the three
// motors. Pure and driven by the time it is given (no clock, no I/O); single-threaded, owned by
// SimulatedBoard or used directly by tests.
//
// What only the chip knows, as this model chooses it:
// - Clock and units. A 16 MHz chip clock. A motor runs at
//       steps/s = kClockHz * |V| / 2^(PULSDIV + kVelocityShift)         (V = 100: 6103.5 steps/s)
//   and changes its velocity register at
//       units/s = kClockHz * A_MAX / 2^(RAMPDIV + kAccelShift)          (A_MAX = 100: 1525.9/s)
//   so a RAMP move with V_MAX 100, A_MAX 100 over 1000 steps takes about a quarter second.
// - Integration in fixed steps of kStep (1 ms) of board time with exact fixed-point fractional
//   accumulators, so the result does not depend on how the time is handed over. Motors at rest
//   are skipped and constant-velocity stretches are integrated in chunks, so long idle gaps
//   are cheap.
// - RAMP (0): a trapezoid towards X_TARGET bounded by V_MAX and A_MAX; it starts at
//   max(V_MIN, 1) (a speed of 0 would never arrive), brakes along the curve that reaches
//   max(V_MIN, 1) at the target and lands exactly on it, never past it. A motor still moving
//   away from a changed target first brakes at A_MAX. V_MAX 0 holds the motor; with A_MAX 0
//   speeds above V_MAX or away from the target drop at once (it could never brake) and the
//   move runs at max(V_MIN, 1).
// - SOFTMODE (1): as RAMP, but it brakes at A_MAX / 2, so it starts braking earlier.
// - VELOCITY (2): V_ACTUAL ramps to V_TARGET at A_MAX (A_MAX 0 leaves V_ACTUAL as it is).
// - HOLD (3): V_ACTUAL stays as written.
// - Velocities reached by motion saturate at +-kMaxSpeed; positions wrap as 24-bit two's
//   complement, and RAMP takes the shorter way round the wrapped difference.
// - A_ACTUAL reads +-A_MAX (in the sense of the velocity change) while the velocity is being
//   ramped, 0 otherwise.
// - Reference switches: each motor has a left switch, active at X_ACTUAL <= kLeftSwitchPosition,
//   and a right switch, active at X_ACTUAL >= kRightSwitchPosition. They are sensed only (no
//   stop). Status bit 2m+1 shows the left one, or the right one when REF_RnL is set.
// - INTERRUPT_FLAGS store what is written (the editor writes mask and flags together);
//   INT_POS_END is raised when a RAMP or SOFTMODE move arrives at its target. Status bit 7 is
//   set while any motor has a flag raised whose mask bit is set.
// - SPI driver chain: a 48-bit shift register fed by each SPI_COVER_TELEGRAM write (the
//   previous telegram moves to the high word); the write "Get Low/High Word" latches the chain
//   into SPI_TELEGRAM_LOW_WORD / HIGH_WORD. COVER_WAITING is set by a cover telegram write and
//   cleared by the latch.
// - A write to X_LATCHED (its data is ignored) latches X_ACTUAL.
// - Writes keep only the bits of the register's writable fields; read-only registers (A_ACTUAL,
//   SPI_TELEGRAM_HIGH_WORD, the reference switches) and the LP flag ignore writes; indices
//   outside the register map read 0 and ignore writes.
// - The reply to a write carries the register's (or RAM word's) content after the write, as a
//   read right after it would; every reply's status byte is sampled after the datagram ran.

#include "chip/Datagram.h"
#include "sim/SimTime.h"

#include <array>
#include <chrono>
#include <cstdint>

namespace kvx::sim {

class ChipModel
{
public:
    static constexpr std::int64_t kClockHz = 16'000'000;
    static constexpr int kVelocityShift = 18;
    static constexpr int kAccelShift = 20;
    static constexpr Micros kStep{1000};
    static constexpr std::int32_t kLeftSwitchPosition = -100'000;
    static constexpr std::int32_t kRightSwitchPosition = 100'000;
    static constexpr int kMaxSpeed = 2047;

    ChipModel() = default;

    // Runs one datagram at the chip's current time and returns its reply.
    Reply exchange(const Datagram &request);

    // Lets the motors run up to `now`; earlier times than the chip's are ignored.
    void advanceTo(Micros now);

    [[nodiscard]] Micros now() const { return m_now; }
    [[nodiscard]] std::uint8_t status() const;
    // The 24 data bits a read of `address` would return now, without running anything.
    [[nodiscard]] std::uint32_t peek(std::uint8_t address) const;

    [[nodiscard]] std::int32_t position(int motor) const; // X_ACTUAL
    [[nodiscard]] int velocity(int motor) const;          // V_ACTUAL
    [[nodiscard]] std::uint8_t ramByte(int index) const;

private:
    struct Motor
    {
        std::array<std::uint32_t, 16> reg{}; // stored content of the plain registers
        std::int32_t x = 0;                  // X_ACTUAL, -2^23 .. 2^23 - 1
        int v = 0;                           // V_ACTUAL
        int a = 0;                           // A_ACTUAL
        std::int32_t latched = 0;            // X_LATCHED
        std::int64_t posFrac = 0;            // steps, scaled by 2^kPosFracBits
        std::int64_t velFrac = 0;            // velocity units, scaled by 2^kVelFracBits
    };

    [[nodiscard]] std::uint32_t readMotor(const Motor &m, int index) const;
    void writeMotor(Motor &m, int index, std::uint32_t data);
    [[nodiscard]] std::uint32_t readCommon(int index) const;
    void writeCommon(int index, std::uint32_t data);

    void advanceMotor(Motor &m, std::int64_t steps);
    void stepPositioning(Motor &m, bool soft);
    void stepVelocity(Motor &m);
    [[nodiscard]] bool isActive(const Motor &m) const;
    [[nodiscard]] bool isConstantVelocity(const Motor &m) const;
    [[nodiscard]] std::int64_t travel(Motor &m, std::int64_t v, std::int64_t steps);
    [[nodiscard]] int velocityIncrement(Motor &m);

    std::array<Motor, kMotorCount> m_motors{};
    std::array<std::uint8_t, kRamByteCount> m_ram{};
    std::uint32_t m_coverPosLen = 0;
    std::uint32_t m_coverTelegram = 0;
    std::uint32_t m_global = 0;
    std::uint32_t m_chainLow = 0; // the driver chain's shift register
    std::uint32_t m_chainHigh = 0;
    std::uint32_t m_telegramLow = 0; // what "Get Low/High Word" latched
    std::uint32_t m_telegramHigh = 0;
    bool m_coverWaiting = false;
    Micros m_now{0};
    Micros m_stepTime{0}; // board time of the last integration step boundary
};

} // namespace kvx::sim
