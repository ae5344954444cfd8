// kvx310 ram, snapshot and record: the RAM page's file and wave shape, register snapshots and
// recordings of the poll cycle.

#include "cli/Tool.h"

#include "chip/ValueFormat.h"
#include "records/MicrostepShape.h"
#include "records/SnapshotTransfer.h"
#include "settings/FileSave.h"

#include <QBuffer>
#include <QDateTime>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace kvx::cli {

namespace {

// The write end of a pipe that SIGINT and SIGTERM write to, so that the event loop hears of
// them: a recording ends with its file whole.
int g_signalPipe[2] = {-1, -1};

extern "C" void onSignal(int)
{
    const int saved = errno;
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &c, 1);
    errno = saved;
}

QString byteText(int b)
{
    return QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
}

} // namespace

std::optional<RamCells> Tool::readRam(QString *why)
{
    RequestChannel::Batch stopped;
    const std::optional<RamBytes> ram = kvx::readRam(m_client->requests(), &stopped);
    if (!ram) {
        *why = m_client->lost()
                   ? tr("the port %1 was lost (%2) at RAM word %3")
                         .arg(m_client->device(), m_client->lostReason())
                         .arg(stopped.failedAt)
                   : tr("the board did not answer the read of RAM word %1").arg(stopped.failedAt);
        return std::nullopt;
    }
    return ramCells(*ram);
}

int Tool::writeRam(const std::vector<Datagram> &requests, int firstWord)
{
    const BoardLink::Batch batch = m_client->requests().directRequests(requests);
    if (batch.failedAt < 0)
        return kDone;
    const int word = firstWord + batch.failedAt;
    const QString what = m_client->lost()
                             ? tr("the port %1 was lost (%2) at RAM word %3")
                                   .arg(m_client->device(), m_client->lostReason())
                                   .arg(word)
                             : tr("the board did not answer the write of RAM word %1").arg(word);
    // The words sent from the one that failed on may have reached the RAM (a window that went
    // away without an answer may have sent them all).
    const int last = firstWord + batch.sent - 1;
    QString done = word > firstWord
                       ? tr("; words %1 to %2 were written").arg(firstWord).arg(word - 1)
                       : tr("; nothing before it was written");
    if (last >= word)
        done += tr("; words %1 to %2 may have been written").arg(word).arg(last);
    return error(kBoardSaidNo, what + done);
}

int Tool::shape(bool write)
{
    const ShapeTable table = CalcShapeTable(*m_o.sigma);
    RamCells cells;
    cells.fill(QStringLiteral("00"));
    for (int i = 0; i < kShapeSteps; ++i)
        cells[std::size_t(kShapeFirstByte + i)] = byteText(table[std::size_t(i)]);
    if (write) {
        // Words 32 to 63 hold the table, as the RAM page writes it.
        constexpr int kFirstWord = kShapeFirstByte / 2;
        const auto pause = m_client->pausePolling();
        if (const int code = writeRam(ramWriteRequests(cells, kFirstWord), kFirstWord);
            code != kDone)
            return code;
    }
    if (m_o.json) {
        QJsonArray values;
        for (int v : table)
            values.append(v);
        printJson(QJsonObject{{QStringLiteral("sigma"), *m_o.sigma},
                              {QStringLiteral("shape"), values},
                              {QStringLiteral("written"), write}});
        return kDone;
    }
    for (int row = 0; row < kShapeSteps / kRamColumns; ++row) {
        QStringList bytes;
        for (int c = 0; c < kRamColumns; ++c)
            bytes << cells[std::size_t(kShapeFirstByte + row * kRamColumns + c)];
        printOut(bytes.join(QLatin1Char(',')));
    }
    if (write && !m_o.quiet)
        printOut(tr("wrote the shape to RAM bytes 0x40 to 0x7F"));
    return kDone;
}

int Tool::ram()
{
    if (m_sub == QLatin1String("shape"))
        return shape(true);
    const auto pause = m_client->pausePolling();
    QString why;
    // Rows a short file does not reach keep what the board holds, as the RAM page's grid
    // keeps what it shows.
    std::optional<RamCells> cells = readRam(&why);
    if (!cells)
        return error(kBoardSaidNo, why);
    if (m_sub == QLatin1String("read")) {
        if (m_o.words.size() == 3) {
            const QString reason = saveWholeFile(m_o.words[2], ramFileText(*cells));
            if (!reason.isEmpty())
                return error(kUsage, tr("could not save %1: %2").arg(m_o.words[2], reason));
        } else if (m_o.json) {
            QJsonArray bytes;
            for (const QString &c : *cells)
                bytes.append(c.toInt(nullptr, 16));
            printJson(QJsonObject{{QStringLiteral("ram"), bytes}});
        } else {
            const QString text = QString::fromLatin1(ramFileText(*cells));
            std::fputs(QString(text).remove(QLatin1Char('\r')).toLocal8Bit().constData(), stdout);
        }
        return kDone;
    }
    const QString path = m_o.words[2];
    QBuffer file(&m_file);
    file.open(QIODevice::ReadOnly);
    if (loadRamFile(file, *cells) != RamLoad::Done)
        return error(kUsage, tr("%1 is not a RAM file: no 8 lines in its first MiB; nothing was "
                                "written")
                                 .arg(path));
    if (const int bad = firstInvalidCell(*cells); bad >= 0)
        return error(kUsage, tr("%1: row %2, column %3 holds %4, not two hexadecimal digits; "
                                "nothing was written")
                                 .arg(path)
                                 .arg(bad / kRamColumns + 1)
                                 .arg(bad % kRamColumns + 1)
                                 .arg(quoted((*cells)[std::size_t(bad)])));
    if (const int code = writeRam(ramWriteRequests(*cells), 0); code != kDone)
        return code;
    if (!m_o.quiet && !m_o.json)
        printOut(tr("wrote the 128 RAM bytes from %1").arg(path));
    return kDone;
}

int Tool::snapshot()
{
    const QString path = m_o.words[2];
    const auto pause = m_client->pausePolling();
    SnapshotTransfer transfer(m_client->requests(),
                              [this](const QString &exchange) { return failedExchange(exchange); });
    QString why;
    const std::optional<Snapshot> board = transfer.read(&why);
    if (!board)
        return error(kBoardSaidNo, why);
    if (m_sub == QLatin1String("save")) {
        const QString reason = saveWholeFile(
            path,
            snapshotText(*board, snapshotHeading(QStringLiteral("kvx310"), m_client->device())));
        if (!reason.isEmpty())
            return error(kUsage, tr("could not save %1: %2").arg(path, reason));
        if (!m_o.quiet && !m_o.json)
            printOut(tr("saved %1 values and the RAM to %2").arg(board->values.size()).arg(path));
        return kDone;
    }
    const std::vector<Difference> diffs = differences(*board, *m_wanted);
    const bool restore = m_sub == QLatin1String("restore");
    QJsonArray json;
    // Told once done (or, for diff and --dry-run, as found).
    auto report = [&](const Difference &d) {
        const QString outside =
            d.outside.isEmpty() ? QString() : tr(" (outside the editor's %1)").arg(d.outside);
        if (m_o.json) {
            QJsonObject o{{QStringLiteral("name"), label(d)},
                          {QStringLiteral("board"), d.boardText},
                          {QStringLiteral("file"), d.wantedText}};
            if (!d.outside.isEmpty())
                o.insert(QStringLiteral("outside"), d.outside);
            json.append(o);
        } else if (!restore) {
            printOut(
                tr("%1: board %2, file %3%4").arg(label(d), d.boardText, d.wantedText, outside));
        } else {
            printOut(tr("%1%2: %3 -> %4%5")
                         .arg(m_o.dryRun ? tr("would set ") : QString(), label(d), d.boardText,
                              d.wantedText, outside));
        }
    };
    // What the editor and Go refuse, refused before anything is written (with --dry-run, once
    // listed: it says what the restore would do).
    const RestoreRefusals refusals = restoreRefusals(*board, diffs);
    auto refuse = [&]() {
        if (!refusals.outside.isEmpty()) {
            const qsizetype more = refusals.outside.size() - 1;
            return error(kUsage,
                         tr("%1 sets %2%3; nothing was written; --force writes it")
                             .arg(path, refusals.outside.first(),
                                  more > 0
                                      ? tr(" (and %1 more outside the editor's ranges)").arg(more)
                                      : QString()));
        }
        return error(kBoardSaidNo, tr("%1; nothing was written; --force writes it anyway")
                                       .arg(refusals.moves.join(tr("; "))));
    };
    const bool refused = restore && !m_o.force && !refusals.empty();
    if (restore && !m_o.dryRun) {
        if (refused)
            return refuse();
        const QString failure = transfer.restore(diffs, *m_wanted, report);
        if (!failure.isEmpty()) {
            if (m_o.json)
                printJson(json);
            return error(kBoardSaidNo, failure);
        }
    } else {
        for (const Difference &d : diffs)
            report(d);
    }
    if (m_o.json)
        printJson(json);
    return refused ? refuse() : kDone;
}

int Tool::record()
{
    const QString path = m_o.words[1];
    QFile file;
    const bool toStdout = path == QLatin1String("-");
    // The standard output by its descriptor: the C library's buffer would hold lines back.
    const QString refused =
        toStdout ? (file.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered)
                        ? QString()
                        : file.errorString())
                 : openToRecord(path, file);
    if (!refused.isEmpty())
        return error(kUsage, tr("could not create %1: %2").arg(path, refused));

    const std::unique_ptr<CsvOutput> recording = m_client->record(file, m_columns);
    if (!recording)
        return error(kBoardSaidNo, m_client->lost()
                                       ? m_client->lostReason()
                                       : tr("the Eval310 window refused the recording"));
    CsvOutput &recorder = *recording;
    if (!recorder.flush())
        return error(kUsage, tr("could not write %1: %2").arg(path, recorder.errorString()));
    QEventLoop loop;
    int code = kDone;
    QString stoppedBy;
    const bool tty = ::isatty(STDERR_FILENO) != 0;
    quint64 printed = ~quint64{0};
    auto progress = [&](bool last) {
        // A log has the last figures once.
        if (m_o.quiet || (last && !tty && printed == recorder.lines()))
            return;
        printed = recorder.lines();
        const double s = recorder.seconds();
        std::fprintf(stderr, "%srecording: %.0f s, %.1f lines/s, %llu lines, %.1f KiB%s",
                     tty ? "\r" : "", s, s > 0 ? double(recorder.lines()) / s : 0.0,
                     static_cast<unsigned long long>(recorder.lines()),
                     double(recorder.bytesWritten()) / 1024.0, tty && !last ? "" : "\n");
        std::fflush(stderr);
    };
    QTimer everySecond;
    int ticks = 0;
    QObject::connect(&everySecond, &QTimer::timeout, &loop, [&] {
        if (!recorder.flush()) {
            code = error(kUsage, tr("could not write %1: %2").arg(path, recorder.errorString()));
            loop.quit();
            return;
        }
        // Every second on a terminal; now and then in a log.
        if (tty || ++ticks % 10 == 0)
            progress(false);
    });
    everySecond.start(1000);
    QObject::connect(m_client.get(), &BoardClient::deviceLost, &loop, [&](const QString &reason) {
        stoppedBy = tr("the port %1 was lost (%2)").arg(m_client->device(), reason);
        code = kBoardSaidNo;
        loop.quit();
    });
    if (m_o.duration >= 0)
        QTimer::singleShot(qint64(m_o.duration * 1000), &loop, &QEventLoop::quit);
    // Ctrl+C and SIGTERM end the recording with its file whole; once it has ended they act as
    // ever.
    std::unique_ptr<QSocketNotifier> interrupted;
    struct sigaction sa
    {};
    sa.sa_handler = onSignal;
    if (::pipe(g_signalPipe) == 0) {
        interrupted = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
        QObject::connect(interrupted.get(), &QSocketNotifier::activated, &loop, &QEventLoop::quit);
        ::sigaction(SIGINT, &sa, nullptr);
        ::sigaction(SIGTERM, &sa, nullptr);
    }
    loop.exec();
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    everySecond.stop();
    const quint64 unanswered = m_client->unansweredPolls();
    if (!recorder.flush() && code == kDone)
        code = error(kUsage, tr("could not write %1: %2").arg(path, recorder.errorString()));
    file.close();
    progress(true);
    if (!stoppedBy.isEmpty())
        return error(code, stoppedBy + tr("; %1 keeps the %2 lines recorded")
                                           .arg(toStdout ? tr("the output") : path)
                                           .arg(recorder.lines()));
    if (code == kDone && unanswered > 0)
        return error(
            kBoardSaidNo,
            tr("the board left %1 poll requests unanswered during the recording").arg(unanswered));
    return code;
}

} // namespace kvx::cli
