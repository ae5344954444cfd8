#include "session/PollScheduler.h"

#include "link/BoardLink.h"

#include <QTimer>

#include <algorithm>

namespace kvx {

PollScheduler::PollScheduler(BoardLink &link, const PollTable &table, QObject *parent)
    : QObject(parent)
    , m_link(link)
    , m_table(table)
    , m_timer(new QTimer(this))
{
    m_timer->setObjectName(QStringLiteral("TimerActions"));
    m_timer->setTimerType(Qt::PreciseTimer);
    m_timer->setInterval(kPollInterval);
    connect(m_timer, &QTimer::timeout, this, &PollScheduler::TimerActionsTimer);
}

void PollScheduler::setEditorView(bool shown, std::optional<int> bank)
{
    m_editorShown = shown;
    m_editorBank = bank;
}

void PollScheduler::restart()
{
    m_pollRow = 0;
    m_cycleStarted = false;
    m_timer->setInterval(kPollInterval);
    m_timer->start();
}

void PollScheduler::stop()
{
    m_timer->stop();
}

bool PollScheduler::timerActive() const
{
    return m_timer->isActive();
}

std::chrono::milliseconds PollScheduler::timerInterval() const
{
    return std::chrono::milliseconds(m_timer->interval());
}

void PollScheduler::linkStateChanged()
{
    if (!m_timer->isActive())
        return;
    // While the link is busy (a request out, or the line keeping quiet after a reply) the next
    // request goes out when the link says it is ready, and nothing else can happen before the
    // watchdog's next decision: waking every millisecond in between would only cost processor
    // time. While a command has polling paused the tick only keeps the watchdog's time.
    std::int64_t wait = kPollInterval.count();
    if (!m_link.LinkIdle() || !m_link.PollingEnabled()) {
        wait = std::clamp<std::int64_t>(m_link.nextWatchdogCheck() - m_link.now(),
                                        kPollInterval.count(),
                                        BoardLink::kWatchdogTimeout.count() + 1);
    }
    if (m_timer->interval() != int(wait))
        m_timer->setInterval(int(wait));
}

void PollScheduler::TimerActionsTimer()
{
    // The busy flag also covers the "Send error!" box, whose event loop delivers further ticks
    // and replies while it is open.
    if (m_timerBusy)
        return;
    m_timerBusy = true;
    if (!m_link.LinkIdle())
        m_link.watchdog();
    // The watchdog may just have ended the quiet after a request it gave up.
    m_link.advance();
    m_timerBusy = false;
    linkStateChanged();
}

std::optional<PollSource::Poll> PollScheduler::nextPoll()
{
    if (m_detectionOnly && !m_link.Detecting())
        return std::nullopt;
    // The trace recorder's next sample starts with motor 1's position, once every reply of the
    // cycle before has been shown; once a cycle, also when that request goes out again after
    // the watchdog gave it up.
    const bool startsCycle = m_pollRow == 1 && !m_cycleStarted;
    m_cycleStarted = m_pollRow == 1;
    // Told before the link writes the request, which it does at once; those who listen only
    // take note, so nothing is sent in between.
    if (startsCycle)
        emit cycleBegun();
    return Poll{Datagram{m_table.row(m_pollRow).address, {}}, m_pollRow, startsCycle};
}

void PollScheduler::showPollReply(int row, const Reply &reply)
{
    const PollRowDef &def = m_table.row(row);
    if (def.trace != TraceKind::None)
        emit traceValue(def.trace, m_table.value(row, reply.data), def.motor);
    emit pollReplyShown(row, reply);
}

void PollScheduler::AdvancePollRow(bool afterIdentification)
{
    m_pollRow =
        PollTable::nextRow(m_pollRow, afterIdentification, m_editorShown, m_editorBank, m_table);
}

} // namespace kvx
