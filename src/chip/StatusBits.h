#pragma once

// The eight status bits that lead every reply of the KVX310.

#include <array>
#include <cstdint>
#include <string_view>

namespace kvx {

namespace status {
inline constexpr int XReached1 = 0;
inline constexpr int Reference1 = 1;
inline constexpr int XReached2 = 2;
inline constexpr int Reference2 = 3;
inline constexpr int XReached3 = 4;
inline constexpr int Reference3 = 5;
inline constexpr int CoverWaiting = 6;
inline constexpr int Interrupt = 7;
} // namespace status

[[nodiscard]] constexpr int targetReachedBit(int motor)
{
    return 2 * motor;
}
[[nodiscard]] constexpr int referenceSwitchBit(int motor)
{
    return 2 * motor + 1;
}

inline constexpr std::array<std::string_view, 8> kStatusBitNames = {
    "X_ACTUAL1 = X_TARGET1", "REFERENCE_SWITCH_1", "X_ACTUAL2 = X_TARGET2", "REFERENCE_SWITCH_2",
    "X_ACTUAL3 = X_TARGET3", "REFERENCE_SWITCH_3", "COVER_WAITING",         "INTERRUPT",
};

[[nodiscard]] constexpr std::array<bool, 8> decodeStatus(std::uint8_t status)
{
    std::array<bool, 8> bits{};
    for (int i = 0; i < 8; ++i)
        bits[i] = ((status >> i) & 1) != 0;
    return bits;
}

} // namespace kvx
