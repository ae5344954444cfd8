#pragma once

// Go and Stop for one motor as datagrams on the board link: the same sequences for the main
// window's buttons and the command-line tool. Go reads the dividers and REF_CONF before it
// writes, and stops before its writes when a read goes unanswered, saying what was written.
// The caller pauses polling around them. No widgets; user-interface thread.

#include <QString>

#include <functional>

namespace kvx {

class RequestChannel;

struct GoParameters
{
    int mode = 0; // RampMode: RAMP, SOFT, VELOCITY, HOLD
    int aMax = 0;
    int vMax = 0;
    int vMin = 0;
    int vTarget = 0;
    int xTarget = 0;
    int vActual = 0;
};

// The target velocity a VELOCITY Go sends for `vTarget`: V_MAX holds 0 .. 2047 and the chip
// reads V_TARGET as 12 bits, so a value beyond either goes out as the nearest that both hold.
[[nodiscard]] int velocitySent(int vTarget);

// Asked when A_MAX is below the minimum the dividers allow; true goes on.
using ConfirmLowAcceleration = std::function<bool(int minimum)>;

// Empty when every write was answered; else why the command stopped (a read or a write left
// unanswered), and what of it was written.
[[nodiscard]] QString goMotor(RequestChannel &link, int motor, const GoParameters &p,
                              const ConfirmLowAcceleration &confirm);
// X_ACTUAL := `xTarget` (a positioning mode stays put), V_TARGET := 0, V_ACTUAL := 0. Empty
// when every write was answered; else which were not (each is tried all the same).
[[nodiscard]] QString stopMotor(RequestChannel &link, int motor, int xTarget);

} // namespace kvx
