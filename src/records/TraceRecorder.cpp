#include "records/TraceRecorder.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

namespace kvx {

namespace {

constexpr std::int64_t kRateStep = 100; // velocity, acceleration, target velocity
constexpr std::int64_t kPositionStep = 5000;
constexpr std::int64_t kRegisterRange = 2047; // 12-bit magnitude of the rate registers
constexpr std::int64_t kPositionRange = 16777215;
constexpr std::int64_t kClearedUpperPosition = 10000;

constexpr std::array kMagnitudeCurves = {TraceCurve::Velocity, TraceCurve::Acceleration,
                                         TraceCurve::TargetVelocity};
constexpr std::array kAllCurves = {TraceCurve::Velocity, TraceCurve::Position,
                                   TraceCurve::Acceleration, TraceCurve::TargetVelocity};

std::uint32_t systemTicks()
{
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<std::uint32_t>(ms); // the counter wraps like the system's
}

// Rounds a rate maximum up to the next multiple of 100, at least 100.
std::int64_t rateLimit(std::int64_t maximum)
{
    std::int64_t limit = kRateStep * (maximum / kRateStep);
    if (maximum % kRateStep != 0)
        limit += kRateStep;
    return std::max(limit, kRateStep);
}

} // namespace

TraceRecorder::TraceRecorder()
    : m_clock(systemTicks)
{
    Clear();
    m_limits.fill(TraceLimits{});
    // A clear falls within a cycle; a recorder starts with its first one.
    m_cycleBegun = true;
}

void TraceRecorder::setClock(Clock clock)
{
    m_clock = clock ? std::move(clock) : Clock(systemTicks);
}

std::int32_t TraceRecorder::rowFor(TraceCurve c, std::int64_t value, int motor) const
{
    const auto m = static_cast<std::size_t>(motor);
    const std::int64_t above =
        c == TraceCurve::Position ? value - m_limits[m].lowerPosition : value;
    const double row = kBaselineRow - std::trunc(static_cast<double>(above) *
                                                 m_factors[static_cast<std::size_t>(c)][m]);
    // A value far beyond the scale maps far outside the plot until the next tick rescales;
    // saturate it rather than overflow the row.
    constexpr double kLowest = std::numeric_limits<std::int32_t>::min();
    constexpr double kHighest = std::numeric_limits<std::int32_t>::max();
    return static_cast<std::int32_t>(std::clamp(row, kLowest, kHighest));
}

void TraceRecorder::store(TraceCurve c, std::int32_t reading, std::int32_t value, int motor)
{
    if (!validMotor(motor))
        return;
    TraceSample &s = curve(c)[static_cast<std::size_t>(m_fill)][static_cast<std::size_t>(motor)];
    s.value = value;
    s.row = rowFor(c, value, motor);
    s.reading = reading;
}

void TraceRecorder::storeMagnitude(TraceCurve c, std::int32_t value, int motor)
{
    // |-2^31| has no 32-bit value; the registers never come near it.
    const std::int64_t magnitude = std::min<std::int64_t>(std::abs(std::int64_t{value}),
                                                          std::numeric_limits<std::int32_t>::max());
    store(c, value, static_cast<std::int32_t>(magnitude), motor);
}

void TraceRecorder::AddPosition(std::int32_t value, int motor)
{
    store(TraceCurve::Position, value, value, motor);
}

void TraceRecorder::AddVelocity(std::int32_t value, int motor)
{
    storeMagnitude(TraceCurve::Velocity, value, motor);
}

void TraceRecorder::AddTargetVelocity(std::int32_t value, int motor)
{
    storeMagnitude(TraceCurve::TargetVelocity, value, motor);
}

void TraceRecorder::AddAcceleration(std::int32_t value, int motor)
{
    storeMagnitude(TraceCurve::Acceleration, value, motor);
}

TraceTick TraceRecorder::NextSample(bool stopWhenIdle)
{
    TraceTick tick;
    if (stopWhenIdle && stopTestHolds()) {
        m_lastTick.reset();
        newCycle(); // the next cycle takes the slot over, and its time with it
        return tick;
    }
    tick.advanced = true;
    advance();
    newCycle();
    for (int m = 0; m < kMotorCount; ++m)
        tick.rescaled[static_cast<std::size_t>(m)] = rescaleIfNeeded(m);
    measureInterval(m_clock());
    return tick;
}

void TraceRecorder::newCycle()
{
    m_cycleStart[static_cast<std::size_t>(m_fill)].reset();
    m_cycleBegun = true;
}

void TraceRecorder::noteCycleStart(std::int64_t micros)
{
    std::optional<std::int64_t> &start = m_cycleStart[static_cast<std::size_t>(m_fill)];
    if (m_cycleBegun && !start)
        start = micros;
}

bool TraceRecorder::stopTestHolds() const
{
    if (m_fill <= 0)
        return false;
    const Curve &v = curve(TraceCurve::Velocity);
    const auto now = static_cast<std::size_t>(m_fill);
    for (std::size_t m = 0; m < kMotorCount; ++m) {
        if (v[now][m].value != 0 || v[now - 1][m].value != 0)
            return false;
    }
    return true;
}

void TraceRecorder::advance()
{
    if (m_fill < kMaxFill) {
        ++m_fill;
        // The new cycle starts from the one before, as slot 480 does below: a row whose reply
        // the link could not trust keeps its last value rather than a 0 the board never had.
        const auto n = static_cast<std::size_t>(m_fill);
        for (Curve &c : m_curves)
            c[n] = c[n - 1];
        return;
    }
    // Slot 480 keeps its contents until the new cycle overwrites it.
    for (Curve &c : m_curves)
        std::copy(c.begin() + 1, c.end(), c.begin());
    std::copy(m_cycleStart.begin() + 1, m_cycleStart.end(), m_cycleStart.begin());
}

bool TraceRecorder::rescaleIfNeeded(int motor)
{
    const auto m = static_cast<std::size_t>(motor);
    // Every slot counts, filled or not: the unfilled ones hold zeros after a clear.
    std::int64_t velocityMax = -1;
    std::int64_t positionMax = -1;
    std::int64_t positionMin = 0;
    std::int64_t accelerationMax = -1;
    std::int64_t targetMax = -1;
    for (std::size_t s = 0; s < kSlotCount; ++s) {
        velocityMax = std::max<std::int64_t>(velocityMax, curve(TraceCurve::Velocity)[s][m].value);
        const std::int64_t p = curve(TraceCurve::Position)[s][m].value;
        positionMax = std::max(positionMax, p);
        positionMin = std::min(positionMin, p);
        accelerationMax =
            std::max<std::int64_t>(accelerationMax, curve(TraceCurve::Acceleration)[s][m].value);
        targetMax =
            std::max<std::int64_t>(targetMax, curve(TraceCurve::TargetVelocity)[s][m].value);
    }

    const TraceLimits raw{velocityMax, accelerationMax, positionMax, positionMin, targetMax};
    if (m_scaled[m] && raw == m_limits[m])
        return false;

    TraceLimits next;
    next.velocity = rateLimit(velocityMax);
    next.acceleration = rateLimit(accelerationMax);
    next.targetVelocity = rateLimit(targetMax);
    next.lowerPosition = std::min<std::int64_t>(0, kPositionStep * (positionMin / kPositionStep));
    if (positionMin % kPositionStep != 0)
        next.lowerPosition -= kPositionStep;
    next.upperPosition = kPositionStep * (positionMax / kPositionStep);
    if (next.lowerPosition == 0)
        next.upperPosition = std::max(kPositionStep, next.upperPosition);
    if (positionMax % kPositionStep != 0)
        next.upperPosition += kPositionStep;
    // Limits that come out as they were (the raw extremes rarely equal the rounded limits)
    // leave every factor, and so every row, as it is.
    if (m_scaled[m] && next == m_limits[m])
        return false;
    m_limits[m] = next;
    RescaleMotor(motor);
    return true;
}

void TraceRecorder::RescaleMotor(int motor)
{
    if (!validMotor(motor))
        return;
    const auto m = static_cast<std::size_t>(motor);
    const TraceLimits &l = m_limits[m];
    auto factor = [this, m](TraceCurve c) -> double & {
        return m_factors[static_cast<std::size_t>(c)][m];
    };
    factor(TraceCurve::Velocity) = double(kPlotHeight) / static_cast<double>(l.velocity);
    factor(TraceCurve::Position) =
        double(kPlotHeight) / static_cast<double>(l.upperPosition - l.lowerPosition);
    factor(TraceCurve::Acceleration) = double(kPlotHeight) / static_cast<double>(l.acceleration);
    factor(TraceCurve::TargetVelocity) =
        double(kPlotHeight) / static_cast<double>(l.targetVelocity);
    for (TraceCurve c : kAllCurves) {
        for (auto &slot : curve(c))
            slot[m].row = rowFor(c, slot[m].value, motor);
    }
    m_scaled[m] = true;
}

void TraceRecorder::measureInterval(std::uint32_t t)
{
    if (!m_lastTick) {
        m_averagedInterval = 0;
        m_shownInterval.reset();
    } else {
        // The counter wraps: the difference of two readings is taken modulo 2^32.
        const auto difference = static_cast<std::int32_t>(t - *m_lastTick);
        const std::int64_t elapsed = std::abs(std::int64_t{difference});
        m_averagedInterval = static_cast<std::int32_t>((elapsed + m_averagedInterval) / 2);
        m_shownInterval = m_averagedInterval / 10 * 10;
    }
    m_lastTick = t;
}

void TraceRecorder::Clear()
{
    for (Curve &c : m_curves) {
        for (auto &slot : c)
            slot.fill(TraceSample{0, kBaselineRow});
    }
    for (std::size_t m = 0; m < kMotorCount; ++m) {
        for (TraceCurve c : kMagnitudeCurves)
            m_factors[static_cast<std::size_t>(c)][m] = double(kPlotHeight) / kRegisterRange;
        m_factors[static_cast<std::size_t>(TraceCurve::Position)][m] =
            double(kPlotHeight) / kPositionRange;
        TraceLimits &l = m_limits[m];
        l.upperPosition = kClearedUpperPosition;
        l.lowerPosition = 0;
        l.acceleration = kRateStep;
        l.velocity = kRateStep;
        // The target-velocity limit keeps its value.
        m_scaled[m] = false;
    }
    // The cycle in progress began before: it is stored on, but not timed as a whole one.
    m_cycleStart.fill(std::nullopt);
    m_cycleBegun = false;
    m_fill = 0;
    m_lastTick.reset();
    m_averagedInterval = -1;
    m_shownInterval.reset();
}

TraceSample TraceRecorder::sample(TraceCurve c, int slot, int motor) const
{
    if (!validMotor(motor) || slot < 0 || slot >= kSlotCount)
        return {};
    return curve(c)[static_cast<std::size_t>(slot)][static_cast<std::size_t>(motor)];
}

std::optional<std::int64_t> TraceRecorder::cycleStart(int slot) const
{
    if (slot < 0 || slot >= m_fill)
        return std::nullopt;
    return m_cycleStart[static_cast<std::size_t>(slot)];
}

TraceLimits TraceRecorder::limits(int motor) const
{
    return validMotor(motor) ? m_limits[static_cast<std::size_t>(motor)] : TraceLimits{};
}

double TraceRecorder::factor(TraceCurve c, int motor) const
{
    return validMotor(motor)
               ? m_factors[static_cast<std::size_t>(c)][static_cast<std::size_t>(motor)]
               : 0.0;
}

} // namespace kvx
