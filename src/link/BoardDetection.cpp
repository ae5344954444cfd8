#include "link/BoardDetection.h"

#include <thread>

namespace kvx {

namespace {

const QByteArray kKorveStartText(" 0132");
const QByteArray kKorveStartCommand("\x22\x00\x00", 3);

} // namespace

BoardDetection::BoardDetection(ByteTransport &line, Clock clock, Written written)
    : m_line(&line)
    , m_clock(std::move(clock))
    , m_written(std::move(written))
{}

bool BoardDetection::waitForEmptyTransmitQueue()
{
    const std::int64_t start = m_clock();
    while (m_line->OutQueueCount() != 0) {
        if (m_clock() - start > kTransmitDrainTimeout.count())
            return false;
    }
    return true;
}

void BoardDetection::write(const QByteArray &bytes, Kind kind)
{
    if (m_line->WriteBytes(bytes.constData(), int(bytes.size())) >= 0)
        m_written(kind, bytes);
}

bool BoardDetection::sendProbe()
{
    m_line->PurgeOutput();
    const QByteArray zero(1, '\0');
    bool drained = true;
    for (int i = 0; i < kProbeZeroCount && drained; ++i) {
        write(zero, Kind::Probe);
        drained = waitForEmptyTransmitQueue();
    }
    write(QByteArray(1, char(0xFF)), Kind::Probe);
    return drained;
}

void BoardDetection::sendKorveStartUp()
{
    m_line->PurgeOutput();
    write(kKorveStartText, Kind::StartUp);
    std::this_thread::sleep_for(kKorvePause);
    waitForEmptyTransmitQueue();
    write(kKorveStartCommand, Kind::StartUp);
    std::this_thread::sleep_for(kKorvePause);
}

BoardVariant BoardDetection::identify(const QByteArray &identification)
{
    if (identification.startsWith("KOR"))
        return BoardVariant::Korve;
    if (identification.startsWith("ZAP"))
        return BoardVariant::Pentar;
    return BoardVariant::Plain;
}

} // namespace kvx
