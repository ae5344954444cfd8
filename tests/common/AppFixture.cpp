#include "common/AppFixture.h"

#include "sim/SimulatedPorts.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>

#include <memory>

namespace kvx {

AppFixture::AppFixture()
    : m_ini(m_dir.filePath(QStringLiteral("Eval310.ini")))
{
    Dialogs::setMessageHandler([this](QWidget *, const MessageRequest &r) { messages << r; });
    Dialogs::setDialogHandler([this](QDialog &) {
        ++dialogs;
        return dialogAnswer;
    });
    Dialogs::setFileHandler([this](QWidget *, const FileRequest &r) {
        fileRequests << r;
        return fileAnswer;
    });
}

AppFixture::~AppFixture()
{
    destroyWindows();
    m_board.reset();
    Dialogs::setMessageHandler({});
    Dialogs::setDialogHandler({});
    Dialogs::setFileHandler({});
}

bool AppFixture::writeSettings(const QByteArray &content)
{
    QFile f(m_ini);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}

QByteArray AppFixture::readSettings() const
{
    QFile f(m_ini);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool AppFixture::mapCom1(const QString &device)
{
    return writeSettings("[Ports]\nCOM1=" + device.toLocal8Bit() + "\n");
}

sim::PtyBoardServer &AppFixture::startBoard(const sim::BoardOptions &options)
{
    m_board = std::make_unique<sim::PtyBoardServer>(options);
    // A board whose terminal is not named in the settings would not be found: it stops.
    if (m_board->start() && !mapCom1(m_board->terminalPath()))
        m_board->hangUp();
    return *m_board;
}

void AppFixture::createWindows()
{
    m_main = std::make_unique<TFormMain>(m_ini);
    session().setSimulatedPortProvider(&sim::SimulatedPorts::terminalFor);
    m_advanced = std::make_unique<TFormAdvanced>(session());
    m_graphics = std::make_unique<TFormGraphics>(session());
    m_warning = std::make_unique<TFormWarning>();
    m_traffic = std::make_unique<TFormTraffic>(session());
    m_main->attachWindows(m_advanced.get(), m_graphics.get(), m_warning.get(), m_traffic.get());
}

bool AppFixture::openAndWaitFor(const QString &detected)
{
    m_main->BtnOpenClick();
    const QDeadlineTimer deadline(kEventWait);
    while (m_main->StaticInfo2->text() != detected && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return m_main->StaticInfo2->text() == detected;
}

void AppFixture::useSkippingClock()
{
    m_clockSkipped = 0;
    auto steady = std::make_shared<QElapsedTimer>();
    steady->start();
    session().setClock([this, steady] { return steady->elapsed() + m_clockSkipped; });
}

void AppFixture::skipWatchdog(bool pastLateQuiet)
{
    m_clockSkipped += BoardLink::kWatchdogTimeout.count() + 1;
    session().scheduler().TimerActionsTimer();
    if (!pastLateQuiet)
        return;
    m_clockSkipped += BoardLink::kLateQuiet.count() + 1;
    session().scheduler().TimerActionsTimer();
}

void AppFixture::destroyWindows()
{
    // The windows given the session go before the main window that owns it.
    m_traffic.reset();
    m_warning.reset();
    m_graphics.reset();
    m_advanced.reset();
    m_main.reset();
}

} // namespace kvx
