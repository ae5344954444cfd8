#include "link/BoardLink.h"

namespace kvx {

PollPause::PollPause(BoardLink &link)
    : m_link(link)
    , m_wasEnabled(link.m_pollingEnabled)
{
    if (!m_wasEnabled)
        return;
    m_link.m_pollingEnabled = false;
    // Until the outstanding poll request is answered and the line is free for the command's
    // first request, or the watchdog has given up.
    const quint64 giveUps = link.m_giveUps;
    m_link.m_waits.waitFor([&link, giveUps] {
        using State = BoardLink::State;
        return link.m_state == State::Idle || link.m_state == State::Closed ||
               link.m_state == State::Lost || link.m_giveUps != giveUps;
    });
}

PollPause::~PollPause()
{
    m_link.m_pollingEnabled = m_wasEnabled;
    // The poll cycle goes on at once, not at the next tick.
    if (m_wasEnabled)
        m_link.advance();
}

} // namespace kvx
