#include "app/PollTable.h"

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
            row.page = row.trace == TraceKind::None ? m : -1;
        }
    }
    const int commonRows[] = {common::SpiTelegramLow, common::SpiTelegramHigh,
                              common::SpiCoverPosLen, common::SpiCoverTelegram,
                              common::RefSwitches,    common::GlobalParameters};
    int r = kFirstCommonRow;
    for (int index : commonRows) {
        const RegisterDef &reg = *commonRegister(index);
        m_rows[std::size_t(r++)] = {readAddress(reg), pollCode(reg.valueClass), kGlobalPage, -1,
                                    TraceKind::None};
    }
}

std::int64_t PollTable::show(int r, const DataBytes &data, bool editorShown) const
{
    const PollRowDef &def = row(r);
    const Targets &t = m_targets[std::size_t(r)];
    const std::uint32_t d = data.value();
    const std::int64_t value = def.code < 0 ? std::int64_t(d) : SignExtend(d, def.code);
    const bool toEditor = t.editor && editorShown;
    const QString text = t.main || toEditor ? pollText(d, def.code) : QString();
    if (t.main)
        t.main(text);
    if (t.decoder)
        t.decoder(data);
    if (toEditor)
        t.editor(text);
    return value;
}

int PollTable::nextRow(int current, bool afterIdentification, bool editorShown, int activePage,
                       const PollTable &table)
{
    if (current >= kLastRow || afterIdentification)
        return 0;
    int r = current;
    for (int step = 0; step < kRowCount; ++step) {
        r = r >= kLastRow ? 0 : r + 1;
        const int page = table.row(r).page;
        if (page == -1 || (editorShown && page == activePage))
            return r;
    }
    return 0;
}

} // namespace kvx
