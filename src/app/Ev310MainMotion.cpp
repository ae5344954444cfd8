// The motion commands of the main window: Go and Stop for one motor or for all three. Each runs
// as direct requests with polling paused; every address byte comes from the register map.

#include "app/Ev310Main.h"
#include "app/Ev310Warn.h"
#include "chip/AccelScaling.h"
#include "chip/RegisterMap.h"
#include "controls/Dialogs.h"
#include "controls/SpinEdit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include <algorithm>
#include <cstdlib>

namespace kvx {

namespace {

// Data bits 15..0 of a value, as the commands send 12-bit registers: the chip uses the low 12.
Datagram low16(std::uint8_t address, std::int64_t value)
{
    const auto v = static_cast<std::uint32_t>(value);
    return Datagram{address, {0, std::uint8_t(v >> 8), std::uint8_t(v)}};
}

// The largest speed V_MAX holds, and the largest V_TARGET the chip's 12 bits take either way.
constexpr int kMaxVelocity = 2047;

Datagram full24(std::uint8_t address, std::int64_t value)
{
    return Datagram::make(address, static_cast<std::uint32_t>(value) & kDataMask);
}

} // namespace

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
    auto unanswered = [](int reg, const QString &written) {
        return tr("The board did not answer the read of %1. %2")
            .arg(QString::fromUtf8(motorRegister(reg).name.data(),
                                   qsizetype(motorRegister(reg).name.size())),
                 written);
    };
    const MotorGroup &g = Motors[std::size_t(m)];
    const int a = g.EditAMax->boundedValue();
    const int vMax = g.EditVMax->boundedValue();
    const int vMin = g.EditVMin->boundedValue();
    const int vTarget = g.EditVTarget->boundedValue();
    const int xTarget = g.EditXTarget->boundedValue();
    const int vActual = g.EditVActual->boundedValue();
    const int mode = g.CbRampMode->currentIndex();
    const bool positioning = mode == int(RampMode::Ramp) || mode == int(RampMode::SoftMode);

    bool goOn = false;
    if (positioning) {
        // Without the dividers as the chip holds them, P_MUL / P_DIV would be computed from
        // another register's bytes: the command ends here for this motor.
        const std::optional<Reply> dividers =
            m_session.link().DirectRequest(Datagram{motorReadAddress(m, motor::Dividers), {}});
        if (!dividers)
            return unanswered(motor::Dividers, tr("None of its parameters were written."));
        const RegisterDef &reg = motorRegister(motor::Dividers);
        const int pulsDiv =
            int(unpackField(reg.fields[field::Dividers_PulsDiv], dividers->data.value()));
        const int rampDiv =
            int(unpackField(reg.fields[field::Dividers_RampDiv], dividers->data.value()));
        const int minimum = AMaxMinimum(rampDiv, pulsDiv);
        goOn = a >= minimum || confirmLowAcceleration(minimum);
        if (goOn) {
            const PMulPDiv p = CalcPMulPDiv(a, rampDiv, pulsDiv);
            m_session.link().DirectRequest(
                Datagram{motorWriteAddress(m, motor::PMulPDiv),
                         {0, std::uint8_t(p.pMul), std::uint8_t(p.pDiv)}});
        }
    }

    // The ramp mode goes into the low byte; the rest of the register is written back as read,
    // so a missing reply would write stale bytes into REF_CONF.
    const std::optional<Reply> refConf =
        m_session.link().DirectRequest(Datagram{motorReadAddress(m, motor::RefConfRampMode), {}});
    if (!refConf) {
        return unanswered(motor::RefConfRampMode,
                          positioning && goOn
                              ? tr("Only P_MUL / P_DIV were written; the ramp mode and the ramp "
                                   "parameters were not.")
                              : tr("None of its parameters were written."));
    }
    m_session.link().DirectRequest(
        Datagram{motorWriteAddress(m, motor::RefConfRampMode),
                 {refConf->data.high, refConf->data.mid, std::uint8_t(mode)}});

    if (positioning && goOn) {
        m_session.link().DirectRequest(full24(motorWriteAddress(m, motor::AMax), a));
        m_session.link().DirectRequest(low16(motorWriteAddress(m, motor::VMax), vMax));
        m_session.link().DirectRequest(low16(motorWriteAddress(m, motor::VMin), vMin));
        m_session.link().DirectRequest(full24(motorWriteAddress(m, motor::XTarget), xTarget));
    } else if (mode == int(RampMode::Velocity)) {
        // The field takes any 24-bit number, but V_MAX holds 0 .. 2047 and the chip reads
        // V_TARGET as 12 bits: 3000 would run the motor backwards at -1096.
        const int v = std::clamp(vTarget, -kMaxVelocity, kMaxVelocity);
        m_session.link().DirectRequest(full24(motorWriteAddress(m, motor::AMax), a));
        m_session.link().DirectRequest(low16(motorWriteAddress(m, motor::VMax), std::abs(v)));
        m_session.link().DirectRequest(low16(motorWriteAddress(m, motor::VTarget), v));
    } else if (mode == int(RampMode::Hold)) {
        m_session.link().DirectRequest(low16(motorWriteAddress(m, motor::VActual), vActual));
    }
    return {};
}

void TFormMain::stopMotor(int m)
{
    const MotorGroup &g = Motors[std::size_t(m)];
    // The actual position takes the group's target position, so a positioning mode stays put.
    m_session.link().DirectRequest(
        full24(motorWriteAddress(m, motor::XActual), g.EditXTarget->boundedValue()));
    m_session.link().DirectRequest(Datagram{motorWriteAddress(m, motor::VTarget), {}});
    m_session.link().DirectRequest(Datagram{motorWriteAddress(m, motor::VActual), {}});
}

} // namespace kvx
