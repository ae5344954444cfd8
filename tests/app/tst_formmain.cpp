// The main window as a user meets it, offscreen: start state and title, the settings file, the
// enable states around "Open" and "Close", the open-failure message, detection of each board
// variant end to end through a pseudo-terminal, the status lamps, and a device that vanishes.
// The link and scheduler underneath are tested in tests/link and tst_pollscheduler.

#include "common/AppFixture.h"
#include "common/PtyPair.h"
#include "controls/LuLED.h"
#include "controls/SpinEdit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

using namespace kvx;
using namespace kvx::sim;

namespace {
constexpr int kEventWait = AppFixture::kEventWait;
} // namespace

class TestFormMain : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startState();
    void settingsRoundTrip();
    void settingOutsideTheListSelectsNothing_data();
    void settingOutsideTheListSelectsNothing();
    void openFailureKeepsEveryControl();
    void openAndCloseStates();
    void detection_data();
    void detection();
    void slowSpiFramesOnKorve();
    void statusLamps();
    void lostDeviceClosesAndTells();
    void closingTheWindowEndsAWait();
    void smallerWindowScrollsToEveryGroup();

private:
    void createWindows();
    void checkClosedState();

    std::unique_ptr<AppFixture> m_app;
    TFormMain *m_main = nullptr;
    TFormAdvanced *m_advanced = nullptr;
    TFormGraphics *m_graphics = nullptr;
    TFormWarning *m_warning = nullptr;
};

void TestFormMain::init()
{
    m_app = std::make_unique<AppFixture>();
}

void TestFormMain::cleanup()
{
    m_app.reset();
}

void TestFormMain::createWindows()
{
    m_app->createWindows();
    m_main = &m_app->main();
    m_advanced = &m_app->advanced();
    m_graphics = &m_app->graphics();
    m_warning = &m_app->warning();
}

void TestFormMain::checkClosedState()
{
    QVERIFY(m_main->BtnOpen->isEnabled());
    QVERIFY(!m_main->BtnClose->isEnabled());
    QVERIFY(!m_main->BtnCmd310->isEnabled());
    QVERIFY(!m_main->BtnGraphics->isEnabled());
    QVERIFY(m_main->ComboCOM->isEnabled());
    for (const MotorGroup &g : m_main->Motors) {
        QVERIFY(!g.BtnGo->isEnabled());
        QVERIFY(!g.BtnStop->isEnabled());
    }
    QVERIFY(!m_main->BtnGoAll->isEnabled());
    QVERIFY(!m_main->BtnStopAll->isEnabled());
    QVERIFY(!m_main->session().scheduler().timerActive());
    QCOMPARE(m_main->StaticInfo1->text(), QStringLiteral("No port opened."));
    QCOMPARE(m_main->StaticInfo2->text(), QStringLiteral("Select a port, then click \"Open\"."));
}

void TestFormMain::startState()
{
    createWindows();
    QCOMPARE(m_main->windowTitle(), QStringLiteral("KVX310 Evaluation Kit V1.35"));
    QCOMPARE(m_main->ComboCOM->currentText(), QStringLiteral("COM1"));
    QCOMPARE(m_main->ComboCOM->count(), 9);
    checkClosedState();
    QVERIFY(m_main->CheckSlow->isHidden());
    QVERIFY(!m_main->CheckSlow->isEnabled());
    QVERIFY(m_main->BtnKVX620->isHidden());
    for (TLuLedLittle *led : m_main->StatusLeds)
        QCOMPARE(led->LedColor(), TLedLittleColor::lcBlack);
    QCOMPARE(m_main->maximumSize(), m_main->size());
    QVERIFY(!(m_main->windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(m_advanced->isHidden());
    QVERIFY(m_graphics->isHidden());
    QVERIFY(m_warning->isHidden());
    // Ramp mode RAMP: target position, velocities and acceleration editable, the rest not.
    QVERIFY(m_main->Motors[0].EditXTarget->isEnabled());
    QVERIFY(!m_main->Motors[0].EditVTarget->isEnabled());
    QVERIFY(!m_main->Motors[2].EditVActual->isEnabled());
    // The main window's hints: hidden after 5 s, wrapped within 200 pixels (less the margins).
    QVERIFY(m_main->Hint95->showHint(m_main->BtnOpen, m_main->BtnOpen->mapToGlobal(QPoint(5, 5))));
    QCOMPARE(m_main->Hint95->findChild<QTimer *>(QStringLiteral("HideTimer"))->interval(), 5000);
    QVERIFY(m_main->Hint95->hintWindow()->width() <= 200);
    m_main->Hint95->cancelHint();
}

void TestFormMain::settingsRoundTrip()
{
    QVERIFY(
        m_app->writeSettings("[Settings]\nCOMPort=2\n\n[Ports]\nCOM1=sim\nCOM4=/dev/ttyUSB1\n"));
    createWindows();
    QCOMPARE(m_main->ComboCOM->currentText(), QStringLiteral("COM3"));
    m_main->ComboCOM->setCurrentIndex(4); // COM5
    m_main->close();
    QCOMPARE(m_app->readSettings(), QByteArray("[Settings]\nCOMPort=4\n\n[Ports]\nCOM1=sim\n"
                                               "COM4=/dev/ttyUSB1\n"));
}

void TestFormMain::settingOutsideTheListSelectsNothing_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::newRow("past the last port") << QByteArray("9");
    QTest::newRow("negative") << QByteArray("-5");
}

void TestFormMain::settingOutsideTheListSelectsNothing()
{
    QFETCH(QByteArray, value);
    QVERIFY(m_app->writeSettings("[Settings]\nCOMPort=" + value + "\n"));
    createWindows();
    QCOMPARE(m_main->ComboCOM->currentIndex(), -1);
    m_main->BtnOpenClick();
    QCOMPARE(m_app->messages.size(), 1);
    QCOMPARE(m_app->messages.first().text, QStringLiteral("Could not open port ."));
    QVERIFY(m_app->messages.first().informative.startsWith(QLatin1String("No port is selected.")));
    m_main->close();
    QVERIFY(m_app->readSettings().contains("COMPort=-1"));
}

void TestFormMain::openFailureKeepsEveryControl()
{
    QVERIFY(m_app->writeSettings("[Ports]\nCOM1=/dev/kvx-no-such-port\n"));
    createWindows();
    m_main->BtnOpenClick();
    QCOMPARE(m_app->messages.size(), 1);
    QCOMPARE(m_app->messages.first().text, QStringLiteral("Could not open port COM1."));
    const QString detail = m_app->messages.first().informative;
    QVERIFY2(detail.contains(QLatin1String("/dev/kvx-no-such-port")), qPrintable(detail));
    QVERIFY2(detail.contains(QLatin1String("\"Ports...\"")), qPrintable(detail));
    checkClosedState();
    QVERIFY(!m_main->session().Connected());
}

void TestFormMain::openAndCloseStates()
{
    QVERIFY(m_app->writeSettings("[Ports]\nCOM1=sim\n"));
    createWindows();
    m_main->BtnOpenClick();
    QVERIFY(m_app->messages.isEmpty());
    QVERIFY(!m_main->BtnOpen->isEnabled());
    QVERIFY(m_main->BtnClose->isEnabled());
    QVERIFY(m_main->BtnCmd310->isEnabled());
    QVERIFY(m_main->BtnGraphics->isEnabled());
    QVERIFY(!m_main->ComboCOM->isEnabled());
    QVERIFY(m_main->Motors[1].BtnGo->isEnabled());
    QVERIFY(m_main->BtnStopAll->isEnabled());
    QVERIFY(m_main->session().scheduler().timerActive());
    QCOMPARE(m_main->StaticInfo1->text(), QStringLiteral("Trying to detect the board."));

    m_main->BtnCmd310Click();
    m_main->BtnGraphicsClick();
    QVERIFY(m_advanced->EditorShown());
    QVERIFY(m_graphics->Shown());
    m_main->BtnCloseClick();
    QVERIFY(!m_advanced->EditorShown());
    QVERIFY(m_advanced->isHidden());
    QVERIFY(!m_graphics->Shown());
    QVERIFY(m_graphics->isHidden());
    QVERIFY(!m_main->session().Connected());
    checkClosedState();
}

void TestFormMain::detection_data()
{
    QTest::addColumn<QString>("variant");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("detected");
    QTest::addColumn<bool>("slowBox");
    QTest::addColumn<int>("frameSize");
    QTest::newRow("plain") << "plain"
                           << "KVX310 Evaluation Kit V1.35"
                           << "KVX310 evaluation board detected!" << false << 5;
    QTest::newRow("KORVE") << "korve"
                           << "KVX310 Evaluation Kit V1.35 (KORVE Version)"
                           << "KORVE detected!" << true << 6;
    QTest::newRow("Pentar") << "pentar"
                            << "KVX310 Evaluation Kit V1.35 (Pentar Version)"
                            << "Pentar detected!" << false << 5;
}

void TestFormMain::detection()
{
    QFETCH(QString, variant);
    QFETCH(QString, title);
    QFETCH(QString, detected);
    QFETCH(bool, slowBox);
    QFETCH(int, frameSize);
    BoardOptions options;
    options.variant = *parseVariant(variant.toStdString());
    PtyBoardServer &board = m_app->startBoard(options);
    QVERIFY(board.serving());
    QList<QByteArray> frames;
    board.board().onFrame = [&](const FrameLogEntry &e) {
        if (e.request.startsWith('#') || e.request.startsWith('!'))
            frames << e.request; // requests only, not the probe or the start-up sequence
    };
    createWindows();
    std::int64_t now = 1000;
    m_main->session().setClock([&now] { return now; });

    m_main->BtnOpenClick();
    QCOMPARE(m_main->StaticInfo1->text(), QStringLiteral("Trying to detect the board."));
    if (variant == QLatin1String("plain")) {
        // No identification comes: the first reply waits, never taken, for the watchdog.
        QTRY_VERIFY_WITH_TIMEOUT(!frames.isEmpty(), kEventWait);
        QTest::qWait(20);
        QCOMPARE(m_main->StaticInfo1->text(), QStringLiteral("Trying to detect the board."));
        now += 2001;
        m_main->session()
            .scheduler()
            .TimerActionsTimer(); // the tick that finds the request too old
        // That watchdog is how a plain board's detection ends: no false alarm before it is
        // reported.
        QCOMPARE(m_main->StaticInfo1->text(), QStringLiteral("Trying to detect the board."));
        QCOMPARE(m_main->StaticInfo2->text(), QString());
        now += BoardLink::kLateQuiet.count();
        m_main->session()
            .scheduler()
            .TimerActionsTimer(); // the quiet after it is over: row 0 again
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_main->StaticInfo1->text(), QStringLiteral("The board is active."),
                              kEventWait);
    QCOMPARE(m_main->StaticInfo2->text(), detected);
    QCOMPARE(m_main->windowTitle(), title);
    QCOMPARE(m_main->CheckSlow->isVisibleTo(m_main), slowBox);
    QCOMPARE(m_main->CheckSlow->isEnabled(), slowBox);
    QCOMPARE(frames.first(), QByteArray("#\x01\x00\x00\x00", 5)); // row 0 first
    const qsizetype seen = frames.size();
    QTRY_VERIFY_WITH_TIMEOUT(frames.size() > seen + 3, kEventWait);
    QCOMPARE(frames.last().size(), frameSize);
    QCOMPARE(frames.last().at(0), '#');
    // The live values come in.
    QTRY_COMPARE_WITH_TIMEOUT(m_main->StatusLeds[0]->LedColor(), TLedLittleColor::lcCyan,
                              kEventWait);
    m_main->BtnCloseClick();
}

void TestFormMain::slowSpiFramesOnKorve()
{
    BoardOptions options;
    options.variant = Variant::Korve;
    PtyBoardServer &board = m_app->startBoard(options);
    QVERIFY(board.serving());
    QList<QByteArray> frames;
    board.board().onFrame = [&](const FrameLogEntry &e) { frames << e.request; };
    createWindows();
    m_main->BtnOpenClick();
    QTRY_COMPARE_WITH_TIMEOUT(m_main->StaticInfo2->text(), QStringLiteral("KORVE detected!"),
                              kEventWait);
    m_main->CheckSlow->setChecked(true);
    const qsizetype seen = frames.size();
    QTRY_VERIFY_WITH_TIMEOUT(frames.size() > seen + 3, kEventWait);
    QCOMPARE(frames.last().left(2), QByteArray("!\x04", 2));
    QTRY_VERIFY_WITH_TIMEOUT(m_main->StatusLeds[0]->LedColor() != TLedLittleColor::lcBlack,
                             kEventWait);
    m_main->BtnCloseClick();
    // With no board open, the caption, the box and the lamps no longer speak of the last one
    // (they used to stay, and a plain board opened next was captioned KORVE).
    QVERIFY(!m_main->CheckSlow->isVisibleTo(m_main));
    QCOMPARE(m_main->windowTitle(), QStringLiteral("KVX310 Evaluation Kit V1.35"));
    for (const TLuLedLittle *led : m_main->StatusLeds)
        QCOMPARE(led->LedColor(), TLedLittleColor::lcBlack);
}

void TestFormMain::statusLamps()
{
    // A poll reply with status byte 0x41, played on a bare terminal.
    PtyPair pty;
    QVERIFY(m_app->mapCom1(pty.path()));
    createWindows();
    m_main->BtnOpenClick();
    QVERIFY(pty.reply(QByteArray(10, '\0'))); // the identification of a plain board
    QTRY_COMPARE_WITH_TIMEOUT(m_main->StaticInfo1->text(), QStringLiteral("The board is active."),
                              kEventWait);
    QVERIFY(pty.reply(QByteArray("\x41\x00\x00\x00", 4)));
    QTRY_COMPARE_WITH_TIMEOUT(m_main->StatusLeds[0]->LedColor(), TLedLittleColor::lcCyan,
                              kEventWait);
    for (int bit = 0; bit < 8; ++bit) {
        const auto expected =
            bit == 0 || bit == 6 ? TLedLittleColor::lcCyan : TLedLittleColor::lcDarkCyan;
        QCOMPARE(m_main->StatusLeds[std::size_t(bit)]->LedColor(), expected);
    }
    QCOMPARE(m_main->StatusLeds[6]->objectName(), QStringLiteral("LedCoverWaiting"));
}

void TestFormMain::lostDeviceClosesAndTells()
{
    PtyPair pty;
    QVERIFY(m_app->mapCom1(pty.path()));
    createWindows();
    m_main->BtnOpenClick();
    QVERIFY(m_main->session().Connected());
    pty.hangUp();
    QTRY_COMPARE_WITH_TIMEOUT(m_app->messages.size(), 1, kEventWait);
    QCOMPARE(m_app->messages.first().text, QStringLiteral("The connection to port COM1 was lost."));
    // Not whatever the system's last error text happened to be.
    QCOMPARE(m_app->messages.first().informative,
             QStringLiteral("The device stopped answering or was unplugged. The port has been "
                            "closed."));
    checkClosedState();
    QTest::qWait(50);
    QCOMPARE(m_app->messages.size(), 1); // told once, not once per failed read
}

void TestFormMain::closingTheWindowEndsAWait()
{
    BoardOptions silent;
    silent.faults.silent = true;
    QVERIFY(m_app->startBoard(silent).serving());
    createWindows();
    m_main->BtnOpenClick();
    QTimer::singleShot(20, m_main, [this] { m_main->close(); });
    const PollPause pause = m_main->session().link().PausePolling();
    QVERIFY(!m_main->session().link().DirectRequest(Datagram{0x01, {}}));
    QVERIFY(!m_main->session().Connected());
}

void TestFormMain::smallerWindowScrollsToEveryGroup()
{
    // Made smaller, the window used to cut its content off: "All Motors" could not be reached.
    createWindows();
    m_main->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_main));
    QVERIFY(!m_main->ScrollBox->verticalScrollBar()->isVisible()); // full size: nothing to scroll
    m_main->resize(400, 400);
    QTRY_COMPARE(m_main->size(), QSize(400, 400));
    QTRY_VERIFY(m_main->ScrollBox->verticalScrollBar()->isVisible());
    QTRY_VERIFY(m_main->ScrollBox->horizontalScrollBar()->isVisible());
    // "All G&o!" lies at the bottom right of the client area.
    m_main->ScrollBox->ensureWidgetVisible(m_main->BtnGoAll, 0, 0);
    const QWidget *viewport = m_main->ScrollBox->viewport();
    const QRect shown(m_main->BtnGoAll->mapTo(viewport, QPoint(0, 0)), m_main->BtnGoAll->size());
    QVERIFY2(viewport->rect().contains(shown), qPrintable(QStringLiteral("%1,%2 in %3x%4")
                                                              .arg(shown.right())
                                                              .arg(shown.bottom())
                                                              .arg(viewport->width())
                                                              .arg(viewport->height())));
    m_main->resize(2000, 2000);
    QCOMPARE(m_main->size(), m_main->maximumSize()); // never larger than its client area
}

QTEST_MAIN(TestFormMain)
#include "tst_formmain.moc"
