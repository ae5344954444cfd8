// The graphic display window, offscreen: its layout and start state, the shown flag, the
// clear button, repaints only while shown with the history painted on showing, the paint
// areas' motor tags, the legend on a dark palette, the plot's context menu with its picture
// and data files (round trip, cancel, write error), and the whole export of "&Export..."
// (signed values, times, all motors in one file; PNG and SVG with the legend). The recorder's rules
// are in tst_tracerecorder, the pixel rules of the curves and scales in tst_tracepainter, the live
// feed from a board in tst_graphicsboard.

#include "common/ScaledRun.h"
#include "common/WindowFit.h"
#include "controls/Dialogs.h"
#include "controls/ScreenFit.h"
#include "graphics/Ev310Graphics.h"
#include "graphics/PaintBox.h"
#include "graphics/TracePainter.h"
#include "session/BoardSession.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPaintEvent>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace kvx;

namespace {

constexpr int kEventWait = 3000; // ms; only reached when a test fails

// Counts the paint events of a widget.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *w) { w->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *e) override
    {
        if (e->type() == QEvent::Paint) {
            ++count;
            area |= static_cast<QPaintEvent *>(e)->region();
        }
        return false;
    }

public:
    QRegion area; // all that was painted
};

bool hasPixel(const QImage &image, QColor color, int column)
{
    for (int y = 0; y < image.height(); ++y) {
        if (image.pixelColor(column, y) == color)
            return true;
    }
    return false;
}

} // namespace

class TestFormGraphics : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void layout_data();
    void layout();
    void startState();
    void captionsFit();
    void shownFlagFollowsShowAndClose();
    void clearButton();
    void repaintsOnlyWhileShown();
    void showingPaintsTheHistory();
    void growingCurvesRepaintTheirNewSegment();
    void scrollingMovesThePictureAsARepaintWouldDrawIt();
    void everyCycleLooksAsAFullRepaint_data();
    void fitsTheScreenWithItsButtonsReachable_data();
    void fitsTheScreenWithItsButtonsReachable();
    void everyCycleLooksAsAFullRepaint();
    void frozenTickKeepsTheLabel();
    void menuOffersPictureAndData();
    void exportReadsBackTheRecording();
    void exportCancelWritesNothing();
    void exportWriteErrorTellsAndKeepsNothing();
    void pictureSavesPlotAndScales();
    void legendReadsOnADarkPalette();
    void exportDataKeepsSignTimeAndAllMotors();
    void exportPicture_data();
    void exportPicture();

private:
    void feed(int cycles);

    std::unique_ptr<BoardSession> m_session;
    std::unique_ptr<TFormGraphics> m_form;
    std::unique_ptr<QTemporaryDir> m_dir; // fresh for each test
    QList<MessageRequest> m_messages;
    QString m_answer; // what the file dialog answers
    QStringList m_captions;
    std::uint32_t m_now = 0;
};

void TestFormGraphics::initTestCase()
{
    // The look the program sets at start, so that the captions are measured as users see them.
    if (QStyle *style = QStyleFactory::create(QStringLiteral("Windows")))
        QApplication::setStyle(style);
    const QStringList families = QFontDatabase::families();
    for (const char *name : {"MS Sans Serif", "Liberation Sans", "Arimo", "DejaVu Sans"}) {
        if (families.contains(QLatin1String(name))) {
            QApplication::setFont(QFont(QLatin1String(name), 8));
            break;
        }
    }
}

void TestFormGraphics::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_messages.clear();
    m_captions.clear();
    m_answer.clear();
    Dialogs::setMessageHandler([this](QWidget *, const MessageRequest &r) { m_messages << r; });
    m_session = std::make_unique<BoardSession>();
    m_form = std::make_unique<TFormGraphics>(*m_session);
    m_now = 5000;
    m_form->setClock([this] { return m_now; });
    Dialogs::setFileHandler([this](QWidget *, const FileRequest &r) {
        m_captions << (r.save ? r.caption : QStringLiteral("open: ") + r.caption);
        return m_answer;
    });
}

void TestFormGraphics::cleanup()
{
    m_form.reset();
    m_session.reset();
    m_dir.reset();
    Dialogs::setMessageHandler({});
    Dialogs::setFileHandler({});
}

// Cycle i: motor m at position 1000 i - 300 m, velocity -(10 i + m), target 20 i, acceleration
// i - 5.
void TestFormGraphics::feed(int cycles)
{
    for (int i = 0; i < cycles; ++i) {
        // The cycle's first request went out now, as the link would tell of it.
        m_form->noteCycleStart(std::int64_t{m_now} * 1000);
        for (int m = 0; m < 3; ++m) {
            m_form->AddPosition(1000 * i - 300 * m, m);
            m_form->AddVelocity(-(10 * i + m), m);
            m_form->AddTargetVelocity(20 * i, m);
            m_form->AddAcceleration(i - 5, m);
        }
        m_form->NextSample();
        m_now += 100;
    }
}

void TestFormGraphics::layout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::newRow("page control") << "PageControl" << QRect(0, 8, 657, 449);
    for (int m = 1; m <= 3; ++m) {
        const QString n = QString::number(m);
        QTest::addRow("left strip %d", m) << "PaintBoxLeft" + n << QRect(8, -15, 81, 436);
        QTest::addRow("plot panel %d", m) << "PnlPlot" + n << QRect(88, -15, 480, 436);
        QTest::addRow("plot area %d", m) << "PaintBox" + n << QRect(1, 1, 478, 434);
        QTest::addRow("right strip %d", m) << "PaintBoxRight" + n << QRect(567, -15, 65, 436);
    }
    QTest::newRow("legend") << "PnlLegend" << QRect(24, 464, 201, 81);
    QTest::newRow("x axis") << "PnlXAxis" << QRect(256, 472, 185, 65);
    QTest::newRow("control") << "PnlControl" << QRect(472, 472, 161, 65);
}

void TestFormGraphics::layout()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    auto *w = m_form->findChild<QWidget *>(name);
    QVERIFY2(w, qPrintable(name));
    QCOMPARE(w->geometry(), geometry);
}

void TestFormGraphics::startState()
{
    QCOMPARE(m_form->windowTitle(), QStringLiteral("Graphic Display"));
    QCOMPARE(m_form->size(), QSize(657, 566));
    QCOMPARE(m_form->maximumSize(), m_form->size());
    QVERIFY(!(m_form->windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(m_form->isHidden());
    QVERIFY(!m_form->Shown());
    QCOMPARE(m_form->PageControl->count(), 3);
    QCOMPARE(m_form->PageControl->currentIndex(), 0);
    for (int m = 0; m < 3; ++m) {
        const auto i = std::size_t(m);
        QCOMPARE(m_form->PageControl->tabText(m), QStringLiteral("Motor %1").arg(m + 1));
        QCOMPARE(m_form->TabMotor[i]->objectName(), QStringLiteral("TabMotor%1").arg(m + 1));
        QCOMPARE(m_form->PaintBoxLeft[i]->Tag(), m);
        QCOMPARE(m_form->PaintBox[i]->Tag(), m);
        QCOMPARE(m_form->PaintBoxRight[i]->Tag(), m);
        QCOMPARE(m_form->PaintBoxLeft[i]->toolTip(),
                 QStringLiteral("The scale is automatically adapted to fit the curve."));
        QCOMPARE(m_form->PaintBoxRight[i]->toolTip(),
                 QStringLiteral("The scales are automatically adapted to fit the curves."));
    }
    QCOMPARE(m_form->LblXAxis->text(), QStringLiteral("Time interval (ms): "));
    QCOMPARE(m_form->LblXTiming->text(), QStringLiteral("---"));
    QCOMPARE(m_form->CheckStop->text(), QStringLiteral("&Stop when velocity = 0"));
    QVERIFY(!m_form->CheckStop->isChecked());
    QCOMPARE(m_form->BtnClear->text(), QStringLiteral("&Clear display"));
    const QStringList legend{"Red: Velocity (absolute value)",
                             "Yellow: Target Velocity (absolute value)", "Green: Position",
                             "Blue: Acceleration (absolute value)"};
    for (std::size_t k = 0; k < 4; ++k)
        QCOMPARE(m_form->LblLegend[k]->accessibleName(), legend[qsizetype(k)]);
    QCOMPARE(m_form->BtnExport->text(), QStringLiteral("&Export..."));
    QVERIFY(!m_form->BtnExport->toolTip().isEmpty());
    QVERIFY(m_form->BtnExport->menu());
}

void TestFormGraphics::captionsFit()
{
    // Every caption gets its full width and lies inside its panel.
    for (QWidget *w : m_form->findChildren<QWidget *>()) {
        if (!qobject_cast<QLabel *>(w) && !qobject_cast<QCheckBox *>(w) &&
            !qobject_cast<QPushButton *>(w))
            continue;
        QVERIFY2(w->width() >= w->sizeHint().width(), qPrintable(w->objectName()));
        QVERIFY2(w->height() >= w->minimumSizeHint().height(), qPrintable(w->objectName()));
        const QRect inner = w->parentWidget()->contentsRect();
        QVERIFY2(inner.contains(w->geometry()), qPrintable(w->objectName()));
    }
}

void TestFormGraphics::shownFlagFollowsShowAndClose()
{
    m_form->show();
    QVERIFY(m_form->Shown());
    m_form->close();
    QVERIFY(!m_form->Shown());
    QVERIFY(m_form->isHidden());
    feed(3); // recording goes on after closing
    QCOMPARE(m_form->Recorder().fill(), 3);
}

void TestFormGraphics::clearButton()
{
    feed(4);
    QCOMPARE(m_form->LblXTiming->text(), QStringLiteral("80")); // 0, 50, 75, 87
    m_form->show();
    QTest::mouseClick(m_form->BtnClear, Qt::LeftButton);
    QCOMPARE(m_form->Recorder().fill(), 0);
    QCOMPARE(m_form->LblXTiming->text(), QStringLiteral("---"));
    QCOMPARE(m_form->Recorder().sample(TraceCurve::Position, 2, 1).value, 0);
}

void TestFormGraphics::repaintsOnlyWhileShown()
{
    PaintCounter plot(m_form->PaintBox[1]);
    m_form->show();
    m_form->PageControl->setCurrentIndex(1);
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    QTRY_VERIFY_WITH_TIMEOUT(plot.count > 0, kEventWait);
    // A tick asks for the plot of the visible page to be painted again.
    plot.count = 0;
    feed(1);
    QTRY_VERIFY_WITH_TIMEOUT(plot.count > 0, kEventWait);
    m_form->close();
    plot.count = 0;
    feed(5);
    QCoreApplication::processEvents();
    QCOMPARE(plot.count, 0);
    QCOMPARE(m_form->Recorder().fill(), 6);
}

void TestFormGraphics::growingCurvesRepaintTheirNewSegment()
{
    PaintCounter plot(m_form->PaintBox[0]);
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    feed(3); // the scales settle on the first cycles
    QTRY_VERIFY_WITH_TIMEOUT(plot.count > 0, kEventWait);
    auto still = [this](int cycles) {
        for (int i = 0; i < cycles; ++i) {
            for (int m = 0; m < 3; ++m) {
                m_form->AddPosition(1000, m);
                m_form->AddVelocity(-10, m);
                m_form->AddTargetVelocity(20, m);
                m_form->AddAcceleration(1, m);
            }
            m_form->NextSample();
        }
    };
    still(5);
    QCoreApplication::processEvents();
    plot.count = 0;
    plot.area = {};
    still(1);
    QTRY_VERIFY_WITH_TIMEOUT(plot.count > 0, kEventWait);
    // The segment from the last slot to the new one (less what lies under the panel's edge),
    // and the column before, which a segment reaches at a scale above 100 %.
    const int fill = m_form->Recorder().fill();
    QCOMPARE(plot.area.boundingRect().left(), fill - 3);
    QCOMPARE(plot.area.boundingRect().width(), 3);

    // Minimised, nothing is painted; restored, the whole history is.
    m_form->showMinimized();
    QCoreApplication::processEvents();
    plot.count = 0;
    still(3);
    QCoreApplication::processEvents();
    QCOMPARE(plot.count, 0);
    plot.area = {};
    m_form->showNormal();
    QTRY_VERIFY_WITH_TIMEOUT(plot.area.contains(m_form->PaintBox[0]->rect().center()), kEventWait);
    QCOMPARE(plot.area.boundingRect().width(), m_form->PaintBox[0]->width());
}

void TestFormGraphics::scrollingMovesThePictureAsARepaintWouldDrawIt()
{
    PaintCounter plot(m_form->PaintBox[0]);
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    // Curves that cross, within scales the first cycles settle.
    auto wave = [this](int from, int cycles) {
        for (int i = from; i < from + cycles; ++i) {
            for (int m = 0; m < 3; ++m) {
                m_form->AddPosition(i % 2 ? 900 : (i * 37) % 1000, m);
                m_form->AddVelocity((i * 13) % 100 - 50, m);
                m_form->AddTargetVelocity(i % 60, m);
                m_form->AddAcceleration(i % 3 ? 40 : -40, m);
            }
            m_form->NextSample();
        }
    };
    wave(0, TraceRecorder::kMaxFill + 5);
    QCoreApplication::processEvents();
    plot.area = {};
    wave(TraceRecorder::kMaxFill + 5, 7);
    QCoreApplication::processEvents();
    // The pixels were moved: only the edges were painted.
    QVERIFY2(!plot.area.contains(m_form->PaintBox[0]->rect().center()),
             qPrintable(QString::number(plot.area.boundingRect().width())));
    const QRect r(m_form->PaintBox[0]->mapTo(m_form.get(), QPoint(0, 0)),
                  m_form->PaintBox[0]->size());
    auto shown = [&] { return m_form->screen()->grabWindow(m_form->winId()).toImage().copy(r); };
    const QImage moved = shown();
    m_form->PaintBox[0]->repaint();
    QCOMPARE(moved, shown());
}

void TestFormGraphics::everyCycleLooksAsAFullRepaint_data()
{
    QTest::addColumn<double>("scale");
    QTest::newRow("100 %") << 1.0;
    QTest::newRow("150 %") << 1.5;
    QTest::newRow("200 %") << 2.0;
}

void TestFormGraphics::everyCycleLooksAsAFullRepaint()
{
    QFETCH(double, scale);
    if (scaledRunScale() == 0) {
        KVX_RUN_SCALED(scale);
        return;
    }
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    TPaintBox *plot = m_form->PaintBox[0];
    const QRect r(plot->mapTo(m_form.get(), QPoint(0, 0)), plot->size());
    auto shown = [&] {
        return m_form->screen()
            ->grabWindow(m_form->winId(), r.x(), r.y(), r.width(), r.height())
            .toImage();
    };
    // Steep falls and flat runs on every curve (a flat run after a fall of more than four rows
    // was drawn from one column further left), within scales the first cycle sets.
    constexpr int kVelocity[] = {2000, 300, 200, 100, 0, 0, 0, 1500, 1500, 0, 700, 0, 0};
    constexpr int kPosition[] = {9999, 9999, 0, 0, 0, 5000, 100, 100, 9000, 0, 4000};
    constexpr int kAcceleration[] = {2000, 0, 0, 1900, 1900, 1900, 0, 50};
    for (int i = 0; i < TraceRecorder::kMaxFill + 20; ++i) {
        for (int m = 0; m < 3; ++m) {
            m_form->AddPosition(kPosition[(i + m) % std::size(kPosition)], m);
            m_form->AddVelocity(-kVelocity[i % std::size(kVelocity)], m);
            m_form->AddTargetVelocity(kVelocity[(i + 4) % std::size(kVelocity)], m);
            m_form->AddAcceleration(kAcceleration[i % std::size(kAcceleration)], m);
        }
        m_form->NextSample();
        QCoreApplication::processEvents();
        // Every cycle while the curves start and scroll, every eighth between: a pixel out of
        // place stays until the next whole repaint, which only the check makes.
        if (i > 40 && i < TraceRecorder::kMaxFill && i % 8 != 0)
            continue;
        const QImage cycle = shown();
        plot->repaint();
        const QImage whole = shown();
        if (cycle == whole)
            continue;
        for (int y = 0; y < whole.height(); ++y) {
            for (int x = 0; x < whole.width(); ++x)
                QVERIFY2(cycle.pixel(x, y) == whole.pixel(x, y),
                         qPrintable(QStringLiteral("cycle %1, device pixel (%2, %3)")
                                        .arg(m_form->Recorder().fill())
                                        .arg(x)
                                        .arg(y)));
        }
    }
}

void TestFormGraphics::fitsTheScreenWithItsButtonsReachable_data()
{
    QTest::addColumn<double>("scale");
    QTest::newRow("100 %") << 1.0;
    // 1920 x 1080 at 200 %: about 960 x 520 of the layout's pixels, less than the window's 566
    // rows; "Clear display" and "Export..." hung off the screen.
    QTest::newRow("200 %") << 2.0;
}

void TestFormGraphics::fitsTheScreenWithItsButtonsReachable()
{
    QFETCH(double, scale);
    if (scaledRunScale() == 0) {
        KVX_RUN_SCALED(scale);
        return;
    }
    keepInsideScreen(m_form.get());
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    checkFitted(m_form.get(), QSize(657, 566), {m_form->BtnClear, m_form->BtnExport});
    QCOMPARE(m_form->size() == QSize(657, 566), scale == 1.0);
}

void TestFormGraphics::showingPaintsTheHistory()
{
    feed(30);
    QVERIFY(m_form->isHidden());
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    const QImage plot = m_form->PaintBox[0]->grab().toImage();
    QCOMPARE(plot.size(), QSize(478, 434));
    // Positions rise over the whole history: green in every column of a complete cycle.
    for (int x = 0; x < 30; ++x)
        QVERIFY2(hasPixel(plot, QColor(0, 128, 0), x), qPrintable(QString::number(x)));
    QVERIFY(!hasPixel(plot, QColor(0, 128, 0), 30)); // slot n is never drawn
    const QImage scale = m_form->PaintBoxLeft[0]->grab().toImage();
    bool labelled = false;
    for (int y = 400; y < 431 && !labelled; ++y) {
        for (int x = 0; x < 30 && !labelled; ++x)
            labelled = scale.pixelColor(x, y).green() > 0;
    }
    QVERIFY(labelled);
}

void TestFormGraphics::frozenTickKeepsTheLabel()
{
    m_form->CheckStop->setChecked(true);
    for (int i = 0; i < 4; ++i) {
        m_form->NextSample();
        m_now += 200;
    }
    // All at rest: the first tick advances (n = 0), then the plot freezes at n = 1.
    QCOMPARE(m_form->Recorder().fill(), 1);
    QCOMPARE(m_form->LblXTiming->text(), QStringLiteral("---"));
    m_form->CheckStop->setChecked(false);
    m_form->NextSample();
    m_now += 200;
    m_form->NextSample();
    QCOMPARE(m_form->LblXTiming->text(), QStringLiteral("100"));
    m_form->CheckStop->setChecked(true);
    m_form->NextSample();
    QCOMPARE(m_form->Recorder().fill(), 3);
    QCOMPARE(m_form->LblXTiming->text(), QStringLiteral("100"));
}

void TestFormGraphics::menuOffersPictureAndData()
{
    const std::unique_ptr<QMenu> menu(m_form->createPlotMenu(2, m_form.get()));
    const QList<QAction *> actions = menu->actions();
    QCOMPARE(actions.size(), 4);
    QCOMPARE(actions[0]->text(), QStringLiteral("Save Picture..."));
    QCOMPARE(actions[1]->text(), QStringLiteral("Export Data..."));
    QCOMPARE(actions[3]->text(), QStringLiteral("Export Motor 3 Only..."));
    QCOMPARE(m_form->PaintBox[2]->contextMenuPolicy(), Qt::CustomContextMenu);
    m_answer = m_dir->filePath(QStringLiteral("menu.csv"));
    actions[1]->trigger(); // the whole export, as "&Export..." gives it
    QCOMPARE(m_captions, QStringList{QStringLiteral("Export Data")});
    QFile f(m_answer);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(f.readLine().startsWith("time_s,X_ACTUAL_1,"));
}

void TestFormGraphics::exportReadsBackTheRecording()
{
    feed(25);
    m_answer = m_dir->filePath(QStringLiteral("motor2.csv"));
    m_form->exportData(1);
    QVERIFY(m_messages.isEmpty());
    QFile f(m_answer);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    QCOMPARE(lines.size(), 1 + 25 + 1); // header, cycles, the empty rest after the last newline
    QCOMPARE(lines.first(), QByteArray("cycle,position,velocity,target velocity,acceleration"));
    QVERIFY(lines.last().isEmpty());
    for (int i = 0; i < 25; ++i) {
        const QList<QByteArray> fields = lines[i + 1].split(',');
        QCOMPARE(fields.size(), 5);
        QList<int> numbers;
        for (const QByteArray &field : fields) {
            bool ok = false;
            numbers << field.toInt(&ok);
            QVERIFY(ok);
        }
        // What feed() stored for motor 1 (index), velocities as magnitudes.
        QCOMPARE(numbers, (QList<int>{i, 1000 * i - 300, 10 * i + 1, 20 * i, std::abs(i - 5)}));
    }
}

void TestFormGraphics::exportCancelWritesNothing()
{
    feed(3);
    m_answer.clear();
    m_form->exportData(0);
    m_form->savePicture(0);
    QCOMPARE(m_captions, (QStringList{"Export Data", "Save Picture"}));
    QVERIFY(m_messages.isEmpty());
    QVERIFY(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

void TestFormGraphics::exportWriteErrorTellsAndKeepsNothing()
{
    feed(3);
    m_answer = m_dir->filePath(QStringLiteral("no-such-dir/motor1.csv"));
    m_form->exportData(0);
    QCOMPARE(m_messages.size(), 1);
    QCOMPARE(m_messages.first().text, QStringLiteral("File save error!"));
    QVERIFY(m_messages.first().informative.contains(QLatin1String("motor1.csv")));
    QVERIFY(QDir(m_dir->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
}

void TestFormGraphics::pictureSavesPlotAndScales()
{
    feed(40);
    m_answer = m_dir->filePath(QStringLiteral("motor1.png"));
    m_form->savePicture(0); // hidden: the picture does not need the window on screen
    QVERIFY(m_messages.isEmpty());
    const QImage saved(m_answer);
    QCOMPARE(saved.size(), QSize(624, 436));
    // The plot surface starts at x = 81 (88 - 8) plus its border, y = 1.
    const QImage plot = saved.copy(81, 1, 478, 434);
    const QImage direct = m_form->PaintBox[0]->grab().toImage().convertToFormat(plot.format());
    QCOMPARE(plot, direct);
    for (int x = 0; x < 40; ++x)
        QVERIFY(hasPixel(plot, QColor(0, 128, 0), x));
}

void TestFormGraphics::legendReadsOnADarkPalette()
{
    // Each curve's colour is named on the ground that sets it off: yellow and red on black,
    // green and blue on white; the rest of the text takes the palette's colour.
    const QColor curves[] = {{255, 0, 0}, {255, 255, 0}, {0, 128, 0}, {0, 0, 255}};
    const QColor grounds[] = {Qt::black, Qt::black, Qt::white, Qt::white};
    QPalette dark = m_form->palette();
    dark.setColor(QPalette::Window, QColor(53, 53, 53));
    dark.setColor(QPalette::WindowText, Qt::white);
    m_form->setPalette(dark);
    for (std::size_t k = 0; k < 4; ++k) {
        QCOMPARE(legendBackground(curves[k]), grounds[k]);
        QCOMPARE(m_form->LblLegend[k]->palette().color(QPalette::WindowText), QColor(Qt::white));
    }
}

void TestFormGraphics::exportDataKeepsSignTimeAndAllMotors()
{
    feed(25);
    m_answer = m_dir->filePath(QStringLiteral("all.csv"));
    m_form->BtnExport->menu()->actions().at(0)->trigger();
    QVERIFY(m_messages.isEmpty());
    QFile f(m_answer);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = f.readAll().split('\n');
    QCOMPARE(lines.size(), 1 + 25 + 1);
    QCOMPARE(lines.first(), QByteArray("time_s,X_ACTUAL_1,V_TARGET_1,V_ACTUAL_1,A_ACTUAL_1,"
                                       "X_ACTUAL_2,V_TARGET_2,V_ACTUAL_2,A_ACTUAL_2,"
                                       "X_ACTUAL_3,V_TARGET_3,V_ACTUAL_3,A_ACTUAL_3"));
    for (int i = 0; i < 25; ++i) {
        // feed() steps the clock by 100 ms a cycle.
        QByteArray expected = QByteArray::number(i / 10.0, 'f', 3);
        for (int m = 0; m < 3; ++m) {
            for (int v : {1000 * i - 300 * m, 20 * i, -(10 * i + m), i - 5})
                expected += ',' + QByteArray::number(v);
        }
        QCOMPARE(lines[i + 1], expected);
    }
}

void TestFormGraphics::exportPicture_data()
{
    QTest::addColumn<int>("action"); // in the menu of "&Export..."
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("start");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("png") << 1 << "all.png" << QByteArray("\x89PNG") << QStringList{};
    QTest::newRow("svg") << 2 << "all.svg" << QByteArray("<?xml")
                         << QStringList{"Motor 1", "Motor 3", "Position X_ACTUAL (microsteps)",
                                        "Velocity V_ACTUAL, absolute value (register units)"};
}

void TestFormGraphics::exportPicture()
{
    QFETCH(int, action);
    QFETCH(QString, name);
    QFETCH(QByteArray, start);
    QFETCH(QStringList, texts);
    feed(40);
    m_answer = m_dir->filePath(name);
    m_form->BtnExport->menu()->actions().at(action)->trigger();
    QVERIFY(m_messages.isEmpty());
    QCOMPARE(m_captions, QStringList{QStringLiteral("Save Picture")});
    QFile f(m_answer);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray content = f.readAll();
    QVERIFY(content.startsWith(start));
    for (const QString &text : texts)
        QVERIFY2(content.contains(text.toUtf8()), qPrintable(text));
}

QTEST_MAIN(TestFormGraphics)
#include "tst_formgraphics.moc"
