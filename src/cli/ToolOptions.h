#pragma once

// kvx310's command line: the command and its words, the options, and the help text that reads
// like a manual page. Pure logic.

#include <QString>
#include <QStringList>

#include <optional>

namespace kvx::cli {

// The exit statuses, for scripts.
enum Exit
{
    kDone = 0,
    kBoardSaidNo = 1, // the board did not answer, refused, or the port was lost
    kUsage = 2,
    kPortFailed = 3,
};

struct ToolOptions
{
    QStringList words; // the command and its arguments
    QStringList given; // the options on the command line, by their long names
    QString port;      // empty: the settings file's
    bool json = false;
    bool quiet = false;
    bool attach = true; // through a window that holds the port
    int motor = -1;     // 0..2; -1 when not given
    bool all = false;
    bool verify = false;
    bool wait = false;
    bool force = false;
    bool dryRun = false;
    bool write = false;
    double timeout = 60;  // seconds, for --wait
    double duration = -1; // seconds, for record; -1 until stopped
    std::optional<double> sigma;
    QString mode = QStringLiteral("RAMP");
    std::optional<long long> target, vMin, vMax, aMax;
    QStringList rows;
    bool help = false;
    bool version = false;
};

// Nothing, with `error` set, when the options cannot be read (an exit with kUsage).
[[nodiscard]] std::optional<ToolOptions> parseToolOptions(const QStringList &arguments,
                                                          QString *error);
[[nodiscard]] QString toolHelp();

} // namespace kvx::cli
