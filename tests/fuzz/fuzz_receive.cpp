// Fuzzes the receive path of the board link whole: BoardLink::Comm32RxChar and the ReplyFramer
// behind it, with the link's requests of every kind going out through the serial component to
// a pseudo-terminal whose other side the harness plays. The harness decides which bytes
// arrive, when (both clocks are injected, so a run is exact), and what count the port reports;
// the framer's timer and the watchdog run when the script says. The link has no seam below the
// serial component, and a terminal costs microseconds per burst, so nothing is stubbed. The
// framer's rules one by one are tst_replyframer's, the link's behaviours tst_boardlink's.
//
// The input is a script. Byte 0: bit 0 detection at the start (as opening the port does), bit
// 1 a clock just before the 32-bit wrap, bit 2 polling on its own (the link asks the harness,
// as its poll source, for the next poll whenever the line is free), bit 3 slow SPI. Each op after
// it is a byte (value % 16) and its operands:
//    0 wait      byte: unit (bits 7..6: 1, 32, 1000 or 64000 us) and high bits, byte: low bits
//    1 burst     n = byte % 32, n bytes arrive at once and the port reports them
//    2 arrive    likewise, but the program has not looked yet: they wait in the port
//    3 paced     n = byte % 16, a gap (byte * 8 us), n bytes one per gap, each reported
//    4 deliver   byte: the count Comm32RxChar is given (0..199, -1..-55, or 65536)
//    5 poll      byte: address, bit 7 also starts a poll cycle
//    6 detect    byte: bit 0 polling begins again too (the probe and the identification); a
//                script starts at most four detections (this op and open)
//    7 direct    4 bytes: a command's Datagram, waited for
//    8 batch     byte: 1 + bits 1..0 requests, bit 2 replies shown; then an address each
//    9 pause     polling paused until the matching resume (ops in between run paused)
//   10 resume
//   11 watchdog  the poll timer's tick
//   12 timer     the framer's timer fires, if it is armed
//   13 settings  byte: bit 0 slow SPI, bit 1 polling on its own, bit 2 handlers wait (the next
//                op runs inside the link's signals of its state, "reply taken", a poll reply
//                and a send error, as in a message box opened there)
//   14 close     the port closes
//   15 open      a closed port opens again, with detection
// A command, batch or pause waits as the program does, in a nested event loop; the script goes
// on inside it, op by op; once it has ended, every wait is ended as closing the port does.
// Checked: a reply handed over is exactly 4 bytes, an identification 10 (a plain board's answer
// to it 4), and both are bytes that came on the line; a poll reply, a command's and a batch's
// came after their request; poll replies come once each, in the order of their requests;
// request frames have their variant's length; a board is identified only by its name; the
// counters never count more than came or went; no more bytes wait in the port than arrived.
// KVX_FUZZ_TRACE=1 prints the traffic, to see what a seed does.

#include "FuzzInput.h"
#include "link/async32.h"
#include "link/BoardLink.h"

#include <QCoreApplication>
#include <QMetaMethod>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <functional>
#include <memory>

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

using namespace kvx;
using kvxfuzz::FuzzInput;
using kvxfuzz::require;

namespace {

using namespace std::chrono_literals;

constexpr std::int64_t kClockStart = 100'000;     // ms
constexpr std::int64_t kWrapStart = 0xFFFFFF00LL; // ms, just before a 32-bit tick wraps
constexpr std::int64_t kFineStart = 1'000'000'000;
constexpr std::int64_t kWaitUnits[] = {1, 32, 1000, 64000};
// Bytes that may wait in the terminal and the port at once; the terminal holds 4096.
constexpr int kPortRoom = 2048;
// Only a stalled system takes this long to carry bytes across the terminal.
constexpr auto kCarryLimit = 2s;
// Commands and pauses nest no deeper than this: a user clicks a few times during a wait, not
// hundreds.
constexpr int kMaxNesting = 8;
const bool kTrace = qEnvironmentVariableIsSet("KVX_FUZZ_TRACE");
// Detections a script may start: each probe is 129 writes, which would cost most of a run.
constexpr int kMaxDetections = 4;
// Turns of the event loop a wait may take to end after the port closed before it counts as
// hanging.
constexpr int kMaxClosingTurns = 1000;

// The KORVE start-up pauses 2 x 15 ms of real time. The link's clocks are the harness's, so
// the pauses change nothing but the speed of every run that identifies a KORVE board: they
// are skipped on the harness's thread while a script runs.
std::atomic<bool> g_skipSleeps{false};
pthread_t g_harnessThread;

} // namespace

extern "C" int nanosleep(const timespec *request, timespec *remaining)
{
    if (g_skipSleeps && pthread_equal(pthread_self(), g_harnessThread))
        return 0;
    const int error = clock_nanosleep(CLOCK_REALTIME, 0, request, remaining);
    if (error == 0)
        return 0;
    errno = error;
    return -1;
}

namespace {

// The board's side of a pseudo-terminal, and the port opened on the other side.
class Terminal
{
public:
    Terminal()
    {
        m_master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        require(m_master >= 0 && ::grantpt(m_master) == 0 && ::unlockpt(m_master) == 0,
                "the harness gets a pseudo-terminal");
        const QString path = QString::fromLocal8Bit(::ptsname(m_master));
        // Held open so that the port's closing never hangs the terminal up.
        m_slave = ::open(::ptsname(m_master), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios tio{};
        require(m_slave >= 0 && ::tcgetattr(m_slave, &tio) == 0, "the terminal opens");
        ::cfmakeraw(&tio);
        ::tcsetattr(m_slave, TCSANOW, &tio);
        // As the board session sets its port up.
        comm.setDeviceName(path);
        comm.setBaudRate(TBaudRate::cbr19200);
        comm.setParity(TParity::paNone);
        comm.setStopbits(TStopbits::sb10);
        comm.setDatabits(TDatabits::da8);
        comm.setFlowControl(TFlowControl::fcRTSToggle);
    }
    ~Terminal()
    {
        comm.Close();
        ::close(m_slave);
        ::close(m_master);
    }
    Terminal(const Terminal &) = delete;
    Terminal &operator=(const Terminal &) = delete;

    // The port as a script starts on it: open, nothing waiting in either direction.
    void reset()
    {
        if (!comm.Connected())
            comm.Open();
        require(comm.Connected(), "the port opens on the terminal");
        comm.setReadThreshold(1);
        comm.PurgeInput();
        comm.PurgeOutput();
        drain();
    }

    // Writes what room allows of `bytes` and waits until the port can see it; what was sent.
    QByteArray send(QByteArray bytes)
    {
        if (!comm.Connected())
            return {};
        const int waiting = comm.inQueueCount();
        bytes.truncate(std::max(0, kPortRoom - waiting));
        if (bytes.isEmpty())
            return {};
        const ssize_t n = ::write(m_master, bytes.constData(), size_t(bytes.size()));
        if (n <= 0)
            return {};
        bytes.truncate(qsizetype(n));
        const auto deadline = std::chrono::steady_clock::now() + kCarryLimit;
        while (comm.inQueueCount() < waiting + int(n)) {
            require(std::chrono::steady_clock::now() < deadline, "the terminal carries bytes");
            ::sched_yield();
        }
        return bytes;
    }

    // What the link wrote is read away, so that its writes never stall.
    void drain()
    {
        char buffer[4096];
        while (::read(m_master, buffer, sizeof buffer) > 0) {
        }
    }

    TComm32 comm;

private:
    int m_master = -1;
    int m_slave = -1;
};

QByteArray bytesOf(const Reply &r)
{
    const char bytes[] = {char(r.status), char(r.data.high), char(r.data.mid), char(r.data.low)};
    return QByteArray(bytes, 4);
}

class Script : public QObject
{
public:
    Script(FuzzInput &in, Terminal &terminal)
        : m_in(in)
        , m_terminal(terminal)
        , m_comm(terminal.comm)
        , m_link(std::make_unique<BoardLink>(m_comm))
    {
        const std::uint8_t head = in.byte();
        m_start = (head & 0x02) != 0 ? kWrapStart : kClockStart;
        m_autoPoll = (head & 0x04) != 0;
        m_link->setClock([this] { return m_start + m_micros / 1000; });
        m_link->setFineClock([this] { return kFineStart + m_micros; });
        m_link->setSlowSpi((head & 0x08) != 0);
        m_framerTimer = m_link->findChild<QTimer *>(QStringLiteral("framer"));
        require(m_framerTimer, "the link has the framer's timer");
        m_link->setPollSource(&m_polls);
        m_polls.next = [this]() -> std::optional<PollSource::Poll> {
            // A poll the script asked for goes out now; else, polling on its own, the next.
            if (m_pollAsked)
                return std::exchange(m_pollAsked, std::nullopt);
            if (!m_autoPoll)
                return std::nullopt;
            return pollItem(std::uint8_t(0x01 + 2 * (m_nextRow % 8)), m_nextRow % 8 == 1);
        };
        connect(m_link.get(), &BoardLink::traffic, this, &Script::onTraffic);
        connect(m_link.get(), &BoardLink::pollReply, this, &Script::onPollReply);
        connect(m_link.get(), &BoardLink::countersChanged, this, &Script::onCounters);
        connect(m_link.get(), &BoardLink::identified, this, &Script::onIdentified);
        connect(m_link.get(), &BoardLink::sendError, this, [this] {
            ++m_sendErrors;
            handlerWaits();
        });
        connect(m_link.get(), &BoardLink::stateChanged, this, [this] { handlerWaits(); });
        connect(m_link.get(), &BoardLink::replyTaken, this, [this] { handlerWaits(); });
        if ((head & 0x01) != 0)
            m_link->StartDetection();
        m_link->beginPolling();
    }

    ~Script() override
    {
        m_link->endAllWaits();
        m_link.reset();
    }

    void play()
    {
        while (!m_in.atEnd())
            step();
    }

private:
    enum Op
    {
        Wait,
        Burst,
        Arrive,
        Paced,
        Deliver,
        Poll,
        Detect,
        Direct,
        Batch,
        Pause,
        Resume,
        Watchdog,
        Timer,
        Settings,
        Close,
        Open,
        OpCount,
    };

    // Runs one op; its kind.
    Op step()
    {
        const auto op = Op(m_in.byte() % OpCount);
        switch (op) {
        case Wait: {
            const std::uint8_t high = m_in.byte();
            const std::int64_t units = std::int64_t(high & 0x3F) << 8 | m_in.byte();
            m_micros += units * kWaitUnits[high >> 6];
            notify();
            break;
        }
        case Burst:
            arrive(m_in.bytes(m_in.byte() % 32));
            notify();
            break;
        case Arrive:
            arrive(m_in.bytes(m_in.byte() % 32));
            break;
        case Paced: {
            const int count = m_in.byte() % 16;
            const std::int64_t gap = 8 * m_in.byte();
            for (int i = 0; i < count && !m_in.atEnd(); ++i) {
                m_micros += gap;
                arrive(m_in.bytes(1));
                notify();
            }
            break;
        }
        case Deliver: {
            const std::uint8_t c = m_in.byte();
            const int count = c < 200 ? c : c < 255 ? 199 - c : 65536;
            m_comm.fetchInput();
            m_link->Comm32RxChar(&m_comm, count);
            break;
        }
        case Poll: {
            const std::uint8_t address = m_in.byte();
            poll(address & 0x7F, (address & 0x80) != 0);
            break;
        }
        case Detect: {
            const bool begin = (m_in.byte() & 1) != 0;
            if (++m_detections > kMaxDetections)
                break;
            m_link->StartDetection();
            if (begin)
                m_link->beginPolling();
            break;
        }
        case Direct:
            direct();
            break;
        case Batch:
            batch();
            break;
        case Pause:
            pause();
            break;
        case Resume:
            break;
        case Watchdog:
            m_link->watchdog();
            break;
        case Timer:
            if (m_framerTimer->isActive()) {
                // As the timer fires: it stops, then runs the framer.
                m_framerTimer->stop();
                require(QMetaMethod::fromSignal(&QTimer::timeout).invoke(m_framerTimer),
                        "the framer's timer can be fired");
                notify();
            }
            break;
        case Settings: {
            const std::uint8_t flags = m_in.byte();
            m_link->setSlowSpi((flags & 1) != 0);
            m_autoPoll = (flags & 2) != 0;
            m_handlersWait = (flags & 4) != 0;
            break;
        }
        case Close:
            // As the board session closes the port.
            m_link->endAllWaits();
            m_comm.Close();
            break;
        case Open:
            // The program offers "Open" only while the port is closed.
            if (m_comm.Connected() || ++m_detections > kMaxDetections)
                break;
            m_comm.Open();
            if (m_comm.Connected()) {
                m_link->StartDetection();
                m_link->beginPolling();
            }
            break;
        case OpCount:
            break;
        }
        m_terminal.drain();
        checkState();
        return op;
    }

    // A handler of the link's signals that opens a message box runs a nested event loop: the
    // script's next op runs inside the signal.
    void handlerWaits()
    {
        if (!m_handlersWait || m_in.atEnd() || m_nesting >= kMaxNesting)
            return;
        ++m_nesting;
        step();
        --m_nesting;
    }

    void arrive(const QByteArray &bytes) { m_line += m_terminal.send(bytes); }

    // The port reports what has reached the count it was told to gather, as its notification
    // does once the program looks.
    void notify()
    {
        if (!m_comm.Connected() || m_comm.inQueueCount() < m_comm.readThreshold())
            return;
        m_comm.fetchInput();
        const int count = m_comm.inQueueCount();
        if (count > 0)
            m_link->Comm32RxChar(&m_comm, count);
    }

    // Each poll has a row of its own; the link asks for it when the line is free.
    PollSource::Poll pollItem(std::uint8_t address, bool startsCycle)
    {
        const int row = m_nextRow++;
        m_rowSentAt.push_back(-1);
        m_rowSendOrder.push_back(-1);
        m_pollHandedOver = row;
        return PollSource::Poll{Datagram{address, {}}, row, startsCycle};
    }

    // Asks for a poll now: it goes out if the line is free and polling enabled, else never.
    void poll(std::uint8_t address, bool startsCycle)
    {
        m_pollAsked = pollItem(address, startsCycle);
        m_link->advance();
        if (m_pollAsked) {
            m_pollAsked.reset();
            m_pollHandedOver = -1;
        }
    }

    // The reply was on the line after the first request sent since `firstSent` (an index
    // into m_commandSentAt): an earlier one may still be in the port, but it is not this
    // request's.
    [[nodiscard]] bool cameAfter(const Reply &reply, std::size_t firstSent) const
    {
        return firstSent < m_commandSentAt.size() &&
               m_line.indexOf(bytesOf(reply), m_commandSentAt[firstSent]) >= 0;
    }

    void direct()
    {
        const Datagram d{m_in.byte(), {m_in.byte(), m_in.byte(), m_in.byte()}};
        std::optional<Reply> reply;
        const std::size_t firstSent = m_commandSentAt.size();
        waiting([&] { reply = m_link->DirectRequest(d); });
        if (kTrace)
            std::fprintf(stderr, "command %s\n", reply ? "answered" : "not answered");
        if (reply)
            require(cameAfter(*reply, firstSent), "a command's reply came after its request");
    }

    void batch()
    {
        const std::uint8_t flags = m_in.byte();
        std::vector<Datagram> datagrams;
        for (int i = 0; i <= (flags & 3); ++i)
            datagrams.push_back(Datagram{m_in.byte(), {0x00, 0x12, 0x34}});
        const int size = int(datagrams.size());
        int reported = 0;
        BoardLink::Batch result;
        const std::size_t firstSent = m_commandSentAt.size();
        const bool ran = waiting([&] {
            result = m_link->directRequests(
                datagrams, [&](int done) { require(done == ++reported, "progress counts up"); },
                (flags & 4) != 0);
        });
        if (!ran)
            return;
        if (kTrace)
            std::fprintf(stderr, "batch: %d sent, failed at %d\n", result.sent, result.failedAt);
        require(result.sent <= size && result.failedAt < size, "a batch stays within itself");
        require(int(result.replies.size()) == (result.failedAt < 0 ? size : result.failedAt),
                "a batch has a reply for each exchange before the one that failed");
        require(reported <= int(result.replies.size()), "progress reports replies it has");
        for (const Reply &r : result.replies)
            require(cameAfter(r, firstSent), "a batch's reply came after its request");
    }

    // Ops until the matching resume run paused, as a handler does in the scope of its pause.
    void pause()
    {
        std::unique_ptr<PollPause> paused;
        if (!waiting([&] { paused = std::make_unique<PollPause>(*m_link); }))
            return;
        ++m_nesting;
        while (!m_in.atEnd()) {
            if (step() == Resume)
                break;
        }
        --m_nesting;
    }

    // Runs a call that waits in the link's event loop; the script goes on inside the wait.
    // False when it nests too deep to run.
    template<typename Call>
    bool waiting(Call call)
    {
        if (m_nesting >= kMaxNesting)
            return false;
        ++m_nesting;
        ++m_waits;
        keepTurning();
        call();
        --m_waits;
        --m_nesting;
        return true;
    }

    void keepTurning()
    {
        if (m_turnPosted)
            return;
        m_turnPosted = true;
        QMetaObject::invokeMethod(
            this, [this] { turn(); }, Qt::QueuedConnection);
    }

    // One turn of the event loop inside a wait: the next op, or, once the script has ended,
    // the port closing, which must end every wait.
    void turn()
    {
        m_turnPosted = false;
        if (!m_in.atEnd()) {
            step();
        } else if (m_waits > 0) {
            require(++m_closingTurns <= kMaxClosingTurns, "every wait ends once the port closes");
            m_link->endAllWaits();
        }
        if (m_waits > 0)
            keepTurning();
    }

    void onTraffic(const LinkTraffic &t)
    {
        if (kTrace && t.kind != TrafficKind::Probe) {
            std::fprintf(stderr, "%8lld us %s %d %s (%d)\n", static_cast<long long>(m_micros),
                         t.sent ? "sent" : "taken", int(t.kind), t.bytes.toHex(' ').constData(),
                         int(t.reason));
        }
        if (t.sent) {
            if (t.kind == TrafficKind::Poll || t.kind == TrafficKind::Direct) {
                require(t.bytes.size() == (m_link->KorveBoard() ? 6 : 5),
                        "a request frame has its variant's length");
                ++m_requests;
                if (t.kind == TrafficKind::Direct)
                    m_commandSentAt.push_back(m_line.size());
                else
                    pollSent();
            } else if (t.kind == TrafficKind::Probe) {
                require(t.bytes == QByteArray(128, '\0') + '\xFF',
                        "the probe is 128 zero bytes and 0xFF");
            }
            return;
        }
        const bool hasBytes = t.kind == TrafficKind::Poll || t.kind == TrafficKind::Direct ||
                              t.kind == TrafficKind::Identification ||
                              t.kind == TrafficKind::Discarded;
        // The other kinds only report what happened to the line (a request given up, a purge).
        require(hasBytes != t.bytes.isEmpty(), "received traffic has bytes where it says so");
        require(m_line.contains(t.bytes), "what was received came on the line");
        if (t.kind == TrafficKind::Poll || t.kind == TrafficKind::Direct)
            require(t.bytes.size() == BoardLink::kReplySize, "a reply handed over is 4 bytes");
        if (t.kind == TrafficKind::Identification) {
            // Or a plain board's 4-byte answer to the identification request, shown when the
            // watchdog ends its detection; it names no board.
            require(t.bytes.size() == BoardLink::kIdentificationSize ||
                        t.bytes.size() == BoardLink::kReplySize,
                    "an identification handed over is 10 bytes, a plain board's answer 4");
            m_lastIdentification = t.bytes;
        }
        if (t.kind == TrafficKind::Discarded)
            require(t.reason != DiscardReason::None, "what is thrown away has a reason");
    }

    void pollSent()
    {
        require(m_pollHandedOver >= 0, "a poll request goes out only when asked for");
        const auto row = std::size_t(std::exchange(m_pollHandedOver, -1));
        require(m_rowSendOrder[row] < 0, "a poll request goes out once");
        m_rowSendOrder[row] = m_pollsSent++;
        m_rowSentAt[row] = m_line.size();
    }

    void onPollReply(int row, const Reply &reply)
    {
        require(row >= 0 && row < m_nextRow && m_rowSendOrder[std::size_t(row)] >= 0,
                "a poll reply answers a request that went out");
        const auto at = std::size_t(row);
        require(m_rowSendOrder[at] > m_lastReplied, "poll replies come once, in request order");
        m_lastReplied = m_rowSendOrder[at];
        require(m_line.indexOf(bytesOf(reply), m_rowSentAt[at]) >= 0,
                "a poll reply came after its request");
        handlerWaits();
    }

    void onCounters(const LinkCounters &c)
    {
        require(c.strayBytes + c.lateBytes <= quint64(m_line.size()),
                "no more bytes are thrown away than came");
        require(c.resyncs <= c.strayBytes, "each lost step threw bytes away");
        require(c.unanswered + c.untrustedReplies <= m_requests + m_sendErrors,
                "no more requests fail than went out");
    }

    void onIdentified(BoardVariant v)
    {
        const QByteArray name = v == BoardVariant::Korve ? "KOR" : "ZAP";
        require(v != BoardVariant::Plain && m_lastIdentification.startsWith(name),
                "a board is identified by its name");
    }

    void checkState()
    {
        require(!m_link->requestOutstanding() || !m_link->LinkIdle(),
                "no request goes out while one is outstanding");
        require(m_comm.inQueueCount() <= m_line.size(), "no more bytes wait than arrived");
    }

    FuzzInput &m_in;
    Terminal &m_terminal;
    TComm32 &m_comm;
    std::unique_ptr<BoardLink> m_link;
    QTimer *m_framerTimer = nullptr;
    std::int64_t m_start = kClockStart;
    std::int64_t m_micros = 0;
    bool m_autoPoll = false;
    bool m_handlersWait = false;
    int m_waits = 0;   // calls of the link that wait, running now
    int m_nesting = 0; // those and the pauses around the op that runs
    bool m_turnPosted = false;
    int m_closingTurns = 0;
    int m_detections = 0;

    QByteArray m_line; // every byte the board sent in this run
    // By row: where m_line stood when its poll request went out, and its place among them.
    std::vector<qsizetype> m_rowSentAt;
    std::vector<int> m_rowSendOrder;
    // The polls this harness hands the link: the one asked for now, and the row of the last one
    // handed over and not yet seen going out.
    struct Polls : PollSource
    {
        std::function<std::optional<Poll>()> next;
        std::optional<Poll> nextPoll() override { return next(); }
    } m_polls;
    std::optional<PollSource::Poll> m_pollAsked;
    int m_pollHandedOver = -1;
    int m_pollsSent = 0;
    int m_lastReplied = -1; // the send order of the last poll request answered
    // Where m_line stood when each command's request went out.
    std::vector<qsizetype> m_commandSentAt;
    QByteArray m_lastIdentification;
    int m_nextRow = 0;
    quint64 m_requests = 0;
    quint64 m_sendErrors = 0;
};

Terminal *g_terminal = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    static Terminal terminal;
    g_terminal = &terminal;
    g_harnessThread = pthread_self();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    g_terminal->reset();
    FuzzInput in(data, size);
    g_skipSleeps = true;
    {
        Script script(in, *g_terminal);
        script.play();
    }
    g_skipSleeps = false;
    // The closed ports' objects are deleted later, from the event loop this never runs.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
