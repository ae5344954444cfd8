#include "editor/TelegramGroup.h"

#include <QCoreApplication>

#include "chip/ValueFormat.h"
#include "controls/Widgets.h"

#include <QLabel>
#include <QRadioButton>
#include <QStyle>
#include <QToolButton>

namespace kvx {

TelegramFields telegramFields(QWidget *group, const QString &prefix, const QString &suffix,
                              QPoint first)
{
    TelegramFields fields{};
    QFont big = group->font();
    big.setPointSize(12);
    for (int i = 0; i < 4; ++i) {
        QLabel *l = sunkenField(group, prefix + QString::number(i + 1) + suffix,
                                {first.x() + 32 * i, first.y(), 25, 25}, QStringLiteral("FF"));
        l->setFont(big);
        l->setAlignment(Qt::AlignCenter);
        l->setAccessibleName(
            QCoreApplication::translate("TelegramGroup", "SPI telegram byte %1 (%2)")
                .arg(i + 1)
                .arg(suffix == QLatin1String("G")
                         ? QCoreApplication::translate("TelegramGroup", "Global Parameters")
                         : QCoreApplication::translate("TelegramGroup", "Motor %1").arg(suffix)));
        fields[std::size_t(i)] = l;
    }
    return fields;
}

void showTelegram(const TelegramFields &fields, const Datagram &d, bool withAddress)
{
    if (withAddress)
        fields[0]->setText(hexText(d.address));
    fields[1]->setText(hexText(d.data.high));
    fields[2]->setText(hexText(d.data.mid));
    fields[3]->setText(hexText(d.data.low));
}

QLabel *noAnswerNote(QWidget *group, const QString &name, QPoint at)
{
    auto *note = caption(group, name, QObject::tr("The last telegram got no answer."), at);
    QPalette red = note->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    note->setPalette(red);
    setHint(note, QObject::tr("The board did not answer the last telegram sent from this page; "
                              "it may not have reached the chip."));
    note->hide();
    return note;
}

QToolButton *copyButton(QWidget *parent, const QString &name, const QRect &r, const QString &hint)
{
    auto *copy = new QToolButton(parent);
    copy->setObjectName(name);
    copy->setText(QObject::tr("&Copy"));
    copy->setIcon(parent->style()->standardIcon(QStyle::SP_ArrowLeft));
    copy->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    copy->setGeometry(r);
    setHint(copy, hint);
    return copy;
}

int checkedItem(std::span<QRadioButton *const> items)
{
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (items[i]->isChecked())
            return int(i);
    }
    return 0;
}

namespace {
constexpr const char *kTag = "Tag";
} // namespace

void setItemTag(QObject *editor, int item)
{
    editor->setProperty(kTag, item);
}

int tagOf(const QObject *editor)
{
    const QVariant tag = editor ? editor->property(kTag) : QVariant();
    return tag.isValid() ? tag.toInt() : -1;
}

} // namespace kvx
