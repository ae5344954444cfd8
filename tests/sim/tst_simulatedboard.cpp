// SimulatedBoard: the board firmware as seen on its serial line, with hand-written byte vectors:
// detection and identification per variant, the KORVE start-up sequence and 6-byte frames,
// resynchronisation, partial and stray bytes, line timing and every injected fault. The chip's
// registers and motion are covered by tst_chipmodel; the pty transport by tst_ptyboardserver.

#include "sim/SimulatedBoard.h"

#include <QTest>

#include <string>
#include <vector>

using kvx::Datagram;
using kvx::sim::BoardOptions;
using kvx::sim::FrameLogEntry;
using kvx::sim::Micros;
using kvx::sim::SimulatedBoard;
using kvx::sim::StrayPosition;
using kvx::sim::Variant;

namespace {

// String literals with embedded zero bytes, without their terminator.
template<std::size_t N>
QByteArray bytes(const char (&text)[N])
{
    return QByteArray(text, N - 1);
}

const QByteArray kProbe = QByteArray(128, '\0') + '\xFF';
const QByteArray kReadWord0 = bytes("#\x81\x00\x00\x00");
const QByteArray kWord0Reply = bytes("\x15\x00\x01\x3F"); // RAM word 0 holding 00 01 3F
const QByteArray kStartupHead = " 0132";
const QByteArray kStartupTail = bytes("\x22\x00\x00");

constexpr Micros ms(long long n)
{
    return Micros(n * 1000);
}

BoardOptions optionsFor(Variant variant, bool lineTiming = false, Micros turnaround = {})
{
    BoardOptions options;
    options.variant = variant;
    options.lineTiming = lineTiming;
    options.turnaround = turnaround;
    return options;
}

} // namespace

Q_DECLARE_METATYPE(kvx::sim::Variant)
Q_DECLARE_METATYPE(kvx::sim::StrayPosition)

class TestSimulatedBoard : public QObject
{
    Q_OBJECT

private:
    // A board whose RAM word 0 holds 00 01 3F, so a read of it has a recognisable reply.
    static SimulatedBoard makeBoard(BoardOptions options = {})
    {
        SimulatedBoard board(options);
        board.chip().exchange(Datagram::make(0x80, 0x00013F));
        return board;
    }

    // A KORVE board taken through detection and its start-up sequence.
    static SimulatedBoard korveInLongFrames()
    {
        SimulatedBoard board = makeBoard(optionsFor(Variant::Korve));
        board.receive(kProbe, ms(0));
        board.receive(bytes("#\x01\x00\x00\x00"), ms(100));
        board.receive(kStartupHead, ms(110));
        board.receive(kStartupTail, ms(126));
        (void)board.takeDue(ms(200));
        return board;
    }

private slots:
    void variantNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<Variant>("variant");
        QTest::newRow("plain") << "plain" << true << Variant::Plain;
        QTest::newRow("korve") << "korve" << true << Variant::Korve;
        QTest::newRow("Pentar, any case") << "Pentar" << true << Variant::Pentar;
        QTest::newRow("unknown") << "zap" << false << Variant::Plain;
    }
    void variantNames()
    {
        QFETCH(QString, name);
        QFETCH(bool, valid);
        QFETCH(Variant, variant);
        const std::string text = name.toStdString();
        const auto parsed = kvx::sim::parseVariant(text);
        QCOMPARE(parsed.has_value(), valid);
        if (valid) {
            QCOMPARE(*parsed, variant);
            QCOMPARE(kvx::sim::variantName(variant), name.toLower().toStdString());
        }
    }

    void detection_data()
    {
        QTest::addColumn<Variant>("variant");
        QTest::addColumn<QByteArray>("firstReply");
        QTest::newRow("plain answers normally") << Variant::Plain << bytes("\x15\x00\x00\x00");
        QTest::newRow("KORVE identifies") << Variant::Korve << QByteArray("KOR310v1.0");
        QTest::newRow("Pentar identifies") << Variant::Pentar << QByteArray("ZAP310v1.0");
    }
    void detection()
    {
        QFETCH(Variant, variant);
        QFETCH(QByteArray, firstReply);
        SimulatedBoard board(optionsFor(variant));
        board.receive(kProbe, ms(0));
        QVERIFY(board.takeDue(ms(50)).isEmpty()); // the probe itself is not answered
        board.receive(bytes("#\x01\x00\x00\x00"), ms(100));
        QCOMPARE(board.takeDue(ms(100)), firstReply);
        board.receive(bytes("#\x01\x00\x00\x00"), ms(200));
        QCOMPARE(board.takeDue(ms(200)), bytes("\x15\x00\x00\x00")); // only the first frame
        QVERIFY(!board.longFrames());
    }

    void probeNeedsEightZeros_data()
    {
        QTest::addColumn<int>("zeros");
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("no probe at power-up") << 0 << kWord0Reply;
        QTest::newRow("7 zeros are no probe") << 7 << kWord0Reply;
        QTest::newRow("8 zeros are a probe") << 8 << QByteArray("KOR310v1.0");
    }
    void probeNeedsEightZeros()
    {
        QFETCH(int, zeros);
        QFETCH(QByteArray, reply);
        SimulatedBoard board = makeBoard(optionsFor(Variant::Korve));
        if (zeros > 0)
            board.receive(QByteArray(zeros, '\0') + '\xFF', ms(0));
        board.receive(kReadWord0, ms(10));
        QCOMPARE(board.takeDue(ms(10)), reply);
    }

    void korveStartupSwitchesToLongFrames()
    {
        SimulatedBoard board = korveInLongFrames();
        QVERIFY(board.longFrames());
        QVERIFY(!board.nextDue().has_value()); // the start-up sequence gets no reply
    }

    void korveLongFrames_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("delay"); // us after the frame
        QTest::newRow("fast SPI") << bytes("#\x04\x81\x00\x00\x00") << kWord0Reply << 0;
        QTest::newRow("slow SPI, 1 ms later")
            << bytes("!\x04\x81\x00\x00\x00") << kWord0Reply << 1000;
        QTest::newRow("count byte 5 discarded")
            << bytes("#\x05\x81\x00\x00\x00") << QByteArray() << 0;
        QTest::newRow("5-byte frame waits") << kReadWord0 << QByteArray() << 0;
    }
    void korveLongFrames()
    {
        QFETCH(QByteArray, frame);
        QFETCH(QByteArray, reply);
        QFETCH(int, delay);
        SimulatedBoard board = korveInLongFrames();
        board.receive(frame, ms(300));
        if (delay > 0)
            QVERIFY(board.takeDue(ms(300) + Micros(delay - 1)).isEmpty());
        QCOMPARE(board.takeDue(ms(300) + Micros(delay)), reply);
        // Whatever happened, a good frame after a pause is answered.
        board.receive(bytes("#\x04\x81\x00\x00\x00"), ms(400));
        QCOMPARE(board.takeDue(ms(400)), kWord0Reply);
    }

    void sixByteFrameBeforeStartupIsFiveBytes()
    {
        // Before its start-up sequence a KORVE board reads "#" and the next four bytes; the
        // sixth byte is dropped as it cannot start a frame.
        SimulatedBoard board = makeBoard(optionsFor(Variant::Korve));
        board.receive(bytes("#\x04\x81\x00\x00\x00"), ms(0));
        QCOMPARE(board.takeDue(ms(0)), bytes("\x15\x00\x00\x00"));
        board.receive(kReadWord0, ms(10));
        QCOMPARE(board.takeDue(ms(10)), kWord0Reply);
    }

    void startupSequence_data()
    {
        QTest::addColumn<Variant>("variant");
        QTest::addColumn<QByteArray>("between"); // bytes between the two halves
        QTest::addColumn<bool>("longFrames");
        QTest::newRow("KORVE") << Variant::Korve << QByteArray() << true;
        QTest::newRow("KORVE, cancelled by a frame") << Variant::Korve << kReadWord0 << false;
        QTest::newRow("plain ignores it") << Variant::Plain << QByteArray() << false;
        QTest::newRow("Pentar ignores it") << Variant::Pentar << QByteArray() << false;
    }
    void startupSequence()
    {
        QFETCH(Variant, variant);
        QFETCH(QByteArray, between);
        QFETCH(bool, longFrames);
        SimulatedBoard board = makeBoard(optionsFor(variant));
        board.receive(kStartupHead, ms(0));
        board.receive(between, ms(5));
        board.receive(kStartupTail, ms(20));
        QCOMPARE(board.longFrames(), longFrames);
        QCOMPARE(board.takeDue(ms(20)), between.isEmpty() ? QByteArray() : kWord0Reply);
    }

    void probeReturnsKorveToShortFrames()
    {
        SimulatedBoard board = korveInLongFrames();
        board.receive(kProbe, ms(300));
        QVERIFY(!board.longFrames());
        board.receive(kReadWord0, ms(400));
        QCOMPARE(board.takeDue(ms(400)), QByteArray("KOR310v1.0"));
    }

    void framesRunTheChip()
    {
        SimulatedBoard board = makeBoard();
        board.receive(bytes("#\x80\x00\x02\x40"), ms(0));
        QCOMPARE(board.takeDue(ms(0)), bytes("\x15\x00\x02\x40")); // a write answers the new word
        // V_MAX 100, A_MAX 100, X_TARGET 1000: the target is no longer reached.
        board.receive(bytes("#\x06\x00\x00\x64#\x0C\x00\x00\x64#\x00\x00\x03\xE8"), ms(0));
        QCOMPARE(board.takeDue(ms(0)), bytes("\x15\x00\x00\x64\x15\x00\x00\x64\x14\x00\x03\xE8"));
        // No advance(): the frame itself runs the motors up to its own time.
        board.receive(bytes("#\x03\x00\x00\x00"), ms(1000));
        QCOMPARE(board.takeDue(ms(1000)), bytes("\x15\x00\x03\xE8"));
    }

    void faults_data()
    {
        QTest::addColumn<int>("drop");
        QTest::addColumn<int>("stray");
        QTest::addColumn<int>("truncate");
        QTest::addColumn<bool>("silent");
        QTest::addColumn<QByteArray>("output"); // for four reads of RAM word 0
        const QByteArray r = kWord0Reply;
        const QByteArray cut = r.left(3);
        const QByteArray s = r + '\x55';
        QTest::newRow("none") << 0 << 0 << 0 << false << r + r + r + r;
        QTest::newRow("drop every 2nd") << 2 << 0 << 0 << false << r + r;
        QTest::newRow("stray every 2nd") << 0 << 2 << 0 << false << r + s + r + s;
        QTest::newRow("truncate every 3rd") << 0 << 0 << 3 << false << r + r + cut + r;
        QTest::newRow("silent") << 1 << 1 << 1 << true << QByteArray();
        QTest::newRow("drop beats truncate") << 2 << 0 << 2 << false << r + r;
        QTest::newRow("truncate beats stray") << 0 << 2 << 2 << false << r + cut + r + cut;
        QTest::newRow("drop beats stray") << 2 << 1 << 0 << false << s + s;
    }

    void strayPositionsAndLateReplies_data()
    {
        QTest::addColumn<StrayPosition>("at");
        QTest::addColumn<int>("late");
        QTest::addColumn<QByteArray>("output"); // by 100 ms, for two reads of RAM word 0
        QTest::addColumn<QByteArray>("later");  // by 1 s
        const QByteArray r = kWord0Reply;
        QTest::newRow("stray before")
            << StrayPosition::Before << 0 << r + QByteArray("\x55") + r << QByteArray();
        QTest::newRow("stray inside")
            << StrayPosition::Inside << 0 << r + r.left(2) + '\x55' + r.mid(2) << QByteArray();
        QTest::newRow("stray after") << StrayPosition::After << 0 << r + r + '\x55' << QByteArray();
        // The second reply waits 500 ms; nothing overtakes it.
        QTest::newRow("late") << StrayPosition::After << 2 << r << r;
    }
    void strayPositionsAndLateReplies()
    {
        QFETCH(StrayPosition, at);
        QFETCH(int, late);
        QFETCH(QByteArray, output);
        QFETCH(QByteArray, later);
        BoardOptions options;
        options.faults.strayEvery = late ? 0 : 2;
        options.faults.strayAt = at;
        options.faults.lateEvery = late;
        options.faults.lateBy = std::chrono::milliseconds(500);
        SimulatedBoard board = makeBoard(options);
        board.receive(kReadWord0, ms(0));
        board.receive(kReadWord0, ms(10));
        QCOMPARE(board.takeDue(ms(100)), output);
        QCOMPARE(board.takeDue(ms(1000)), later);
    }
    void faults()
    {
        QFETCH(int, drop);
        QFETCH(int, stray);
        QFETCH(int, truncate);
        QFETCH(bool, silent);
        QFETCH(QByteArray, output);
        BoardOptions options;
        options.faults = {drop, stray, truncate, silent};
        SimulatedBoard board = makeBoard(options);
        for (int i = 0; i < 4; ++i)
            board.receive(kReadWord0, ms(10 * i));
        QCOMPARE(board.takeDue(ms(100)), output);
    }

    void identificationCountsForFaults_data()
    {
        QTest::addColumn<int>("drop");
        QTest::addColumn<int>("truncate");
        QTest::addColumn<QByteArray>("output");
        QTest::newRow("2nd frame dropped") << 2 << 0 << QByteArray("KOR310v1.0") + kWord0Reply;
        QTest::newRow("identification cut")
            << 0 << 1 << QByteArray("KOR310v1.") + bytes("\x15\x00\x01");
    }
    void identificationCountsForFaults()
    {
        QFETCH(int, drop);
        QFETCH(int, truncate);
        QFETCH(QByteArray, output);
        BoardOptions options = optionsFor(Variant::Korve);
        options.faults.dropEvery = drop;
        options.faults.truncateEvery = truncate;
        SimulatedBoard board = makeBoard(options);
        board.receive(kProbe, ms(0));
        for (int i = 1; i <= (drop > 0 ? 3 : 2); ++i)
            board.receive(kReadWord0, ms(10 * i));
        QCOMPARE(board.takeDue(ms(100)), output);
    }

    void lineTiming_data()
    {
        QTest::addColumn<int>("turnaround");
        QTest::addColumn<QList<int>>("due"); // each reply byte, us
        // Request 5 bytes from 1000 us, reply bytes at 6..9 byte times of 520.83 us.
        QTest::newRow("no turnaround") << 0 << QList<int>{4125, 4646, 5167, 5688};
        QTest::newRow("2 ms turnaround") << 2000 << QList<int>{6125, 6646, 7167, 7688};
    }
    void lineTiming()
    {
        QFETCH(int, turnaround);
        QFETCH(QList<int>, due);
        SimulatedBoard board = makeBoard(optionsFor(Variant::Plain, true, Micros(turnaround)));
        board.receive(kReadWord0, Micros(1000));
        QByteArray got;
        for (int t : due) {
            QCOMPARE(board.nextDue(), std::optional<Micros>(Micros(t)));
            QVERIFY(board.takeDue(Micros(t - 1)).isEmpty());
            got += board.takeDue(Micros(t));
        }
        QCOMPARE(got, kWord0Reply);
        QVERIFY(!board.nextDue().has_value());
    }

    void lineTimingKeepsBothLinesSerial()
    {
        // Probe and two frames handed over at once: the receive line takes them one byte after
        // another; the 10-byte identification holds the transmit line, so the second reply
        // follows it instead of overlapping it.
        SimulatedBoard board = makeBoard(optionsFor(Variant::Pentar, true));
        board.receive(kProbe + kReadWord0 + kReadWord0, Micros(0));
        QCOMPARE(board.nextDue(), std::optional<Micros>(Micros(70313))); // 135 byte times
        QVERIFY(board.takeDue(Micros(74999)).size() == 9);
        QCOMPARE(board.takeDue(Micros(75000)), QByteArray("0")); // 144: last identification byte
        QCOMPARE(board.takeDue(Micros(77083)), kWord0Reply.left(3));
        QCOMPARE(board.takeDue(Micros(77084)), kWord0Reply.right(1)); // 148 byte times
    }

    void withoutLineTimingReplyIsDueAfterTurnaround()
    {
        SimulatedBoard board = makeBoard(optionsFor(Variant::Plain, false, Micros(300)));
        board.receive(kReadWord0, Micros(1000));
        QCOMPARE(board.nextDue(), std::optional<Micros>(Micros(1300)));
        QVERIFY(board.takeDue(Micros(1299)).isEmpty());
        QCOMPARE(board.takeDue(Micros(1300)), kWord0Reply);
    }

    void partialFrameAbandonedAfterGap_data()
    {
        QTest::addColumn<int>("gap"); // us between "#\x81" and the rest
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("abandoned");
        // Kept, the bytes form "#\x81#\x83\x00" (a read of word 0); dropped, "#\x83..." reads
        // word 1, which is 0.
        QTest::newRow("2 ms: one frame") << 2000 << kWord0Reply << false;
        QTest::newRow("5 ms: still one frame") << 5000 << kWord0Reply << false;
        QTest::newRow("5.001 ms: abandoned") << 5001 << bytes("\x15\x00\x00\x00") << true;
        QTest::newRow("2 s: abandoned") << 2'000'000 << bytes("\x15\x00\x00\x00") << true;
    }
    void partialFrameAbandonedAfterGap()
    {
        QFETCH(int, gap);
        QFETCH(QByteArray, reply);
        QFETCH(bool, abandoned);
        SimulatedBoard board = makeBoard();
        std::vector<std::string_view> notes;
        board.onFrame = [&](const FrameLogEntry &e) { notes.push_back(e.note); };
        board.receive(bytes("#\x81"), Micros(0));
        board.receive(bytes("#\x83\x00\x00\x00"), Micros(gap));
        QCOMPARE(board.takeDue(Micros(gap)), reply);
        QCOMPARE(notes.front() == "abandoned partial frame", abandoned);
    }

    void probeAfterPartialFrame_data()
    {
        QTest::addColumn<int>("gap");
        QTest::addColumn<QByteArray>("output");
        QTest::newRow("old partial dropped") << 50'000 << QByteArray("ZAP310v1.0");
        // Zero bytes are data: a partial frame young enough is completed by the probe.
        QTest::newRow("young partial completed") << 1000 << kWord0Reply + "ZAP310v1.0";
    }
    void probeAfterPartialFrame()
    {
        QFETCH(int, gap);
        QFETCH(QByteArray, output);
        SimulatedBoard board = makeBoard(optionsFor(Variant::Pentar));
        board.receive(bytes("#\x81"), Micros(0));
        board.receive(kProbe, Micros(gap));
        board.receive(bytes("#\x83\x00\x00\x00"), Micros(gap + 100'000));
        QCOMPARE(board.takeDue(Micros(gap + 100'000)), output);
    }

    void strayBytesIgnored_data()
    {
        QTest::addColumn<QByteArray>("junk");
        QTest::newRow("text") << QByteArray("xyz");
        QTest::newRow("0xFF after one zero") << bytes("\x00\xFF");
        QTest::newRow("slow start in short mode") << bytes("!\x04");
        QTest::newRow("start-up tail alone") << kStartupTail;
        QTest::newRow("broken start-up head") << QByteArray(" 01");
    }
    void strayBytesIgnored()
    {
        QFETCH(QByteArray, junk);
        SimulatedBoard board = makeBoard(optionsFor(Variant::Korve));
        board.receive(junk + kReadWord0, ms(0));
        QCOMPARE(board.takeDue(ms(0)), kWord0Reply);
        QVERIFY(!board.longFrames());
    }

    void outputQueueIsBounded()
    {
        SimulatedBoard board = makeBoard();
        for (int i = 0; i < 2000; ++i)
            board.receive(kReadWord0, Micros(i));
        board.receive(bytes("#\x80\x00\x02\x40"), Micros(2000));
        const QByteArray out = board.takeDue(ms(10));
        QCOMPARE(out.size(), 4096);
        QVERIFY(out.endsWith(bytes("\x15\x00\x02\x40"))); // the oldest went, not the newest
    }

    void onFrameLogsEveryExchange()
    {
        std::vector<FrameLogEntry> log;
        SimulatedBoard board(optionsFor(Variant::Korve));
        board.onFrame = [&](const FrameLogEntry &e) { log.push_back(e); };
        board.receive(kProbe, ms(0));
        board.receive(bytes("#\x01\x00\x00\x00"), ms(10));
        board.receive(kStartupHead + kStartupTail, ms(20));
        board.receive(bytes("#\x04\x01\x00\x00\x00"), ms(30));
        QCOMPARE(log.size(), std::size_t(4));
        QCOMPARE(log[0].note, std::string_view("resynchronisation probe"));
        QCOMPARE(log[1].note, std::string_view("identification"));
        QCOMPARE(log[1].request, bytes("#\x01\x00\x00\x00"));
        QCOMPARE(log[1].reply, QByteArray("KOR310v1.0"));
        QCOMPARE(log[1].at, ms(10));
        QCOMPARE(log[2].note, std::string_view("start-up sequence"));
        QCOMPARE(log[2].request, kStartupHead + kStartupTail);
        QCOMPARE(log[3].reply, bytes("\x15\x00\x00\x00"));
    }
};

QTEST_APPLESS_MAIN(TestSimulatedBoard)
#include "tst_simulatedboard.moc"
