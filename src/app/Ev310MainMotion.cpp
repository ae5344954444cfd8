// The motion commands of the main window: Go and Stop for one motor or for all three. Each runs
// as direct requests with polling paused; every address byte comes from the register map.

#include "app/Ev310Main.h"
#include "app/Ev310Warn.h"
#include "chip/RegisterMap.h"
#include "controls/Dialogs.h"
#include "controls/SpinEdit.h"
#include "session/MotionCommands.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

namespace kvx {

int TFormMain::motorOf(QObject *sender) const
{
    for (int m = 0; m < kMotorCount; ++m) {
        const MotorGroup &g = Motors[std::size_t(m)];
        if (sender == g.BtnGo || sender == g.BtnStop || sender == g.CbRampMode)
            return m;
    }
    return -1;
}

void TFormMain::BtnGo1Click(QObject *sender)
{
    const int m = motorOf(sender);
    if (m < 0)
        return;
    // A value still being typed goes out as its field will hold it, and shows so.
    TSpinEdit::commitAll(Client);
    std::array<QString, kMotorCount> stopped;
    {
        const PollPause pause = m_session.link().PausePolling();
        stopped[std::size_t(m)] = goMotor(m);
    }
    reportGoStopped(stopped);
}

void TFormMain::BtnStop1Click(QObject *sender)
{
    const int m = motorOf(sender);
    if (m < 0)
        return;
    TSpinEdit::commitAll(Client);
    const PollPause pause = m_session.link().PausePolling();
    stopMotor(m);
}

void TFormMain::BtnGoAllClick()
{
    TSpinEdit::commitAll(Client);
    std::array<QString, kMotorCount> stopped;
    {
        const PollPause pause = m_session.link().PausePolling();
        for (int m = 0; m < kMotorCount; ++m)
            stopped[std::size_t(m)] = goMotor(m);
    }
    // One message for the whole command, after polling has resumed.
    reportGoStopped(stopped);
}

void TFormMain::reportGoStopped(const std::array<QString, kMotorCount> &stopped)
{
    QStringList motors;
    QStringList why;
    for (int m = 0; m < kMotorCount; ++m) {
        if (stopped[std::size_t(m)].isEmpty())
            continue;
        motors << QString::number(m + 1);
        why << tr("Motor %1: %2").arg(m + 1).arg(stopped[std::size_t(m)]);
    }
    if (motors.isEmpty())
        return;
    const QString text = motors.size() == 1
                             ? tr("Motor %1 was not started.").arg(motors.first())
                             : tr("Motors %1 were not started.").arg(motors.join(tr(", ")));
    Dialogs::message(this, MessageRequest{QMessageBox::Warning, text, why.join(QLatin1Char('\n'))});
}

void TFormMain::BtnStopAllClick()
{
    TSpinEdit::commitAll(Client);
    const PollPause pause = m_session.link().PausePolling();
    for (int m = 0; m < kMotorCount; ++m)
        stopMotor(m);
}

bool TFormMain::confirmLowAcceleration(int minimum)
{
    if (!m_warning)
        return true;
    m_warning->setMinimum(minimum);
    if (m_warning->CheckNotify->isChecked())
        return true;
    // Any way of closing the dialog other than "Continue" means not going on.
    return Dialogs::exec(*m_warning) == TFormWarning::mrYes;
}

QString TFormMain::goMotor(int m)
{
    const MotorGroup &g = Motors[std::size_t(m)];
    // The field takes any 24-bit number, the chip far less: it shows what goes out, as the
    // register editor's fields do when they send.
    if (g.CbRampMode->currentIndex() == int(RampMode::Velocity)) {
        const int sent = velocitySent(g.EditVTarget->boundedValue());
        if (sent != g.EditVTarget->Value())
            g.EditVTarget->setValue(sent);
    }
    const GoParameters p{g.CbRampMode->currentIndex(),  g.EditAMax->boundedValue(),
                         g.EditVMax->boundedValue(),    g.EditVMin->boundedValue(),
                         g.EditVTarget->boundedValue(), g.EditXTarget->boundedValue(),
                         g.EditVActual->boundedValue()};
    return kvx::goMotor(m_session.link(), m, p,
                        [this](int minimum) { return confirmLowAcceleration(minimum); });
}

void TFormMain::stopMotor(int m)
{
    // A write left unanswered is told by the status line ("The board does not respond."): a
    // message box would stand in the way of the next click on Stop.
    (void)kvx::stopMotor(m_session.link(), m, Motors[std::size_t(m)].EditXTarget->boundedValue());
}

} // namespace kvx
