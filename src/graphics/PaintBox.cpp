#include "graphics/PaintBox.h"

#include <QPainter>
#include <QPaintEvent>

namespace kvx {

TPaintBox::TPaintBox(int tag, QWidget *parent)
    : QWidget(parent)
    , m_tag(tag)
{
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::black);
    setPalette(p);
    setAutoFillBackground(true);
}

void TPaintBox::paintEvent(QPaintEvent *event)
{
    if (!m_onPaint)
        return;
    m_paintArea = event->rect();
    QPainter painter(this);
    m_onPaint(*this, painter);
}

} // namespace kvx
