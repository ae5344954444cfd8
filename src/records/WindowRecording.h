#pragma once

// The main window's recording of the poll cycle: a CSV file in the command-line tool's format,
// written out every second and kept whole when the recording stops, on Close and on a lost
// board. No widgets; user-interface thread.

#include <QFile>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

namespace kvx {

class BoardSession;
class CsvRecorder;

class WindowRecording : public QObject
{
    Q_OBJECT

public:
    explicit WindowRecording(BoardSession &session, QObject *parent = nullptr);
    ~WindowRecording() override;

    // Starts recording into `path` (replaced); false, with `error`, when it cannot be written.
    bool start(const QString &path, QString *error);
    // Writes what is left and closes the file; false, with `error`, when not all could go.
    bool stop(QString *error);
    [[nodiscard]] bool running() const { return m_recorder != nullptr; }
    [[nodiscard]] QString path() const { return m_path; }
    [[nodiscard]] double seconds() const;
    [[nodiscard]] qint64 bytes() const;
    [[nodiscard]] quint64 lines() const;

signals:
    // A second has passed; the figures have changed.
    void progress();
    // The file took no more lines: the recording has stopped with what it holds.
    void failed(const QString &why);

private:
    void flush();

    BoardSession &m_session;
    QString m_path;
    QFile m_file;
    std::unique_ptr<CsvRecorder> m_recorder;
    QTimer m_everySecond;
    double m_seconds = 0; // of the last recording, once stopped
    qint64 m_bytes = 0;
    quint64 m_lines = 0;
};

} // namespace kvx
