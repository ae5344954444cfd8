// Eval310: the KVX310 evaluation kit's front end. Creates the main window, then the register
// editor, the graphic display and the warning dialog (hidden), and runs until the main window
// closes. Asked for its help or version, or about its settings file (--print-port, --set-port,
// for scripts), it answers without a window, so that no display is needed for that.

#include "app/Ev310Main.h"
#include "app/Ev310Warn.h"
#include "app/FirstStart.h"
#include "app/ProgramLook.h"
#include "app/TrafficView.h"
#include "editor/Ev310Registers.h"
#ifdef KVX_SIMULATED_PORTS
#include "sim/SimulatedPorts.h"
#endif
#include "graphics/Ev310Graphics.h"

#include "app/Version.h"
#include "controls/ScreenFit.h"
#include "settings/ProgramSettings.h"
#include "settings/SettingsLocation.h"

#include <QApplication>
#include <QComboBox>
#include <QCommandLineParser>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>

namespace {

// Qt's own options for every window program: QApplication takes them, so they are no mistake
// here. Those that take a value, then those that do not.
constexpr const char *kQtValueOptions[] = {
    "style",         "stylesheet", "platform",        "platformpluginpath",
    "platformtheme", "plugin",     "qwindowgeometry", "qwindowicon",
    "qwindowtitle",  "geometry",   "display",         "session",
    "name",          "title",      "qmljsdebugger"};
constexpr const char *kQtFlagOptions[] = {"reverse", "widgetcount", "nograb", "dograb", "sync"};

struct CommandLine
{
    QCommandLineParser parser;
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                            QStringLiteral("Shows this help and exits.")};
    QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")},
                               QStringLiteral("Shows the program's version and exits.")};
    QCommandLineOption print{QStringLiteral("print-port"),
                             QStringLiteral("Prints what the settings file maps PORT to (exit "
                                            "status 1 when PORT keeps its default) and exits."),
                             QStringLiteral("PORT")};
    QCommandLineOption set{QStringLiteral("set-port"),
                           QStringLiteral("Maps PORT to VALUE in the settings file's [Ports] and "
                                          "exits."),
                           QStringLiteral("PORT=VALUE")};
    QCommandLineOption style{QStringLiteral("style"), QString(), QStringLiteral("STYLE")};

    CommandLine()
    {
        // "-style Fusion" is one option, as Qt spells its own.
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.setApplicationDescription(
            QStringLiteral("The KVX310 evaluation kit's front end: opens its main window.\n"
                           "Qt's own options are taken too, -style STYLE among them."));
        parser.addOptions({help, version, print, set});
        style.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(style);
        for (const char *name : kQtValueOptions) {
            if (QLatin1String(name) == QLatin1String("style"))
                continue;
            QCommandLineOption o(QLatin1String(name), QString(), QStringLiteral("VALUE"));
            o.setFlags(QCommandLineOption::HiddenFromHelp);
            parser.addOption(o);
        }
        for (const char *name : kQtFlagOptions) {
            QCommandLineOption o{QString::fromLatin1(name)};
            o.setFlags(QCommandLineOption::HiddenFromHelp);
            parser.addOption(o);
        }
    }
};

// --help, --version and the settings options answer without a window, as does a mistake.
// `parsed` is what QCommandLineParser::parse() said.
int answerWithoutWindow(CommandLine &cl, bool parsed)
{
    QCommandLineParser &parser = cl.parser;
    if (!parsed || !parser.positionalArguments().isEmpty()) {
        const QString why = parsed ? QStringLiteral("Eval310 takes no arguments: %1")
                                         .arg(parser.positionalArguments().join(QLatin1Char(' ')))
                                   : parser.errorText();
        std::fprintf(stderr, "Eval310: %s\nTry \"Eval310 --help\".\n", qPrintable(why));
        return 2;
    }
    if (parser.isSet(cl.help)) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(cl.version)) {
        std::printf("Eval310 %s\n", qPrintable(kvx::ReadFileVersion()));
        return 0;
    }
    kvx::ProgramSettings settings(kvx::defaultSettingsPath());
    if (parser.isSet(cl.set)) {
        const QString entry = parser.value(cl.set);
        const qsizetype eq = entry.indexOf(QLatin1Char('='));
        if (eq <= 0 ||
            !settings.setPortEntry(entry.left(eq).trimmed(), entry.mid(eq + 1).trimmed())) {
            std::fprintf(stderr, "Eval310: could not write %s to %s\n", qPrintable(entry),
                         qPrintable(settings.path()));
            return 2;
        }
    }
    if (parser.isSet(cl.print)) {
        const std::optional<QString> value = settings.portEntry(parser.value(cl.print));
        if (!value)
            return 1;
        std::printf("%s\n", qPrintable(*value));
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    CommandLine cl;
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const bool parsed = cl.parser.parse(arguments);
    if (!parsed || !cl.parser.positionalArguments().isEmpty() || cl.parser.isSet(cl.help) ||
        cl.parser.isSet(cl.version) || cl.parser.isSet(cl.print) || cl.parser.isSet(cl.set)) {
        QCoreApplication app(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("KVX310 Evaluation Kit"));
        return answerWithoutWindow(cl, parsed);
    }
    const bool styleChosen =
        cl.parser.isSet(cl.style) || !qEnvironmentVariableIsEmpty("QT_STYLE_OVERRIDE");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KVX310 Evaluation Kit"));
    kvx::applyProgramLook(styleChosen);

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
    for (QWidget *window : std::initializer_list<QWidget *>{&formMain, &formAdvanced, &formGraphics,
                                                            &formWarning, &formTraffic})
        kvx::keepInsideScreen(window);

    // Without a settings file nothing says where the board is: offer one once the window is
    // there, rather than let the first "Open" fail on a port nobody chose.
    const bool firstStart = !QFileInfo::exists(formMain.settingsPath());
    formMain.show();
    if (firstStart) {
        QTimer::singleShot(0, &formMain, [&formMain] {
            kvx::offerFirstBoard(&formMain, formMain.settingsPath(),
                                 formMain.ComboCOM->currentText(), kvx::systemSerialDevices());
        });
    }
    return app.exec();
}
