#include "graphics/TracePainter.h"

#include <QFontMetrics>
#include <QPaintDevice>
#include <QPainter>
#include <QVarLengthArray>

#include <algorithm>
#include <cmath>

namespace kvx {

namespace {

// The segments ending in columns `first` to `last`.
void paintCurve(QPainter &painter, const TraceRecorder &recorder, int motor, TraceCurve curve,
                const QColor &color, int rowOffset, int first, int last)
{
    if (first > last)
        return; // a single point is no line
    // Segments, not one polyline: the joins of a polyline change where its lines start (a flat
    // run after a steep fall began a column early), and at a scale above 100 % its outline was
    // stroked as one shape, a hundred times slower than lines.
    QVarLengthArray<QLine, TraceRecorder::kSlotCount> lines;
    QPoint from(first - 1, recorder.sample(curve, first - 1, motor).row + rowOffset);
    for (int i = first; i <= last; ++i) {
        const QPoint to(i, recorder.sample(curve, i, motor).row + rowOffset);
        lines.append(QLine(from, to));
        from = to;
    }
    // A line one device pixel wide, drawn again one device pixel to the right and down where a
    // pixel of the layout is more than one of the screen's: unlike a wide pen's outline, such a
    // line is rasterised alike whatever part of the plot is painted.
    QPen pen(color, 1, Qt::SolidLine);
    pen.setCosmetic(true);
    painter.setPen(pen);
    const qreal scale = painter.device() ? painter.device()->devicePixelRatioF() : 1.0;
    const int width = std::max(1, qRound(scale));
    for (int dx = 0; dx < width; ++dx) {
        for (int dy = 0; dy < width; ++dy) {
            const QPointF shift(dx / scale, dy / scale);
            painter.translate(shift);
            painter.drawLines(lines.constData(), int(lines.size()));
            painter.translate(-shift);
        }
    }
}

// One column of labels: the label of a value has its lower edge on the value's row.
void paintScale(QPainter &painter, std::int64_t lower, std::int64_t upper, const QColor &color,
                int x)
{
    const QFontMetrics metrics(painter.font());
    const int h = metrics.height();
    painter.setPen(color);
    const std::vector<std::int64_t> values = scaleLabelValues(lower, upper);
    for (std::size_t k = 0; k < values.size(); ++k) {
        const int top = TraceRecorder::kBaselineRow - h - kScaleLabelStep * int(k);
        painter.drawText(QPoint(x, top + metrics.ascent()), QString::number(values[k]));
    }
}

int rightColumn(const QPainter &painter, int stripWidth)
{
    return stripWidth - QFontMetrics(painter.font()).horizontalAdvance(QStringLiteral("8888")) - 1;
}

// Relative luminance as the contrast rules of the web's accessibility guidelines define it.
double luminance(const QColor &c)
{
    auto linear = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

} // namespace

double contrastRatio(const QColor &a, const QColor &b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor inkOnPaper(const QColor &curve)
{
    constexpr double kReadable = 4.5;
    QColor ink = curve;
    while (contrastRatio(ink, Qt::white) < kReadable)
        ink = ink.darker(110);
    return ink;
}

QColor legendBackground(const QColor &curve)
{
    // Contrast against black is (L + 0.05) / 0.05, against white 1.05 / (L + 0.05); they are
    // equal where (L + 0.05)^2 = 0.0525.
    const double l = luminance(curve) + 0.05;
    return l * l >= 0.0525 ? QColor(Qt::black) : QColor(Qt::white);
}

std::vector<std::int64_t> scaleLabelValues(std::int64_t lower, std::int64_t upper)
{
    std::vector<std::int64_t> values;
    const std::int64_t step = (upper - lower) / kScaleLabelCount;
    if (step <= 0)
        return values; // limits are never this close; no endless loop if they were
    values.reserve(kScaleLabelCount);
    for (std::int64_t v = lower; v < upper; v += step)
        values.push_back(v);
    return values;
}

void paintCurves(QPainter &painter, const TraceRecorder &recorder, int motor, const QRect &area)
{
    painter.setRenderHint(QPainter::Antialiasing, false);
    // A segment reaches half its pen's width beyond its end columns, and at a scale such as
    // 150 % the area's edges are rounded outwards to whole device pixels: a column more either
    // side.
    int first = 1;
    int last = recorder.fill() - 1;
    if (!area.isNull()) {
        first = std::max(first, area.left() - 1);
        last = std::min(last, area.right() + 2);
    }
    // Velocity last, on top of the others.
    paintCurve(painter, recorder, motor, TraceCurve::Acceleration, trace_colors::kAcceleration,
               kAccelerationRowOffset, first, last);
    paintCurve(painter, recorder, motor, TraceCurve::TargetVelocity, trace_colors::kTargetVelocity,
               kTargetVelocityRowOffset, first, last);
    paintCurve(painter, recorder, motor, TraceCurve::Position, trace_colors::kPosition,
               kPositionRowOffset, first, last);
    paintCurve(painter, recorder, motor, TraceCurve::Velocity, trace_colors::kVelocity,
               kVelocityRowOffset, first, last);
}

void paintLeftScale(QPainter &painter, const TraceRecorder &recorder, int motor, int stripWidth,
                    bool onPaper)
{
    auto ink = [onPaper](const QColor &c) { return onPaper ? inkOnPaper(c) : c; };
    const TraceLimits l = recorder.limits(motor);
    paintScale(painter, l.lowerPosition, l.upperPosition, ink(trace_colors::kPosition), 0);
    paintScale(painter, 0, l.targetVelocity, ink(trace_colors::kTargetVelocity),
               rightColumn(painter, stripWidth));
}

void paintRightScale(QPainter &painter, const TraceRecorder &recorder, int motor, int stripWidth,
                     bool onPaper)
{
    auto ink = [onPaper](const QColor &c) { return onPaper ? inkOnPaper(c) : c; };
    const TraceLimits l = recorder.limits(motor);
    paintScale(painter, 0, l.velocity, ink(trace_colors::kVelocity), 0);
    paintScale(painter, 0, l.acceleration, ink(trace_colors::kAcceleration),
               rightColumn(painter, stripWidth));
}

} // namespace kvx
