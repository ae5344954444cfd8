#include "Ev310Graphics.h"

#include <QCloseEvent>

namespace kvx {

TFormGraphics::TFormGraphics(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("FormGraphics"));
    setWindowTitle(tr("Graphic Display"));
    setFixedSize(657, 566);
    move(361, 201);
}

void TFormGraphics::AddPosition(std::int32_t, int) {}
void TFormGraphics::AddVelocity(std::int32_t, int) {}
void TFormGraphics::AddTargetVelocity(std::int32_t, int) {}
void TFormGraphics::AddAcceleration(std::int32_t, int) {}
void TFormGraphics::NextSample() {}

void TFormGraphics::showEvent(QShowEvent *event)
{
    m_shown = true;
    QWidget::showEvent(event);
}

void TFormGraphics::closeEvent(QCloseEvent *event)
{
    m_shown = false;
    QWidget::closeEvent(event);
}

} // namespace kvx
