#include "chip/ValueFormat.h"

namespace kvx {

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

} // namespace kvx
