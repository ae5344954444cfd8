// kvx310 ram, snapshot and record: the RAM page's file and wave shape, register snapshots and
// recordings of the poll cycle.

#include "cli/Tool.h"

#include "chip/ValueFormat.h"
#include "records/MicrostepShape.h"
#include "records/SnapshotTransfer.h"
#include "settings/FileSave.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonObject>

#include <cstdio>

namespace kvx::cli {

namespace {

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
        printResult({{QStringLiteral("sigma"), *m_o.sigma},
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
            printResult({{QStringLiteral("file"), m_o.words[2]}});
        } else if (m_o.json) {
            QJsonArray bytes;
            for (const QString &c : *cells)
                bytes.append(c.toInt(nullptr, 16));
            printResult({{QStringLiteral("ram"), bytes}});
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
    printResult({{QStringLiteral("file"), path}});
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
        printResult({{QStringLiteral("file"), path},
                     {QStringLiteral("values"), double(board->values.size())}});
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
                                      : QString()),
                         {{QStringLiteral("differences"), json}});
        }
        return error(kBoardSaidNo,
                     tr("%1; nothing was written; --force writes it anyway")
                         .arg(refusals.moves.join(tr("; "))),
                     {{QStringLiteral("differences"), json}});
    };
    const bool refused = restore && !m_o.force && !refusals.empty();
    if (restore && !m_o.dryRun) {
        if (refused)
            return refuse();
        const QString failure = transfer.restore(diffs, *m_wanted, report);
        if (!failure.isEmpty()) {
            return error(kBoardSaidNo, failure, {{QStringLiteral("differences"), json}});
        }
    } else {
        for (const Difference &d : diffs)
            report(d);
    }
    if (refused)
        return refuse();
    // As diff(1): a board that differs from the file is told by the exit status too.
    const int code = m_sub == QLatin1String("diff") && !diffs.empty() ? kBoardSaidNo : kDone;
    printResult({{QStringLiteral("differences"), json}}, code);
    return code;
}

int Tool::record()
{
    const QString path = m_o.words[1];
    if (const int code = startRecording(path, m_columns); code != kDone)
        return code;
    // A script goes on beside it; on its own the command lasts as long as the recording.
    if (m_session.script()) {
        printResult({{QStringLiteral("file"), path}, {QStringLiteral("recording"), true}});
        return kDone;
    }
    QJsonArray recorded;
    const int code = m_session.endRecordings(ToolSession::Until::AllOver, &recorded);
    if (code == kDone)
        printResult(recorded.at(0).toObject());
    return code;
}

} // namespace kvx::cli
