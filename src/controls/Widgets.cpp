#include "controls/Widgets.h"

#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QTabWidget>

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

void movePagesByKeys(QTabWidget *tabs)
{
    const struct
    {
        QKeyCombination keys;
        int step;
    } moves[] = {
        {Qt::CTRL | Qt::Key_Tab, 1},
        {Qt::CTRL | Qt::Key_PageDown, 1},
        {Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab, -1}, // Shift+Tab as the keyboard gives it
        {Qt::CTRL | Qt::SHIFT | Qt::Key_Tab, -1},
        {Qt::CTRL | Qt::Key_PageUp, -1},
    };
    for (const auto &move : moves) {
        auto *shortcut = new QShortcut(QKeySequence(move.keys), tabs);
        shortcut->setContext(Qt::WindowShortcut);
        const int step = move.step;
        QObject::connect(shortcut, &QShortcut::activated, tabs, [tabs, step] {
            const int count = tabs->count();
            for (int page = tabs->currentIndex(), tried = 0; count > 0 && tried < count; ++tried) {
                page = (page + step + count) % count;
                if (tabs->isTabEnabled(page)) {
                    tabs->setCurrentIndex(page);
                    return;
                }
            }
        });
    }
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

namespace {

bool isDisplayField(const QWidget *w)
{
    const auto *label = qobject_cast<const QLabel *>(w);
    return (label && label->frameShape() != QFrame::NoFrame) || w->inherits("kvx::TLuLedLittle");
}

// The caption on the field's row nearest to it, beside it on either side.
const QLabel *captionOf(const QWidget *field)
{
    const QLabel *best = nullptr;
    int bestDistance = 0;
    const QRect f = field->geometry();
    for (const QLabel *l :
         field->parentWidget()->findChildren<QLabel *>(Qt::FindDirectChildrenOnly)) {
        if (l == field || l->frameShape() != QFrame::NoFrame || l->isHidden() ||
            l->text().trimmed().isEmpty())
            continue;
        const int middle = l->geometry().center().y();
        if (middle < f.top() - 4 || middle > f.bottom() + 4)
            continue;
        const int distance = l->geometry().left() >= f.right() ? l->geometry().left() - f.right()
                                                               : f.left() - l->geometry().right();
        if (distance >= -2 && (!best || distance < bestDistance)) {
            best = l;
            bestDistance = distance;
        }
    }
    return best;
}

} // namespace

void nameFieldsByTheirCaptions(QWidget *root, const QString &context)
{
    for (QWidget *w : root->findChildren<QWidget *>()) {
        if (!w->accessibleName().isEmpty() || !isDisplayField(w) || !w->parentWidget())
            continue;
        const QLabel *label = captionOf(w);
        if (!label)
            continue;
        QString name = label->text().remove(QLatin1Char('&')).trimmed();
        if (name.endsWith(QLatin1Char(':')))
            name.chop(1);
        QStringList where;
        for (const QWidget *p = w->parentWidget(); p && p != root; p = p->parentWidget()) {
            if (const auto *group = qobject_cast<const QGroupBox *>(p);
                group && !group->title().trimmed().isEmpty()) {
                where << group->title().trimmed();
                break;
            }
        }
        if (!context.isEmpty())
            where << context;
        if (!where.isEmpty())
            name += QStringLiteral(" (") + where.join(QStringLiteral(", ")) + QLatin1Char(')');
        w->setAccessibleName(name);
    }
}

void showText(QLabel *field, const QString &text)
{
    if (field->text() != text)
        field->setText(text);
}

} // namespace kvx
