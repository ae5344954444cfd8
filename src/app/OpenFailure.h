#pragma once

// What the message box "Could not open port COMn." says beneath its fixed text: what the port
// name stood for, the system's reason, and what the user can do about it. Pure text logic.

#include "link/PortName.h"

#include <QString>

namespace kvx {

struct OpenFailure
{
    QString portName; // "COM1"; empty when no port is selected
    PortTarget target;
    int error = 0; // the system's error number
    QString errorText;
    QString deviceGroup;  // the group that owns the device
    QString settingsPath; // where the port lines are kept
};

[[nodiscard]] QString openFailureDetail(const OpenFailure &failure);

} // namespace kvx
