#include "app/TrafficModel.h"

#include "app/TrafficDelegate.h"
#include "link/TrafficDecoder.h"

#include <QFont>
#include <QFontDatabase>

#include <algorithm>

namespace kvx {

TrafficModel::TrafficModel(TrafficLog &log, QObject *parent)
    : QAbstractTableModel(parent)
    , m_log(log)
    , m_fixedFont(QFontDatabase::systemFont(QFontDatabase::FixedFont))
{}

bool TrafficModel::passes(const TrafficEvent &e) const
{
    // A kvx310 that waits reads once a poll cycle: its reads crowd the view as polls do.
    if (m_hidePolls && (e.kind == TrafficKind::Poll || e.origin == TrafficOrigin::ToolWait))
        return false;
    return m_motor < 0 || trafficMotor(e) == m_motor;
}

void TrafficModel::setFilter(bool hidePolls, int motor)
{
    if (hidePolls == m_hidePolls && motor == m_motor)
        return;
    m_hidePolls = hidePolls;
    m_motor = motor;
    beginResetModel();
    m_rows.clear();
    m_seen = firstSerial();
    endResetModel();
    refresh();
}

bool TrafficModel::refresh()
{
    bool changed = false;
    // Events that left the ring leave the view.
    const std::uint64_t first = firstSerial();
    std::size_t gone = 0;
    while (gone < m_rows.size() && m_rows[gone] < first)
        ++gone;
    if (gone > 0) {
        beginRemoveRows({}, 0, int(gone) - 1);
        m_rows.erase(m_rows.begin(), m_rows.begin() + std::ptrdiff_t(gone));
        endRemoveRows();
        changed = true;
    }
    m_seen = std::max(m_seen, first);
    std::vector<std::uint64_t> added;
    for (std::uint64_t s = m_seen; s < m_log.total(); ++s) {
        if (passes(m_log.at(std::size_t(s - first))))
            added.push_back(s);
    }
    m_seen = m_log.total();
    if (!added.empty()) {
        const int at = int(m_rows.size());
        beginInsertRows({}, at, at + int(added.size()) - 1);
        m_rows.insert(m_rows.end(), added.begin(), added.end());
        endInsertRows();
        changed = true;
    }
    return changed;
}

void TrafficModel::clear()
{
    beginResetModel();
    m_log.clear();
    m_rows.clear();
    m_seen = m_log.total();
    endResetModel();
}

TrafficEvent TrafficModel::eventAt(int row) const
{
    const std::uint64_t serial = m_rows[std::size_t(row)];
    const std::uint64_t first = firstSerial();
    // The row of an event the ring has dropped since the last refresh shows nothing.
    if (serial < first)
        return {};
    return m_log.at(std::size_t(serial - first));
}

int TrafficModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int TrafficModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TrafficModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid())
        return {};
    if (role == TrafficDelegate::SerialRole)
        return QVariant::fromValue(m_rows[std::size_t(index.row())]);
    if (role == Qt::TextAlignmentRole && index.column() == Time)
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    if (role == Qt::FontRole && index.column() == Bytes)
        return m_fixedFont;
    if (role != Qt::DisplayRole)
        return {};
    // A paused view keeps rows whose events the ring has since let go: they show nothing
    // rather than an event that never was.
    if (m_rows[std::size_t(index.row())] < firstSerial())
        return QString();
    // A view draws a row's cells one after another: the row is described once for them.
    if (index.row() != m_cachedRow || m_rows[std::size_t(index.row())] != m_cachedSerial) {
        m_cached = describeTraffic(eventAt(index.row()));
        m_cachedRow = index.row();
        m_cachedSerial = m_rows[std::size_t(index.row())];
    }
    const TrafficRow &row = m_cached;
    switch (index.column()) {
    case Time:
        return row.time;
    case Direction:
        return row.direction;
    case Kind:
        return row.kind;
    case Bytes:
        return row.bytes;
    case Meaning:
        return row.meaning;
    default:
        return {};
    }
}

QVariant TrafficModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char *const kHeaders[] = {"Time (ms)", "Dir.", "Kind", "Bytes", "Meaning"};
    return section >= 0 && section < ColumnCount ? tr(kHeaders[section]) : QVariant();
}

} // namespace kvx
