// Eval310: the KVX310 evaluation kit's front end. Creates the main window, then the register
// editor, the graphic display and the warning dialog (hidden), and runs until the main window
// closes. Asked about its settings file instead (--print-port, --set-port, for scripts), it
// answers without a window.

#include "app/Ev310Main.h"
#include "app/Ev310Warn.h"
#include "app/ProgramLook.h"
#include "app/TrafficView.h"
#include "editor/Ev310Registers.h"
#ifdef KVX_SIMULATED_PORTS
#include "sim/SimulatedPorts.h"
#endif
#include "graphics/Ev310Graphics.h"

#include "app/ProgramSettings.h"
#include "app/SettingsLocation.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>
#include <cstring>

namespace {

bool asksSettings(int argc, char **argv)
{
    // The options by their whole names (or with "=VALUE"): a misspelt "--print-ports" opens
    // the window rather than answering as if no port were mapped.
    auto is = [](const char *arg, const char *option) {
        const std::size_t n = std::strlen(option);
        return std::strncmp(arg, option, n) == 0 && (arg[n] == '\0' || arg[n] == '=');
    };
    for (int i = 1; i < argc; ++i) {
        if (is(argv[i], "--print-port") || is(argv[i], "--set-port"))
            return true;
    }
    return false;
}

// --print-port COMn: what [Ports] maps it to, exit status 1 when the port keeps its default.
// --set-port COMn=VALUE: maps it.
int answerSettings(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("KVX310 Evaluation Kit"));
    QCommandLineParser parser;
    const QCommandLineOption print(QStringLiteral("print-port"),
                                   QStringLiteral("Prints what the settings file maps PORT to."),
                                   QStringLiteral("PORT"));
    const QCommandLineOption set(QStringLiteral("set-port"),
                                 QStringLiteral("Maps PORT to VALUE in the settings file."),
                                 QStringLiteral("PORT=VALUE"));
    parser.addOptions({print, set});
    parser.process(app);
    kvx::ProgramSettings settings(kvx::defaultSettingsPath());
    if (parser.isSet(set)) {
        const QString entry = parser.value(set);
        const qsizetype eq = entry.indexOf(QLatin1Char('='));
        if (eq <= 0 ||
            !settings.setPortEntry(entry.left(eq).trimmed(), entry.mid(eq + 1).trimmed())) {
            std::fprintf(stderr, "Eval310: could not write %s to %s\n", qPrintable(entry),
                         qPrintable(settings.path()));
            return 2;
        }
    }
    if (parser.isSet(print)) {
        const std::optional<QString> value = settings.portEntry(parser.value(print));
        if (!value)
            return 1;
        std::printf("%s\n", qPrintable(*value));
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (asksSettings(argc, argv))
        return answerSettings(argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KVX310 Evaluation Kit"));
    kvx::applyProgramLook();

    kvx::TFormMain formMain;
#ifdef KVX_SIMULATED_PORTS
    formMain.session().setSimulatedPortProvider(&kvx::sim::SimulatedPorts::terminalFor);
#endif
    kvx::TFormAdvanced formAdvanced(formMain.session());
    kvx::TFormGraphics formGraphics(formMain.session());
    kvx::TFormWarning formWarning;
    kvx::TFormTraffic formTraffic(formMain.session());
    formMain.attachWindows(&formAdvanced, &formGraphics, &formWarning, &formTraffic);
    QObject::connect(&formMain, &kvx::TFormMain::closed, &app, &QApplication::quit);

    formMain.show();
    return app.exec();
}
