#include "editor/RamTable.h"

#include "chip/RegisterMap.h"

#include <QIODevice>

#include <algorithm>

namespace kvx {

namespace {

int hexValue(QChar c)
{
    if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
        return c.unicode() - '0';
    if (c >= QLatin1Char('A') && c <= QLatin1Char('F'))
        return c.unicode() - 'A' + 10;
    if (c >= QLatin1Char('a') && c <= QLatin1Char('f'))
        return c.unicode() - 'a' + 10;
    return -1;
}

bool isHexDigit(QChar c)
{
    return hexValue(c) >= 0;
}

// A field as the file gives it: its value's text, or "00" for anything that is no number.
QString fieldText(const QByteArray &field)
{
    if (field.isEmpty())
        return QStringLiteral("00");
    quint64 value = 0;
    for (char c : field) {
        const int digit = hexValue(QLatin1Char(c));
        if (digit < 0)
            return QStringLiteral("00");
        value = value * 16 + quint64(digit);
        if (value > 0xFFFFFFFFu)
            return QStringLiteral("00");
    }
    return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
}

// Reads the file up to 8 lines, each cut at kMaxLineLength; false on a read error.
bool readLines(QIODevice &file, std::array<QByteArray, kRamRows> &lines, int *count)
{
    *count = 0;
    QByteArray line;
    bool lineOpen = false;
    qsizetype scanned = 0;
    char buffer[4096];
    while (*count < kRamRows && scanned < kMaxScan) {
        const qint64 n = file.read(buffer, sizeof buffer);
        if (n < 0)
            return false;
        if (n == 0)
            break;
        for (qint64 i = 0; i < n && *count < kRamRows; ++i) {
            const char c = buffer[i];
            if (c == '\x1A') { // the end of the file
                scanned = kMaxScan;
                break;
            }
            lineOpen = true;
            if (c == '\n') {
                lines[std::size_t((*count)++)] = line;
                line.clear();
                lineOpen = false;
            } else if (c != '\r' && line.size() < kMaxLineLength) {
                line.append(c);
            }
        }
        scanned += qsizetype(n);
    }
    if (lineOpen && *count < kRamRows)
        lines[std::size_t((*count)++)] = line;
    return true;
}

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

void takeRamWord(RamCells &cells, int word, const DataBytes &data)
{
    const auto [even, odd] = unpackRamWord(data.value());
    cells[std::size_t(2 * word)] =
        QStringLiteral("%1").arg(even, 2, 16, QLatin1Char('0')).toUpper();
    cells[std::size_t(2 * word + 1)] =
        QStringLiteral("%1").arg(odd, 2, 16, QLatin1Char('0')).toUpper();
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

bool loadRamFile(QIODevice &file, RamCells &cells)
{
    std::array<QByteArray, kRamRows> lines;
    int count = 0;
    const bool ok = readLines(file, lines, &count);
    // Rows read before an error keep their new content.
    for (int r = 0; r < (ok ? kRamRows : count); ++r) {
        const QByteArray &line = lines[std::size_t(r)];
        qsizetype pos = 0;
        int j = 0;
        do {
            const qsizetype comma = line.indexOf(',', pos);
            const qsizetype end = comma < 0 ? line.size() : comma;
            cells[std::size_t(r * kRamColumns + j)] = fieldText(line.mid(pos, end - pos));
            pos = comma < 0 ? line.size() : comma + 1;
            ++j;
        } while (pos < line.size() && j < kRamColumns);
    }
    return ok;
}

} // namespace kvx
