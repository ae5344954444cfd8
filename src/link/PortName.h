#pragma once

// How a port name of the program ("COM1".."COM9", or any device path) becomes the device that
// is opened. The mapping comes from the settings file's [Ports] section; the built-in
// simulated board is named "sim", "sim:korve" or "sim:pentar". Pure functions.

#include <QMap>
#include <QString>

namespace kvx {

struct PortTarget
{
    enum class Kind
    {
        Device,    // open `path` as a serial device
        Simulated, // start the built-in simulated board of `variant` and open its terminal
        Invalid,   // the mapping names something that cannot be opened; `path` says what
    };
    Kind kind = Kind::Device;
    QString path;
    QString variant; // "plain", "korve" or "pentar" for Kind::Simulated

    friend bool operator==(const PortTarget &, const PortTarget &) = default;
};

// `ports` maps "COM1".."COM9" to a device path or a simulated-board name. Without an entry a
// COM name is itself on Windows and /dev/ttyS0../dev/ttyS8 elsewhere; any other name is read
// as a mapping value (a device path, "sim", "sim:korve").
[[nodiscard]] PortTarget resolvePortName(const QString &name, const QMap<QString, QString> &ports);

// The meaning of one mapping value ("sim", "sim:korve", a device path).
[[nodiscard]] PortTarget parsePortValue(const QString &value);

} // namespace kvx
