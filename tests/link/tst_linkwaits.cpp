// The link's waits on their own: a wait ends when its condition holds, and the port's closing
// ends every wait under way, one nested in another too, but none begun after it. The waits of
// commands and pauses on a line are tst_boardlink's.

#include "link/LinkWaits.h"

#include <QTest>
#include <QTimer>

using namespace kvx;
using namespace std::chrono_literals;

class TestLinkWaits : public QObject
{
    Q_OBJECT

private slots:
    void closingEndsEveryWaitUnderWay();
};

void TestLinkWaits::closingEndsEveryWaitUnderWay()
{
    LinkWaits waits;
    // Only a wait the closing failed to end ever sees this; it keeps the test from hanging.
    bool giveUp = false;
    QTimer::singleShot(30s, [&] { giveUp = true; });
    bool inner = true;
    QTimer::singleShot(0, [&] {
        // A command run within another's wait waits in turn; the port closes meanwhile.
        QTimer::singleShot(0, [&] { waits.endAll(); });
        inner = waits.waitFor([&] { return giveUp; });
    });
    const bool outer = waits.waitFor([&] { return giveUp; });
    QVERIFY(!inner);
    QVERIFY(!outer);

    bool done = false;
    QTimer::singleShot(0, [&] { done = true; });
    QVERIFY(waits.waitFor([&] { return done; }));
}

QTEST_GUILESS_MAIN(TestLinkWaits)
#include "tst_linkwaits.moc"
