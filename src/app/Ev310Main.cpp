#include "app/Ev310Main.h"

#include "app/Ev310Warn.h"
#include "app/OpenFailure.h"
#include "app/PortsDialog.h"
#include "app/TrafficView.h"
#include "app/Version.h"
#include "attach/AttachServer.h"
#include "chip/RegisterMap.h"
#include "chip/StatusBits.h"
#include "controls/Dialogs.h"
#include "controls/LuLED.h"
#include "controls/SpinEdit.h"
#include "controls/Widgets.h"
#include "editor/Ev310Registers.h"
#include "graphics/Ev310Graphics.h"
#include "records/WindowRecording.h"
#include "settings/SettingsLocation.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QStatusBar>
#include <QVBoxLayout>

namespace kvx {

namespace {

constexpr int kClientWidth = 628; // the outer 636 x 770 less the window frame
constexpr int kClientHeight = 743;
constexpr int kPortCount = 9;

struct LedRow
{
    int bit;
    int y;
};
// Top to bottom; the status byte is applied in the order 0..5, 7, 6.
constexpr LedRow kLedRows[] = {{0, 24},  {1, 48},  {2, 88},  {3, 112},
                               {4, 152}, {5, 176}, {6, 216}, {7, 240}};
constexpr int kLedUpdateOrder[] = {0, 1, 2, 3, 4, 5, 7, 6};
constexpr const char *kLedNames[] = {"LedXReached1",    "LedReference1", "LedXReached2",
                                     "LedReference2",   "LedXReached3",  "LedReference3",
                                     "LedCoverWaiting", "LedInterrupt"};

} // namespace

TFormMain::TFormMain(const QString &settingsPath, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , m_attach(std::make_unique<AttachServer>(m_session))
    , m_recording(std::make_unique<WindowRecording>(m_session))
    , m_settings(settingsPath.isEmpty() ? defaultSettingsPath() : settingsPath)
{
    setObjectName(QStringLiteral("FormMain"));
    Hint95 = new THint95(this);
    Hint95->OnShowHint = [this](QString &hint, bool &canShow, THintInfo &info) {
        Hint95ShowHint(hint, canShow, info);
    };
    buildInterface();
    nameFieldsByTheirCaptions(this);
    wireSession();
    FormCreate();
}

TFormMain::~TFormMain() = default;

void TFormMain::Hint95ShowHint(QString &, bool &, THintInfo &info)
{
    info.HintMaxWidth = 200;
    info.HideTimeout = 5000;
}

void TFormMain::buildInterface()
{
    // It may be made smaller, never larger; made smaller, it scrolls its client area.
    resize(kClientWidth, kClientHeight);
    setMaximumSize(kClientWidth, kClientHeight);
    move(303, 129);
    ScrollBox = new QScrollArea(this);
    ScrollBox->setObjectName(QStringLiteral("ScrollBox"));
    ScrollBox->setFrameShape(QFrame::NoFrame);
    ScrollBox->setWidgetResizable(false);
    Client = new QWidget;
    Client->setObjectName(QStringLiteral("Client"));
    Client->setFixedSize(kClientWidth, kClientHeight);
    ScrollBox->setWidget(Client);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(ScrollBox);

    GrpCOM = group(Client, QStringLiteral("GrpCOM"), tr(" Interface "), {8, 8, 305, 121});
    ComboCOM = new QComboBox(GrpCOM);
    ComboCOM->setObjectName(QStringLiteral("ComboCOM"));
    ComboCOM->setGeometry(16, 24, 89, 21);
    for (int i = 1; i <= kPortCount; ++i)
        ComboCOM->addItem(QStringLiteral("COM%1").arg(i));
    setHint(ComboCOM, tr("Select the serial port to which the evaluation board is connected."));
    BtnOpen = button(GrpCOM, QStringLiteral("BtnOpen"), tr("&Open"), {120, 22, 75, 25},
                     tr("Clicking this button opens the serial port."));
    BtnClose = button(GrpCOM, QStringLiteral("BtnClose"), tr("&Close"), {208, 22, 75, 25},
                      tr("Clicking this button closes the serial port."));
    StaticInfo1 = sunkenField(GrpCOM, QStringLiteral("StaticInfo1"), {16, 56, 265, 17});
    StaticInfo2 = sunkenField(GrpCOM, QStringLiteral("StaticInfo2"), {16, 80, 265, 17});
    StaticInfo1->setAccessibleName(tr("Status"));
    StaticInfo2->setAccessibleName(tr("Status, second line"));

    GrpMore = group(Client, QStringLiteral("GrpMore"), tr(" More "), {8, 136, 305, 145});
    BtnCmd310 = button(GrpMore, QStringLiteral("BtnCmd310"), tr("KVX &310 Registers..."),
                       {16, 24, 145, 25}, tr("Click here to open the advanced register window."));
    BtnGraphics = button(GrpMore, QStringLiteral("BtnGraphics"), tr("&Graphics..."),
                         {16, 56, 145, 25}, tr("Click here to open the graphics window."));
    BtnPorts = button(GrpMore, QStringLiteral("BtnPorts"), tr("&Ports..."), {184, 56, 113, 25},
                      tr("Click here to choose the devices COM1 to COM9 stand for."));
    BtnTraffic = button(GrpMore, QStringLiteral("BtnTraffic"), tr("&Traffic..."), {16, 88, 145, 25},
                        tr("Click here to watch every datagram on the link, decoded."));
    BtnKVX620 = button(GrpMore, QStringLiteral("BtnKVX620"), tr("KVX &620 Registers"),
                       {184, 24, 113, 25}, QString());
    BtnRecord = button(GrpMore, QStringLiteral("BtnRecord"), tr("&Record..."), {184, 88, 113, 25},
                       tr("Click here to record the live values of every poll cycle into a CSV "
                          "file; click again to stop."));
    LblRecord = new QLabel(GrpMore);
    LblRecord->setObjectName(QStringLiteral("LblRecord"));
    LblRecord->setGeometry(16, 120, 160, 17);
    LblRecord->setAccessibleName(tr("Recording"));
    CheckSlow = new QCheckBox(tr("Use Slow SPI"), GrpMore);
    CheckSlow->setObjectName(QStringLiteral("CheckSlow"));
    CheckSlow->move(184, 120);
    CheckSlow->adjustSize();

    GrpStatus = group(Client, QStringLiteral("GrpStatus"), tr(" KVX310 Status Bits "),
                      {400, 8, 209, 273}, tr("The KVX310 status bits are being displayed here."));
    for (const LedRow &row : kLedRows) {
        auto *led = new TLuLedLittle(GrpStatus);
        led->setObjectName(QLatin1String(kLedNames[row.bit]));
        led->move(24, row.y);
        StatusLeds[std::size_t(row.bit)] = led;
        caption(GrpStatus, QStringLiteral("LblStatus%1").arg(row.bit),
                QString::fromLatin1(kStatusBitNames[std::size_t(row.bit)].data()), {48, row.y + 1});
    }

    for (int m = 0; m < kMotorCount; ++m)
        buildMotorGroup(m);

    GrpAll = group(Client, QStringLiteral("GrpAll"), tr(" All Motors "), {8, 640, 601, 81});
    BtnStopAll = button(GrpAll, QStringLiteral("BtnStopAll"), tr("All &Stop!"), {16, 24, 185, 41},
                        tr("Click this button to stop all motors."));
    BtnGoAll = button(GrpAll, QStringLiteral("BtnGoAll"), tr("All G&o!"), {400, 24, 185, 41},
                      tr("Click this button to run all motors using the parameters specified "
                         "above."));

    StatusBar1 = new QStatusBar(Client);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    StatusBar1->setGeometry(0, kClientHeight - 19, kClientWidth, 19);

    connect(BtnOpen, &QPushButton::clicked, this, [this] { BtnOpenClick(); });
    connect(BtnClose, &QPushButton::clicked, this, [this] { BtnCloseClick(); });
    connect(BtnCmd310, &QPushButton::clicked, this, [this] { BtnCmd310Click(); });
    connect(BtnGraphics, &QPushButton::clicked, this, [this] { BtnGraphicsClick(); });
    connect(BtnTraffic, &QPushButton::clicked, this, [this] { BtnTrafficClick(); });
    connect(BtnPorts, &QPushButton::clicked, this, [this] { BtnPortsClick(); });
    connect(BtnRecord, &QPushButton::clicked, this, [this] { BtnRecordClick(); });
    connect(BtnKVX620, &QPushButton::clicked, this, [this] { BtnKVX620Click(); });
    connect(BtnGoAll, &QPushButton::clicked, this, [this] { BtnGoAllClick(); });
    connect(BtnStopAll, &QPushButton::clicked, this, [this] { BtnStopAllClick(); });
}

void TFormMain::buildMotorGroup(int m)
{
    MotorGroup &g = Motors[std::size_t(m)];
    g.Grp = group(Client, withMotor("GrpMot", m), tr(" Motor %1 ").arg(m + 1),
                  {8 + 208 * m, 288, 185, 345});
    auto spin = [&](const char *name, int y, int minimum, int maximum) {
        auto *s = new TSpinEdit(g.Grp);
        s->setObjectName(withMotor(name, m));
        s->setRange(minimum, maximum);
        s->setValue(0);
        s->setGeometry(104, y, 73, 21);
        return s;
    };
    auto label = [&](const char *name, const QString &text, int y) {
        return caption(g.Grp, withMotor(name, m), text, {8, y + 3});
    };
    g.EditXTarget = spin("EditXTarget", 16, -8388608, 8388607);
    g.LblXTarget = label("LblXTarget", tr("Target Position:"), 16);
    g.EditVTarget = spin("EditVTarget", 40, -8388608, 8388607);
    g.LblVTarget = label("LblVTarget", tr("Target Velocity:"), 40);
    g.EditVMin = spin("EditVMin", 64, 0, 2047);
    g.LblVMin = label("LblVMin", tr("Vmin:"), 64);
    g.EditVMax = spin("EditVMax", 88, 0, 2047);
    g.LblVMax = label("LblVMax", tr("Vmax:"), 88);
    g.EditAMax = spin("EditAMax", 112, 0, 2047);
    g.LblAMax = label("LblAMax", tr("Max. Accel.:"), 112);
    g.EditVActual = spin("EditVActual", 136, -2047, 2047);
    g.LblEVact = label(m == 1 ? "LblEVAct" : "LblEVact", tr("Actual Velocity:"), 136);

    g.CbRampMode = new QComboBox(g.Grp);
    g.CbRampMode->setObjectName(withMotor("CbRampMode", m));
    for (std::string_view mode : kRampModeNames)
        g.CbRampMode->addItem(QString::fromLatin1(mode.data(), qsizetype(mode.size())));
    g.CbRampMode->setGeometry(104, 176, 73, 21);
    g.LblMode = label("LblMode", tr("Ramp Mode:"), 176);
    connect(g.CbRampMode, &QComboBox::currentIndexChanged, this,
            [this, c = g.CbRampMode] { CbRampMode1Change(c); });

    g.BtnStop = button(g.Grp, withMotor("BtnStop", m), tr("Stop!"), {12, 208, 75, 25},
                       tr("Click this button to stop motor %1.").arg(m + 1));
    g.BtnGo = button(
        g.Grp, withMotor("BtnGo", m), tr("Go!"), {100, 208, 75, 25},
        tr("Click this button to run motor %1 using the parameters specified above.").arg(m + 1));
    connect(g.BtnGo, &QPushButton::clicked, this, [this, b = g.BtnGo] { BtnGo1Click(b); });
    connect(g.BtnStop, &QPushButton::clicked, this, [this, b = g.BtnStop] { BtnStop1Click(b); });

    g.StaticXAct = sunkenField(g.Grp, withMotor("StaticXAct", m), {104, 248, 73, 17});
    label("LblXAct", tr("Actual Position:"), 248 - 2);
    g.StaticVAct = sunkenField(g.Grp, withMotor("StaticVAct", m), {104, 272, 73, 17});
    label("LblVAct", tr("Actual Velocity:"), 272 - 2);
    g.StaticAAct = sunkenField(g.Grp, withMotor("StaticAAct", m), {104, 296, 73, 17});
    label("LblAAct", tr("Actual Accel.:"), 296 - 2);
    g.StaticVTarget = sunkenField(g.Grp, withMotor("StaticVTarget", m), {104, 320, 73, 17});
    label("LblVTargetAct", tr("Target Velocity:"), 320 - 2);
}

void TFormMain::wireSession()
{
    connect(&m_session, &BoardSession::opened, this, [this] {
        setConnectedControls(true);
        showNoBoard(); // until this board has told what it is
    });
    connect(&m_session.link(), &BoardLink::boardStateChanged, this, &TFormMain::showBoardState);
    connect(&m_session.link(), &BoardLink::identified, this, &TFormMain::showIdentified);
    connect(&m_session.link(), &BoardLink::sendError, this,
            [this] { Dialogs::message(this, tr("Send error!")); });
    connect(&m_session, &BoardSession::deviceLost, this, &TFormMain::onDeviceLost);
    connect(m_recording.get(), &WindowRecording::progress, this, &TFormMain::showRecording);
    connect(m_recording.get(), &WindowRecording::failed, this,
            [this](const QString &why) { stopRecording(why); });
    connect(CheckSlow, &QCheckBox::toggled, this,
            [this](bool slow) { m_session.link().setSlowSpi(slow); });

    // The live values of each motor, and the status lamps.
    for (int m = 0; m < kMotorCount; ++m) {
        const MotorGroup &g = Motors[std::size_t(m)];
        m_rowFields[std::size_t(PollTable::motorRow(m, motor::XActual))] = g.StaticXAct;
        m_rowFields[std::size_t(PollTable::motorRow(m, motor::VTarget))] = g.StaticVTarget;
        m_rowFields[std::size_t(PollTable::motorRow(m, motor::VActual))] = g.StaticVAct;
        m_rowFields[std::size_t(PollTable::motorRow(m, motor::AActual))] = g.StaticAAct;
    }
    connect(&m_session.scheduler(), &PollScheduler::pollReplyShown, this,
            [this](int row, const Reply &reply) {
                if (QLabel *field = m_rowFields[std::size_t(row)])
                    showText(field, m_session.table().text(row, reply.data));
                showStatusBits(reply.status);
            });
}

void TFormMain::attachWindows(TFormAdvanced *advanced, TFormGraphics *graphics,
                              TFormWarning *warning, TFormTraffic *traffic)
{
    m_advanced = advanced;
    m_graphics = graphics;
    m_warning = warning;
    m_traffic = traffic;
}

void TFormMain::FormCreate()
{
    BaseTitle =
        tr("KVX310 Evaluation Kit") + QStringLiteral(" V") + FormatVersion(ReadFileVersion());
    setWindowTitle(BaseTitle);

    const int port = m_settings.portIndex();
    ComboCOM->setCurrentIndex(port >= 0 && port < kPortCount ? port : -1);

    BtnKVX620->hide();
    BtnKVX620->setEnabled(false);

    // The session starts with row 0 next, an idle link, polling enabled, the timer off and
    // no detection running.
    setConnectedControls(false);
    showStatus(tr("No port opened."), tr("Select a port, then click \"Open\"."));

    for (int m = 0; m < kMotorCount; ++m) {
        const QSignalBlocker block(Motors[std::size_t(m)].CbRampMode);
        Motors[std::size_t(m)].CbRampMode->setCurrentIndex(0);
        CbRampMode1Change(Motors[std::size_t(m)].CbRampMode);
    }

    CheckSlow->setEnabled(false);
    CheckSlow->hide();
    CheckSlow->setChecked(false);
}

void TFormMain::setConnectedControls(bool open)
{
    BtnOpen->setEnabled(!open);
    BtnClose->setEnabled(open);
    BtnCmd310->setEnabled(open);
    ComboCOM->setEnabled(!open);
    for (MotorGroup &g : Motors) {
        g.BtnStop->setEnabled(open);
        g.BtnGo->setEnabled(open);
    }
    BtnStopAll->setEnabled(open);
    BtnGoAll->setEnabled(open);
    BtnGraphics->setEnabled(open);
    BtnRecord->setEnabled(open);
}

void TFormMain::showStatus(const QString &first, const QString &second)
{
    StaticInfo1->setText(first);
    StaticInfo2->setText(second);
}

void TFormMain::showBoardState(BoardState state)
{
    switch (state) {
    case BoardState::Closed:
        return; // the window's own closing words it
    case BoardState::Detecting:
        showStatus(tr("Trying to detect the board."), QString());
        return;
    case BoardState::Active: {
        const BoardLink &link = m_session.link();
        showStatus(tr("The board is active."), link.KorveBoard()    ? tr("KORVE detected!")
                                               : link.PentarBoard() ? tr("Pentar detected!")
                                                   : tr("KVX310 evaluation board detected!"));
        return;
    }
    case BoardState::NotResponding:
        showStatus(tr("The board does not respond."), tr("Please check the cable and power."));
        return;
    }
}

void TFormMain::showStatusBits(std::uint8_t status)
{
    const auto bits = decodeStatus(status);
    for (int bit : kLedUpdateOrder) {
        StatusLeds[std::size_t(bit)]->setLedColor(bitLedColor(bits[std::size_t(bit)]));
    }
}

void TFormMain::showNoBoard()
{
    setWindowTitle(BaseTitle);
    CheckSlow->setEnabled(false);
    CheckSlow->hide();
    for (TLuLedLittle *led : StatusLeds)
        led->setLedColor(TLedLittleColor::lcBlack);
}

void TFormMain::showIdentified(BoardVariant variant)
{
    if (variant == BoardVariant::Korve) {
        setWindowTitle(BaseTitle + tr(" (KORVE Version)"));
        CheckSlow->setEnabled(true);
        CheckSlow->show();
    } else if (variant == BoardVariant::Pentar) {
        setWindowTitle(BaseTitle + tr(" (Pentar Version)"));
    }
}

void TFormMain::BtnOpenClick()
{
    // The controls follow the session's "opened", before row 0 goes out: a "Send error!" box
    // for it already finds "Close" enabled and "Open" disabled.
    const QString port = ComboCOM->currentText();
    // Two programs on one line would take each other's replies.
    if (AttachServer::heldElsewhere(resolvePortName(port, m_settings.ports()))) {
        Dialogs::message(this, MessageRequest{QMessageBox::Warning,
                                              tr("Could not open port %1.").arg(port),
                                              tr("The port is in use by another Eval310 window. "
                                                 "Use that window, or close the port there.")});
        return;
    }
    if (!m_session.Open(port, m_settings.ports())) {
        Dialogs::message(this, MessageRequest{QMessageBox::Warning,
                                              tr("Could not open port %1.").arg(port),
                                              openFailureDetail()});
        return;
    }
    listenForTool();
}

void TFormMain::closeConnection()
{
    if (m_advanced && m_advanced->EditorShown())
        m_advanced->close();
    if (m_graphics && m_graphics->Shown())
        m_graphics->close();
    stopRecording();
    // The tool's commands end first, unanswered, with the window's own.
    m_attach->close();
    // Polling stops, and any command waiting for a reply ends now, unanswered.
    m_session.Close();
    setConnectedControls(false);
    BtnKVX620->setEnabled(false);
    showNoBoard();
    showStatus(tr("No port opened."), tr("Select a port, then click \"Open\"."));
}

void TFormMain::BtnCloseClick()
{
    closeConnection();
}

void TFormMain::onDeviceLost(const QString &reason)
{
    const QString port = ComboCOM->currentText();
    closeConnection();
    QString detail = tr("The port has been closed.");
    if (!reason.isEmpty())
        detail = reason + QStringLiteral(". ") + detail;
    Dialogs::message(this,
                     MessageRequest{QMessageBox::Warning,
                                    tr("The connection to port %1 was lost.").arg(port), detail});
}

QString TFormMain::openFailureDetail() const
{
    const OpenAttempt &open = m_session.lastOpen();
    return kvx::openFailureDetail(OpenFailure{ComboCOM->currentText(), open.target, open.error,
                                              open.errorText, QFileInfo(open.device).group(),
                                              m_settings.path()});
}

void TFormMain::BtnCmd310Click()
{
    if (m_advanced) {
        m_advanced->show();
        m_advanced->raise();
    }
}

void TFormMain::BtnGraphicsClick()
{
    if (m_graphics) {
        m_graphics->show();
        m_graphics->raise();
    }
}

void TFormMain::BtnTrafficClick()
{
    // Open or not: what went over the link before a fault is worth a look afterwards.
    if (m_traffic) {
        m_traffic->show();
        m_traffic->raise();
    }
}

void TFormMain::BtnPortsClick()
{
    TFormPorts dialog(m_settings.portTargets(),
                      m_deviceSource ? m_deviceSource : DeviceSource(&systemSerialDevices), this);
    if (m_session.Connected())
        dialog.setOpenPort(ComboCOM->currentText(), m_session.lastOpen().device);
    if (Dialogs::exec(dialog) != QDialog::Accepted)
        return;
    // The file as it is now, with only the port lines changed.
    if (!m_settings.setPortTargets(dialog.targets()))
        Dialogs::message(this, MessageRequest{QMessageBox::Warning,
                                              tr("Could not write %1.").arg(m_settings.path()),
                                              tr("The port choices were not kept.")});
}

void TFormMain::CbRampMode1Change(QObject *sender)
{
    const int m = motorOf(sender);
    if (m < 0)
        return;
    MotorGroup &g = Motors[std::size_t(m)];
    const int r = g.CbRampMode->currentIndex();
    const bool positioning = r == 0 || r == 1;
    for (QWidget *w : {static_cast<QWidget *>(g.EditAMax), static_cast<QWidget *>(g.LblAMax)})
        w->setEnabled(positioning || r == 2);
    for (QWidget *w : {static_cast<QWidget *>(g.EditVMax), static_cast<QWidget *>(g.LblVMax),
                       static_cast<QWidget *>(g.EditVMin), static_cast<QWidget *>(g.LblVMin),
                       static_cast<QWidget *>(g.EditXTarget), static_cast<QWidget *>(g.LblXTarget)})
        w->setEnabled(positioning);
    for (QWidget *w : {static_cast<QWidget *>(g.EditVTarget), static_cast<QWidget *>(g.LblVTarget)})
        w->setEnabled(r == 2);
    for (QWidget *w : {static_cast<QWidget *>(g.EditVActual), static_cast<QWidget *>(g.LblEVact)})
        w->setEnabled(r == 3);
}

void TFormMain::FormClose()
{
    stopRecording();
    m_attach->close();
    m_session.Close();
    // A settings file that cannot be written is not worth a message.
    m_settings.setPortIndex(ComboCOM->currentIndex());
}

void TFormMain::closeEvent(QCloseEvent *event)
{
    if (!m_closing) {
        m_closing = true;
        FormClose();
        emit closed();
    }
    QWidget::closeEvent(event);
}

} // namespace kvx
