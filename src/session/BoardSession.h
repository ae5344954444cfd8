#pragma once

// One connection to the evaluation board and the poll cycle over it, shared by every window:
// the serial port, the board link, the poll table, the scheduler and its 1 ms timer. The main
// window owns it; the other windows get a reference at creation. Through it a window attaches
// fields and decoders to the poll table, sends with PausePolling / DirectRequest, reports what
// the register editor shows, and listens to the signals. No widgets; user-interface thread
// only.

#include "link/async32.h"
#include "link/BoardLink.h"
#include "link/TrafficLog.h"
#include "session/EditorPage.h"
#include "session/PollScheduler.h"
#include "session/PollTable.h"

#include <QMap>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

class QTimer;

namespace kvx {

// Finds the terminal of the built-in simulated board of a variant ("plain", "korve",
// "pentar"); the program's entry provides it (the boards it serves itself). It starts the
// board when needed and returns an empty path with `error` set on failure.
using SimulatedPortProvider = std::function<QString(const QString &variant, QString *error)>;

// What the last Open tried and why it failed, for the message that tells the user.
struct OpenAttempt
{
    PortTarget target; // what the port name stands for
    QString device;    // the device opened, or tried
    int error = 0;     // the system's error number; 0 once open
    QString errorText;
};

class BoardSession : public QObject
{
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kPollInterval{1};

    explicit BoardSession(QObject *parent = nullptr);
    ~BoardSession() override;

    // The parts, to read; the link state is written only by the link.
    [[nodiscard]] const TComm32 &comm() const { return m_comm; }
    [[nodiscard]] const BoardLink &link() const { return m_link; }
    // For a caller that moves the link's clocks itself and runs its timers (virtual time).
    [[nodiscard]] BoardLink &link() { return m_link; }
    [[nodiscard]] PollTable &table() { return m_table; }
    [[nodiscard]] const PollScheduler &scheduler() const { return m_scheduler; }
    // Everything that went over the link, the newest last; times count from the last open.
    [[nodiscard]] TrafficLog &trafficLog() { return m_traffic; }

    // Where "sim" ports find their simulated board; the program's entry provides it.
    void setSimulatedPortProvider(SimulatedPortProvider provider);
    // The link's millisecond clock (watchdog) and microsecond clock (reply framing), for tests.
    void setClock(BoardLink::Clock clock) { m_link.setClock(std::move(clock)); }
    void setFineClock(BoardLink::FineClock clock) { m_link.setFineClock(std::move(clock)); }

    // Opens the port named in the port list ("COM1", resolved through the [Ports] mapping, a
    // simulated board through the provider), resynchronises and identifies the board, and
    // starts polling with row 0 at once. False when the port did not open; lastOpen() tells
    // why.
    bool Open(const QString &portName, const QMap<QString, QString> &ports);
    // The same on a line already open that the caller owns (a simulated one).
    void OpenLine(ByteTransport &line);
    [[nodiscard]] const OpenAttempt &lastOpen() const { return m_lastOpen; }
    // Stops polling, ends every wait unanswered and closes the port.
    void Close();
    [[nodiscard]] bool Connected() const { return m_line->Connected(); }
    [[nodiscard]] bool pollTimerActive() const;
    // How long the poll timer waits now between ticks.
    [[nodiscard]] std::chrono::milliseconds pollTimerInterval() const;

    // The board link's operations.
    bool SendDatagram(const Datagram &d) { return m_link.SendDatagram(d); }
    std::optional<Reply> DirectRequest(const Datagram &d) { return m_link.DirectRequest(d); }
    BoardLink::Batch DirectRequests(std::span<const Datagram> datagrams,
                                    const std::function<void(int)> &progress = {},
                                    bool showsReplies = false)
    {
        return m_link.DirectRequests(datagrams, progress, showsReplies);
    }
    [[nodiscard]] PollPause PausePolling() { return m_link.PausePolling(); }
    [[nodiscard]] const Reply &LastReply() const { return m_link.LastReply(); }
    [[nodiscard]] bool PollingEnabled() const { return m_link.PollingEnabled(); }
    [[nodiscard]] bool LinkIdle() const { return m_link.LinkIdle(); }
    [[nodiscard]] int PollRow() const { return m_scheduler.PollRow(); }
    // What the link has thrown away since the port opened.
    [[nodiscard]] const LinkCounters &counters() const { return m_link.counters(); }
    void setSlowSpi(bool slow) { m_link.setSlowSpi(slow); }

    // What the register editor shows: which rows the cycle holds.
    void setEditorView(bool shown, EditorPage page) { m_scheduler.setEditorView(shown, page); }

    // The poll cycle's handlers.
    void TimerActionsTimer();
    void Comm32RxChar(QObject *sender, int count) { m_link.Comm32RxChar(sender, count); }
    void AdvancePollRow() { m_scheduler.AdvancePollRow(m_link.Detecting()); }

signals:
    // The port has opened and detection has started; row 0 goes out right after.
    void opened();
    void statusChanged(const QString &first, const QString &second);
    void identified(kvx::BoardVariant variant);
    void sendError();
    // The open device has vanished; the port is already closed and polling stopped.
    void deviceLost(const QString &reason);
    // A reply has come in whole; it is shown once the link trusts it.
    void replyTaken(bool identification);
    void traffic(const kvx::LinkTraffic &event);
    void countersChanged(const kvx::LinkCounters &counters);
    void pollReplyShown(int row, const kvx::Reply &reply);
    void traceValue(kvx::TraceKind kind, qint64 value, int motor);
    // The trace recorder's next sample: once per cycle, after the cycle's last reply.
    void nextSample();

private:
    void scheduleNextTick();
    // The link talks over `line` from now on, and hears of its bytes.
    void attach(ByteTransport &line);
    // Detection and polling on the line just opened.
    void start();

    TComm32 m_comm;
    SimulatedPortProvider m_simulatedPorts;
    OpenAttempt m_lastOpen;
    ByteTransport *m_line = &m_comm; // the line in use: the serial port, or the caller's
    QMetaObject::Connection m_lineBytes;
    BoardLink m_link;
    PollTable m_table;
    PollScheduler m_scheduler;
    TrafficLog m_traffic;
    QTimer *m_timer = nullptr; // TimerActions
};

} // namespace kvx
