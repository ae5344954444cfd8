// poll_cycle [seconds per case] [case...]: what the program spends to keep the line busy, case by
// case, in one table. The program runs offscreen against kvx310-sim with line timing in its own
// process; one exchange is 9 bytes, so the line carries at most 213.3 a second (19200 bit/s,
// 10 bits a byte).
//
//   main     the main window alone, the board standing still
//   record   the same with the main window's recording of the poll cycle running
//   own      the same with a read of a register every 200 ms, as the register editor sends it
//   attach   the same read every 200 ms from a client attached to the window's socket
//   script   the same read every 200 ms from a new kvx310 each time, as a shell script runs it
//            ("own", "attach" and "script" count poll replies a second only)
//   traffic  the traffic view shown as well, following the newest
//   plot     the graphic display shown as well, all three motors running
//   scroll   the same once the curves fill the plot (480 cycles), as a user who watches it for
//            more than half a minute sees it: each cycle moves the plot by a pixel
//   editor   the register editor's Motor 1 page shown instead (its 23-row cycle), motors running
//   ram      64-word RAM writes and reads and the 32-word shape write, back to back
//   all      every window shown (the traffic view too), motors running; the peak resident
//            memory is read after it
//   read     64-word RAM reads alone, back to back
//   main@1, read@1, main@4, main@16, main@32
//            the main window alone and the RAM reads, with the board behind a USB adapter that
//            hands received bytes over every 1 to 32 ms (kvx310-sim --batch-ms)
//   nocheck, nocheck@1, nocheck@16
//            a client with no checks at all, on a board of its own: the next request the moment
//            a whole reply is in; the yardstick for "main", "main@1" and "main@16"
//   pair, pair@1, pair@16
//            "main" and "nocheck" (and behind 1 and 16 ms windows) in turns of a second each,
//            each on its own board: a host whose speed drifts during the run slows both alike,
//            so that the share of the client without checks is what the checks cost; with
//            the processor time and the wake-ups per exchange of each in their own turns
//   main@x11, plot@x11, scroll@x11
//            "main", "plot" and "scroll" again in a child run on a real X server (an Xvfb it
//            starts), with the X server's own processor time added: what a desktop user pays
//
// Naming cases measures only those (the others are still set up, briefly). For each case: exchanges
// a second and their share of the line's limit, the processor time this process spent (all its
// threads) as a share of one core, how often it was woken (the voluntary context switches) per
// exchange, its peak resident memory so far, and the oldest a polled value was when its field
// showed it. The RAM case counts from a transfer's first
// request to its last reply, as a user's transfer would.

#include "BenchBoard.h"
#include "controls/Dialogs.h"
#include "controls/SpinEdit.h"
#include "editor/RamPage.h"
#include "NoCheckClient.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include "attach/AttachServer.h"
#include "chip/RegisterMap.h"
#include "cli/AttachedBoard.h"
#include "link/BoardLink.h"
#include "records/WindowRecording.h"

#include <QStandardPaths>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
#include <functional>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <unordered_map>

namespace {

constexpr double kLineLimit = 19200.0 / (10.0 * 9.0);

struct Usage
{
    double cpu = 0;   // s
    long wakeUps = 0; // voluntary context switches
    long peakKiB = 0; // resident
    static Usage now()
    {
        rusage u{};
        ::getrusage(RUSAGE_SELF, &u);
        return {double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
                    double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6,
                u.ru_nvcsw, u.ru_maxrss};
    }
};

struct Row
{
    std::string name;
    double seconds = 0;   // measured
    double exchanges = 0; // replies taken in `seconds`, transfers and polling alike
    double rate = 0;      // exchanges a second as the case counts them
    Usage used;           // during the case; peak as it stood at its end
    double ageMs = 0;     // the oldest a polled value was when its field showed it
};

// A paired case: the program's polling and the client's without checks, in turns.
struct Pair
{
    std::string name;
    double program = 0; // exchanges a second
    double noCheck = 0;
    Usage programUsed; // processor time and wake-ups in the turns of each
    Usage noCheckUsed;
    double programSeconds = 0;
    double noCheckSeconds = 0;
};

// Runs the event loop as the program's own would, asleep while nothing happens.
void runFor(double seconds)
{
    QEventLoop loop;
    QTimer::singleShot(int(seconds * 1000.0), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

// `exchanges` counts the replies `session` takes; the client gets a board with `options`.
bool pairUp(const std::string &name, kvx::BoardSession &session, const long long &exchanges,
            const QStringList &options, double seconds, std::vector<Pair> &pairs)
{
    bench::NoCheckClient client;
    if (!client.open(options))
        return false;
    constexpr double kTurn = 1.0;
    double programSeconds = 0;
    double clientSeconds = 0;
    long long taken = 0;
    long long answered = 0;
    Usage programUsed;
    Usage clientUsed;
    auto add = [](Usage &sum, const Usage &before) {
        const Usage after = Usage::now();
        sum.cpu += after.cpu - before.cpu;
        sum.wakeUps += after.wakeUps - before.wakeUps;
    };
    QElapsedTimer clock;
    for (int turn = 0; turn < std::max(2, int(seconds / kTurn + 0.5)); ++turn) {
        const long long before = exchanges;
        Usage used = Usage::now();
        clock.start();
        runFor(kTurn);
        programSeconds += double(clock.nsecsElapsed()) / 1e9;
        add(programUsed, used);
        taken += exchanges - before;
        // The program's link idle meanwhile, as a command's pause leaves it. The client's turn
        // keeps the event loop from running: what the link holds is shown first, or its age
        // would count a whole turn in the next case.
        const kvx::PollPause pause = session.link().PausePolling();
        runFor(0.1);
        used = Usage::now();
        clock.start();
        answered += client.run(kTurn);
        clientSeconds += double(clock.nsecsElapsed()) / 1e9;
        add(clientUsed, used);
    }
    pairs.push_back({name, double(taken) / programSeconds, double(answered) / clientSeconds,
                     programUsed, clientUsed, programSeconds, clientSeconds});
    return true;
}

void printPairs(const std::vector<Pair> &pairs)
{
    if (pairs.empty())
        return;
    std::printf("\n%-8s %10s %7s %10s %7s %8s %8s %8s %7s %7s\n", "pair", "exch/s", "line",
                "nocheck/s", "line", "share", "CPU %", "nocheck", "wakes", "nocheck");
    auto wakes = [](const Usage &u, double rate, double seconds) {
        return rate > 0 ? double(u.wakeUps) / (rate * seconds) : 0.0;
    };
    for (const Pair &p : pairs) {
        std::printf("%-8s %10.1f %7.3f %10.1f %7.3f %8.3f %8.2f %8.2f %7.2f %7.2f\n",
                    p.name.c_str(), p.program, p.program / kLineLimit, p.noCheck,
                    p.noCheck / kLineLimit, p.noCheck > 0 ? p.program / p.noCheck : 0.0,
                    100.0 * p.programUsed.cpu / p.programSeconds,
                    100.0 * p.noCheckUsed.cpu / p.noCheckSeconds,
                    wakes(p.programUsed, p.program, p.programSeconds),
                    wakes(p.noCheckUsed, p.noCheck, p.noCheckSeconds));
    }
}

// How old a reply is when its field shows it: from its taking by the link to the poll
// scheduler's showing it, on the link's fine clock.
struct Freshness
{
    std::int64_t stalest = 0; // microseconds, since the last reset
    std::unordered_map<int, std::int64_t> takenAt;
    void watch(kvx::BoardSession &session)
    {
        // Each link numbers its exchanges from 0: a reply the closed board's link took and
        // never showed would pass for the new link's reply of that number.
        takenAt.clear();
        kvx::BoardLink &link = session.link();
        QObject::connect(&link, &kvx::BoardLink::traffic, [this](const kvx::LinkTraffic &t) {
            if (!t.sent && t.kind == kvx::TrafficKind::Poll)
                takenAt[t.exchange] = t.micros;
        });
        QObject::connect(&session.scheduler(), &kvx::PollScheduler::pollReplyShown, [this, &link] {
            const auto it = takenAt.find(link.replyExchange());
            if (it == takenAt.end())
                return;
            stalest = std::max(stalest, link.fineNow() - it->second);
            takenAt.erase(it);
        });
    }
};

void printTable(const std::vector<Row> &rows)
{
    std::printf("%-8s %10s %7s %8s %12s %10s %8s\n", "case", "exch/s", "line", "CPU %",
                "wakes/exch", "peak MiB", "age ms");
    for (const Row &r : rows) {
        std::printf("%-8s %10.1f %7.3f %8.2f %12.2f %10.1f %8.1f\n", r.name.c_str(), r.rate,
                    r.rate / kLineLimit, 100.0 * r.used.cpu / r.seconds,
                    r.exchanges > 0 ? double(r.used.wakeUps) / r.exchanges : 0.0,
                    double(r.used.peakKiB) / 1024.0, r.ageMs);
    }
}

// All three motors in VELOCITY mode at a middling speed: every value the displays show keeps
// changing, and the position curve rescales now and then.
void startMotors(kvx::TFormMain &form)
{
    for (kvx::MotorGroup &g : form.Motors) {
        g.CbRampMode->setCurrentIndex(2);
        g.EditVTarget->setValue(600);
    }
    form.BtnGoAllClick();
}

// Runs the poll cycle until the graphic display's curves fill the plot, so that every cycle
// after it scrolls.
void fillPlot(const kvx::TFormGraphics &graphics)
{
    while (graphics.Recorder().fill() < kvx::TraceRecorder::kMaxFill)
        runFor(0.5);
}

// Times a user's transfers from the first request written to the click's return, when the
// last word is in: what the user waits for, without the polling between clicks.
struct TransferClock
{
    explicit TransferClock(kvx::BoardSession &session)
    {
        clock.start();
        QObject::connect(&session.link(), &kvx::BoardLink::traffic, &context,
                         [this](const kvx::LinkTraffic &e) {
                             if (e.sent && e.kind == kvx::TrafficKind::Direct && firstRequest < 0)
                                 firstRequest = clock.nsecsElapsed();
                         });
    }
    void run(const std::function<void()> &click)
    {
        runFor(0.05); // the poll cycle runs between a user's clicks
        firstRequest = -1;
        click();
        if (firstRequest >= 0)
            seconds += double(clock.nsecsElapsed() - firstRequest) / 1e9;
    }

    QObject context;
    QElapsedTimer clock;
    qint64 firstRequest = -1;
    double seconds = 0;
};

// 64-word RAM reads back to back for `seconds`: words a second as the transfers saw them.
double readRate(kvx::TRamPage &page, TransferClock &transfers, double seconds, bool &failed)
{
    double words = 0;
    const double before = transfers.seconds;
    QElapsedTimer clock;
    clock.start();
    while (double(clock.elapsed()) < seconds * 1000.0 && !failed) {
        transfers.run([&] { page.BtnReadRAMClick(); });
        words += 64;
    }
    return words / (transfers.seconds - before);
}

// The processor time `pid` has spent so far, in seconds (Linux).
double processCpu(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    // Fields after the command's closing bracket: state is field 3, utime 14, stime 15.
    const QList<QByteArray> f = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return f.size() > 12
               ? double(f[11].toLongLong() + f[12].toLongLong()) / double(::sysconf(_SC_CLK_TCK))
               : 0;
}

// "main@x11" and "plot@x11": this benchmark again as a child on an Xvfb of its own; its row,
// with the X server's processor time added to the child's.
bool runOnX11(const char *self, double seconds, const QString &which, std::vector<Row> &rows)
{
    QProcess xvfb;
    int display = 90;
    for (; display < 110; ++display) {
        if (!QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(display)))
            break;
    }
    xvfb.start(QStringLiteral("Xvfb"),
               {QStringLiteral(":%1").arg(display), QStringLiteral("-screen"), QStringLiteral("0"),
                QStringLiteral("1280x1024x24")});
    if (!xvfb.waitForStarted(5000)) {
        std::fprintf(stderr, "poll_cycle: Xvfb did not start\n");
        return false;
    }
    runFor(1.0);
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":%1").arg(display));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    child.setProcessEnvironment(env);
    const double serverBefore = processCpu(xvfb.processId());
    child.start(QString::fromLocal8Bit(self), {QString::number(seconds), which});
    child.waitForFinished(int(seconds * 1000) * 3 + 60000);
    const double server = processCpu(xvfb.processId()) - serverBefore;
    xvfb.terminate();
    xvfb.waitForFinished(5000);
    const QList<QByteArray> lines = child.readAllStandardOutput().split('\n');
    for (const QByteArray &line : lines) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() < 6 || f[0] != which.toLatin1())
            continue;
        Row r;
        r.name = which.toStdString() + "@x11";
        r.seconds = seconds;
        r.rate = f[1].toDouble();
        r.exchanges = r.rate * seconds;
        // The server worked for the whole child run (start-up and the warm-up too): an upper
        // bound, spread over the measured seconds.
        r.used.cpu = f[3].toDouble() / 100.0 * seconds + server * seconds / (seconds + 3.0);
        std::fprintf(stderr,
                     "poll_cycle: %s@x11: the program %.2f %%, the X server %.2f %% of a core\n",
                     qPrintable(which), f[3].toDouble(), 100.0 * server / (seconds + 3.0));
        r.used.wakeUps = long(f[4].toDouble() * r.exchanges);
        r.used.peakKiB = long(f[5].toDouble() * 1024.0);
        r.ageMs = f.size() > 6 ? f[6].toDouble() : 0.0;
        rows.push_back(r);
        return child.exitCode() == 0;
    }
    std::fprintf(stderr, "poll_cycle: the run under Xvfb gave no %s row\n", qPrintable(which));
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const double seconds =
        argc > 1 ? std::max(1.0, QString::fromLocal8Bit(argv[1]).toDouble()) : 10.0;
    // A message means a command failed: it is reported, not waited on.
    bool failed = false;
    kvx::Dialogs::setMessageHandler([&failed](QWidget *, const kvx::MessageRequest &r) {
        std::fprintf(stderr, "poll_cycle: %s %s\n", qPrintable(r.text), qPrintable(r.informative));
        failed = true;
    });

    bench::Program program("poll_cycle");
    if (!program.form)
        return 1;
    kvx::TFormMain &form = *program.form;
    kvx::BoardSession &session = form.session();
    long long exchanges = 0;
    QObject::connect(&session.link(), &kvx::BoardLink::replyTaken, [&] { ++exchanges; });
    Freshness freshness;
    freshness.watch(session);

    form.show();
    if (!bench::openBoard(form, "poll_cycle"))
        return 1;
    runFor(1.0); // the first cycles fill the displays

    std::vector<Row> rows;
    QStringList wanted;
    for (int i = 2; i < argc; ++i)
        wanted << QString::fromLocal8Bit(argv[i]);
    auto measure = [&](const char *name, const std::function<double()> &work) {
        if (!wanted.isEmpty() && !wanted.contains(QLatin1String(name)))
            return;
        const Usage before = Usage::now();
        const long long exchangesBefore = exchanges;
        freshness.stalest = 0;
        QElapsedTimer clock;
        clock.start();
        const double ownRate = work(); // the case's own rate, or -1 for every reply taken
        const double elapsed = double(clock.nsecsElapsed()) / 1e9;
        const Usage after = Usage::now();
        // The client without checks counts its own replies.
        const double taken = exchanges > exchangesBefore ? double(exchanges - exchangesBefore)
                                                         : std::max(0.0, ownRate * elapsed);
        rows.push_back({name,
                        elapsed,
                        taken,
                        ownRate < 0 ? taken / elapsed : ownRate,
                        {after.cpu - before.cpu, after.wakeUps - before.wakeUps, after.peakKiB},
                        double(freshness.stalest) / 1000.0});
    };

    measure("main", [&] {
        runFor(seconds);
        return -1.0;
    });
    std::vector<Pair> pairs;
    if ((wanted.isEmpty() || wanted.contains(QLatin1String("pair"))) &&
        !pairUp("pair", session, exchanges, {}, seconds, pairs)) {
        std::fprintf(stderr, "poll_cycle: the client without checks could not start\n");
        return 1;
    }

    QTemporaryDir scratch;
    kvx::WindowRecording &recording = form.recording();
    if (wanted.isEmpty() || wanted.contains(QLatin1String("record"))) {
        QString why;
        if (!recording.start(scratch.filePath(QStringLiteral("poll.csv")), &why)) {
            std::fprintf(stderr, "poll_cycle: could not record: %s\n", qPrintable(why));
            return 1;
        }
    }
    measure("record", [&] {
        runFor(seconds);
        return -1.0;
    });
    QString ignored;
    recording.stop(&ignored);

    // A read every 200 ms, from the window and from scripts attached to it: what the poll cycle
    // keeps of its pace.
    long long polls = 0;
    QObject::connect(&session.scheduler(), &kvx::PollScheduler::pollReplyShown, [&] { ++polls; });
    const kvx::Datagram vMax{kvx::motorReadAddress(0, kvx::motor::VMax), {}};
    auto everyFifth = [&](const std::function<bool()> &command) {
        const long long before = polls;
        int commands = 0;
        QTimer tick;
        QObject::connect(&tick, &QTimer::timeout, [&] { commands += command() ? 1 : 0; });
        tick.start(200);
        QElapsedTimer clock;
        clock.start();
        runFor(seconds);
        std::fprintf(stderr, "poll_cycle: %d commands\n", commands);
        return double(polls - before) / (double(clock.nsecsElapsed()) / 1e9);
    };
    measure("own", [&] {
        return everyFifth([&] {
            const kvx::PollPause pause = session.link().PausePolling();
            failed = failed || !session.link().DirectRequest(vMax);
            return true;
        });
    });
    kvx::cli::AttachedBoard client;
    if (!client.connectTo(form.attachServer().socketPath())) {
        std::fprintf(stderr, "poll_cycle: could not attach to the window\n");
        return 1;
    }
    measure("attach", [&] {
        return everyFifth([&] {
            failed = failed || !client.DirectRequest(vMax);
            return true;
        });
    });
    QProcess script;
    const QStringList attached{QStringLiteral("--port"),  session.lastOpen().device,
                               QStringLiteral("--quiet"), QStringLiteral("read"),
                               QStringLiteral("V_MAX"),   QStringLiteral("--motor"),
                               QStringLiteral("1")};
    measure("script", [&] {
        return everyFifth([&] {
            if (script.state() != QProcess::NotRunning)
                return false;
            failed =
                failed || (script.exitStatus() == QProcess::NormalExit && script.exitCode() != 0);
            script.start(QStringLiteral(KVX310_PATH), attached);
            return true;
        });
    });
    script.waitForFinished(5000);

    form.BtnTrafficClick();
    runFor(0.5);
    measure("traffic", [&] {
        runFor(seconds);
        return -1.0;
    });
    program.traffic->hide();

    startMotors(form);
    runFor(0.5);
    form.BtnGraphicsClick();
    runFor(0.5);
    measure("plot", [&] {
        runFor(seconds);
        return -1.0;
    });
    if (wanted.isEmpty() || wanted.contains(QLatin1String("scroll")))
        fillPlot(*program.graphics);
    measure("scroll", [&] {
        runFor(seconds);
        return -1.0;
    });
    program.graphics->hide();

    kvx::TFormAdvanced &advanced = *program.advanced;
    form.BtnCmd310Click();
    advanced.setActivePage(kvx::EditorPage::Motor1);
    runFor(0.5);
    measure("editor", [&] {
        runFor(seconds);
        return -1.0;
    });

    // The transfers' own time: from the first request written to the last reply taken.
    form.BtnStopAllClick();
    advanced.setActivePage(kvx::EditorPage::Ram);
    kvx::TRamPage &page = *advanced.RamPage;
    TransferClock transfers(session);
    for (int b = 0; b < kvx::kRamByteCount; ++b)
        page.setCell(b, QStringLiteral("A5"));
    measure("ram", [&] {
        double words = 0;
        QElapsedTimer clock;
        clock.start();
        while (double(clock.elapsed()) < seconds * 1000.0 && !failed) {
            transfers.run([&] { page.BtnWriteRAMClick(); });
            transfers.run([&] { page.BtnReadRAMClick(); });
            transfers.run([&] { page.BtnShapeCWClick(); });
            words += 64 + 64 + 32;
        }
        // The rate as the transfers saw it, not diluted by the polling between them.
        return words / transfers.seconds;
    });
    if (failed || page.cells()[0] != QLatin1String("A5")) {
        std::fprintf(stderr, "poll_cycle: the RAM transfers failed\n");
        return 1;
    }
    measure("read", [&] { return readRate(page, transfers, seconds, failed); });

    advanced.setActivePage(kvx::EditorPage::Motor1);
    startMotors(form);
    form.BtnGraphicsClick();
    form.BtnTrafficClick();
    program.warning.show();
    runFor(0.5);
    measure("all", [&] {
        runFor(seconds);
        return -1.0;
    });
    form.BtnStopAllClick();
    form.BtnCloseClick(); // its polling would count with the next board's

    // Behind a USB adapter: a board of its own for each window.
    for (const int ms : {1, 4, 16, 32}) {
        const std::string main = "main@" + std::to_string(ms);
        const std::string read = "read@" + std::to_string(ms);
        const std::string pair = "pair@" + std::to_string(ms);
        const bool reads = ms == 1;
        const bool paired =
            wanted.isEmpty() ? ms == 1 || ms == 16 : wanted.contains(QString::fromStdString(pair));
        if (!wanted.isEmpty() && !wanted.contains(QString::fromStdString(main)) &&
            !(reads && wanted.contains(QString::fromStdString(read))) && !paired)
            continue;
        bench::Program adapter("poll_cycle", {QStringLiteral("--batch-ms"), QString::number(ms)});
        if (!adapter.form)
            return 1;
        kvx::BoardSession &line = adapter.form->session();
        QObject::connect(&line.link(), &kvx::BoardLink::replyTaken, [&] { ++exchanges; });
        freshness.watch(line);
        adapter.form->show();
        if (!bench::openBoard(*adapter.form, "poll_cycle"))
            return 1;
        runFor(1.0);
        measure(main.c_str(), [&] {
            runFor(seconds);
            return -1.0;
        });
        if (paired &&
            !pairUp(pair, line, exchanges, {QStringLiteral("--batch-ms"), QString::number(ms)},
                    seconds, pairs)) {
            std::fprintf(stderr, "poll_cycle: the client without checks could not start\n");
            return 1;
        }
        if (reads) {
            adapter.form->BtnCmd310Click();
            adapter.advanced->setActivePage(kvx::EditorPage::Ram);
            TransferClock adapterTransfers(line);
            measure(read.c_str(), [&] {
                return readRate(*adapter.advanced->RamPage, adapterTransfers, seconds, failed);
            });
        }
    }

    // The yardstick: a client without checks on a board of its own, at the line's pace and
    // behind the adapters, in the same run.
    for (const int ms : {0, 1, 16}) {
        const std::string name = ms == 0 ? "nocheck" : "nocheck@" + std::to_string(ms);
        const QStringList options =
            ms == 0 ? QStringList{}
                    : QStringList{QStringLiteral("--batch-ms"), QString::number(ms)};
        measure(name.c_str(), [&] {
            const double rate = bench::noCheckRate(options, seconds);
            failed = failed || rate < 0;
            return rate;
        });
    }

    // Under a real X server: a child run of this benchmark, so that its platform is X11.
    for (const char *x11 : {"main", "plot", "scroll"}) {
        const QString name = QLatin1String(x11) + QStringLiteral("@x11");
        if (!wanted.contains(name) &&
            !(wanted.isEmpty() &&
              !QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty()))
            continue;
        failed = !runOnX11(argv[0], seconds, QLatin1String(x11), rows) || failed;
    }

    printTable(rows);
    printPairs(pairs);
    return failed ? 1 : 0;
}
