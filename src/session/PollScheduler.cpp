#include "session/PollScheduler.h"

#include "link/BoardLink.h"

namespace kvx {

PollScheduler::PollScheduler(BoardLink &link, PollTable &table, QObject *parent)
    : QObject(parent)
    , m_link(link)
    , m_table(table)
{}

void PollScheduler::setEditorView(bool shown, EditorPage page)
{
    m_editorShown = shown;
    m_activePage = page;
}

void PollScheduler::restart()
{
    m_pollRow = 0;
    m_cycleStarted = false;
}

void PollScheduler::TimerActionsTimer()
{
    if (m_timerBusy)
        return;
    if (!m_link.LinkIdle()) {
        m_timerBusy = true;
        m_link.Watchdog();
        m_timerBusy = false;
    }
    // The watchdog may just have ended the quiet after a request it gave up.
    SendNextPoll();
}

void PollScheduler::SendNextPoll()
{
    // The busy flag also covers the "Send error!" box, whose event loop delivers further ticks
    // and replies while it is open.
    if (m_timerBusy || !m_link.LinkIdle() || !m_link.PollingEnabled())
        return;
    m_timerBusy = true;
    // The trace recorder's next sample starts with motor 1's position, once every reply of the
    // cycle before has been shown; once a cycle, also when that request goes out again after
    // the watchdog gave it up.
    const bool startsCycle = m_pollRow == 1 && !m_cycleStarted;
    if (m_link.PollRequest(Datagram{m_table.row(m_pollRow).address, {}}, m_pollRow, startsCycle))
        m_cycleStarted = m_pollRow == 1;
    m_timerBusy = false;
}

void PollScheduler::ShowPollReply(int row, const Reply &reply)
{
    const std::int64_t value = m_table.show(row, reply.data, m_editorShown);
    const PollRowDef &def = m_table.row(row);
    if (def.trace != TraceKind::None)
        emit traceValue(def.trace, value, def.motor);
    emit pollReplyShown(row, reply);
}

void PollScheduler::AdvancePollRow(bool afterIdentification)
{
    m_pollRow =
        PollTable::nextRow(m_pollRow, afterIdentification, m_editorShown, m_activePage, m_table);
}

} // namespace kvx
