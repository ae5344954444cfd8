// The "Ports" dialog against a made-up set of serial devices: what it offers, the remedy for a
// device that may not be opened, "Refresh", and the [Ports] lines OK writes (and nothing else).

#include "app/PortsDialog.h"
#include "common/AppFixture.h"
#include "common/SerialDevices.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

using namespace kvx;

namespace {

using test::ftdi;
using test::lockedAcm;

// Picks the item whose text starts with `start` in a port's list.
void choose(TFormPorts &dialog, int port, const QString &start)
{
    QComboBox *c = dialog.CbTarget[std::size_t(port)];
    for (int i = 0; i < c->count(); ++i) {
        if (c->itemText(i).startsWith(start)) {
            c->setCurrentIndex(i);
            return;
        }
    }
    QFAIL(qPrintable(start));
}

} // namespace

Q_DECLARE_METATYPE(SerialDevice)

class TestPortsDialog : public QObject
{
    Q_OBJECT

private slots:
    void devicesAsOffered_data();
    void devicesAsOffered();
    void okWritesOnlyThePorts();
    void refreshKeepsTheChoices();
    void enterInAnEntryPressesOk();
};

void TestPortsDialog::devicesAsOffered_data()
{
    QTest::addColumn<SerialDevice>("device");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("remedy");
    QTest::newRow("USB adapter with a stable name")
        << ftdi() << QStringLiteral("ttyUSB0 \u2013 FT232R USB UART (FTDI, 0403:6001)")
        << ftdi().stable << QString();
    SerialDevice plain;
    plain.node = QStringLiteral("/dev/ttyS4");
    QTest::newRow("built-in port") << plain << QStringLiteral("ttyS4") << plain.node << QString();
    QTest::newRow("permission denied")
        << lockedAcm() << QStringLiteral("ttyACM0") << lockedAcm().node
        << QStringLiteral("You may not open /dev/ttyACM0: add yourself to the group \"dialout\" "
                          "(sudo usermod -aG dialout $USER) and log in again.");
    SerialDevice rootOnly = lockedAcm();
    rootOnly.group = QStringLiteral("root");
    QTest::newRow("owned by root") << rootOnly << QStringLiteral("ttyACM0") << rootOnly.node
                                   << QStringLiteral("You may not open /dev/ttyACM0.");
}

void TestPortsDialog::devicesAsOffered()
{
    QFETCH(SerialDevice, device);
    QFETCH(QString, text);
    QFETCH(QString, target);
    QFETCH(QString, remedy);
    QCOMPARE(deviceText(device), text);
    QCOMPARE(device.target(), target);
    QCOMPARE(accessRemedy(device), remedy);

    // In the dialog: chosen, it shows its remedy, and it is kept by its stable name; a port
    // mapped to its node finds it too.
    PortTargets current;
    current[1] = device.node;
    TFormPorts dialog(current, [&] { return QList<SerialDevice>{device}; });
    QVERIFY(dialog.CbTarget[1]->currentText().startsWith(text));
    QCOMPARE(dialog.targets()[1], target);
    QCOMPARE(dialog.LblNote[1]->text(), remedy);
    QCOMPARE(dialog.targets()[0], QString()); // the default
}

void TestPortsDialog::okWritesOnlyThePorts()
{
    AppFixture app;
    QVERIFY(app.writeSettings("; kept as it is\r\n[Settings]\r\nPort=1\r\n\r\n[Ports]\r\n"
                              "COM1=/dev/old\r\nExtra=1\r\nCOM3=sim\r\n"));
    app.createWindows();
    app.main().setDeviceSource([] { return QList<SerialDevice>{ftdi(), lockedAcm()}; });
    int asked = 0;
    Dialogs::setDialogHandler([&](QDialog &d) {
        ++asked;
        auto &dialog = static_cast<TFormPorts &>(d);
        // COM1's old device is not plugged in: it stays as typed until chosen otherwise.
        if (dialog.CbTarget[0]->currentText() != QStringLiteral("/dev/old"))
            return int(QDialog::Rejected);
        choose(dialog, 0, QStringLiteral("ttyUSB0"));
        choose(dialog, 1, QStringLiteral("sim:pentar"));
        choose(dialog, 2, QStringLiteral("Default"));
        dialog.CbTarget[3]->setEditText(QStringLiteral("/dev/ttyAMA0"));
        return int(QDialog::Accepted);
    });
    app.main().BtnPortsClick();
    QCOMPARE(asked, 1);
    QCOMPARE(app.readSettings(),
             QByteArray("; kept as it is\r\n[Settings]\r\nPort=1\r\n\r\n[Ports]\r\n"
                        "COM1=/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A9XYZ-if00-port0\r\n"
                        "Extra=1\r\nCOM2=sim:pentar\r\nCOM4=/dev/ttyAMA0\r\n"));

    // The next "&Open" goes by it at once: COM2 is the simulated Pentar board now.
    app.main().ComboCOM->setCurrentIndex(1);
    QVERIFY(app.openAndWaitFor(QStringLiteral("Pentar detected!")));
    // The dialog names the port open now, and the device it stands for.
    QString shown;
    Dialogs::setDialogHandler([&](QDialog &d) {
        shown = static_cast<TFormPorts &>(d).LblOpen->text();
        return int(QDialog::Rejected);
    });
    app.main().BtnPortsClick();
    QVERIFY2(shown.startsWith(QStringLiteral("COM2 (/dev/pts/")), qPrintable(shown));

    // Cancelled, nothing is written.
    const QByteArray before = app.readSettings();
    Dialogs::setDialogHandler([](QDialog &) { return int(QDialog::Rejected); });
    app.main().BtnPortsClick();
    QCOMPARE(app.readSettings(), before);
}

void TestPortsDialog::refreshKeepsTheChoices()
{
    QList<SerialDevice> plugged{lockedAcm()};
    PortTargets current;
    current[4] = QStringLiteral("sim:korve");
    TFormPorts dialog(current, [&] { return plugged; });
    choose(dialog, 0, QStringLiteral("ttyACM0"));
    QVERIFY(dialog.LblNote[0]->text().contains(QStringLiteral("dialout")));
    QVERIFY(dialog.CbTarget[0]->findText(QStringLiteral("ttyUSB0"), Qt::MatchStartsWith) < 0);
    plugged << ftdi();
    dialog.BtnRefreshClick();
    QVERIFY(dialog.CbTarget[0]->findText(QStringLiteral("ttyUSB0"), Qt::MatchStartsWith) >= 0);
    QCOMPARE(dialog.targets()[0], QStringLiteral("/dev/ttyACM0"));
    QCOMPARE(dialog.targets()[4], QStringLiteral("sim:korve"));
}

void TestPortsDialog::enterInAnEntryPressesOk()
{
    TFormPorts dialog(PortTargets{}, [] { return QList<SerialDevice>{}; });
    QVERIFY(dialog.LblOpen->text().startsWith(QStringLiteral("No port is open")));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    // Typed far enough for the list to complete it: Enter takes the completion and OK.
    QComboBox *com4 = dialog.CbTarget[3];
    com4->setFocus();
    com4->lineEdit()->selectAll();
    QTest::keyClicks(com4->lineEdit(), QStringLiteral("sim:p"));
    QTest::keyClick(com4->lineEdit(), Qt::Key_Return);
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.targets()[3], QStringLiteral("sim:pentar"));
}

QTEST_MAIN(TestPortsDialog)
#include "tst_portsdialog.moc"
