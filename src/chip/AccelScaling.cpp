#include "chip/AccelScaling.h"

#include <cmath>

namespace kvx {

int AMaxMinimum(int rampDiv, int pulsDiv)
{
    return static_cast<int>(std::ceil(std::pow(2.0L, rampDiv - pulsDiv - 1)));
}

PMulPDiv CalcPMulPDiv(int aMax, int rampDiv, int pulsDiv)
{
    // The quotient and the product are formed with a 64-bit mantissa and only then rounded to
    // double, so that a p lying exactly on a candidate's boundary truncates the same way on
    // every platform the program has run on.
    const long double scale = std::ldexp(128.0L, rampDiv - pulsDiv);
    const double p = static_cast<double>(static_cast<long double>(aMax) / scale * 0.95L);

    PMulPDiv result;
    for (int d = 0; d <= 13; ++d) {
        const double m = std::trunc(std::ldexp(p, d + 3));
        if (m >= 128.0 && m <= 255.0) {
            result.pMul = static_cast<int>(m);
            result.pDiv = d;
        }
    }
    return result;
}

} // namespace kvx
