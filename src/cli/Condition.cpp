#include "cli/Condition.h"

#include "chip/RegisterMap.h"
#include "chip/ValueFormat.h"

#include <QCoreApplication>

#include <array>
#include <utility>

namespace kvx::cli {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("kvx310", text);
}

// Two characters before one, so that ">=" is not read as ">" and "=5".
constexpr std::array<std::pair<const char *, Condition::Op>, 7> kOps = {{
    {"==", Condition::Op::Equal},
    {"!=", Condition::Op::NotEqual},
    {">=", Condition::Op::GreaterEqual},
    {"<=", Condition::Op::LessEqual},
    {"=", Condition::Op::Equal},
    {">", Condition::Op::Greater},
    {"<", Condition::Op::Less},
}};

} // namespace

std::optional<Condition> parseCondition(const QString &text, QString *error)
{
    Condition c;
    c.text = text.trimmed();
    // A status bit's caption holds "=" itself ("X_ACTUAL1 = X_TARGET1").
    if (const std::optional<int> bit = statusBitNamed(c.text); bit && *bit != kWholeStatus) {
        c.statusBit = *bit;
        return c;
    }
    qsizetype at = -1;
    qsizetype length = 0;
    for (const auto &[op, kind] : kOps) {
        const qsizetype i = c.text.indexOf(QLatin1String(op));
        if (i > 0 && (at < 0 || i < at)) {
            at = i;
            length = qsizetype(qstrlen(op));
            c.op = kind;
        }
    }
    const QString name = at < 0 ? c.text : c.text.left(at).trimmed();
    const QString value = at < 0 ? QString() : c.text.mid(at + length).trimmed();
    if (const std::optional<int> bit = statusBitNamed(name)) {
        c.statusBit = *bit;
        if (at < 0 && *bit == kWholeStatus) {
            *error = tr("wait STATUS needs a value: STATUS=0x15");
            return std::nullopt;
        }
        if (at >= 0) {
            const std::optional<std::int64_t> v = parseNumber(value);
            const std::int64_t most = *bit == kWholeStatus ? 255 : 1;
            if (!v || *v < 0 || *v > most) {
                *error = tr("%1 is 0 to %2, not %3").arg(name).arg(most).arg(quoted(value));
                return std::nullopt;
            }
            c.value = *v;
        }
        return c;
    }
    QString why;
    const std::vector<Item> found = findItems(name, &why);
    if (found.empty()) {
        *error = why + tr(", nor a status bit");
        return std::nullopt;
    }
    if (found.size() > 1) {
        *error = tr("%1 has several fields; wait on one by name").arg(quoted(name));
        return std::nullopt;
    }
    if (at < 0) {
        *error = tr("wait %1 needs a value to compare with: %1=5000, %1>0 ...").arg(name);
        return std::nullopt;
    }
    const std::optional<std::int64_t> v = parseValue(found.front(), value, &why, Range::Bits);
    if (!v) {
        *error = why;
        return std::nullopt;
    }
    c.item = found.front();
    c.value = *v;
    return c;
}

std::uint8_t Condition::address(int motor) const
{
    // Any reply carries the status: that of a register every poll cycle reads.
    if (!item)
        return motorReadAddress(0, motor::XActual);
    return readAddress(*item->reg, item->common() ? 0 : motor);
}

std::int64_t Condition::observed(const Reply &reply) const
{
    if (item)
        return kvx::value(*item, reply.data.value());
    return statusBit == kWholeStatus ? reply.status : (reply.status >> statusBit) & 1;
}

QString Condition::observedText(const Reply &reply) const
{
    if (item)
        return valueText(*item, reply.data.value());
    return statusBit == kWholeStatus ? statusByteText(reply.status)
                                     : QString::number(observed(reply));
}

QString Condition::name() const
{
    return item ? item->name : statusBitName(statusBit);
}

bool Condition::holds(const Reply &reply) const
{
    const std::int64_t v = observed(reply);
    switch (op) {
    case Op::Equal:
        return v == value;
    case Op::NotEqual:
        return v != value;
    case Op::Greater:
        return v > value;
    case Op::Less:
        return v < value;
    case Op::GreaterEqual:
        return v >= value;
    case Op::LessEqual:
        return v <= value;
    }
    return false;
}

} // namespace kvx::cli
