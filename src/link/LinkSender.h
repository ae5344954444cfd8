#pragma once

// The link's output side: frames each request for the identified board variant and writes it
// on an empty transmit queue, telling the traffic view of it and of the detection's own bytes.
// While bytes of an earlier write are still queued, it tells the link when they can have left,
// so that frames never overlap on the line. User-interface thread.

#include "chip/Datagram.h"
#include "link/BoardDetection.h"
#include "link/ByteTransport.h"
#include "link/TrafficNotes.h"

#include <QObject>

class QTimer;

namespace kvx {

class LinkSender : public QObject
{
    Q_OBJECT

public:
    LinkSender(ByteTransport &line, const BoardDetection &detection, TrafficNotes &notes,
               QObject *parent = nullptr);

    void setTransport(ByteTransport &line) { m_comm = &line; }
    // "Use Slow SPI": KORVE frames start with "!" while it is ticked.
    void setSlowSpi(bool slow) { m_slowSpi = slow; }
    [[nodiscard]] QByteArray frame(const Datagram &d) const;
    // Writes the frame of `d`, request `exchange` since the open (-1: none), on an empty
    // transmit queue; false when it could not be written (sendError then follows).
    // `queueEmpty`: draining() has just found it so, and the queue is not asked again.
    bool send(const Datagram &d, TrafficKind kind, TrafficOrigin origin, int exchange,
              bool queueEmpty = false);
    // Bytes of an earlier write are still queued: lineFree() comes once they can have left.
    [[nodiscard]] bool draining();
    // A reply to `exchange` has come in whole: when its request was the last thing written,
    // the board has had all of it, and the queue need not be asked before the next.
    void answered(int exchange) { m_leftLine = exchange >= 0 && exchange == m_lastExchange; }
    void stopDraining();
    // Something could not be written: sendError follows, unless the port is gone.
    void failed();
    // The detection wrote `bytes`.
    void written(BoardDetection::Kind kind, const QByteArray &bytes);

signals:
    void sendError();
    void lineFree();

private:
    ByteTransport *m_comm;
    const BoardDetection &m_detection;
    TrafficNotes &m_notes;
    bool m_slowSpi = false;
    int m_lastExchange = -1; // the request last written, -1 for a frame of no exchange
    bool m_leftLine = false;
    QTimer *m_drainTimer;
};

} // namespace kvx
