// poll_cycle [seconds]: the main window's real poll cycle, offscreen, against kvx310-sim with
// line timing in its own process. Reports exchanges per second against the line's limit
// (19200 bit/s, 10 bits a byte, 9 bytes an exchange: 213.3 per second), the mean duration of
// the 12-request cycle, and this process's CPU time per 1000 exchanges.

#include "app/Ev310Main.h"
#include "app/Ev310Warn.h"
#include "editor/Ev310Registers.h"
#include "graphics/Ev310Graphics.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <sys/resource.h>

namespace {

double cpuSeconds()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const double seconds =
        argc > 1 ? std::max(1.0, QString::fromLocal8Bit(argv[1]).toDouble()) : 10.0;

    QProcess sim;
    sim.start(QStringLiteral(KVX310_SIM_PATH), {QStringLiteral("--line-timing")});
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000)) {
        std::fprintf(stderr, "poll_cycle: kvx310-sim did not start\n");
        return 1;
    }
    const QByteArray line = sim.readLine().trimmed();
    if (!line.startsWith("pty: ")) {
        std::fprintf(stderr, "poll_cycle: unexpected output from kvx310-sim: %s\n",
                     line.constData());
        return 1;
    }

    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("Eval310.ini"));
    {
        QFile f(ini);
        if (!f.open(QIODevice::WriteOnly))
            return 1;
        f.write("[Ports]\nCOM1=" + line.mid(5) + "\n");
    }

    kvx::TFormMain form(ini);
    kvx::BoardSession &session = form.session();
    kvx::TFormAdvanced advanced(session);
    kvx::TFormGraphics graphics(session);
    kvx::TFormWarning warning;
    form.attachWindows(&advanced, &graphics, &warning);

    long long exchanges = 0;
    long long cycles = 0;
    bool measuring = false;
    QObject::connect(&session, &kvx::BoardSession::replyTaken, [&] {
        if (measuring)
            ++exchanges;
    });
    QObject::connect(&session, &kvx::BoardSession::nextSample, [&] {
        if (measuring)
            ++cycles;
    });

    // KVX_BENCH_SHOW=1 shows the window, so that painting is paid for as in real use.
    if (qEnvironmentVariableIsSet("KVX_BENCH_SHOW"))
        form.show();
    form.BtnOpenClick();
    if (!session.Connected()) {
        std::fprintf(stderr, "poll_cycle: could not open %s\n", line.mid(5).constData());
        return 1;
    }
    // A plain board is recognised once the watchdog has ended detection (2 s).
    QElapsedTimer wait;
    wait.start();
    while (form.StaticInfo1->text() != QLatin1String("The board is active.") &&
           wait.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    if (form.StaticInfo1->text() != QLatin1String("The board is active.")) {
        std::fprintf(stderr, "poll_cycle: the board did not answer\n");
        return 1;
    }

    QElapsedTimer clock;
    measuring = true;
    const double cpuStart = cpuSeconds();
    clock.start();
    QTimer::singleShot(int(seconds * 1000), Qt::PreciseTimer, &app, &QApplication::quit);
    app.exec();
    const double elapsed = double(clock.nsecsElapsed()) / 1e9;
    const double cpu = cpuSeconds() - cpuStart;
    measuring = false;
    form.BtnCloseClick();
    sim.terminate();
    sim.waitForFinished(3000);

    const double lineLimit = 19200.0 / (10.0 * 9.0);
    const double rate = double(exchanges) / elapsed;
    std::printf("measured:            %.1f s\n", elapsed);
    std::printf("exchanges:           %lld (%.1f per second)\n", exchanges, rate);
    std::printf("ratio to line limit: %.3f (limit %.1f per second)\n", rate / lineLimit, lineLimit);
    std::printf("cycles:              %lld, mean %.2f ms per 12-request cycle\n", cycles,
                cycles > 0 ? elapsed * 1000.0 / double(cycles) : 0.0);
    std::printf("CPU:                 %.3f s, %.4f s per 1000 exchanges, %.2f %% of one core\n",
                cpu, exchanges > 0 ? cpu * 1000.0 / double(exchanges) : 0.0, 100.0 * cpu / elapsed);
    return 0;
}
