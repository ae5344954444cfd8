// Go and Stop as the chip sees them: the exact datagrams each ramp mode sends, the warning and
// its answers, the "All" buttons, the ramp-mode list's enable table, motion end to end on the
// simulated board, and the faults mended (a Go that lost its read writes nothing more; a click
// during a Go keeps the one-request rule and each command's own replies). The link's own rules
// are tested in tests/link.

#include "app/ProgramLook.h"
#include "common/AppFixture.h"
#include "common/PtyPair.h"
#include "controls/LuLED.h"
#include "controls/SpinEdit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace kvx;
using namespace kvx::sim;

namespace {

constexpr int kEventWait = AppFixture::kEventWait;

using Frames = QList<QByteArray>;

QByteArray frame(const char (&bytes)[6])
{
    return QByteArray(bytes, 5);
}

struct MotorSettings
{
    int mode = 0;
    int a = 0;
    int vMax = 0;
    int vMin = 0;
    int vTarget = 0;
    int xTarget = 0;
    int vActual = 0;
};

} // namespace

Q_DECLARE_METATYPE(MotorSettings)

class TestMotion : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void goSendsTheModesDatagrams_data();
    void goSendsTheModesDatagrams();
    void warning_data();
    void warning();
    void warningNumberStandsAt272UnlessTheTextReachesIt_data();
    void warningNumberStandsAt272UnlessTheTextReachesIt();
    void notifyTickedGoesOnWithoutAsking();
    void stopWritesPositionAndZeros();
    void allGoRunsEachMotorInOnePause();
    void rampModeListEnablesItsControls_data();
    void rampModeListEnablesItsControls();
    void rampMoveReachesTheTarget();
    void velocityRunsUntilStop();
    void goWhoseReadIsUnansweredWritesNothingMore();
    void goWhoseWriteIsUnansweredSaysWhatWasWritten();
    void goWhoseRefConfReadIsUnansweredWritesNothingMore();
    void closingDuringACommandEndsItAtOnce_data();
    void closingDuringACommandEndsItAtOnce();
    void typedValuesOutsideTheRangeAreBounded();
    void velocityIsBoundedToTheRegister_data();
    void velocityIsBoundedToTheRegister();
    void clickDuringGoKeepsEachCommandsReplies();

private:
    void openBoard();
    void openScripted(PtyPair &pty, std::int64_t &now,
                      const std::function<bool(const QByteArray &)> &answer, Frames &seen,
                      QTimer &board);
    void set(int motor, const MotorSettings &s);
    void direct(std::uint8_t address, std::uint32_t data);
    [[nodiscard]] Frames commandFrames() const;
    [[nodiscard]] bool isPoll(const QByteArray &f) const;
    // The frames the scripted board saw from the first command frame to the last: polling
    // stays paused for the whole command, so no poll may lie between.
    [[nodiscard]] Frames scriptedCommandSpan() const;

    std::unique_ptr<AppFixture> m_app;
    Frames m_frames;
    Frames m_scripted; // everything the scripted board saw, polls included
    TFormMain *m_main = nullptr;
    TFormWarning *m_warning = nullptr;
};

void TestMotion::init()
{
    m_frames.clear();
    m_scripted.clear();
    m_app = std::make_unique<AppFixture>();
    m_app->createWindows();
    m_main = &m_app->main();
    m_warning = &m_app->warning();
}

void TestMotion::cleanup()
{
    m_app.reset();
}

void TestMotion::openBoard()
{
    // A Pentar board identifies itself at once and takes the plain 5-byte frames.
    BoardOptions options;
    options.variant = Variant::Pentar;
    PtyBoardServer &board = m_app->startBoard(options);
    QVERIFY(board.serving());
    board.board().onFrame = [this](const FrameLogEntry &e) {
        if (e.request.size() == 5)
            m_frames << e.request;
    };
    QVERIFY(m_app->openAndWaitFor(QStringLiteral("Pentar detected!")));
}

void TestMotion::set(int motor, const MotorSettings &s)
{
    MotorGroup &g = m_main->Motors[std::size_t(motor)];
    g.CbRampMode->setCurrentIndex(s.mode);
    g.EditAMax->setValue(s.a);
    g.EditVMax->setValue(s.vMax);
    g.EditVMin->setValue(s.vMin);
    g.EditVTarget->setValue(s.vTarget);
    g.EditXTarget->setValue(s.xTarget);
    g.EditVActual->setValue(s.vActual);
}

void TestMotion::direct(std::uint8_t address, std::uint32_t data)
{
    const PollPause pause = m_main->session().link().PausePolling();
    QVERIFY(m_main->session().link().DirectRequest(Datagram::make(address, data)));
}

bool TestMotion::isPoll(const QByteArray &f) const
{
    // With the register editor hidden only these rows are polled (and row 0 once at "Open").
    const QByteArray polled("\x01\x03\x09\x0B\x0F\x23\x29\x2B\x2F\x43\x49\x4B\x4F", 13);
    return polled.contains(f.at(1));
}

Frames TestMotion::commandFrames() const
{
    Frames commands;
    for (const QByteArray &f : m_frames) {
        if (!isPoll(f))
            commands << f;
    }
    return commands;
}

void TestMotion::goSendsTheModesDatagrams_data()
{
    QTest::addColumn<int>("motor");
    QTest::addColumn<MotorSettings>("settings");
    QTest::addColumn<Frames>("expected");
    // REF_CONF is 0x5 on every motor before each Go (see below): the rewrite must keep it.
    QTest::newRow("RAMP, motor 1")
        << 0 << MotorSettings{0, 100, 300, 5, 0, -2, 0}
        << Frames{frame("#\x19\x00\x00\x00"), frame("#\x12\x00\xBE\x05"),
                  frame("#\x15\x00\x00\x00"), frame("#\x14\x00\x05\x00"),
                  frame("#\x0C\x00\x00\x64"), frame("#\x06\x00\x01\x2C"),
                  frame("#\x04\x00\x00\x05"), frame("#\x00\xFF\xFF\xFE")};
    QTest::newRow("SOFTMODE, motor 2")
        << 1 << MotorSettings{1, 100, 300, 5, 0, -2, 0}
        << Frames{frame("#\x39\x00\x00\x00"), frame("#\x32\x00\xBE\x05"),
                  frame("#\x35\x00\x00\x00"), frame("#\x34\x00\x05\x01"),
                  frame("#\x2C\x00\x00\x64"), frame("#\x26\x00\x01\x2C"),
                  frame("#\x24\x00\x00\x05"), frame("#\x20\xFF\xFF\xFE")};
    QTest::newRow("VELOCITY, motor 3, target -100")
        << 2 << MotorSettings{2, 50, 0, 0, -100, 0, 0}
        << Frames{frame("#\x55\x00\x00\x00"), frame("#\x54\x00\x05\x02"),
                  frame("#\x4C\x00\x00\x32"), frame("#\x46\x00\x00\x64"),
                  frame("#\x48\x00\xFF\x9C")};
    QTest::newRow("HOLD, motor 1: three requests")
        << 0 << MotorSettings{3, 0, 0, 0, 0, 0, -5}
        << Frames{frame("#\x15\x00\x00\x00"), frame("#\x14\x00\x05\x03"),
                  frame("#\x0A\x00\xFF\xFB")};
}

void TestMotion::goSendsTheModesDatagrams()
{
    QFETCH(int, motor);
    QFETCH(MotorSettings, settings);
    QFETCH(Frames, expected);
    openBoard();
    direct(std::uint8_t(0x14 + 0x20 * motor), 0x000500);
    set(motor, settings);
    m_frames.clear();
    m_main->BtnGo1Click(m_main->Motors[std::size_t(motor)].BtnGo);
    QCOMPARE(commandFrames(), expected);
    QCOMPARE(m_app->dialogs, 0);
    QVERIFY(m_main->session().link().PollingEnabled());
}

void TestMotion::warning_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<std::uint32_t>("dividers"); // data of register index 12
    QTest::addColumn<int>("a");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("number");
    QTest::addColumn<Frames>("expected");
    const Frames abort{frame("#\x19\x00\x00\x00"), frame("#\x15\x00\x00\x00"),
                       frame("#\x14\x00\x00\x00")};
    QTest::newRow("RAMPDIV 7, PULSDIV 3, continue")
        << 0 << std::uint32_t(0x003700) << 5 << TFormWarning::mrYes << "8,"
        << Frames{frame("#\x19\x00\x00\x00"), frame("#\x12\x00\x98\x0D"),
                  frame("#\x15\x00\x00\x00"), frame("#\x14\x00\x00\x00"),
                  frame("#\x0C\x00\x00\x05"), frame("#\x06\x00\x00\x0A"),
                  frame("#\x04\x00\x00\x00"), frame("#\x00\x00\x03\xE8")};
    QTest::newRow("RAMPDIV 7, PULSDIV 3, abort")
        << 0 << std::uint32_t(0x003700) << 5 << TFormWarning::mrNo << "8," << abort;
    QTest::newRow("SOFTMODE, continue")
        << 1 << std::uint32_t(0x003700) << 5 << TFormWarning::mrYes << "8,"
        << Frames{frame("#\x19\x00\x00\x00"), frame("#\x12\x00\x98\x0D"),
                  frame("#\x15\x00\x00\x00"), frame("#\x14\x00\x00\x01"),
                  frame("#\x0C\x00\x00\x05"), frame("#\x06\x00\x00\x0A"),
                  frame("#\x04\x00\x00\x00"), frame("#\x00\x00\x03\xE8")};
    QTest::newRow("SOFTMODE, abort")
        << 1 << std::uint32_t(0x003700) << 5 << TFormWarning::mrNo << "8,"
        << Frames{frame("#\x19\x00\x00\x00"), frame("#\x15\x00\x00\x00"),
                  frame("#\x14\x00\x00\x01")};
    QTest::newRow("A = 0 always warns")
        << 0 << std::uint32_t(0) << 0 << TFormWarning::mrNo << "1," << abort;
    QTest::newRow("dialog closed otherwise")
        << 0 << std::uint32_t(0) << 0 << int(QDialog::Rejected) << "1," << abort;
}

void TestMotion::warning()
{
    QFETCH(int, mode);
    QFETCH(std::uint32_t, dividers);
    QFETCH(int, a);
    QFETCH(int, answer);
    QFETCH(QString, number);
    QFETCH(Frames, expected);
    openBoard();
    direct(0x18, dividers);
    set(0, MotorSettings{mode, a, 10, 0, 0, 1000, 0});
    m_app->dialogAnswer = answer;
    m_frames.clear();
    m_main->BtnGo1Click(m_main->Motors[0].BtnGo);
    QCOMPARE(m_app->dialogs, 1);
    QCOMPARE(m_warning->LblNumber->text(), number);
    // The number stands apart from the first line's text, whatever the font.
    const QLabel *line = m_warning->LblText1;
    const QFontMetrics metrics = line->fontMetrics();
    const int gap =
        m_warning->LblNumber->x() - (line->x() + metrics.horizontalAdvance(line->text().trimmed()));
    QVERIFY2(gap > 0, qPrintable(QString::number(gap)));
    QCOMPARE(commandFrames(), expected);
}

void TestMotion::warningNumberStandsAt272UnlessTheTextReachesIt_data()
{
    QTest::addColumn<int>("pixels"); // the dialog's font size; 0: the program's
    QTest::newRow("the program's font") << 0;
    QTest::newRow("a large font") << 16;
    QTest::newRow("a very large font") << 22;
}

void TestMotion::warningNumberStandsAt272UnlessTheTextReachesIt()
{
    QFETCH(int, pixels);
    TFormWarning dialog;
    QFont f = programFont();
    if (pixels > 0)
        f.setPixelSize(pixels);
    dialog.setFont(f);
    dialog.setMinimum(16384);
    const QLabel *line = dialog.LblText1;
    const int textEnd = line->x() + line->fontMetrics().horizontalAdvance(line->text());
    // It moved to the measured end of the text in every font, 16 + the text's width.
    QCOMPARE(dialog.LblNumber->x(), textEnd <= 272 ? 272 : textEnd);
    QCOMPARE(dialog.LblNumber->text(), QStringLiteral("16384,"));
    if (pixels == 0)
        QCOMPARE(dialog.LblNumber->x(), 272);
    else if (pixels == 22)
        QVERIFY(textEnd > 272); // the text does reach it
}

void TestMotion::notifyTickedGoesOnWithoutAsking()
{
    openBoard();
    set(0, MotorSettings{0, 0, 10, 0, 0, 0, 0});
    m_warning->CheckNotify->setChecked(true);
    m_frames.clear();
    m_main->BtnGo1Click(m_main->Motors[0].BtnGo);
    m_main->BtnGo1Click(m_main->Motors[0].BtnGo);
    QCOMPARE(m_app->dialogs, 0);
    QCOMPARE(commandFrames().count(frame("#\x12\x00\x80\x00")), 2); // P_MUL 128, P_DIV 0 for A = 0
    QCOMPARE(commandFrames().count(frame("#\x00\x00\x00\x00")), 2);
}

void TestMotion::stopWritesPositionAndZeros()
{
    openBoard();
    set(1, MotorSettings{0, 0, 0, 0, 0, -1, 0});
    m_frames.clear();
    m_main->BtnStop1Click(m_main->Motors[1].BtnStop);
    QCOMPARE(commandFrames(), (Frames{frame("#\x22\xFF\xFF\xFF"), frame("#\x28\x00\x00\x00"),
                                      frame("#\x2A\x00\x00\x00")}));
}

void TestMotion::allGoRunsEachMotorInOnePause()
{
    openBoard();
    for (int m = 0; m < 3; ++m)
        set(m, MotorSettings{0, 100, 300, 5, 0, -2, 0});
    m_frames.clear();
    m_main->BtnGoAllClick();
    Frames expected;
    for (int m = 0; m < 3; ++m) {
        const char b = char(0x20 * m);
        for (const QByteArray &f :
             {frame("#\x19\x00\x00\x00"), frame("#\x12\x00\xBE\x05"), frame("#\x15\x00\x00\x00"),
              frame("#\x14\x00\x00\x00"), frame("#\x0C\x00\x00\x64"), frame("#\x06\x00\x01\x2C"),
              frame("#\x04\x00\x00\x05"), frame("#\x00\xFF\xFF\xFE")}) {
            QByteArray withBank = f;
            withBank[1] = char(f.at(1) | b);
            expected << withBank;
        }
    }
    QCOMPARE(commandFrames(), expected);
    // Polling stayed paused from the first motor to the last.
    const qsizetype first = m_frames.indexOf(expected.first());
    const qsizetype last = m_frames.lastIndexOf(expected.last());
    QCOMPARE(last - first + 1, expected.size());
    QVERIFY(m_main->session().link().PollingEnabled());
}

void TestMotion::rampModeListEnablesItsControls_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("aMax");
    QTest::addColumn<bool>("positioning"); // Vmax, Vmin, Target Position
    QTest::addColumn<bool>("vTarget");
    QTest::addColumn<bool>("vActual");
    QTest::newRow("RAMP") << 0 << true << true << false << false;
    QTest::newRow("SOFTMODE") << 1 << true << true << false << false;
    QTest::newRow("VELOCITY") << 2 << true << false << true << false;
    QTest::newRow("HOLD") << 3 << false << false << false << true;
    QTest::newRow("none") << -1 << false << false << false << false;
}

void TestMotion::rampModeListEnablesItsControls()
{
    QFETCH(int, mode);
    QFETCH(bool, aMax);
    QFETCH(bool, positioning);
    QFETCH(bool, vTarget);
    QFETCH(bool, vActual);
    openBoard();
    m_frames.clear();
    MotorGroup &g = m_main->Motors[2];
    g.CbRampMode->setCurrentIndex(mode == 0 ? 3 : 0); // make sure it changes
    g.CbRampMode->setCurrentIndex(mode);
    QCOMPARE(g.EditAMax->isEnabled(), aMax);
    QCOMPARE(g.LblAMax->isEnabled(), aMax);
    for (QWidget *w : {static_cast<QWidget *>(g.EditVMax), static_cast<QWidget *>(g.LblVMax),
                       static_cast<QWidget *>(g.EditVMin), static_cast<QWidget *>(g.LblVMin),
                       static_cast<QWidget *>(g.EditXTarget), static_cast<QWidget *>(g.LblXTarget)})
        QCOMPARE(w->isEnabled(), positioning);
    QCOMPARE(g.EditVTarget->isEnabled(), vTarget);
    QCOMPARE(g.LblVTarget->isEnabled(), vTarget);
    QCOMPARE(g.EditVActual->isEnabled(), vActual);
    QCOMPARE(g.LblEVact->isEnabled(), vActual);
    QTest::qWait(20);
    QVERIFY(commandFrames().isEmpty()); // nothing is sent until "Go!"
}

void TestMotion::rampMoveReachesTheTarget()
{
    openBoard();
    set(0, MotorSettings{0, 100, 100, 0, 0, 1000, 0});
    m_main->BtnGo1Click(m_main->Motors[0].BtnGo);
    QTRY_COMPARE_WITH_TIMEOUT(m_main->Motors[0].StaticXAct->text(), QStringLiteral("1000"),
                              kEventWait);
    QTRY_COMPARE_WITH_TIMEOUT(m_main->StatusLeds[0]->LedColor(), TLedLittleColor::lcCyan,
                              kEventWait);
    // The velocity is polled after the position: under load it may show one cycle later.
    QTRY_COMPARE_WITH_TIMEOUT(m_main->Motors[0].StaticVAct->text(), QStringLiteral("0"),
                              kEventWait);
}

void TestMotion::velocityRunsUntilStop()
{
    openBoard();
    set(1, MotorSettings{2, 100, 0, 0, 50, 0, 0});
    m_main->BtnGo1Click(m_main->Motors[1].BtnGo);
    QTRY_COMPARE_WITH_TIMEOUT(m_main->Motors[1].StaticVAct->text(), QStringLiteral("50"),
                              kEventWait);
    QTRY_VERIFY_WITH_TIMEOUT(m_main->Motors[1].StaticXAct->text().toInt() > 100, kEventWait);
    m_main->BtnStop1Click(m_main->Motors[1].BtnStop);
    QTRY_COMPARE_WITH_TIMEOUT(m_main->Motors[1].StaticVAct->text(), QStringLiteral("0"),
                              kEventWait);
    // X_ACTUAL took the Target Position (0) and the motor ran on only while the velocities
    // were being written; then it stands.
    const int stoppedAt = m_main->Motors[1].StaticXAct->text().toInt();
    QTest::qWait(100);
    QCOMPARE(m_main->Motors[1].StaticXAct->text().toInt(), stoppedAt);
}

void TestMotion::goWhoseReadIsUnansweredWritesNothingMore()
{
    // The dividers read used to go on with the previous reply's bytes: P_MUL / P_DIV from
    // another register, and REF_CONF rewritten with them.
    PtyPair pty;
    std::int64_t now = 0;
    Frames seen;
    QTimer board;
    openScripted(
        pty, now, [](const QByteArray &f) { return f.at(1) != '\x19'; }, seen, board);
    for (int m = 0; m < 3; ++m)
        set(m, MotorSettings{0, 100, 300, 5, 0, -2, 0});

    m_main->BtnGo1Click(m_main->Motors[0].BtnGo);
    // Asked three times, as a read whose reply was lost is; nothing after it.
    QCOMPARE(seen, Frames(3, frame("#\x19\x00\x00\x00")));
    QCOMPARE(scriptedCommandSpan(), seen);
    // It used to end without a word.
    QCOMPARE(m_app->messages.size(), 1);
    QCOMPARE(m_app->messages[0].text, QStringLiteral("Motor 1 was not started."));
    QCOMPARE(m_app->messages[0].informative,
             QStringLiteral("Motor 1: The board did not answer the read of PULSDIV / RAMPDIV / "
                            "\u00B5STEP_RES. None of its parameters were written."));

    seen.clear();
    m_scripted.clear();
    m_main->BtnGoAllClick(); // the other motors still run
    // Motor 1's read asked three times; motor 2's first read is asked twice, as the first
    // reply after a request given up is not used.
    QCOMPARE(seen.size(), 3 + 1 + 8 + 8);
    QCOMPARE(seen.first(), frame("#\x19\x00\x00\x00"));
    QCOMPARE(seen.at(2), frame("#\x19\x00\x00\x00"));
    QCOMPARE(seen.at(3), frame("#\x39\x00\x00\x00"));
    QCOMPARE(seen.at(4), frame("#\x39\x00\x00\x00"));
    QCOMPARE(seen.at(12), frame("#\x59\x00\x00\x00"));
    for (const QByteArray &f : seen.mid(4))
        QVERIFY((f.at(1) & 0x60) != 0); // nothing written to motor 1
    QCOMPARE(scriptedCommandSpan(), seen);
    QCOMPARE(m_app->messages.size(), 2); // one for the command, naming the motor that stopped
    QCOMPARE(m_app->messages[1].text, QStringLiteral("Motor 1 was not started."));
}

void TestMotion::goWhoseWriteIsUnansweredSaysWhatWasWritten()
{
    // A write given up used to pass for done: the motor half set up and not a word said.
    PtyPair pty;
    std::int64_t now = 0;
    Frames seen;
    QTimer board;
    openScripted(
        pty, now, [](const QByteArray &f) { return f.at(1) != '\x06'; }, seen, board);
    set(0, MotorSettings{0, 100, 300, 5, 0, -2, 0});

    m_main->BtnGo1Click(m_main->Motors[0].BtnGo);
    QCOMPARE(m_app->messages.size(), 1);
    QCOMPARE(m_app->messages[0].informative,
             QStringLiteral("Motor 1: The board did not answer the write of V_MAX. Written "
                            "before it: P_MUL / P_DIV, REF_CONF / RAMP_MODE, A_MAX."));
    // Nothing after it: V_MIN and X_TARGET would start a move with a V_MAX the chip lacks.
    QCOMPARE(seen.last().at(1), '\x06');
}

Frames TestMotion::scriptedCommandSpan() const
{
    qsizetype first = -1;
    qsizetype last = -1;
    for (qsizetype i = 0; i < m_scripted.size(); ++i) {
        if (isPoll(m_scripted[i]))
            continue;
        last = i;
        if (first < 0)
            first = i;
    }
    return first < 0 ? Frames{} : m_scripted.mid(first, last - first + 1);
}

void TestMotion::openScripted(PtyPair &pty, std::int64_t &now,
                              const std::function<bool(const QByteArray &)> &answer, Frames &seen,
                              QTimer &board)
{
    QVERIFY(m_app->mapCom1(pty.path()));
    m_main->session().setClock([&now] { return now; });
    m_main->BtnOpenClick();
    pty.received(); // the probe and row 0
    QVERIFY(pty.reply(QByteArray("ZAP310v1.0", 10)));
    QTRY_COMPARE_WITH_TIMEOUT(m_main->StaticInfo2->text(), QStringLiteral("Pentar detected!"),
                              kEventWait);
    // Play the board: polls are answered and not kept; of the commands' frames, those the test
    // does not answer are ended by the watchdog at once. The link's clock runs ten times as
    // fast as the board's ticks, so that the quiet after a watchdog passes quickly.
    auto pending = std::make_shared<QByteArray>();
    board.setInterval(1);
    connect(&board, &QTimer::timeout, this, [&, pending, answer] {
        now += 10;
        *pending += pty.received();
        while (pending->size() >= 5) {
            const QByteArray f = pending->left(5);
            pending->remove(0, 5);
            m_scripted << f;
            if (isPoll(f) || answer(f)) {
                QTimer::singleShot(PtyPair::kLinePaceMs, this,
                                   [&pty] { pty.send(QByteArray(4, '\0')); });
            } else {
                now += 2001;
            }
            if (!isPoll(f))
                seen << f;
        }
    });
    board.start();
}

void TestMotion::goWhoseRefConfReadIsUnansweredWritesNothingMore()
{
    PtyPair pty;
    std::int64_t now = 0;
    Frames seen;
    QTimer board;
    openScripted(
        pty, now, [](const QByteArray &f) { return f.at(1) != '\x15'; }, seen, board);
    set(0, MotorSettings{3, 0, 0, 0, 0, 0, 7});
    m_main->BtnGo1Click(m_main->Motors[0].BtnGo);
    // Asked three times; no REF_CONF rewrite, no V_ACTUAL.
    QCOMPARE(seen, Frames(3, frame("#\x15\x00\x00\x00")));
    QCOMPARE(scriptedCommandSpan(), seen);
    QCOMPARE(m_app->messages.size(), 1);
    QVERIFY(m_app->messages[0].informative.endsWith(
        QLatin1String("REF_CONF / RAMP_MODE. None of its parameters were written.")));

    // A positioning Go has written P_MUL / P_DIV by then, and says so.
    seen.clear();
    set(0, MotorSettings{0, 2047, 300, 5, 0, -2, 0});
    m_main->BtnGo1Click(m_main->Motors[0].BtnGo);
    // The first read after the give-ups asked twice, the REF_CONF read three times.
    QCOMPARE(seen.size(), 6);
    QCOMPARE(seen.at(2).at(1), '\x12'); // P_MUL / P_DIV written
    QCOMPARE(m_app->messages.size(), 2);
    QVERIFY(m_app->messages[1].informative.endsWith(
        QLatin1String("Only P_MUL / P_DIV were written; the ramp mode and the ramp parameters "
                      "were not.")));
}

void TestMotion::closingDuringACommandEndsItAtOnce_data()
{
    QTest::addColumn<int>("how");
    QTest::newRow("Close button") << 0;
    QTest::newRow("main window closed") << 1;
    QTest::newRow("device lost") << 2;
}

void TestMotion::closingDuringACommandEndsItAtOnce()
{
    // The rest of the command used to go on: one "Send error!" and a 2 s wait per request.
    QFETCH(int, how);
    const QList<MessageRequest> &messages = m_app->messages;
    openBoard();
    QTimer::singleShot(0, this, [&] {
        if (how == 0)
            m_main->BtnCloseClick();
        else if (how == 1)
            m_main->close();
        else
            m_app->board().hangUp();
    });
    // The link's clock stands still from here: a request that waited for the watchdog would
    // never end, however fast or slow the machine.
    const std::int64_t frozen = m_main->session().link().now();
    m_main->session().setClock([frozen] { return frozen; });
    m_main->BtnStopAllClick();
    QTRY_VERIFY_WITH_TIMEOUT(!m_main->session().Connected(), kEventWait);
    QTest::qWait(50);
    QCOMPARE(messages.size(), how == 2 ? 1 : 0); // only the lost port is worth a message
    if (how != 1)
        QCOMPARE(m_main->StaticInfo1->text(), QStringLiteral("No port opened."));
}

void TestMotion::typedValuesOutsideTheRangeAreBounded()
{
    // "All G&o!" by its shortcut leaves the focus in the edit; its text used to go out as typed
    // and -9000000 wrapped to a target on the other side.
    openBoard();
    set(0, MotorSettings{0, 100, 300, 5, 0, 0, 0});
    m_main->Motors[0].EditXTarget->findChild<QLineEdit *>()->setText(QStringLiteral("-9000000"));
    m_main->Motors[0].EditAMax->findChild<QLineEdit *>()->setText(QStringLiteral("5000"));
    m_frames.clear();
    m_main->BtnGo1Click(m_main->Motors[0].BtnGo);
    const Frames sent = commandFrames();
    QVERIFY(sent.contains(frame("#\x00\x80\x00\x00")));
    QVERIFY(sent.contains(frame("#\x0C\x00\x07\xFF")));
}

void TestMotion::velocityIsBoundedToTheRegister_data()
{
    QTest::addColumn<int>("vTarget");
    QTest::addColumn<Frames>("expected"); // V_MAX, then V_TARGET
    QTest::addColumn<int>("shown");       // "Target Velocity" after the Go
    const QByteArray max = frame("#\x06\x00\x07\xFF");
    QTest::newRow("3000") << 3000 << Frames{max, frame("#\x08\x00\x07\xFF")} << 2047;
    QTest::newRow("-3000") << -3000 << Frames{max, frame("#\x08\x00\xF8\x01")} << -2047;
    QTest::newRow("2047") << 2047 << Frames{max, frame("#\x08\x00\x07\xFF")} << 2047;
    QTest::newRow("-2048") << -2048 << Frames{max, frame("#\x08\x00\xF8\x01")} << -2047;
    QTest::newRow("100, as before")
        << 100 << Frames{frame("#\x06\x00\x00\x64"), frame("#\x08\x00\x00\x64")} << 100;
}

void TestMotion::velocityIsBoundedToTheRegister()
{
    // A Target Velocity of 3000 went out as 0x0BB8, which the chip reads as -1096.
    QFETCH(int, vTarget);
    QFETCH(Frames, expected);
    QFETCH(int, shown);
    openBoard();
    set(0, MotorSettings{2, 50, 0, 0, vTarget, 0, 0});
    m_frames.clear();
    m_main->BtnGo1Click(m_main->Motors[0].BtnGo);
    QCOMPARE(commandFrames().mid(commandFrames().size() - 2), expected);
    // The field shows what went out (it kept 3000 while 2047 was sent).
    QCOMPARE(m_main->Motors[0].EditVTarget->value(), shown);
    QCOMPARE(m_main->Motors[0].EditVTarget->text(), QString::number(shown));
}

void TestMotion::clickDuringGoKeepsEachCommandsReplies()
{
    openBoard();
    direct(0x14, 0x000500); // REF_CONF of motor 1
    direct(0x34, 0x000A00); // and of motor 2
    set(0, MotorSettings{3, 0, 0, 0, 0, 0, 7});
    set(1, MotorSettings{3, 0, 0, 0, 0, 0, 9});
    {
        // The first Go's first request goes out at once, on a free line; the second click
        // lands while it waits for its reply.
        const PollPause pause = m_main->session().link().PausePolling();
        QTRY_VERIFY_WITH_TIMEOUT(m_main->session().link().LinkIdle(), kEventWait);
        m_frames.clear();
        QTimer::singleShot(0, this, [this] { m_main->BtnGo1Click(m_main->Motors[1].BtnGo); });
        m_main->BtnGo1Click(m_main->Motors[0].BtnGo);
    }
    QCOMPARE(commandFrames(), (Frames{frame("#\x15\x00\x00\x00"), frame("#\x35\x00\x00\x00"),
                                      frame("#\x34\x00\x0A\x03"), frame("#\x2A\x00\x00\x09"),
                                      frame("#\x14\x00\x05\x03"), frame("#\x0A\x00\x00\x07")}));
    QVERIFY(m_main->session().link().PollingEnabled());
}

QTEST_MAIN(TestMotion)
#include "tst_motion.moc"
