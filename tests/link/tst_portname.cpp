// How port names resolve to devices or to the simulated board. Opening them is tst_async32's.

#include "link/PortName.h"

#include <QTest>

using namespace kvx;
using Kind = PortTarget::Kind;
Q_DECLARE_METATYPE(PortTarget::Kind)

class TestPortName : public QObject
{
    Q_OBJECT

private slots:
    void resolve_data();
    void resolve();
};

void TestPortName::resolve_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("mapping"); // value of the name's [Ports] entry, if any
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("variant");
#ifdef Q_OS_WIN
    QTest::newRow("COM1 unmapped") << "COM1"
                                   << "" << Kind::Device << "COM1"
                                   << "";
#else
    QTest::newRow("COM1 unmapped") << "COM1"
                                   << "" << Kind::Device << "/dev/ttyS0"
                                   << "";
    QTest::newRow("COM9 unmapped") << "COM9"
                                   << "" << Kind::Device << "/dev/ttyS8"
                                   << "";
    QTest::newRow("blank entry counts as none") << "COM3"
                                                << "  " << Kind::Device << "/dev/ttyS2"
                                                << "";
#endif
    QTest::newRow("mapped device") << "COM2"
                                   << "/dev/ttyUSB0" << Kind::Device << "/dev/ttyUSB0"
                                   << "";
    // The settings file's keys match without regard to case: "com2=" maps COM2.
    QTest::newRow("key in small letters") << "com2"
                                          << "/dev/ttyUSB0" << Kind::Device << "/dev/ttyUSB0"
                                          << "";
    QTest::newRow("sim") << "COM1"
                         << "sim" << Kind::Simulated << ""
                         << "plain";
    QTest::newRow("sim:korve") << "COM4"
                               << "sim:korve" << Kind::Simulated << ""
                               << "korve";
    QTest::newRow("sim:Pentar any case") << "COM5"
                                         << " SIM:Pentar " << Kind::Simulated << ""
                                         << "pentar";
    QTest::newRow("unknown variant") << "COM6"
                                     << "sim:fast" << Kind::Invalid << "sim:fast"
                                     << "";
    QTest::newRow("other name stands") << "/dev/ttyACM0"
                                       << "" << Kind::Device << "/dev/ttyACM0"
                                       << "";
    // As the command line names them.
    QTest::newRow("simulated board by name") << "sim:korve"
                                             << "" << Kind::Simulated << ""
                                             << "korve";
    QTest::newRow("COM10 is not a COM name") << "COM10"
                                             << "" << Kind::Device << "COM10"
                                             << "";
    QTest::newRow("empty name") << ""
                                << "" << Kind::Device << ""
                                << "";
}

void TestPortName::resolve()
{
    QFETCH(QString, name);
    QFETCH(QString, mapping);
    QFETCH(Kind, kind);
    QFETCH(QString, path);
    QFETCH(QString, variant);
    QMap<QString, QString> ports;
    if (!mapping.isEmpty())
        ports.insert(name, mapping);
    ports.insert(QStringLiteral("COM7"), QStringLiteral("/dev/other")); // never the one asked
    const PortTarget t = resolvePortName(name, ports);
    QCOMPARE(t.kind, kind);
    QCOMPARE(t.path, path);
    QCOMPARE(t.variant, variant);
}

QTEST_APPLESS_MAIN(TestPortName)
#include "tst_portname.moc"
