#pragma once

// The first start, without a settings file: the program offers a board for the port selected,
// a USB serial adapter plugged in (by name) or else the simulated board, so that "Open" finds
// something. An offer only: declined, nothing is written and the port keeps its default.
// User-interface thread only.

#include "settings/PortCatalog.h"

#include <QString>

class QWidget;

namespace kvx {

struct BoardOffer
{
    QString target;      // what the port is to stand for: a device's stable name, or "sim"
    QString text;        // the question's first line
    QString informative; // what answering yes does, and any remedy for the device
};

// The adapter to offer among `devices` (USB ones, those the user may open first), else the
// simulated board. `portName` is the port it is offered for ("COM1").
[[nodiscard]] BoardOffer firstBoardOffer(const QList<SerialDevice> &devices,
                                         const QString &portName);

// Asks through the dialog seam and, on yes, maps `portName` in the settings file at
// `settingsPath`. True when the offer was taken and written.
bool offerFirstBoard(QWidget *parent, const QString &settingsPath, const QString &portName,
                     const QList<SerialDevice> &devices);

} // namespace kvx
