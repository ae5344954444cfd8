#include "graphics/PaintBox.h"

#include <QPainter>

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

void TPaintBox::paintEvent(QPaintEvent *)
{
    if (!m_onPaint)
        return;
    QPainter painter(this);
    m_onPaint(*this, painter);
}

} // namespace kvx
