// The traffic view's reading of the link: requests and replies in the chip's terms, and the
// ring that keeps them.

#include "chip/RegisterMap.h"
#include "link/TrafficDecoder.h"
#include "link/TrafficLog.h"

#include <QTest>

using namespace kvx;

namespace {

QByteArray frame(const Datagram &d, bool korve = false)
{
    QByteArray f = korve ? QByteArray("#\x04", 2) : QByteArray("#");
    f.append(char(d.address));
    f.append(char(d.data.high));
    f.append(char(d.data.mid));
    f.append(char(d.data.low));
    return f;
}

LinkTraffic sent(TrafficKind kind, const QByteArray &bytes, std::int64_t micros = 0)
{
    return LinkTraffic{true, kind, bytes, micros / 1000, DiscardReason::None, micros, 0, {}};
}

LinkTraffic taken(TrafficKind kind, const QByteArray &bytes, std::int64_t micros = 0,
                  DiscardReason reason = DiscardReason::None)
{
    return LinkTraffic{false, kind, bytes, micros / 1000, reason, micros, 0, {}};
}

} // namespace

Q_DECLARE_METATYPE(LinkTraffic)

class TestTraffic : public QObject
{
    Q_OBJECT

private slots:
    void decodes_data();
    void decodes();
    void ringKeepsTheNewest();
};

void TestTraffic::decodes_data()
{
    // The request outstanding (if any), then the event; what the view shows for it.
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<LinkTraffic>("event");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("meaning");
    QTest::addColumn<int>("motor");

    auto req = [](const Datagram &d, bool korve = false) {
        return sent(TrafficKind::Poll, frame(d, korve));
    };
    const Datagram readXActual1{motorReadAddress(0, motor::XActual), {}};
    QTest::newRow("read X_ACTUAL") << QByteArray() << req(readXActual1) << "poll"
                                   << "read X_ACTUAL motor 1" << 0;
    QTest::newRow("write V_MAX") << QByteArray()
                                 << sent(TrafficKind::Direct,
                                         frame({motorWriteAddress(1, motor::VMax), {0, 3, 0x20}}))
                                 << "direct request"
                                 << "write V_MAX motor 2 = 800" << 1;
    QTest::newRow("write negative V_TARGET")
        << QByteArray()
        << sent(TrafficKind::Direct, frame({motorWriteAddress(2, motor::VTarget), {0, 0xFF, 0xFB}}))
        << "direct request"
        << "write V_TARGET motor 3 = -5" << 2;
    QTest::newRow("write X_TARGET")
        << QByteArray()
        << sent(TrafficKind::Direct,
                frame(Datagram::make(motorWriteAddress(0, motor::XTarget), 0xFFFFFF)))
        << "direct request"
        << "write X_TARGET motor 1 = -1" << 0;
    QTest::newRow("write fields")
        << QByteArray()
        << sent(TrafficKind::Direct, frame({motorWriteAddress(0, motor::PMulPDiv), {0, 200, 5}}))
        << "direct request"
        << "write P_MUL / P_DIV motor 1: P_MUL = 200, P_DIV = 5" << 0;
    QTest::newRow("write flag set")
        << QByteArray()
        << sent(TrafficKind::Direct,
                frame({motorWriteAddress(0, motor::RefConfRampMode), {0, 0x05, 2}}))
        << "direct request"
        << "write REF_CONF / RAMP_MODE motor 1: LP = 0, REF_CONF = DISABLE_STOP_L+SOFT_STOP, "
           "RAMP_MODE = 2"
        << 0;
    QTest::newRow("common register")
        << QByteArray() << req({commonWriteAddress(common::SpiCoverTelegram), {0x12, 0xAB, 0x0C}})
        << "poll"
        << "write SPI_COVER_TELEGRAM = 12AB0C" << kNoMotor;
    QTest::newRow("RAM read") << QByteArray() << req({ramWordAddress(12, true), {}}) << "poll"
                              << "read RAM word 12" << kNoMotor;
    QTest::newRow("RAM write") << QByteArray()
                               << sent(TrafficKind::Direct,
                                       frame({ramWordAddress(63, false), {0, 0x3F, 0x01}}))
                               << "direct request"
                               << "write RAM word 63: byte 126 = 01, byte 127 = 3F" << kNoMotor;
    QTest::newRow("KORVE frame") << QByteArray() << req(readXActual1, true) << "poll"
                                 << "read X_ACTUAL motor 1" << 0;

    QTest::newRow("reply, signed, status")
        << frame(readXActual1) << taken(TrafficKind::Poll, QByteArray("\x03\xFF\xFF\xEC", 4))
        << "reply"
        << "X_ACTUAL motor 1 = -20; status: X_ACTUAL1 = X_TARGET1, REFERENCE_SWITCH_1" << 0;
    QTest::newRow("reply, 12-bit as shown")
        << frame({motorReadAddress(1, motor::VActual), {}})
        << taken(TrafficKind::Poll, QByteArray("\x00\x00\x0F\xFF", 4)) << "reply"
        << "V_ACTUAL motor 2 = -1; status: none" << 1;
    QTest::newRow("reply, fields")
        << frame({motorReadAddress(2, motor::Dividers), {}})
        << taken(TrafficKind::Direct, QByteArray("\x00\x00\x26\x05", 4)) << "reply"
        << "PULSDIV / RAMPDIV / µSTEP_RES motor 3: PULSDIV = 2, "
           "RAMPDIV = 6, µSTEP_RES = 5; status: none"
        << 2;
    QTest::newRow("reply to a write")
        << frame({motorWriteAddress(0, motor::VMin), {0, 0, 7}})
        << taken(TrafficKind::Direct, QByteArray("\x80\x00\x00\x00", 4)) << "reply"
        << "to write V_MIN motor 1 = 7; status: INTERRUPT" << 0;
    QTest::newRow("reply, RAM word")
        << frame({ramWordAddress(3, true), {}})
        << taken(TrafficKind::Direct, QByteArray("\x00\x00\xBE\xEF", 4)) << "reply"
        << "RAM word 3: byte 6 = EF, byte 7 = BE; status: none" << kNoMotor;
    QTest::newRow("identification")
        << QByteArray() << taken(TrafficKind::Identification, "KOR310v1.0") << "identification"
        << "identification \"KOR310v1.0\"" << kNoMotor;
    // What the board sends is shown, never passed on: a row or a saved line stays one line.
    QTest::newRow("identification with control bytes")
        << QByteArray() << taken(TrafficKind::Identification, QByteArray("KOR\n\t\x00\\v1.", 10))
        << "identification"
        << "identification \"KOR\\x0A\\x09\\x00\\x5Cv1.\"" << kNoMotor;
    QTest::newRow("a reply cut short")
        << QByteArray()
        << taken(TrafficKind::Discarded, QByteArray("\x01\x00", 2), 0, DiscardReason::Unfinished)
        << "stray"
        << "a reply that stopped part of the way" << kNoMotor;
    QTest::newRow("late bytes") << QByteArray()
                                << taken(TrafficKind::Discarded, QByteArray("\x00\x01", 2), 0,
                                         DiscardReason::Late)
                                << "stray"
                                << "late: after the watchdog gave the request up" << kNoMotor;
    QTest::newRow("unanswered") << QByteArray() << taken(TrafficKind::Unanswered, {})
                                << "unanswered"
                                << "no reply: the watchdog gave the request up" << kNoMotor;
    LinkTraffic purge = taken(TrafficKind::Purged, {});
    purge.purged = 3;
    QTest::newRow("purge") << QByteArray() << purge << "purged"
                           << "3 unread bytes purged" << kNoMotor;
}

void TestTraffic::decodes()
{
    QFETCH(QByteArray, request);
    QFETCH(LinkTraffic, event);
    QFETCH(QString, kind);
    QFETCH(QString, meaning);
    QFETCH(int, motor);
    TrafficLog log;
    event.request = request;
    log.append(event);
    const TrafficEvent e = log.at(log.size() - 1);
    const TrafficRow row = describeTraffic(e);
    QCOMPARE(row.kind, kind);
    QCOMPARE(row.meaning, meaning);
    QCOMPARE(row.motor, motor);
    QCOMPARE(trafficMotor(e), motor);
    QCOMPARE(row.direction, event.sent ? QStringLiteral("out") : QStringLiteral("in"));
    QCOMPARE(row.bytes, QString::fromLatin1(event.bytes.toHex(' ').toUpper()));
}

void TestTraffic::ringKeepsTheNewest()
{
    TrafficLog log(4);
    log.restartClock(1000);
    // The probe's bytes, written one by one, make one event; its 129 bytes live outside the slot.
    for (int i = 0; i < 128; ++i)
        log.append(sent(TrafficKind::Probe, QByteArray(1, '\0'), 1000 + i));
    log.append(sent(TrafficKind::Probe, "\xFF", 1200));
    QCOMPARE(log.size(), std::size_t(1));
    QCOMPARE(log.at(0).bytes.size(), 129);
    QCOMPARE(describeTraffic(log.at(0)).meaning, QStringLiteral("resynchronisation: 129 bytes"));
    QCOMPARE(describeTraffic(log.at(0)).time, QStringLiteral("0.0"));

    // Four more push the probe and then the oldest out; times count from the restart.
    for (int i = 0; i < 5; ++i)
        log.append(sent(TrafficKind::Poll, frame({motorReadAddress(0, i), {}}), 1000 + 1234 * i));
    QCOMPARE(log.size(), std::size_t(4));
    QCOMPARE(log.total(), std::uint64_t(6));
    QCOMPARE(describeTraffic(log.at(0)).meaning, QStringLiteral("read X_ACTUAL motor 1"));
    QCOMPARE(describeTraffic(log.at(3)).time, QStringLiteral("4.9"));
    log.clear();
    QCOMPARE(log.size(), std::size_t(0));
    QCOMPARE(log.total(), std::uint64_t(6));
}

QTEST_GUILESS_MAIN(TestTraffic)
#include "tst_traffic.moc"
