#pragma once

// Why received bytes, or a reply taken from them, were thrown away: one list for the reply
// framer, the link and whoever shows the traffic.

namespace kvx {

enum class DiscardReason
{
    None,
    Stray,       // nothing was asked: a stray byte, or the tail of a reply
    Early,       // sooner than the board could have answered
    Excess,      // more bytes than the reply holds
    Unfinished,  // a reply that stopped part of the way
    Resync,      // while the line was being resynchronised
    Late,        // after the watchdog had given the request up
    Untrusted,   // a whole reply, but the line lost step before it could be trusted
    Overdue,     // later than this board answers, after an anomaly
    Damaged,     // the line reported a damaged byte
    AfterGiveUp, // the first reply after a give-up: perhaps the late answer to that request
};

} // namespace kvx
