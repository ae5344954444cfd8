#include "app/FirstStart.h"

#include "controls/Dialogs.h"
#include "settings/ProgramSettings.h"

#include <QCoreApplication>
#include <QMessageBox>

#include <algorithm>

namespace kvx {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("FirstStart", text);
}

} // namespace

BoardOffer firstBoardOffer(const QList<SerialDevice> &devices, const QString &portName)
{
    // Built-in serial ports are listed whether or not anything is connected to them; a USB
    // adapter is there because someone plugged it in.
    QList<SerialDevice> adapters;
    std::copy_if(devices.begin(), devices.end(), std::back_inserter(adapters),
                 [](const SerialDevice &d) { return d.vendorId >= 0; });
    std::stable_partition(adapters.begin(), adapters.end(),
                          [](const SerialDevice &d) { return d.accessible; });
    if (adapters.isEmpty()) {
        return {QStringLiteral("sim"), tr("No serial adapter is plugged in."),
                tr("Use the simulated board as %1, to explore the program without hardware? "
                   "\"Ports...\" in the group \"More\" maps %1 to an adapter later.")
                    .arg(portName)};
    }
    const SerialDevice &d = adapters.first();
    QString informative = tr("Open the board through it as %1? \"Ports...\" in the group "
                             "\"More\" changes this at any time.")
                              .arg(portName);
    if (const QString remedy = accessRemedy(d); !remedy.isEmpty())
        informative += QLatin1Char('\n') + remedy;
    return {d.target(), tr("A serial adapter is plugged in: %1.").arg(deviceText(d)), informative};
}

bool offerFirstBoard(QWidget *parent, const QString &settingsPath, const QString &portName,
                     const QList<SerialDevice> &devices)
{
    if (portName.isEmpty())
        return false;
    const BoardOffer offer = firstBoardOffer(devices, portName);
    QMessageBox box(QMessageBox::Question, QCoreApplication::applicationName(), offer.text,
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setInformativeText(offer.informative);
    box.setDefaultButton(QMessageBox::Yes);
    if (Dialogs::exec(box) != QMessageBox::Yes)
        return false;
    return ProgramSettings(settingsPath).setPortEntry(portName, offer.target);
}

} // namespace kvx
