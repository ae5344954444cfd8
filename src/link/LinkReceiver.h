#pragma once

// The link's input side: reads what the line brings, lets the ReplyFramer judge it on the
// fine clock, and times the framer's looks (and the detection's start-up pauses) with one
// single-shot timer. What the framer decides reaches the owner in order, each event once,
// even when handling one waits for the events that come after it.

#include "link/BoardDetection.h"
#include "link/ByteTransport.h"
#include "link/ReplyFramer.h"

#include <QObject>

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>

class QTimer;

namespace kvx {

class LinkReceiver : public QObject
{
    Q_OBJECT

public:
    class Owner
    {
    public:
        // Bytes just read: true when they are thrown away before the framer sees them.
        virtual bool discards(const QByteArray &bytes) = 0;
        // The framer has taken bytes in at `t`: the owner's own judgement adds its events.
        virtual void judged(std::int64_t t, ReplyFramer::Events &events) = 0;
        virtual void handle(const ReplyFramer::Event &event) = 0;
        // Every event so far is handled.
        virtual void eventsHandled() = 0;
        // A look at the line is over: the next request may go out.
        virtual void inputDone() = 0;

    protected:
        ~Owner() = default;
    };

    LinkReceiver(Owner &owner, ByteTransport &line, BoardDetection &detection,
                 const std::function<std::int64_t()> &fineClock, QObject *parent = nullptr);

    void setTransport(ByteTransport &line) { m_comm = &line; }
    // Polling starts: the framer starts afresh at the line's pace, replies are expected of
    // `replySize` bytes, and the line's damaged bytes are counted from now.
    void begin(int replySize);
    // The bytes the line has reported damaged since begin().
    [[nodiscard]] quint64 lineErrors() const { return m_comm->lineErrors() - m_lineErrorsBefore; }
    [[nodiscard]] ReplyFramer &framer() { return m_framer; }
    [[nodiscard]] const ReplyFramer &framer() const { return m_framer; }
    // Events the owner raised itself (a give-up), to be handled in order with the framer's.
    [[nodiscard]] ReplyFramer::Events &events() { return m_newEvents; }

    // Reads what waits, if anything: it arrived before whatever is sent next.
    void readWaiting();
    void receive(int count);
    // When the framer or the detection next has something to decide, on the fine clock.
    [[nodiscard]] std::optional<std::int64_t> nextDeadline() const;
    // Lets them decide it: what has come is read first, however few bytes it is.
    void service();
    void handleEvents();
    void armTimer();
    // The port has closed: nothing judged is handed over any more.
    void clear();

private:
    void afterInput();
    // Wakes the program for every byte until the framer has seen how the line hands them
    // over, then for whole replies only.
    void learnDelivery();

    Owner &m_owner;
    ByteTransport *m_comm;
    BoardDetection &m_detection;
    const std::function<std::int64_t()> &m_fineClock;
    ReplyFramer m_framer;
    ReplyFramer::Events m_newEvents;
    std::deque<ReplyFramer::Event> m_events; // judged, not yet handled
    QTimer *m_timer;
    std::int64_t m_timerDue = 0;
    quint64 m_lineErrorsBefore = 0; // the line's count of damaged bytes when it was opened
    std::int64_t m_quietAt = -1;    // a look found nothing waiting then (fine clock)
    int m_replySize = 0; // the read threshold to set once the line's delivery is known
};

} // namespace kvx
