#include "app/TrafficView.h"

#include "app/TrafficDelegate.h"
#include "app/TrafficModel.h"
#include "controls/Dialogs.h"
#include "controls/SaveReport.h"
#include "controls/Widgets.h"
#include "link/TrafficDecoder.h"
#include "session/BoardSession.h"
#include "settings/FileSave.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <memory>
#include <vector>

namespace kvx {

namespace {

QString csvField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// The events as the view lists them; runs on its own thread with its own copy.
QByteArray trafficText(const std::vector<TrafficEvent> &events, bool csv)
{
    const QString separator = csv ? QStringLiteral(",") : QStringLiteral("\t");
    QByteArray text;
    auto line = [&](const QStringList &fields) {
        QStringList out;
        for (const QString &f : fields)
            out << (csv ? csvField(f) : f);
        text += (out.join(separator) + QLatin1Char('\n')).toUtf8();
    };
    line({QStringLiteral("time_ms"), QStringLiteral("direction"), QStringLiteral("kind"),
          QStringLiteral("bytes"), QStringLiteral("meaning")});
    for (const TrafficEvent &e : events) {
        const TrafficRow r = describeTraffic(e);
        line({r.time, r.direction, r.kind, r.bytes, r.meaning});
    }
    return text;
}

} // namespace

TFormTraffic::TFormTraffic(BoardSession &session, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_model(new TrafficModel(session.trafficLog(), this))
    , m_session(session)
    , m_timer(new QTimer(this))
{
    setObjectName(QStringLiteral("FormTraffic"));
    setWindowTitle(tr("Traffic"));
    resize(980, 440);

    // Laid out in a row, so each control needs only its name, caption and hint.
    auto control = []<typename T>(T *w, const char *name, const QString &hint) {
        w->setObjectName(QLatin1String(name));
        setHint(w, hint);
        return w;
    };
    CheckPause = control(new QCheckBox(tr("&Pause"), this), "CheckPause",
                         tr("Stops the view; the traffic is still recorded."));
    BtnClear = control(new QPushButton(tr("C&lear"), this), "BtnClear",
                       tr("Clears the recorded traffic."));
    CheckHidePolls = control(new QCheckBox(tr("&Hide polls"), this), "CheckHidePolls",
                             tr("Hides the poll requests and their replies."));
    CbMotor = control(new QComboBox(this), "CbMotor",
                      tr("Shows only the traffic of one motor's registers."));
    CbMotor->addItems({tr("All motors"), tr("Motor 1"), tr("Motor 2"), tr("Motor 3")});
    BtnSave = control(new QPushButton(tr("&Save..."), this), "BtnSave",
                      tr("Saves the listed traffic to a text or CSV file."));
    BtnClose = control(new QPushButton(tr("&Close"), this), "BtnClose", tr("Closes this window."));

    GridTraffic = new QTableView(this);
    GridTraffic->setObjectName(QStringLiteral("GridTraffic"));
    GridTraffic->setModel(m_model);
    GridTraffic->setItemDelegate(new TrafficDelegate(GridTraffic));
    GridTraffic->setSelectionBehavior(QAbstractItemView::SelectRows);
    GridTraffic->setWordWrap(false);
    GridTraffic->verticalHeader()->hide();
    // Fixed row heights: the view need not measure 100,000 rows.
    GridTraffic->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    GridTraffic->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    GridTraffic->horizontalHeader()->setStretchLastSection(true);
    // Wide enough for the longest time of a day's session, and for the 10-byte identification.
    const QFontMetrics text = fontMetrics();
    const QFontMetrics fixed(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    const int margin = 3 * text.horizontalAdvance(QLatin1Char(' ')) + 8;
    GridTraffic->setColumnWidth(TrafficModel::Time,
                                text.horizontalAdvance(QStringLiteral("86400000.0")) + margin);
    GridTraffic->setColumnWidth(TrafficModel::Direction,
                                text.horizontalAdvance(QStringLiteral("Dir.")) + margin);
    GridTraffic->setColumnWidth(
        TrafficModel::Kind, text.horizontalAdvance(QStringLiteral("start-up sequence")) + margin);
    GridTraffic->setColumnWidth(TrafficModel::Bytes,
                                fixed.horizontalAdvance(QString(29, QLatin1Char('0'))) + margin);

    auto *controls = new QHBoxLayout;
    for (QWidget *w :
         std::initializer_list<QWidget *>{CheckPause, BtnClear, CheckHidePolls, CbMotor, BtnSave})
        controls->addWidget(w);
    controls->addStretch();
    controls->addWidget(BtnClose);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addWidget(GridTraffic);

    m_timer->setInterval(kRefreshMs);
    connect(m_timer, &QTimer::timeout, this, [this] { TimerRefresh(); });
    connect(&session.link(), &BoardLink::traffic, this, [this](const LinkTraffic &t) {
        // Once the link has noted the request's time: just after it is written.
        if (m_refreshDue && m_timer->isActive() && t.sent &&
            (t.kind == TrafficKind::Poll || t.kind == TrafficKind::Direct)) {
            m_refreshDue = false;
            QTimer::singleShot(0, this, [this] { refreshNow(); });
        }
    });
    connect(CheckPause, &QCheckBox::toggled, this, [this] { updateTimer(); });
    connect(BtnClear, &QPushButton::clicked, this, [this] { BtnClearClick(); });
    connect(CheckHidePolls, &QCheckBox::toggled, this, [this] { FilterChange(); });
    connect(CbMotor, &QComboBox::currentIndexChanged, this, [this] { FilterChange(); });
    connect(BtnSave, &QPushButton::clicked, this, [this] { BtnSaveClick(); });
    connect(BtnClose, &QPushButton::clicked, this, &QWidget::hide);
}

TFormTraffic::~TFormTraffic()
{
    if (m_saver) {
        m_saver->wait();
        delete m_saver;
    }
}

void TFormTraffic::updateTimer()
{
    const bool live = isVisible() && !CheckPause->isChecked();
    if (live && !m_timer->isActive()) {
        m_timer->start();
        TimerRefresh();
    } else if (!live) {
        m_timer->stop();
        m_refreshDue = false;
    }
}

void TFormTraffic::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    updateTimer();
}

void TFormTraffic::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    updateTimer();
}

void TFormTraffic::TimerRefresh()
{
    // A read held up by drawing makes a reply look as if an adapter had batched it, and the
    // link then waits for the line to be quiet. The view is drawn right after a request has
    // been written instead: no reply can come while the line carries it. Without requests
    // (a closed port, a silent board) it is drawn at the next tick.
    if (m_session.Connected() && !m_refreshDue) {
        m_refreshDue = true;
        return;
    }
    m_refreshDue = false;
    refreshNow();
}

void TFormTraffic::refreshNow()
{
    // Following the newest only while the user has not scrolled up.
    QScrollBar *bar = GridTraffic->verticalScrollBar();
    const bool atEnd = bar->value() >= bar->maximum();
    if (!m_model->refresh())
        return;
    if (atEnd)
        GridTraffic->scrollToBottom();
    GridTraffic->viewport()->repaint();
}

void TFormTraffic::FilterChange()
{
    m_model->setFilter(CheckHidePolls->isChecked(), CbMotor->currentIndex() - 1);
    GridTraffic->scrollToBottom();
}

void TFormTraffic::BtnClearClick()
{
    m_model->clear();
}

void TFormTraffic::BtnSaveClick()
{
    if (m_saver)
        return;
    const QString path = Dialogs::chooseFile(
        this, FileRequest{true, tr("Save Traffic"), QStringLiteral("traffic.txt"),
                          tr("Text files (*.txt);;CSV files (*.csv);;All files (*)")});
    if (path.isEmpty())
        return;
    // What the view lists now, copied: the poll cycle goes on logging while the file is written.
    m_model->refresh();
    auto events = std::make_shared<std::vector<TrafficEvent>>();
    events->reserve(std::size_t(m_model->rowCount()));
    for (int r = 0; r < m_model->rowCount(); ++r)
        events->push_back(m_model->eventAt(r));
    auto error = std::make_shared<QString>();
    m_saver = QThread::create([path, events, error] {
        const bool csv = path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive);
        *error = saveWholeFile(path, trafficText(*events, csv));
    });
    connect(m_saver, &QThread::finished, this, [this, path, error] {
        m_saver->deleteLater();
        m_saver = nullptr;
        if (!error->isEmpty())
            reportSaveFailure(this, path, *error);
        emit saved(error->isEmpty());
    });
    m_saver->start();
}

} // namespace kvx
