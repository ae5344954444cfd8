// Eval310: the KVX310 evaluation kit's front end. Creates the main window, then the register
// editor, the graphic display and the warning dialog (hidden), and runs until the main window
// closes.

#include "app/Ev310Main.h"
#include "app/Ev310Warn.h"
#include "app/ProgramLook.h"
#include "app/TrafficView.h"
#include "editor/Ev310Registers.h"
#ifdef KVX_SIMULATED_PORTS
#include "sim/SimulatedPorts.h"
#endif
#include "graphics/Ev310Graphics.h"

#include <QApplication>

int main(int argc, char **argv)
{
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
