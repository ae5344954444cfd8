// Eval310: the KVX310 evaluation kit's front end. Creates the main window, then the register
// editor, the graphic display and the warning dialog (hidden), and runs until the main window
// closes.

#include "app/Ev310Main.h"
#include "app/Ev310Warn.h"
#include "editor/Ev310Registers.h"
#ifdef KVX_SIMULATED_PORTS
#include "sim/SimulatedPorts.h"
#endif
#include "graphics/Ev310Graphics.h"

#include <QApplication>
#include <QFontDatabase>
#include <QStyle>
#include <QStyleFactory>

namespace {

// The layouts were drawn for MS Sans Serif 8; where it is missing, the closest sans serif
// that keeps every caption unclipped.
QFont programFont()
{
    const QStringList families = QFontDatabase::families();
    for (const char *name : {"MS Sans Serif", "Liberation Sans", "Arimo", "DejaVu Sans"}) {
        if (families.contains(QLatin1String(name)))
            return QFont(QLatin1String(name), 8);
    }
    QFont font = QApplication::font();
    font.setPointSize(8);
    return font;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("KVX310 Evaluation Kit"));
    // The windows were laid out for the classic Windows look: group captions sit on the
    // frame line, so the controls' positions inside a group come out where they belong.
    if (QStyle *style = QStyleFactory::create(QStringLiteral("Windows")))
        QApplication::setStyle(style);
    QApplication::setFont(programFont());

    kvx::TFormMain formMain;
#ifdef KVX_SIMULATED_PORTS
    formMain.session().setSimulatedPortProvider(&kvx::sim::SimulatedPorts::terminalFor);
#endif
    kvx::TFormAdvanced formAdvanced(formMain.session());
    kvx::TFormGraphics formGraphics(formMain.session());
    kvx::TFormWarning formWarning;
    formMain.attachWindows(&formAdvanced, &formGraphics, &formWarning);
    QObject::connect(&formMain, &kvx::TFormMain::closed, &app, &QApplication::quit);

    formMain.show();
    return app.exec();
}
