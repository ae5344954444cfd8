#include "settings/PortCatalog.h"

#include "settings/IniFile.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>

#include <unistd.h>

namespace kvx {

namespace {

const QString kPortsSection = QStringLiteral("Ports");

QString comName(int port)
{
    return QStringLiteral("COM%1").arg(port + 1);
}

} // namespace

QList<SerialDevice> systemSerialDevices()
{
    // The stable names are links to the device nodes.
    QMap<QString, QString> stableOf;
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo &link :
         byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot))
        stableOf.insert(link.canonicalFilePath(), link.absoluteFilePath());

    QList<SerialDevice> devices;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        SerialDevice d;
        d.node = info.systemLocation();
        d.stable = stableOf.value(QFileInfo(d.node).canonicalFilePath());
        d.description = info.description();
        d.manufacturer = info.manufacturer();
        if (info.hasVendorIdentifier())
            d.vendorId = info.vendorIdentifier();
        if (info.hasProductIdentifier())
            d.productId = info.productIdentifier();
        d.accessible = ::access(QFile::encodeName(d.node).constData(), R_OK | W_OK) == 0;
        d.group = QFileInfo(d.node).group();
        devices << d;
    }
    return devices;
}

QString deviceText(const SerialDevice &device)
{
    QStringList more;
    if (!device.manufacturer.isEmpty())
        more << device.manufacturer;
    if (device.vendorId >= 0 && device.productId >= 0)
        more << QStringLiteral("%1:%2")
                    .arg(device.vendorId, 4, 16, QLatin1Char('0'))
                    .arg(device.productId, 4, 16, QLatin1Char('0'));
    QString text = QFileInfo(device.node).fileName();
    if (!device.description.isEmpty())
        text += QStringLiteral(" \u2013 ") + device.description;
    if (!more.isEmpty())
        text += QStringLiteral(" (") + more.join(QStringLiteral(", ")) + QLatin1Char(')');
    return text;
}

QString accessRemedy(const SerialDevice &device)
{
    if (device.accessible)
        return {};
    if (device.group.isEmpty() || device.group == QStringLiteral("root"))
        return QObject::tr("You may not open %1.").arg(device.node);
    return QObject::tr("You may not open %1: add yourself to the group \"%2\" "
                       "(sudo usermod -aG %2 $USER) and log in again.")
        .arg(device.node, device.group);
}

QString defaultTarget(int port)
{
    return QStringLiteral("/dev/ttyS%1").arg(port);
}

QStringList simulatedTargets()
{
    return {QStringLiteral("sim"), QStringLiteral("sim:korve"), QStringLiteral("sim:pentar")};
}

PortTargets readPortTargets(const IniFile &ini)
{
    PortTargets targets;
    for (int p = 0; p < kMappedPorts; ++p)
        targets[std::size_t(p)] =
            ini.value(kPortsSection, comName(p)).value_or(QString()).trimmed();
    return targets;
}

void writePortTargets(IniFile &ini, const PortTargets &targets)
{
    for (int p = 0; p < kMappedPorts; ++p) {
        const QString &t = targets[std::size_t(p)];
        if (t.trimmed().isEmpty())
            ini.removeKey(kPortsSection, comName(p));
        else
            ini.setValue(kPortsSection, comName(p), t.trimmed());
    }
}

} // namespace kvx
