#include "graphics/TracePicture.h"

#include "graphics/TracePainter.h"
#include "records/TraceFiles.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>

#include <cmath>

namespace kvx {

namespace {

constexpr int kMargin = 8;
constexpr int kSwatchWidth = 24;
// One motor's strips and plot, as the page places them.
constexpr int kBlockWidth = 624;
constexpr int kBlockHeight = 436;
constexpr int kLeftStripWidth = 81;
constexpr QRect kPlotPanel{80, 0, 480, kBlockHeight};
constexpr int kRightStripLeft = 559;
constexpr int kRightStripWidth = 65;
constexpr int kTickLength = 4;
// Both files are laid out at the screen's usual density, so that a point size comes out the
// same in the PNG and the SVG.
constexpr int kDotsPerInch = 96;

QString tr(const char *text)
{
    return QCoreApplication::translate("TracePicture", text);
}

QFont pictureFont(const QFont &font)
{
    QFont f = font;
    if (font.pointSizeF() > 0)
        f.setPixelSize(int(std::lround(font.pointSizeF() * kDotsPerInch / 72.0)));
    return f;
}

int lineHeight(const QFont &font)
{
    return QFontMetrics(pictureFont(font)).height() + 4;
}

// The time axis under a plot: its marks and their seconds.
int axisHeight(int line)
{
    return kTickLength + line;
}

const QColor kLegendColors[] = {trace_colors::kVelocity, trace_colors::kTargetVelocity,
                                trace_colors::kPosition, trace_colors::kAcceleration};

void paintMotor(QPainter &painter, const TraceRecorder &recorder, int motor)
{
    painter.save();
    // The scales on the page's white, in inks that read on paper; the plot on black, where the
    // curves' own colours read, as on screen.
    paintLeftScale(painter, recorder, motor, kLeftStripWidth, true);
    painter.translate(kRightStripLeft, 0);
    paintRightScale(painter, recorder, motor, kRightStripWidth, true);
    painter.translate(-kRightStripLeft, 0);
    painter.fillRect(kPlotPanel, Qt::black);
    // The panel's border lies over the column each strip shares with it, as on the page.
    painter.setPen(Qt::gray);
    painter.drawRect(kPlotPanel.adjusted(0, 0, -1, -1));
    const QRect surface = kPlotPanel.adjusted(1, 1, -1, -1);
    painter.setClipRect(surface);
    painter.translate(surface.topLeft());
    paintCurves(painter, recorder, motor);
    painter.restore();
}

// Under the plot: a mark and its seconds at each round step of the cycles' times.
void paintTimeAxis(QPainter &painter, const TraceRecorder &recorder, int ascent)
{
    const int left = kPlotPanel.left() + 1; // the plot surface's column 0
    const int top = kBlockHeight;
    painter.save();
    painter.setPen(Qt::black);
    painter.drawLine(kPlotPanel.left(), top, kPlotPanel.right(), top);
    const QFontMetrics metrics(painter.font());
    for (const TraceTimeTick &tick : traceTimeTicks(recorder)) {
        // The surface is 478 columns wide; a full plot's last cycles lie under its border.
        if (tick.x > kPlotPanel.width() - 3)
            continue;
        const int x = left + int(std::lround(tick.x));
        painter.drawLine(x, top, x, top + kTickLength);
        const QString text = QString::number(tick.seconds, 'g', 6);
        painter.drawText(x - metrics.horizontalAdvance(text) / 2, top + kTickLength + 1 + ascent,
                         text);
    }
    const QString unit = tr("time (s)");
    painter.drawText(kRightStripLeft + 4, top + kTickLength + 1 + ascent, unit);
    painter.restore();
}

} // namespace

QStringList tracePictureLegend()
{
    return {
        tr("Velocity V_ACTUAL, absolute value (register units): right scale, left column"),
        tr("Target velocity V_TARGET, absolute value (register units): left scale, right column"),
        tr("Position X_ACTUAL (microsteps): left scale, left column"),
        tr("Acceleration A_ACTUAL, absolute value (register units): right scale, right column"),
    };
}

QSize tracePictureSize(const QFont &font)
{
    const int line = lineHeight(font);
    const int legend = (tracePictureLegend().size() + 1) * line;
    return {2 * kMargin + kBlockWidth,
            2 * kMargin + legend +
                TraceRecorder::kMotorCount * (line + kBlockHeight + axisHeight(line) + kMargin)};
}

void paintTracePicture(QPainter &painter, const TraceRecorder &recorder, const QFont &font)
{
    const QSize size = tracePictureSize(font);
    const int line = lineHeight(font);
    const QFont f = pictureFont(font);
    const int ascent = QFontMetrics(f).ascent();
    painter.save();
    painter.setFont(f);
    painter.fillRect(QRect(QPoint(), size), Qt::white);

    int y = kMargin;
    const QStringList legend = tracePictureLegend();
    for (qsizetype k = 0; k < legend.size(); ++k, y += line) {
        // The swatch shows the curve as it looks in the plot: on black.
        const QRect swatch(kMargin, y + 1, kSwatchWidth, line - 2);
        painter.fillRect(swatch, Qt::black);
        painter.setPen(QPen(kLegendColors[k], 2));
        painter.drawLine(swatch.left() + 3, swatch.center().y(), swatch.right() - 3,
                         swatch.center().y());
        painter.setPen(Qt::black);
        painter.drawText(kMargin + kSwatchWidth + 6, y + 2 + ascent, legend[k]);
    }
    const int n = recorder.fill();
    const double seconds = n > 0 ? traceSeconds(recorder, n - 1) : 0.0;
    painter.drawText(
        kMargin, y + 2 + ascent,
        tr("x axis: one poll cycle per pixel, oldest at the left; %1 cycles over %2 s, "
           "marked in seconds since the oldest")
            .arg(n)
            .arg(seconds, 0, 'f', 3));
    y += line + kMargin;

    for (int m = 0; m < TraceRecorder::kMotorCount; ++m) {
        QFont bold = f;
        bold.setBold(true);
        painter.setFont(bold);
        painter.setPen(Qt::black);
        painter.drawText(kMargin, y + 2 + ascent, tr("Motor %1").arg(m + 1));
        painter.setFont(f);
        y += line;
        painter.save();
        painter.translate(kMargin, y);
        paintMotor(painter, recorder, m);
        paintTimeAxis(painter, recorder, ascent);
        painter.restore();
        y += kBlockHeight + axisHeight(line) + kMargin;
    }
    painter.restore();
}

QByteArray tracePicture(const TraceRecorder &recorder, const QFont &font, PictureFormat format)
{
    const QSize size = tracePictureSize(font);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (format == PictureFormat::Svg) {
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize(size);
        svg.setViewBox(QRect(QPoint(), size));
        svg.setResolution(kDotsPerInch);
        svg.setTitle(tr("KVX310 graphic display"));
        QPainter painter(&svg);
        paintTracePicture(painter, recorder, font);
        painter.end();
        return bytes;
    }
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    paintTracePicture(painter, recorder, font);
    painter.end();
    if (!image.save(&buffer, "PNG"))
        return {};
    return bytes;
}

} // namespace kvx
