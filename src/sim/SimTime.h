#pragma once

// Board time of the simulated board: microseconds since the board started. The board is given
// time by its owner and never reads a clock itself.

#include <chrono>

namespace kvx::sim {
using Micros = std::chrono::microseconds;
} // namespace kvx::sim
