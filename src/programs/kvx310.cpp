// kvx310: the KVX310 evaluation board from the command line, on the same board session as
// the program's windows. `kvx310 --help` tells the commands.

#include "chip/ValueFormat.h"
#include "cli/Commands.h"
#include "cli/ToolOptions.h"

#ifdef KVX_SIMULATED_PORTS
#include "sim/SimulatedPorts.h"
#endif

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The windows' name: the same settings file, and so the same ports.
    QCoreApplication::setApplicationName(QStringLiteral("KVX310 Evaluation Kit"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KVX_FILE_VERSION));
    QString error;
    const std::optional<kvx::cli::ToolOptions> options =
        kvx::cli::parseToolOptions(QCoreApplication::arguments(), &error);
    if (!options) {
        // The parser quotes what it did not know as it was typed: one line all the same.
        std::fprintf(stderr, "kvx310: %s; kvx310 --help tells the usage\n",
                     qPrintable(kvx::controlsEscaped(error)));
        return kvx::cli::kUsage;
    }
    if (options->help) {
        std::fputs(qPrintable(kvx::cli::toolHelp()), stdout);
        return kvx::cli::kDone;
    }
    if (options->version) {
        std::printf("kvx310 %s\n", KVX_FILE_VERSION);
        return kvx::cli::kDone;
    }
    // "sim" ports are boards this program serves itself, where the system has pseudo-terminals.
    kvx::SimulatedPortProvider simulated;
#ifdef KVX_SIMULATED_PORTS
    simulated = &kvx::sim::SimulatedPorts::terminalFor;
#endif
    return kvx::cli::runCommand(*options, simulated);
}
