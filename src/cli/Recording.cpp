#include "cli/Recording.h"

#include "cli/Output.h"
#include "cli/ToolOptions.h"
#include "settings/FileSave.h"

#include <QEventLoop>
#include <QJsonArray>

#include <cstdio>
#include <unistd.h>

namespace kvx::cli {

namespace {

// How long a recording may take to hold its first cycle: the detection's time and a watchdog.
constexpr int kFirstCycleMs = 10'000;
// The longest cycle (the register editor's page polled too, through a window), and a watchdog:
// how long one may take to be told of.
constexpr int kCycleLimitMs = 2500;

} // namespace

Recording::Recording(BoardClient &client, QString path, double duration, bool quiet)
    : m_client(client)
    , m_path(std::move(path))
    , m_duration(duration)
    , m_quiet(quiet || outputMode().json)
    , m_tty(::isatty(STDERR_FILENO) != 0)
{}

Recording::~Recording()
{
    end();
}

std::unique_ptr<Recording> Recording::start(BoardClient &client, const QString &path,
                                            const std::vector<CsvRecorder::Column> &columns,
                                            double duration, bool quiet, int *code)
{
    std::unique_ptr<Recording> r(new Recording(client, path, duration, quiet));
    const bool toStdout = path == QLatin1String("-");
    // The standard output by its descriptor: the C library's buffer would hold lines back.
    const QString refused =
        toStdout ? (r->m_file.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered)
                        ? QString()
                        : r->m_file.errorString())
                 : openToRecord(path, r->m_file);
    if (!refused.isEmpty()) {
        *code = error(kUsage, tr("could not create %1: %2").arg(path, refused));
        return nullptr;
    }
    r->m_unansweredBefore = client.unansweredPolls();
    r->m_output = client.record(r->m_file, columns);
    if (!r->m_output) {
        *code = error(kBoardSaidNo, client.lost() ? client.lostReason()
                                                  : tr("the Eval310 window refused the recording"));
        return nullptr;
    }
    CsvOutput &out = *r->m_output;
    // A program that reads the output as it comes gets each cycle as it ends.
    out.setFlushEachLine(toStdout);
    Recording *self = r.get();
    connect(&client, &BoardClient::deviceLost, self, [self](const QString &reason) {
        self->stopWith(kBoardSaidNo,
                       tr("the port %1 was lost (%2)").arg(self->m_client.device(), reason));
    });
    connect(&r->m_everySecond, &QTimer::timeout, self, [self] {
        if (!self->m_output->flush()) {
            self->stopWith(
                kUsage,
                tr("could not write %1: %2").arg(self->m_path, self->m_output->errorString()));
            return;
        }
        // Every second on a terminal; now and then in a log.
        if (self->m_tty || ++self->m_ticks % 10 == 0)
            self->progress(false);
    });
    r->m_everySecond.start(1000);
    // Until its first cycle is in: a move started next is recorded from where it starts.
    QEventLoop loop;
    QTimer look;
    connect(&look, &QTimer::timeout, &loop, [&] {
        if (!out.flush() || out.lines() > 0 || self->m_ended)
            loop.quit();
    });
    connect(self, &Recording::over, &loop, &QEventLoop::quit);
    QTimer::singleShot(kFirstCycleMs, &loop, &QEventLoop::quit);
    look.start(5);
    loop.exec();
    if (!self->m_ended && !out.flush())
        self->stopWith(kUsage, tr("could not write %1: %2").arg(path, out.errorString()));
    if (self->m_ended) {
        *code = r->report(nullptr);
        return nullptr;
    }
    if (duration >= 0) {
        // The cycles begun within the duration, known once the first past it is in; a timer
        // would end it a second early behind a USB adapter (and a coarse one 5 % early). A
        // board that falls silent ends it soon after all the same.
        out.setEnd(duration);
        // Queued: it ends the recorder that tells it.
        connect(
            &out, &CsvOutput::complete, self, [self] { self->stopWith(kDone, {}); },
            Qt::QueuedConnection);
        r->m_timeUp.setSingleShot(true);
        connect(&r->m_timeUp, &QTimer::timeout, self, [self] { self->stopWith(kDone, {}); });
        r->m_timeUp.start(std::max(0, int(duration * 1000 - out.seconds() * 1000)) + kCycleLimitMs);
    }
    return r;
}

void Recording::stopWith(int code, const QString &message)
{
    if (m_ended)
        return;
    m_code = code;
    m_message = message;
    end();
    emit over();
}

void Recording::end(bool withCycle)
{
    if (m_ended || !m_output)
        return;
    if (withCycle) {
        QEventLoop loop;
        const quint64 taken = m_output->linesTaken();
        QTimer look;
        connect(&look, &QTimer::timeout, &loop, [&] {
            if (m_output->linesTaken() > taken + 1)
                loop.quit();
        });
        connect(this, &Recording::over, &loop, &QEventLoop::quit);
        QTimer::singleShot(kCycleLimitMs, &loop, &QEventLoop::quit);
        look.start(2);
        loop.exec();
        if (m_ended)
            return;
    }
    m_ended = true;
    m_everySecond.stop();
    m_timeUp.stop();
    disconnect(&m_client, nullptr, this, nullptr);
    const bool stopped = m_code != kDone; // by the port lost, or a full file
    const quint64 unanswered = stopped ? 0 : m_client.unansweredPolls();
    if (!m_output->flush() && m_code == kDone) {
        m_code = kUsage;
        m_message = tr("could not write %1: %2").arg(m_path, m_output->errorString());
    }
    m_lines = m_output->lines();
    m_seconds = m_output->seconds();
    progress(true);
    // The recorder takes no more cycles; the file is whole.
    m_output.reset();
    m_file.close();
    if (stopped && m_code == kBoardSaidNo) {
        m_message += tr("; %1 keeps the %2 lines recorded")
                         .arg(m_path == QLatin1String("-") ? tr("the output") : m_path)
                         .arg(m_lines);
    } else if (m_code == kDone && unanswered > m_unansweredBefore) {
        m_code = kBoardSaidNo;
        m_message = tr("the board left %1 poll requests unanswered during the recording")
                        .arg(unanswered - m_unansweredBefore);
    }
}

void Recording::progress(bool last)
{
    const quint64 lines = m_output->lines();
    // A log has the last figures once.
    if (m_quiet || (last && !m_tty && m_printed == lines))
        return;
    m_printed = lines;
    const double s = m_output->seconds();
    std::fprintf(stderr, "%srecording: %.0f s, %.1f lines/s, %llu lines, %.1f KiB%s",
                 m_tty ? "\r" : "", s, s > 0 ? double(lines) / s : 0.0,
                 static_cast<unsigned long long>(lines), double(m_output->bytesWritten()) / 1024.0,
                 m_tty && !last ? "" : "\n");
    std::fflush(stderr);
}

int Recording::report(QJsonArray *summaries)
{
    end();
    if (m_code != kDone)
        return error(m_code, m_message);
    if (summaries)
        summaries->append(QJsonObject{{QStringLiteral("file"), m_path},
                                      {QStringLiteral("lines"), double(m_lines)},
                                      {QStringLiteral("seconds"), m_seconds}});
    return kDone;
}

} // namespace kvx::cli
