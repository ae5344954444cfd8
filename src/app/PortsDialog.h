#pragma once

// The "Ports" dialog: what COM1 .. COM9 stand for. Each port takes one of the serial devices
// the system has now (kept by its stable name where there is one), a simulated board, a path
// typed by hand, or its default. A device the user may not open is marked with the remedy.
// "Refresh" lists what was plugged in since; the port open now, if any, is named. Enter in an
// entry presses OK. User-interface thread only.

#include "settings/PortCatalog.h"

#include <QDialog>

#include <array>

class QComboBox;
class QLabel;
class QPushButton;

namespace kvx {

class TFormPorts : public QDialog
{
    Q_OBJECT

public:
    TFormPorts(const PortTargets &current, DeviceSource devices, QWidget *parent = nullptr);

    std::array<QComboBox *, kMappedPorts> CbTarget{};
    std::array<QLabel *, kMappedPorts> LblNote{};
    QPushButton *BtnRefresh = nullptr;
    QPushButton *BtnOK = nullptr;
    QPushButton *BtnCancel = nullptr;
    QLabel *LblOpen = nullptr;

    // The port open now ("COM2") and the device it opened; an empty name when none is.
    void setOpenPort(const QString &portName, const QString &device);

    // What each port is set to now: empty for the default.
    [[nodiscard]] PortTargets targets() const;
    void BtnRefreshClick();

private:
    void fill(int port, const QString &target);
    void showNote(int port);

    DeviceSource m_devices;
    QList<SerialDevice> m_found;
};

} // namespace kvx
