#include "link/PortName.h"

#include <QRegularExpression>

namespace kvx {

PortTarget parsePortValue(const QString &value)
{
    const QString v = value.trimmed();
    if (v.compare(QLatin1String("sim"), Qt::CaseInsensitive) == 0)
        return {PortTarget::Kind::Simulated, {}, QStringLiteral("plain")};
    if (v.startsWith(QLatin1String("sim:"), Qt::CaseInsensitive)) {
        const QString variant = v.mid(4).trimmed().toLower();
        if (variant == QLatin1String("plain") || variant == QLatin1String("korve") ||
            variant == QLatin1String("pentar"))
            return {PortTarget::Kind::Simulated, {}, variant};
        return {PortTarget::Kind::Invalid, v, {}};
    }
    return {PortTarget::Kind::Device, v, {}};
}

PortTarget resolvePortName(const QString &name, const QMap<QString, QString> &ports)
{
    static const QRegularExpression comName(QStringLiteral("^COM([1-9])$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = comName.match(name);
    // Any other name is what a mapping value would be: a device, or a simulated board.
    if (!match.hasMatch())
        return parsePortValue(name);

    const QString key = QStringLiteral("COM") + match.captured(1);
    // Settings keys match without regard to case ("com1=sim" is COM1's); the settings file
    // gives each key once, in its first spelling.
    QString mapped;
    for (auto it = ports.cbegin(); it != ports.cend(); ++it) {
        if (it.key().compare(key, Qt::CaseInsensitive) == 0) {
            mapped = it.value().trimmed();
            break;
        }
    }
    if (!mapped.isEmpty())
        return parsePortValue(mapped);

#ifdef Q_OS_WIN
    return {PortTarget::Kind::Device, key, {}};
#else
    return {PortTarget::Kind::Device,
            QStringLiteral("/dev/ttyS%1").arg(match.captured(1).toInt() - 1),
            {}};
#endif
}

} // namespace kvx
