// Fuzzes the reader of the RAM page's configuration files (loadRamFile, the whole of what "Load
// from File..." parses; the page itself only opens the file and shows the outcome). The file
// comes from a device that hands it over in chunks of a chosen size, may repeat it, and may
// fail part of the way, as a disk or network share can. The rules on well-formed files and the
// cut after a megabyte are tst_ramtable's: under the fuzzer's instrumentation a run past the
// scan limit takes a second.
//
// Input: byte 0 chooses the chunk size (bits 2..0: as asked, or at most 1 to 64 bytes), a read
// error (bit 3), the repetitions (bits 5..4: 1 to 4 times) and what the cells held before (bits
// 7..6); byte 1 says where the error comes, in 256ths of the stream; the rest is the file.
// Checked: a cell is left as it was or holds 2 to 8 upper-case hexadecimal digits; an error is
// reported only when there was one, a cut never; chunks of any size read as the whole file
// does; and a table the program saves loads back unchanged.

#include "chip/ValueFormat.h"
#include "FuzzInput.h"
#include "records/RamTable.h"

#include <QBuffer>

using namespace kvx;
using kvxfuzz::FuzzInput;
using kvxfuzz::require;

namespace {

// A file handed over `chunk` bytes at a time at most (0: as much as asked), `repeat` times in
// a row, that fails once `failAt` bytes have been read (-1: never).
class ScriptedFile : public QIODevice
{
public:
    ScriptedFile(const QByteArray &content, qint64 repeat, qint64 chunk, qint64 failAt)
        : m_content(content)
        , m_size(content.size() * repeat)
        , m_chunk(chunk)
        , m_failAt(failAt)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        if (m_failAt >= 0 && m_pos >= m_failAt) {
            setErrorString(QStringLiteral("Input/output error"));
            return -1;
        }
        qint64 n = std::min(maxSize, m_size - m_pos);
        if (m_chunk > 0)
            n = std::min(n, m_chunk);
        if (m_failAt >= 0)
            n = std::min(n, m_failAt - m_pos);
        for (qint64 i = 0; i < n; ++i)
            data[i] = m_content[qsizetype((m_pos + i) % m_content.size())];
        m_pos += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_content;
    qint64 m_size;
    qint64 m_chunk;
    qint64 m_failAt;
    qint64 m_pos = 0;
};

RamCells cellsBefore(int kind)
{
    RamCells cells;
    for (int b = 0; b < kRamByteCount; ++b) {
        const QString texts[] = {QString(), QStringLiteral("7F"), QStringLiteral("zz"),
                                 hexText(std::uint64_t(b))};
        cells[std::size_t(b)] = texts[kind];
    }
    return cells;
}

[[nodiscard]] bool isFieldText(const QString &text)
{
    if (text.size() < 2 || text.size() > 8)
        return false;
    return std::all_of(text.begin(), text.end(), [](QChar c) {
        return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
               (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
    });
}

RamLoad loadWhole(const QByteArray &content, RamCells &cells)
{
    QBuffer buffer;
    buffer.setData(content);
    buffer.open(QIODevice::ReadOnly);
    return loadRamFile(buffer, cells);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput in(data, size);
    const std::uint8_t head = in.byte();
    const std::uint8_t failPoint = in.byte();
    const QByteArray content = in.rest();
    if (content.isEmpty())
        return 0;

    const int chunkBits = head & 7;
    const bool fails = (head & 0x08) != 0;
    const qint64 repeat = ((head >> 4) & 3) + 1;
    const RamCells before = cellsBefore(head >> 6);
    const qint64 streamSize = content.size() * repeat;
    const qint64 chunk = chunkBits == 0 ? 0 : qint64(1) << (chunkBits - 1);
    const qint64 failAt = fails ? streamSize * failPoint / 256 : -1;

    RamCells cells = before;
    ScriptedFile file(content, repeat, chunk, failAt);
    const RamLoad result = loadRamFile(file, cells);

    for (int b = 0; b < kRamByteCount; ++b) {
        const QString &cell = cells[std::size_t(b)];
        require(cell == before[std::size_t(b)] || isFieldText(cell),
                "a cell keeps its text or takes a field's hexadecimal text");
    }
    require(result != RamLoad::ReadError || fails, "a read error only when the file failed");
    require(result != RamLoad::Cut, "a cut only past the scan limit");

    if (!fails) {
        RamCells whole = before;
        const RamLoad wholeResult = loadWhole(content.repeated(qsizetype(repeat)), whole);
        require(wholeResult == result && whole == cells, "chunks read as the whole file does");
    }

    if (firstInvalidCell(cells) < 0) {
        RamCells again = cellsBefore(2);
        require(loadWhole(ramFileText(cells), again) == RamLoad::Done && again == cells,
                "a saved table loads back unchanged");
    }
    return 0;
}
