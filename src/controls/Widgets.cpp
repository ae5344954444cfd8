#include "controls/Widgets.h"

#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

namespace kvx {

void setHint(QWidget *w, const QString &hint)
{
    // Shown by the program's balloon hints, which also set how long.
    w->setToolTip(hint);
}

QString withMotor(const char *name, int motor)
{
    return QLatin1String(name) + QString::number(motor + 1);
}

QLabel *sunkenField(QWidget *parent, const QString &name, const QRect &r, const QString &text)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(name);
    l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    l->setGeometry(r);
    return l;
}

QFrame *panel(QWidget *parent, const QString &name, const QRect &r)
{
    auto *f = new QFrame(parent);
    f->setObjectName(name);
    f->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    f->setLineWidth(1);
    f->setGeometry(r);
    return f;
}

QLabel *caption(QWidget *parent, const QString &name, const QString &text, QPoint at)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(name);
    l->move(at);
    l->adjustSize();
    return l;
}

QPushButton *button(QWidget *parent, const QString &name, const QString &text, const QRect &r,
                    const QString &hint)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(name);
    b->setGeometry(r);
    setHint(b, hint);
    return b;
}

QGroupBox *group(QWidget *parent, const QString &name, const QString &title, const QRect &r,
                 const QString &hint)
{
    auto *g = new QGroupBox(title, parent);
    g->setObjectName(name);
    g->setGeometry(r);
    if (!hint.isEmpty())
        setHint(g, hint);
    return g;
}

void showText(QLabel *field, const QString &text)
{
    if (field->text() != text)
        field->setText(text);
}

} // namespace kvx
