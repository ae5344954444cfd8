#include "records/RamTable.h"

#include "chip/RegisterMap.h"
#include "chip/ValueFormat.h"

#include <QIODevice>

#include <algorithm>

namespace kvx {

namespace {

bool isHexDigit(QChar c)
{
    return hexDigit(c.unicode()) >= 0;
}

// One line's fields as its bytes stream by, so that a line of any length takes no memory: only
// the first 16 fields are kept, each as the value of its digits so far.
class LineFields
{
public:
    // A byte of the line (never CR, LF or 0x1A).
    void add(char c)
    {
        // The position is still inside the line after a comma: a next field begins.
        if (!m_open) {
            m_open = true;
            m_field = {};
        }
        if (c == ',') {
            close();
            return;
        }
        if (m_field.bad)
            return;
        const int digit = hexDigit(static_cast<unsigned char>(c));
        m_field.digits = true;
        m_field.value = m_field.value * 16 + quint64(std::max(digit, 0));
        // Beyond 32 bits, or no digit: no number, whatever follows.
        m_field.bad = digit < 0 || m_field.value > 0xFFFFFFFFu;
    }
    // The line has ended; the first field is always there, an empty line's included.
    QStringList finish()
    {
        if (m_open)
            close();
        QStringList texts = std::move(m_texts);
        *this = {};
        return texts;
    }

private:
    struct Field
    {
        quint64 value = 0;
        bool digits = false;
        bool bad = false;
    };

    void close()
    {
        m_open = false;
        if (m_texts.size() >= kRamColumns)
            return;
        m_texts << (m_field.digits && !m_field.bad ? hexText(m_field.value) : QStringLiteral("00"));
    }

    QStringList m_texts;
    Field m_field;
    bool m_open = true;
};

} // namespace

bool isTwoDigitHex(const QString &text)
{
    return text.size() == 2 && isHexDigit(text.at(0)) && isHexDigit(text.at(1));
}

int firstInvalidCell(const RamCells &cells)
{
    for (int b = 0; b < kRamByteCount; ++b) {
        if (!isTwoDigitHex(cells[std::size_t(b)]))
            return b;
    }
    return -1;
}

std::vector<Datagram> ramReadRequests()
{
    std::vector<Datagram> requests;
    for (int w = 0; w < kRamWordCount; ++w)
        requests.push_back(Datagram{ramWordAddress(w, true), {}});
    return requests;
}

std::vector<Datagram> ramWriteRequests(const RamCells &cells, int firstWord)
{
    std::vector<Datagram> requests;
    for (int w = std::max(firstWord, 0); w < kRamWordCount; ++w) {
        const auto even = std::uint8_t(cells[std::size_t(2 * w)].toUInt(nullptr, 16));
        const auto odd = std::uint8_t(cells[std::size_t(2 * w + 1)].toUInt(nullptr, 16));
        requests.push_back(Datagram::make(ramWordAddress(w, false), packRamWord(even, odd)));
    }
    return requests;
}

std::optional<RamBytes> readRam(RequestChannel &channel, RequestChannel::Batch *stopped,
                                const std::function<void(int done)> &progress)
{
    RequestChannel::Batch batch = channel.directRequests(ramReadRequests(), progress);
    if (batch.failedAt < 0 && batch.replies.size() < std::size_t(kRamWordCount))
        batch.failedAt = int(batch.replies.size());
    if (batch.failedAt >= 0) {
        if (stopped)
            *stopped = std::move(batch);
        return std::nullopt;
    }
    RamBytes bytes{};
    for (int w = 0; w < kRamWordCount; ++w) {
        const auto [even, odd] = unpackRamWord(batch.replies[std::size_t(w)].data.value());
        bytes[std::size_t(2 * w)] = even;
        bytes[std::size_t(2 * w + 1)] = odd;
    }
    return bytes;
}

RamCells ramCells(const RamBytes &bytes)
{
    RamCells cells;
    for (int b = 0; b < kRamByteCount; ++b)
        cells[std::size_t(b)] = hexText(bytes[std::size_t(b)]);
    return cells;
}

QByteArray ramFileText(const RamCells &cells)
{
    QByteArray text;
    for (int r = 0; r < kRamRows; ++r) {
        for (int c = 0; c < kRamColumns; ++c) {
            text += cells[std::size_t(r * kRamColumns + c)].toLatin1();
            text += c + 1 < kRamColumns ? "," : "\r\n";
        }
    }
    return text;
}

RamLoad loadRamFile(QIODevice &file, RamCells &cells)
{
    std::array<QStringList, kRamRows> rows;
    int count = 0;
    LineFields line;
    bool lineOpen = false;
    bool ended = false;
    RamLoad result = RamLoad::Done;
    qsizetype scanned = 0;
    char buffer[4096];
    while (!ended && count < kRamRows) {
        if (scanned >= kMaxScan) {
            result = RamLoad::Cut;
            break;
        }
        const qint64 n = file.read(buffer, sizeof buffer);
        if (n < 0) {
            result = RamLoad::ReadError;
            break;
        }
        if (n == 0)
            break;
        scanned += qsizetype(n);
        for (qint64 i = 0; i < n && count < kRamRows; ++i) {
            const char c = buffer[i];
            if (c == '\x1A') { // the end of the file
                ended = true;
                break;
            }
            if (c == '\r')
                continue; // never part of a line
            if (c == '\n') {
                rows[std::size_t(count++)] = line.finish();
                lineOpen = false;
            } else {
                line.add(c);
                lineOpen = true;
            }
        }
    }
    // A last line without its line end; after an error or a cut, the one read so far.
    if (lineOpen && count < kRamRows)
        rows[std::size_t(count++)] = line.finish();
    // A missing line reads as empty; after an error or a cut, the rows not reached are kept.
    if (result == RamLoad::Done) {
        for (; count < kRamRows; ++count)
            rows[std::size_t(count)] = LineFields().finish();
    }
    for (int r = 0; r < count; ++r) {
        const QStringList &fields = rows[std::size_t(r)];
        for (int j = 0; j < fields.size(); ++j)
            cells[std::size_t(r * kRamColumns + j)] = fields[j];
    }
    return result;
}

} // namespace kvx
