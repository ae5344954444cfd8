#include "session/MotionCommands.h"

#include "chip/AccelScaling.h"
#include "chip/RegisterMap.h"
#include "link/BoardLink.h"

#include <QCoreApplication>
#include <QStringList>

#include <algorithm>
#include <cstdlib>

namespace kvx {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("MotionCommands", text);
}

// Data bits 15..0 of a value, as the commands send 12-bit registers: the chip uses the low 12.
Datagram low16(std::uint8_t address, std::int64_t value)
{
    const auto v = static_cast<std::uint32_t>(value);
    return Datagram{address, {0, std::uint8_t(v >> 8), std::uint8_t(v)}};
}

Datagram full24(std::uint8_t address, std::int64_t value)
{
    return Datagram::make(address, static_cast<std::uint32_t>(value) & kDataMask);
}

// The largest speed V_MAX holds, and the largest V_TARGET the chip's 12 bits take either way.
constexpr int kMaxVelocity = 2047;

QString registerName(int reg)
{
    const std::string_view name = motorRegister(reg).name;
    return QString::fromUtf8(name.data(), qsizetype(name.size()));
}

QString unanswered(int reg, const QString &written)
{
    return tr("The board did not answer the read of %1. %2").arg(registerName(reg), written);
}

} // namespace

int velocitySent(int vTarget)
{
    return std::clamp(vTarget, -kMaxVelocity, kMaxVelocity);
}

QString goMotor(RequestChannel &link, int m, const GoParameters &p,
                const ConfirmLowAcceleration &confirm)
{
    // The writes in order; the first one left unanswered ends the command, and the message
    // says which ones went out before it.
    QStringList written;
    QString failure;
    auto write = [&](const Datagram &d, int reg) {
        if (!failure.isEmpty())
            return;
        const QString name = registerName(reg);
        if (!link.DirectRequest(d)) {
            failure =
                tr("The board did not answer the write of %1. %2")
                    .arg(name, written.isEmpty()
                                   ? tr("Nothing was written before it.")
                                   : tr("Written before it: %1.").arg(written.join(tr(", "))));
        }
        written << name;
    };

    const bool positioning = p.mode == int(RampMode::Ramp) || p.mode == int(RampMode::SoftMode);
    bool goOn = false;
    if (positioning) {
        // Without the dividers as the chip holds them, P_MUL / P_DIV would be computed from
        // another register's bytes: the command ends here for this motor.
        const std::optional<Reply> dividers =
            link.DirectRequest(Datagram{motorReadAddress(m, motor::Dividers), {}});
        if (!dividers)
            return unanswered(motor::Dividers, tr("None of its parameters were written."));
        const RegisterDef &reg = motorRegister(motor::Dividers);
        const int pulsDiv =
            int(unpackField(reg.fields[field::Dividers_PulsDiv], dividers->data.value()));
        const int rampDiv =
            int(unpackField(reg.fields[field::Dividers_RampDiv], dividers->data.value()));
        const int minimum = AMaxMinimum(rampDiv, pulsDiv);
        goOn = p.aMax >= minimum || (confirm && confirm(minimum));
        if (goOn) {
            const PMulPDiv pm = CalcPMulPDiv(p.aMax, rampDiv, pulsDiv);
            write(Datagram{motorWriteAddress(m, motor::PMulPDiv),
                           {0, std::uint8_t(pm.pMul), std::uint8_t(pm.pDiv)}},
                  motor::PMulPDiv);
            if (!failure.isEmpty())
                return failure;
        }
    }

    // The ramp mode goes into the low byte; the rest of the register is written back as read,
    // so a missing reply would write stale bytes into REF_CONF.
    const std::optional<Reply> refConf =
        link.DirectRequest(Datagram{motorReadAddress(m, motor::RefConfRampMode), {}});
    if (!refConf) {
        return unanswered(motor::RefConfRampMode,
                          positioning && goOn
                              ? tr("Only P_MUL / P_DIV were written; the ramp mode and the ramp "
                                   "parameters were not.")
                              : tr("None of its parameters were written."));
    }
    write(Datagram{motorWriteAddress(m, motor::RefConfRampMode),
                   {refConf->data.high, refConf->data.mid, std::uint8_t(p.mode)}},
          motor::RefConfRampMode);

    if (positioning && goOn) {
        write(full24(motorWriteAddress(m, motor::AMax), p.aMax), motor::AMax);
        write(low16(motorWriteAddress(m, motor::VMax), p.vMax), motor::VMax);
        write(low16(motorWriteAddress(m, motor::VMin), p.vMin), motor::VMin);
        write(full24(motorWriteAddress(m, motor::XTarget), p.xTarget), motor::XTarget);
    } else if (p.mode == int(RampMode::Velocity)) {
        // 3000 as it stands would run the motor backwards at -1096.
        const int v = velocitySent(p.vTarget);
        write(full24(motorWriteAddress(m, motor::AMax), p.aMax), motor::AMax);
        write(low16(motorWriteAddress(m, motor::VMax), std::abs(v)), motor::VMax);
        write(low16(motorWriteAddress(m, motor::VTarget), v), motor::VTarget);
    } else if (p.mode == int(RampMode::Hold)) {
        write(low16(motorWriteAddress(m, motor::VActual), p.vActual), motor::VActual);
    }
    return failure;
}

QString stopMotor(RequestChannel &link, int m, int xTarget)
{
    // Every write is tried even when one goes unanswered: any of them slows the motor.
    // The actual position takes the target position, so a positioning mode stays put.
    const std::pair<Datagram, int> writes[] = {
        {full24(motorWriteAddress(m, motor::XActual), xTarget), motor::XActual},
        {Datagram{motorWriteAddress(m, motor::VTarget), {}}, motor::VTarget},
        {Datagram{motorWriteAddress(m, motor::VActual), {}}, motor::VActual},
    };
    QStringList unanswered;
    for (const auto &[d, reg] : writes) {
        if (!link.DirectRequest(d))
            unanswered << registerName(reg);
    }
    if (unanswered.isEmpty())
        return {};
    return tr("The board did not answer the write of %1.").arg(unanswered.join(tr(", ")));
}

} // namespace kvx
