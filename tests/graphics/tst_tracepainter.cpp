// The drawing of the graphic display, rendered into images: curve pixels on their rows with
// their colours and stacking, nothing for a single point, and the scale strips' labels (20
// per scale, each with its lower edge on its value's row, the limit left unlabelled, in the
// right colour and column). The recorder's rules are in tst_tracerecorder, the window's
// paint areas and their wiring in tst_formgraphics.

#include "records/TraceFiles.h"
#include "graphics/TracePainter.h"
#include "graphics/TracePicture.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QTest>

using namespace kvx;

namespace {

constexpr QSize kPlotSize{478, 434};
constexpr int kLeftWidth = 81;
constexpr int kRightWidth = 65;
constexpr int kStripHeight = 436;

QImage blackImage(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::black);
    return image;
}

QImage plotOf(const TraceRecorder &r, int motor)
{
    QImage image = blackImage(kPlotSize);
    QPainter p(&image);
    paintCurves(p, r, motor);
    return image;
}

// A recorder with `cycles` complete cycles of the same values on motor 1, scaled.
TraceRecorder steady(int cycles, std::int32_t position, std::int32_t velocity, std::int32_t target,
                     std::int32_t acceleration)
{
    TraceRecorder r;
    for (int i = 0; i < cycles; ++i) {
        r.AddPosition(position, 1);
        r.AddVelocity(velocity, 1);
        r.AddTargetVelocity(target, 1);
        r.AddAcceleration(acceleration, 1);
        r.NextSample(false);
    }
    return r;
}

// A pixel of `color` drawn over black, possibly at partial coverage as text edges are: the
// channels that are 0 in the colour stay 0, the others do not.
bool isTint(QColor pixel, QColor color)
{
    return (pixel.red() == 0) == (color.red() == 0) &&
           (pixel.green() == 0) == (color.green() == 0) &&
           (pixel.blue() == 0) == (color.blue() == 0);
}

// Whether a pixel of `color` lies in the rows [top, bottom) and columns [left, right).
bool hasColor(const QImage &image, QColor color, int top, int bottom, int left, int right)
{
    for (int y = std::max(0, top); y < std::min(bottom, image.height()); ++y) {
        for (int x = std::max(0, left); x < std::min(right, image.width()); ++x) {
            if (isTint(image.pixelColor(x, y), color))
                return true;
        }
    }
    return false;
}

bool allBlack(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixelColor(x, y) != QColor(Qt::black))
                return false;
        }
    }
    return true;
}

} // namespace

class TestTracePainter : public QObject
{
    Q_OBJECT

private slots:
    void allZeroCurvesLieOnTheirRows();
    void singlePointDrawsNothing();
    void stacking_data();
    void stacking();
    void curveFollowsTheStoredRows();
    void labelValues_data();
    void labelValues();
    void stripLabels_data();
    void stripLabels();
    void paperInkReadsAndKeepsItsHue_data();
    void paperInkReadsAndKeepsItsHue();
    void timeMarksFallOnRoundSeconds_data();
    void timeMarksFallOnRoundSeconds();
    void pictureScalesReadOnPaperUnderATimeAxis();
};

void TestTracePainter::allZeroCurvesLieOnTheirRows()
{
    const TraceRecorder r = steady(5, 0, 0, 0, 0);
    QCOMPARE(r.fill(), 5);
    const QImage image = plotOf(r, 1);
    const struct
    {
        int row;
        QColor color;
    } lines[] = {{428, QColor(255, 255, 0)},
                 {429, QColor(0, 128, 0)},
                 {431, QColor(255, 0, 0)},
                 {432, QColor(0, 0, 255)}};
    for (int x = 0; x < 5; ++x) {
        for (const auto &l : lines)
            QCOMPARE(image.pixelColor(x, l.row), l.color);
        for (int row : {427, 430, 433})
            QCOMPARE(image.pixelColor(x, row), QColor(Qt::black));
    }
    // Nothing beyond the newest complete cycle.
    QVERIFY(!hasColor(image, QColor(0, 128, 0), 0, kPlotSize.height(), 5, kPlotSize.width()));
}

void TestTracePainter::singlePointDrawsNothing()
{
    const TraceRecorder r = steady(1, 2000, 40, 40, 40);
    QCOMPARE(r.fill(), 1);
    QVERIFY(allBlack(plotOf(r, 1)));
    QVERIFY(allBlack(plotOf(TraceRecorder(), 1)));
}

void TestTracePainter::stacking_data()
{
    // Values whose drawn rows coincide: the later curve of the order lies on top, and moving
    // it away uncovers the one beneath.
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("velocity");
    QTest::addColumn<int>("target");
    QTest::addColumn<int>("acceleration");
    QTest::addColumn<int>("row");
    QTest::addColumn<QColor>("top");
    QTest::addColumn<int>("movedVelocity"); // the second picture's velocity and target
    QTest::addColumn<int>("movedTarget");
    QTest::addColumn<QColor>("beneath");
    const QColor red(255, 0, 0), yellow(255, 255, 0), green(0, 128, 0), blue(0, 0, 255);
    // Position 4953 on 0..10000: 431 - trunc(208.03) - 2 = 221; velocity 50: 431 - 210 = 221.
    QTest::newRow("velocity over position")
        << 4953 << 50 << 0 << 0 << 221 << red << 0 << 0 << green;
    // Acceleration 1: 431 - trunc(4.2) + 1 = 428; target velocity 0: 431 - 3 = 428.
    QTest::newRow("target velocity over acceleration")
        << 0 << 0 << 0 << 1 << 428 << yellow << 0 << 50 << blue;
    // Position 5000 on 0..5000: the limit on row 11, drawn 2 above it.
    QTest::newRow("position at its limit") << 5000 << 0 << 0 << 0 << 9 << green << 0 << 0 << green;
}

void TestTracePainter::stacking()
{
    QFETCH(int, position);
    QFETCH(int, velocity);
    QFETCH(int, target);
    QFETCH(int, acceleration);
    QFETCH(int, row);
    QFETCH(QColor, top);
    QFETCH(int, movedVelocity);
    QFETCH(int, movedTarget);
    QFETCH(QColor, beneath);
    const QImage image = plotOf(steady(4, position, velocity, target, acceleration), 1);
    const QImage moved = plotOf(steady(4, position, movedVelocity, movedTarget, acceleration), 1);
    for (int x = 0; x < 4; ++x) {
        QCOMPARE(image.pixelColor(x, row), top);
        QCOMPARE(moved.pixelColor(x, row), beneath);
    }
}

void TestTracePainter::curveFollowsTheStoredRows()
{
    TraceRecorder r;
    const int velocities[] = {0, 25, 50, 100, 50};
    for (int v : velocities) {
        r.AddVelocity(v, 2);
        r.NextSample(false);
    }
    const QImage image = plotOf(r, 2);
    // Limit 100: rows 431, 326, 221, 11, 221 at columns 0..4.
    const int rows[] = {431, 326, 221, 11, 221};
    for (int x = 0; x < 5; ++x)
        QCOMPARE(image.pixelColor(x, rows[x]), QColor(255, 0, 0));
    // The segment from column 2 to 3 climbs through the rows between.
    QVERIFY(hasColor(image, QColor(255, 0, 0), 100, 120, 2, 4));
}

void TestTracePainter::labelValues_data()
{
    QTest::addColumn<qint64>("lower");
    QTest::addColumn<qint64>("upper");
    QTest::addColumn<qint64>("first");
    QTest::addColumn<qint64>("step");
    QTest::newRow("rate 100") << qint64(0) << qint64(100) << qint64(0) << qint64(5);
    QTest::newRow("rate 200") << qint64(0) << qint64(200) << qint64(0) << qint64(10);
    QTest::newRow("position 0..5000") << qint64(0) << qint64(5000) << qint64(0) << qint64(250);
    QTest::newRow("position -5000..0")
        << qint64(-5000) << qint64(0) << qint64(-5000) << qint64(250);
    QTest::newRow("position -10000..15000")
        << qint64(-10000) << qint64(15000) << qint64(-10000) << qint64(1250);
}

void TestTracePainter::labelValues()
{
    QFETCH(qint64, lower);
    QFETCH(qint64, upper);
    QFETCH(qint64, first);
    QFETCH(qint64, step);
    const std::vector<std::int64_t> values = scaleLabelValues(lower, upper);
    QCOMPARE(values.size(), std::size_t(20));
    for (std::size_t k = 0; k < values.size(); ++k)
        QCOMPARE(values[k], first + qint64(k) * step);
    QVERIFY(values.back() < upper); // the limit itself is not labelled
    QVERIFY(scaleLabelValues(0, 19).empty());
}

void TestTracePainter::stripLabels_data()
{
    QTest::addColumn<bool>("left");
    QTest::addColumn<QColor>("atLeft");  // the colour of the labels at x = 0
    QTest::addColumn<QColor>("atRight"); // at x = width - w("8888") - 1
    QTest::newRow("left: position, target velocity")
        << true << QColor(0, 128, 0) << QColor(255, 255, 0);
    QTest::newRow("right: velocity, acceleration")
        << false << QColor(255, 0, 0) << QColor(0, 0, 255);
}

void TestTracePainter::stripLabels()
{
    QFETCH(bool, left);
    QFETCH(QColor, atLeft);
    QFETCH(QColor, atRight);
    const TraceRecorder r = steady(2, -1, 101, 101, 101); // -5000..0 and 200 everywhere
    const int width = left ? kLeftWidth : kRightWidth;
    QImage image = blackImage({width, kStripHeight});
    QFont font(QStringLiteral("DejaVu Sans"), 8);
    {
        QPainter p(&image);
        p.setFont(font);
        if (left)
            paintLeftScale(p, r, 1, width);
        else
            paintRightScale(p, r, 1, width);
    }
    const QFontMetrics metrics(font);
    const int h = metrics.height();
    const int column = width - metrics.horizontalAdvance(QStringLiteral("8888")) - 1;
    for (int k = 0; k < 20; ++k) {
        const int bottom = 431 - 21 * k; // the label's lower edge on its value's row
        QVERIFY2(hasColor(image, atLeft, bottom - h, bottom, 0, column),
                 qPrintable(QStringLiteral("left label %1").arg(k)));
        QVERIFY2(hasColor(image, atRight, bottom - h, bottom, column, width),
                 qPrintable(QStringLiteral("right label %1").arg(k)));
    }
    // No label for the limit (k = 20), and nothing below the baseline.
    QVERIFY(!hasColor(image, atLeft, 0, 11, 0, width));
    QVERIFY(!hasColor(image, atRight, 0, 11, 0, width));
    QVERIFY(!hasColor(image, atLeft, 431, kStripHeight, 0, width));
    QVERIFY(!hasColor(image, atRight, 431, kStripHeight, 0, width));
    // The right-hand labels start at their column.
    QVERIFY(!hasColor(image, atRight, 0, kStripHeight, 0, column));
    // Labels of other motors' scales would differ: motor 0 is on 0..5000 and 100.
    QImage other = blackImage({width, kStripHeight});
    {
        QPainter p(&other);
        p.setFont(font);
        if (left)
            paintLeftScale(p, r, 0, width);
        else
            paintRightScale(p, r, 0, width);
    }
    QVERIFY(other != image);
}

void TestTracePainter::paperInkReadsAndKeepsItsHue_data()
{
    QTest::addColumn<QColor>("curve");
    QTest::newRow("velocity, red") << QColor(255, 0, 0);
    QTest::newRow("target velocity, yellow") << QColor(255, 255, 0);
    QTest::newRow("position, green") << QColor(0, 128, 0);
    QTest::newRow("acceleration, blue") << QColor(0, 0, 255);
}

void TestTracePainter::paperInkReadsAndKeepsItsHue()
{
    // Yellow on white has a contrast of 1.07: the exported scales could not be read on paper.
    QFETCH(QColor, curve);
    const QColor ink = inkOnPaper(curve);
    QVERIFY2(contrastRatio(ink, Qt::white) >= 4.5, qPrintable(ink.name()));
    QVERIFY2(isTint(ink, curve), qPrintable(ink.name()));
    QVERIFY(ink != QColor(Qt::black));
}

void TestTracePainter::timeMarksFallOnRoundSeconds_data()
{
    QTest::addColumn<int>("cycles");
    QTest::addColumn<int>("intervalMs");
    QTest::addColumn<bool>("clearedFirst"); // the first slot holds a cycle begun before a clear
    QTest::addColumn<QList<double>>("seconds");
    QTest::addColumn<QList<double>>("columns");
    QTest::newRow("480 cycles of 80 ms: every 5 s")
        << 480 << 80 << false << QList<double>{0, 5, 10, 15, 20, 25, 30, 35}
        << QList<double>{0, 62.5, 125, 187.5, 250, 312.5, 375, 437.5};
    QTest::newRow("30 cycles of 50 ms: every 0.2 s")
        << 30 << 50 << false << QList<double>{0, 0.2, 0.4, 0.6, 0.8, 1.0, 1.2, 1.4}
        << QList<double>{0, 4, 8, 12, 16, 20, 24, 28};
    QTest::newRow("after a clear, from the first whole cycle")
        << 12 << 100 << true << QList<double>{0, 0.2, 0.4, 0.6, 0.8, 1.0}
        << QList<double>{1, 3, 5, 7, 9, 11};
    QTest::newRow("a single cycle: none")
        << 1 << 100 << false << QList<double>{} << QList<double>{};
}

void TestTracePainter::timeMarksFallOnRoundSeconds()
{
    QFETCH(int, cycles);
    QFETCH(int, intervalMs);
    QFETCH(bool, clearedFirst);
    QFETCH(QList<double>, seconds);
    QFETCH(QList<double>, columns);
    TraceRecorder r;
    if (clearedFirst) {
        r.noteCycleStart(0);
        r.Clear();
    }
    for (int i = 0; i < cycles; ++i) {
        r.noteCycleStart(1'000'000LL + 1000LL * intervalMs * i);
        r.AddPosition(i, 0);
        r.NextSample(false);
    }
    const std::vector<TraceTimeTick> ticks = traceTimeTicks(r);
    QCOMPARE(qsizetype(ticks.size()), seconds.size());
    for (std::size_t k = 0; k < ticks.size(); ++k) {
        QVERIFY(qFuzzyCompare(1 + ticks[k].seconds, 1 + seconds[qsizetype(k)]));
        QVERIFY2(std::abs(ticks[k].x - columns[qsizetype(k)]) < 1e-6,
                 qPrintable(QString::number(ticks[k].x)));
    }
}

void TestTracePainter::pictureScalesReadOnPaperUnderATimeAxis()
{
    TraceRecorder r;
    for (int i = 0; i < 100; ++i) {
        r.noteCycleStart(100'000LL * i);
        r.AddPosition(100 * i, 0);
        r.AddVelocity(i, 0);
        r.NextSample(false);
    }
    const QFont font(QStringLiteral("DejaVu Sans"), 8);
    QImage picture(tracePictureSize(font), QImage::Format_RGB32);
    QPainter p(&picture);
    paintTracePicture(p, r, font);
    p.end();
    // Motor 1's plot: the first black rows in the middle of the page.
    const int plotColumn = 8 + 80 + 50;
    int top = 0;
    while (top < picture.height() && picture.pixelColor(plotColumn, top) != QColor(Qt::black))
        ++top;
    QVERIFY(top < picture.height());
    // The left scale on white, its labels dark enough for paper (they were dim on black).
    double best = 1;
    for (int y = top; y < top + kStripHeight - 1; ++y) {
        for (int x = 8; x < 8 + 78; ++x)
            best = std::max(best, contrastRatio(picture.pixelColor(x, y), Qt::white));
    }
    QCOMPARE(picture.pixelColor(8, top), QColor(Qt::white));
    QVERIFY2(best >= 4.5, qPrintable(QString::number(best)));
    // Under the plot a mark for each second: 9.9 s over 100 cycles, every second, 10 columns
    // apart, and white between them.
    const int axis = top + kStripHeight - 1 + 2; // below the axis line
    for (const TraceTimeTick &tick : traceTimeTicks(r)) {
        const int x = 8 + 81 + int(std::lround(tick.x));
        QCOMPARE(picture.pixelColor(x, axis), QColor(Qt::black));
        QCOMPARE(picture.pixelColor(x + 5, axis), QColor(Qt::white));
    }
    QCOMPARE(qsizetype(traceTimeTicks(r).size()), 10);
}

QTEST_MAIN(TestTracePainter)
#include "tst_tracepainter.moc"
