#include "attach/BoardFacts.h"

#include "session/BoardSession.h"

#include <QPointer>
#include <QTimer>

namespace kvx {

QString variantName(const BoardLink &link)
{
    return link.KorveBoard()    ? QStringLiteral("korve")
           : link.PentarBoard() ? QStringLiteral("pentar")
                                : QStringLiteral("plain");
}

BoardFacts::BoardFacts(BoardSession &session, QObject *parent)
    : QObject(parent)
    , m_session(session)
{
    // Each open detects its board anew: an identification is that of the board now on the line.
    connect(&session, &BoardSession::opened, this, [this] { m_identification.clear(); });
    connect(&session.link(), &BoardLink::traffic, this, [this](const LinkTraffic &t) {
        if (!t.sent && t.kind == TrafficKind::Identification)
            m_identification = t.bytes;
    });
    connect(&session.scheduler(), &PollScheduler::pollReplyShown, this,
            [this] { ++m_pollReplies; });
}

void BoardFacts::measure(QObject *context, std::function<void(const QJsonObject &)> done)
{
    const quint64 from = m_pollReplies;
    const std::int64_t at = m_session.link().fineNow();
    QTimer::singleShot(kMeasureTime, this,
                       [this, context = QPointer(context), done = std::move(done), from, at] {
                           if (!context)
                               return;
                           const double seconds = double(m_session.link().fineNow() - at) / 1e6;
                           done(facts(double(m_pollReplies - from) / seconds));
                       });
}

QJsonObject BoardFacts::facts(double exchangesPerSecond) const
{
    const BoardLink &link = m_session.link();
    const double bytesPerExchange = double(link.frame(Datagram{}).size() + BoardLink::kReplySize);
    const double wire = 1e6 / (link.transport().characterTime() * bytesPerExchange);
    const LinkCounters &c = link.counters();
    return {
        {QStringLiteral("device"), m_session.lastOpen().device},
        {QStringLiteral("variant"), variantName(link)},
        {QStringLiteral("identification"),
         QString::fromLatin1(m_identification.toHex(' ').toUpper())},
        {QStringLiteral("exchangesPerSecond"), exchangesPerSecond},
        {QStringLiteral("lineShare"), exchangesPerSecond / wire},
        {QStringLiteral("strayBytes"), double(c.strayBytes)},
        {QStringLiteral("lateBytes"), double(c.lateBytes)},
        {QStringLiteral("untrustedReplies"), double(c.untrustedReplies)},
        {QStringLiteral("unanswered"), double(c.unanswered)},
    };
}

} // namespace kvx
