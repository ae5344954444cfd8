#include "editor/HexKeyFilter.h"

#include "chip/RegisterMap.h"
#include "controls/Dialogs.h"

#include <QKeyEvent>

namespace kvx {

bool HexKeyFilter::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    const auto *key = static_cast<QKeyEvent *>(event);
    const QString text = key->text();
    if (text.isEmpty() || text.front() == QChar(0x7F))
        return false; // arrows, Delete and the like
    // Shortcuts (copy, paste, select all) type control characters too; what they paste still
    // meets the field's mask and the checks before anything is sent.
    if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return false;
    const QChar c = text.front();
    const bool control = c == QChar(8) || c == QChar(9) || c == QChar(13) || c == QChar(27);
    if (control || hexDigit(c.unicode()) >= 0)
        return false;
    Dialogs::beep();
    return true;
}

} // namespace kvx
