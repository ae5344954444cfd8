#pragma once

// What the benchmarks share: kvx310-sim with line timing in its own process, a settings file
// that names its terminal COM1, and the wait until the main window reports the board active.
// Failures are told on standard error, prefixed with the benchmark's name.

#include "app/Ev310Main.h"
#include "app/Ev310Warn.h"
#include "app/TrafficView.h"
#include "editor/Ev310Registers.h"
#include "graphics/Ev310Graphics.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

namespace bench {

// Starts kvx310-sim, with `options` beyond line timing, and names its terminal COM1 in `ini`;
// `terminal`, when given, gets it too.
inline bool startBoard(QProcess &sim, const QString &ini, const char *who,
                       const QStringList &options = {}, QByteArray *terminal = nullptr)
{
    sim.start(QStringLiteral(KVX310_SIM_PATH),
              QStringList{QStringLiteral("--line-timing")} + options);
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000)) {
        std::fprintf(stderr, "%s: kvx310-sim did not start\n", who);
        return false;
    }
    const QByteArray line = sim.readLine().trimmed();
    if (!line.startsWith("pty: ")) {
        std::fprintf(stderr, "%s: unexpected output from kvx310-sim: %s\n", who, line.constData());
        return false;
    }
    QFile f(ini);
    if (!f.open(QIODevice::WriteOnly) || f.write("[Ports]\nCOM1=" + line.mid(5) + "\n") < 0) {
        std::fprintf(stderr, "%s: could not write %s\n", who, qPrintable(ini));
        return false;
    }
    if (terminal)
        *terminal = line.mid(5);
    return true;
}

// Opens COM1 and waits until the board is active (a plain board once detection has ended).
inline bool openBoard(kvx::TFormMain &form, const char *who)
{
    form.BtnOpenClick();
    if (!form.session().Connected()) {
        std::fprintf(stderr, "%s: could not open COM1\n", who);
        return false;
    }
    const QString active = QStringLiteral("The board is active.");
    QElapsedTimer wait;
    wait.start();
    while (form.StaticInfo1->text() != active && wait.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    if (form.StaticInfo1->text() != active) {
        std::fprintf(stderr, "%s: the board did not answer\n", who);
        return false;
    }
    return true;
}

// The board and the program's five windows as its entry builds them, COM1 not yet open.
struct Program
{
    // `boardOptions`: kvx310-sim's, beyond line timing ("--batch-ms 16" for an adapter).
    explicit Program(const char *who, const QStringList &boardOptions = {})
    {
        const QString ini = dir.filePath(QStringLiteral("Eval310.ini"));
        if (!startBoard(sim, ini, who, boardOptions))
            return;
        form = std::make_unique<kvx::TFormMain>(ini);
        advanced = std::make_unique<kvx::TFormAdvanced>(form->session());
        graphics = std::make_unique<kvx::TFormGraphics>(form->session());
        traffic = std::make_unique<kvx::TFormTraffic>(form->session());
        form->attachWindows(advanced.get(), graphics.get(), &warning, traffic.get());
    }
    ~Program()
    {
        if (form)
            form->BtnCloseClick();
        traffic.reset();
        sim.terminate();
        sim.waitForFinished(3000);
    }

    QTemporaryDir dir;
    QProcess sim;
    kvx::TFormWarning warning;
    std::unique_ptr<kvx::TFormMain> form; // none when the board did not start
    std::unique_ptr<kvx::TFormAdvanced> advanced;
    std::unique_ptr<kvx::TFormGraphics> graphics;
    std::unique_ptr<kvx::TFormTraffic> traffic;
};

} // namespace bench
