// cli_tool [seconds]: what kvx310 costs, as scripts use it, against kvx310-sim with line
// timing in its own process. One table:
// - record at the line's pace and behind a USB adapter that hands bytes over every 1 ms:
//   cycles written per second, their exchanges' share of what a 19200 bit/s line carries
//   (12 exchanges of 9 bytes per cycle), and kvx310's processor time as a share of one core
//   (the whole run: start, detection and the recording);
// - read of one register: the whole run, the run of `kvx310 --version` (loading the program
//   and its libraries), and the difference, which is what the port, the board's detection and
//   the read cost; the median of 11 runs each;
// - wait: a script of ten moves, each `go` then `wait X_REACHED_1`, on a board that logs its
//   frames: for each move, the time from the last reply that showed the bit clear to the wait's
//   read that saw it set (at most how late the wait heard of it), against the poll cycle's
//   period (between the requests that begin cycles), both on the board's clock.
// Figures are ratios within one run of the benchmark, never checked against a wall clock.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTemporaryFile>

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

struct Frame
{
    double ms = 0;
    int address = 0;
    int status = 0;
};

// The frames of kvx310-sim --verbose: "  12.345 ms  23 03 00 00 00  -> 15 00 13 88  reply".
std::vector<Frame> frames(const QByteArray &log)
{
    static const QRegularExpression line(
        QStringLiteral(R"(^\s*([\d.]+) ms\s+23 ([0-9A-F]{2}) .*-> ([0-9A-F]{2}) )"));
    std::vector<Frame> out;
    for (const QByteArray &l : log.split('\n')) {
        const QRegularExpressionMatch m = line.match(QString::fromLatin1(l));
        if (m.hasMatch())
            out.push_back({m.captured(1).toDouble(), m.captured(2).toInt(nullptr, 16),
                           m.captured(3).toInt(nullptr, 16)});
    }
    return out;
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

    // A wait's read follows the request that begins a cycle (X_ACTUAL of motor 1, 0x03).
    Board logged({QStringLiteral("--verbose")});
    QTemporaryFile script;
    QByteArray moves = "write --motor 1 V_MAX=200 A_MAX=100\n";
    for (int i = 0; i < 10; ++i)
        moves += "go --motor 1 --target " + QByteArray::number(i % 2 ? 0 : 3000) +
                 "\nwait X_REACHED_1 --timeout 30\n";
    failed = failed || !script.open() || script.write(moves) != moves.size() || !script.flush();
    const Run waited = runTool({"--port", logged.pty, "--quiet", "script", script.fileName()});
    failed = failed || waited.status != 0;
    logged.sim.terminate();
    logged.sim.waitForFinished(5000);
    const std::vector<Frame> f = frames(logged.sim.readAllStandardError());
    std::vector<double> late;
    std::vector<double> cycleStarts;
    for (std::size_t k = 1; k < f.size(); ++k) {
        if (f[k].address == 0x03 && f[k - 1].address != 0x03)
            cycleStarts.push_back(f[k].ms);
        if (f[k].address != 0x00) // X_TARGET written: a move begins
            continue;
        std::size_t set = k + 1;
        while (set < f.size() && (f[set].status & 1) == 0)
            ++set;
        for (std::size_t w = set; w < f.size(); ++w) {
            if (f[w].address == 0x03 && f[w - 1].address == 0x03) {
                late.push_back(f[w].ms - f[set - 1].ms);
                break;
            }
        }
    }
    const double cycle = cycleStarts.size() > 1 ? (cycleStarts.back() - cycleStarts.front()) /
                                                      double(cycleStarts.size() - 1)
                                                : 0;
    failed = failed || late.empty();
    std::printf("\n%-12s %10s %10s %10s %10s\n", "wait", "moves", "cycle ms", "late ms",
                "worst ms");
    std::printf("%-12s %10zu %10.1f %10.1f %10.1f\n", "X_REACHED_1", late.size(), cycle,
                median(late), late.empty() ? 0 : *std::max_element(late.begin(), late.end()));
    if (failed)
        std::fprintf(stderr, "cli_tool: a run of kvx310 failed\n");
    return failed ? 1 : 0;
}
