// The traffic view through the program and a simulated board: a Go decoded step by step, an
// unanswered request, the filters, pausing and saving.

#include "app/TrafficModel.h"
#include "chip/AccelScaling.h"
#include "chip/RegisterMap.h"
#include "common/AppFixture.h"
#include "controls/SpinEdit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

using namespace kvx;
using namespace kvx::sim;

namespace {

constexpr int kEventWait = AppFixture::kEventWait;

QStringList column(TrafficModel &model, int column, const QString &kind = {})
{
    QStringList texts;
    for (int r = 0; r < model.rowCount(); ++r) {
        if (kind.isEmpty() || model.index(r, TrafficModel::Kind).data().toString() == kind)
            texts << model.index(r, column).data().toString();
    }
    return texts;
}

} // namespace

class TestTrafficView : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void goInRampModeDecoded();
    void unansweredRequestShown();
    void plainBoardsShortAnswerShown();
    void pauseStopsTheViewOnly();
    void savesWhatTheViewLists_data();
    void savesWhatTheViewLists();

private:
    void openBoard(const BoardOptions &options = {});

    std::unique_ptr<AppFixture> m_app;
};

void TestTrafficView::init()
{
    m_app = std::make_unique<AppFixture>();
}

void TestTrafficView::cleanup()
{
    m_app.reset();
}

void TestTrafficView::openBoard(const BoardOptions &given)
{
    BoardOptions options = given;
    options.variant = Variant::Pentar;
    QVERIFY(m_app->startBoard(options).serving());
    m_app->createWindows();
    m_app->main().BtnTrafficClick();
    QVERIFY(m_app->traffic().isVisible());
    QVERIFY(m_app->openAndWaitFor(QStringLiteral("Pentar detected!")));
}

void TestTrafficView::goInRampModeDecoded()
{
    openBoard();
    ChipModel &chip = m_app->board().board().chip();
    chip.exchange(Datagram{motorWriteAddress(0, motor::Dividers), {0, 0x26, 0}});
    chip.exchange(Datagram{motorWriteAddress(0, motor::RefConfRampMode), {0, 0x03, 1}});
    MotorGroup &g = m_app->main().Motors[0];
    g.CbRampMode->setCurrentIndex(0);
    g.EditAMax->setValue(100);
    g.EditVMax->setValue(800);
    g.EditVMin->setValue(3);
    g.EditXTarget->setValue(-1000);
    m_app->traffic().CheckHidePolls->setChecked(true);
    m_app->main().BtnGo1Click(g.BtnGo);
    TrafficModel &model = m_app->traffic().model();
    QTRY_COMPARE_WITH_TIMEOUT(column(model, TrafficModel::Kind, QStringLiteral("reply")).size(), 8,
                              kEventWait);

    const PMulPDiv p = CalcPMulPDiv(100, 6, 2);
    QCOMPARE(column(model, TrafficModel::Meaning, QStringLiteral("direct request")),
             (QStringList{
                 QStringLiteral("read PULSDIV / RAMPDIV / µSTEP_RES motor 1"),
                 QStringLiteral("write P_MUL / P_DIV motor 1: P_MUL = %1, P_DIV = %2")
                     .arg(p.pMul)
                     .arg(p.pDiv),
                 QStringLiteral("read REF_CONF / RAMP_MODE motor 1"),
                 QStringLiteral("write REF_CONF / RAMP_MODE motor 1: LP = 0, REF_CONF = "
                                "DISABLE_STOP_L+DISABLE_STOP_R, RAMP_MODE = 0"),
                 QStringLiteral("write A_MAX motor 1 = 100"),
                 QStringLiteral("write V_MAX motor 1 = 800"),
                 QStringLiteral("write V_MIN motor 1 = 3"),
                 QStringLiteral("write X_TARGET motor 1 = -1000"),
             }));
    // The read's reply as the chip held the dividers; polls stay hidden.
    QVERIFY(column(model, TrafficModel::Meaning, QStringLiteral("reply"))
                .first()
                .startsWith(QStringLiteral("PULSDIV / RAMPDIV / µSTEP_RES motor 1: PULSDIV = 2, "
                                           "RAMPDIV = 6")));
    QVERIFY(column(model, TrafficModel::Kind, QStringLiteral("poll")).isEmpty());

    // Another motor's filter shows none of it.
    m_app->traffic().CbMotor->setCurrentIndex(2);
    QVERIFY(column(model, TrafficModel::Kind, QStringLiteral("direct request")).isEmpty());
}

void TestTrafficView::unansweredRequestShown()
{
    BoardOptions options;
    options.faults.silentTo = motorReadAddress(1, motor::XActual);
    openBoard(options);
    m_app->useSkippingClock();
    m_app->skipWatchdog();
    TrafficModel &model = m_app->traffic().model();
    QTRY_VERIFY_WITH_TIMEOUT(
        !column(model, TrafficModel::Kind, QStringLiteral("unanswered")).isEmpty(), kEventWait);
    // The last request before it is the one nobody answered.
    const QStringList kinds = column(model, TrafficModel::Kind);
    const QStringList meanings = column(model, TrafficModel::Meaning);
    int request = int(kinds.indexOf(QStringLiteral("unanswered")));
    while (request > 0 && kinds.at(request) != QStringLiteral("poll"))
        --request;
    QCOMPARE(meanings.at(request), QStringLiteral("read X_ACTUAL motor 2"));
}

void TestTrafficView::plainBoardsShortAnswerShown()
{
    // A plain board answers the identification's request with 4 bytes; they used to vanish
    // with the give-up, and the view said nothing came; then it called them a stray and the
    // request unanswered.
    QVERIFY(m_app->startBoard().serving());
    m_app->createWindows();
    m_app->main().BtnTrafficClick();
    m_app->useSkippingClock();
    m_app->main().BtnOpenClick();
    TrafficModel &model = m_app->traffic().model();
    QTRY_VERIFY_WITH_TIMEOUT(m_app->session().link().LinkIdle() || model.rowCount() > 0,
                             kEventWait);
    // The 4 bytes are in before the watchdog is skipped: a busy host may take longer than any
    // fixed wait to hand them over.
    QTRY_COMPARE_WITH_TIMEOUT(m_app->session().link().framer().unfinished().size(), 4, kEventWait);
    m_app->skipWatchdog(true);
    QTRY_VERIFY_WITH_TIMEOUT(
        column(model, TrafficModel::Kind).contains(QStringLiteral("identification")), kEventWait);
    const QStringList kinds = column(model, TrafficModel::Kind);
    const QStringList meanings = column(model, TrafficModel::Meaning);
    const int at = int(kinds.indexOf(QStringLiteral("identification")));
    QCOMPARE(meanings.at(at),
             QStringLiteral("a plain board's answer to the identification request"));
    QCOMPARE(column(model, TrafficModel::Bytes).at(at).split(QLatin1Char(' ')).size(), 4);
    QVERIFY(!kinds.contains(QStringLiteral("unanswered")));
    QVERIFY(!kinds.contains(QStringLiteral("stray")));
}

void TestTrafficView::pauseStopsTheViewOnly()
{
    openBoard();
    TFormTraffic &view = m_app->traffic();
    view.CheckPause->setChecked(true);
    const int shown = view.model().rowCount();
    const std::uint64_t logged = m_app->session().trafficLog().total();
    QTRY_VERIFY_WITH_TIMEOUT(m_app->session().trafficLog().total() > logged + 20, kEventWait);
    QTest::qWait(2 * TFormTraffic::kRefreshMs);
    QCOMPARE(view.model().rowCount(), shown);
    view.CheckPause->setChecked(false);
    QTRY_VERIFY_WITH_TIMEOUT(view.model().rowCount() > shown + 20, kEventWait);
    // Following the newest.
    QScrollBar *bar = view.GridTraffic->verticalScrollBar();
    QCOMPARE(bar->value(), bar->maximum());
}

void TestTrafficView::savesWhatTheViewLists_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("header");
    QTest::addColumn<QString>("line"); // a line the file must hold
    QTest::newRow("text") << "traffic.txt"
                          << "time_ms\tdirection\tkind\tbytes\tmeaning"
                          << "\tout\tdirect request\t23 0C 00 00 64\twrite A_MAX motor 1 = 100";
    QTest::newRow("CSV") << "traffic.csv"
                         << "time_ms,direction,kind,bytes,meaning"
                         << ",in,reply,";
}

void TestTrafficView::savesWhatTheViewLists()
{
    QFETCH(QString, name);
    QFETCH(QString, header);
    QFETCH(QString, line);
    openBoard();
    MotorGroup &g = m_app->main().Motors[0];
    g.CbRampMode->setCurrentIndex(0);
    g.EditAMax->setValue(100);
    m_app->main().BtnGo1Click(g.BtnGo);
    m_app->fileAnswer = QFileInfo(m_app->iniPath()).dir().filePath(name);
    TFormTraffic &view = m_app->traffic();
    // Paused, the view lists what it listed when the save was asked for.
    view.CheckPause->setChecked(true);
    QSignalSpy saved(&view, &TFormTraffic::saved);
    view.BtnSaveClick();
    QVERIFY(saved.wait(kEventWait));
    QCOMPARE(saved.first().first().toBool(), true);
    QFile f(m_app->fileAnswer);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    QCOMPARE(lines.first(), header);
    // Every row the view lists, and nothing else (the last line is empty).
    QCOMPARE(lines.size(), view.model().rowCount() + 2);
    bool found = false;
    for (const QString &l : lines)
        found = found || l.contains(line);
    QVERIFY2(found, qPrintable(line));
    if (name.endsWith(QStringLiteral(".csv"))) // a meaning with commas is quoted
        QVERIFY(lines.join(QLatin1Char('\n')).contains(QStringLiteral(",\"write P_MUL / P_DIV")));
    QVERIFY(m_app->messages.isEmpty());
}

QTEST_MAIN(TestTrafficView)
#include "tst_trafficview.moc"
