// The graphic display fed live by the main window's poll cycle from the simulated board on a
// pseudo-terminal: a moving motor fills the buffers while the window is hidden, every cycle
// lands in one slot, and showing the window paints the recorded history at once. The rules
// of recording and drawing are in tst_tracerecorder and tst_tracepainter, the window on its
// own in tst_formgraphics.

#include "common/AppFixture.h"
#include "graphics/PaintBox.h"

#include <QImage>
#include <QLabel>
#include <QTest>

using namespace kvx;

namespace {
constexpr int kEventWait = AppFixture::kEventWait;
constexpr int kCycles = 12; // complete cycles to record before looking
} // namespace

class TestGraphicsBoard : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void hiddenWindowRecordsAMoveAndShowsItOnOpening();

private:
    std::unique_ptr<AppFixture> m_app;
    TFormMain *m_main = nullptr;
    TFormGraphics *m_graphics = nullptr;
};

void TestGraphicsBoard::init()
{
    m_app = std::make_unique<AppFixture>();
    QVERIFY(m_app->startBoard().serving());
    m_app->createWindows();
    m_main = &m_app->main();
    m_graphics = &m_app->graphics();
}

void TestGraphicsBoard::cleanup()
{
    m_app.reset();
}

void TestGraphicsBoard::hiddenWindowRecordsAMoveAndShowsItOnOpening()
{
    m_main->BtnOpenClick();
    QTRY_COMPARE_WITH_TIMEOUT(m_main->StaticInfo1->text(), QStringLiteral("The board is active."),
                              kEventWait);
    QVERIFY(m_graphics->isHidden());
    {
        // Motor 1 in RAMP mode (the reset state) towards 10000 at V_MAX 100 (about 6100
        // steps/s on the simulated chip) with A_MAX 100.
        const PollPause pause = m_main->session().link().PausePolling();
        for (const Datagram &d :
             {Datagram{0x06, {0x00, 0x00, 0x64}}, Datagram{0x0C, {0x00, 0x00, 0x64}},
              Datagram{0x00, {0x00, 0x27, 0x10}}})
            QVERIFY(m_main->session().link().DirectRequest(d));
    }
    m_graphics->BtnClearClick(); // count only cycles of the move
    const TraceRecorder &r = m_graphics->Recorder();
    QTRY_VERIFY_WITH_TIMEOUT(r.fill() >= kCycles, kEventWait);
    m_main->BtnCloseClick(); // the history stands still from here on
    const int n = r.fill();
    QVERIFY(m_graphics->isHidden());
    QVERIFY(m_app->messages.isEmpty());

    // Each complete cycle holds one reading of every register: a position that never goes
    // back, velocities within V_MAX, and the other motors at rest.
    int moving = 0;
    for (int i = 1; i < n; ++i) {
        const int before = r.sample(TraceCurve::Position, i - 1, 0).value;
        const int now = r.sample(TraceCurve::Position, i, 0).value;
        QVERIFY2(now >= before, qPrintable(QStringLiteral("cycle %1").arg(i)));
        QVERIFY(r.sample(TraceCurve::Velocity, i, 0).value <= 100);
        moving += r.sample(TraceCurve::Velocity, i, 0).value > 0 ? 1 : 0;
        QCOMPARE(r.sample(TraceCurve::Position, i, 1).value, 0);
        QCOMPARE(r.sample(TraceCurve::Velocity, i, 2).value, 0);
    }
    QVERIFY(moving > 0);
    const int last = r.sample(TraceCurve::Position, n - 1, 0).value;
    QVERIFY(last > r.sample(TraceCurve::Position, 0, 0).value);
    QVERIFY(last <= 10000);
    QVERIFY(r.limits(0).upperPosition >= last);
    QVERIFY(m_graphics->LblXTiming->text() != QStringLiteral("---"));

    m_graphics->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_graphics));
    const QImage plot = m_graphics->PaintBox[0]->grab().toImage();
    // The whole history at once: the position curve in every column of a complete cycle, on
    // the row its sample was given, unless the velocity curve drawn after it lies over it.
    // Where a steep segment leaves a point, the rasteriser may put the column's pixel one row
    // off the vertex.
    int green = 0;
    for (int x = 0; x < n; ++x) {
        const int y = r.sample(TraceCurve::Position, x, 0).row - 2;
        bool onCurve = false;
        for (int dy = -1; dy <= 1 && !onCurve; ++dy) {
            const QColor pixel = plot.pixelColor(x, y + dy);
            onCurve = pixel == QColor(0, 128, 0) || (dy == 0 && pixel == QColor(255, 0, 0));
            green += pixel == QColor(0, 128, 0) ? 1 : 0;
        }
        QVERIFY2(onCurve, qPrintable(QStringLiteral("column %1").arg(x)));
    }
    QVERIFY(green >= n / 2);
}

QTEST_MAIN(TestGraphicsBoard)
#include "tst_graphicsboard.moc"
