#pragma once

// The microstep wave shape: one quarter period of 64 amplitudes of 6 bits, blended by Sigma
// between a triangle (-1), a sine (0) and a trapezoid that rises to 1/sqrt(2) at 45 degrees and
// stays there (+1). The constants are the named quantities to 13 significant digits, as the
// tables on existing boards were computed with them. Pure logic.

#include <array>

namespace kvx {

inline constexpr int kShapeSteps = 64; // per quarter period
inline constexpr int kShapeFullScale = 64;
inline constexpr int kShapeLargest = 63;     // 6-bit amplitude
inline constexpr int kShapeFirstByte = 0x40; // where the table lies in the chip's RAM

inline constexpr double kQuarterPeriod = 1.570796326795;    // pi/2
inline constexpr double kTrapezoidCorner = 0.7853981633974; // pi/4
inline constexpr double kTrapezoidSlope = 0.9003163161571;  // 2 sqrt(2) / pi
inline constexpr double kTriangleSlope = 0.6366197723676;   // 2 / pi

using ShapeTable = std::array<int, kShapeSteps>;

[[nodiscard]] double ShapeTriangle(double a);
[[nodiscard]] double ShapeSine(double a);
[[nodiscard]] double ShapeTrapezoid(double a);
// Sigma is taken as -1 below -1 and as +1 above +1.
[[nodiscard]] double ShapeBlend(double a, double sigma);
[[nodiscard]] ShapeTable CalcShapeTable(double sigma);

} // namespace kvx
