#include "chip/ValueFormat.h"

#include <algorithm>

namespace kvx {

namespace {

void appendEscaped(QString &out, QStringView text, bool quoting)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        qsizetype width = 1;
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            width = 2;
        }
        if (quoting && (c == U'"' || c == U'\\')) {
            out += QLatin1Char('\\');
            out += QChar(c);
        } else if (c == U'\n') {
            out += QLatin1String("\\n");
        } else if (c == U'\t') {
            out += QLatin1String("\\t");
        } else if (c == U'\r') {
            out += QLatin1String("\\r");
        } else if (c == 0) {
            out += QLatin1String("\\0");
        } else if (!QChar::isPrint(c) || QChar::isSurrogate(c)) {
            // Control and format characters (ESC, CSI, a direction override) and a lone half
            // of a surrogate pair.
            out += c < 0x100     ? QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0'))
                   : c < 0x10000 ? QStringLiteral("\\u%1").arg(uint(c), 4, 16, QLatin1Char('0'))
                                 : QStringLiteral("\\U%1").arg(uint(c), 8, 16, QLatin1Char('0'));
        } else {
            out += text.mid(i, width);
        }
        i += width - 1;
    }
}

} // namespace

std::int64_t readValue(std::uint32_t data, ValueClass cls)
{
    const std::int64_t d = data & kDataMask;
    switch (cls) {
    case ValueClass::Signed23:
        return SignExtend(d, 23);
    case ValueClass::Signed11:
        return SignExtend(d, 11);
    case ValueClass::Unsigned:
    case ValueClass::Hex6:
    case ValueClass::Fields:
        break;
    }
    return d;
}

QString readText(std::uint32_t data, ValueClass cls)
{
    return pollText(data, pollCode(cls));
}

QString hexText(std::uint64_t value, int digits)
{
    return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

QString pollText(std::uint32_t data, int code)
{
    const std::int64_t d = data & kDataMask;
    if (code < 0)
        return hexText(static_cast<std::uint64_t>(d), -code);
    return QString::number(SignExtend(d, code));
}

QString IntToBin(std::uint32_t value, int width)
{
    QString bits;
    bits.reserve(width);
    for (int bit = width - 1; bit >= 0; --bit)
        bits.append(((value >> bit) & 1) != 0 ? QLatin1Char('1') : QLatin1Char('0'));
    return bits;
}

std::uint32_t BinToInt(const QString &text)
{
    const QString bits = text.trimmed();
    std::uint32_t value = 0;
    int bit = 0;
    for (qsizetype i = bits.size() - 1; i >= 0 && bit < 32; --i, ++bit) {
        const QChar c = bits.at(i);
        if (c.isSpace())
            break;
        if (c == QLatin1Char('1'))
            value |= 1u << bit;
    }
    return value;
}

QString quoted(const QString &text, qsizetype limit)
{
    qsizetype keep = std::min(text.size(), std::max<qsizetype>(limit, 1));
    // Never half a surrogate pair.
    if (keep < text.size() && text[keep - 1].isHighSurrogate())
        --keep;
    QString out = QStringLiteral("\"");
    appendEscaped(out, QStringView(text).left(keep), true);
    if (keep == text.size())
        return out + QLatin1Char('"');
    return out + QStringLiteral("...\" (%1 characters)").arg(text.size());
}

QString controlsEscaped(const QString &text)
{
    QString out;
    appendEscaped(out, text, false);
    return out;
}

} // namespace kvx
