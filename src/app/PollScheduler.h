#pragma once

// The poll cycle: at each tick of the 1 ms timer, or as soon as a reply has made the link
// idle, the read request of the current poll-table row goes out; each reply is shown, fed to
// the trace recorder and to the status lamps, and the row advances. Owns the row counter and
// the tick guard; the link and table belong to the main window. User-interface thread only.

#include "app/PollTable.h"

#include <cstdint>
#include <functional>

namespace kvx {

class BoardLink;
struct Reply;

struct TraceHooks
{
    std::function<void(std::int64_t value, int motor)> AddPosition;
    std::function<void(std::int64_t value, int motor)> AddVelocity;
    std::function<void(std::int64_t value, int motor)> AddTargetVelocity;
    std::function<void(std::int64_t value, int motor)> AddAcceleration;
    std::function<void()> NextSample;
};

class PollScheduler
{
public:
    PollScheduler(BoardLink &link, PollTable &table);

    int PollRow = 0;
    bool TimerBusy = false;

    std::function<bool()> EditorShown;
    std::function<int()> ActivePage;
    std::function<void(std::uint8_t status)> ShowStatusBits;
    TraceHooks Trace;

    // The poll timer's tick: the watchdog while a request is outstanding, else the next poll.
    void TimerActionsTimer();
    // Sends the next poll request if the link is idle and polling is enabled. Called by the
    // tick and straight after each reply, so that no exchange waits for the next tick.
    void SendNextPoll();
    void ShowPollReply(const Reply &reply);
    void AdvancePollRow();

private:
    [[nodiscard]] bool editorShown() const { return EditorShown && EditorShown(); }

    BoardLink &m_link;
    PollTable &m_table;
};

} // namespace kvx
