#include "records/MicrostepShape.h"

#include <algorithm>
#include <cmath>

namespace kvx {

double ShapeTriangle(double a)
{
    return a * kTriangleSlope;
}

double ShapeSine(double a)
{
    return std::sin(a);
}

double ShapeTrapezoid(double a)
{
    // The corner itself already lies on the plateau.
    return a < kTrapezoidCorner ? a * kTrapezoidSlope : 1.0 / std::sqrt(2.0);
}

double ShapeBlend(double a, double sigma)
{
    const double c = std::clamp(sigma, -1.0, 1.0);
    const double sine = ShapeSine(a);
    if (sigma > 0)
        return sine + c * (ShapeTrapezoid(a) - sine);
    return sine + c * (sine - ShapeTriangle(a));
}

ShapeTable CalcShapeTable(double sigma)
{
    ShapeTable table{};
    for (int i = 0; i < kShapeSteps; ++i) {
        const double a = i * kQuarterPeriod / kShapeSteps;
        // Truncated after adding a half: the values are never negative, so halves go up. The
        // limits are applied before the conversion, which a value that is no number (a Sigma
        // pasted as "nan") would make undefined.
        const double v = kShapeFullScale * ShapeBlend(a, sigma) + 0.5;
        table[std::size_t(i)] = v >= 0 ? (v < kShapeLargest + 1 ? int(v) : kShapeLargest) : 0;
    }
    return table;
}

} // namespace kvx
