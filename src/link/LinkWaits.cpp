#include "link/LinkWaits.h"

#include <QCoreApplication>
#include <QTimer>

#include <chrono>

namespace kvx {

namespace {

using namespace std::chrono_literals;
// Often enough to notice a watchdog that is due soon after its time.
constexpr auto kGuardInterval = 50ms;

} // namespace

LinkWaits::LinkWaits(QObject *parent)
    : QObject(parent)
    , m_guard(new QTimer(this))
{
    m_guard->setInterval(kGuardInterval);
    connect(m_guard, &QTimer::timeout, this, &LinkWaits::guard);
}

bool LinkWaits::waitFor(const std::function<bool()> &done)
{
    const quint64 closes = m_closeCount;
    if (m_depth++ == 0)
        m_guard->start();
    while (!done() && closes == m_closeCount)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    if (--m_depth == 0)
        m_guard->stop();
    return closes == m_closeCount;
}

} // namespace kvx
