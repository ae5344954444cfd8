// cli_tool [seconds]: what kvx310 costs, as scripts use it, against kvx310-sim with line
// timing in its own process. One table:
// - record at the line's pace and behind a USB adapter that hands bytes over every 1 ms:
//   cycles written per second, their exchanges' share of what a 19200 bit/s line carries
//   (12 exchanges of 9 bytes per cycle), and kvx310's processor time as a share of one core
//   (the whole run: start, detection and the recording);
// - read of one register: the whole run, the run of `kvx310 --version` (loading the program
//   and its libraries), and the difference, which is what the port, the board's detection and
//   the read cost; the median of 11 runs each.
// Figures are ratios within one run of the benchmark, never checked against a wall clock.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr double kLineLimit = 19200.0 / (10.0 * 9.0);
constexpr int kExchangesPerCycle = 12;

struct Board
{
    QProcess sim;
    QString pty;
    explicit Board(const QStringList &options)
    {
        sim.start(QStringLiteral(KVX310_SIM_PATH), QStringList{"--line-timing"} + options);
        if (sim.waitForStarted(5000) && sim.waitForReadyRead(5000)) {
            const QByteArray line = sim.readLine().trimmed();
            if (line.startsWith("pty: "))
                pty = QString::fromLocal8Bit(line.mid(5));
        }
    }
    ~Board()
    {
        sim.terminate();
        sim.waitForFinished(5000);
    }
};

struct Run
{
    int status = -1;
    double cpu = 0;  // s, user and system
    double wall = 0; // s
    QByteArray out;
};

// kvx310 with `args`, its standard output gathered and its resources taken from wait4.
Run runTool(const QStringList &args)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return {};
    std::vector<QByteArray> storage{QByteArrayLiteral(KVX310_PATH)};
    for (const QString &a : args)
        storage.push_back(a.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    QElapsedTimer clock;
    clock.start();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    Run r;
    char buf[65536];
    ssize_t n = 0;
    while ((n = ::read(pipeFds[0], buf, sizeof buf)) > 0)
        r.out.append(buf, qsizetype(n));
    ::close(pipeFds[0]);
    int status = 0;
    rusage u{};
    ::wait4(pid, &status, 0, &u);
    r.wall = double(clock.nsecsElapsed()) / 1e9;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.cpu = double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
            double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
    return r;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const double seconds = argc > 1 ? std::max(2.0, std::atof(argv[1])) : 20.0;
    bool failed = false;

    std::printf("%-12s %10s %7s %8s\n", "record", "cycles/s", "line", "CPU %");
    for (const auto &[name, options] : {std::pair{"line's pace", QStringList{}},
                                        std::pair{"adapter 1ms", QStringList{"--batch-ms", "1"}}}) {
        Board board(options);
        if (board.pty.isEmpty()) {
            std::fprintf(stderr, "cli_tool: kvx310-sim did not start\n");
            return 1;
        }
        const Run r = runTool({"--port", board.pty, "--quiet", "record", "-", "--duration",
                               QString::number(seconds)});
        // Every line but the header is a whole cycle.
        const qsizetype lines = std::max<qsizetype>(0, r.out.count('\n') - 1);
        const double rate = double(lines) / seconds;
        failed = failed || r.status != 0 || lines == 0;
        std::printf("%-12s %10.2f %7.3f %8.2f\n", name, rate,
                    rate * kExchangesPerCycle / kLineLimit, 100.0 * r.cpu / r.wall);
    }

    Board board({});
    std::vector<double> reads, starts;
    for (int i = 0; i < 11; ++i) {
        const Run read = runTool({"--port", board.pty, "--quiet", "read", "V_MAX", "--motor", "1"});
        const Run start = runTool({"--version"});
        failed = failed || read.status != 0 || start.status != 0;
        reads.push_back(read.wall * 1000);
        starts.push_back(start.wall * 1000);
    }
    std::printf("\n%-12s %10s %10s %10s\n", "read", "run ms", "start ms", "port ms");
    std::printf("%-12s %10.1f %10.1f %10.1f\n", "V_MAX", median(reads), median(starts),
                median(reads) - median(starts));
    if (failed)
        std::fprintf(stderr, "cli_tool: a run of kvx310 failed\n");
    return failed ? 1 : 0;
}
