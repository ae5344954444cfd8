// The first start without a settings file: which board is offered for COM1 and what answering
// writes. That main() asks only when the file is missing is the program entry's one line.

#include "app/FirstStart.h"
#include "common/SerialDevices.h"
#include "controls/Dialogs.h"

#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>

using namespace kvx;

class TestFirstStart : public QObject
{
    Q_OBJECT

private slots:
    void offer_data();
    void offer();
};

void TestFirstStart::offer_data()
{
    QTest::addColumn<QList<SerialDevice>>("devices");
    QTest::addColumn<int>("answer");
    QTest::addColumn<QString>("says");
    QTest::addColumn<QByteArray>("written"); // the settings file afterwards; empty: none

    const QString ftdiName = QStringLiteral("ttyUSB0 \u2013 FT232R USB UART (FTDI, 0403:6001)");
    const QByteArray ftdiLine =
        "[Ports]\nCOM1=/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A9XYZ-if00-port0\n";
    QTest::newRow("adapter offered by name") << QList<SerialDevice>{test::builtIn(), test::ftdi()}
                                             << int(QMessageBox::Yes) << ftdiName << ftdiLine;
    QTest::newRow("adapter declined: nothing written")
        << QList<SerialDevice>{test::ftdi()} << int(QMessageBox::No) << ftdiName << QByteArray();
    QTest::newRow("dialog closed: nothing written")
        << QList<SerialDevice>{test::ftdi()} << int(QMessageBox::Escape) << ftdiName
        << QByteArray();
    QTest::newRow("one the user may open before a locked one")
        << QList<SerialDevice>{test::lockedAcm(true), test::ftdi()} << int(QMessageBox::Yes)
        << ftdiName << ftdiLine;
    QTest::newRow("a locked adapter with its remedy")
        << QList<SerialDevice>{test::lockedAcm(true)} << int(QMessageBox::Yes)
        << "usermod -aG dialout" << QByteArray("[Ports]\nCOM1=/dev/ttyACM0\n");
    QTest::newRow("built-in ports only: the simulated board")
        << QList<SerialDevice>{test::builtIn()} << int(QMessageBox::Yes)
        << "Use the simulated board as COM1" << QByteArray("[Ports]\nCOM1=sim\n");
    QTest::newRow("simulated board declined")
        << QList<SerialDevice>{} << int(QMessageBox::No) << "No serial adapter" << QByteArray();
}

void TestFirstStart::offer()
{
    QFETCH(QList<SerialDevice>, devices);
    QFETCH(int, answer);
    QFETCH(QString, says);
    QFETCH(QByteArray, written);

    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("Eval310.ini"));
    QStringList asked;
    Dialogs::setDialogHandler([&](QDialog &d) {
        const auto &box = static_cast<QMessageBox &>(d);
        asked << box.text() + QLatin1Char('\n') + box.informativeText();
        return answer;
    });
    const bool taken = offerFirstBoard(nullptr, ini, QStringLiteral("COM1"), devices);
    Dialogs::setDialogHandler({});

    QCOMPARE(asked.size(), 1);
    QVERIFY2(asked.first().contains(says), qPrintable(asked.first()));
    QCOMPARE(taken, !written.isEmpty());
    QFile file(ini);
    if (written.isEmpty()) {
        QVERIFY(!file.exists());
    } else {
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll().replace("\r\n", "\n"), written);
    }
}

QTEST_MAIN(TestFirstStart)
#include "tst_firststart.moc"
