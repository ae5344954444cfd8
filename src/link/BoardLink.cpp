#include "link/BoardLink.h"

#include "link/async32.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdlib>
#include <thread>

namespace kvx {

namespace {

using namespace std::chrono_literals;
// While a wait runs, this wakes it often enough to notice a watchdog that is due even when
// the poll timer (which normally runs the watchdog) does not tick.
constexpr auto kWaitGuardInterval = 50ms;

constexpr char kFrameStart = '#';
constexpr char kSlowFrameStart = '!';
constexpr char kKorveDatagramLength = 4;

const QByteArray kKorveStartText(" 0132");
const QByteArray kKorveStartCommand("\x22\x00\x00", 3);

BoardLink::Clock steadyClock()
{
    auto timer = std::make_shared<QElapsedTimer>();
    timer->start();
    return [timer] { return timer->elapsed(); };
}

} // namespace

PollPause::PollPause(BoardLink &link)
    : m_link(link)
    , m_wasEnabled(link.m_pollingEnabled)
{
    if (!m_wasEnabled)
        return;
    m_link.m_pollingEnabled = false;
    m_link.waitFor([&link] { return link.m_linkIdle; });
}

PollPause::~PollPause()
{
    m_link.m_pollingEnabled = m_wasEnabled;
}

BoardLink::BoardLink(TCustomComm32 &comm, QObject *parent)
    : QObject(parent)
    , m_comm(comm)
    , m_clock(steadyClock())
    , m_waitGuard(new QTimer(this))
{
    m_waitGuard->setInterval(kWaitGuardInterval);
    connect(m_waitGuard, &QTimer::timeout, this, [this] {
        if (!m_linkIdle)
            Watchdog();
    });
}

BoardLink::~BoardLink()
{
    EndAllWaits();
}

QByteArray BoardLink::frame(const Datagram &d) const
{
    QByteArray f;
    if (m_korveBoard) {
        f.append(m_slowSpi ? kSlowFrameStart : kFrameStart);
        f.append(kKorveDatagramLength);
    } else {
        f.append(kFrameStart);
    }
    f.append(char(d.address));
    f.append(char(d.data.high));
    f.append(char(d.data.mid));
    f.append(char(d.data.low));
    return f;
}

bool BoardLink::waitForEmptyTransmitQueue()
{
    const std::int64_t start = now();
    while (m_comm.OutQueueCount() != 0) {
        if (now() - start > kTransmitDrainTimeout.count())
            return false;
    }
    return true;
}

bool BoardLink::SendDatagram(const Datagram &d, TrafficKind kind)
{
    const QByteArray f = frame(d);
    if (!waitForEmptyTransmitQueue() || m_comm.WriteBytes(f.constData(), int(f.size())) < 0) {
        // A port that has just been lost is reported as such by the window; a "Send error!"
        // on top of it would only repeat the news.
        if (m_comm.Connected())
            emit sendError();
        return false;
    }
    note(true, kind, f);
    return true;
}

bool BoardLink::PollRequest(const Datagram &d, int row)
{
    if (!m_linkIdle || !m_pollingEnabled)
        return false;
    m_linkIdle = false;
    m_pollRow = row;
    SendDatagram(d, TrafficKind::Poll);
    m_lastSendTick = now();
    return true;
}

void BoardLink::note(bool sent, TrafficKind kind, const QByteArray &bytes)
{
    emit traffic(LinkTraffic{sent, kind, bytes, now()});
}

bool BoardLink::waitFor(const std::function<bool()> &done)
{
    const quint64 closes = m_closeCount;
    if (m_waitDepth++ == 0)
        m_waitGuard->start();
    while (!done() && closes == m_closeCount)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    if (--m_waitDepth == 0)
        m_waitGuard->stop();
    return closes == m_closeCount;
}

std::optional<Reply> BoardLink::DirectRequest(const Datagram &d)
{
    // Once the port has closed (the user, the window or a lost device), the rest of a command
    // ends at once: nothing is sent, nothing waits for a watchdog.
    if (m_pollingEnabled || !m_comm.Connected())
        return std::nullopt;
    // Another command's request may still be outstanding (a click during a long transfer):
    // it keeps its reply, and this one goes out only when the link is free.
    if (!waitFor([this] { return m_linkIdle; }))
        return std::nullopt;

    Request request;
    m_outstanding = &request;
    m_awaitingDirectReply = true;
    m_linkIdle = false;
    SendDatagram(d, TrafficKind::Direct);
    m_lastSendTick = now();
    const bool open = waitFor([&request] { return request.done; });
    if (m_outstanding == &request)
        m_outstanding = nullptr;
    if (!open || !request.answered)
        return std::nullopt;
    // A command nested in this wait may have taken a later reply meanwhile; the caller reads
    // its own.
    m_lastReply = request.reply;
    return request.reply;
}

void BoardLink::finishRequest(bool answered, const Reply &reply)
{
    if (!m_outstanding)
        return;
    m_outstanding->done = true;
    m_outstanding->answered = answered;
    m_outstanding->reply = reply;
    m_outstanding = nullptr;
}

void BoardLink::writeRaw(const QByteArray &bytes, TrafficKind kind)
{
    if (m_comm.WriteBytes(bytes.constData(), int(bytes.size())) >= 0)
        note(true, kind, bytes);
}

void BoardLink::StartDetection()
{
    m_comm.PurgeOutput();
    const QByteArray zero(1, '\0');
    for (int i = 0; i < kProbeZeroCount; ++i) {
        writeRaw(zero, TrafficKind::Probe);
        if (!waitForEmptyTransmitQueue()) {
            // A stalled device: one message, not one per probe byte.
            emit sendError();
            break;
        }
    }
    writeRaw(QByteArray(1, char(0xFF)), TrafficKind::Probe);
    m_detecting = true;
    m_lastSendTick = now();
    m_korveBoard = false;
    m_pentarBoard = false;
    emit statusChanged(tr("Trying to detect the board."), QString());
}

void BoardLink::BeginPolling()
{
    m_linkIdle = true;
    m_pollingEnabled = true;
    m_boardActive = false;
}

void BoardLink::InitKorveBoard()
{
    m_comm.PurgeOutput();
    writeRaw(kKorveStartText, TrafficKind::StartUp);
    std::this_thread::sleep_for(kKorvePause);
    waitForEmptyTransmitQueue();
    writeRaw(kKorveStartCommand, TrafficKind::StartUp);
    std::this_thread::sleep_for(kKorvePause);
}

void BoardLink::Comm32RxChar(QObject *, int count)
{
    const int expected = m_detecting ? kIdentificationSize : kReplySize;
    // Replies are recognised by their size alone: anything else stays queued and is counted
    // again with the next bytes, or cleared by the watchdog.
    if (count != expected)
        return;
    QByteArray bytes(count, 0);
    if (m_comm.ReadBytes(bytes.data(), count) != count)
        return;
    const Reply reply{std::uint8_t(bytes[0]),
                      {std::uint8_t(bytes[1]), std::uint8_t(bytes[2]), std::uint8_t(bytes[3])}};

    const bool identification = m_detecting;
    if (m_awaitingDirectReply) {
        note(false, TrafficKind::Direct, bytes);
        m_awaitingDirectReply = false;
        m_linkIdle = true;
        m_lastReply = reply;
        finishRequest(true, reply);
    } else if (m_detecting) {
        note(false, TrafficKind::Identification, bytes);
        if (bytes.startsWith("KOR")) {
            InitKorveBoard();
            m_korveBoard = true;
            emit identified(BoardVariant::Korve);
        } else if (bytes.startsWith("ZAP")) {
            m_pentarBoard = true;
            emit identified(BoardVariant::Pentar);
        }
    } else {
        note(false, TrafficKind::Poll, bytes);
        emit pollReplyTaken(m_pollRow, reply);
    }

    if (!m_boardActive) {
        m_boardActive = true;
        const QString second = m_korveBoard    ? tr("KORVE detected!")
                               : m_pentarBoard ? tr("Pentar detected!")
                                               : tr("KVX310 evaluation board detected!");
        emit statusChanged(tr("The board is active."), second);
    }
    m_linkIdle = true;
    m_detecting = false;
    emit replyTaken(identification);
}

void BoardLink::Watchdog()
{
    // A 64-bit monotonic count: the 32-bit tick of old wrapped after 49.7 days and then fired
    // without cause.
    const std::int64_t elapsed = std::abs(now() - m_lastSendTick);
    if (m_linkIdle || elapsed <= kWatchdogTimeout.count() || !m_comm.Connected())
        return;
    emit statusChanged(tr("The board does not respond."), tr("Please check the cable and power."));
    m_comm.PurgeInput();
    m_comm.PurgeOutput();
    m_linkIdle = true;
    m_boardActive = false;
    m_detecting = false;
    finishRequest(false);
}

void BoardLink::EndAllWaits()
{
    ++m_closeCount;
    finishRequest(false);
    m_awaitingDirectReply = false;
    m_linkIdle = true;
}

} // namespace kvx
