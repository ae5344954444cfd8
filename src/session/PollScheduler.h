#pragma once

// The poll cycle: at each tick of the 1 ms timer, or as soon as the link is ready again after
// a reply, the read request of the current poll-table row goes out; the row advances as each
// reply comes in, and each reply, once the link trusts it, is shown through the table and
// announced for the status lamps and the trace recorder.
// Owns the row counter and the tick guard; follows what the register editor shows, as the
// editor reports it. User-interface thread only.

#include "session/EditorPage.h"
#include "session/PollTable.h"

#include <QObject>

#include <cstdint>

namespace kvx {

class BoardLink;
struct Reply;

class PollScheduler : public QObject
{
    Q_OBJECT

public:
    PollScheduler(BoardLink &link, PollTable &table, QObject *parent = nullptr);

    [[nodiscard]] int PollRow() const { return m_pollRow; }
    [[nodiscard]] bool TimerBusy() const { return m_timerBusy; }

    // What the register editor shows; a change takes effect at the next advance.
    void setEditorView(bool shown, EditorPage page);
    [[nodiscard]] bool editorShown() const { return m_editorShown; }
    [[nodiscard]] EditorPage activePage() const { return m_activePage; }

    // The port has opened: the cycle starts again at row 0.
    void restart();
    // The poll timer's tick: the watchdog while the link is busy, then the next poll if the
    // link is idle.
    void TimerActionsTimer();
    // Sends the next poll request if the link is idle and polling is enabled. Called by the
    // tick and straight after each reply, so that no exchange waits for the next tick.
    void SendNextPoll();
    void ShowPollReply(int row, const Reply &reply);
    void AdvancePollRow(bool afterIdentification);

signals:
    // A poll reply has been shown in the fields of its row.
    void pollReplyShown(int row, const kvx::Reply &reply);
    // A value for the trace recorder.
    void traceValue(kvx::TraceKind kind, qint64 value, int motor);

private:
    BoardLink &m_link;
    PollTable &m_table;
    int m_pollRow = 0;
    bool m_timerBusy = false;
    bool m_cycleStarted = false; // the request that starts the cycle in progress has gone out
    bool m_editorShown = false;
    EditorPage m_activePage = EditorPage::Motor1;
};

} // namespace kvx
