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
    , m_wasEnabled(link.PollingEnabled)
{
    if (!m_wasEnabled)
        return;
    m_link.PollingEnabled = false;
    m_link.waitFor([&link] { return link.LinkIdle; });
}

PollPause::~PollPause()
{
    m_link.PollingEnabled = m_wasEnabled;
}

BoardLink::BoardLink(TCustomComm32 &comm, QObject *parent)
    : QObject(parent)
    , m_comm(comm)
    , m_clock(steadyClock())
    , m_waitGuard(new QTimer(this))
{
    m_waitGuard->setInterval(kWaitGuardInterval);
    connect(m_waitGuard, &QTimer::timeout, this, [this] {
        if (!LinkIdle)
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
    if (KorveBoard) {
        f.append(SlowSpi && SlowSpi() ? kSlowFrameStart : kFrameStart);
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

bool BoardLink::SendDatagram(const Datagram &d)
{
    const QByteArray f = frame(d);
    if (!waitForEmptyTransmitQueue() || m_comm.WriteBytes(f.constData(), int(f.size())) < 0) {
        // A port that has just been lost is reported as such by the window; a "Send error!"
        // on top of it would only repeat the news.
        if (OnSendError && m_comm.Connected())
            OnSendError();
        return false;
    }
    return true;
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
    if (PollingEnabled || !m_comm.Connected())
        return std::nullopt;
    // Another command's request may still be outstanding (a click during a long transfer):
    // it keeps its reply, and this one goes out only when the link is free.
    if (!waitFor([this] { return LinkIdle; }))
        return std::nullopt;

    Request request;
    m_outstanding = &request;
    AwaitingDirectReply = true;
    LinkIdle = false;
    SendDatagram(d);
    LastSendTick = now();
    const bool open = waitFor([&request] { return request.done; });
    if (m_outstanding == &request)
        m_outstanding = nullptr;
    if (!open || !request.answered)
        return std::nullopt;
    // A command nested in this wait may have taken a later reply meanwhile; the caller reads
    // its own.
    LastReply = request.reply;
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

void BoardLink::writeRaw(const QByteArray &bytes)
{
    m_comm.WriteBytes(bytes.constData(), int(bytes.size()));
}

void BoardLink::StartDetection()
{
    m_comm.PurgeOutput();
    const char zero = 0;
    for (int i = 0; i < kProbeZeroCount; ++i) {
        m_comm.WriteBytes(&zero, 1);
        if (!waitForEmptyTransmitQueue()) {
            // A stalled device: one message, not one per probe byte.
            if (OnSendError)
                OnSendError();
            break;
        }
    }
    const char end = char(0xFF);
    m_comm.WriteBytes(&end, 1);
    Detecting = true;
    LastSendTick = now();
    KorveBoard = false;
    PentarBoard = false;
    if (OnStatus)
        OnStatus(tr("Trying to detect the board."), QString());
}

void BoardLink::InitKorveBoard()
{
    m_comm.PurgeOutput();
    writeRaw(kKorveStartText);
    std::this_thread::sleep_for(kKorvePause);
    waitForEmptyTransmitQueue();
    writeRaw(kKorveStartCommand);
    std::this_thread::sleep_for(kKorvePause);
}

void BoardLink::Comm32RxChar(QObject *, int count)
{
    const int expected = Detecting ? kIdentificationSize : kReplySize;
    // Replies are recognised by their size alone: anything else stays queued and is counted
    // again with the next bytes, or cleared by the watchdog.
    if (count != expected)
        return;
    QByteArray bytes(count, 0);
    if (m_comm.ReadBytes(bytes.data(), count) != count)
        return;
    const Reply reply{std::uint8_t(bytes[0]),
                      {std::uint8_t(bytes[1]), std::uint8_t(bytes[2]), std::uint8_t(bytes[3])}};

    if (AwaitingDirectReply) {
        AwaitingDirectReply = false;
        LinkIdle = true;
        LastReply = reply;
        finishRequest(true, reply);
    } else if (Detecting) {
        if (bytes.startsWith("KOR")) {
            InitKorveBoard();
            KorveBoard = true;
            if (OnIdentified)
                OnIdentified(BoardVariant::Korve);
        } else if (bytes.startsWith("ZAP")) {
            PentarBoard = true;
            if (OnIdentified)
                OnIdentified(BoardVariant::Pentar);
        }
    } else if (OnPollReply) {
        OnPollReply(reply);
    }

    if (!BoardActive) {
        BoardActive = true;
        const QString second = KorveBoard    ? tr("KORVE detected!")
                               : PentarBoard ? tr("Pentar detected!")
                                             : tr("KVX310 evaluation board detected!");
        if (OnStatus)
            OnStatus(tr("The board is active."), second);
    }
    if (OnAdvancePollRow)
        OnAdvancePollRow();
    LinkIdle = true;
    Detecting = false;
    if (OnReplyTaken)
        OnReplyTaken();
}

void BoardLink::Watchdog()
{
    // A 64-bit monotonic count: the 32-bit tick of old wrapped after 49.7 days and then fired
    // without cause.
    const std::int64_t elapsed = std::abs(now() - LastSendTick);
    if (elapsed <= kWatchdogTimeout.count() || !m_comm.Connected())
        return;
    if (OnStatus)
        OnStatus(tr("The board does not respond."), tr("Please check the cable and power."));
    m_comm.PurgeInput();
    m_comm.PurgeOutput();
    LinkIdle = true;
    BoardActive = false;
    Detecting = false;
    finishRequest(false);
}

void BoardLink::EndAllWaits()
{
    ++m_closeCount;
    finishRequest(false);
    AwaitingDirectReply = false;
    LinkIdle = true;
}

} // namespace kvx
