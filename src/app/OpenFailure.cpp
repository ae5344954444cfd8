#include "app/OpenFailure.h"

#include <QCoreApplication>

#include <cerrno>

namespace kvx {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("OpenFailure", text);
}

// Groups that users join to use serial ports, on Debian and its kin and elsewhere.
bool isSerialGroup(const QString &group)
{
    return group == QLatin1String("dialout") || group == QLatin1String("uucp");
}

QString permissionRemedy(const QString &group)
{
    if (isSerialGroup(group)) {
        return tr("Add your user to the group that owns the device (%1), for example with "
                  "\"sudo usermod -aG %1 $USER\", then log in again.")
            .arg(group);
    }
    if (group == QLatin1String("root")) {
        return tr("The device is reserved to root. A udev rule, or the administrator, can "
                  "open it up to your user.");
    }
    if (group.isEmpty()) {
        return tr("Its owner could not be found out. Ask the administrator to give your user "
                  "access to it, for example with a udev rule.");
    }
    return tr("The device belongs to the group %1. Ask the administrator to give your user "
              "access to it, for example with a udev rule.")
        .arg(group);
}

} // namespace

QString openFailureDetail(const OpenFailure &f)
{
    if (f.portName.isEmpty())
        return tr("No port is selected. Choose one of COM1 to COM9 in the list, then click "
                  "\"Open\".");
    QString device;
    switch (f.target.kind) {
    case PortTarget::Kind::Simulated:
        device = tr("the simulated board (%1)").arg(f.target.variant);
        break;
    case PortTarget::Kind::Device:
    case PortTarget::Kind::Invalid:
        device = f.target.path.isEmpty() ? tr("no device") : f.target.path;
        break;
    }
    const QString detail = tr("%1 is %2: %3.").arg(f.portName, device, f.errorText);
    QString remedy;
    switch (f.error) {
    case EACCES:
        remedy = permissionRemedy(f.deviceGroup);
        break;
    case EBUSY:
        remedy = tr("Another program is using the device. Close it, or choose another port.");
        break;
    case EINVAL:
    default:
        // The dialog writes the settings file; nobody needs to find and edit it by hand.
        remedy = tr("Choose what %1 stands for with \"Ports...\" in the group \"More\": a "
                    "serial adapter plugged in, or the simulated board.")
                     .arg(f.portName);
        break;
    }
    return detail + QLatin1Char('\n') + remedy;
}

} // namespace kvx
