// The fault soak: the program against a faulty simulated board under random commands.
//   kvx_soak [--seconds N | --exchanges N] [--hang-up-every SECONDS] [--fault-period N]
//            [--seed N]
// Prints its figures; exits 1 on any mismatch, 2 when the program hangs, 3 when it cannot
// start.

#include "soak/SoakRun.h"

#include <QApplication>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

// No event for this long (real time) is a hang: the run ends at once, with its figures lost.
constexpr std::chrono::seconds kHangLimit{20};

bool parse(int argc, char **argv, kvx::SoakOptions &o)
{
    for (int i = 1; i + 1 < argc; i += 2) {
        const long long v = std::atoll(argv[i + 1]);
        if (std::strcmp(argv[i], "--seconds") == 0)
            o.seconds = int(v);
        else if (std::strcmp(argv[i], "--exchanges") == 0)
            o.exchanges = v;
        else if (std::strcmp(argv[i], "--hang-up-every") == 0)
            o.hangUpEvery = int(v);
        else if (std::strcmp(argv[i], "--fault-period") == 0)
            o.faultPeriod = std::max(2, int(v));
        else if (std::strcmp(argv[i], "--seed") == 0)
            o.seed = std::uint32_t(v);
        else
            return false;
    }
    return argc % 2 == 1;
}

} // namespace

int main(int argc, char **argv)
{
    kvx::SoakOptions options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: kvx_soak [--seconds N | --exchanges N] "
                             "[--hang-up-every SECONDS] [--fault-period N] [--seed N]\n");
        return 3;
    }
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    kvx::SoakRun soak(options);

    std::atomic<bool> done{false};
    std::thread hangWatch([&] {
        std::int64_t last = -1;
        auto since = std::chrono::steady_clock::now();
        while (!done.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            const std::int64_t beat = soak.heartbeat();
            if (beat != last) {
                last = beat;
                since = std::chrono::steady_clock::now();
            } else if (std::chrono::steady_clock::now() - since > kHangLimit) {
                std::fprintf(stderr, "kvx_soak: the program hung (no event for %lld s)\n",
                             static_cast<long long>(kHangLimit.count()));
                std::_Exit(2);
            }
        }
    });

    const bool started = soak.run();
    done.store(true);
    hangWatch.join();
    if (!started) {
        std::fprintf(stderr, "kvx_soak: the board could not be opened\n");
        return 3;
    }
    const kvx::SoakFigures &f = soak.figures();
    std::printf("exchanges          %lld\n", static_cast<long long>(f.exchanges));
    std::printf("faults injected    %lld\n", static_cast<long long>(f.faults));
    std::printf("faults recovered   %lld (%lld cut short by unplugging, %lld open at the end)\n",
                static_cast<long long>(f.recovered), static_cast<long long>(f.cutByHangUp),
                static_cast<long long>(f.openAtEnd));
    std::printf("worst recovery     %lld requests, %lld ms\n",
                static_cast<long long>(f.worstRecoveryRequests),
                static_cast<long long>(f.worstRecoveryMs));
    std::printf("reconnects         %lld (%lld detected as a plain board)\n",
                static_cast<long long>(f.reconnects), static_cast<long long>(f.detectedAsPlain));
    std::printf("commands checked   %lld\n", static_cast<long long>(f.commands));
    std::printf("replies shown      %lld checked\n", static_cast<long long>(f.shownChecked));
    std::printf("watchdog waits     %lld cut short, %lld after no injected fault\n",
                static_cast<long long>(f.stalls), static_cast<long long>(f.unexplainedStalls));
    std::printf("mismatches         %lld\n", static_cast<long long>(f.mismatches));
    for (const QString &m : f.firstMismatches)
        std::printf("  %s\n", qPrintable(m));
    return f.mismatches == 0 ? 0 : 1;
}
