#include "app/PollScheduler.h"

#include "link/BoardLink.h"

namespace kvx {

PollScheduler::PollScheduler(BoardLink &link, PollTable &table)
    : m_link(link)
    , m_table(table)
{}

void PollScheduler::TimerActionsTimer()
{
    if (TimerBusy)
        return;
    if (!m_link.LinkIdle) {
        TimerBusy = true;
        m_link.Watchdog();
        TimerBusy = false;
        return;
    }
    SendNextPoll();
}

void PollScheduler::SendNextPoll()
{
    // TimerBusy also covers the "Send error!" box, whose event loop delivers further ticks
    // and replies while it is open.
    if (TimerBusy || !m_link.LinkIdle || !m_link.PollingEnabled)
        return;
    TimerBusy = true;
    m_link.LinkIdle = false;
    if (PollRow == 1 && Trace.NextSample)
        Trace.NextSample();
    m_link.SendDatagram(Datagram{m_table.row(PollRow).address, {}});
    m_link.LastSendTick = m_link.now();
    TimerBusy = false;
}

void PollScheduler::ShowPollReply(const Reply &reply)
{
    const int r = PollRow;
    const std::int64_t value = m_table.show(r, reply.data, editorShown());
    const PollRowDef &def = m_table.row(r);
    const std::function<void(std::int64_t, int)> *hook = nullptr;
    switch (def.trace) {
    case TraceKind::Position:
        hook = &Trace.AddPosition;
        break;
    case TraceKind::Velocity:
        hook = &Trace.AddVelocity;
        break;
    case TraceKind::TargetVelocity:
        hook = &Trace.AddTargetVelocity;
        break;
    case TraceKind::Acceleration:
        hook = &Trace.AddAcceleration;
        break;
    case TraceKind::None:
        break;
    }
    if (hook && *hook)
        (*hook)(value, def.motor);
    if (ShowStatusBits)
        ShowStatusBits(reply.status);
}

void PollScheduler::AdvancePollRow()
{
    PollRow = PollTable::nextRow(PollRow, m_link.Detecting, editorShown(),
                                 ActivePage ? ActivePage() : -1, m_table);
}

} // namespace kvx
