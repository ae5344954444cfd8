#include "app/Ev310Warn.h"

#include "controls/Dialogs.h"
#include "controls/Widgets.h"

#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include <algorithm>

namespace kvx {

TFormWarning::TFormWarning(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("FormWarning"));
    setWindowTitle(tr("Warning"));
    setFixedSize(370, 171);
    move(396, 234);
    setModal(true);

    PnlText = panel(this, QStringLiteral("PnlText"), {16, 16, 337, 65});
    auto label = [this](const char *name, const QString &text, int x, int y) {
        return caption(PnlText, QLatin1String(name), text, {x, y});
    };
    LblText1 =
        label("LblText1", tr("The \"Max. Accel.\" Parameter should not be less than "), 16, 8);
    LblNumber = label("LblNumber", QString(), kNumberX, 8);
    LblText2 =
        label("LblText2", tr("as else undesired overshooting effects can be caused."), 16, 24);
    LblText3 = label("LblText3", tr("Do you wish to continue anyway?"), 16, 40);

    CheckNotify = new QCheckBox(tr("Do not notify me again during this session."), this);
    CheckNotify->setObjectName(QStringLiteral("CheckNotify"));
    CheckNotify->move(32, 96);
    CheckNotify->adjustSize();

    BtnCont = new QPushButton(tr("&Continue"), this);
    BtnCont->setObjectName(QStringLiteral("BtnCont"));
    BtnCont->setGeometry(16, 128, 75, 25);
    BtnAbort = new QPushButton(tr("&Abort"), this);
    BtnAbort->setObjectName(QStringLiteral("BtnAbort"));
    BtnAbort->setGeometry(280, 128, 75, 25);
    connect(BtnCont, &QPushButton::clicked, this, [this] { BtnContClick(); });
    connect(BtnAbort, &QPushButton::clicked, this, [this] { BtnAbortClick(); });
}

void TFormWarning::setMinimum(int minimum)
{
    LblNumber->setText(QString::number(minimum) + QLatin1Char(','));
    LblNumber->adjustSize();
    // At its place in the layout, unless the first line's text (which ends in a blank) reaches
    // it in the font in use: then right after the text, not on it.
    const int textEnd = LblText1->x() + LblText1->fontMetrics().horizontalAdvance(LblText1->text());
    LblNumber->move(std::max(kNumberX, textEnd), LblNumber->y());
}

void TFormWarning::FormShow()
{
    Dialogs::beep();
}

void TFormWarning::showEvent(QShowEvent *event)
{
    FormShow();
    QDialog::showEvent(event);
}

} // namespace kvx
