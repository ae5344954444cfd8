#pragma once

// Builders for the windows' fixed layouts: a control placed at its pixel position, with its
// design name and its hint. User-interface thread only.

#include <QPoint>
#include <QRect>
#include <QString>

class QGroupBox;
class QLabel;
class QPushButton;
class QWidget;

namespace kvx {

void setHint(QWidget *w, const QString &hint);
// A sunken display field.
QLabel *sunkenField(QWidget *parent, const QString &name, const QRect &r,
                    const QString &text = QStringLiteral("0"));
// A label as wide as its text.
QLabel *caption(QWidget *parent, const QString &name, const QString &text, QPoint at);
QPushButton *button(QWidget *parent, const QString &name, const QString &text, const QRect &r,
                    const QString &hint);
QGroupBox *group(QWidget *parent, const QString &name, const QString &title, const QRect &r,
                 const QString &hint = {});

} // namespace kvx
