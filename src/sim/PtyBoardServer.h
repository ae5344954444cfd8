#pragma once

// Serves a SimulatedBoard on the master side of a pseudo-terminal, so that the program opens
// the terminal's other side exactly like a serial port. Owns the board, both descriptors of
// the terminal and a microsecond timer for replies that are due later. Runs in the Qt event
// loop of the thread that creates it (the program's, or kvx310-sim's).

#include "sim/SimulatedBoard.h"

#include <QObject>
#include <QString>

class QSocketNotifier;

namespace kvx::sim {

class PtyBoardServer : public QObject
{
    Q_OBJECT

public:
    explicit PtyBoardServer(BoardOptions options = {}, QObject *parent = nullptr);
    ~PtyBoardServer() override;

    // Creates the terminal; false with `error` set when the system has none to give.
    bool start(QString *error = nullptr);
    [[nodiscard]] QString terminalPath() const { return m_path; }
    [[nodiscard]] bool serving() const { return m_master >= 0; }

    // Closes the terminal for good, as an unplugged adapter would: the program's reads fail.
    void hangUp();

    [[nodiscard]] SimulatedBoard &board() { return m_board; }
    // Board time now: microseconds since the server was created, on the monotonic clock.
    [[nodiscard]] Micros now() const;

    // Bytes waiting to be written to a terminal nobody reads are capped; beyond this the
    // oldest replies are dropped, as a full receive queue on a real line would lose them.
    static constexpr int kMaxPendingOutput = 64 * 1024;

signals:
    void hungUp();

private:
    void readRequests();
    void deliverDue();
    void writePending();
    void armTimer();

    SimulatedBoard m_board;
    int m_master = -1;
    int m_slave = -1; // held open so the program may close and reopen its side freely
    int m_timer = -1; // timerfd for replies due later
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    QSocketNotifier *m_timerNotifier = nullptr;
    QByteArray m_pending;
    QString m_path;
    long long m_startNs = 0;
};

} // namespace kvx::sim
