#include "sim/SimulatedTransport.h"

#include <algorithm>
#include <cstring>

namespace kvx::sim {

SimulatedTransport::SimulatedTransport(const BoardOptions &board, const Line &line, QObject *parent)
    : ByteTransport(parent)
    , m_board(board)
    , m_line(line)
    , m_random(line.seed)
{
    // The windows begin wherever the adapter's clock happens to stand.
    if (m_line.rxWindow.count() > 0)
        m_rxPhase = Micros(std::uniform_int_distribution<std::int64_t>(
            0, m_line.rxWindow.count() - 1)(m_random));
    if (m_line.txWindow.count() > 0)
        m_txPhase = Micros(std::uniform_int_distribution<std::int64_t>(
            0, m_line.txWindow.count() - 1)(m_random));
}

double SimulatedTransport::characterTime() const
{
    return double(std::chrono::duration_cast<std::chrono::nanoseconds>(SimulatedBoard::kByteTime)
                      .count()) /
           1000.0;
}

Micros SimulatedTransport::tick(Micros t, Micros window, Micros phase) const
{
    if (window.count() <= 0)
        return t;
    const std::int64_t w = window.count();
    const std::int64_t jitter = std::min(m_line.windowJitter.count(), (w - 1) / 2);
    // Tick k of the adapter stands at phase + k w, moved by up to the jitter; the same k
    // always moves the same way, so the ticks stay in order and every run is the same.
    auto at = [&](std::int64_t k) {
        std::uint64_t x = std::uint64_t(k) * 0x9E3779B97F4A7C15ULL ^ (m_line.seed + 0x632BE5AB);
        x ^= x >> 31;
        x *= 0xBF58476D1CE4E5B9ULL;
        x ^= x >> 29;
        const std::int64_t shift =
            jitter > 0 ? std::int64_t(x % std::uint64_t(2 * jitter + 1)) - jitter : 0;
        return phase.count() + k * w + shift;
    };
    std::int64_t k = (t.count() - phase.count()) / w - 1;
    while (at(k) < t.count())
        ++k;
    return Micros(at(k));
}

int SimulatedTransport::WriteBytes(const void *buffer, int count)
{
    if (!m_open || count < 0)
        return -1;
    const QByteArray bytes(static_cast<const char *>(buffer), count);
    m_toBoard.emplace_back(tick(m_now, m_line.txWindow, m_txPhase), bytes);
    m_written += bytes;
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
    return tick(*due, m_line.rxWindow, m_rxPhase);
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

Micros SimulatedTransport::awake(Micros t) const
{
    const std::int64_t every = m_line.stallEvery.count();
    if (every <= 0 || m_line.stall.count() <= 0 || t.count() < 0)
        return t;
    const std::int64_t into = t.count() % every;
    return into < m_line.stall.count() ? t + m_line.stall - Micros(into) : t;
}

void SimulatedTransport::hearFrom(Micros at)
{
    const auto late = std::uniform_int_distribution<std::int64_t>(
        0, std::max<std::int64_t>(0, m_line.hostDelay.count()))(m_random);
    m_hearAt = awake(at + Micros(late));
}

void SimulatedTransport::deliver(Micros at)
{
    int damaged = 0;
    const QByteArray bytes = m_board.takeDue(at, &damaged);
    if (bytes.isEmpty() || !m_open)
        return;
    m_damaged += quint64(damaged);
    m_received += bytes;
    if (!m_hearAt)
        hearFrom(at);
}

void SimulatedTransport::inject(const QByteArray &bytes)
{
    if (!m_open || bytes.isEmpty())
        return;
    m_received += bytes;
    if (!m_hearAt)
        hearFrom(m_now);
    notifyIfDue();
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
