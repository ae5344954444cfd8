#include "records/WindowRecording.h"

#include "records/CsvRecorder.h"
#include "session/BoardSession.h"
#include "settings/FileSave.h"

namespace kvx {

WindowRecording::WindowRecording(BoardSession &session, QObject *parent)
    : QObject(parent)
    , m_session(session)
{
    m_everySecond.setInterval(1000);
    connect(&m_everySecond, &QTimer::timeout, this, &WindowRecording::flush);
}

WindowRecording::~WindowRecording()
{
    QString ignored;
    stop(&ignored);
}

bool WindowRecording::start(const QString &path, QString *error)
{
    stop(error);
    m_path = path;
    // Unbuffered: what a flush writes is in the file, should the program end then. A device or
    // another user's link is refused, as every save refuses them.
    if (const QString why = openToRecord(path, m_file); !why.isEmpty()) {
        *error = why;
        return false;
    }
    m_recorder =
        std::make_unique<CsvRecorder>(m_session, m_file, *CsvRecorder::columns({}, -1, error));
    if (!m_recorder->start()) {
        *error = m_recorder->errorString();
        m_recorder.reset();
        m_file.close();
        return false;
    }
    m_everySecond.start();
    return true;
}

void WindowRecording::flush()
{
    if (!m_recorder)
        return;
    if (m_recorder->flush()) {
        emit progress();
        return;
    }
    QString why = m_recorder->errorString();
    stop(&why);
    emit failed(why);
}

bool WindowRecording::stop(QString *error)
{
    if (!m_recorder)
        return true;
    m_everySecond.stop();
    const bool whole = m_recorder->flush();
    if (!whole)
        *error = m_recorder->errorString();
    m_seconds = m_recorder->seconds();
    m_bytes = m_recorder->bytesWritten();
    m_lines = m_recorder->lines();
    m_recorder.reset();
    m_file.close();
    return whole;
}

double WindowRecording::seconds() const
{
    return m_recorder ? m_recorder->seconds() : m_seconds;
}

qint64 WindowRecording::bytes() const
{
    return m_recorder ? m_recorder->bytesWritten() : m_bytes;
}

quint64 WindowRecording::lines() const
{
    return m_recorder ? m_recorder->lines() : m_lines;
}

} // namespace kvx
