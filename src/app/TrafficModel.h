#pragma once

// The traffic view's rows: the events of the session's traffic log that pass the filter, the
// newest last. It looks at the log only when asked (refresh), so that a hidden or paused view
// costs nothing; rows are described when they are drawn or saved.

#include "link/TrafficDecoder.h"
#include "link/TrafficLog.h"

#include <QAbstractTableModel>
#include <QFont>

#include <cstdint>
#include <deque>

namespace kvx {

class TrafficModel : public QAbstractTableModel
{
public:
    enum Column
    {
        Time,
        Direction,
        Kind,
        Bytes,
        Meaning,
        ColumnCount,
    };

    explicit TrafficModel(TrafficLog &log, QObject *parent = nullptr);

    // Poll requests and their replies hidden (and the reads of a kvx310 that waits); only
    // events of `motor` (0..2), or all (-1).
    void setFilter(bool hidePolls, int motor);
    // Takes the events logged since the last look; false when nothing changed.
    bool refresh();
    // Empties the log and the view.
    void clear();
    // The event shown in `row`.
    [[nodiscard]] TrafficEvent eventAt(int row) const;

    [[nodiscard]] int rowCount(const QModelIndex &parent = {}) const override;
    [[nodiscard]] int columnCount(const QModelIndex &parent = {}) const override;
    [[nodiscard]] QVariant data(const QModelIndex &index, int role) const override;
    [[nodiscard]] QVariant headerData(int section, Qt::Orientation orientation,
                                      int role) const override;

private:
    [[nodiscard]] bool passes(const TrafficEvent &e) const;
    [[nodiscard]] std::uint64_t firstSerial() const { return m_log.total() - m_log.size(); }

    TrafficLog &m_log;
    std::deque<std::uint64_t> m_rows; // serials of the events shown
    std::uint64_t m_seen = 0;         // serials below this were looked at
    bool m_hidePolls = false;
    int m_motor = -1;
    QFont m_fixedFont; // the bytes', looked up once: the theme is asked each time otherwise
    mutable TrafficRow m_cached;
    mutable int m_cachedRow = -1;
    mutable std::uint64_t m_cachedSerial = 0;
};

} // namespace kvx
