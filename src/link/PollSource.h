#pragma once

// What the link asks for when its line is free (the poll cycle), and the pause of polling a
// command holds while it talks to the board.

#include "chip/Datagram.h"

#include <optional>

namespace kvx {

class BoardLink;

class PollSource
{
public:
    struct Poll
    {
        Datagram datagram;
        int row = -1;
        bool startsCycle = false; // pollCycleStart comes first, in order with the replies
    };
    virtual ~PollSource() = default;
    // Asked only when the line is free and polling is enabled; nothing: no poll now.
    virtual std::optional<Poll> nextPoll() = 0;
};

// Pauses polling for the lifetime of the object, after the outstanding poll request has been
// answered or given up; only the outermost pause resumes it.
class [[nodiscard]] PollPause
{
public:
    explicit PollPause(BoardLink &link);
    ~PollPause();
    PollPause(const PollPause &) = delete;
    PollPause &operator=(const PollPause &) = delete;

private:
    BoardLink &m_link;
    bool m_wasEnabled;
};

} // namespace kvx
