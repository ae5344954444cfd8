#pragma once

// The program as its entry builds it, offscreen, for tests that drive it as a user does: a
// settings file in a temporary folder, a simulated board on a pseudo-terminal named as COM1
// there when the test wants one, the main window with its board session and the three other
// windows created in the program's order, and the dialog seam answering for the user
// (message boxes collected, the warning answered, files chosen).

#include "app/Ev310Main.h"
#include "app/Ev310Warn.h"
#include "app/TrafficView.h"
#include "controls/Dialogs.h"
#include "editor/Ev310Registers.h"
#include "graphics/Ev310Graphics.h"
#include "sim/PtyBoardServer.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace kvx {

class AppFixture
{
public:
    static constexpr int kEventWait = 20000; // ms; only reached when a test fails

    AppFixture();
    ~AppFixture();
    AppFixture(const AppFixture &) = delete;
    AppFixture &operator=(const AppFixture &) = delete;

    // "Eval310.ini" of this run; it does not exist until written.
    [[nodiscard]] QString iniPath() const { return m_ini; }
    [[nodiscard]] bool writeSettings(const QByteArray &content);
    [[nodiscard]] QByteArray readSettings() const;
    // Writes a settings file whose [Ports] maps COM1 to `device`.
    [[nodiscard]] bool mapCom1(const QString &device);

    // Starts a simulated board on a pseudo-terminal and maps COM1 to it; check serving().
    sim::PtyBoardServer &startBoard(const sim::BoardOptions &options = {});
    [[nodiscard]] sim::PtyBoardServer &board() { return *m_board; }
    [[nodiscard]] bool hasBoard() const { return m_board != nullptr; }

    // The main window, then the register editor, the graphic display, the warning dialog and
    // the traffic view.
    void createWindows();
    // Opens COM1 and waits until status line 2 shows `detected`; false if it never does.
    [[nodiscard]] bool openAndWaitFor(const QString &detected);
    void destroyWindows();

    // From here on the session's clock runs with real time, and skipWatchdog() moves it on.
    void useSkippingClock();
    // Moves the session's clock past the watchdog (and, with `pastLateQuiet`, past the quiet
    // after it) and lets the poll tick see it, instead of waiting seconds for it.
    void skipWatchdog(bool pastLateQuiet = false);

    [[nodiscard]] TFormMain &main() { return *m_main; }
    [[nodiscard]] BoardSession &session() { return m_main->session(); }
    [[nodiscard]] TFormAdvanced &advanced() { return *m_advanced; }
    [[nodiscard]] TFormGraphics &graphics() { return *m_graphics; }
    [[nodiscard]] TFormWarning &warning() { return *m_warning; }
    [[nodiscard]] TFormTraffic &traffic() { return *m_traffic; }

    // What the dialog seam saw and how it answers.
    QList<MessageRequest> messages;
    int dialogs = 0;
    int dialogAnswer = TFormWarning::mrYes;
    QList<FileRequest> fileRequests;
    QString fileAnswer; // the path "chosen"; empty cancels

private:
    QTemporaryDir m_dir;
    QString m_ini;
    std::unique_ptr<sim::PtyBoardServer> m_board;
    std::unique_ptr<TFormMain> m_main;
    std::unique_ptr<TFormAdvanced> m_advanced;
    std::unique_ptr<TFormGraphics> m_graphics;
    std::unique_ptr<TFormWarning> m_warning;
    std::unique_ptr<TFormTraffic> m_traffic;
    std::int64_t m_clockSkipped = 0; // ms the session's clock is ahead of real time
};

} // namespace kvx
