// poll_cycle [seconds]: the main window's real poll cycle, offscreen, against kvx310-sim with
// line timing in its own process. Reports exchanges per second against the line's limit
// (19200 bit/s, 10 bits a byte, 9 bytes an exchange: 213.3 per second), the mean duration of
// the 12-request cycle, and this process's CPU time per 1000 exchanges.

#include "BenchBoard.h"

#include <QApplication>
#include <QElapsedTimer>
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

    bench::Program program("poll_cycle");
    if (!program.form)
        return 1;
    kvx::TFormMain &form = *program.form;
    kvx::BoardSession &session = form.session();

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
    if (!bench::openBoard(form, "poll_cycle"))
        return 1;

    QElapsedTimer clock;
    measuring = true;
    const double cpuStart = cpuSeconds();
    clock.start();
    QTimer::singleShot(int(seconds * 1000), Qt::PreciseTimer, &app, &QApplication::quit);
    app.exec();
    const double elapsed = double(clock.nsecsElapsed()) / 1e9;
    const double cpu = cpuSeconds() - cpuStart;
    measuring = false;

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
