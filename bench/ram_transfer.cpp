// ram_transfer [rounds]: the RAM page's "&Read from RAM" and "&Write to RAM", offscreen,
// against kvx310-sim with line timing in its own process. Each transfer is 64 exchanges; the
// line carries at most 213.3 a second (19200 bit/s, 10 bits a byte, 9 bytes an exchange).
// Reports words per second and their ratio to that limit, timed from the transfer's first
// request to its last reply taken, and from the click (which first waits for the poll request
// in flight) to the last reply and to the click's return (once every reply is trusted).

#include "BenchBoard.h"
#include "controls/Dialogs.h"
#include "editor/RamPage.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <functional>

namespace {

struct Totals
{
    double firstToLast = 0; // s, from the first request written to the last reply taken
    double toLastReply = 0; // s
    double toReturn = 0;    // s
    int transfers = 0;
};

void report(const char *what, const Totals &t)
{
    const double lineLimit = 19200.0 / (10.0 * 9.0);
    const double words = 64.0 * t.transfers;
    std::printf("%s: %d transfers\n", what, t.transfers);
    std::printf("  first request to the last reply: %.1f ms each, %.1f words/s, ratio %.3f\n",
                1000.0 * t.firstToLast / t.transfers, words / t.firstToLast,
                words / t.firstToLast / lineLimit);
    std::printf("  click to the last reply:         %.1f ms each, %.1f words/s, ratio %.3f\n",
                1000.0 * t.toLastReply / t.transfers, words / t.toLastReply,
                words / t.toLastReply / lineLimit);
    std::printf("  click to its return:             %.1f ms each, %.1f words/s, ratio %.3f\n",
                1000.0 * t.toReturn / t.transfers, words / t.toReturn,
                words / t.toReturn / lineLimit);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // A message means a transfer failed: it is reported, not waited on.
    bool failed = false;
    kvx::Dialogs::setMessageHandler([&failed](QWidget *, const kvx::MessageRequest &r) {
        std::fprintf(stderr, "ram_transfer: %s %s\n", qPrintable(r.text),
                     qPrintable(r.informative));
        failed = true;
    });
    const int rounds = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 10;

    bench::Program program("ram_transfer");
    if (!program.form || !bench::openBoard(*program.form, "ram_transfer"))
        return 1;
    kvx::BoardSession &session = program.form->session();
    kvx::TFormAdvanced &advanced = *program.advanced;

    kvx::TRamPage &page = *advanced.RamPage;
    advanced.setActivePage(kvx::EditorPage::Ram);
    for (int b = 0; b < kvx::kRamByteCount; ++b)
        page.setCell(b, QStringLiteral("A5"));

    QElapsedTimer clock;
    qint64 lastReply = 0;
    qint64 firstRequest = -1;
    QObject::connect(&session, &kvx::BoardSession::replyTaken,
                     [&] { lastReply = clock.nsecsElapsed(); });
    QObject::connect(&session, &kvx::BoardSession::traffic, [&](const kvx::LinkTraffic &e) {
        if (e.sent && e.kind == kvx::TrafficKind::Direct && firstRequest < 0)
            firstRequest = clock.nsecsElapsed();
    });
    auto measure = [&](Totals &t, const std::function<void()> &click) {
        // Between transfers the poll cycle runs, as it does between a user's clicks.
        QElapsedTimer pause;
        pause.start();
        while (pause.elapsed() < 50)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        firstRequest = -1;
        clock.start();
        click();
        t.firstToLast += double(lastReply - firstRequest) / 1e9;
        t.toReturn += double(clock.nsecsElapsed()) / 1e9;
        t.toLastReply += double(lastReply) / 1e9;
        ++t.transfers;
    };
    Totals reads;
    Totals writes;
    for (int i = 0; i < rounds; ++i) {
        measure(writes, [&] { page.BtnWriteRAMClick(); });
        for (int b = 0; b < kvx::kRamByteCount; ++b)
            page.setCell(b, QString());
        measure(reads, [&] { page.BtnReadRAMClick(); });
        if (failed)
            return 1;
        if (page.cells()[127] != QLatin1String("A5")) {
            // Back as written, or the bench measured something else.
            std::fprintf(stderr, "ram_transfer: the RAM did not read back\n");
            return 1;
        }
    }
    report("write", writes);
    report("read", reads);
    return 0;
}
