#pragma once

// The poll cycle: the link asks it for the next poll whenever the line is free and polling is
// enabled, and the read request of the current poll-table row goes out; the row advances as
// each reply comes in, and each reply, once the link trusts it, is announced for the fields,
// the status lamps and the trace recorder. Owns the row counter and the poll timer
// (TimerActions, which runs the link's watchdog and lets the link send), with its tick guard;
// follows what the register editor shows, as the editor reports it. User-interface thread
// only.

#include "link/BoardLink.h"
#include "session/PollTable.h"

#include <QObject>

#include <chrono>
#include <cstdint>

class QTimer;

namespace kvx {

class PollScheduler : public QObject, public PollSource
{
    Q_OBJECT

public:
    // The tick while the link is idle; while it is busy the tick waits for the watchdog's
    // next decision, since the next poll goes out as soon as the link is ready anyway.
    static constexpr std::chrono::milliseconds kPollInterval{1};

    PollScheduler(BoardLink &link, const PollTable &table, QObject *parent = nullptr);

    [[nodiscard]] int PollRow() const { return m_pollRow; }

    // What the register editor shows: the register bank of its page (none for a page of no
    // bank); a change takes effect at the next advance.
    void setEditorView(bool shown, std::optional<int> bank);
    [[nodiscard]] bool editorShown() const { return m_editorShown; }
    [[nodiscard]] std::optional<int> editorBank() const { return m_editorBank; }

    // Only the detection's request goes out (and its repetitions), no poll after it: for a
    // program that sends one command and ends, whose first request then follows the detection
    // at once.
    void setDetectionOnly(bool only) { m_detectionOnly = only; }

    // The port has opened: the cycle starts again at row 0 and the poll timer runs.
    void restart();
    // The port closes: the poll timer stops.
    void stop();
    [[nodiscard]] bool timerActive() const;
    // How long the poll timer waits now between ticks.
    [[nodiscard]] std::chrono::milliseconds timerInterval() const;
    // The poll timer's tick: the watchdog while the link is busy, then the link sends what is
    // next if it is idle.
    void TimerActionsTimer();
    // The request of the current row, asked by the link when the line is free.
    std::optional<Poll> nextPoll() override;
    void showPollReply(int row, const Reply &reply);
    void AdvancePollRow(bool afterIdentification);
    // The link's state changed: the tick follows the watchdog's next decision.
    void linkStateChanged();

signals:
    // A poll reply of `row` to show, trusted by the link: the windows show it in the fields
    // of that row (PollTable::text) and the status lamps.
    void pollReplyShown(int row, const kvx::Reply &reply);
    // A value for the trace recorder.
    void traceValue(kvx::TraceKind kind, qint64 value, int motor);
    // The request that begins a cycle has gone out (its reply may be trusted much later, once
    // the line has been quiet: behind a USB adapter, after dozens of replies).
    void cycleBegun();

private:
    BoardLink &m_link;
    const PollTable &m_table;
    QTimer *m_timer = nullptr; // TimerActions
    int m_pollRow = 0;
    bool m_timerBusy = false;
    bool m_cycleStarted = false; // the request that starts the cycle in progress has gone out
    bool m_editorShown = false;
    bool m_detectionOnly = false;
    std::optional<int> m_editorBank = 0;
};

} // namespace kvx
