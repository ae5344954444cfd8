// The trace recorder without any window: the state at creation and after a clear, the rows of
// stored samples, the fill level and the scroll, the rounding of every axis limit, the stop
// test, the averaged interval on an injected tick counter (with its wrap), motors outside
// 0..2 and values far outside the registers, and what the files take: the signed readings
// and the cycles' times, scrolled with their slots and counted across the counter's wrap. Drawing
// is left to tst_tracepainter, the window to tst_formgraphics.

#include "records/TraceFiles.h"
#include "records/TraceRecorder.h"

#include <QTest>

#include <limits>

using namespace kvx;

namespace {

constexpr int kBase = TraceRecorder::kBaselineRow;
constexpr int kNoInterval = -1; // the display's "---"

[[nodiscard]] int shown(const TraceRecorder &r)
{
    return r.shownInterval().value_or(kNoInterval);
}

// Stores one whole cycle for a motor.
void storeCycle(TraceRecorder &r, int motor, std::int32_t position, std::int32_t velocity,
                std::int32_t target, std::int32_t acceleration)
{
    r.AddPosition(position, motor);
    r.AddVelocity(velocity, motor);
    r.AddTargetVelocity(target, motor);
    r.AddAcceleration(acceleration, motor);
}

void checkLimits(const TraceLimits &actual, const TraceLimits &expected)
{
    QCOMPARE(actual.velocity, expected.velocity);
    QCOMPARE(actual.acceleration, expected.acceleration);
    QCOMPARE(actual.upperPosition, expected.upperPosition);
    QCOMPARE(actual.lowerPosition, expected.lowerPosition);
    QCOMPARE(actual.targetVelocity, expected.targetVelocity);
}

} // namespace

class TestTraceRecorder : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void creationState();
    void firstTickLimits_data();
    void firstTickLimits();
    void positionScale_data();
    void positionScale();
    void onlyNegativePositionsGiveUpperLimit5000();
    void rateLimits_data();
    void rateLimits();
    void storedRows_data();
    void storedRows();
    void fillAndScroll();
    void aRowMissedInACycleKeepsItsLastValue();
    void stopTest_data();
    void stopTest();
    void stopTestNeverAppliesAtNZero();
    void frozenPlotRestartsIntervalDisplay();
    void steadyCycleInterval();
    void intervalAcrossCounterWrap();
    void tickAtAllOnesCountsAsATime();
    void clearEmptiesAndKeepsTargetLimits();
    void rowsFitTheScaleWhenFirstExtremesEqualLimits_data();
    void rowsFitTheScaleWhenFirstExtremesEqualLimits();
    void motorOutsideRangeIsIgnored();
    void extremeValuesNeitherOverflowNorLeaveTheScale();
    void readingsAndTimesScrollWithTheirSlots();
    void aCycleIsTimedByItsFirstRequestAndOnlyWhole();

private:
    TraceRecorder m_r;
    std::uint32_t m_now = 0;
};

void TestTraceRecorder::init()
{
    m_r = TraceRecorder();
    m_now = 100000;
    m_r.setClock([this] { return m_now; });
}

void TestTraceRecorder::creationState()
{
    QCOMPARE(m_r.fill(), 0);
    QVERIFY(!m_r.shownInterval());
    for (int m = 0; m < 3; ++m) {
        checkLimits(m_r.limits(m), TraceLimits{100, 100, 5000, 0, 100});
        for (int s : {0, 240, 480})
            QCOMPARE(m_r.sample(TraceCurve::Position, s, m), (TraceSample{0, kBase}));
        QCOMPARE(m_r.factor(TraceCurve::Velocity, m), 420.0 / 2047);
        QCOMPARE(m_r.factor(TraceCurve::Position, m), 420.0 / 16777215);
    }
}

void TestTraceRecorder::firstTickLimits_data()
{
    QTest::addColumn<bool>("afterClear");
    QTest::newRow("after creation") << false;
    QTest::newRow("after clear") << true;
}

void TestTraceRecorder::firstTickLimits()
{
    QFETCH(bool, afterClear);
    if (afterClear) {
        m_r.Clear();
        checkLimits(m_r.limits(1), TraceLimits{100, 100, 10000, 0, 100});
    }
    for (int m = 0; m < 3; ++m)
        storeCycle(m_r, m, 0, 0, 0, 0);
    const TraceTick tick = m_r.NextSample(false);
    QVERIFY(tick.advanced);
    QCOMPARE(m_r.fill(), 1);
    for (int m = 0; m < 3; ++m) {
        checkLimits(m_r.limits(m), TraceLimits{100, 100, 5000, 0, 100});
        QCOMPARE(m_r.factor(TraceCurve::Position, m), 420.0 / 5000);
        QCOMPARE(m_r.factor(TraceCurve::Velocity, m), 4.2);
    }
}

void TestTraceRecorder::positionScale_data()
{
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("second");
    QTest::addColumn<int>("lower");
    QTest::addColumn<int>("upper");
    QTest::newRow("zeros") << 0 << 0 << 0 << 5000;
    QTest::newRow("max 1") << 1 << 0 << 0 << 10000;
    QTest::newRow("max 4999") << 4999 << 0 << 0 << 10000;
    QTest::newRow("max 5000") << 5000 << 0 << 0 << 5000;
    QTest::newRow("max 5001") << 5001 << 0 << 0 << 10000;
    QTest::newRow("max 9999") << 9999 << 0 << 0 << 10000;
    QTest::newRow("max 10000") << 10000 << 0 << 0 << 10000;
    QTest::newRow("min -1") << -1 << 0 << -5000 << 0;
    QTest::newRow("min -5000") << -5000 << 0 << -5000 << 0;
    QTest::newRow("min -5001") << -5001 << 0 << -10000 << 0;
    QTest::newRow("min -1, max 1") << -1 << 1 << -5000 << 5000;
    QTest::newRow("min -7000, max 12000") << -7000 << 12000 << -10000 << 15000;
    QTest::newRow("min -5000, max 5000") << -5000 << 5000 << -5000 << 5000;
    QTest::newRow("24-bit extremes") << -8388608 << 8388607 << -8390000 << 8390000;
}

void TestTraceRecorder::positionScale()
{
    QFETCH(int, first);
    QFETCH(int, second);
    QFETCH(int, lower);
    QFETCH(int, upper);
    m_r.AddPosition(first, 2);
    m_r.NextSample(false);
    m_r.AddPosition(second, 2);
    m_r.NextSample(false);
    QCOMPARE(m_r.limits(2).lowerPosition, std::int64_t{lower});
    QCOMPARE(m_r.limits(2).upperPosition, std::int64_t{upper});
    QCOMPARE(m_r.factor(TraceCurve::Position, 2), 420.0 / (upper - lower));
    // The other motors saw only zeros.
    QCOMPARE(m_r.limits(0).upperPosition, std::int64_t{5000});
}

void TestTraceRecorder::onlyNegativePositionsGiveUpperLimit5000()
{
    for (int i = 0; i <= TraceRecorder::kMaxFill; ++i) {
        m_r.AddPosition(-3, 0);
        m_r.NextSample(false);
    }
    m_r.AddPosition(-3, 0); // slot 480 too: no zero left anywhere
    m_r.NextSample(false);
    QCOMPARE(m_r.limits(0).lowerPosition, -5000);
    QCOMPARE(m_r.limits(0).upperPosition, std::int64_t{5000});
}

void TestTraceRecorder::rateLimits_data()
{
    QTest::addColumn<int>("curve");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("limit");
    const struct
    {
        const char *name;
        TraceCurve curve;
    } curves[] = {{"velocity", TraceCurve::Velocity},
                  {"target velocity", TraceCurve::TargetVelocity},
                  {"acceleration", TraceCurve::Acceleration}};
    const int cases[][2] = {{0, 100},   {1, 100},   {99, 100},    {100, 100},  {101, 200},
                            {199, 200}, {200, 200}, {2047, 2100}, {-101, 200}, {-2048, 2100}};
    for (const auto &c : curves) {
        for (const auto &v : cases) {
            QTest::addRow("%s %d", c.name, v[0]) << int(c.curve) << v[0] << v[1];
        }
    }
}

void TestTraceRecorder::rateLimits()
{
    QFETCH(int, curve);
    QFETCH(int, value);
    QFETCH(int, limit);
    const auto c = TraceCurve(curve);
    if (c == TraceCurve::Velocity)
        m_r.AddVelocity(value, 1);
    else if (c == TraceCurve::TargetVelocity)
        m_r.AddTargetVelocity(value, 1);
    else
        m_r.AddAcceleration(value, 1);
    m_r.NextSample(false);
    const TraceLimits l = m_r.limits(1);
    const std::int64_t got = c == TraceCurve::Velocity         ? l.velocity
                             : c == TraceCurve::TargetVelocity ? l.targetVelocity
                                                               : l.acceleration;
    QCOMPARE(got, std::int64_t{limit});
    QCOMPARE(m_r.factor(c, 1), 420.0 / limit);
    // Rates are kept as magnitudes.
    QCOMPARE(m_r.sample(c, 0, 1).value, std::abs(value));
}

void TestTraceRecorder::storedRows_data()
{
    // Rows worked out by hand: 431 - trunc(value x 420 / span) on the scale of the first tick.
    QTest::addColumn<int>("curve");
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("row");
    QTest::newRow("velocity 0") << int(TraceCurve::Velocity) << 0 << 431;
    QTest::newRow("velocity 1 (4.2)") << int(TraceCurve::Velocity) << 1 << 427;
    QTest::newRow("velocity -33 (138.6)") << int(TraceCurve::Velocity) << -33 << 293;
    QTest::newRow("velocity 100") << int(TraceCurve::Velocity) << 100 << 11;
    QTest::newRow("velocity 150 beyond") << int(TraceCurve::Velocity) << 150 << -199;
    QTest::newRow("acceleration 50") << int(TraceCurve::Acceleration) << 50 << 221;
    QTest::newRow("target 99 (415.8)") << int(TraceCurve::TargetVelocity) << 99 << 16;
    QTest::newRow("position 2477 (208.068)") << int(TraceCurve::Position) << 2477 << 223;
    QTest::newRow("position 5000") << int(TraceCurve::Position) << 5000 << 11;
    QTest::newRow("position -100 below") << int(TraceCurve::Position) << -100 << 439; // trunc(-8.4)
}

void TestTraceRecorder::storedRows()
{
    QFETCH(int, curve);
    QFETCH(int, value);
    QFETCH(int, row);
    m_r.NextSample(false); // scales 0..100 and 0..5000 now in force
    const auto c = TraceCurve(curve);
    switch (c) {
    case TraceCurve::Velocity:
        m_r.AddVelocity(value, 0);
        break;
    case TraceCurve::Position:
        m_r.AddPosition(value, 0);
        break;
    case TraceCurve::Acceleration:
        m_r.AddAcceleration(value, 0);
        break;
    case TraceCurve::TargetVelocity:
        m_r.AddTargetVelocity(value, 0);
        break;
    }
    QCOMPARE(m_r.sample(c, 1, 0).row, row);
    QCOMPARE(m_r.sample(c, 0, 0).row, 431); // earlier slots untouched
}

void TestTraceRecorder::fillAndScroll()
{
    for (int i = 0; i < TraceRecorder::kMaxFill; ++i) {
        QCOMPARE(m_r.fill(), i);
        m_r.AddPosition(i, 0);
        m_r.AddVelocity(i % 7, 1);
        m_r.NextSample(false);
    }
    QCOMPARE(m_r.fill(), 480);
    QCOMPARE(m_r.sample(TraceCurve::Position, 479, 0).value, 479);
    m_r.AddPosition(480, 0);
    m_r.NextSample(false);
    QCOMPARE(m_r.fill(), 480);
    QCOMPARE(m_r.sample(TraceCurve::Position, 0, 0).value, 1);
    QCOMPARE(m_r.sample(TraceCurve::Position, 479, 0).value, 480);
    QCOMPARE(m_r.sample(TraceCurve::Position, 480, 0).value, 480); // kept until overwritten
    QCOMPARE(m_r.sample(TraceCurve::Velocity, 0, 1).value, 1);     // all curves and motors move
    QCOMPARE(m_r.sample(TraceCurve::Velocity, 478, 1).value, 479 % 7);
    // The rows moved with their values and were rescaled to the new span.
    QCOMPARE(m_r.limits(0).upperPosition, std::int64_t{10000});
    QCOMPARE(m_r.sample(TraceCurve::Position, 479, 0).row, 411); // 480 x 420 / 10000 = 20.16
    m_r.AddPosition(481, 0);
    m_r.NextSample(false);
    QCOMPARE(m_r.sample(TraceCurve::Position, 0, 0).value, 2);
    QCOMPARE(m_r.sample(TraceCurve::Position, 479, 0).value, 481);
}

void TestTraceRecorder::aRowMissedInACycleKeepsItsLastValue()
{
    // A reply the link could not trust used to leave a 0 the board never had in the sample.
    storeCycle(m_r, 1, -700, 300, 200, 40);
    m_r.NextSample(false);
    m_r.AddPosition(-710, 1); // the cycle's other three replies are lost
    m_r.NextSample(false);
    QCOMPARE(m_r.sample(TraceCurve::Position, 1, 1).value, -710);
    QCOMPARE(m_r.sample(TraceCurve::Velocity, 1, 1).value, 300);
    QCOMPARE(m_r.sample(TraceCurve::TargetVelocity, 1, 1).value, 200);
    QCOMPARE(m_r.sample(TraceCurve::Acceleration, 1, 1).value, 40);
}

void TestTraceRecorder::stopTest_data()
{
    QTest::addColumn<bool>("stopBox");
    QTest::addColumn<int>("cycles");          // complete cycles before the tick under test
    QTest::addColumn<QList<int>>("previous"); // velocities of motors 0..2 in slot n - 1
    QTest::addColumn<QList<int>>("current");  // in slot n
    QTest::addColumn<int>("target");          // target velocity of every motor, every cycle
    QTest::addColumn<bool>("frozen");
    const QList<int> rest{0, 0, 0};
    QTest::newRow("box off, at rest") << false << 2 << rest << rest << 0 << false;
    QTest::newRow("box on, at rest") << true << 2 << rest << rest << 0 << true;
    QTest::newRow("box on, at rest, full") << true << 480 << rest << rest << 0 << true;
    QTest::newRow("box on, motor 3 moves now")
        << true << 2 << rest << QList<int>{0, 0, 5} << 0 << false;
    QTest::newRow("box on, motor 1 moved before")
        << true << 2 << QList<int>{-1, 0, 0} << rest << 0 << false;
    QTest::newRow("box on, motor 2 moving throughout")
        << true << 2 << QList<int>{0, 7, 0} << QList<int>{0, 7, 0} << 0 << false;
    QTest::newRow("box on, target velocity only") << true << 2 << rest << rest << 300 << true;
}

void TestTraceRecorder::stopTest()
{
    QFETCH(bool, stopBox);
    QFETCH(int, cycles);
    QFETCH(QList<int>, previous);
    QFETCH(QList<int>, current);
    QFETCH(int, target);
    QFETCH(bool, frozen);
    for (int i = 0; i < cycles; ++i) {
        for (int m = 0; m < 3; ++m)
            storeCycle(m_r, m, 10, i + 1 == cycles ? previous[m] : 0, target, 0);
        m_r.NextSample(false);
        m_now += 500;
    }
    const int n = m_r.fill();
    QCOMPARE(n, std::min(cycles, TraceRecorder::kMaxFill));
    for (int m = 0; m < 3; ++m)
        storeCycle(m_r, m, 10, current[m], target, 0);
    const int shownBefore = shown(m_r);
    QVERIFY(shownBefore != kNoInterval);
    const TraceLimits limitsBefore = m_r.limits(0);
    const TraceSample slotBefore = m_r.sample(TraceCurve::Position, 0, 0);

    const TraceTick tick = m_r.NextSample(stopBox);
    QCOMPARE(tick.advanced, !frozen);
    QCOMPARE(m_r.fill(), frozen ? n : std::min(n + 1, TraceRecorder::kMaxFill));
    if (frozen) {
        QCOMPARE(shown(m_r), shownBefore);
        QVERIFY(tick.rescaled == (std::array<bool, 3>{}));
        checkLimits(m_r.limits(0), limitsBefore);
        QCOMPARE(m_r.sample(TraceCurve::Position, 0, 0), slotBefore); // no scroll either
    } else {
        QVERIFY(shown(m_r) != kNoInterval);
    }
}

void TestTraceRecorder::stopTestNeverAppliesAtNZero()
{
    QCOMPARE(m_r.fill(), 0);
    QVERIFY(m_r.NextSample(true).advanced);
    QCOMPARE(m_r.fill(), 1);
}

void TestTraceRecorder::frozenPlotRestartsIntervalDisplay()
{
    for (int i = 0; i < 3; ++i) {
        m_r.NextSample(false);
        m_now += 500;
    }
    QCOMPARE(shown(m_r), 370);
    QVERIFY(!m_r.NextSample(true).advanced); // slots 2 and 3 at rest
    m_now += 500;
    QCOMPARE(m_r.fill(), 3);
    QCOMPARE(shown(m_r), 370);
    m_r.AddVelocity(12, 1);
    QVERIFY(m_r.NextSample(true).advanced);
    m_now += 500;
    QCOMPARE(shown(m_r), kNoInterval); // no earlier time after the stop
    QCOMPARE(m_r.averagedInterval(), 0);
    m_r.AddVelocity(12, 1);
    m_r.NextSample(true);
    QCOMPARE(shown(m_r), 250);
}

void TestTraceRecorder::steadyCycleInterval()
{
    QVERIFY(!m_r.shownInterval());
    QList<int> seen;
    for (int i = 0; i < 10; ++i) {
        m_r.NextSample(false);
        seen << shown(m_r);
        m_now += 500;
    }
    QCOMPARE(seen, (QList<int>{kNoInterval, 250, 370, 430, 460, 480, 490, 490, 490, 490}));
    QCOMPARE(m_r.averagedInterval(), 499);
}

void TestTraceRecorder::intervalAcrossCounterWrap()
{
    m_now = 0xFFFFFF00u;
    m_r.NextSample(false);
    m_now += 500; // wraps to 0xF4
    QCOMPARE(m_now, 0xF4u);
    m_r.NextSample(false);
    QCOMPARE(shown(m_r), 250);
}

void TestTraceRecorder::tickAtAllOnesCountsAsATime()
{
    // The counter's reading 0xFFFFFFFF is an ordinary time, not "no earlier tick".
    m_now = 0xFFFFFFFFu - 500;
    m_r.NextSample(false);
    m_now += 500;
    m_r.NextSample(false);
    QCOMPARE(shown(m_r), 250);
    m_now += 500;
    m_r.NextSample(false);
    QCOMPARE(shown(m_r), 370);
}

void TestTraceRecorder::clearEmptiesAndKeepsTargetLimits()
{
    for (int i = 0; i < 5; ++i) {
        storeCycle(m_r, 1, 7777, 150, 250, 350);
        m_r.NextSample(false);
        m_now += 500;
    }
    checkLimits(m_r.limits(1), TraceLimits{200, 400, 10000, 0, 300});
    QCOMPARE(shown(m_r), 460);
    m_r.Clear();
    QCOMPARE(m_r.fill(), 0);
    QVERIFY(!m_r.shownInterval());
    QCOMPARE(m_r.averagedInterval(), -1);
    checkLimits(m_r.limits(1), TraceLimits{100, 100, 10000, 0, 300});
    QCOMPARE(m_r.factor(TraceCurve::TargetVelocity, 1), 420.0 / 2047);
    for (TraceCurve c : {TraceCurve::Velocity, TraceCurve::Position, TraceCurve::Acceleration,
                         TraceCurve::TargetVelocity}) {
        for (int s : {0, 3, 480})
            QCOMPARE(m_r.sample(c, s, 1), (TraceSample{0, kBase}));
    }
    m_r.NextSample(false);
    QVERIFY(!m_r.shownInterval()); // the first tick after a clear has no earlier time
    QCOMPARE(m_r.averagedInterval(), 0);
}

void TestTraceRecorder::rowsFitTheScaleWhenFirstExtremesEqualLimits_data()
{
    QTest::addColumn<bool>("afterClear");
    QTest::addColumn<int>("position"); // equal to the upper position limit in force
    QTest::newRow("after creation") << false << 5000;
    QTest::newRow("after clear") << true << 10000;
}

void TestTraceRecorder::rowsFitTheScaleWhenFirstExtremesEqualLimits()
{
    // The limits already equal the first cycle's extremes, but the factors in force are the
    // full-register ones of the clear: the rows must still be worked out on the real scale.
    QFETCH(bool, afterClear);
    QFETCH(int, position);
    if (afterClear)
        m_r.Clear();
    for (int m = 0; m < 3; ++m)
        storeCycle(m_r, m, position, 100, 100, 100);
    const TraceTick tick = m_r.NextSample(false);
    QVERIFY(tick.rescaled[0]);
    for (TraceCurve c : {TraceCurve::Velocity, TraceCurve::Position, TraceCurve::Acceleration,
                         TraceCurve::TargetVelocity})
        QCOMPARE(m_r.sample(c, 0, 0).row, TraceRecorder::kLimitRow);
    // Once scaled, equal extremes do skip the work.
    const TraceTick again = m_r.NextSample(false);
    QVERIFY(!again.rescaled[0]);
    QCOMPARE(m_r.sample(TraceCurve::Velocity, 0, 0).row, TraceRecorder::kLimitRow);
    // New extremes within the same rounded limits: the rows are worked out again, but nothing
    // that is seen changes.
    storeCycle(m_r, 0, position - 1, 99, 99, 99);
    const TraceTick within = m_r.NextSample(false);
    QVERIFY(!within.rescaled[0]);
    QCOMPARE(m_r.limits(0).velocity, 100);
    // Beyond them, the motor's scale changes.
    storeCycle(m_r, 0, position, 101, 99, 99);
    QVERIFY(m_r.NextSample(false).rescaled[0]);
    QCOMPARE(m_r.limits(0).velocity, 200);
}

void TestTraceRecorder::motorOutsideRangeIsIgnored()
{
    for (int motor : {-1, 3, 1000, std::numeric_limits<int>::min()}) {
        storeCycle(m_r, motor, 1234, 55, 66, 77);
        m_r.RescaleMotor(motor);
        QCOMPARE(m_r.sample(TraceCurve::Position, 0, motor), TraceSample{});
        QCOMPARE(m_r.factor(TraceCurve::Velocity, motor), 0.0);
    }
    m_r.NextSample(false);
    for (int m = 0; m < 3; ++m) {
        QCOMPARE(m_r.sample(TraceCurve::Position, 0, m).value, 0);
        QCOMPARE(m_r.sample(TraceCurve::Velocity, 0, m).value, 0);
    }
    QCOMPARE(m_r.sample(TraceCurve::Velocity, -1, 0), TraceSample{});
    QCOMPARE(m_r.sample(TraceCurve::Velocity, 481, 0), TraceSample{});
}

void TestTraceRecorder::extremeValuesNeitherOverflowNorLeaveTheScale()
{
    constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
    constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    m_r.NextSample(false); // limits 100: factor 4.2
    m_r.AddVelocity(kMin, 0);
    m_r.AddAcceleration(kMax, 0);
    m_r.AddPosition(kMax, 0);
    QCOMPARE(m_r.sample(TraceCurve::Velocity, 1, 0).value, kMax);     // |-2^31| saturated
    QCOMPARE(m_r.sample(TraceCurve::Velocity, 1, 0).row, kMin);       // far above, not wrapped
    QCOMPARE(m_r.sample(TraceCurve::Position, 1, 0).row, -180388195); // 431 - 180388626.3
    m_r.NextSample(false);
    m_r.AddPosition(kMin, 0);
    m_r.NextSample(false);
    const TraceLimits l = m_r.limits(0);
    QCOMPARE(l.velocity, std::int64_t{2147483700});
    QCOMPARE(l.acceleration, std::int64_t{2147483700});
    QCOMPARE(l.upperPosition, std::int64_t{2147485000});
    QCOMPARE(l.lowerPosition, std::int64_t{-2147485000});
    for (TraceCurve c : {TraceCurve::Velocity, TraceCurve::Position, TraceCurve::Acceleration}) {
        for (int s = 0; s < 3; ++s) {
            const int row = m_r.sample(c, s, 0).row;
            QVERIFY2(row >= TraceRecorder::kLimitRow && row <= kBase,
                     qPrintable(QString::number(row)));
        }
    }
}

void TestTraceRecorder::readingsAndTimesScrollWithTheirSlots()
{
    // Cycle i's first request goes out at 0xFFFFFF00 + 250 i ms (past what 32 bits count) and
    // its later ones after it; the tick counter wraps during cycle 1.
    m_now = 0xFFFFFF00u;
    const std::int64_t origin = 0xFFFFFF00LL * 1000;
    for (int i = 0; i < 483; ++i) {
        m_r.noteCycleStart(origin + 250'000LL * i);
        storeCycle(m_r, 2, -i, -i, -2 * i, -(i % 7));
        m_r.noteCycleStart(origin + 250'000LL * i + 20'000);
        m_r.NextSample(false);
        m_now += 250;
    }
    // Three cycles have scrolled out: slot 0 holds cycle 3.
    QCOMPARE(m_r.sample(TraceCurve::Velocity, 0, 2).value, 3);
    QCOMPARE(m_r.sample(TraceCurve::Velocity, 0, 2).reading, -3);
    QCOMPARE(m_r.sample(TraceCurve::TargetVelocity, 479, 2).reading, -2 * 482);
    QCOMPARE(m_r.sample(TraceCurve::Acceleration, 4, 2).reading, -(7 % 7));
    QCOMPARE(m_r.sample(TraceCurve::Acceleration, 5, 2).reading, -1);
    QCOMPARE(m_r.sample(TraceCurve::Position, 479, 2).reading, -482);
    QCOMPARE(m_r.cycleStart(0), std::optional(origin + 750'000));
    QCOMPARE(traceSeconds(m_r, 1), 0.25);
    QCOMPARE(traceSeconds(m_r, 479), 479 * 0.25);
    m_r.Clear();
    QCOMPARE(m_r.cycleStart(0), std::nullopt);
}

void TestTraceRecorder::aCycleIsTimedByItsFirstRequestAndOnlyWhole()
{
    // Each reply of a cycle tells when its request went out; the first one times the cycle.
    auto cycle = [this](std::int64_t at, int velocity, bool stopWhenIdle = false) {
        m_r.noteCycleStart(at);
        storeCycle(m_r, 0, 7982209, velocity, 0, 0);
        m_r.noteCycleStart(at + 20'000);
        m_r.NextSample(stopWhenIdle);
    };
    cycle(1'000'000, -250);
    cycle(1'080'000, -250);
    QCOMPARE(m_r.cycleStart(0), std::optional<std::int64_t>(1'000'000));
    QCOMPARE(m_r.cycleStart(1), std::optional<std::int64_t>(1'080'000));
    QCOMPARE(m_r.cycleStart(2), std::nullopt); // in progress

    // Cleared within a cycle: the rest of it is stored, but it is no whole cycle.
    m_r.noteCycleStart(1'160'000);
    m_r.Clear();
    m_r.AddPosition(7982000, 0);
    m_r.noteCycleStart(1'180'000);
    m_r.NextSample(false);
    cycle(1'240'000, -250);
    QCOMPARE(m_r.cycleStart(0), std::nullopt);
    QCOMPARE(firstTimedSlot(m_r), std::optional(1));
    QCOMPARE(traceCsvAll(m_r).split('\n').at(1).left(14), QByteArray("0.000,7982209,"));

    // Frozen at rest: the next cycle takes the slot over, and its time with it.
    cycle(1'320'000, 0, true);
    cycle(1'400'000, 0, true);
    QCOMPARE(m_r.fill(), 3);
    cycle(1'480'000, 0);
    QCOMPARE(m_r.cycleStart(3), std::optional<std::int64_t>(1'480'000));
    QCOMPARE(traceSeconds(m_r, 3), 0.24);
}

QTEST_APPLESS_MAIN(TestTraceRecorder)
#include "tst_tracerecorder.moc"
