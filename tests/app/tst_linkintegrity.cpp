// The whole program against a hostile board on a real pseudo-terminal, bytes arriving one at a
// time as a 19200 bit/s line delivers them (or in whole bursts): stray bytes before, inside
// and after replies, truncated replies, replies that come after the watchdog gave up, and all
// of them together. Every value shown must be what the chip holds, every byte written must be
// what was read from it, and polling must go on. The rules themselves are tst_replyframer's.

#include "chip/AccelScaling.h"
#include "chip/RegisterMap.h"
#include "chip/ValueFormat.h"
#include "common/AppFixture.h"
#include "controls/SpinEdit.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QTest>
#include <QTimer>

using namespace kvx;
using namespace kvx::sim;

namespace {

constexpr int kEventWait = 15000; // ms; only reached when a test fails
constexpr int kShownWanted = 40;  // poll replies shown before the run is judged

struct FaultRow
{
    bool lineTiming = true;
    std::chrono::microseconds batch{0}; // an adapter's delivery ticks
    Faults faults;
};

// Motors standing at positions, with target velocities, that tell them apart, so that a reply
// shown in another row's or another motor's field is seen.
void setUpChip(ChipModel &chip)
{
    for (int m = 0; m < kMotorCount; ++m) {
        const std::uint32_t x = 11111u * std::uint32_t(m + 1);
        chip.exchange(Datagram::make(motorWriteAddress(m, motor::XTarget), x));
        chip.exchange(Datagram::make(motorWriteAddress(m, motor::XActual), x));
        chip.exchange(Datagram::make(motorWriteAddress(m, motor::VTarget), 100u * (m + 1)));
    }
}

} // namespace

Q_DECLARE_METATYPE(FaultRow)

class TestLinkIntegrity : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void pollingShowsOnlyWhatTheChipHolds_data();
    void pollingShowsOnlyWhatTheChipHolds();
    void goUnderStrayBytesWritesWhatWasRead();

private:
    // Opens COM1 on a Pentar board with `row`'s faults, its chip set up, the link's clock
    // jumping past the watchdog whenever the board holds a reply back.
    void openFaultyBoard(const FaultRow &row);

    std::unique_ptr<AppFixture> m_app;
    int m_lateReplies = 0;
};

void TestLinkIntegrity::init()
{
    m_app = std::make_unique<AppFixture>();
    m_lateReplies = 0;
}

void TestLinkIntegrity::cleanup()
{
    m_app.reset();
}

void TestLinkIntegrity::openFaultyBoard(const FaultRow &row)
{
    BoardOptions options;
    options.variant = Variant::Pentar;
    options.lineTiming = row.lineTiming;
    options.deliveryBatch = row.batch;
    options.faults = row.faults;
    PtyBoardServer &board = m_app->startBoard(options);
    QVERIFY(board.serving());
    setUpChip(board.board().chip());
    board.board().onFrame = [this](const FrameLogEntry &e) {
        if (e.note != "late")
            return;
        // Waiting out the watchdog's 2 s would make the test slow: its clock jumps instead.
        ++m_lateReplies;
        QTimer::singleShot(0, this, [this] { m_app->skipWatchdog(); });
    };
    m_app->createWindows();
    m_app->useSkippingClock();
    m_app->main().BtnOpenClick();
    QTRY_VERIFY_WITH_TIMEOUT(m_app->session().Connected(), kEventWait);
}

void TestLinkIntegrity::pollingShowsOnlyWhatTheChipHolds_data()
{
    // The faults one by one, on every kind of line, are tst_lines's, in virtual time; these
    // rows take the real serial path on a pseudo-terminal, with the clock skipping the waits.
    QTest::addColumn<FaultRow>("row");
    QTest::addColumn<bool>("late"); // the row makes the board answer after the watchdog
    // An adapter that hands the bytes over every few milliseconds: a batch may end inside a
    // reply, so that a reply shifted by a stray keeps arriving exactly four bytes at a time.
    FaultRow batched;
    batched.faults.strayEvery = 11;
    batched.faults.strayAt = StrayPosition::Inside;
    batched.batch = std::chrono::milliseconds(16);
    QTest::newRow("stray inside replies, delivered every 16 ms") << batched << false;
    FaultRow late;
    late.faults.lateEvery = 40;
    late.faults.lateBy = std::chrono::milliseconds(300); // inside the quiet after the watchdog
    QTest::newRow("late replies") << late << true;
}

void TestLinkIntegrity::pollingShowsOnlyWhatTheChipHolds()
{
    QFETCH(FaultRow, row);
    QFETCH(bool, late);
    QStringList wrong;
    int shown = 0;
    // Connected before the board starts answering: every reply shown is checked.
    openFaultyBoard(row);
    BoardSession &session = m_app->session();
    const ChipModel &chip = m_app->board().board().chip();
    connect(&session.scheduler(), &PollScheduler::pollReplyShown, this,
            [&](int r, const Reply &reply) {
                ++shown;
                const std::uint8_t address = session.table().row(r).address;
                const Reply truth{chip.status(), DataBytes::fromValue(chip.peek(address))};
                if (reply != truth)
                    wrong << QStringLiteral("row %1: %2 for %3")
                                 .arg(r)
                                 .arg(QString::number(reply.data.value(), 16),
                                      QString::number(truth.data.value(), 16));
            });

    QTRY_VERIFY_WITH_TIMEOUT(shown >= kShownWanted && (!late || m_lateReplies >= 2), kEventWait);
    // Polling goes on after the last fault.
    const int before = shown;
    QTRY_VERIFY_WITH_TIMEOUT(shown > before + 12, kEventWait);
    QTRY_COMPARE_WITH_TIMEOUT(m_app->main().StaticInfo1->text(),
                              QStringLiteral("The board is active."), kEventWait);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QLatin1String("; "))));

    // The faults were met and dealt with, and the fields show the chip.
    const LinkCounters &counters = session.link().counters();
    QVERIFY(counters.strayBytes + counters.lateBytes > 0);
    if (late)
        QVERIFY(counters.unanswered >= 2);
    for (int m = 0; m < kMotorCount; ++m) {
        QCOMPARE(m_app->main().Motors[std::size_t(m)].StaticXAct->text(),
                 QString::number(11111 * (m + 1)));
    }
}

void TestLinkIntegrity::goUnderStrayBytesWritesWhatWasRead()
{
    // A stray byte used to shift a read's reply into REF_CONF, P_MUL / P_DIV.
    FaultRow row;
    row.faults.strayEvery = 7;
    row.faults.strayAt = StrayPosition::Inside;
    openFaultyBoard(row);
    ChipModel &chip = m_app->board().board().chip();
    for (int m = 0; m < kMotorCount; ++m) {
        // Dividers and REF_CONF that tell the motors apart.
        chip.exchange(Datagram{motorWriteAddress(m, motor::Dividers),
                               {0, std::uint8_t(((2 + m) << 4) | (6 + m)), 0}});
        chip.exchange(
            Datagram{motorWriteAddress(m, motor::RefConfRampMode), {0, std::uint8_t(m + 1), 0}});
        MotorGroup &g = m_app->main().Motors[std::size_t(m)];
        g.CbRampMode->setCurrentIndex(0);
        g.EditAMax->setValue(100);
        g.EditVMax->setValue(10);
        g.EditXTarget->setValue(11111 * (m + 1)); // where it stands
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_app->main().StaticInfo1->text(),
                              QStringLiteral("The board is active."), kEventWait);

    QList<QByteArray> written;
    m_app->board().board().onFrame = [&](const FrameLogEntry &e) { written << e.request; };
    for (int i = 0; i < 8; ++i)
        m_app->main().BtnGoAllClick();

    int checked = 0;
    for (const QByteArray &f : written) {
        const auto address = std::uint8_t(f.at(1));
        if (isReadAddress(address) || isRamAddress(address) || bankOf(address) == kCommonBank)
            continue;
        const int m = bankOf(address);
        const DataBytes data{std::uint8_t(f.at(2)), std::uint8_t(f.at(3)), std::uint8_t(f.at(4))};
        if (registerIndexOf(address) == motor::RefConfRampMode) {
            QCOMPARE(data, (DataBytes{0, std::uint8_t(m + 1), 0}));
            ++checked;
        } else if (registerIndexOf(address) == motor::PMulPDiv) {
            const PMulPDiv p = CalcPMulPDiv(100, 6 + m, 2 + m);
            QCOMPARE(data, (DataBytes{0, std::uint8_t(p.pMul), std::uint8_t(p.pDiv)}));
            ++checked;
        }
    }
    // Not every Go can get through such a line, but some must.
    QVERIFY2(checked >= 6, qPrintable(QString::number(checked)));
    QVERIFY(m_app->session().link().counters().strayBytes > 0);
}

QTEST_MAIN(TestLinkIntegrity)
#include "tst_linkintegrity.moc"
