#pragma once

// What the board link tells about the traffic it carries and about the board: the events the
// traffic view shows and the session records, the counts of what it threw away, and the
// board's state, which the windows word for the user.

#include "link/DiscardReason.h"

#include <QByteArray>

#include <cstdint>

namespace kvx {

// What travelled on the link, for anyone who shows or counts the traffic.
enum class TrafficKind
{
    Probe,          // the resynchronisation bytes sent after opening
    StartUp,        // the KORVE start-up sequence
    Poll,           // a poll request or its reply
    Direct,         // a user command's request or its reply
    Identification, // the 10-byte identification taken during detection
    Discarded,      // received bytes that answered no request, or a reply not trusted
    Unanswered,     // the watchdog gave the outstanding request up (no bytes)
    Purged,         // received bytes thrown away unread when the queues were purged
};

// Who asked for a command's request: the program that holds the link, or a command-line tool
// attached to it, whose waits read as often as the poll cycle does.
enum class TrafficOrigin : std::uint8_t
{
    Own,
    Tool,
    ToolWait,
};

struct LinkTraffic
{
    bool sent = true; // written to the port; false: received
    TrafficKind kind = TrafficKind::Poll;
    QByteArray bytes;
    std::int64_t time = 0; // the link's clock, milliseconds
    DiscardReason reason = DiscardReason::None;
    std::int64_t micros = 0; // the link's fine clock
    int purged = 0;          // Purged: how many bytes (they are not read, so not known)
    QByteArray request;      // a reply's (taken or untrusted): the request frame it answers
    int exchange = -1;       // a request's or its reply's number since the port was opened
    TrafficOrigin origin = TrafficOrigin::Own; // a command's request, and its reply's
};

// What the link has thrown away since the port was opened.
struct LinkCounters
{
    quint64 strayBytes = 0;       // bytes that answered no request
    quint64 lateBytes = 0;        // bytes that came after the watchdog gave a request up
    quint64 untrustedReplies = 0; // whole replies dropped because the line lost step
    quint64 resyncs = 0;          // times the line was resynchronised after losing step
    quint64 unanswered = 0;       // requests the watchdog gave up
    quint64 askedAgain = 0;       // reads of commands asked again after a lost reply
    quint64 lineErrors = 0;       // bytes the line reported damaged

    friend bool operator==(const LinkCounters &, const LinkCounters &) = default;
};

// The board as the link knows it; the windows word it for the user.
enum class BoardState
{
    Closed,        // no port open
    Detecting,     // the probe went out; the identification is awaited
    Active,        // a reply has been taken since the open or since it last stopped answering
    NotResponding, // the watchdog gave a request up
};

} // namespace kvx
