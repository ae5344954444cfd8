// The serial-port component against a bare pseudo-terminal played by the test: open, close and
// reopen, notifications and their counts, writes that reach the system at once, purges, the
// read bound and a vanished device. Name resolution is tst_portname's; "sim" ports are opened
// by the session (tst_pollscheduler), the board behind them is tested in tests/sim.

#include "common/PtyPair.h"
#include "link/async32.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>

#include <cerrno>

using namespace kvx;
using namespace std::chrono_literals;

namespace {
// Upper bound for events that arrive within microseconds; only reached when a test fails.
constexpr int kEventWait = 2000; // ms
} // namespace

class TestAsync32 : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void missingDeviceStaysClosedAndReportsError();
    void openReportsSuccess();
    void closeOnClosedDoesNothing();
    void reopenDeliversWithNewNotifier();
    void countsAccumulateWhileHandlerReadsNothing();
    void handlerThatWaitsKeepsReceiving();
    void writeReachesSystemWithoutEventLoop();
    void secondWriteWhilePendingSendsNothing();
    void purgeInputDiscardsQueuedBytes();
    void readThresholdGathersBytes();
    void countSeesBytesStillOnTheirWay();
    void purgeOutputDiscardsBacklog();
    void staleBytesAreClearedAtOpen();
    void readBufferIsBounded_data();
    void readBufferIsBounded();
    void hangUpIsReportedOnceAndCloses();
    void hangUpEndsTransmitWaitsAtOnce();
    void purgeAfterAFullBufferStillReceives();
    void fullTransmitQueueIsNotALostDevice();
    void rtsToggleWorksWithoutModemLines();
    void fourDataBitsAreRefused();

private:
    void openOnPty();

    std::unique_ptr<PtyPair> m_pty;
    std::unique_ptr<TComm32> m_comm;
    QList<int> m_counts;
};

void TestAsync32::init()
{
    m_pty = std::make_unique<PtyPair>();
    QVERIFY(m_pty->ok());
    m_comm = std::make_unique<TComm32>();
    m_comm->setBaudRate(TBaudRate::cbr19200);
    m_comm->setFlowControl(TFlowControl::fcRTSToggle);
    m_counts.clear();
}

void TestAsync32::cleanup()
{
    m_comm.reset();
    m_pty.reset();
}

void TestAsync32::openOnPty()
{
    m_comm->setDeviceName(m_pty->path());
    m_comm->Open();
    QVERIFY(m_comm->Connected());
}

void TestAsync32::missingDeviceStaysClosedAndReportsError()
{
    int reported = -1;
    m_comm->OnOpen = [&](QObject *, int, int error) { reported = error; };
    m_comm->setDeviceName(QStringLiteral("/dev/kvx-no-such-device"));
    m_comm->Open();
    QVERIFY(!m_comm->Connected());
    QCOMPARE(reported, ENOENT);
    QCOMPARE(m_comm->lastError(), ENOENT);
    QVERIFY(!m_comm->lastErrorText().isEmpty());
    QCOMPARE(m_comm->WriteBytes("#", 1), -1);
}

void TestAsync32::openReportsSuccess()
{
    int reported = -1;
    m_comm->OnOpen = [&](QObject *, int, int error) { reported = error; };
    openOnPty();
    QCOMPARE(reported, 0);
    QCOMPARE(m_comm->openedDevice(), m_pty->path());
}

void TestAsync32::closeOnClosedDoesNothing()
{
    m_comm->Close();
    QVERIFY(!m_comm->Connected());
    openOnPty();
    m_comm->Close();
    m_comm->Close();
    QVERIFY(!m_comm->Connected());
    QCOMPARE(m_comm->OutQueueCount(), 0);
}

void TestAsync32::reopenDeliversWithNewNotifier()
{
    // Catches a reopen that keeps the old device's notifications wired to nothing.
    m_comm->OnRxChar = [&](QObject *, int count) {
        m_counts << count;
        QByteArray b(count, 0);
        m_comm->ReadBytes(b.data(), count);
    };
    openOnPty();
    m_comm->Open(); // open while open: closes and opens again
    QVERIFY(m_comm->Connected());
    QVERIFY(m_pty->send("\x01\x02\x03\x04"));
    QTRY_COMPARE_WITH_TIMEOUT(m_counts, QList<int>{4}, kEventWait);
}

void TestAsync32::countsAccumulateWhileHandlerReadsNothing()
{
    m_comm->OnRxChar = [&](QObject *, int count) { m_counts << count; };
    openOnPty();
    QVERIFY(m_pty->send("ab"));
    QTRY_COMPARE_WITH_TIMEOUT(m_counts.size(), 1, kEventWait);
    QVERIFY(m_pty->send("cde"));
    QTRY_COMPARE_WITH_TIMEOUT(m_counts.size(), 2, kEventWait);
    QCOMPARE(m_counts, (QList<int>{2, 5}));
    char buf[8] = {};
    QCOMPARE(m_comm->ReadBytes(buf, 5), 5);
    QCOMPARE(QByteArray(buf, 5), QByteArray("abcde"));
}

void TestAsync32::handlerThatWaitsKeepsReceiving()
{
    // A handler that waits (a message box, a reply) must still see later bytes; Qt alone would
    // not notify again until the first handler returned.
    bool secondSeenInsideFirst = false;
    int depth = 0;
    m_comm->OnRxChar = [&](QObject *, int count) {
        m_counts << count;
        if (depth > 0) {
            secondSeenInsideFirst = true;
            return;
        }
        ++depth;
        QVERIFY(m_pty->send("Z"));
        QElapsedTimer t;
        t.start();
        while (!secondSeenInsideFirst && t.elapsed() < 2000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        --depth;
    };
    openOnPty();
    QVERIFY(m_pty->send("A"));
    QTRY_VERIFY_WITH_TIMEOUT(m_counts.size() >= 2, kEventWait);
    QVERIFY(secondSeenInsideFirst);
    QCOMPARE(m_counts.mid(0, 2), (QList<int>{1, 2}));
}

void TestAsync32::writeReachesSystemWithoutEventLoop()
{
    openOnPty();
    const QByteArray frame("#\x0B\x00\x00\x00", 5);
    QCOMPARE(m_comm->WriteBytes(frame.constData(), 5), 5);
    QElapsedTimer t;
    t.start();
    while (m_comm->OutQueueCount() != 0)
        QVERIFY(t.elapsed() < 2000);
    QCOMPARE(m_pty->received(), frame);
}

void TestAsync32::secondWriteWhilePendingSendsNothing()
{
    openOnPty();
    // More than the terminal holds, so that part of it stays in progress.
    const QByteArray big(1 << 20, 'x');
    QCOMPARE(m_comm->WriteBytes(big.constData(), int(big.size())), 0);
    QVERIFY(m_comm->OutQueueCount() > 0);
    QCOMPARE(m_comm->WriteBytes("#", 1), 0);
    // Drain by reading the master side: only the big block arrives, never the "#".
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (got.size() < big.size() && t.elapsed() < 5000) {
        got += m_pty->received();
        m_comm->OutQueueCount(); // hands Qt's backlog to the system as room appears
    }
    QCOMPARE(got.size(), big.size());
    QVERIFY(!got.contains('#'));
}

void TestAsync32::readThresholdGathersBytes()
{
    m_comm->OnRxChar = [&](QObject *, int count) { m_counts << count; };
    openOnPty();
    m_comm->setReadThreshold(3);
    QCOMPARE(m_comm->readThreshold(), 3);
    QVERIFY(m_pty->send("a"));
    QTest::qWait(30); // time enough for a notification that must not come
    QVERIFY(m_counts.isEmpty());
    QVERIFY(m_pty->send("bc"));
    QTRY_COMPARE_WITH_TIMEOUT(m_counts, (QList<int>{3}), kEventWait);
    char buf[8] = {};
    QCOMPARE(m_comm->ReadBytes(buf, 3), 3);

    // What has come is still handed over on request, below the threshold.
    QVERIFY(m_pty->send("x"));
    QTRY_COMPARE_WITH_TIMEOUT(m_comm->inQueueCount(), 1, kEventWait);
    m_comm->fetchInput();
    QCOMPARE(m_comm->ReadBytes(buf, 8), 1);
    QCOMPARE(buf[0], 'x');
    // Without touching the port's settings, and the port still notifies as before.
    QCOMPARE(m_comm->readThreshold(), 3);
    QVERIFY(m_pty->send("yz"));
    QTest::qWait(30);
    QCOMPARE(m_counts, (QList<int>{3}));
    QVERIFY(m_pty->send("w"));
    QTRY_COMPARE_WITH_TIMEOUT(m_counts, (QList<int>{3, 3}), kEventWait);
    QCOMPARE(m_comm->ReadBytes(buf, 8), 3);
    QCOMPARE(QByteArray(buf, 3), QByteArray("yzw"));

    m_comm->setReadThreshold(4);
    m_comm->Close();
    QCOMPARE(m_comm->readThreshold(), 1); // each open starts byte by byte
}

void TestAsync32::countSeesBytesStillOnTheirWay()
{
    // The system hands the bytes over to the terminal's reader apart from their write (a
    // count right after it missed them about one time in four, more on a busy host): the count
    // must see them all the same, or the line would look quiet with a reply's tail on its way.
    openOnPty();
    char buf[8] = {};
    for (int i = 0; i < 200; ++i) {
        m_comm->setReadThreshold(1 + i % 3); // gathering, the system says nothing of fewer
        QVERIFY(m_pty->send("ab"));
        QCOMPARE(m_comm->inQueueCount(), 2);
        m_comm->fetchInput();
        QCOMPARE(m_comm->ReadBytes(buf, 8), 2);
    }
}

void TestAsync32::purgeInputDiscardsQueuedBytes()
{
    m_comm->OnRxChar = [&](QObject *, int count) { m_counts << count; };
    openOnPty();
    QVERIFY(m_pty->send("stale"));
    QTRY_COMPARE_WITH_TIMEOUT(m_counts.size(), 1, kEventWait);
    m_comm->PurgeInput();
    QVERIFY(m_pty->send("1234"));
    QTRY_COMPARE_WITH_TIMEOUT(m_counts.size(), 2, kEventWait);
    QCOMPARE(m_counts.last(), 4);
}

void TestAsync32::purgeOutputDiscardsBacklog()
{
    openOnPty();
    const QByteArray big(1 << 20, 'y');
    m_comm->WriteBytes(big.constData(), int(big.size()));
    QVERIFY(m_comm->OutQueueCount() > 0);
    m_comm->PurgeOutput();
    QCOMPARE(m_comm->OutQueueCount(), 0);
    m_pty->received();
    QCOMPARE(m_comm->WriteBytes("#", 1), 1);
}

void TestAsync32::staleBytesAreClearedAtOpen()
{
    // A reply left on the line before the port opened must not pass for the next one.
    QVERIFY(m_pty->send("old!"));
    m_comm->OnRxChar = [&](QObject *, int count) { m_counts << count; };
    openOnPty();
    QVERIFY(m_pty->send("new"));
    QTRY_COMPARE_WITH_TIMEOUT(m_counts.size(), 1, kEventWait);
    QCOMPARE(m_counts.first(), 3);
}

void TestAsync32::readBufferIsBounded_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("whileOpen");
    QTest::addColumn<int>("bound");
    QTest::newRow("4096, set before opening") << 4096 << false << 4096;
    // 0 is "unlimited" to Qt: it used to be handed on while the port was open.
    QTest::newRow("0, set while open") << 0 << true << 1;
}

void TestAsync32::readBufferIsBounded()
{
    QFETCH(int, size);
    QFETCH(bool, whileOpen);
    QFETCH(int, bound);
    if (!whileOpen)
        m_comm->setReadBufferSize(size);
    int largest = 0;
    m_comm->OnRxChar = [&](QObject *, int count) { largest = std::max(largest, count); };
    openOnPty();
    if (whileOpen)
        m_comm->setReadBufferSize(size);
    const QByteArray flood(512, '\x55');
    int sent = 0;
    for (int i = 0; i < 64; ++i)
        sent += m_pty->send(flood) ? int(flood.size()) : 0;
    QTRY_VERIFY_WITH_TIMEOUT(largest >= bound, kEventWait);
    QTest::qWait(50);
    QVERIFY(sent > 4096);
    QCOMPARE(largest, bound);
}

void TestAsync32::hangUpIsReportedOnceAndCloses()
{
    int lost = 0;
    m_comm->OnDeviceLost = [&](QObject *, const QString &) { ++lost; };
    openOnPty();
    m_pty->hangUp();
    QTRY_COMPARE_WITH_TIMEOUT(lost, 1, kEventWait);
    QVERIFY(!m_comm->Connected());
    QTest::qWait(100); // a flood of read errors would report again here
    QCOMPARE(lost, 1);
    QCOMPARE(m_comm->WriteBytes("#", 1), -1);
}

void TestAsync32::hangUpEndsTransmitWaitsAtOnce()
{
    // A caller waiting for the transmit queue without returning to the event loop used to see
    // the failed bytes stay queued for ever.
    int lost = 0;
    m_comm->OnDeviceLost = [&](QObject *, const QString &) { ++lost; };
    openOnPty();
    m_pty->hangUp();
    QCOMPARE(m_comm->WriteBytes("#\x01\x00\x00\x00", 5), -1);
    QCOMPARE(m_comm->OutQueueCount(), 0);
    QVERIFY(!m_comm->Connected());
    QTRY_COMPARE_WITH_TIMEOUT(lost, 1, kEventWait);
}

void TestAsync32::purgeAfterAFullBufferStillReceives()
{
    // Qt stops reading once its buffer is full; a purge used to leave the port deaf.
    m_comm->setReadBufferSize(4096);
    m_comm->OnRxChar = [&](QObject *, int count) { m_counts << count; };
    openOnPty();
    for (int i = 0; i < 10; ++i)
        QVERIFY(m_pty->send(QByteArray(512, '\x55')));
    QTRY_VERIFY_WITH_TIMEOUT(!m_counts.isEmpty() && m_counts.last() == 4096, kEventWait);
    m_comm->PurgeInput();
    m_pty->received();
    m_counts.clear();
    QVERIFY(m_pty->send("1234"));
    QTRY_VERIFY_WITH_TIMEOUT(!m_counts.isEmpty(), kEventWait);
    QVERIFY(m_counts.contains(4));
}

void TestAsync32::fullTransmitQueueIsNotALostDevice()
{
    // Qt reports a system queue that takes no more bytes as a resource error, as it does a
    // vanished device.
    int lost = 0;
    m_comm->OnDeviceLost = [&](QObject *, const QString &) { ++lost; };
    openOnPty();
    const QByteArray big(1 << 20, 'z');
    QCOMPARE(m_comm->WriteBytes(big.constData(), int(big.size())), 0);
    QTest::qWait(100);
    QVERIFY(m_comm->Connected());
    QCOMPARE(lost, 0);
    QVERIFY(m_comm->OutQueueCount() > 0);
}

void TestAsync32::rtsToggleWorksWithoutModemLines()
{
    // A pseudo-terminal refuses RTS and DTR; that is no reason to fail or to close.
    int lost = 0;
    m_comm->OnDeviceLost = [&](QObject *, const QString &) { ++lost; };
    openOnPty();
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(m_comm->WriteBytes("#ab", 3), 3);
        QElapsedTimer t;
        t.start();
        while (m_comm->OutQueueCount() != 0)
            QVERIFY(t.elapsed() < 2000);
    }
    QTest::qWait(20);
    QVERIFY(m_comm->Connected());
    QCOMPARE(lost, 0);
    QCOMPARE(m_pty->received(), QByteArray("#ab#ab#ab"));
}

void TestAsync32::fourDataBitsAreRefused()
{
    m_comm->setDatabits(TDatabits::da4);
    m_comm->setDeviceName(m_pty->path());
    m_comm->Open();
    QVERIFY(!m_comm->Connected());
    QCOMPARE(m_comm->lastError(), EINVAL);
}

QTEST_GUILESS_MAIN(TestAsync32)
#include "tst_async32.moc"
