#pragma once

// The key filter of the window's hexadecimal fields (the RAM grid, the four "SPI Direct"
// fields and the cover telegram): a typed character passes only if it is Backspace, Tab,
// Enter, Escape or a hexadecimal digit; any other is dropped with the system's beep. Keys that
// type nothing (arrows, Delete) and shortcuts with Ctrl or Alt pass. User-interface thread only.

#include <QObject>

namespace kvx {

class HexKeyFilter : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;
    // Filters the keys typed into `w`.
    void watch(QObject *w) { w->installEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};

} // namespace kvx
