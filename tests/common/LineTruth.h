#pragma once

// What the board answered and what the session showed, compared reply by reply. The board's
// own account has one entry per request frame, in the order the frames reached it, so the
// link's exchange n is the board's frame n: every reply shown must be the board's answer to
// that very request. Also how old each reply is when its field shows it, and how often each
// row is shown against how often it was polled.

#include "common/VirtualLine.h"

#include <QMap>
#include <QStringList>

#include <vector>

namespace kvx {

class LineTruth : public QObject
{
public:
    LineTruth(BoardSession &session, VirtualLine &line);

    // Every register of every motor its own value, and the motors moving (VELOCITY mode at
    // different speeds), so that no two polled values are alike for long.
    static void distinctValues(sim::ChipModel &chip);

    // Keeps the first few faults found, with the tests' own.
    void fail(const QString &what);
    [[nodiscard]] const QStringList &wrong() const { return m_wrong; }
    [[nodiscard]] int wrongCount() const { return m_wrongCount; }

    // Replies shown since the open.
    [[nodiscard]] int shown() const { return m_shown; }
    // From now on: the ages and the counts below start again.
    void restart();
    // Microseconds from a reply's taking to its field, the largest and at a share (0.99).
    [[nodiscard]] std::int64_t stalest() const;
    [[nodiscard]] std::int64_t ageAt(double share) const;
    // Since the restart: how often `row` was shown, and how often the board was asked for it.
    [[nodiscard]] int shownOf(int row) const { return m_shownRows.value(row); }
    [[nodiscard]] int polledOf(int row) const;
    // Cycles that started with none of their replies shown.
    [[nodiscard]] int emptySamples() const { return m_emptySamples; }
    // The reply `row` shows now, and what the board answered to that very request.
    [[nodiscard]] Reply lastShown(int row) const { return m_last.value(row); }
    [[nodiscard]] Reply boardsAnswer(int row) const;
    // The board met a fault of this note (its frame log's words) at least once.
    [[nodiscard]] bool met(const char *note) const { return m_faultsMet.value(note) > 0; }

private:
    void check(int row, const Reply &reply);

    BoardSession &m_session;
    VirtualLine &m_line;
    std::vector<sim::FrameLogEntry> m_frames;
    std::size_t m_framesBefore = 0;
    QMap<QByteArray, int> m_faultsMet;
    QStringList m_wrong;
    int m_wrongCount = 0;
    QMap<int, std::int64_t> m_takenAt; // exchange -> when its reply came whole
    std::vector<std::int64_t> m_ages;
    int m_shown = 0;
    QMap<int, int> m_shownRows;
    int m_repliesSinceSample = 1;
    int m_emptySamples = 0;
    QMap<int, Reply> m_last;
    QMap<int, int> m_lastExchange;
};

} // namespace kvx
