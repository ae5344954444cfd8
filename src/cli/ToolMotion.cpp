// kvx310 go, stop and wait: the main window's Go, with what the command line gives in place of
// its fields and what it lacks read from the board; a stop that keeps the position counter,
// and the window's Stop under a name that says what it does; waits on a condition at the poll
// cycle's pace.

#include "chip/AccelScaling.h"
#include "chip/ValueFormat.h"
#include "cli/Tool.h"
#include "session/MotionCommands.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>

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
    if (!m_o.record.isEmpty()) {
        // The moving motor's values, as record --motor N records them.
        QString why;
        m_columns = *CsvRecorder::columns({}, m_o.motor, &why);
        const QFileInfo file(m_o.record);
        if (m_o.record != QLatin1String("-") && file.exists() && !file.isFile())
            return error(kUsage,
                         tr("could not record to %1: it is not a regular file").arg(m_o.record));
        if (m_o.record == QLatin1String("-") && m_o.json)
            return error(kUsage, tr("--record - writes CSV to the output, which --json keeps "
                                    "for its objects; record to a file"));
        // On its own, the command ends when the move does; HOLD has no end.
        if (m_rampMode == int(RampMode::Hold) && !m_session.script())
            return error(kUsage, tr("go --record records until the move ends, which HOLD never "
                                    "does; record beside it in a script"));
    }
    return kDone;
}

int Tool::checkWait()
{
    if (m_o.words.size() != 2)
        return error(kUsage, tr("wait takes one condition: X_ACTUAL=5000, V_ACTUAL==0, "
                                "A_ACTUAL>0, REFERENCE_SWITCH_1, X_REACHED_1=0 ..."));
    QString why;
    m_condition = parseCondition(m_o.words[1], &why);
    if (!m_condition)
        return error(kUsage, why);
    const bool motorRegister = m_condition->item && !m_condition->item->common();
    if (motorRegister && m_o.motor < 0)
        return error(kUsage, tr("say whose %1 with --motor 1, 2 or 3").arg(m_condition->name()));
    if (!motorRegister && m_o.motor >= 0)
        return error(kUsage,
                     tr("%1 is no motor's; wait takes no --motor for it").arg(m_condition->name()));
    return kDone;
}

int Tool::startRecording(const QString &path, const std::vector<CsvRecorder::Column> &columns)
{
    return m_session.record(path, columns, m_command == QLatin1String("go") ? -1 : m_o.duration,
                            m_o.quiet);
}

int Tool::go()
{
    const int m = m_o.motor;
    const bool positioning = m_rampMode <= int(RampMode::SoftMode);
    const bool velocity = m_rampMode == int(RampMode::Velocity);
    // From the cycle before its first write: the recording holds where the move starts.
    if (!m_o.record.isEmpty()) {
        if (const int code = startRecording(m_o.record, m_columns); code != kDone)
            return code;
    }
    std::unique_ptr<PollPause> pause = m_client->pausePolling();
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
    pause.reset();
    QJsonObject result{{QStringLiteral("motor"), m + 1},
                       {QStringLiteral("mode"), m_o.mode},
                       {QStringLiteral("target"), double(*m_o.target)}};
    if (!m_o.quiet && !m_o.json)
        printOut(
            tr("motor %1 started in %2 mode towards %3").arg(m + 1).arg(m_o.mode).arg(*m_o.target));
    // A recording of the move alone ends with it.
    const bool untilArrival = m_o.wait || (!m_o.record.isEmpty() && !m_session.script());
    if (untilArrival && m_rampMode != int(RampMode::Hold)) {
        // Arrival shows in the position, or in the velocity.
        Condition arrived;
        arrived.item = Item{&motorRegister(positioning ? motor::XActual : motor::VActual), 0,
                            positioning ? QStringLiteral("X_ACTUAL") : QStringLiteral("V_ACTUAL")};
        arrived.value = *m_o.target;
        arrived.text = QStringLiteral("%1=%2").arg(arrived.item->name).arg(*m_o.target);
        QJsonObject reached;
        if (const int code = waitFor(arrived, m_o.timeout, &reached); code != kDone)
            return code;
        result.insert(QStringLiteral("reached"), reached.value(QLatin1String("value")));
        result.insert(QStringLiteral("seconds"), reached.value(QLatin1String("seconds")));
        if (!m_o.quiet && !m_o.json)
            printOut(tr("motor %1 reached %2").arg(m + 1).arg(*m_o.target));
    }
    if (untilArrival && !m_o.record.isEmpty()) {
        QJsonArray recorded;
        if (const int code = m_session.endRecordings(ToolSession::Until::Now, &recorded);
            code != kDone)
            return code;
        result.insert(QStringLiteral("recording"), recorded.at(0));
    }
    printResult(result);
    return kDone;
}

int Tool::stop()
{
    const auto pause = m_client->pausePolling();
    QStringList failures;
    QJsonArray stopped;
    for (int m : motors()) {
        int position = 0;
        const QString why = m_o.xActualToTarget ? stopAtTarget(m, &position)
                                                : haltMotor(m_client->requests(), m, &position);
        if (!why.isEmpty()) {
            failures << tr("motor %1 may not have stopped: %2").arg(m + 1).arg(why);
            continue;
        }
        stopped.append(
            QJsonObject{{QStringLiteral("motor"), m + 1}, {QStringLiteral("x_actual"), position}});
        if (!m_o.quiet && !m_o.json)
            printOut((m_o.xActualToTarget ? tr("motor %1 stopped; X_ACTUAL set to its target %2")
                                          : tr("motor %1 stopped at %2"))
                         .arg(m + 1)
                         .arg(position));
    }
    if (!failures.isEmpty())
        return error(kBoardSaidNo, failures.join(QStringLiteral("; ")));
    printResult({{QStringLiteral("stopped"), stopped}});
    return kDone;
}

QString Tool::stopAtTarget(int m, int *position)
{
    // X_ACTUAL takes the target position, as the main window's Stop writes it. Unread, the
    // velocities are still set to 0: any write slows the motor.
    const RegisterDef &target = motorRegister(motor::XTarget);
    const std::optional<std::uint32_t> d = registerData(target, m);
    if (!d) {
        (void)m_client->write(motorWriteAddress(m, motor::VTarget), 0);
        (void)m_client->write(motorWriteAddress(m, motor::VActual), 0);
        return tr("the board did not answer the read of X_TARGET");
    }
    *position = int(readValue(*d, target.valueClass));
    return stopMotor(m_client->requests(), m, *position);
}

int Tool::wait()
{
    QJsonObject result;
    if (const int code = waitFor(*m_condition, m_o.timeout, &result); code != kDone)
        return code;
    if (m_o.json)
        printResult(result);
    else if (m_o.quiet)
        printOut(result.value(QLatin1String("text")).toString());
    else
        printOut(tr("%1%2 = %3 after %4 s")
                     .arg(motorLabel(m_o.motor), m_condition->name(),
                          result.value(QLatin1String("text")).toString())
                     .arg(result.value(QLatin1String("seconds")).toDouble(), 0, 'f', 3));
    return kDone;
}

int Tool::waitFor(const Condition &c, double timeout, QJsonObject *result)
{
    const int m = std::max(m_o.motor, 0);
    const bool motorRegister = c.item && !c.item->common();
    const std::uint8_t address = c.address(m);
    QElapsedTimer waited;
    waited.start();
    QDeadlineTimer deadline(qint64(timeout * 1000), Qt::PreciseTimer);
    // A first look at once: what holds already is not waited for.
    std::optional<Reply> r;
    {
        const auto pause = m_client->pausePolling();
        r = m_client->readReply(address);
    }
    std::optional<Reply> last = r;
    while (!(r && c.holds(*r))) {
        if (m_session.interrupted())
            return error(kBoardSaidNo, tr("interrupted while waiting for %1").arg(c.text));
        if (m_client->lost())
            return error(kBoardSaidNo,
                         tr("the port %1 was lost (%2) while waiting for %3")
                             .arg(m_client->device(), m_client->lostReason(), c.text));
        if (deadline.hasExpired()) {
            const QString seen = last ? tr("%1%2 is %3")
                                            .arg(motorRegister ? motorLabel(m) : QString(),
                                                 c.name(), c.observedText(*last))
                                      : tr("the board did not answer");
            return error(kBoardSaidNo, tr("%1%2 did not hold within %3 s (%4)")
                                           .arg(motorRegister ? motorLabel(m) : QString(), c.text)
                                           .arg(timeout)
                                           .arg(seen));
        }
        r = m_client->nextCycleRead(address, deadline);
        if (r)
            last = r;
    }
    *result = valueObject(c.name(), c.item ? nameOf(c.item->reg->name) : QStringLiteral("STATUS"),
                          motorRegister ? m : -1, c.observed(*r), c.observedText(*r),
                          c.item ? r->data.value() : r->status, r->status);
    result->insert(QStringLiteral("condition"), c.text);
    result->insert(QStringLiteral("seconds"), double(waited.nsecsElapsed()) / 1e9);
    return kDone;
}

} // namespace kvx::cli
