#pragma once

// Builders for the windows' fixed layouts: a control placed at its pixel position, with its
// design name and its hint. User-interface thread only.

#include <QPoint>
#include <QRect>
#include <QString>

#include <functional>

class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;
class QTabWidget;
class QWidget;

namespace kvx {

void setHint(QWidget *w, const QString &hint);
// A control's design name for motor `motor` (0..2): "BtnGo" gives "BtnGo1".
[[nodiscard]] QString withMotor(const char *name, int motor);
// A sunken display field.
QLabel *sunkenField(QWidget *parent, const QString &name, const QRect &r,
                    const QString &text = QStringLiteral("0"));
// A sunken panel that holds other controls.
QFrame *panel(QWidget *parent, const QString &name, const QRect &r);
// A label as wide as its text.
QLabel *caption(QWidget *parent, const QString &name, const QString &text, QPoint at);
QPushButton *button(QWidget *parent, const QString &name, const QString &text, const QRect &r,
                    const QString &hint);
QGroupBox *group(QWidget *parent, const QString &name, const QString &title, const QRect &r,
                 const QString &hint = {});

// Ctrl+Tab and Ctrl+PgDn to the next page of `tabs`, Ctrl+Shift+Tab and Ctrl+PgUp to the one
// before, round at the ends, from anywhere in its window: a key pressed in a control the tab
// widget does not hold (a scroll area around it), or that a control takes for itself (a grid's
// Ctrl+Tab), would otherwise never move it.
void movePagesByKeys(QTabWidget *tabs);

// Shows `text` in a display field only when it differs from what the field shows: the poll
// cycle rewrites every field many times a second, mostly with the text it already holds.
void showText(QLabel *field, const QString &text);

// Gives every display field (a sunken label) and LED in `root` that has none an accessible
// name: the caption beside it on its row, and the group it sits in ("Actual Position (Motor
// 1)"), so that a screen reader can tell the fields apart. Run once a window is built.
// `context` ("Motor 1"), if any, is added where one window holds like groups several times.
void nameFieldsByTheirCaptions(QWidget *root, const QString &context = {});

} // namespace kvx
