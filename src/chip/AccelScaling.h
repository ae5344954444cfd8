#pragma once

// Arithmetic the motion commands do on register fields: the smallest maximum acceleration that
// a motor's dividers admit without overshooting, and the acceleration scaling pair.

namespace kvx {

struct PMulPDiv
{
    int pMul = 128;
    int pDiv = 0;
    friend constexpr bool operator==(const PMulPDiv &, const PMulPDiv &) = default;
};

// 2^(rampDiv - pulsDiv - 1), rounded up to an integer.
[[nodiscard]] int AMaxMinimum(int rampDiv, int pulsDiv);

// The pair with P_MUL in 128..255 for which P_MUL / 2^(P_DIV+3) is the largest value not above
// aMax / (2^(rampDiv - pulsDiv) * 128) * 0.95; 128, 0 when there is none.
[[nodiscard]] PMulPDiv CalcPMulPDiv(int aMax, int rampDiv, int pulsDiv);

} // namespace kvx
