#pragma once

// Made-up serial devices as the system would list them, for the tests of what the program
// offers for its ports.

#include "settings/PortCatalog.h"

namespace kvx::test {

// A USB adapter the user may open, with a stable name.
inline SerialDevice ftdi()
{
    SerialDevice d;
    d.node = QStringLiteral("/dev/ttyUSB0");
    d.stable = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A9XYZ-if00-port0");
    d.description = QStringLiteral("FT232R USB UART");
    d.manufacturer = QStringLiteral("FTDI");
    d.vendorId = 0x0403;
    d.productId = 0x6001;
    d.group = QStringLiteral("dialout");
    return d;
}

// A device of the group dialout that the user may not open.
inline SerialDevice lockedAcm(bool usb = false)
{
    SerialDevice d;
    d.node = QStringLiteral("/dev/ttyACM0");
    d.accessible = false;
    d.group = QStringLiteral("dialout");
    if (usb) {
        d.vendorId = 0x2341;
        d.productId = 0x0043;
    }
    return d;
}

// A port built into the machine: listed whether or not anything is connected to it.
inline SerialDevice builtIn()
{
    SerialDevice d;
    d.node = QStringLiteral("/dev/ttyS0");
    return d;
}

} // namespace kvx::test
