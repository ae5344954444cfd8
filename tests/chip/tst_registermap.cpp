// Register map: address bytes, packing and unpacking of every register's fields against
// hand-written data bytes, RAM words and status bits. Display texts are tst_valueformat's.

#include "chip/RegisterMap.h"
#include "chip/StatusBits.h"

#include <QTest>

using namespace kvx;

namespace {
std::uint32_t bytes(int high, int mid, int low)
{
    return (std::uint32_t(high) << 16) | (std::uint32_t(mid) << 8) | std::uint32_t(low);
}
} // namespace

class TestRegisterMap : public QObject
{
    Q_OBJECT

private slots:
    void addressBytes_data();
    void addressBytes();
    void motorAddressesFollowTheBankRule();
    void neverWrittenRegistersHaveNoWriteAddress();
    void packGolden_data();
    void packGolden();
    void unpackGolden_data();
    void unpackGolden();
    void packReducesValuesToFieldWidth();
    void readOnlyFieldsAreSentAsZero();
    void zeroOnlyWritesCarryNothing();
    void roundTripOverEditingRanges();
    void fieldsNeverOverlap();
    void hexTextPairs_data();
    void hexTextPairs();
    void ramWords();
    void statusBits();
};

void TestRegisterMap::addressBytes_data()
{
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("expected");
    QTest::newRow("motor 3 index 12 read") << int(motorReadAddress(2, motor::Dividers)) << 0x59;
    QTest::newRow("common 15 write") << int(commonWriteAddress(common::GlobalParameters)) << 0x7E;
    QTest::newRow("RAM word 63 read") << int(ramWordAddress(63, true)) << 0xFF;
    QTest::newRow("RAM word 0 write") << int(ramWordAddress(0, false)) << 0x80;
    QTest::newRow("motor 1 V_ACTUAL read") << int(motorReadAddress(0, motor::VActual)) << 0x0B;
    QTest::newRow("motor 2 X_TARGET write") << int(motorWriteAddress(1, motor::XTarget)) << 0x20;
    QTest::newRow("common 14 read") << int(commonReadAddress(common::RefSwitches)) << 0x7D;
    QTest::newRow("Get Low/High Word") << int(commonWriteAddress(common::SpiTelegramLow)) << 0x60;
}

void TestRegisterMap::addressBytes()
{
    QFETCH(int, address);
    QFETCH(int, expected);
    QCOMPARE(address, expected);
}

void TestRegisterMap::motorAddressesFollowTheBankRule()
{
    // The poll table and the commands take every motor address from the map; a wrong entry
    // here would send a command to another motor's register.
    const int readBytes[] = {0x01, 0x03, 0x05, 0x07, 0x09, 0x0B, 0x0D, 0x0F,
                             0x11, 0x13, 0x15, 0x17, 0x19, 0x1B, 0x1D};
    for (int m = 0; m < kMotorCount; ++m) {
        for (const RegisterDef &reg : motorRegisters()) {
            QCOMPARE(int(readAddress(reg, m)), readBytes[reg.index] + 0x20 * m);
            if (const auto w = writeAddress(reg, m))
                QCOMPARE(int(*w), readBytes[reg.index] - 1 + 0x20 * m);
        }
    }
    QCOMPARE(int(readAddress(*commonRegister(common::SpiCoverTelegram))), 0x67);
    QCOMPARE(int(*writeAddress(*commonRegister(common::SpiCoverPosLen))), 0x64);
}

void TestRegisterMap::neverWrittenRegistersHaveNoWriteAddress()
{
    QVERIFY(!writeAddress(motorRegister(motor::AActual), 0));
    QVERIFY(!writeAddress(*commonRegister(common::SpiTelegramHigh)));
    QVERIFY(!writeAddress(*commonRegister(common::RefSwitches)));
    QVERIFY(writeAddress(motorRegister(motor::XLatched), 1));
    QCOMPARE(commonRegister(4), nullptr);
    QCOMPARE(commonRegister(13), nullptr);
}

void TestRegisterMap::packGolden_data()
{
    QTest::addColumn<bool>("isCommon");
    QTest::addColumn<int>("index");
    QTest::addColumn<QList<qint64>>("values");
    QTest::addColumn<uint>("data");
    using L = QList<qint64>;
    auto m = [](const char *name, int index, L values, uint data) {
        QTest::newRow(name) << false << index << values << data;
    };
    auto c = [](const char *name, int index, L values, uint data) {
        QTest::newRow(name) << true << index << values << data;
    };
    m("X_TARGET -1", motor::XTarget, {-1}, bytes(0xFF, 0xFF, 0xFF));
    m("X_TARGET min", motor::XTarget, {-8388608}, bytes(0x80, 0x00, 0x00));
    m("X_TARGET max", motor::XTarget, {8388607}, bytes(0x7F, 0xFF, 0xFF));
    m("V_TARGET -2048", motor::VTarget, {-2048}, bytes(0x00, 0x08, 0x00));
    m("V_TARGET -1", motor::VTarget, {-1}, bytes(0x00, 0x0F, 0xFF));
    m("V_MAX 2047", motor::VMax, {2047}, bytes(0x00, 0x07, 0xFF));
    m("A_THRESHOLD 2047, I_S_V0 5", motor::Currents, {0, 0, 5, 2047}, bytes(0x00, 0x57, 0xFF));
    m("currents nibbles", motor::Currents, {7, 3, 1, 0}, bytes(0x73, 0x10, 0x00));
    m("P_MUL 190 P_DIV 9", motor::PMulPDiv, {190, 9}, bytes(0x00, 0xBE, 0x09));
    m("REF_CONF SOFT_STOP, HOLD", motor::RefConfRampMode, {0, 0b0100, 3}, bytes(0x00, 0x04, 0x03));
    m("mask STOP_RIGHT_HIGH, flag POS_END", motor::Interrupts, {0x80, 0x01},
      bytes(0x00, 0x80, 0x01));
    m("dividers 3, 7, 5", motor::Dividers, {3, 7, 5}, bytes(0x00, 0x37, 0x05));
    m("tolerance 4095", motor::DxRefTolerance, {4095}, bytes(0x00, 0x0F, 0xFF));
    c("cover pos 63 len 31", common::SpiCoverPosLen, {63, 31}, bytes(0x00, 0x3F, 0x1F));
    c("global all flags", common::GlobalParameters, {3, 1, 1, 1, 1, 1, 1, 0xA5, 1, 1, 1},
      bytes(0x31, 0xA5, 0xFF));
    c("global M1R_REF only", common::GlobalParameters, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1},
      bytes(0x20, 0x00, 0x00));
    c("global LSMD 2 SPI_CLK", common::GlobalParameters, {2, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0},
      bytes(0x00, 0x00, 0x0A));
}

void TestRegisterMap::packGolden()
{
    QFETCH(bool, isCommon);
    QFETCH(int, index);
    QFETCH(QList<qint64>, values);
    QFETCH(uint, data);
    const RegisterDef &reg = isCommon ? *commonRegister(index) : motorRegister(index);
    const std::vector<std::int64_t> v(values.begin(), values.end());
    QCOMPARE(pack(reg, v), std::uint32_t(data));
}

void TestRegisterMap::unpackGolden_data()
{
    QTest::addColumn<bool>("isCommon");
    QTest::addColumn<int>("index");
    QTest::addColumn<uint>("data");
    QTest::addColumn<QList<qint64>>("values");
    using L = QList<qint64>;
    auto m = [](const char *name, int index, uint data, L values) {
        QTest::newRow(name) << false << index << data << values;
    };
    m("X_ACTUAL 80 00 00", motor::XActual, bytes(0x80, 0, 0), {-8388608});
    m("V_ACTUAL 00 08 00", motor::VActual, bytes(0, 0x08, 0), {-2048});
    m("V_ACTUAL 00 07 FF", motor::VActual, bytes(0, 0x07, 0xFF), {2047});
    m("57 FF gives threshold and V0", motor::Currents, bytes(0, 0x57, 0xFF), {0, 0, 5, 2047});
    // Read-back nibbles are full 4 bits, even though the editors admit only 0..7.
    m("nibbles read whole", motor::Currents, bytes(0xFE, 0xD8, 0x00), {15, 14, 13, 0});
    m("LP, REF_CONF, mode", motor::RefConfRampMode, bytes(0x01, 0x0B, 0x02), {1, 0b1011, 2});
    m("ignores undefined bits", motor::Dividers, bytes(0xFF, 0xFF, 0xFF), {15, 15, 7});
    QTest::newRow("switches L1 R3")
        << true << int(common::RefSwitches) << bytes(0, 0, 0x12) << L{0, 1, 0, 0, 1, 0};
}

void TestRegisterMap::unpackGolden()
{
    QFETCH(bool, isCommon);
    QFETCH(int, index);
    QFETCH(uint, data);
    QFETCH(QList<qint64>, values);
    const RegisterDef &reg = isCommon ? *commonRegister(index) : motorRegister(index);
    const std::vector<std::int64_t> got = unpack(reg, data);
    QCOMPARE(QList<qint64>(got.begin(), got.end()), values);
}

void TestRegisterMap::packReducesValuesToFieldWidth()
{
    const RegisterDef &pm = motorRegister(motor::PMulPDiv);
    QCOMPARE(pack(pm, std::vector<std::int64_t>{0x1BE, 0x19}), bytes(0, 0xBE, 0x09));
    const RegisterDef &v = motorRegister(motor::VMin);
    QCOMPARE(pack(v, std::vector<std::int64_t>{4096 + 5}), bytes(0, 0, 5));
}

void TestRegisterMap::readOnlyFieldsAreSentAsZero()
{
    // The register editor sends 0 in LP whatever the indicator showed.
    const RegisterDef &rc = motorRegister(motor::RefConfRampMode);
    QCOMPARE(pack(rc, std::vector<std::int64_t>{1, 0xF, 1}), bytes(0, 0x0F, 0x01));
}

void TestRegisterMap::zeroOnlyWritesCarryNothing()
{
    QCOMPARE(pack(motorRegister(motor::XLatched), std::vector<std::int64_t>{1234}), 0u);
    QCOMPARE(pack(*commonRegister(common::SpiTelegramLow), std::vector<std::int64_t>{0xABCDEF}),
             0u);
}

void TestRegisterMap::roundTripOverEditingRanges()
{
    auto check = [](const RegisterDef &reg) {
        for (std::size_t f = 0; f < reg.fields.size(); ++f) {
            const FieldDef &fd = reg.fields[f];
            if (fd.readOnly)
                continue;
            const int step = std::max(1, (fd.maximum - fd.minimum) / 257);
            for (std::int64_t v = fd.minimum; v <= fd.maximum; v += step) {
                std::vector<std::int64_t> values(reg.fields.size(), 0);
                values[f] = v;
                const std::uint32_t data = pack(reg, values);
                QVERIFY2(
                    unpack(reg, data)[f] == v,
                    qPrintable(QString::fromUtf8(reg.name.data(), qsizetype(reg.name.size()))));
                QCOMPARE(data & ~fd.mask(), 0u);
            }
        }
    };
    for (const RegisterDef &reg : motorRegisters()) {
        if (reg.access == Access::ReadWrite)
            check(reg);
    }
    for (const RegisterDef &reg : commonRegisters()) {
        if (reg.access == Access::ReadWrite)
            check(reg);
    }
}

void TestRegisterMap::fieldsNeverOverlap()
{
    auto check = [](const RegisterDef &reg) {
        std::uint32_t seen = 0;
        for (const FieldDef &f : reg.fields) {
            QCOMPARE(seen & f.mask(), 0u);
            seen |= f.mask();
        }
    };
    for (const RegisterDef &reg : motorRegisters())
        check(reg);
    for (const RegisterDef &reg : commonRegisters())
        check(reg);
}

void TestRegisterMap::hexTextPairs_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<uint>("data");
    QTest::newRow("all digits") << "12AbcD" << bytes(0x12, 0xAB, 0xCD);
    QTest::newRow("middle pair blank") << "12  CD" << bytes(0x12, 0x00, 0xCD);
    QTest::newRow("middle pair not hex") << "12G4CD" << bytes(0x12, 0x00, 0xCD);
    QTest::newRow("empty") << "" << 0u;
    QTest::newRow("short") << "FFF" << bytes(0xFF, 0x0F, 0x00);
}

void TestRegisterMap::hexTextPairs()
{
    QFETCH(QString, text);
    QFETCH(uint, data);
    QCOMPARE(packHexText(text.toStdString()), std::uint32_t(data));
}

void TestRegisterMap::ramWords()
{
    QCOMPARE(packRamWord(0x3F, 0x01), bytes(0x00, 0x01, 0x3F));
    const auto [even, odd] = unpackRamWord(bytes(0xEE, 0x12, 0x34));
    QCOMPARE(int(even), 0x34);
    QCOMPARE(int(odd), 0x12);
}

void TestRegisterMap::statusBits()
{
    const auto bits = decodeStatus(0x41);
    QVERIFY(bits[status::XReached1]);
    QVERIFY(bits[status::CoverWaiting]);
    QCOMPARE(std::count(bits.begin(), bits.end(), true), 2);
    QCOMPARE(targetReachedBit(2), status::XReached3);
    QCOMPARE(referenceSwitchBit(1), status::Reference2);
    QCOMPARE(QString::fromLatin1(kStatusBitNames[status::Interrupt].data()),
             QStringLiteral("INTERRUPT"));
}

QTEST_APPLESS_MAIN(TestRegisterMap)
#include "tst_registermap.moc"
