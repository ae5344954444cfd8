#include "sim/SimulatedTransport.h"

#include <algorithm>
#include <cstring>

namespace kvx::sim {

SimulatedTransport::SimulatedTransport(const BoardOptions &board, const Line &line, QObject *parent)
    : ByteTransport(parent)
    , m_board(board)
    , m_line(line)
    , m_random(line.seed)
{}

double SimulatedTransport::characterTime() const
{
    return double(std::chrono::duration_cast<std::chrono::nanoseconds>(SimulatedBoard::kByteTime)
                      .count()) /
           1000.0;
}

Micros SimulatedTransport::tick(Micros t, Micros window)
{
    if (window.count() <= 0)
        return t;
    return (t + window - Micros(1)) / window * window;
}

int SimulatedTransport::WriteBytes(const void *buffer, int count)
{
    if (!m_open || count < 0)
        return -1;
    m_toBoard.emplace_back(tick(m_now, m_line.txWindow),
                           QByteArray(static_cast<const char *>(buffer), count));
    return count;
}

int SimulatedTransport::ReadBytes(void *buffer, int count)
{
    if (!m_open)
        return -1;
    const int n = std::min(count, int(m_received.size()));
    std::memcpy(buffer, m_received.constData(), std::size_t(n));
    m_received.remove(0, n);
    return n;
}

std::optional<Micros> SimulatedTransport::nextDelivery() const
{
    const std::optional<Micros> due = m_board.nextDue();
    if (!due)
        return std::nullopt;
    return tick(*due, m_line.rxWindow);
}

std::optional<Micros> SimulatedTransport::nextEvent() const
{
    std::optional<Micros> next = m_hearAt;
    auto consider = [&next](std::optional<Micros> at) {
        if (at && (!next || *at < *next))
            next = at;
    };
    if (!m_toBoard.empty())
        consider(m_toBoard.front().first);
    if (m_open)
        consider(nextDelivery());
    return next;
}

void SimulatedTransport::setReadThreshold(int bytes)
{
    m_threshold = std::max(1, bytes);
    // Told to gather fewer than wait already, the system wakes the host at once.
    if (!m_hearAt && !m_received.isEmpty() && int(m_received.size()) >= m_threshold)
        hearFrom(m_now);
}

void SimulatedTransport::hearFrom(Micros at)
{
    const auto late = std::uniform_int_distribution<std::int64_t>(
        0, std::max<std::int64_t>(0, m_line.hostDelay.count()))(m_random);
    m_hearAt = at + Micros(late);
}

void SimulatedTransport::deliver(Micros at)
{
    const QByteArray bytes = m_board.takeDue(at);
    if (bytes.isEmpty() || !m_open)
        return;
    m_received += bytes;
    if (!m_hearAt)
        hearFrom(at);
}

void SimulatedTransport::notifyIfDue()
{
    if (!m_hearAt || *m_hearAt > m_now)
        return;
    // The system gathers as many bytes as it was told to before the host hears of them.
    if (int(m_received.size()) < m_threshold)
        return;
    m_hearAt.reset();
    if (!m_received.isEmpty())
        emit bytesReady(int(m_received.size()));
}

void SimulatedTransport::advanceTo(Micros t)
{
    while (true) {
        const std::optional<Micros> next = nextEvent();
        if (!next || *next > t)
            break;
        m_now = std::max(m_now, *next);
        m_board.advance(m_now);
        while (!m_toBoard.empty() && m_toBoard.front().first <= m_now) {
            m_board.receive(m_toBoard.front().second, m_toBoard.front().first);
            m_toBoard.pop_front();
        }
        if (const std::optional<Micros> at = nextDelivery(); at && *at <= m_now)
            deliver(m_now);
        if (m_hearAt && *m_hearAt <= m_now && int(m_received.size()) < m_threshold)
            m_hearAt.reset(); // heard again once enough have come
        notifyIfDue();
    }
    m_now = std::max(m_now, t);
    m_board.advance(m_now);
}

} // namespace kvx::sim
