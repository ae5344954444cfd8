#pragma once

// A request as it goes on the wire, for the variant of board identified: "#" and the four
// bytes of the datagram; a KORVE board wants its length after the "#", or "!" while "Use Slow
// SPI" is ticked.

#include "chip/Datagram.h"
#include "link/BoardDetection.h"

#include <QByteArray>

namespace kvx {

[[nodiscard]] inline QByteArray requestFrame(const Datagram &d, BoardVariant variant, bool slowSpi)
{
    constexpr char kFrameStart = '#';
    constexpr char kSlowFrameStart = '!';
    constexpr char kKorveDatagramLength = 4;
    QByteArray f;
    if (variant == BoardVariant::Korve) {
        f.append(slowSpi ? kSlowFrameStart : kFrameStart);
        f.append(kKorveDatagramLength);
    } else {
        f.append(kFrameStart);
    }
    f.append(char(d.address));
    f.append(char(d.data.high));
    f.append(char(d.data.mid));
    f.append(char(d.data.low));
    return f;
}

} // namespace kvx
