#include "common/LineTruth.h"

#include "chip/RegisterMap.h"

#include <algorithm>

namespace kvx {

LineTruth::LineTruth(BoardSession &session, VirtualLine &line)
    : m_session(session)
    , m_line(line)
{
    line.board().onFrame = [this](const sim::FrameLogEntry &e) {
        if (!e.ran && e.note != "discarded: count byte not 4")
            return; // the probe, the start-up sequence, a frame abandoned half-way
        m_frames.push_back(e);
        ++m_faultsMet[QByteArray(e.note.data(), qsizetype(e.note.size()))];
    };
    connect(&session.link(), &BoardLink::traffic, this, [this](const LinkTraffic &t) {
        if (!t.sent && t.kind == TrafficKind::Poll)
            m_takenAt[t.exchange] = t.micros;
    });
    // A cycle's sample follows that cycle's replies: two in a row would be a sample of none.
    connect(&session.link(), &BoardLink::pollCycleStart, this, [this] {
        m_emptySamples += m_repliesSinceSample == 0 ? 1 : 0;
        m_repliesSinceSample = 0;
    });
    connect(&session.scheduler(), &PollScheduler::pollReplyShown, this, &LineTruth::check);
}

void LineTruth::distinctValues(sim::ChipModel &chip)
{
    for (int m = 0; m < kMotorCount; ++m) {
        const auto u = std::uint32_t(m);
        auto write = [&](int reg, std::uint32_t value) {
            chip.exchange(Datagram::make(motorWriteAddress(m, reg), value));
        };
        write(motor::XTarget, 11111 * (u + 1));
        write(motor::XActual, 1000 * (u + 1));
        write(motor::VMin, 3 + u);
        write(motor::VMax, 700 + 50 * u);
        write(motor::VTarget, 100 * (u + 1));
        write(motor::AMax, 150 + 7 * u);
        write(motor::Currents, 0x12345 + 0x1111 * u);
        write(motor::PMulPDiv, 0x0A0400 + 0x100 * u + u);
        write(motor::RefConfRampMode, 0x0A0B00 + 0x100 * u + 2);
        write(motor::Interrupts, 0x0300 + u);
        write(motor::Dividers, 0x321 + 0x10 * u);
        write(motor::DxRefTolerance, 17 + u);
    }
}

void LineTruth::fail(const QString &what)
{
    if (m_wrongCount++ < 5)
        m_wrong << what;
}

void LineTruth::restart()
{
    m_ages.clear();
    m_shownRows.clear();
    m_framesBefore = m_frames.size();
}

std::int64_t LineTruth::stalest() const
{
    return m_ages.empty() ? 0 : *std::max_element(m_ages.begin(), m_ages.end());
}

std::int64_t LineTruth::ageAt(double share) const
{
    if (m_ages.empty())
        return 0;
    std::vector<std::int64_t> sorted = m_ages;
    std::sort(sorted.begin(), sorted.end());
    return sorted[std::min(sorted.size() - 1, std::size_t(share * double(sorted.size())))];
}

int LineTruth::polledOf(int row) const
{
    const std::uint8_t address = m_session.table().row(row).address;
    return int(std::count_if(m_frames.begin() + std::ptrdiff_t(m_framesBefore), m_frames.end(),
                             [address](const sim::FrameLogEntry &f) {
                                 return std::uint8_t(f.request.at(f.request.size() - 4)) == address;
                             }));
}

Reply LineTruth::boardsAnswer(int row) const
{
    const int n = m_lastExchange.value(row, -1);
    return n >= 0 && std::size_t(n) < m_frames.size() ? m_frames[std::size_t(n)].chipReply
                                                      : Reply{};
}

void LineTruth::check(int row, const Reply &reply)
{
    ++m_shown;
    ++m_shownRows[row];
    ++m_repliesSinceSample;
    m_last[row] = reply;
    const int n = m_session.link().replyExchange();
    m_lastExchange[row] = n;
    m_ages.push_back(m_line.now().count() - m_takenAt.value(n, 0));
    if (n < 0 || std::size_t(n) >= m_frames.size()) {
        fail(QStringLiteral("row %1 shown for exchange %2 the board never had").arg(row).arg(n));
        return;
    }
    const sim::FrameLogEntry &f = m_frames[std::size_t(n)];
    const auto asked = std::uint8_t(f.request.at(f.request.size() - 4));
    if (asked != m_session.table().row(row).address)
        fail(QStringLiteral("row %1 shown for exchange %2, a request of %3")
                 .arg(row)
                 .arg(n)
                 .arg(asked, 2, 16));
    else if (reply != f.chipReply)
        fail(QStringLiteral("%1 ms: row %2 showed %3 where the board answered %4 (%5)")
                 .arg(m_line.now().count() / 1000)
                 .arg(row)
                 .arg(QString::number(reply.data.value(), 16),
                      QString::number(f.chipReply.data.value(), 16),
                      QString::fromLatin1(f.note.data(), qsizetype(f.note.size()))));
}

} // namespace kvx
