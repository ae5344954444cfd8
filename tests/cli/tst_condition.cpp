// kvx310 wait's conditions: how a typed condition is read (the two-character operators before
// the one-character ones, a lamp's caption that holds "=" itself, signed fields, the status
// byte and its bits by name) and whether a reply fulfils it; and the refusals, each with its
// reason. Waiting on the line is tst_kvx310's.

#include "cli/Condition.h"

#include <QTest>

using namespace kvx;
using namespace kvx::cli;

class TestCondition : public QObject
{
    Q_OBJECT

private slots:
    void readsAndJudges_data();
    void readsAndJudges();
    void refusesWithAReason_data();
    void refusesWithAReason();
};

void TestCondition::readsAndJudges_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("name");
    QTest::addColumn<qint64>("shown"); // a field's value, or the status byte
    QTest::addColumn<bool>("holds");

    QTest::newRow("equal") << "X_ACTUAL=5000"
                           << "X_ACTUAL" << 5000ll << true;
    QTest::newRow("equal, other value") << "X_ACTUAL=5000"
                                        << "X_ACTUAL" << 5001ll << false;
    QTest::newRow(">= is not > then =") << "X_ACTUAL>=5000"
                                        << "X_ACTUAL" << 5000ll << true;
    QTest::newRow("> at the value") << "X_ACTUAL>5000"
                                    << "X_ACTUAL" << 5000ll << false;
    QTest::newRow("<= a negative") << "X_ACTUAL<=-5"
                                   << "X_ACTUAL" << -5ll << true;
    QTest::newRow("< a negative") << "X_ACTUAL<-5"
                                  << "X_ACTUAL" << -4ll << false;
    QTest::newRow("!=") << "V_ACTUAL!=0"
                        << "V_ACTUAL" << 0ll << false;
    QTest::newRow("== with blanks") << " V_ACTUAL == -3 "
                                    << "V_ACTUAL" << -3ll << true;
    // Each status bit is its own: motor 1's reference switch is bit 1, its target bit 0.
    QTest::newRow("a bit alone: set") << "REFERENCE_SWITCH_1"
                                      << "REFERENCE_SWITCH_1" << 0x02ll << true;
    QTest::newRow("a bit alone: its neighbour set") << "REFERENCE_SWITCH_1"
                                                    << "REFERENCE_SWITCH_1" << 0x01ll << false;
    QTest::newRow("a bit =0") << "X_REACHED_3=0"
                              << "X_REACHED_3" << 0xEFll << true;
    QTest::newRow("the lamp's caption") << "X_ACTUAL2 = X_TARGET2"
                                        << "X_REACHED_2" << 0x04ll << true;
    QTest::newRow("the status byte, hexadecimal") << "STATUS=0x15"
                                                  << "STATUS" << 0x15ll << true;
    QTest::newRow("the status byte, another") << "STATUS=0x15"
                                              << "STATUS" << 0x95ll << false;
}

void TestCondition::readsAndJudges()
{
    QFETCH(QString, text);
    QFETCH(qint64, shown);
    QString error;
    const std::optional<Condition> c = parseCondition(text, &error);
    QVERIFY2(c, qPrintable(error));
    QTEST(c->name(), "name");
    Reply reply;
    if (c->item)
        reply.data = DataBytes::fromValue(withValue(*c->item, 0, shown));
    else
        reply.status = std::uint8_t(shown);
    QTEST(c->holds(reply), "holds");
}

void TestCondition::refusesWithAReason_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("reason"); // a part of the message

    QTest::newRow("the status byte needs a value") << "STATUS"
                                                   << "STATUS=0x15";
    QTest::newRow("a bit is 0 or 1") << "INTERRUPT=2"
                                     << "0 to 1";
    QTest::newRow("the byte is 0 to 255") << "STATUS=256"
                                          << "0 to 255";
    QTest::newRow("a field needs a value") << "X_ACTUAL"
                                           << "needs a value";
    QTest::newRow("no such name") << "X_NOWHERE=1"
                                  << "nor a status bit";
    QTest::newRow("not a number") << "X_ACTUAL=five"
                                  << "";
}

void TestCondition::refusesWithAReason()
{
    QFETCH(QString, text);
    QFETCH(QString, reason);
    QString error;
    QVERIFY(!parseCondition(text, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY2(error.contains(reason), qPrintable(error));
}

QTEST_GUILESS_MAIN(TestCondition)
#include "tst_condition.moc"
