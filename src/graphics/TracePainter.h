#pragma once

// Drawing of the graphic display's paint areas from a trace recorder: the four curves of a
// motor in its plot area, and the labels of its left (position, target velocity) and right
// (velocity, acceleration) scale strips. Pure painting onto whatever device the painter holds,
// so that tests render into images. Owns nothing; user-interface thread (or any thread that
// owns the painter).

#include "records/TraceRecorder.h"

#include <QColor>
#include <QRect>

#include <cstdint>
#include <vector>

class QPainter;

namespace kvx {

namespace trace_colors {
inline constexpr QColor kVelocity{255, 0, 0};
inline constexpr QColor kTargetVelocity{255, 255, 0};
inline constexpr QColor kPosition{0, 128, 0};
inline constexpr QColor kAcceleration{0, 0, 255};
} // namespace trace_colors

// Where a curve's colour is named outside the plot (the legend): black or white, whichever
// sets it off more, so that the name reads on a light and on a dark palette alike.
[[nodiscard]] QColor legendBackground(const QColor &curve);
// A curve's colour darkened until text in it reads on white paper (a contrast of 4.5 to 1).
[[nodiscard]] QColor inkOnPaper(const QColor &curve);
// Contrast ratio of two colours, 1 (none) to 21 (black on white).
[[nodiscard]] double contrastRatio(const QColor &a, const QColor &b);

// Offsets of each curve from its stored row, so that curves lying on each other stay visible.
inline constexpr int kAccelerationRowOffset = 1;
inline constexpr int kTargetVelocityRowOffset = -3;
inline constexpr int kPositionRowOffset = -2;
inline constexpr int kVelocityRowOffset = 0;

inline constexpr int kScaleLabelCount = 20;
inline constexpr int kScaleLabelStep = TraceRecorder::kPlotHeight / kScaleLabelCount;

// The values labelled on a scale from `lower` up to, not including, `upper`, in steps of a
// twentieth of the span.
[[nodiscard]] std::vector<std::int64_t> scaleLabelValues(std::int64_t lower, std::int64_t upper);

// The curves of complete cycles, oldest at column 0; nothing is erased. Each segment, from one
// cycle to the next, is a line of its own, so that it looks the same whatever else is painted
// with it: a part of the plot painted again matches the whole. `area`, if given, is the part to
// paint: segments that cannot reach it are left out.
void paintCurves(QPainter &painter, const TraceRecorder &recorder, int motor,
                 const QRect &area = {});
// Labels on a strip `stripWidth` pixels wide, in the painter's font: in the curves' colours on
// the screen's black strip, or `onPaper`, in inks that read on white.
void paintLeftScale(QPainter &painter, const TraceRecorder &recorder, int motor, int stripWidth,
                    bool onPaper = false);
void paintRightScale(QPainter &painter, const TraceRecorder &recorder, int motor, int stripWidth,
                     bool onPaper = false);

} // namespace kvx
