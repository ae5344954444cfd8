// ChipModel: register and RAM round trips with hand-written address bytes and data, the
// computed registers (A_ACTUAL, X_LATCHED, reference switches, SPI telegram words), the status
// byte and the motion of each ramp mode in board time. Framing, timing and faults of the board
// around the chip are left to tst_simulatedboard.

#include "sim/ChipModel.h"

#include <QTest>

#include <cstdint>
#include <functional>

using kvx::Datagram;
using kvx::sim::ChipModel;
using kvx::sim::Micros;

namespace {

std::uint32_t send(ChipModel &chip, std::uint8_t address, std::uint32_t data = 0)
{
    return chip.exchange(Datagram::make(address, data)).data.value();
}

std::int32_t signed24(std::uint32_t data)
{
    return data >= 0x800000 ? static_cast<std::int32_t>(data) - 0x1000000
                            : static_cast<std::int32_t>(data);
}

} // namespace

class TestChipModel : public QObject
{
    Q_OBJECT

private:
    ChipModel chip;

    // Advances in 1 ms steps until `done` or `limit`; returns the time taken, checking
    // `invariant` after every step.
    Micros runUntil(const std::function<bool()> &done, Micros limit,
                    const std::function<void()> &invariant = {})
    {
        Micros t = chip.now();
        const Micros end = t + limit;
        while (!done() && t < end) {
            t += Micros(1000);
            chip.advanceTo(t);
            if (invariant)
                invariant();
        }
        return t;
    }

    // V_MAX 100, A_MAX 100, then X_TARGET, on motor 1.
    void startMove(std::uint32_t target)
    {
        send(chip, 0x06, 100);
        send(chip, 0x0C, 100);
        send(chip, 0x00, target);
    }

private slots:
    void init() { chip = ChipModel(); }

    void registerRoundTrip_data()
    {
        QTest::addColumn<int>("writeAddress");
        QTest::addColumn<int>("data");
        QTest::addColumn<int>("readAddress");
        QTest::addColumn<int>("expected");
        QTest::newRow("X_TARGET -1") << 0x00 << 0xFFFFFF << 0x01 << 0xFFFFFF;
        QTest::newRow("X_ACTUAL min, motor 2") << 0x22 << 0x800000 << 0x23 << 0x800000;
        QTest::newRow("V_MIN masked to 12 bits") << 0x04 << 0xFFFFFF << 0x05 << 0x000FFF;
        QTest::newRow("V_TARGET -2048, motor 2") << 0x28 << 0x000800 << 0x29 << 0x000800;
        QTest::newRow("A_MAX, motor 3") << 0x4C << 0x0007FF << 0x4D << 0x0007FF;
        QTest::newRow("currents keep bit 11 clear") << 0x10 << 0xFFFFFF << 0x11 << 0xFFF7FF;
        QTest::newRow("P_MUL / P_DIV") << 0x12 << 0xFFFFFF << 0x13 << 0x00FF0F;
        QTest::newRow("REF_CONF without LP") << 0x14 << 0x010F03 << 0x15 << 0x000F03;
        QTest::newRow("interrupt mask and flags") << 0x16 << 0x008001 << 0x17 << 0x008001;
        QTest::newRow("dividers") << 0x18 << 0xFFFFFF << 0x19 << 0x00FF07;
        QTest::newRow("DX_REF_TOLERANCE") << 0x1A << 0x000FFF << 0x1B << 0x000FFF;
        QTest::newRow("A_ACTUAL is read only") << 0x0E << 0x000123 << 0x0F << 0;
        QTest::newRow("motor index 15 unused") << 0x1E << 0x123456 << 0x1F << 0;
        QTest::newRow("cover pos / len") << 0x64 << 0xFFFFFF << 0x65 << 0x003F1F;
        QTest::newRow("cover telegram") << 0x66 << 0xABCDEF << 0x67 << 0xABCDEF;
        QTest::newRow("global parameters") << 0x7E << 0xFFFFFF << 0x7F << 0x31FFFF;
        QTest::newRow("common index 5 unused") << 0x6A << 0x123456 << 0x6B << 0;
        QTest::newRow("RAM word 0") << 0x80 << 0x00013F << 0x81 << 0x00013F;
        QTest::newRow("RAM word 63") << 0xFE << 0x00ABCD << 0xFF << 0x00ABCD;
        QTest::newRow("RAM drops bits 23..16") << 0x82 << 0xFF1234 << 0x83 << 0x001234;
    }
    void registerRoundTrip()
    {
        QFETCH(int, writeAddress);
        QFETCH(int, data);
        QFETCH(int, readAddress);
        QFETCH(int, expected);
        const auto writeReply = send(chip, std::uint8_t(writeAddress), std::uint32_t(data));
        QCOMPARE(writeReply, std::uint32_t(expected)); // a write answers the new content
        QCOMPARE(send(chip, std::uint8_t(readAddress)), std::uint32_t(expected));
    }

    void ramWordsDoNotAlias()
    {
        send(chip, 0x80, 0x00013F);
        send(chip, 0x82, 0x00A5A5);
        QCOMPARE(send(chip, 0x81), 0x00013Fu);
        QCOMPARE(chip.ramByte(0), std::uint8_t(0x3F));
        QCOMPARE(chip.ramByte(1), std::uint8_t(0x01));
        QCOMPARE(chip.ramByte(2), std::uint8_t(0xA5));
    }

    void statusAtReset()
    {
        // All three motors stand on their target (0 = 0), no switch, nothing waiting.
        QCOMPARE(chip.exchange(Datagram::make(0x01, 0)).status, std::uint8_t(0x15));
    }

    void referenceSwitches_data()
    {
        QTest::addColumn<int>("motor");
        QTest::addColumn<int>("position");
        QTest::addColumn<bool>("refRnL");
        QTest::addColumn<int>("switches"); // common index 14
        QTest::addColumn<int>("statusBit");
        QTest::newRow("motor 1 left") << 0 << 0xFE7960 << false << 0x02 << 0x02;
        QTest::newRow("motor 1 left, right selected") << 0 << 0xFE7960 << true << 0x02 << 0x00;
        QTest::newRow("motor 1 right selected") << 0 << 0x0186A0 << true << 0x01 << 0x02;
        QTest::newRow("motor 2 left") << 1 << 0xFE7960 << false << 0x08 << 0x08;
        QTest::newRow("motor 3 right") << 2 << 0x0186A0 << true << 0x10 << 0x20;
        QTest::newRow("one short of the left") << 0 << 0xFE7961 << false << 0x00 << 0x00;
    }
    void referenceSwitches()
    {
        QFETCH(int, motor);
        QFETCH(int, position);
        QFETCH(bool, refRnL);
        QFETCH(int, switches);
        QFETCH(int, statusBit);
        const auto bank = std::uint8_t(motor * 0x20);
        send(chip, bank | 0x14, refRnL ? 0x000800 : 0);
        send(chip, bank | 0x02, std::uint32_t(position));
        QCOMPARE(send(chip, 0x7D), std::uint32_t(switches));
        QCOMPARE(chip.status() & 0x2A, statusBit);
    }

    void coverTelegramLatchedByGetLowHighWord()
    {
        send(chip, 0x66, 0x123456);
        QVERIFY(chip.status() & 0x40);
        send(chip, 0x66, 0xABCDEF);
        QCOMPARE(send(chip, 0x61), 0u); // nothing latched yet
        send(chip, 0x60, 0);
        QVERIFY(!(chip.status() & 0x40));
        QCOMPARE(send(chip, 0x61), 0xABCDEFu);
        QCOMPARE(send(chip, 0x63), 0x123456u);
    }

    void xLatchedHoldsPositionOfTheWrite()
    {
        send(chip, 0x02, 0x000123);
        send(chip, 0x1C, 0);
        send(chip, 0x02, 0x000005);
        QCOMPARE(send(chip, 0x1D), 0x000123u);
    }

    void rampMoveReachesTarget_data()
    {
        QTest::addColumn<int>("target");
        QTest::newRow("forward 1000") << 1000;
        QTest::newRow("backward 1000") << -1000;
        QTest::newRow("short move") << 5;
    }
    void rampMoveReachesTarget()
    {
        QFETCH(int, target);
        startMove(std::uint32_t(target) & 0xFFFFFF);
        QCOMPARE(chip.status() & 0x01, 0); // not there yet
        int peak = 0;
        bool passed = false;
        const Micros took = runUntil(
            [&] { return chip.position(0) == target && chip.velocity(0) == 0; }, Micros(1'000'000),
            [&] {
                peak = std::max(peak, std::abs(chip.velocity(0)));
                passed =
                    passed || (target > 0 ? chip.position(0) > target : chip.position(0) < target);
            });
        QVERIFY(!passed);
        QCOMPARE(chip.position(0), target);
        QVERIFY2(took < Micros(500'000), "a 1000-step move must finish well within a second");
        QVERIFY(peak <= 100);
        QCOMPARE(chip.status() & 0x01, 0x01);
        QCOMPARE(send(chip, 0x0B), 0u);
        QCOMPARE(send(chip, 0x0F), 0u); // A_ACTUAL back to 0 at rest
    }

    void rampAcceleratesAtAMax()
    {
        startMove(1000);
        chip.advanceTo(Micros(10'000));
        // 1525.9 units/s for 10 ms: about 15, whatever the rounding.
        QVERIFY(chip.velocity(0) >= 13 && chip.velocity(0) <= 17);
        QCOMPARE(send(chip, 0x0F), 100u); // A_ACTUAL while accelerating
        chip.advanceTo(Micros(120'000));
        QCOMPARE(chip.velocity(0), 100); // cruising at V_MAX
    }

    void rampStartsAtVMin()
    {
        send(chip, 0x04, 50);
        startMove(1000);
        chip.advanceTo(Micros(1000));
        QVERIFY(chip.velocity(0) >= 50);
    }

    void rampRaisesPosEndInterrupt()
    {
        send(chip, 0x16, 0x000100); // MASK_POS_END
        startMove(300);
        QVERIFY(!(chip.status() & 0x80));
        chip.advanceTo(Micros(1'000'000));
        QVERIFY(chip.status() & 0x80);
        QCOMPARE(send(chip, 0x17), 0x000101u);
        send(chip, 0x16, 0x000100); // flags written clear again
        QVERIFY(!(chip.status() & 0x80));
    }

    void rampTargetMovedBehindLandsExactly()
    {
        startMove(1000);
        chip.advanceTo(Micros(100'000));
        QVERIFY(chip.velocity(0) > 50);
        send(chip, 0x00, 0x000000);
        chip.advanceTo(Micros(2'000'000));
        QCOMPARE(chip.position(0), 0);
        QCOMPARE(chip.velocity(0), 0);
    }

    void rampWithoutVMaxStaysPut()
    {
        send(chip, 0x0C, 100);
        send(chip, 0x00, 1000);
        chip.advanceTo(Micros(1'000'000));
        QCOMPARE(chip.position(0), 0);
    }

    void rampWithoutAMaxStillArrives()
    {
        // Moving away from the target at 50 with no A_MAX to brake: it must not run away.
        send(chip, 0x04, 10);
        send(chip, 0x06, 100);
        send(chip, 0x0A, 0x000FCE); // V_ACTUAL -50
        send(chip, 0x00, 100);
        chip.advanceTo(Micros(1'000'000));
        QCOMPARE(chip.position(0), 100);
        QCOMPARE(chip.status() & 0x01, 0x01);
    }

    void softModeReachesTargetLater()
    {
        startMove(1000);
        const Micros ramp = runUntil([&] { return chip.position(0) == 1000; }, Micros(2'000'000));
        chip = ChipModel();
        send(chip, 0x14, 0x000001);
        startMove(1000);
        bool passed = false;
        const Micros soft = runUntil([&] { return chip.position(0) == 1000; }, Micros(2'000'000),
                                     [&] { passed = passed || chip.position(0) > 1000; });
        QVERIFY(!passed);
        QCOMPARE(chip.position(0), 1000);
        QVERIFY2(soft > ramp, "SOFTMODE brakes earlier and more gently");
        QCOMPARE(chip.status() & 0x01, 0x01);
    }

    void velocityModeReachesVTarget_data()
    {
        QTest::addColumn<int>("vTarget");
        QTest::addColumn<int>("expected");
        QTest::newRow("forward") << 0x000064 << 100;
        QTest::newRow("backward") << 0x000F9C << -100;
        QTest::newRow("saturates at -2047") << 0x000800 << -2047;
    }
    void velocityModeReachesVTarget()
    {
        QFETCH(int, vTarget);
        QFETCH(int, expected);
        send(chip, 0x14, 0x000002);
        send(chip, 0x0C, 2047);
        send(chip, 0x08, std::uint32_t(vTarget));
        chip.advanceTo(Micros(1000));
        QVERIFY(chip.velocity(0) != 0 && chip.velocity(0) != expected); // ramping, not jumping
        chip.advanceTo(Micros(1'000'000));
        QCOMPARE(chip.velocity(0), expected);
        QVERIFY(expected > 0 ? chip.position(0) > 0 : chip.position(0) < 0);
    }

    void holdKeepsWrittenVelocity_data()
    {
        QTest::addColumn<int>("dividers");
        QTest::addColumn<int>("position"); // after one second at V -100
        // 16 MHz * 100 / 2^(18 + PULSDIV) steps/s, truncated towards zero.
        QTest::newRow("PULSDIV 0") << 0x000000 << -6103;
        QTest::newRow("PULSDIV 2") << 0x002000 << -1525;
    }
    void holdKeepsWrittenVelocity()
    {
        QFETCH(int, dividers);
        QFETCH(int, position);
        send(chip, 0x18, std::uint32_t(dividers));
        send(chip, 0x14, 0x000003);
        send(chip, 0x0C, 100);
        send(chip, 0x0A, 0x000F9C);
        chip.advanceTo(Micros(1'000'000));
        QCOMPARE(send(chip, 0x0B), 0x000F9Cu);
        QCOMPARE(chip.position(0), position);
    }

    void positionWrapsAt24Bits()
    {
        send(chip, 0x14, 0x000003);
        send(chip, 0x02, 0x7FFFFF);
        send(chip, 0x0A, 0x000001); // 61.04 steps/s
        chip.advanceTo(Micros(1'000'000));
        QCOMPARE(send(chip, 0x03), 0x80003Cu);
    }

    void longIdleGapIntegratesExactly()
    {
        // Ten hours at V 2047: 36000 s * 124938.96484375 steps/s = 4497802734.375 steps,
        // which wraps to 0x1705EE in 24 bits.
        send(chip, 0x14, 0x000003);
        send(chip, 0x0A, 0x0007FF);
        chip.advanceTo(Micros(36'000'000'000LL));
        QCOMPARE(send(chip, 0x03), 0x1705EEu);
    }

    void motionDoesNotDependOnTimeSlicing()
    {
        startMove(1000);
        chip.advanceTo(Micros(137'000));
        const std::int32_t atOnce = chip.position(0);
        chip = ChipModel();
        startMove(1000);
        for (int t = 333; t <= 137'000; t += 333)
            chip.advanceTo(Micros(t));
        chip.advanceTo(Micros(137'000));
        QCOMPARE(chip.position(0), atOnce);
        QVERIFY(atOnce > 0 && atOnce < 1000);
        QCOMPARE(signed24(send(chip, 0x03)), atOnce);
    }
};

QTEST_APPLESS_MAIN(TestChipModel)
#include "tst_chipmodel.moc"
