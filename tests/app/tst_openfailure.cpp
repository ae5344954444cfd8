// What the open-failure message says beneath "Could not open port COMn.": the port's meaning,
// the system's reason and a remedy that fits it. The message box itself is tst_formmain's.

#include "app/OpenFailure.h"

#include <QTest>

#include <cerrno>

using namespace kvx;

class TestOpenFailure : public QObject
{
    Q_OBJECT

private slots:
    void detail_data();
    void detail();
};

void TestOpenFailure::detail_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("group");
    QTest::addColumn<QString>("says");
    QTest::addColumn<QString>("neverSays");
    QTest::newRow("dialout") << "COM1" << EACCES << "dialout"
                             << "sudo usermod -aG dialout $USER"
                             << "root";
    QTest::newRow("uucp") << "COM1" << EACCES << "uucp"
                          << "sudo usermod -aG uucp $USER"
                          << "root";
    // Joining root's group is no remedy anybody should be told.
    QTest::newRow("owned by root") << "COM2" << EACCES << "root"
                                   << "The device is reserved to root. A udev rule"
                                   << "usermod";
    // Unknown is not root: the message used to say the device was reserved to root.
    QTest::newRow("owner unknown") << "COM2" << EACCES << ""
                                   << "Its owner could not be found out."
                                   << "root";
    QTest::newRow("another group") << "COM2" << EACCES << "plugdev"
                                   << "belongs to the group plugdev"
                                   << "usermod";
    QTest::newRow("in use") << "COM3" << EBUSY << "dialout"
                            << "Another program is using"
                            << "usermod";
    QTest::newRow("no such device") << "COM4" << ENOENT << ""
                                    << "Choose what COM4 stands for with \"Ports...\""
                                    << "[Ports]";
    QTest::newRow("no port selected") << "" << ENOENT << ""
                                      << "No port is selected."
                                      << "is no device";
}

void TestOpenFailure::detail()
{
    QFETCH(QString, port);
    QFETCH(int, error);
    QFETCH(QString, group);
    QFETCH(QString, says);
    QFETCH(QString, neverSays);
    const QString text = openFailureDetail(OpenFailure{
        port, PortTarget{PortTarget::Kind::Device, QStringLiteral("/dev/ttyUSB0"), {}}, error,
        QStringLiteral("the system's reason"), group, QStringLiteral("/opt/kvx/Eval310.ini")});
    QVERIFY2(text.contains(says), qPrintable(text));
    QVERIFY2(!text.contains(neverSays), qPrintable(text));
    if (!port.isEmpty())
        QVERIFY2(text.startsWith(port + QStringLiteral(" is /dev/ttyUSB0: the system's reason.")),
                 qPrintable(text));
}

QTEST_APPLESS_MAIN(TestOpenFailure)
#include "tst_openfailure.moc"
