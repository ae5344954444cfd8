#pragma once

// Draws the traffic view's cells from text laid out once per event: a scrolling log repaints
// every visible row each time it follows the newest, and laying the same texts out again each
// time would cost the poll cycle several milliseconds a refresh. Texts longer than their cell
// are cut at its edge.

#include <QHash>
#include <QStaticText>
#include <QStyledItemDelegate>

namespace kvx {

class TrafficDelegate : public QStyledItemDelegate
{
public:
    // The model's role that names an event for good (its serial number).
    static constexpr int SerialRole = Qt::UserRole + 1;

    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;

private:
    static constexpr int kCacheLimit = 2048;
    mutable QHash<quint64, QStaticText> m_texts; // by serial and column
};

} // namespace kvx
