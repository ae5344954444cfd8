#pragma once

// One connection to the evaluation board and the poll cycle over it, shared by every window:
// it assembles the serial port (or a line the caller gives), the board link, the poll table,
// the scheduler with its poll timer and the traffic log, and wires them once. The main window
// owns it; the other windows get a reference at creation and talk to its parts. No widgets;
// user-interface thread only.

#include "link/async32.h"
#include "link/BoardLink.h"
#include "link/TrafficLog.h"
#include "session/PollScheduler.h"
#include "session/PollTable.h"

#include <QMap>
#include <QObject>
#include <QString>

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
    explicit BoardSession(QObject *parent = nullptr);
    ~BoardSession() override;

    // The parts, wired to one another once, here. Windows call the link for commands
    // (PausePolling, DirectRequest) and connect to the parts' own signals: the link's for the
    // status texts, the traffic and the replies taken, the scheduler's for the replies shown.
    [[nodiscard]] const TComm32 &comm() const { return m_comm; }
    [[nodiscard]] BoardLink &link() { return m_link; }
    [[nodiscard]] const BoardLink &link() const { return m_link; }
    [[nodiscard]] const PollTable &table() const { return m_table; }
    [[nodiscard]] PollScheduler &scheduler() { return m_scheduler; }
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
    void openLine(ByteTransport &line);
    [[nodiscard]] const OpenAttempt &lastOpen() const { return m_lastOpen; }
    // Stops polling, ends every wait unanswered and closes the port.
    void Close();
    [[nodiscard]] bool Connected() const { return m_line->Connected(); }

signals:
    // The port has opened and detection has started; row 0 goes out right after.
    void opened();
    // The open device has vanished; the port is already closed and polling stopped.
    void deviceLost(const QString &reason);

private:
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
};

} // namespace kvx
