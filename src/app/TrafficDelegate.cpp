#include "app/TrafficDelegate.h"

#include <QPainter>

namespace kvx {

void TrafficDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                            const QModelIndex &index) const
{
    const quint64 key = index.data(SerialRole).toULongLong() * 8 + quint64(index.column());
    auto it = m_texts.constFind(key);
    if (it == m_texts.constEnd()) {
        if (m_texts.size() >= kCacheLimit)
            m_texts.clear();
        QStaticText text(index.data(Qt::DisplayRole).toString());
        text.setTextFormat(Qt::PlainText);
        const QVariant font = index.data(Qt::FontRole);
        text.prepare(QTransform(), font.isValid() ? font.value<QFont>() : option.font);
        it = m_texts.insert(key, text);
    }

    const bool selected = option.state.testFlag(QStyle::State_Selected);
    if (selected)
        painter->fillRect(option.rect, option.palette.highlight());
    painter->save();
    painter->setClipRect(option.rect.adjusted(0, 0, -1, 0));
    const QVariant font = index.data(Qt::FontRole);
    if (font.isValid())
        painter->setFont(font.value<QFont>());
    painter->setPen(selected ? option.palette.color(QPalette::HighlightedText)
                             : option.palette.color(QPalette::Text));
    const QSizeF size = it->size();
    const int margin = 3;
    const bool right = index.data(Qt::TextAlignmentRole).toInt() & Qt::AlignRight;
    const qreal x =
        right ? option.rect.right() - margin - size.width() : option.rect.left() + margin;
    const qreal y = option.rect.top() + (option.rect.height() - size.height()) / 2;
    painter->drawStaticText(QPointF(x, y), *it);
    painter->restore();
}

} // namespace kvx
