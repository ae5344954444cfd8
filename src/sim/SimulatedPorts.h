#pragma once

// The simulated boards this process serves for "sim" ports: one PtyBoardServer per variant,
// started at first use and kept until the application ends, so that closing and reopening a
// port finds the same board in the same state. User-interface thread only.

#include <QString>

namespace kvx::sim {

class SimulatedPorts
{
public:
    // The terminal of the board of `variant` ("plain", "korve", "pentar"); empty with `error`
    // set when the variant is unknown or no terminal could be created.
    static QString terminalFor(const QString &variant, QString *error);
};

} // namespace kvx::sim
