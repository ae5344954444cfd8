#pragma once

// One recording of the poll cycle as kvx310 makes it, into a file or the standard output ("-",
// a line at a time): written out every second, its progress told on the standard error (every
// second on a terminal, now and then in a log), ended by its duration, by the caller, or by the
// port lost. A script keeps several running beside its other commands. User-interface thread.

#include "cli/BoardClient.h"
#include "records/CsvRecorder.h"

#include <QFile>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <vector>

namespace kvx::cli {

class Recording : public QObject
{
    Q_OBJECT

public:
    // Started once it holds its first cycle; nothing, with the error said and `code` set, when
    // the file could not be created or written or the board refused it. `duration` -1: until
    // ended.
    static std::unique_ptr<Recording> start(BoardClient &client, const QString &path,
                                            const std::vector<CsvRecorder::Column> &columns,
                                            double duration, bool quiet, int *code);
    ~Recording() override;

    // Ends it with the file written out whole and closed; when `withCycle`, once a cycle begun
    // after the call is in (a move waited for is recorded to where it stopped: the cycle under
    // way may have read the position before it got there). Once only.
    void end(bool withCycle = false);
    [[nodiscard]] bool ended() const { return m_ended; }
    [[nodiscard]] bool timed() const { return m_duration >= 0; }
    // Ends it: its exit status, its error said; done, what it recorded (file, lines,
    // seconds) is added to `summaries`.
    int report(QJsonArray *summaries);

signals:
    // Its duration is over, its file took no more lines, or the port was lost.
    void over();

private:
    Recording(BoardClient &client, QString path, double duration, bool quiet);
    // Says how far it has come; `last`: the figures at the end.
    void progress(bool last);
    void stopWith(int code, const QString &message);

    BoardClient &m_client;
    QString m_path;
    double m_duration = -1;
    bool m_quiet = false;
    bool m_tty = false;
    QFile m_file;
    std::unique_ptr<CsvOutput> m_output;
    QTimer m_everySecond;
    QTimer m_timeUp;
    int m_ticks = 0;
    quint64 m_printed = ~quint64{0};
    quint64 m_unansweredBefore = 0;
    bool m_ended = false;
    int m_code = 0;
    QString m_message;
    quint64 m_lines = 0;
    double m_seconds = 0;
};

} // namespace kvx::cli
