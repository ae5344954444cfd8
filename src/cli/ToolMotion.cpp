// kvx310 go and stop: the main window's sequences, with what the command line gives in place
// of its fields and what it lacks read from the board.

#include "chip/AccelScaling.h"
#include "chip/ValueFormat.h"
#include "cli/Tool.h"
#include "session/MotionCommands.h"

#include <QElapsedTimer>

#include <algorithm>
#include <tuple>

namespace kvx::cli {

namespace {

// V_TARGET and V_ACTUAL as Go writes them: the 12 bits' range without its lowest value, as
// V_MAX (0..2047) bounds the size of the velocity.
constexpr int kMaxVelocity = 2047;

} // namespace

int Tool::checkGo()
{
    if (m_o.words.size() > 1)
        return error(kUsage, tr("go takes options only (--motor, --mode, --target ...)"));
    if (m_o.motor < 0)
        return error(kUsage, tr("go needs --motor 1, 2 or 3"));
    const auto mode = std::find_if(std::begin(kRampModeNames), std::end(kRampModeNames),
                                   [&](std::string_view n) { return nameOf(n) == m_o.mode; });
    if (mode == std::end(kRampModeNames))
        return error(kUsage, tr("--mode takes RAMP, SOFTMODE, VELOCITY or HOLD"));
    m_rampMode = int(mode - std::begin(kRampModeNames));
    if (!m_o.target)
        return error(kUsage, tr("go needs --target"));
    const bool positioning = m_rampMode <= int(RampMode::SoftMode);
    const FieldDef &position = motorRegister(motor::XTarget).fields[0];
    const long long low = positioning ? position.minimum : -kMaxVelocity;
    const long long high = positioning ? position.maximum : kMaxVelocity;
    if (*m_o.target < low || *m_o.target > high)
        return error(kUsage,
                     tr("--target takes %1 to %2 in %3 mode").arg(low).arg(high).arg(m_o.mode));
    // What the chosen mode writes; the rest would be dropped without a word.
    const bool velocity = m_rampMode == int(RampMode::Velocity);
    for (const auto &[given, name, used] :
         {std::tuple{m_o.vMin, "--vmin", positioning}, std::tuple{m_o.vMax, "--vmax", positioning},
          std::tuple{m_o.aMax, "--amax", positioning || velocity}}) {
        if (given && !used)
            return error(kUsage,
                         tr("%1 is not used in %2 mode").arg(QLatin1String(name), m_o.mode));
    }
    for (const auto &[given, reg] :
         {std::pair{m_o.vMin, motor::VMin}, std::pair{m_o.vMax, motor::VMax},
          std::pair{m_o.aMax, motor::AMax}}) {
        const FieldDef &f = motorRegister(reg).fields[0];
        if (given && (*given < f.minimum || *given > f.maximum))
            return error(kUsage, tr("%1 takes %2 to %3")
                                     .arg(nameOf(motorRegister(reg).name))
                                     .arg(f.minimum)
                                     .arg(f.maximum));
    }
    return kDone;
}

int Tool::go()
{
    const int m = m_o.motor;
    const bool positioning = m_rampMode <= int(RampMode::SoftMode);
    const bool velocity = m_rampMode == int(RampMode::Velocity);
    const auto pause = m_client->pausePolling();
    GoParameters p;
    p.mode = m_rampMode;
    p.xTarget = p.vTarget = p.vActual = int(*m_o.target);
    // The parameters the mode writes and the command line did not give, as the board holds
    // them: the main window would write what its fields show.
    for (const auto &[given, reg, into, used] :
         {std::tuple{m_o.vMin, motor::VMin, &p.vMin, positioning},
          std::tuple{m_o.vMax, motor::VMax, &p.vMax, positioning},
          std::tuple{m_o.aMax, motor::AMax, &p.aMax, positioning || velocity}}) {
        if (!used)
            continue;
        if (given) {
            *into = int(*given);
            continue;
        }
        const RegisterDef &def = motorRegister(reg);
        const std::optional<std::uint32_t> d = registerData(def, m);
        if (!d)
            return error(kBoardSaidNo,
                         unanswered(def, m, tr("read")) + tr("; nothing was written"));
        *into = int(unpackField(def.fields[0], *d));
    }
    if (positioning && !m_o.force) {
        // Refused before anything is written: Go would still write the ramp mode, and a motor
        // switched to RAMP sets off towards the X_TARGET the board holds.
        const RegisterDef &def = motorRegister(motor::Dividers);
        const std::optional<std::uint32_t> d = registerData(def, m);
        if (!d)
            return error(kBoardSaidNo,
                         unanswered(def, m, tr("read")) + tr("; nothing was written"));
        const int minimum = AMaxMinimum(int(unpackField(def.fields[field::Dividers_RampDiv], *d)),
                                        int(unpackField(def.fields[field::Dividers_PulsDiv], *d)));
        if (p.aMax < minimum)
            return error(kBoardSaidNo,
                         tr("motor %1 was not started: A_MAX %2 is below %3, the least its "
                            "dividers allow; give --amax %3 or more, or --force; nothing was "
                            "written")
                             .arg(m + 1)
                             .arg(p.aMax)
                             .arg(minimum));
    }
    const QString stopped = goMotor(m_client->requests(), m, p, [](int) { return true; });
    if (!stopped.isEmpty())
        return error(kBoardSaidNo, tr("motor %1 was not started: %2").arg(m + 1).arg(stopped));
    if (!m_o.quiet && !m_o.json)
        printOut(
            tr("motor %1 started in %2 mode towards %3").arg(m + 1).arg(m_o.mode).arg(*m_o.target));
    if (!m_o.wait || m_rampMode == int(RampMode::Hold))
        return kDone;
    // Waits on the register that shows arrival: the position, or the velocity.
    const RegisterDef &actual = motorRegister(positioning ? motor::XActual : motor::VActual);
    QElapsedTimer clock;
    clock.start();
    std::int64_t now = 0;
    while (true) {
        const std::optional<std::uint32_t> d = m_client->read(readAddress(actual, m));
        if (!d)
            return error(kBoardSaidNo, unanswered(actual, m, tr("read")));
        now = readValue(*d, actual.valueClass);
        if (now == *m_o.target)
            break;
        if (clock.elapsed() > qint64(m_o.timeout * 1000))
            return error(kBoardSaidNo, tr("motor %1 did not reach %2 within %3 s (%4 is %5)")
                                           .arg(m + 1)
                                           .arg(*m_o.target)
                                           .arg(m_o.timeout)
                                           .arg(nameOf(actual.name))
                                           .arg(now));
        m_client->pause(10);
    }
    if (!m_o.quiet && !m_o.json)
        printOut(tr("motor %1 reached %2").arg(m + 1).arg(now));
    return kDone;
}

int Tool::stop()
{
    const auto pause = m_client->pausePolling();
    QStringList failures;
    for (int m : motors()) {
        // X_ACTUAL takes the target position, as the main window's Stop writes it. Unread,
        // the velocities are still set to 0: any write slows the motor.
        const RegisterDef &target = motorRegister(motor::XTarget);
        const std::optional<std::uint32_t> d = registerData(target, m);
        QString why;
        if (d) {
            why = stopMotor(m_client->requests(), m, int(readValue(*d, target.valueClass)));
        } else {
            why = tr("the board did not answer the read of X_TARGET");
            (void)m_client->write(motorWriteAddress(m, motor::VTarget), 0);
            (void)m_client->write(motorWriteAddress(m, motor::VActual), 0);
        }
        if (!why.isEmpty())
            failures << tr("motor %1 may not have stopped: %2").arg(m + 1).arg(why);
        else if (!m_o.quiet && !m_o.json)
            printOut(tr("motor %1 stopped").arg(m + 1));
    }
    if (!failures.isEmpty())
        return error(kBoardSaidNo, failures.join(QStringLiteral("; ")));
    return kDone;
}

} // namespace kvx::cli
