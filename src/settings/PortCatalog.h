#pragma once

// What the port mapping dialog offers for COM1 .. COM9: the serial devices the system has now,
// the simulated boards, and the [Ports] section the choices are written to. The devices come
// from a source that tests replace. Pure logic; no widgets.

#include <QList>
#include <QString>

#include <array>
#include <functional>

namespace kvx {

class IniFile;

inline constexpr int kMappedPorts = 9; // COM1 .. COM9

struct SerialDevice
{
    QString node;   // "/dev/ttyUSB0"
    QString stable; // its name under /dev/serial/by-id, if it has one
    QString description;
    QString manufacturer;
    int vendorId = -1; // USB vendor and product, -1 where there are none
    int productId = -1;
    bool accessible = true; // the user may open it for reading and writing
    QString group;          // the group that owns the device node

    // What the mapping keeps: the name that stays the same when the device is plugged in again.
    [[nodiscard]] QString target() const { return stable.isEmpty() ? node : stable; }
};

using DeviceSource = std::function<QList<SerialDevice>()>;

// The system's serial devices, through Qt's enumeration, with their stable names and access.
[[nodiscard]] QList<SerialDevice> systemSerialDevices();

// "ttyUSB0 – FT232R USB UART (FTDI, 0403:6001)"; no brackets where nothing more is known.
[[nodiscard]] QString deviceText(const SerialDevice &device);
// The remedy for a device the user may not open.
[[nodiscard]] QString accessRemedy(const SerialDevice &device);

// The device a COMn stands for when [Ports] does not name one.
[[nodiscard]] QString defaultTarget(int port);
// The simulated boards a port may name.
[[nodiscard]] QStringList simulatedTargets();

using PortTargets = std::array<QString, kMappedPorts>; // empty: the default

[[nodiscard]] PortTargets readPortTargets(const IniFile &ini);
// Writes COM1 .. COM9 into [Ports]: a target, or no line for the default. Other keys, sections
// and comments stay as they are.
void writePortTargets(IniFile &ini, const PortTargets &targets);

} // namespace kvx
