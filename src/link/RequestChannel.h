#pragma once

// What a command needs of the board: one request and its reply, or a row of them. The board
// link is one; the command-line tool attached to a running window has another, whose requests
// go out on the window's link. User-interface thread; both wait by processing events.

#include "chip/Datagram.h"

#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace kvx {

class RequestChannel
{
public:
    // The replies to a row of requests, in order, up to the first one that went unanswered.
    struct Batch
    {
        std::vector<Reply> replies;
        int failedAt = -1;
        int sent = 0; // requests written; failedAt beyond them was never sent
    };

    virtual ~RequestChannel() = default;

    // One request and its own reply; nothing when it went unanswered or could not be sent.
    virtual std::optional<Reply> DirectRequest(const Datagram &d) = 0;
    // The datagrams one after another; stops at the first exchange without its reply.
    virtual Batch directRequests(std::span<const Datagram> datagrams,
                                 const std::function<void(int done)> &progress = {},
                                 bool showsReplies = false) = 0;

protected:
    RequestChannel() = default;
    RequestChannel(const RequestChannel &) = default;
    RequestChannel &operator=(const RequestChannel &) = default;
};

} // namespace kvx
