#pragma once

// kvx310's commands on the board session, each returning its exit status (ToolOptions.h).
// Output goes to the standard output, every error to the standard error in one line.
// User-interface thread, inside a running QCoreApplication.

#include "cli/ToolOptions.h"
#include "session/BoardSession.h"

namespace kvx::cli {

// `simulated` finds the boards of "sim" ports: the program's entry provides it, or none.
[[nodiscard]] int runCommand(const ToolOptions &options, SimulatedPortProvider simulated = {});

} // namespace kvx::cli
