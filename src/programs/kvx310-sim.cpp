// kvx310-sim: serves the simulated evaluation board on a pseudo-terminal until SIGINT or
// SIGTERM, printing "pty: <terminal>" first so that scripts and tests can find it.

#include "sim/PtyBoardServer.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <unistd.h>

using namespace kvx::sim;

namespace {

constexpr const char *kUsage =
    "usage: kvx310-sim [--variant plain|korve|pentar] [--link PATH] [--line-timing] "
    "[--turnaround-us N] [--jitter-us N] [--batch-ms N] [--drop-every N] [--stray-every N] "
    "[--stray-at before|inside|after|later] "
    "[--truncate-every N] [--corrupt-every N] [--late-every N] [--late-ms M] [--late-loses] "
    "[--silent] [--silent-to HEX] "
    "[--hangup-after S] "
    "[--verbose] | --help | --version";

constexpr const char *kHelp =
    "Serves a simulated KVX310 evaluation board on a pseudo-terminal until Ctrl+C or SIGTERM,\n"
    "after printing one line, \"pty: /dev/pts/N\".\n"
    "\n"
    "  --variant plain|korve|pentar   the board (plain by default)\n"
    "  --link PATH                    also a symbolic link to the terminal, removed at the end\n"
    "  --line-timing                  paces requests and replies as a 19200 bit/s line does\n"
    "  --turnaround-us N              the board's time to answer, in microseconds ...\n"
    "  --jitter-us N                    ... and up to N microseconds more, varying\n"
    "  --batch-ms N                   hands reply bytes over every N ms, as a USB adapter does\n"
    "  --drop-every N                 drops every Nth reply\n"
    "  --stray-every N                adds a stray byte to every Nth reply ...\n"
    "  --stray-at before|inside|after|later\n"
    "                                   ... at that place (after by default; later: 1.5 ms\n"
    "                                   after the reply)\n"
    "  --truncate-every N             cuts the last byte of every Nth reply\n"
    "  --corrupt-every N              changes a byte of every Nth reply (a pseudo-terminal\n"
    "                                   cannot report it as the line error it stands for)\n"
    "  --late-every N                 holds every Nth reply back ...\n"
    "  --late-ms M                      ... for M ms (2100 by default)\n"
    "  --late-loses                     ... and loses the requests sent meanwhile\n"
    "  --silent                       never answers\n"
    "  --silent-to HEX                never answers requests with that address byte\n"
    "  --hangup-after S               hangs the terminal up after S seconds\n"
    "  --verbose                      logs every frame on standard error\n"
    "  --help                         shows this help and exits\n"
    "  --version                      shows the version and exits\n";

struct Arguments
{
    BoardOptions board;
    QString link;
    double hangupAfter = -1;
    bool verbose = false;
};

[[noreturn]] void usageError(const std::string &why)
{
    std::fprintf(stderr, "kvx310-sim: %s; %s\n", why.c_str(), kUsage);
    std::exit(2);
}

long long parseCount(const char *option, const char *text, long long minimum)
{
    char *end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < minimum || v > 1'000'000'000)
        usageError(std::string(option) + " takes a whole number of at least " +
                   std::to_string(minimum));
    return v;
}

Arguments parseArguments(int argc, char **argv)
{
    Arguments a;
    for (int i = 1; i < argc; ++i) {
        const std::string opt = argv[i];
        auto value = [&]() -> const char * {
            if (i + 1 >= argc)
                usageError(opt + " needs a value");
            return argv[++i];
        };
        if (opt == "--variant") {
            const char *name = value();
            const auto v = parseVariant(name);
            if (!v)
                usageError(std::string("unknown variant \"") + name + "\"");
            a.board.variant = *v;
        } else if (opt == "--link") {
            a.link = QString::fromLocal8Bit(value());
            if (a.link.isEmpty())
                usageError("--link needs a path");
        } else if (opt == "--line-timing") {
            a.board.lineTiming = true;
        } else if (opt == "--batch-ms") {
            a.board.deliveryBatch = std::chrono::milliseconds(parseCount("--batch-ms", value(), 0));
        } else if (opt == "--turnaround-us") {
            a.board.turnaround = Micros(parseCount("--turnaround-us", value(), 0));
        } else if (opt == "--jitter-us") {
            a.board.turnaroundJitter = Micros(parseCount("--jitter-us", value(), 0));
        } else if (opt == "--corrupt-every") {
            a.board.faults.corruptEvery = int(parseCount("--corrupt-every", value(), 1));
        } else if (opt == "--late-loses") {
            a.board.faults.lateLoses = true;
        } else if (opt == "--drop-every") {
            a.board.faults.dropEvery = int(parseCount("--drop-every", value(), 1));
        } else if (opt == "--stray-every") {
            a.board.faults.strayEvery = int(parseCount("--stray-every", value(), 1));
        } else if (opt == "--stray-at") {
            const char *name = value();
            const auto at = parseStrayPosition(name);
            if (!at)
                usageError(std::string("unknown stray position \"") + name + "\"");
            a.board.faults.strayAt = *at;
        } else if (opt == "--late-every") {
            a.board.faults.lateEvery = int(parseCount("--late-every", value(), 1));
        } else if (opt == "--late-ms") {
            a.board.faults.lateBy = std::chrono::milliseconds(parseCount("--late-ms", value(), 0));
        } else if (opt == "--truncate-every") {
            a.board.faults.truncateEvery = int(parseCount("--truncate-every", value(), 1));
        } else if (opt == "--silent-to") {
            bool ok = false;
            const int address = QString::fromLocal8Bit(value()).toInt(&ok, 16);
            if (!ok || address < 0 || address > 0xFF)
                usageError("--silent-to takes an address byte in hexadecimal, 00 to FF");
            a.board.faults.silentTo = address;
        } else if (opt == "--silent") {
            a.board.faults.silent = true;
        } else if (opt == "--hangup-after") {
            const char *text = value();
            char *end = nullptr;
            const double s = std::strtod(text, &end);
            if (end == text || *end != '\0' || !(s >= 0) || s > 1e6)
                usageError("--hangup-after takes a number of seconds");
            a.hangupAfter = s;
        } else if (opt == "--verbose") {
            a.verbose = true;
        } else if (opt == "--help" || opt == "-h") {
            std::printf("%s\n\n%s", kUsage, kHelp);
            std::exit(0);
        } else if (opt == "--version") {
            std::printf("kvx310-sim %s\n", KVX_FILE_VERSION);
            std::exit(0);
        } else {
            usageError("unknown option \"" + opt + "\"");
        }
    }
    return a;
}

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &c, 1);
}

QByteArray hex(const QByteArray &bytes)
{
    return bytes.toHex(' ').toUpper();
}

} // namespace

int main(int argc, char **argv)
{
    const Arguments args = parseArguments(argc, argv);
    QCoreApplication app(argc, argv);

    // Handlers first: a script may signal us the moment it has read the "pty:" line, and the
    // link must not outlive us.
    if (::pipe(g_signalPipe) != 0)
        return 1;
    QSocketNotifier signalNotifier(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [&] { app.quit(); });
    struct sigaction sa
    {};
    sa.sa_handler = onSignal;
    ::sigemptyset(&sa.sa_mask);
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);

    PtyBoardServer server(args.board);
    QString error;
    if (!server.start(&error)) {
        std::fprintf(stderr, "kvx310-sim: %s\n", qPrintable(error));
        return 1;
    }
    if (!args.link.isEmpty()) {
        // A link left by an earlier run is replaced; a file or folder at that path is not.
        if (QFileInfo(args.link).isSymLink())
            QFile::remove(args.link);
        if (!QFile::link(server.terminalPath(), args.link)) {
            std::fprintf(stderr, "kvx310-sim: cannot create the link %s\n", qPrintable(args.link));
            return 1;
        }
    }
    // Only while it still leads to our terminal: another run may have taken the path over.
    auto removeLink = [&] {
        const QFileInfo link(args.link);
        if (!args.link.isEmpty() && link.isSymLink() &&
            link.symLinkTarget() == server.terminalPath())
            QFile::remove(args.link);
    };

    if (args.verbose) {
        server.board().onFrame = [](const FrameLogEntry &e) {
            std::fprintf(stderr, "%10.3f ms  %-24s -> %-14s %s\n", double(e.at.count()) / 1000.0,
                         hex(e.request).constData(), hex(e.reply).constData(),
                         std::string(e.note).c_str());
        };
    }
    if (args.hangupAfter >= 0) {
        QTimer::singleShot(int(args.hangupAfter * 1000), &app, [&] {
            server.hangUp();
            if (args.verbose)
                std::fprintf(stderr, "hung up\n");
            app.quit();
        });
    }

    std::printf("pty: %s\n", qPrintable(server.terminalPath()));
    std::fflush(stdout);

    const int rc = app.exec();
    removeLink();
    return rc;
}
