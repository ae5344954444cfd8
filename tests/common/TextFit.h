#pragma once

// Finds the texts a window cannot show in full: captions of buttons, check boxes and radio
// buttons, labels, group titles, tab texts and every item of a drop-down list, each measured
// with its widget's font against the room its style gives it. Read-only; for tests.

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOption>
#include <QTabBar>
#include <QWidget>

namespace textfit {

// A caption as drawn: "&Open" shows "Open".
inline QString shown(QString text)
{
    text.replace(QLatin1String("&&"), QLatin1String("\x01"));
    text.remove(QLatin1Char('&'));
    text.replace(QLatin1Char('\x01'), QLatin1Char('&'));
    return text;
}

inline QString describe(const QWidget *w, const QString &text, int need, int room)
{
    return QStringLiteral("%1 \"%2\": %3 px in %4")
        .arg(w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className())
                                       : w->objectName(),
             text)
        .arg(need)
        .arg(room);
}

// Every text under `root` (itself included) that does not fit; empty when all do.
inline QStringList clippedTexts(const QWidget *root)
{
    QStringList clipped;
    QList<const QWidget *> widgets{root};
    for (const QWidget *w : root->findChildren<QWidget *>())
        widgets << w;
    auto check = [&](const QWidget *w, const QString &text, int room) {
        const QString t = shown(text);
        if (t.isEmpty())
            return;
        const int need = w->fontMetrics().horizontalAdvance(t);
        if (need > room)
            clipped << describe(w, t, need, room);
    };
    for (const QWidget *w : widgets) {
        if (const auto *b = qobject_cast<const QAbstractButton *>(w)) {
            QStyleOptionButton opt;
            opt.initFrom(b);
            opt.text = b->text();
            QStyle::SubElement content = QStyle::SE_PushButtonContents;
            if (qobject_cast<const QCheckBox *>(b))
                content = QStyle::SE_CheckBoxContents;
            else if (qobject_cast<const QRadioButton *>(b))
                content = QStyle::SE_RadioButtonContents;
            else if (!qobject_cast<const QPushButton *>(b))
                continue;
            check(b, b->text(), b->style()->subElementRect(content, &opt, b).width());
        } else if (const auto *l = qobject_cast<const QLabel *>(w)) {
            if (!l->wordWrap() && l->textFormat() != Qt::RichText)
                check(l, l->text(), l->contentsRect().width() - 2 * l->margin() - l->indent());
        } else if (const auto *g = qobject_cast<const QGroupBox *>(w)) {
            QStyleOptionGroupBox opt;
            opt.initFrom(g);
            opt.text = g->title();
            opt.subControls = QStyle::SC_GroupBoxLabel | QStyle::SC_GroupBoxFrame;
            const QRect label =
                g->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, g);
            check(g, g->title(), g->width() - label.left());
        } else if (const auto *c = qobject_cast<const QComboBox *>(w)) {
            QStyleOptionComboBox opt;
            opt.initFrom(c);
            opt.editable = c->isEditable();
            const int room =
                c->style()
                    ->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, c)
                    .width();
            for (int i = 0; i < c->count(); ++i)
                check(c, c->itemText(i), room);
        } else if (const auto *t = qobject_cast<const QTabBar *>(w)) {
            for (int i = 0; i < t->count(); ++i)
                check(t, t->tabText(i), t->tabRect(i).width());
        }
    }
    return clipped;
}

} // namespace textfit
