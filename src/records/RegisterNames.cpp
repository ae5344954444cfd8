#include "records/RegisterNames.h"

#include "chip/ValueFormat.h"

#include <QCoreApplication>
#include <QStringList>

namespace kvx {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("RegisterNames", text);
}

QString text(std::string_view s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

bool isRampMode(const Item &item)
{
    return !item.common() && item.reg->index == motor::RefConfRampMode &&
           item.field == field::RefConf_RampMode;
}

// The register's whole name, and the names of its parts ("P_MUL", "P_DIV") when it has several.
QString wholeName(const RegisterDef &reg)
{
    QStringList parts;
    for (const QString &part : text(reg.name).split(QLatin1Char('/')))
        parts << toolName(part.toStdString());
    return parts.join(QLatin1Char('/'));
}

bool namesRegister(const RegisterDef &reg, const QString &name)
{
    const QString whole = wholeName(reg);
    if (whole.compare(name, Qt::CaseInsensitive) == 0)
        return true;
    const QStringList parts = whole.split(QLatin1Char('/'));
    return parts.size() > 1 && parts.contains(name, Qt::CaseInsensitive);
}

std::vector<Item> build()
{
    std::vector<Item> items;
    auto add = [&items](const RegisterDef &reg) {
        for (std::size_t f = 0; f < reg.fields.size(); ++f) {
            const bool single = reg.fields.size() == 1;
            items.push_back({&reg, int(f), single ? wholeName(reg) : toolName(reg.fields[f].name)});
        }
    };
    for (const RegisterDef &reg : motorRegisters())
        add(reg);
    for (const RegisterDef &reg : commonRegisters())
        add(reg);
    return items;
}

} // namespace

std::optional<std::int64_t> parseNumber(const QString &text)
{
    QString t = text;
    bool negative = false;
    if (t.startsWith(QLatin1Char('-')) || t.startsWith(QLatin1Char('+'))) {
        negative = t.front() == QLatin1Char('-');
        t.remove(0, 1);
    }
    int base = 10;
    if (t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        base = 16;
    else if (t.startsWith(QLatin1String("0b"), Qt::CaseInsensitive))
        base = 2;
    if (base != 10)
        t.remove(0, 2);
    // Digits of the base only: toLongLong would also take blanks and a second sign.
    if (t.isEmpty() || t.size() > 24)
        return std::nullopt;
    for (const QChar c : t) {
        const int d = hexDigit(c.unicode());
        if (d < 0 || d >= base)
            return std::nullopt;
    }
    bool ok = false;
    const std::int64_t v = t.toLongLong(&ok, base);
    if (!ok)
        return std::nullopt;
    return negative ? -v : v;
}

bool Item::writable() const
{
    if (reg->access == Access::ReadWriteZero)
        return true;
    return reg->writable() && !def().readOnly;
}

bool Item::setting() const
{
    // Not a setting: the flags the chip raises, and the cover telegram, whose write sends it
    // down the driver chain.
    const bool raisedByChip =
        !common() && reg->index == motor::Interrupts && field == field::Interrupts_Flags;
    const bool sends = common() && reg->index == common::SpiCoverTelegram;
    return reg->access == Access::ReadWrite && !def().readOnly && !raisedByChip && !sends;
}

const std::vector<Item> &allItems()
{
    static const std::vector<Item> items = build();
    return items;
}

QString toolName(std::string_view name)
{
    QString t = text(name).trimmed();
    t.replace(QChar(0x00B5), QLatin1Char('u'));
    while (t.endsWith(QLatin1Char('.')))
        t.chop(1);
    t.replace(QLatin1Char(' '), QLatin1Char('_'));
    return t;
}

std::vector<Item> findItems(const QString &name, QString *error)
{
    QString n = name.trimmed();
    n.replace(QChar(0x00B5), QLatin1Char('u'));
    std::vector<Item> found;
    const qsizetype dot = n.lastIndexOf(QLatin1Char('.'));
    for (const Item &item : allItems()) {
        if (dot > 0) {
            if (namesRegister(*item.reg, n.left(dot)) &&
                item.name.compare(n.mid(dot + 1), Qt::CaseInsensitive) == 0)
                found.push_back(item);
        } else if (item.name.compare(n, Qt::CaseInsensitive) == 0) {
            return {item};
        }
    }
    if (found.empty() && dot < 0) {
        for (const Item &item : allItems()) {
            if (item.reg->fields.size() > 1 && namesRegister(*item.reg, n))
                found.push_back(item);
        }
    }
    if (found.empty() && error)
        *error = tr("no register or field is named %1 (kvx310 read --all lists them all)")
                     .arg(quoted(name));
    return found;
}

std::int64_t value(const Item &item, std::uint32_t data)
{
    if (item.reg->fields.size() == 1 && item.def().lsb == 0)
        return readValue(data, item.reg->valueClass);
    return unpackField(item.def(), data);
}

QString valueText(const Item &item, std::uint32_t data)
{
    const std::int64_t v = value(item, data);
    if (isRampMode(item))
        return text(kRampModeNames[std::size_t(v & 3)]);
    switch (item.def().kind) {
    case FieldKind::FlagSet:
        return IntToBin(std::uint32_t(v), item.def().width);
    case FieldKind::Hex:
        return hexText(std::uint64_t(v), (item.def().width + 3) / 4);
    case FieldKind::Unsigned:
    case FieldKind::Signed:
    case FieldKind::Flag:
        break;
    }
    return QString::number(v);
}

std::optional<std::int64_t> parseValue(const Item &item, const QString &typed, QString *error,
                                       Range range)
{
    const QString t = typed.trimmed();
    const FieldDef &f = item.def();
    std::optional<std::int64_t> v;
    if (isRampMode(item)) {
        for (std::size_t m = 0; m < std::size(kRampModeNames); ++m) {
            if (t.compare(text(kRampModeNames[m]), Qt::CaseInsensitive) == 0)
                v = std::int64_t(m);
        }
    }
    if (!v && f.kind == FieldKind::FlagSet) {
        // As the field shows it: one digit per flag; or the flags by name. A shorter number
        // is not taken: "11" could be two flags or three.
        const bool prefixed = t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ||
                              t.startsWith(QLatin1String("0b"), Qt::CaseInsensitive);
        if (t.size() == f.width &&
            t.count(QLatin1Char('0')) + t.count(QLatin1Char('1')) == t.size()) {
            v = std::int64_t(BinToInt(t));
        } else if (!t.isEmpty() && t.front().isDigit() && t != QLatin1String("0") && !prefixed) {
            if (error)
                *error = tr("write %1 as its %2 bits, as 0b.. or 0x.., or as flag names joined "
                            "by |")
                             .arg(item.name)
                             .arg(f.width);
            return std::nullopt;
        } else if (t.contains(QLatin1Char('_'))) {
            std::int64_t bits = 0;
            for (const QString &flag : t.split(QLatin1Char('|'))) {
                std::int64_t bit = -1;
                for (std::size_t i = 0; i < f.flagNames.size(); ++i) {
                    if (flag.trimmed().compare(text(f.flagNames[i]), Qt::CaseInsensitive) == 0)
                        bit = std::int64_t(i);
                }
                if (bit < 0) {
                    if (error)
                        *error = tr("%1 has no flag %2").arg(item.name, quoted(flag.trimmed()));
                    return std::nullopt;
                }
                bits |= std::int64_t{1} << bit;
            }
            v = bits;
        }
    }
    if (!v && f.kind == FieldKind::Hex) {
        // As the field shows it: hexadecimal digits, with or without 0x.
        v = parseNumber(
            t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? t : QLatin1String("0x") + t);
    }
    if (!v)
        v = parseNumber(t);
    if (!v) {
        if (error)
            *error = tr("%1 is not a value for %2").arg(quoted(typed), item.name);
        return std::nullopt;
    }
    // A register whose only write is zero ("Get Low/High Word", X_LATCHED) takes nothing else.
    const bool zeroOnly = item.reg->access == Access::ReadWriteZero;
    const std::int64_t low = zeroOnly ? 0 : f.minimum;
    const std::int64_t high = zeroOnly ? 0 : f.maximum;
    if (range == Range::Bits && !zeroOnly) {
        const std::int64_t span = std::int64_t{1} << f.width;
        const std::int64_t bitsLow = f.kind == FieldKind::Signed ? -span / 2 : 0;
        const std::int64_t bitsHigh = f.kind == FieldKind::Signed ? span / 2 - 1 : span - 1;
        if (*v < bitsLow || *v > bitsHigh) {
            // The editor's range first: it is what a value should keep to.
            if (error)
                *error = tr("%1 takes %2 to %3 (its bits hold %4 to %5), not %6")
                             .arg(item.name)
                             .arg(low)
                             .arg(high)
                             .arg(bitsLow)
                             .arg(bitsHigh)
                             .arg(*v);
            return std::nullopt;
        }
        return v;
    }
    if (*v < low || *v > high) {
        if (error)
            *error = tr("%1 takes %2 to %3, not %4").arg(item.name).arg(low).arg(high).arg(*v);
        return std::nullopt;
    }
    return v;
}

ValueRange editorRange(const Item &item, int motor)
{
    ValueRange r{item.def().minimum, item.def().maximum};
    const bool velocity =
        !item.common() && (item.reg->index == motor::VTarget || item.reg->index == motor::VActual);
    if (velocity && motor == kMotorCount - 1)
        r.low = std::max<std::int64_t>(r.low, -r.high);
    return r;
}

std::uint32_t withValue(const Item &item, std::uint32_t data, std::int64_t v)
{
    if (item.reg->access == Access::ReadWriteZero)
        return 0;
    // The fields the chip keeps for itself are sent as 0, as the editor sends them.
    std::uint32_t keep = 0;
    for (const FieldDef &f : item.reg->fields) {
        if (!f.readOnly)
            keep |= f.mask();
    }
    return ((data & keep) & ~item.def().mask()) | packField(item.def(), v);
}

QString nameOf(std::string_view name)
{
    return QString::fromUtf8(name.data(), qsizetype(name.size()));
}

QString motorLabel(int motor)
{
    return motor < 0 ? QString() : QStringLiteral("M%1 ").arg(motor + 1);
}

} // namespace kvx
