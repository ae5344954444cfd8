#include "sim/PtyBoardServer.h"

#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/timerfd.h>
#include <termios.h>
#include <unistd.h>

namespace kvx::sim {

namespace {

long long monotonicNs()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1'000'000'000LL + ts.tv_nsec;
}

QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1String(what),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

PtyBoardServer::PtyBoardServer(BoardOptions options, QObject *parent)
    : QObject(parent)
    , m_board(options)
    , m_startNs(monotonicNs())
{}

PtyBoardServer::~PtyBoardServer()
{
    hangUp();
}

Micros PtyBoardServer::now() const
{
    return Micros((monotonicNs() - m_startNs) / 1000);
}

bool PtyBoardServer::start(QString *error)
{
    auto fail = [&](const char *what) {
        if (error)
            *error = systemError(what);
        hangUp();
        return false;
    };
    if (m_master >= 0)
        return true;
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_master < 0)
        return fail("posix_openpt");
    if (::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
        return fail("unlockpt");
    const char *name = ::ptsname(m_master);
    if (!name)
        return fail("ptsname");
    m_path = QString::fromLocal8Bit(name);
    m_slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_slave < 0)
        return fail("open terminal");
    // Raw from the start: Qt restores the settings it found when the program closes the port,
    // and a terminal left echoing would hand the board its own replies as requests.
    termios tio{};
    if (::tcgetattr(m_slave, &tio) == 0) {
        ::cfmakeraw(&tio);
        ::tcsetattr(m_slave, TCSANOW, &tio);
    }
    m_timer = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_timer < 0)
        return fail("timerfd_create");

    m_readNotifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, [this] { readRequests(); });
    m_writeNotifier = new QSocketNotifier(m_master, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, [this] { writePending(); });
    m_timerNotifier = new QSocketNotifier(m_timer, QSocketNotifier::Read, this);
    connect(m_timerNotifier, &QSocketNotifier::activated, this, [this] {
        std::uint64_t expirations = 0;
        [[maybe_unused]] const auto n = ::read(m_timer, &expirations, sizeof expirations);
        deliverDue();
    });
    return true;
}

void PtyBoardServer::hangUp()
{
    const bool wasServing = m_master >= 0;
    delete m_readNotifier;
    delete m_writeNotifier;
    delete m_timerNotifier;
    m_readNotifier = m_writeNotifier = m_timerNotifier = nullptr;
    for (int *fd : {&m_master, &m_slave, &m_timer}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    m_pending.clear();
    if (wasServing)
        emit hungUp();
}

void PtyBoardServer::readRequests()
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buffer, sizeof buffer);
        if (n > 0) {
            m_board.receive(QByteArray(buffer, qsizetype(n)), now());
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // EAGAIN: drained. EIO cannot happen while our own descriptor of the other side is
        // open; should it anyway, waiting for the next notification is all there is to do.
        break;
    }
    deliverDue();
}

void PtyBoardServer::deliverDue()
{
    if (m_master < 0)
        return;
    // An adapter hands over what it has received at its own ticks only.
    const Micros batch = m_board.options().deliveryBatch;
    const Micros t = now();
    const QByteArray due = m_board.takeDue(batch.count() > 0 ? t - t % batch : t);
    if (!due.isEmpty()) {
        m_pending.append(due);
        if (m_pending.size() > kMaxPendingOutput)
            m_pending.remove(0, m_pending.size() - kMaxPendingOutput);
        writePending();
    }
    armTimer();
}

void PtyBoardServer::writePending()
{
    while (!m_pending.isEmpty() && m_master >= 0) {
        const ssize_t n = ::write(m_master, m_pending.constData(), size_t(m_pending.size()));
        if (n > 0) {
            m_pending.remove(0, qsizetype(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        break; // the terminal's input queue is full: go on when it has room
    }
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(!m_pending.isEmpty());
}

void PtyBoardServer::armTimer()
{
    if (m_timer < 0)
        return;
    itimerspec expiry{};
    if (auto due = m_board.nextDue()) {
        const Micros batch = m_board.options().deliveryBatch;
        if (batch.count() > 0)
            due = (*due + batch - Micros(1)) / batch * batch; // the adapter's next tick
        // Absolute expiry on the monotonic clock; a time already past fires at once.
        const long long at = m_startNs + std::max<long long>(due->count(), 0) * 1000LL;
        expiry.it_value.tv_sec = at / 1'000'000'000LL;
        expiry.it_value.tv_nsec = at % 1'000'000'000LL;
        if (expiry.it_value.tv_sec == 0 && expiry.it_value.tv_nsec == 0)
            expiry.it_value.tv_nsec = 1;
    }
    ::timerfd_settime(m_timer, TFD_TIMER_ABSTIME, &expiry, nullptr);
}

} // namespace kvx::sim
