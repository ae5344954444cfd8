#include "link/BoardDetection.h"

namespace kvx {

namespace {

using namespace std::chrono_literals;

const QByteArray kKorveStartText(" 0132");
const QByteArray kKorveStartCommand("\x22\x00\x00", 3);
// How often the second part looks whether the first has left the transmit queue.
constexpr std::int64_t kDrainLook = 1000;
constexpr std::int64_t kPause =
    std::chrono::duration_cast<std::chrono::microseconds>(BoardDetection::kKorvePause).count();

} // namespace

BoardDetection::BoardDetection(ByteTransport &line, QObject *parent)
    : QObject(parent)
    , m_line(&line)
{}

bool BoardDetection::write(const QByteArray &bytes, Kind kind)
{
    const int n = m_line->WriteBytes(bytes.constData(), int(bytes.size()));
    if (n > 0)
        emit written(kind, bytes.left(n));
    return n > 0;
}

bool BoardDetection::start()
{
    m_identifying = true;
    m_variant = BoardVariant::Plain;
    return sendProbe();
}

BoardVariant BoardDetection::identified(const QByteArray &bytes, std::int64_t now)
{
    m_identifying = false;
    m_variant = identify(bytes);
    if (m_variant == BoardVariant::Korve)
        startKorveStartUp(now);
    return m_variant;
}

bool BoardDetection::probeAgain()
{
    // A board that sends its identification only once, after a probe, would pass for a plain
    // board.
    if (!m_identifying || m_probesLeft == 0)
        return false;
    --m_probesLeft;
    return true;
}

bool BoardDetection::endsQuickly(const QByteArray &unfinished) const
{
    constexpr int kReplySize = 4;
    return m_quick && m_identifying && unfinished.size() >= kReplySize &&
           identify(unfinished) == BoardVariant::Plain;
}

bool BoardDetection::sendProbe()
{
    m_line->PurgeOutput();
    QByteArray probe(kProbeZeroCount, '\0');
    probe.append(char(0xFF));
    return write(probe, Kind::Probe);
}

void BoardDetection::startKorveStartUp(std::int64_t now)
{
    m_line->PurgeOutput();
    write(kKorveStartText, Kind::StartUp);
    m_step = Step::HeadPause;
    m_due = now + kPause;
}

std::optional<std::int64_t> BoardDetection::nextDeadline() const
{
    if (m_step == Step::Idle)
        return std::nullopt;
    return m_due;
}

void BoardDetection::advance(std::int64_t now)
{
    if (m_step == Step::Idle || now < m_due)
        return;
    switch (m_step) {
    case Step::Idle:
        return;
    case Step::HeadPause:
    case Step::TailWait:
        // The second part follows the first on the line, never into it.
        if (m_line->Connected() && m_line->OutQueueCount() > 0) {
            m_step = Step::TailWait;
            m_due = now + kDrainLook;
            return;
        }
        write(kKorveStartCommand, Kind::StartUp);
        m_step = Step::TailPause;
        m_due = now + kPause;
        return;
    case Step::TailPause:
        m_step = Step::Idle;
        emit finished();
        return;
    }
}

bool BoardDetection::busy() const
{
    return m_step != Step::Idle;
}

void BoardDetection::cancel()
{
    m_step = Step::Idle;
    m_identifying = false;
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
