#include "session/PollTable.h"

#include "chip/RegisterMap.h"
#include "chip/ValueFormat.h"

namespace kvx {

namespace {

TraceKind traceOf(int registerIndex)
{
    switch (registerIndex) {
    case motor::XActual:
        return TraceKind::Position;
    case motor::VActual:
        return TraceKind::Velocity;
    case motor::VTarget:
        return TraceKind::TargetVelocity;
    case motor::AActual:
        return TraceKind::Acceleration;
    default:
        return TraceKind::None;
    }
}

// The common registers of the "Global Parameters" page, in the order of their rows.
constexpr int kPolledCommonRegisters[] = {common::SpiTelegramLow, common::SpiTelegramHigh,
                                          common::SpiCoverPosLen, common::SpiCoverTelegram,
                                          common::RefSwitches,    common::GlobalParameters};

} // namespace

PollTable::PollTable()
{
    for (int m = 0; m < kMotorCount; ++m) {
        for (const RegisterDef &reg : motorRegisters()) {
            PollRowDef &row = m_rows[std::size_t(motorRow(m, reg.index))];
            row.address = readAddress(reg, m);
            row.code = pollCode(reg.valueClass);
            row.motor = m;
            row.trace = traceOf(reg.index);
            // The live values of the main window are polled in every cycle; the rest only
            // while the editor shows the motor's page.
            if (row.trace == TraceKind::None)
                row.bank = m;
        }
    }
    int r = kFirstCommonRow;
    for (int index : kPolledCommonRegisters) {
        const RegisterDef &reg = *commonRegister(index);
        m_rows[std::size_t(r++)] = {readAddress(reg), pollCode(reg.valueClass), kCommonBank, -1,
                                    TraceKind::None};
    }
}

int PollTable::commonRow(int commonIndex)
{
    for (std::size_t i = 0; i < std::size(kPolledCommonRegisters); ++i) {
        if (kPolledCommonRegisters[i] == commonIndex)
            return kFirstCommonRow + int(i);
    }
    return -1;
}

std::int64_t PollTable::value(int r, const DataBytes &data) const
{
    const int code = row(r).code;
    const std::uint32_t d = data.value();
    return code < 0 ? std::int64_t(d) : SignExtend(d, code);
}

QString PollTable::text(int r, const DataBytes &data) const
{
    return pollText(data.value(), row(r).code);
}

int PollTable::nextRow(int current, bool afterIdentification, bool editorShown,
                       std::optional<int> shownBank, const PollTable &table)
{
    if (current >= kLastRow || afterIdentification)
        return 0;
    int r = current;
    for (int step = 0; step < kRowCount; ++step) {
        r = r >= kLastRow ? 0 : r + 1;
        const std::optional<int> bank = table.row(r).bank;
        if (!bank || (editorShown && bank == shownBank))
            return r;
    }
    return 0;
}

} // namespace kvx
