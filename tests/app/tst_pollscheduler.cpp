// The poll cycle on a real terminal: the order of requests for each state of the register
// editor with the trace recorder's tick in its place, a page change taking effect at the next
// advance, the watchdog repeating the unanswered row on an injected clock, and replies reaching
// the trace recorder and the status lamps. Row rules alone are tst_polltable's.

#include "app/PollScheduler.h"
#include "common/PtyPair.h"
#include "link/async32.h"
#include "link/BoardLink.h"
#include "sim/PtyBoardServer.h"

#include <QTest>

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

private:
    void wire();
    [[nodiscard]] int rowOf(std::uint8_t address) const;

    std::int64_t m_now = 5000;
    bool m_shown = false;
    int m_page = 0;
    QStringList m_events;
    QStringList m_status;
    QList<int> m_statusBits;
    std::unique_ptr<PtyBoardServer> m_server;
    std::unique_ptr<PtyPair> m_pty;
    std::unique_ptr<TComm32> m_comm;
    std::unique_ptr<BoardLink> m_link;
    std::unique_ptr<PollTable> m_table;
    std::unique_ptr<PollScheduler> m_scheduler;
};

void TestPollScheduler::init()
{
    m_now = 5000;
    m_shown = false;
    m_page = 0;
    m_events.clear();
    m_status.clear();
    m_statusBits.clear();
    m_comm = std::make_unique<TComm32>();
    m_link = std::make_unique<BoardLink>(*m_comm);
    m_table = std::make_unique<PollTable>();
    m_scheduler = std::make_unique<PollScheduler>(*m_link, *m_table);
    wire();
}

void TestPollScheduler::cleanup()
{
    m_scheduler.reset();
    m_table.reset();
    m_link.reset();
    m_comm.reset();
    m_server.reset();
    m_pty.reset();
}

void TestPollScheduler::wire()
{
    m_link->setClock([this] { return m_now; });
    m_comm->OnRxChar = [this](QObject *s, int count) { m_link->Comm32RxChar(s, count); };
    m_link->OnPollReply = [this](const Reply &r) { m_scheduler->ShowPollReply(r); };
    m_link->OnAdvancePollRow = [this] { m_scheduler->AdvancePollRow(); };
    m_link->OnReplyTaken = [this] { m_scheduler->SendNextPoll(); };
    m_link->OnStatus = [this](const QString &a, const QString &b) { m_status << a + '|' + b; };
    m_scheduler->EditorShown = [this] { return m_shown; };
    m_scheduler->ActivePage = [this] { return m_page; };
    m_scheduler->Trace.NextSample = [this] { m_events << QStringLiteral("N"); };
    m_scheduler->ShowStatusBits = [this](std::uint8_t s) { m_statusBits << s; };
}

int TestPollScheduler::rowOf(std::uint8_t address) const
{
    for (int r = 0; r < PollTable::kRowCount; ++r) {
        if (m_table->row(r).address == address)
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
    m_shown = shown;
    m_page = page;
    m_server = std::make_unique<PtyBoardServer>();
    QVERIFY(m_server->start());
    m_server->board().onFrame = [this](const FrameLogEntry &e) {
        m_events << QString::number(rowOf(std::uint8_t(e.request.at(1))));
    };
    m_comm->setDeviceName(m_server->terminalPath());
    m_comm->Open();
    QVERIFY(m_comm->Connected());

    // After "Open" row 0 goes first, whatever the page; each reply sends the next request.
    m_scheduler->TimerActionsTimer();
    const qsizetype wanted = 1 + 2 * cycle.size();
    QTRY_VERIFY_WITH_TIMEOUT(m_events.count() - m_events.count(QStringLiteral("N")) > wanted,
                             kEventWait);
    m_comm->Close();

    // Row 0 is where the Motor 1 and Global cycles begin anyway.
    QStringList expected;
    if (cycle.first() != 0)
        expected << QStringLiteral("0");
    for (int round = 0; round < 2; ++round) {
        for (int r : cycle) {
            if (r == 1)
                expected << QStringLiteral("N"); // the recorder's tick, just before row 1
            expected << QString::number(r);
        }
    }
    QCOMPARE(m_events.mid(0, expected.size()), expected);
}

void TestPollScheduler::pageChangeTakesEffectAtNextAdvance()
{
    m_pty = std::make_unique<PtyPair>();
    m_comm->setDeviceName(m_pty->path());
    m_comm->Open();
    QString vMin;
    m_table->setEditorField(2, [&](const QString &t) { vMin = t; });
    m_shown = true;
    m_page = 0;
    m_scheduler->PollRow = 2; // V_MIN of motor 1, polled on the Motor 1 page only
    m_scheduler->TimerActionsTimer();
    QCOMPARE(m_pty->received(), QByteArray("#\x05\x00\x00\x00", 5));
    m_page = 1;                     // the user switches to "Motor 2" while the request is out
    m_link->PollingEnabled = false; // keep the next request from going out on its own
    QVERIFY(m_pty->send(QByteArray("\x00\x00\x00\x2A", 4)));
    QTRY_VERIFY_WITH_TIMEOUT(m_link->LinkIdle, kEventWait);
    QCOMPARE(vMin, QStringLiteral("42")); // the row already requested is still shown
    QCOMPARE(m_scheduler->PollRow, 4);    // and the next one follows the new page
}

void TestPollScheduler::watchdogRepeatsTheUnansweredRow()
{
    m_pty = std::make_unique<PtyPair>();
    m_comm->setDeviceName(m_pty->path());
    m_comm->Open();
    m_scheduler->PollRow = 5;
    m_link->BoardActive = true;
    m_scheduler->TimerActionsTimer();
    QCOMPARE(m_pty->received(), QByteArray("#\x0B\x00\x00\x00", 5));
    m_now += 2001;
    m_scheduler->TimerActionsTimer(); // the watchdog gives up on row 5
    QCOMPARE(m_status,
             QStringList{"The board does not respond.|Please check the cable and power."});
    QCOMPARE(m_scheduler->PollRow, 5);
    m_scheduler->TimerActionsTimer();
    QCOMPARE(m_pty->received(), QByteArray("#\x0B\x00\x00\x00", 5)); // asked again
    m_link->PollingEnabled = false;
    QVERIFY(m_pty->send(QByteArray("\x00\x00\x00\x01", 4)));
    QTRY_VERIFY_WITH_TIMEOUT(m_link->LinkIdle, kEventWait);
    QCOMPARE(m_status.last(), QStringLiteral("The board is active.|KVX310 evaluation board "
                                             "detected!"));
    QCOMPARE(m_scheduler->PollRow, 7);
}

void TestPollScheduler::silentBoardIsAskedEvery2000ms()
{
    m_pty = std::make_unique<PtyPair>();
    m_comm->setDeviceName(m_pty->path());
    m_comm->Open();
    QList<std::int64_t> sentAt;
    const std::int64_t start = m_now;
    for (; m_now < start + 10000; ++m_now) {
        m_scheduler->TimerActionsTimer();
        if (!m_pty->received().isEmpty())
            sentAt << m_now - start;
    }
    // Each request waits out the watchdog's 2000 ms, then the next tick asks again.
    QCOMPARE(sentAt, (QList<std::int64_t>{0, 2002, 4004, 6006, 8008}));
    QCOMPARE(m_status.count(), 4);
}

void TestPollScheduler::repliesFeedTraceAndLamps()
{
    m_pty = std::make_unique<PtyPair>();
    m_comm->setDeviceName(m_pty->path());
    m_comm->Open();
    QList<QPair<qint64, int>> positions;
    QList<QPair<qint64, int>> velocities;
    m_scheduler->Trace.AddPosition = [&](std::int64_t v, int m) { positions.append({v, m}); };
    m_scheduler->Trace.AddVelocity = [&](std::int64_t v, int m) { velocities.append({v, m}); };
    m_link->PollingEnabled = true;
    m_scheduler->PollRow = 16; // X_ACTUAL of motor 2
    m_scheduler->TimerActionsTimer();
    m_pty->received();
    m_link->PollingEnabled = false;
    QVERIFY(m_pty->send(QByteArray("\x41\x80\x00\x00", 4)));
    QTRY_VERIFY_WITH_TIMEOUT(m_link->LinkIdle, kEventWait);
    QCOMPARE(positions, (QList<QPair<qint64, int>>{{-8388608, 1}}));
    QVERIFY(velocities.isEmpty());
    QCOMPARE(m_statusBits, QList<int>{0x41});
}

void TestPollScheduler::pausedPollingOnlyRunsTheWatchdog()
{
    m_pty = std::make_unique<PtyPair>();
    m_comm->setDeviceName(m_pty->path());
    m_comm->Open();
    m_link->PollingEnabled = false;
    for (int i = 0; i < 10; ++i, ++m_now)
        m_scheduler->TimerActionsTimer();
    QVERIFY(m_pty->received().isEmpty());
    QVERIFY(m_events.isEmpty());
}

QTEST_GUILESS_MAIN(TestPollScheduler)
#include "tst_pollscheduler.moc"
