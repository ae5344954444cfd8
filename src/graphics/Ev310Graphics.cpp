#include "graphics/Ev310Graphics.h"

#include "controls/Dialogs.h"
#include "controls/SaveReport.h"
#include "controls/ScreenFit.h"
#include "controls/Widgets.h"
#include "graphics/PaintBox.h"
#include "graphics/TracePainter.h"
#include "records/TraceFiles.h"
#include "session/BoardSession.h"

#include <QBuffer>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QTabWidget>

#include <memory>

namespace kvx {

namespace {

constexpr int kClientWidth = 657;
constexpr int kClientHeight = 566;
constexpr QPoint kScreenPosition{361, 201};

// The panels of a page start above its client area; their top rows stay hidden.
constexpr int kPanelTop = -15;
constexpr int kPanelHeight = 436;
constexpr QRect kLeftStrip{8, kPanelTop, 81, kPanelHeight};
constexpr QRect kPlotPanel{88, kPanelTop, 480, kPanelHeight};
constexpr QRect kPlotSurface{1, 1, 478, 434};
constexpr QRect kRightStrip{567, kPanelTop, 65, kPanelHeight};

const QString kNoInterval = QStringLiteral("---");

// Columns painted again beside a new or scrolled edge: a segment of the curves reaches half a
// pixel of the layout beyond its end column, which at 150 % and 200 % is a device pixel or two
// of the column before.
constexpr int kEdgeMargin = 1;

} // namespace

TFormGraphics::TFormGraphics(BoardSession &session, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("FormGraphics"));
    setWindowTitle(tr("Graphic Display"));
    buildInterface();
    FormCreate();

    connect(&session.link(), &BoardLink::pollCycleStart, this, &TFormGraphics::NextSample);
    connect(&session.scheduler(), &PollScheduler::traceValue, this,
            [this, &session](TraceKind kind, qint64 value, int motor) {
                // Each cycle is timed by when its first request went out, as the recordings
                // time theirs: replies that a busy host handles in a bunch would otherwise give
                // several cycles one time. Replies of rows that are not plotted (those before
                // the first cycle) time nothing.
                noteCycleStart(session.link().replySentAt());
                const auto v = static_cast<std::int32_t>(value);
                switch (kind) {
                case TraceKind::Position:
                    AddPosition(v, motor);
                    break;
                case TraceKind::Velocity:
                    AddVelocity(v, motor);
                    break;
                case TraceKind::TargetVelocity:
                    AddTargetVelocity(v, motor);
                    break;
                case TraceKind::Acceleration:
                    AddAcceleration(v, motor);
                    break;
                case TraceKind::None:
                    break;
                }
            });
}

TFormGraphics::~TFormGraphics() = default;

void TFormGraphics::buildInterface()
{
    // Fixed, not resizable; a screen that cannot hold it at a high scale makes it smaller, and
    // then it scrolls, so that "Clear display" and "Export..." stay reachable.
    Client = fixedClient(this, QStringLiteral("Client"), QSize(kClientWidth, kClientHeight));
    PageControl = new QTabWidget(Client);
    PageControl->setObjectName(QStringLiteral("PageControl"));
    PageControl->setGeometry(0, 8, kClientWidth, 449);
    for (int m = 0; m < 3; ++m)
        buildPage(m);
    PageControl->setCurrentIndex(0);
    buildPanels();
    movePagesByKeys(PageControl);
}

void TFormGraphics::buildPage(int m)
{
    const auto i = static_cast<std::size_t>(m);
    auto *page = new QWidget;
    page->setObjectName(withMotor("TabMotor", m));
    TabMotor[i] = page;
    PageControl->addTab(page, tr("Motor %1").arg(m + 1));

    PaintBoxLeft[i] = new TPaintBox(m, page);
    PaintBoxLeft[i]->setObjectName(withMotor("PaintBoxLeft", m));
    PaintBoxLeft[i]->setGeometry(kLeftStrip);
    setHint(PaintBoxLeft[i], tr("The scale is automatically adapted to fit the curve."));
    PaintBoxLeft[i]->setOnPaint([this](TPaintBox &s, QPainter &p) { PaintBoxLeft1Paint(s, p); });

    PaintBoxRight[i] = new TPaintBox(m, page);
    PaintBoxRight[i]->setObjectName(withMotor("PaintBoxRight", m));
    PaintBoxRight[i]->setGeometry(kRightStrip);
    setHint(PaintBoxRight[i], tr("The scales are automatically adapted to fit the curves."));
    PaintBoxRight[i]->setOnPaint([this](TPaintBox &s, QPainter &p) { PaintBoxRight1Paint(s, p); });

    // Created after the strips so that its border lies over the column each strip shares
    // with it.
    PnlPlot[i] = panel(page, withMotor("PnlPlot", m), kPlotPanel);
    QPalette black = PnlPlot[i]->palette();
    black.setColor(QPalette::Window, Qt::black);
    PnlPlot[i]->setPalette(black);
    PnlPlot[i]->setAutoFillBackground(true);
    PaintBox[i] = new TPaintBox(m, PnlPlot[i]);
    PaintBox[i]->setObjectName(withMotor("PaintBox", m));
    PaintBox[i]->setGeometry(kPlotSurface);
    PaintBox[i]->setOnPaint([this](TPaintBox &s, QPainter &p) { PaintBox1Paint(s, p); });
    PaintBox[i]->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(PaintBox[i], &QWidget::customContextMenuRequested, this, [this, m](QPoint pos) {
        const std::unique_ptr<QMenu> menu(createPlotMenu(m, this));
        menu->exec(PaintBox[static_cast<std::size_t>(m)]->mapToGlobal(pos));
    });
}

void TFormGraphics::buildPanels()
{
    PnlLegend = panel(Client, QStringLiteral("PnlLegend"), {24, 464, 201, 81});
    struct Entry
    {
        const char *name;
        const char *text;
        QColor color;
    };
    const Entry entries[] = {
        {"LblRed", QT_TR_NOOP("Red: Velocity (absolute value)"), trace_colors::kVelocity},
        {"LblYellow", QT_TR_NOOP("Yellow: Target Velocity (absolute value)"),
         trace_colors::kTargetVelocity},
        {"LblGreen", QT_TR_NOOP("Green: Position"), trace_colors::kPosition},
        {"LblBlue", QT_TR_NOOP("Blue: Acceleration (absolute value)"), trace_colors::kAcceleration},
    };
    for (std::size_t k = 0; k < LblLegend.size(); ++k) {
        const QString text = tr(entries[k].text);
        QLabel *l = caption(PnlLegend, QLatin1String(entries[k].name), text, {6, 8 + 16 * int(k)});
        // A curve colour on the palette's own background vanishes on some palette (yellow on
        // light grey, blue on dark grey): only the colour's name is coloured, on a ground of
        // its own, and the rest takes the palette's text colour.
        const qsizetype named = text.indexOf(QLatin1Char(':')) + 1;
        l->setTextFormat(Qt::RichText);
        l->setText(QStringLiteral("<span style=\"color:%1; background-color:%2\">%3</span>%4")
                       .arg(entries[k].color.name(), legendBackground(entries[k].color).name(),
                            text.left(named).toHtmlEscaped(), text.mid(named).toHtmlEscaped()));
        l->setAccessibleName(text);
        LblLegend[k] = l;
    }

    PnlXAxis = panel(Client, QStringLiteral("PnlXAxis"), {256, 472, 185, 65});
    setHint(PnlXAxis, tr("The x axis time interval is shown here."));
    LblXAxis = caption(PnlXAxis, QStringLiteral("LblXAxis"), tr("Time interval (ms): "), {16, 26});
    LblXTiming = caption(PnlXAxis, QStringLiteral("LblXTiming"), QStringLiteral("500"),
                         {LblXAxis->geometry().right() + 1, 26});
    // Room up to the panel's border for the long intervals of a stalled link.
    LblXTiming->resize(PnlXAxis->width() - 2 - LblXTiming->x(), LblXTiming->height());

    PnlControl = panel(Client, QStringLiteral("PnlControl"), {472, 472, 161, 65});
    CheckStop = new QCheckBox(tr("&Stop when velocity = 0"), PnlControl);
    CheckStop->setObjectName(QStringLiteral("CheckStop"));
    CheckStop->setGeometry(12, 8, 145, 19);
    setHint(
        CheckStop,
        tr("If activated, the graphic display will be stopped when the motors are not running."));
    BtnClear = new QPushButton(tr("&Clear display"), PnlControl);
    BtnClear->setObjectName(QStringLiteral("BtnClear"));
    BtnClear->setGeometry(12, 32, 137, 25);
    setHint(BtnClear, tr("Click this button to clear the graphic display."));
    connect(BtnClear, &QPushButton::clicked, this, [this] { BtnClearClick(); });

    // Below the control panel, the one free place the fixed layout leaves for a button.
    BtnExport = button(Client, QStringLiteral("BtnExport"), tr("&Export..."), {472, 539, 161, 25},
                       tr("Click this button to save the curves of all motors as data (CSV) or "
                          "as a picture (PNG, SVG)."));
    BtnExport->setMenu(createExportMenu(BtnExport));
}

void TFormGraphics::FormCreate()
{
    // Fixed border without "Maximize" or "Size": the constructor's flags leave no maximise
    // button, and the fixed size (fixedClient) removes sizing.
    move(kScreenPosition);
    m_shown = false;
    // The recorder starts cleared with its initial scales; only the display follows here.
    CheckStop->setChecked(false);
    showInterval();
}

void TFormGraphics::FormShow()
{
    m_shown = true;
}

void TFormGraphics::FormClose()
{
    m_shown = false;
}

void TFormGraphics::showEvent(QShowEvent *event)
{
    FormShow();
    QWidget::showEvent(event);
}

void TFormGraphics::closeEvent(QCloseEvent *event)
{
    FormClose();
    QWidget::closeEvent(event);
}

void TFormGraphics::AddPosition(std::int32_t value, int motor)
{
    m_recorder.AddPosition(value, motor);
}

void TFormGraphics::AddVelocity(std::int32_t value, int motor)
{
    m_recorder.AddVelocity(value, motor);
}

void TFormGraphics::AddTargetVelocity(std::int32_t value, int motor)
{
    m_recorder.AddTargetVelocity(value, motor);
}

void TFormGraphics::AddAcceleration(std::int32_t value, int motor)
{
    m_recorder.AddAcceleration(value, motor);
}

void TFormGraphics::NextSample()
{
    const int filledBefore = m_recorder.fill();
    const TraceTick tick = m_recorder.NextSample(CheckStop->isChecked());
    if (!tick.advanced)
        return; // frozen: the interval label keeps its text
    // A window nobody sees paints nothing; it repaints whole when it is shown or restored
    // again. Only the page on top paints at all: the others are hidden.
    if (m_shown && !isMinimized()) {
        // While the curves still grow to the right, only their newest segment is new; once
        // they scroll, or a scale changed, the whole plot is.
        // Scrolled by one sample with the scales kept, the plot is the one before moved one
        // pixel to the left: the pixels are moved, and only both edges are painted again (the
        // left one loses the segment to the sample that dropped out).
        const int fill = m_recorder.fill();
        const bool grew = fill == filledBefore + 1 && fill >= 2;
        const bool scrolled = fill == filledBefore && fill == TraceRecorder::kMaxFill;
        for (std::size_t m = 0; m < 3; ++m) {
            TPaintBox &plot = *PaintBox[m];
            if (tick.rescaled[m]) {
                PaintBoxLeft[m]->update();
                PaintBoxRight[m]->update();
                plot.update();
            } else if (grew) {
                plot.update(QRect(fill - 2 - kEdgeMargin, 0, 2 + kEdgeMargin, plot.height()));
            } else if (scrolled && plot.isVisible()) {
                plot.scroll(-1, 0);
                plot.update(QRect(0, 0, 2 + kEdgeMargin, plot.height()));
                plot.update(QRect(fill - 3 - kEdgeMargin, 0, 3 + kEdgeMargin, plot.height()));
            } else {
                plot.update();
            }
        }
    }
    showInterval();
}

void TFormGraphics::showInterval()
{
    const std::optional<std::int32_t> ms = m_recorder.shownInterval();
    showText(LblXTiming, ms ? QString::number(*ms) : kNoInterval);
}

void TFormGraphics::BtnClearClick()
{
    m_recorder.Clear();
    showInterval();
    if (m_shown)
        repaintAll();
}

void TFormGraphics::repaintAll()
{
    for (std::size_t m = 0; m < 3; ++m) {
        PaintBoxLeft[m]->update();
        PaintBox[m]->update();
        PaintBoxRight[m]->update();
    }
}

void TFormGraphics::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && m_shown && !isMinimized())
        repaintAll();
}

void TFormGraphics::PaintBox1Paint(TPaintBox &sender, QPainter &painter)
{
    paintCurves(painter, m_recorder, sender.Tag(), sender.paintArea());
}

void TFormGraphics::PaintBoxLeft1Paint(TPaintBox &sender, QPainter &painter)
{
    paintLeftScale(painter, m_recorder, sender.Tag(), sender.width());
}

void TFormGraphics::PaintBoxRight1Paint(TPaintBox &sender, QPainter &painter)
{
    paintRightScale(painter, m_recorder, sender.Tag(), sender.width());
}

QMenu *TFormGraphics::createPlotMenu(int motor, QWidget *parent)
{
    auto *menu = new QMenu(parent);
    connect(menu->addAction(tr("Save Picture...")), &QAction::triggered, this,
            [this, motor] { savePicture(motor); });
    connect(menu->addAction(tr("Export Data...")), &QAction::triggered, this,
            [this] { exportAllData(); });
    menu->addSeparator();
    connect(menu->addAction(tr("Export Motor %1 Only...").arg(motor + 1)), &QAction::triggered,
            this, [this, motor] { exportData(motor); });
    return menu;
}

QMenu *TFormGraphics::createExportMenu(QWidget *parent)
{
    auto *menu = new QMenu(parent);
    connect(menu->addAction(tr("&Data, all motors (CSV)...")), &QAction::triggered, this,
            [this] { exportAllData(); });
    connect(menu->addAction(tr("&Picture (PNG)...")), &QAction::triggered, this,
            [this] { exportPicture(PictureFormat::Png); });
    connect(menu->addAction(tr("Picture (&SVG)...")), &QAction::triggered, this,
            [this] { exportPicture(PictureFormat::Svg); });
    return menu;
}

QImage TFormGraphics::pagePicture(int motor) const
{
    if (!validMotor(motor))
        return {};
    const auto m = static_cast<std::size_t>(motor);
    const QRect area = kLeftStrip.united(kPlotPanel).united(kRightStrip);
    QImage image(area.size(), QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter painter(&image);
    // The same stacking as on the page: the plot's border over the strips' shared columns.
    for (QWidget *w :
         {static_cast<QWidget *>(PaintBoxLeft[m]), static_cast<QWidget *>(PaintBoxRight[m]),
          static_cast<QWidget *>(PnlPlot[m])})
        w->render(&painter, w->geometry().topLeft() - area.topLeft());
    return image;
}

void TFormGraphics::savePicture(int motor)
{
    if (!validMotor(motor))
        return;
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    // A picture that failed to encode would otherwise be saved as an empty file.
    if (!pagePicture(motor).save(&buffer, "PNG")) {
        Dialogs::message(this, tr("The picture could not be made."));
        return;
    }
    saveToChosenFile(tr("Save Picture"), withMotor("Motor", motor) + QStringLiteral(".png"),
                     tr("PNG images (*.png);;All files (*)"), png);
}

void TFormGraphics::exportData(int motor)
{
    if (!validMotor(motor))
        return;
    saveToChosenFile(tr("Export Data"), withMotor("Motor", motor) + QStringLiteral(".csv"),
                     tr("CSV files (*.csv);;All files (*)"), traceCsv(m_recorder, motor));
}

void TFormGraphics::exportAllData()
{
    saveToChosenFile(tr("Export Data"), QStringLiteral("Motors.csv"),
                     tr("CSV files (*.csv);;All files (*)"), traceCsvAll(m_recorder));
}

void TFormGraphics::exportPicture(PictureFormat format)
{
    const bool svg = format == PictureFormat::Svg;
    const QByteArray picture = tracePicture(m_recorder, font(), format);
    if (picture.isEmpty()) {
        Dialogs::message(this, tr("The picture could not be made."));
        return;
    }
    saveToChosenFile(
        tr("Save Picture"), svg ? QStringLiteral("Motors.svg") : QStringLiteral("Motors.png"),
        svg ? tr("SVG images (*.svg);;All files (*)") : tr("PNG images (*.png);;All files (*)"),
        picture);
}

void TFormGraphics::saveToChosenFile(const QString &caption, const QString &proposedName,
                                     const QString &filter, const QByteArray &content)
{
    const QString path =
        Dialogs::chooseFile(this, FileRequest{true, caption, proposedName, filter});
    if (path.isEmpty())
        return;
    saveFileOrReport(this, path, content, tr("File save error!"));
}

} // namespace kvx
