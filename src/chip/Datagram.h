#pragma once

// The 32-bit messages exchanged with the KVX310: a request (address byte and 24 data bits)
// and its reply (status byte and 24 data bits), with the layout of the address byte.
// Pure value types; usable from any thread.

#include <cstdint>

namespace kvx {

inline constexpr int kMotorCount = 3;
inline constexpr int kCommonBank = 3;
inline constexpr int kRamWordCount = 64;
inline constexpr int kRamByteCount = 128;
inline constexpr std::uint32_t kDataMask = 0xFFFFFF;

// Address byte: bit 7 RAM, bits 6..5 bank, bits 4..1 register index (bits 6..1 the RAM
// word), bit 0 read.
[[nodiscard]] constexpr std::uint8_t registerAddress(int bank, int index, bool read)
{
    return static_cast<std::uint8_t>(((bank & 3) << 5) | ((index & 15) << 1) | (read ? 1 : 0));
}

[[nodiscard]] constexpr std::uint8_t ramWordAddress(int word, bool read)
{
    return static_cast<std::uint8_t>(0x80 | ((word & 63) << 1) | (read ? 1 : 0));
}

[[nodiscard]] constexpr bool isRamAddress(std::uint8_t address)
{
    return (address & 0x80) != 0;
}
[[nodiscard]] constexpr bool isReadAddress(std::uint8_t address)
{
    return (address & 1) != 0;
}
[[nodiscard]] constexpr int bankOf(std::uint8_t address)
{
    return (address >> 5) & 3;
}
[[nodiscard]] constexpr int registerIndexOf(std::uint8_t address)
{
    return (address >> 1) & 15;
}
[[nodiscard]] constexpr int ramWordOf(std::uint8_t address)
{
    return (address >> 1) & 63;
}

// Three data bytes, most significant first, as they travel on the wire.
struct DataBytes
{
    std::uint8_t high = 0; // bits 23..16
    std::uint8_t mid = 0;  // bits 15..8
    std::uint8_t low = 0;  // bits 7..0

    [[nodiscard]] constexpr std::uint32_t value() const
    {
        return (std::uint32_t{high} << 16) | (std::uint32_t{mid} << 8) | low;
    }
    [[nodiscard]] static constexpr DataBytes fromValue(std::uint32_t data)
    {
        return {static_cast<std::uint8_t>(data >> 16), static_cast<std::uint8_t>(data >> 8),
                static_cast<std::uint8_t>(data)};
    }
    friend constexpr bool operator==(const DataBytes &, const DataBytes &) = default;
};

struct Datagram
{
    std::uint8_t address = 0;
    DataBytes data;

    [[nodiscard]] static constexpr Datagram make(std::uint8_t address, std::uint32_t data)
    {
        return {address, DataBytes::fromValue(data)};
    }
    friend constexpr bool operator==(const Datagram &, const Datagram &) = default;
};

struct Reply
{
    std::uint8_t status = 0;
    DataBytes data;

    friend constexpr bool operator==(const Reply &, const Reply &) = default;
};

} // namespace kvx
