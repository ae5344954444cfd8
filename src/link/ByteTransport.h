#pragma once

// What the board link needs of the line to the board: write bytes, hear that bytes have
// come, read them, purge both directions. The serial-port component is one; an in-process
// simulated line (its board, adapter and host on a clock the owner moves) is another, so that
// the link's rules can be tried on any line in virtual time. The names the serial component's
// design gives keep their spelling. User-interface thread only.

#include <QObject>

namespace kvx {

class ByteTransport : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    [[nodiscard]] virtual bool Connected() const = 0;
    // The bytes taken at once, 0 while a previous write is still in progress, -1 on failure.
    virtual int WriteBytes(const void *buffer, int count) = 0;
    // Up to `count` bytes already received; -1 on failure.
    virtual int ReadBytes(void *buffer, int count) = 0;
    // Bytes not yet on the line.
    virtual int OutQueueCount() = 0;
    // Bytes received and not yet read, those the system has not handed over yet included.
    virtual int inQueueCount() = 0;
    virtual void PurgeInput() = 0;
    virtual void PurgeOutput() = 0;

    // Makes what has come visible to inQueueCount and ReadBytes at once, whether or not the
    // notification has been delivered.
    virtual void fetchInput() {}
    // Lets the line gather up to `bytes` received bytes before it notifies (see
    // TCustomComm32::setReadThreshold); 1 where it cannot.
    virtual void setReadThreshold(int bytes) { (void)bytes; }
    [[nodiscard]] virtual int readThreshold() const { return 1; }
    // One character's time on the line, microseconds.
    [[nodiscard]] virtual double characterTime() const = 0;
    // The peer sits behind a real line at characterTime(): nothing it sends can arrive sooner
    // than the line carries it. False for a pseudo-terminal, whose peer writes as fast as it
    // likes.
    [[nodiscard]] virtual bool pacedLine() const { return true; }
    // How many received bytes the line has reported damaged (framing, parity, overrun) since
    // it was opened; 0 where it cannot tell.
    [[nodiscard]] virtual quint64 lineErrors() const { return 0; }

signals:
    // `count` bytes wait to be read.
    void bytesReady(int count);
};

} // namespace kvx
