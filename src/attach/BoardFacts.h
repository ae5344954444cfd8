#pragma once

// What kvx310 info tells of the board a session holds: the identification of its last
// detection, the poll cycle's rate measured over a second, its share of what the line carries,
// and what the link has thrown away. The tool on a port of its own and the window that answers
// an attached tool take their facts from here alike. User-interface thread.

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>

namespace kvx {

class BoardLink;
class BoardSession;

// "plain", "korve" or "pentar".
[[nodiscard]] QString variantName(const BoardLink &link);

class BoardFacts : public QObject
{
    Q_OBJECT

public:
    // How long the poll cycle is counted for its rate.
    static constexpr std::chrono::milliseconds kMeasureTime{1000};

    explicit BoardFacts(BoardSession &session, QObject *parent = nullptr);

    // The ten bytes a KORVE or Pentar board identified itself with, or a plain board's
    // ordinary answer to the identification request; empty until the board has answered.
    [[nodiscard]] const QByteArray &identification() const { return m_identification; }
    // Counts the poll replies for kMeasureTime, then hands `done` the facts: device, variant,
    // identification, exchangesPerSecond, lineShare, strayBytes, lateBytes, untrustedReplies
    // and unanswered. Nothing once `context` has gone.
    void measure(QObject *context, std::function<void(const QJsonObject &facts)> done);

private:
    [[nodiscard]] QJsonObject facts(double exchangesPerSecond) const;

    BoardSession &m_session;
    QByteArray m_identification;
    quint64 m_pollReplies = 0;
};

} // namespace kvx
