#pragma once

// The trace recorder behind the graphic display: for each of the three motors the last 480
// poll cycles of actual position, actual velocity, target velocity and actual acceleration,
// each sample with its pixel row worked out when it is stored, the auto-scaling of the four
// axes and the averaged duration of a poll cycle. Owns fixed sample arrays only; nothing is
// allocated while recording. No widgets: the window asks it what to draw. User-interface
// thread only (the poll scheduler feeds it); the millisecond clock is injectable for tests.
// Each cycle's time for the files is when its first request went out, as the link tells it.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

namespace kvx {

// One recorded value and the plot row it maps to with the scale factor in force when the
// row was last computed.
struct TraceSample
{
    std::int32_t value = 0; // what is plotted: the magnitude on the rate curves
    std::int32_t row = 0;
    std::int32_t reading = 0; // the value as polled, signed, for the files

    friend bool operator==(const TraceSample &, const TraceSample &) = default;
};

enum class TraceCurve
{
    Velocity,
    Position,
    Acceleration,
    TargetVelocity,
};

// The scale of one motor's four axes. Velocity, acceleration and target velocity are multiples
// of 100 and at least 100; the position limits are multiples of 5000, the lower one never
// above 0. Held in 64 bits so that no 32-bit sample, however far out, overflows its rounding.
struct TraceLimits
{
    std::int64_t velocity = 100;
    std::int64_t acceleration = 100;
    std::int64_t upperPosition = 5000;
    std::int64_t lowerPosition = 0;
    std::int64_t targetVelocity = 100;

    friend bool operator==(const TraceLimits &, const TraceLimits &) = default;
};

// What one tick did, so that the window knows what to repaint.
struct TraceTick
{
    bool advanced = false; // false when the stop test froze the plot
    // Per motor: its limits changed (its scale strips and every row of its curves with them);
    // a rescale that ends on the limits in force changes nothing that is seen.
    std::array<bool, 3> rescaled{};
};

class TraceRecorder
{
public:
    // The system's millisecond tick counter: a full unsigned 32-bit count that wraps.
    using Clock = std::function<std::uint32_t()>;

    static constexpr int kMotorCount = 3;
    static constexpr int kSlotCount = 481;
    static constexpr int kMaxFill = kSlotCount - 1;
    static constexpr int kBaselineRow = 431; // row of the value 0 and of the lower position limit
    static constexpr int kPlotHeight = 420;  // rows from the baseline up to the scale limit
    static constexpr int kLimitRow = kBaselineRow - kPlotHeight;

    // The state at creation: cleared, with position scales 0 to 5000 and the others at 100.
    TraceRecorder();

    void setClock(Clock clock);

    // Store one polled value in the cycle in progress; a motor outside 0..2 is ignored.
    void AddPosition(std::int32_t value, int motor);
    void AddVelocity(std::int32_t value, int motor);
    void AddTargetVelocity(std::int32_t value, int motor);
    void AddAcceleration(std::int32_t value, int motor);

    // When a request of the cycle in progress went out (the link's fine clock, microseconds):
    // the first of a cycle times it. A cycle begun before the recorder was created or cleared
    // is not one of its own and stays untimed, however much of it is stored.
    void noteCycleStart(std::int64_t micros);
    // Ends the cycle in progress: stop test, advance or scroll, rescale, interval.
    TraceTick NextSample(bool stopWhenIdle);
    // Empties every buffer, as "Clear display" does.
    void Clear();
    // New factors from the motor's limits and every row of the motor recomputed with them.
    void RescaleMotor(int motor);

    // Slots 0 to fill() - 1 hold complete cycles; slot fill() takes the cycle in progress.
    [[nodiscard]] int fill() const { return m_fill; }
    // A zero sample for a slot or motor out of range.
    [[nodiscard]] TraceSample sample(TraceCurve curve, int slot, int motor) const;
    [[nodiscard]] TraceLimits limits(int motor) const;
    [[nodiscard]] double factor(TraceCurve curve, int motor) const;
    // When the first request of a complete slot's cycle went out; none for a cycle not timed
    // whole (see noteCycleStart) and for a slot not yet complete or out of range.
    [[nodiscard]] std::optional<std::int64_t> cycleStart(int slot) const;
    [[nodiscard]] std::int32_t averagedInterval() const { return m_averagedInterval; }
    // The interval as the display shows it, rounded down to 10 ms; none ("---") right after a
    // clear and at the first tick after a stop.
    [[nodiscard]] std::optional<std::int32_t> shownInterval() const { return m_shownInterval; }

private:
    using Curve = std::array<std::array<TraceSample, kMotorCount>, kSlotCount>;

    [[nodiscard]] static bool validMotor(int motor) { return motor >= 0 && motor < kMotorCount; }
    [[nodiscard]] Curve &curve(TraceCurve c) { return m_curves[static_cast<std::size_t>(c)]; }
    [[nodiscard]] const Curve &curve(TraceCurve c) const
    {
        return m_curves[static_cast<std::size_t>(c)];
    }
    [[nodiscard]] std::int32_t rowFor(TraceCurve c, std::int64_t value, int motor) const;
    void store(TraceCurve c, std::int32_t reading, std::int32_t value, int motor);
    void storeMagnitude(TraceCurve c, std::int32_t value, int motor);
    [[nodiscard]] bool stopTestHolds() const;
    void advance();
    // The slot of the cycle now in progress starts untimed.
    void newCycle();
    [[nodiscard]] bool rescaleIfNeeded(int motor);
    void measureInterval(std::uint32_t now);

    std::array<std::array<double, kMotorCount>, 4> m_factors{}; // by TraceCurve, then motor
    std::array<TraceLimits, kMotorCount> m_limits{};
    // Whether the factors of a motor were derived from its current limits. A clear sets
    // factors that fit the full register range instead, so equal limits alone do not prove
    // that the rows fit the scale.
    std::array<bool, kMotorCount> m_scaled{};
    std::array<Curve, 4> m_curves{}; // by TraceCurve; slot first so one move scrolls all motors
    std::array<std::optional<std::int64_t>, kSlotCount> m_cycleStart{}; // scrolls with them
    bool m_cycleBegun = false; // the cycle in progress began after the last clear
    int m_fill = 0;
    std::optional<std::uint32_t> m_lastTick; // none after a clear or a stop
    std::int32_t m_averagedInterval = -1;
    std::optional<std::int32_t> m_shownInterval;
    Clock m_clock;
};

} // namespace kvx
