// The RAM page's table without a window: the two-digit check, the 64 read and write datagrams,
// the RAM read whole over a scripted channel, and the configuration file written and read by
// its rules, including files that are not what the program writes. The page on a live board is
// tests/app's tst_rampage.

#include "records/RamTable.h"

#include <QBuffer>
#include <QTest>

using namespace kvx;

namespace {

// A table whose cells all hold `text`.
RamCells filled(const QString &text)
{
    RamCells cells;
    cells.fill(text);
    return cells;
}

// Row `row`'s 16 cells joined by commas.
QString row(const RamCells &cells, int row)
{
    QStringList texts;
    for (int c = 0; c < kRamColumns; ++c)
        texts << cells[std::size_t(row * kRamColumns + c)];
    return texts.join(QLatin1Char(','));
}

// Answers each RAM read with its word's number as data, word 5 with 77 AB 0C, and no word from
// `silentFrom` on.
class RamChannel : public RequestChannel
{
public:
    int silentFrom = kRamWordCount;

    std::optional<Reply> DirectRequest(const Datagram &) override { return std::nullopt; }
    Batch directRequests(std::span<const Datagram> datagrams,
                         const std::function<void(int done)> &progress, bool) override
    {
        Batch batch;
        for (const Datagram &d : datagrams) {
            const int word = (d.address & 0x7F) >> 1;
            batch.sent = int(batch.replies.size()) + 1;
            if (word >= silentFrom) {
                batch.failedAt = int(batch.replies.size());
                return batch;
            }
            batch.replies.push_back(
                Reply{0, DataBytes::fromValue(word == 5 ? 0x77AB0Cu : std::uint32_t(word))});
            if (progress)
                progress(int(batch.replies.size()));
        }
        return batch;
    }
};

RamLoad loadText(const QByteArray &content, RamCells &cells, qint64 *consumed = nullptr)
{
    QBuffer buffer;
    buffer.setData(content);
    buffer.open(QIODevice::ReadOnly);
    const RamLoad result = loadRamFile(buffer, cells);
    if (consumed)
        *consumed = buffer.pos();
    return result;
}

} // namespace

class TestRamTable : public QObject
{
    Q_OBJECT

private slots:
    void twoDigitCheck_data();
    void twoDigitCheck();
    void requests();
    void readRamUnpacksEachWord();
    void fileRoundTrip();
    void load_data();
    void load();
    void loadReadsOnlyWhatEightLinesNeed();
};

void TestRamTable::twoDigitCheck_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("upper") << "AF" << true;
    QTest::newRow("lower") << "0b" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("one digit") << "A" << false;
    QTest::newRow("three digits from a file") << "1FF" << false;
    QTest::newRow("g") << "0g" << false;
    QTest::newRow("blank") << " 1" << false;
}

void TestRamTable::twoDigitCheck()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QCOMPARE(isTwoDigitHex(text), valid);
    RamCells cells = filled(QStringLiteral("00"));
    QCOMPARE(firstInvalidCell(cells), -1);
    cells[77] = text;
    QCOMPARE(firstInvalidCell(cells), valid ? -1 : 77);
}

void TestRamTable::requests()
{
    RamCells cells;
    for (int b = 0; b < kRamByteCount; ++b)
        cells[std::size_t(b)] = QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0'));
    const std::vector<Datagram> reads = ramReadRequests();
    const std::vector<Datagram> writes = ramWriteRequests(cells);
    QCOMPARE(reads.size(), std::size_t(kRamWordCount));
    QCOMPARE(writes.size(), std::size_t(kRamWordCount));
    for (int w = 0; w < kRamWordCount; ++w) {
        QCOMPARE(reads[std::size_t(w)], (Datagram{std::uint8_t(0x81 + 2 * w), {0, 0, 0}}));
        // Byte 2w + 1 in bits 15..8, byte 2w in bits 7..0, bits 23..16 always 0.
        QCOMPARE(writes[std::size_t(w)],
                 (Datagram{std::uint8_t(0x80 + 2 * w),
                           {0, std::uint8_t(2 * w + 1), std::uint8_t(2 * w)}}));
    }
}

void TestRamTable::readRamUnpacksEachWord()
{
    RamChannel channel;
    int words = 0;
    const std::optional<RamBytes> ram =
        readRam(channel, nullptr, [&words](int done) { words = done; });
    QVERIFY(ram);
    QCOMPARE(words, kRamWordCount);
    const RamCells back = ramCells(*ram);
    QCOMPARE(back[10], QStringLiteral("0C"));
    QCOMPARE(back[11], QStringLiteral("AB"));
    QCOMPARE(back[126], QStringLiteral("3F")); // word 63's data in bits 7..0
    QCOMPARE(back[127], QStringLiteral("00"));

    // A word without its answer gives no bytes, and says where the row stopped.
    channel.silentFrom = 9;
    RequestChannel::Batch stopped;
    QVERIFY(!readRam(channel, &stopped));
    QCOMPARE(stopped.failedAt, 9);
    QCOMPARE(stopped.replies.size(), std::size_t(9));
}

void TestRamTable::fileRoundTrip()
{
    RamCells cells;
    for (int b = 0; b < kRamByteCount; ++b)
        cells[std::size_t(b)] = QStringLiteral("%1").arg((b * 37) & 0xFF, 2, 16, QLatin1Char('0'));
    for (int b = 0; b < 16; ++b)
        cells[std::size_t(b)] = QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
    cells[20] = QStringLiteral("ab"); // typed by the user
    const QByteArray text = ramFileText(cells);
    QCOMPARE(text.size(), 392);
    QVERIFY(text.startsWith("00,01,02,03,04,05,06,07,08,09,0A,0B,0C,0D,0E,0F\r\n"));
    QCOMPARE(text.count("\r\n"), 8);
    QVERIFY(text.contains(",ab,")); // written as it stands

    RamCells loaded = filled(QStringLiteral("zz"));
    QCOMPARE(loadText(text, loaded), RamLoad::Done);
    for (int b = 0; b < kRamByteCount; ++b)
        QCOMPARE(loaded[std::size_t(b)], cells[std::size_t(b)].toUpper());
}

void TestRamTable::load_data()
{
    QTest::addColumn<QByteArray>("content");
    // Rows 0..3 afterwards; every cell was "77" before.
    QTest::addColumn<QStringList>("rows");
    const QString keep = QStringLiteral("77,77,77,77,77,77,77,77,77,77,77,77");
    const QString empty = QStringLiteral("00,77,77,77,") + keep;
    QTest::newRow("1, a, empty, FF")
        << QByteArray("1,a,,FF\r\n")
        << QStringList{QStringLiteral("01,0A,00,FF,") + keep, empty, empty, empty};
    QTest::newRow("1FF stays three digits; FFFFFFFF at most")
        << QByteArray("1FF,FFFFFFFF,100000000,-1\n")
        << QStringList{QStringLiteral("1FF,FFFFFFFF,00,00,") + keep, empty, empty, empty};
    // Leading zeros count for nothing, however many: the value decides.
    QTest::newRow("long fields") << QByteArray("0000000000000000000000001,") +
                                        QByteArray(200, 'X') + ",0000000000FFFFFFFF,2\n"
                                 << QStringList{QStringLiteral("01,00,FFFFFFFF,02,") + keep, empty,
                                                empty, empty};
    // The empty field after a last comma is not read.
    QTest::newRow("blanks") << QByteArray(" 1,2 , ,\n")
                            << QStringList{QStringLiteral("00,00,00,77,") + keep, empty, empty,
                                           empty};
    QTest::newRow("3 lines, LF alone")
        << QByteArray("1\n2\n3\n")
        << QStringList{QStringLiteral("01,77,77,77,") + keep, QStringLiteral("02,77,77,77,") + keep,
                       QStringLiteral("03,77,77,77,") + keep, empty};
    QTest::newRow("no line end at the end")
        << QByteArray("1\r\n2")
        << QStringList{QStringLiteral("01,77,77,77,") + keep, QStringLiteral("02,77,77,77,") + keep,
                       empty, empty};
    QTest::newRow("20 fields")
        << QByteArray("1,2,3,4,5,6,7,8,9,A,B,C,D,E,F,10,11,12,13,14\r\n")
        << QStringList{QStringLiteral("01,02,03,04,05,06,07,08,09,0A,0B,0C,0D,0E,0F,10"), empty,
                       empty, empty};
    QTest::newRow("a comma last") << QByteArray("1,\r\n")
                                  << QStringList{QStringLiteral("01,77,77,77,") + keep, empty,
                                                 empty, empty};
    QTest::newRow("0x1A ends the file")
        << QByteArray("1\r\n2\x1A\r\n3\r\n")
        << QStringList{QStringLiteral("01,77,77,77,") + keep, QStringLiteral("02,77,77,77,") + keep,
                       empty, empty};
    QTest::newRow("CR inside a line is dropped")
        << QByteArray("1\r2,3\n")
        << QStringList{QStringLiteral("12,03,77,77,") + keep, empty, empty, empty};
    QTest::newRow("binary") << QByteArray("\x00\xff\x80,12\n", 7)
                            << QStringList{QStringLiteral("00,12,77,77,") + keep, empty, empty,
                                           empty};
    QTest::newRow("empty file") << QByteArray() << QStringList{empty, empty, empty, empty};
}

void TestRamTable::load()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, rows);
    RamCells cells = filled(QStringLiteral("77"));
    QCOMPARE(loadText(content, cells), RamLoad::Done);
    for (int r = 0; r < rows.size(); ++r)
        QCOMPARE(row(cells, r), rows[r]);
    for (int r = rows.size(); r < kRamRows; ++r) // rows 5..8 as an empty line: cell 1 "00"
        QCOMPARE(cells[std::size_t(r * kRamColumns)], QStringLiteral("00"));
}

void TestRamTable::loadReadsOnlyWhatEightLinesNeed()
{
    // A first line far longer than 16 fields: the fields after the 16th are passed over, a
    // 16th field of many leading zeros still counts, and the next line is found.
    QByteArray longLine;
    for (int i = 0; i < 15; ++i)
        longLine += "12345678,";
    longLine += QByteArray(97, '0') + "12";
    for (int i = 0; i < 100000; ++i)
        longLine += ",12345678";
    RamCells cells = filled(QStringLiteral("77"));
    QCOMPARE(loadText(longLine + "\nAB\n", cells), RamLoad::Done);
    QCOMPARE(row(cells, 0), QStringLiteral("12345678,12345678,12345678,12345678,12345678,12345678,"
                                           "12345678,12345678,12345678,12345678,12345678,12345678,"
                                           "12345678,12345678,12345678,12"));
    QCOMPARE(cells[16], QStringLiteral("AB"));

    // An enormous file without line ends is read only so far, and says so; the rows it did
    // not reach keep their text.
    const QByteArray enormous(8 * kMaxScan, '7');
    qint64 consumed = 0;
    cells = filled(QStringLiteral("77"));
    QCOMPARE(loadText(enormous, cells, &consumed), RamLoad::Cut);
    QVERIFY2(consumed <= kMaxScan + 4096, qPrintable(QString::number(consumed)));
    QCOMPARE(cells[0], QStringLiteral("00")); // far more than 8 digits
    QCOMPARE(cells[16], QStringLiteral("77"));
}

QTEST_APPLESS_MAIN(TestRamTable)
#include "tst_ramtable.moc"
