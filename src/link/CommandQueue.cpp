#include "link/CommandQueue.h"

#include <algorithm>
#include <utility>

namespace kvx {

RequestChannel::Batch CommandQueue::run(std::span<const Datagram> datagrams,
                                        const std::function<void(int)> &progress, bool showsReplies,
                                        const std::function<void()> &advance, const Wait &wait,
                                        TrafficOrigin origin)
{
    const bool single = datagrams.size() == 1 && !progress && !showsReplies;
    const int batch = single ? -1 : m_batches++;
    // Transfers sort after every single command, each in the order asked.
    const std::int64_t base = single ? 0 : std::int64_t(1) << 40;
    std::vector<Handle> requests;
    requests.reserve(datagrams.size());
    for (const Datagram &d : datagrams) {
        auto r = std::make_shared<Request>();
        r->datagram = d;
        r->waitForTrust = showsReplies || isReadAddress(d.address);
        r->batch = batch;
        r->order = base + m_order++;
        r->origin = origin;
        insert(r);
        requests.push_back(std::move(r));
    }
    advance();
    std::size_t reported = 0;
    // Ends early when the port closes: every request is then done, unanswered.
    wait([&] {
        while (reported < requests.size() && requests[reported]->done &&
               requests[reported]->answered) {
            ++reported;
            if (progress)
                progress(int(reported));
        }
        return std::all_of(requests.begin(), requests.end(),
                           [](const Handle &r) { return r->done; });
    });
    std::erase_if(m_queue, [&requests](const Handle &h) {
        return std::find(requests.begin(), requests.end(), h) != requests.end();
    });
    RequestChannel::Batch result;
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const Request &r = *requests[i];
        result.sent += r.sent ? 1 : 0;
        if (result.failedAt < 0 && r.done && r.answered)
            result.replies.push_back(r.reply);
        else if (result.failedAt < 0)
            result.failedAt = int(i);
    }
    // A command that has ended hears nothing more of its requests.
    for (const Handle &r : requests)
        r->done = true;
    return result;
}

CommandQueue::Handle CommandQueue::takeNext()
{
    if (m_queue.empty())
        return nullptr;
    Handle next = std::move(m_queue.front());
    m_queue.erase(m_queue.begin());
    return next;
}

void CommandQueue::askAgain(const Handle &request, bool retry)
{
    request->retries += retry ? 1 : 0;
    insert(request);
}

void CommandQueue::insert(const Handle &request)
{
    const auto at = std::find_if(m_queue.begin(), m_queue.end(),
                                 [&](const Handle &h) { return h->order > request->order; });
    m_queue.insert(at, request);
}

void CommandQueue::finish(const Handle &request, bool answered, const Reply &reply)
{
    if (!request || request->done)
        return;
    request->done = true;
    request->answered = answered;
    request->reply = reply;
    if (answered || request->batch < 0)
        return;
    const int batch = request->batch;
    std::erase_if(m_queue, [batch](const Handle &h) {
        if (h->batch != batch)
            return false;
        h->done = true;
        return true;
    });
}

void CommandQueue::endAll()
{
    for (const Handle &r : std::exchange(m_queue, {}))
        finish(r, false);
}

} // namespace kvx
