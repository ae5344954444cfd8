#pragma once

// Commands' requests not yet sent, in the order they go out: a single command's ahead of a
// transfer's rows (a Stop clicked during a RAM transfer does not wait for its 64 words), each
// group in the order asked. A request the link has sent stays shared with its exchange, so a
// command that has ended leaves nothing dangling behind it.

#include "chip/Datagram.h"
#include "link/LinkTraffic.h"
#include "link/RequestChannel.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace kvx {

class CommandQueue
{
public:
    // A command's wait for one request.
    struct Request
    {
        Datagram datagram;
        bool waitForTrust = false; // done once the reply is trusted, not when it has come
        int batch = -1;            // the transfer it belongs to; -1: a single command
        int retries = 0;
        bool sent = false;
        bool done = false;
        bool answered = false;
        Reply reply;
        std::int64_t order = 0;
        TrafficOrigin origin = TrafficOrigin::Own;
    };
    using Handle = std::shared_ptr<Request>;
    // Until `done` holds, or the wait ended for the port's closing (false).
    using Wait = std::function<bool(const std::function<bool()> &done)>;

    // Queues the datagrams as one command, lets `advance` send, waits with `wait` until each
    // is done, and tells what came back. `progress` hears of each answered request, in order.
    RequestChannel::Batch run(std::span<const Datagram> datagrams,
                              const std::function<void(int)> &progress, bool showsReplies,
                              const std::function<void()> &advance, const Wait &wait,
                              TrafficOrigin origin = TrafficOrigin::Own);

    [[nodiscard]] bool empty() const { return m_queue.empty(); }
    // The request takeNext() would give; nothing when the queue is empty.
    [[nodiscard]] const Request *front() const
    {
        return m_queue.empty() ? nullptr : m_queue.front().get();
    }
    // The next request to send, taken out of the queue.
    Handle takeNext();
    // Puts back a request whose reply was lost (`retry`) or not used, where its order places
    // it.
    void askAgain(const Handle &request, bool retry = true);
    // A transfer stops at its first row without an answer: the rest is not sent.
    void finish(const Handle &request, bool answered, const Reply &reply = {});
    // Ends every queued request unanswered.
    void endAll();

private:
    void insert(const Handle &request);

    std::vector<Handle> m_queue;
    std::int64_t m_order = 0;
    int m_batches = 0;
};

} // namespace kvx
