#pragma once

// The traffic view's reading of an event, in the chip's own terms: the register or RAM word a
// request addresses, read or write, its motor and, for a write, each field's value; for a
// reply the value as the displays show it and the status bits that are set. Pure functions of
// the event, safe on any thread.

#include "link/TrafficLog.h"

#include <QString>

namespace kvx {

// The motor an event concerns, for the motor filter.
inline constexpr int kNoMotor = -1;

struct TrafficRow
{
    QString time;      // milliseconds since the port was opened, 0.1 ms resolution
    QString direction; // "out" or "in"
    QString kind;      // "poll", "direct request", "kvx310 request", "reply", "unanswered", ...
    QString bytes;     // upper-case hexadecimal, a blank between bytes
    QString meaning;
    int motor = kNoMotor;
    bool poll = false; // a poll request or its reply, or an attached kvx310's wait read
};

[[nodiscard]] TrafficRow describeTraffic(const TrafficEvent &e);
// The motor of a request frame's register, or kNoMotor (common registers, RAM, no frame).
[[nodiscard]] int requestMotor(const QByteArray &frame);
// The motor an event concerns, without describing it (the filter's cheap question).
[[nodiscard]] int trafficMotor(const TrafficEvent &e);
// A request frame (5 bytes, or KORVE's 6), e.g. "write V_MAX motor 2 = 800".
[[nodiscard]] QString describeRequest(const QByteArray &frame, int *motor = nullptr);
// A 4-byte reply to `request`, e.g. "X_ACTUAL motor 1 = -20; status: REFERENCE_SWITCH_1".
[[nodiscard]] QString describeReply(const QByteArray &request, const QByteArray &reply);

} // namespace kvx
