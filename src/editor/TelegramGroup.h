#pragma once

// What the register pages share around their " SPI Telegram " group and register selection:
// the four byte fields of the composed telegram, the note that a send got no answer, the
// "&Copy" button, and the item chosen in a radio group. User-interface thread only.

#include "chip/Datagram.h"

#include <QPoint>
#include <QRect>
#include <QString>

#include <array>
#include <span>

class QLabel;
class QObject;
class QRadioButton;
class QToolButton;
class QWidget;

namespace kvx {

using TelegramFields = std::array<QLabel *, 4>; // address byte, data bits 23..16, 15..8, 7..0

// Four 25 x 25 fields from `first`, 32 pixels apart, initially "FF", named `prefix`, the
// field's number (1 to 4) and `suffix`.
TelegramFields telegramFields(QWidget *group, const QString &prefix, const QString &suffix,
                              QPoint first);
// Shows `d` as two upper-case hexadecimal digits a byte; the address byte only when asked.
void showTelegram(const TelegramFields &fields, const Datagram &d, bool withAddress);

// A red note, hidden until a send gets no answer, so that such a send does not pass unnoticed.
QLabel *noAnswerNote(QWidget *group, const QString &name, QPoint at);

// The "&Copy" button: a left arrow above its caption.
QToolButton *copyButton(QWidget *parent, const QString &name, const QRect &r, const QString &hint);

// The index of the checked item, or 0 when none is.
[[nodiscard]] int checkedItem(std::span<QRadioButton *const> items);

// An editor's register item, so that a change can tell whether it concerns the item shown.
void setItemTag(QObject *editor, int item);
// The item `setItemTag` gave, or -1.
[[nodiscard]] int tagOf(const QObject *editor);

} // namespace kvx
