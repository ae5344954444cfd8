// The exchanges the link has sent, on their own: a trusted reply reaches the row of its own
// exchange out of several outstanding, whatever order they are trusted in, and once only. How
// the framer decides, and an exchange's life on a line (retries, give-ups, the
// identification), are tst_replyframer's and tst_boardlink's.

#include "link/async32.h"
#include "link/Exchanges.h"

#include <QTest>

using namespace kvx;

class TestExchanges : public QObject
{
    Q_OBJECT

private slots:
    void replyReachesItsOwnRow_data();
    void replyReachesItsOwnRow();
};

void TestExchanges::replyReachesItsOwnRow_data()
{
    QTest::addColumn<QList<int>>("order"); // the rows, in the order their replies are trusted
    QTest::newRow("oldest first") << QList<int>{0, 1, 2};
    QTest::newRow("middle first") << QList<int>{1, 0, 2};
    QTest::newRow("newest first") << QList<int>{2, 1, 0};
}

void TestExchanges::replyReachesItsOwnRow()
{
    QFETCH(QList<int>, order);
    TCustomComm32 port; // never opened: only the identification would need it
    BoardDetection detection(port);
    CommandQueue commands;
    const std::function<std::int64_t()> clock = [] { return std::int64_t(0); };
    TrafficNotes notes(clock, clock);
    Exchanges exchanges(commands, detection, notes, clock, [] { return true; });
    std::vector<int> ids;
    for (int row = 0; row < 3; ++row) {
        Exchanges::Exchange x;
        x.row = row;
        x.datagram = Datagram{std::uint8_t(0x81 + 2 * row), {}};
        ids.push_back(exchanges.prepare(x, false, QByteArray(5, '#')).id);
        exchanges.add(std::move(x));
    }
    // Each reply carries its row, so that one shown for another row is seen.
    for (int row = 0; row < 3; ++row) {
        ReplyFramer::Event taken;
        taken.type = ReplyFramer::EventType::Taken;
        taken.id = ids[row];
        taken.bytes = QByteArray(4, char(0x10 + row));
        exchanges.taken(taken);
    }
    struct Shown
    {
        int row, status, exchange;
    };
    std::vector<Shown> shown;
    connect(&exchanges, &Exchanges::pollReply, this, [&](int row, const Reply &reply) {
        shown.push_back({row, reply.status, exchanges.replyExchange()});
    });
    for (const int row : order) {
        exchanges.committed(ids[row]);
        exchanges.committed(ids[row]); // resolved already: nothing more comes of it
    }
    QCOMPARE(int(shown.size()), 3);
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(shown[i].row, order[i]);
        QCOMPARE(shown[i].status, 0x10 + order[i]);
        QCOMPARE(shown[i].exchange, order[i]); // the rows went out in order, from the open
    }
}

QTEST_GUILESS_MAIN(TestExchanges)
#include "tst_exchanges.moc"
