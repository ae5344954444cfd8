#pragma once

// kvx310 record: the poll cycle's live values as CSV, one line per cycle: the time in seconds
// since the recording started (of the cycle's first reply), the chip's status byte, then the
// chosen values of each motor, signed. A value missed in a cycle keeps the one before, as the
// graphic display keeps it. Lines are written out at least once a second, so that a crash or
// an unplugged adapter loses at most the last second. User-interface thread.

#include "session/BoardSession.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

class QIODevice;

namespace kvx {

// The file a recording goes to: lines kept until the next flush, which writes them out; whole
// lines that went out are never written again, and a line the file took only part of is cut
// off it again (a full disk), so that the file always ends with a whole line.
class CsvOutput : public QObject
{
    Q_OBJECT

public:
    explicit CsvOutput(QIODevice &out, QObject *parent = nullptr);

    // Writes the lines kept so far; false when the file could not take them.
    bool flush();
    // Lines of values in the file (whole, the header aside: every recording starts with it).
    [[nodiscard]] quint64 lines() const { return m_newlines > 0 ? m_newlines - 1 : 0; }
    [[nodiscard]] qint64 bytesWritten() const { return m_written; }
    // Seconds since the recording started.
    [[nodiscard]] virtual double seconds() const = 0;
    [[nodiscard]] QString errorString() const;

protected:
    // Whole lines: the header first, then lines of values.
    void add(const QByteArray &text);

private:
    QIODevice &m_out;
    QByteArray m_pending;
    quint64 m_newlines = 0; // in the file
    qint64 m_written = 0;
    QString m_error;
};

class CsvRecorder : public CsvOutput
{
    Q_OBJECT

public:
    struct Column
    {
        int row = 0; // poll-table row
        QString name;
    };
    // The columns for register names among those polled in every cycle (X_ACTUAL, V_TARGET,
    // V_ACTUAL, A_ACTUAL; all of them when `names` is empty), of one motor (0..2) or all (-1).
    [[nodiscard]] static std::optional<std::vector<Column>> columns(const QStringList &names,
                                                                    int motor, QString *error);

    CsvRecorder(BoardSession &session, QIODevice &out, std::vector<Column> columns,
                QObject *parent = nullptr);

    // Writes the header; times count from now.
    bool start();
    // The cycle in progress ends here: its line is kept, and written by the next flush.
    void endCycle();

    [[nodiscard]] double seconds() const override;

private:
    void take(int row, const Reply &reply);

    BoardSession &m_session;
    std::vector<Column> m_columns;
    std::vector<int> m_columnOfRow; // by poll-table row; -1 when not recorded
    std::vector<std::optional<qint64>> m_values;
    std::int64_t m_origin = 0;
    std::optional<std::int64_t> m_cycleAt; // fine clock of the cycle's first reply
    int m_status = 0;
    bool m_inStep = false; // a cycle has started since the recording did
};

} // namespace kvx
