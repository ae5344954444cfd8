// The poll cycle of the board session on a real terminal: the order of requests for each state
// of the register editor with the trace recorder's tick in its place, a page change taking
// effect at the next advance, the watchdog repeating the unanswered row on an injected clock,
// and replies reaching the trace recorder and the status lamps through the session's signals.
// Row rules alone are tst_polltable's; the link underneath is tests/link's.

#include "common/BoardStatus.h"
#include "common/PtyPair.h"
#include "session/BoardSession.h"
#include "sim/PtyBoardServer.h"
#include "sim/SimulatedPorts.h"

#include <QTest>
#include <QTimer>

using namespace kvx;
using namespace kvx::sim;

namespace {

constexpr int kEventWait = 3000; // ms; only reached when a test fails

QList<int> range(int from, int to)
{
    QList<int> rows;
    for (int r = from; r <= to; ++r)
        rows << r;
    return rows;
}

} // namespace

class TestPollScheduler : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void requestOrder_data();
    void requestOrder();
    void pageChangeTakesEffectAtNextAdvance();
    void watchdogRepeatsTheUnansweredRow();
    void silentBoardIsAskedEvery2000ms();
    void repliesFeedTraceAndLamps();
    void pausedPollingOnlyRunsTheWatchdog();
    void simulatedBoardPortOpensThroughTheSession();

private:
    // Opens the session on a bare terminal, where the test plays the board, and answers the
    // detection with ten bytes that name no variant (a plain board), so that polling starts
    // without waiting for the watchdog.
    void openOnPty();
    // Answers the outstanding request and waits until its reply has been taken.
    void answer(const QByteArray &reply);
    // Answers the outstanding poll request and waits until its reply is shown.
    void show(const QByteArray &reply);
    // Answers poll requests with zeros, each shown, until the request of `row` is outstanding;
    // returns that request as the terminal got it.
    QByteArray pollUntil(int row);
    [[nodiscard]] int rowOf(std::uint8_t address) const;

    std::int64_t m_now = 5000;
    int m_taken = 0;
    int m_shown = 0;
    QStringList m_events;
    QStringList m_status;
    QList<int> m_statusBits;
    std::unique_ptr<PtyBoardServer> m_server;
    std::unique_ptr<PtyPair> m_pty;
    std::unique_ptr<BoardSession> m_session;
};

void TestPollScheduler::init()
{
    m_now = 5000;
    m_taken = 0;
    m_shown = 0;
    m_events.clear();
    m_status.clear();
    m_statusBits.clear();
    m_session = std::make_unique<BoardSession>();
    m_session->setClock([this] { return m_now; });
    connect(&m_session->link(), &BoardLink::boardStateChanged, this, [this](BoardState s) {
        if (s != BoardState::Closed)
            m_status << statusLines(s, m_session->link());
    });
    connect(&m_session->link(), &BoardLink::pollCycleStart, this,
            [this] { m_events << QStringLiteral("N"); });
    connect(&m_session->scheduler(), &PollScheduler::pollReplyShown, this,
            [this](int, const Reply &r) {
                m_statusBits << r.status;
                ++m_shown;
            });
    connect(&m_session->link(), &BoardLink::replyTaken, this, [this] { ++m_taken; });
}

void TestPollScheduler::cleanup()
{
    m_session.reset();
    m_server.reset();
    m_pty.reset();
}

void TestPollScheduler::openOnPty()
{
    m_pty = std::make_unique<PtyPair>();
    QVERIFY(m_session->Open(m_pty->path(), {}));
    m_pty->received(); // the probe and row 0
    answer(QByteArray(10, '\0'));
    QCOMPARE(m_session->scheduler().PollRow(), 0);
    // Row 0 goes out once the identification is trusted.
    QTRY_VERIFY_WITH_TIMEOUT(m_session->link().requestOutstanding(), kEventWait);
    m_status.clear();
}

void TestPollScheduler::answer(const QByteArray &reply)
{
    // A reply before its request would be a stray.
    QTRY_VERIFY_WITH_TIMEOUT(m_session->link().requestOutstanding(), kEventWait);
    const int taken = m_taken;
    QVERIFY(m_pty->reply(reply));
    QTRY_COMPARE_WITH_TIMEOUT(m_taken, taken + 1, kEventWait);
}

void TestPollScheduler::show(const QByteArray &reply)
{
    const int shown = m_shown;
    answer(reply);
    QTRY_COMPARE_WITH_TIMEOUT(m_shown, shown + 1, kEventWait);
}

QByteArray TestPollScheduler::pollUntil(int row)
{
    for (;;) {
        [&] { QTRY_VERIFY_WITH_TIMEOUT(m_session->link().requestOutstanding(), kEventWait); }();
        const QByteArray request = m_pty->received();
        if (m_session->scheduler().PollRow() == row || QTest::currentTestFailed())
            return request;
        show(QByteArray(4, '\0'));
    }
}

int TestPollScheduler::rowOf(std::uint8_t address) const
{
    for (int r = 0; r < PollTable::kRowCount; ++r) {
        if (m_session->table().row(r).address == address)
            return r;
    }
    return -1;
}

void TestPollScheduler::requestOrder_data()
{
    QTest::addColumn<bool>("shown");
    QTest::addColumn<int>("page");
    QTest::addColumn<QList<int>>("cycle");
    const QList<int> live = {1, 4, 5, 7, 16, 19, 20, 22, 31, 34, 35, 37};
    QTest::newRow("hidden") << false << 0 << live;
    QTest::newRow("Motor 1") << true << 0 << range(0, 14) + live.mid(4);
    QTest::newRow("Motor 2") << true << 1 << live.mid(0, 4) + range(15, 29) + live.mid(8);
    QTest::newRow("Motor 3") << true << 2 << live.mid(0, 8) + range(30, 44);
    QTest::newRow("Global") << true << 3 << QList<int>{0} + live + range(45, 50);
    QTest::newRow("RAM Table") << true << 4 << live;
}

void TestPollScheduler::requestOrder()
{
    QFETCH(bool, shown);
    QFETCH(int, page);
    QFETCH(QList<int>, cycle);
    m_session->scheduler().setEditorView(shown, page);
    BoardOptions pentar;
    pentar.variant = Variant::Pentar;
    m_server = std::make_unique<PtyBoardServer>(pentar);
    QVERIFY(m_server->start());
    QStringList sent;
    m_server->board().onFrame = [&](const FrameLogEntry &e) {
        if (e.request.startsWith('#'))
            sent << QString::number(rowOf(std::uint8_t(e.request.at(1))));
    };
    QStringList displayed;
    connect(&m_session->scheduler(), &PollScheduler::pollReplyShown, this,
            [&](int row) { displayed << QString::number(row); });
    connect(&m_session->link(), &BoardLink::pollCycleStart, this,
            [&] { displayed << QStringLiteral("N"); });

    // "Open" sends row 0 at once, answered by the identification; then row 0 comes first,
    // whatever the page, and each reply sends the next request.
    QVERIFY(m_session->Open(m_server->terminalPath(), {}));
    const qsizetype wanted = 2 + 2 * cycle.size();
    QTRY_VERIFY_WITH_TIMEOUT(displayed.count() - displayed.count(QStringLiteral("N")) > wanted,
                             kEventWait);
    m_session->Close();

    // Row 0 is where the Motor 1 and Global cycles begin anyway.
    QStringList expectedSent{QStringLiteral("0")};
    QStringList expectedShown;
    if (cycle.first() != 0) {
        expectedSent << QStringLiteral("0");
        expectedShown << QStringLiteral("0");
    }
    for (int round = 0; round < 2; ++round) {
        for (int r : cycle) {
            expectedSent << QString::number(r);
            if (r == 1)
                expectedShown << QStringLiteral("N"); // the recorder's tick, just before row 1
            expectedShown << QString::number(r);
        }
    }
    QCOMPARE(sent.mid(0, expectedSent.size()), expectedSent);
    // Shown are the poll replies, in the order sent and with the recorder's tick in its place;
    // the identification is no poll reply.
    QCOMPARE(displayed.mid(0, expectedShown.size()), expectedShown);
}

void TestPollScheduler::pageChangeTakesEffectAtNextAdvance()
{
    m_session->scheduler().setEditorView(true, 0);
    openOnPty();
    QString vMin;
    connect(&m_session->scheduler(), &PollScheduler::pollReplyShown, this,
            [&](int row, const Reply &r) {
                if (row == 2)
                    vMin = m_session->table().text(row, r.data);
            });
    // V_MIN of motor 1, polled on the Motor 1 page only
    QCOMPARE(pollUntil(2), QByteArray("#\x05\x00\x00\x00", 5));
    // The user switches to "Motor 2" while the request is out.
    m_session->scheduler().setEditorView(true, 1);
    show(QByteArray("\x00\x00\x00\x2A", 4));
    QCOMPARE(vMin, QStringLiteral("42"));          // the row already requested is still shown
    QCOMPARE(m_session->scheduler().PollRow(), 4); // and the next one follows the new page
}

void TestPollScheduler::watchdogRepeatsTheUnansweredRow()
{
    openOnPty();
    QCOMPARE(pollUntil(5), QByteArray("#\x0B\x00\x00\x00", 5));
    m_now += 2001;
    m_session->scheduler().TimerActionsTimer(); // the watchdog gives up on row 5
    QCOMPARE(m_status,
             QStringList{"The board does not respond.|Please check the cable and power."});
    QCOMPARE(m_session->scheduler().PollRow(), 5);
    m_now += BoardLink::kLateQuiet.count() - 1;
    m_session->scheduler().TimerActionsTimer();
    QVERIFY(m_pty->received().isEmpty()); // a late reply could still come
    m_now += 1;
    m_session->scheduler().TimerActionsTimer();
    QCOMPARE(m_pty->received(), QByteArray("#\x0B\x00\x00\x00", 5)); // asked again
    // Its answer is taken but not shown: it may be the late one, from before the stall.
    const int shown = m_shown;
    answer(QByteArray("\x00\x00\x00\x01", 4));
    QTRY_COMPARE_WITH_TIMEOUT(m_status.last(),
                              QStringLiteral("The board is active.|KVX310 evaluation board "
                                             "detected!"),
                              kEventWait);
    QCOMPARE(m_session->scheduler().PollRow(), 7);
    show(QByteArray("\x00\x00\x00\x02", 4)); // the replies after it are
    QCOMPARE(m_shown, shown + 1);
}

void TestPollScheduler::silentBoardIsAskedEvery2000ms()
{
    m_pty = std::make_unique<PtyPair>();
    QVERIFY(m_session->Open(m_pty->path(), {})); // row 0 goes out at once
    const QByteArray atOpen = m_pty->received();
    QList<std::int64_t> sentAt;
    if (atOpen.endsWith(QByteArray("\xFF#\x01\x00\x00\x00", 6)))
        sentAt << 0;
    const std::int64_t start = m_now;
    for (++m_now; m_now < start + 10000; ++m_now) {
        m_session->scheduler().TimerActionsTimer();
        if (!m_pty->received().isEmpty())
            sentAt << m_now - start;
    }
    // Each request waits out the watchdog's 2000 ms and the quiet after it, then the tick that
    // ends the quiet asks again.
    const std::int64_t period =
        BoardLink::kWatchdogTimeout.count() + 1 + BoardLink::kLateQuiet.count();
    QCOMPARE(sentAt, (QList<std::int64_t>{0, period, 2 * period, 3 * period}));
    QStringList expected{QStringLiteral("Trying to detect the board.|")};
    for (int i = 0; i < 4; ++i)
        expected << QStringLiteral("The board does not respond.|Please check the cable and power.");
    QCOMPARE(m_status, expected);
}

void TestPollScheduler::repliesFeedTraceAndLamps()
{
    QList<QPair<qint64, int>> positions;
    QList<QPair<qint64, int>> velocities;
    connect(&m_session->scheduler(), &PollScheduler::traceValue, this,
            [&](TraceKind kind, qint64 v, int m) {
                if (kind == TraceKind::Position)
                    positions.append({v, m});
                else if (kind == TraceKind::Velocity)
                    velocities.append({v, m});
            });
    openOnPty();
    pollUntil(16); // X_ACTUAL of motor 2
    positions.clear();
    velocities.clear();
    m_statusBits.clear();
    show(QByteArray("\x41\x80\x00\x00", 4));
    QCOMPARE(positions, (QList<QPair<qint64, int>>{{-8388608, 1}}));
    QVERIFY(velocities.isEmpty());
    QCOMPARE(m_statusBits, QList<int>{0x41});
}

void TestPollScheduler::pausedPollingOnlyRunsTheWatchdog()
{
    openOnPty();
    m_events.clear();
    QCOMPARE(m_pty->received(), QByteArray("#\x01\x00\x00\x00", 5));
    // Row 0 is outstanding: the pause waits for its reply.
    QTimer::singleShot(PtyPair::kLinePaceMs, this, [this] { m_pty->send(QByteArray(4, '\0')); });
    const PollPause pause = m_session->link().PausePolling();
    QVERIFY(m_session->link().LinkIdle());
    QVERIFY(m_pty->received().isEmpty()); // nothing went out as the pause began
    for (int i = 0; i < 10; ++i, ++m_now)
        m_session->scheduler().TimerActionsTimer();
    QVERIFY(m_pty->received().isEmpty());
    QVERIFY(m_events.isEmpty());
}

void TestPollScheduler::simulatedBoardPortOpensThroughTheSession()
{
    const QMap<QString, QString> ports{{QStringLiteral("COM1"), QStringLiteral("sim:pentar")}};
    // The session knows no simulated board of its own: the program's entry provides it.
    QVERIFY(!m_session->Open(QStringLiteral("COM1"), ports));
    QVERIFY2(m_session->lastOpen().errorText.contains(QLatin1String("not available")),
             qPrintable(m_session->lastOpen().errorText));
    m_session->setSimulatedPortProvider(&SimulatedPorts::terminalFor);
    QVERIFY(m_session->Open(QStringLiteral("COM1"), ports));
    QCOMPARE(m_session->lastOpen().target.kind, PortTarget::Kind::Simulated);
    QVERIFY(m_session->lastOpen().device.startsWith(QLatin1String("/dev/pts/")));
    QTRY_VERIFY_WITH_TIMEOUT(m_session->link().BoardActive(), kEventWait);

    // The same board answers after a reopen.
    m_session->Close();
    QVERIFY(m_session->Open(QStringLiteral("COM1"), ports));
    QTRY_VERIFY_WITH_TIMEOUT(m_session->link().BoardActive(), kEventWait);
}

QTEST_GUILESS_MAIN(TestPollScheduler)
#include "tst_pollscheduler.moc"
