#include "link/TrafficDecoder.h"

#include "chip/RegisterMap.h"
#include "chip/StatusBits.h"
#include "chip/ValueFormat.h"

#include <QStringList>

#include <optional>

namespace kvx {

namespace {

std::optional<Datagram> datagramOf(const QByteArray &frame)
{
    qsizetype offset = -1;
    const auto start = [&](char c) { return c == '#' || c == '!'; };
    if (frame.size() == 5 && start(frame.at(0)))
        offset = 1;
    else if (frame.size() == 6 && start(frame.at(0)) && frame.at(1) == 4)
        offset = 2; // KORVE: start, count byte, datagram
    if (offset < 0)
        return std::nullopt;
    auto b = [&](qsizetype i) { return std::uint8_t(frame.at(offset + i)); };
    return Datagram{b(0), {b(1), b(2), b(3)}};
}

QString latin(std::string_view s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

const RegisterDef *registerOf(std::uint8_t address)
{
    const int index = registerIndexOf(address);
    if (bankOf(address) == kCommonBank)
        return commonRegister(index);
    return index < motor::Count ? &motorRegister(index) : nullptr;
}

QString registerName(std::uint8_t address)
{
    if (const RegisterDef *reg = registerOf(address))
        return latin(reg->name);
    return QStringLiteral("register %1").arg(registerIndexOf(address));
}

QString motorSuffix(std::uint8_t address)
{
    return bankOf(address) == kCommonBank ? QString()
                                          : QStringLiteral(" motor %1").arg(bankOf(address) + 1);
}

QString fieldText(const FieldDef &f, std::uint32_t data)
{
    const std::int64_t v = unpackField(f, data);
    switch (f.kind) {
    case FieldKind::Hex:
        return hexText(std::uint64_t(v), (f.width + 3) / 4);
    case FieldKind::FlagSet: {
        QStringList set;
        for (int i = 0; i < int(f.flagNames.size()); ++i) {
            if ((v >> i) & 1)
                set << latin(f.flagNames[std::size_t(i)]);
        }
        return set.isEmpty() ? QStringLiteral("none") : set.join(QLatin1Char('+'));
    }
    case FieldKind::Unsigned:
    case FieldKind::Signed:
    case FieldKind::Flag:
        break;
    }
    return QString::number(v);
}

// "= 800" for a register of one field, ": P_MUL = 200, P_DIV = 5" for several.
QString valueText(const RegisterDef &reg, std::uint32_t data, bool asDisplayed)
{
    if (reg.valueClass != ValueClass::Fields) {
        // A reply reads as the displays show it; a write as the field it sets.
        return QStringLiteral(" = ") + (asDisplayed || reg.fields.empty()
                                            ? readText(data, reg.valueClass)
                                            : fieldText(reg.fields.front(), data));
    }
    QStringList parts;
    for (const FieldDef &f : reg.fields)
        parts << latin(f.name) + QStringLiteral(" = ") + fieldText(f, data);
    return QStringLiteral(": ") + parts.join(QStringLiteral(", "));
}

QString ramBytes(int word, std::uint32_t data)
{
    const auto [even, odd] = unpackRamWord(data);
    return QStringLiteral("byte %1 = %2, byte %3 = %4")
        .arg(2 * word)
        .arg(hexText(even))
        .arg(2 * word + 1)
        .arg(hexText(odd));
}

QString statusText(std::uint8_t status)
{
    QStringList set;
    for (int bit = 0; bit < 8; ++bit) {
        if ((status >> bit) & 1)
            set << latin(kStatusBitNames[std::size_t(bit)]);
    }
    return QStringLiteral("; status: ") +
           (set.isEmpty() ? QStringLiteral("none") : set.join(QStringLiteral(", ")));
}

QString reasonText(DiscardReason r)
{
    switch (r) {
    case DiscardReason::None:
    case DiscardReason::Stray:
        return QStringLiteral("stray: nothing was asked");
    case DiscardReason::Early:
        return QStringLiteral("sooner than the board could have answered");
    case DiscardReason::Excess:
        return QStringLiteral("more bytes than the reply holds");
    case DiscardReason::Unfinished:
        return QStringLiteral("a reply that stopped part of the way");
    case DiscardReason::Resync:
        return QStringLiteral("while the line was being resynchronised");
    case DiscardReason::Late:
        return QStringLiteral("late: after the watchdog gave the request up");
    case DiscardReason::Untrusted:
        return QStringLiteral("a whole reply, but the line lost step before it could be trusted");
    case DiscardReason::Overdue:
        return QStringLiteral("later than the board answers, after a fault");
    case DiscardReason::Damaged:
        return QStringLiteral("the line reported a damaged byte");
    case DiscardReason::AfterGiveUp:
        return QStringLiteral("the first reply after a give-up: perhaps the late answer to it");
    }
    return {};
}

// The board's bytes as text, anything but printable ASCII as \xNN: a line in a saved file or
// a row of the view must not be split or cut by what the board sent.
QString printable(const QByteArray &bytes)
{
    QString text;
    for (const char c : bytes) {
        const auto b = std::uint8_t(c);
        if (b >= 0x20 && b < 0x7F && b != '\\')
            text += QLatin1Char(c);
        else
            text += QStringLiteral("\\x") + hexText(b);
    }
    return text;
}

QString kindText(const TrafficEvent &e)
{
    switch (e.kind) {
    case TrafficKind::Probe:
        return QStringLiteral("probe");
    case TrafficKind::StartUp:
        return QStringLiteral("start-up sequence");
    case TrafficKind::Poll:
        return e.sent ? QStringLiteral("poll") : QStringLiteral("reply");
    case TrafficKind::Direct:
        // An attached kvx310's requests are told from the window's own.
        if (e.origin == TrafficOrigin::ToolWait)
            return e.sent ? QStringLiteral("kvx310 wait") : QStringLiteral("kvx310 reply");
        if (e.origin == TrafficOrigin::Tool)
            return e.sent ? QStringLiteral("kvx310 request") : QStringLiteral("kvx310 reply");
        return e.sent ? QStringLiteral("direct request") : QStringLiteral("reply");
    case TrafficKind::Identification:
        return QStringLiteral("identification");
    case TrafficKind::Discarded:
        return QStringLiteral("stray");
    case TrafficKind::Unanswered:
        return QStringLiteral("unanswered");
    case TrafficKind::Purged:
        return QStringLiteral("purged");
    }
    return {};
}

} // namespace

QString describeRequest(const QByteArray &frame, int *motor)
{
    const std::optional<Datagram> d = datagramOf(frame);
    if (motor)
        *motor = kNoMotor;
    if (!d)
        return QStringLiteral("not a request frame");
    const bool read = isReadAddress(d->address);
    if (isRamAddress(d->address)) {
        const int word = ramWordOf(d->address);
        return read ? QStringLiteral("read RAM word %1").arg(word)
                    : QStringLiteral("write RAM word %1: %2")
                          .arg(word)
                          .arg(ramBytes(word, d->data.value()));
    }
    if (motor)
        *motor = requestMotor(frame);
    const QString target = registerName(d->address) + motorSuffix(d->address);
    if (read)
        return QStringLiteral("read ") + target;
    const RegisterDef *reg = registerOf(d->address);
    return QStringLiteral("write ") + target +
           (reg ? valueText(*reg, d->data.value(), false)
                : QStringLiteral(" = ") + hexText(d->data.value(), 6));
}

QString describeReply(const QByteArray &request, const QByteArray &reply)
{
    if (reply.size() != 4)
        return QStringLiteral("not a reply");
    const Reply r{
        std::uint8_t(reply.at(0)),
        {std::uint8_t(reply.at(1)), std::uint8_t(reply.at(2)), std::uint8_t(reply.at(3))}};
    const std::optional<Datagram> d = datagramOf(request);
    QString what;
    if (!d) {
        what = QStringLiteral("data ") + hexText(r.data.value(), 6);
    } else if (!isReadAddress(d->address)) {
        what = QStringLiteral("to ") + describeRequest(request);
    } else if (isRamAddress(d->address)) {
        const int word = ramWordOf(d->address);
        what = QStringLiteral("RAM word %1: %2").arg(word).arg(ramBytes(word, r.data.value()));
    } else {
        const RegisterDef *reg = registerOf(d->address);
        what = registerName(d->address) + motorSuffix(d->address) +
               (reg ? valueText(*reg, r.data.value(), true)
                    : QStringLiteral(" = ") + hexText(r.data.value(), 6));
    }
    return what + statusText(r.status);
}

int requestMotor(const QByteArray &frame)
{
    const std::optional<Datagram> d = datagramOf(frame);
    if (!d || isRamAddress(d->address) || bankOf(d->address) == kCommonBank)
        return kNoMotor;
    return bankOf(d->address);
}

int trafficMotor(const TrafficEvent &e)
{
    if (e.kind != TrafficKind::Poll && e.kind != TrafficKind::Direct)
        return kNoMotor;
    return requestMotor(e.sent ? e.bytes : e.request);
}

TrafficRow describeTraffic(const TrafficEvent &e)
{
    TrafficRow row;
    row.time = QString::number(double(e.micros) / 1000.0, 'f', 1);
    row.direction = e.sent ? QStringLiteral("out") : QStringLiteral("in");
    row.kind = kindText(e);
    row.bytes = QString::fromLatin1(e.bytes.toHex(' ').toUpper());
    row.poll = e.kind == TrafficKind::Poll || e.origin == TrafficOrigin::ToolWait;
    switch (e.kind) {
    case TrafficKind::Probe:
        row.meaning = QStringLiteral("resynchronisation: %1 bytes").arg(e.bytes.size());
        break;
    case TrafficKind::StartUp:
        row.meaning = QStringLiteral("KORVE start-up sequence");
        break;
    case TrafficKind::Poll:
    case TrafficKind::Direct:
        if (e.sent) {
            row.meaning = describeRequest(e.bytes, &row.motor);
        } else {
            row.motor = requestMotor(e.request);
            row.meaning = describeReply(e.request, e.bytes);
        }
        break;
    case TrafficKind::Identification:
        // A plain board has no identification: it answers the request as any other.
        row.meaning = e.bytes.size() == BoardLink::kReplySize
                          ? QStringLiteral("a plain board's answer to the identification request")
                          : QStringLiteral("identification \"%1\"").arg(printable(e.bytes));
        break;
    case TrafficKind::Discarded:
        row.meaning = reasonText(e.reason);
        break;
    case TrafficKind::Unanswered:
        row.meaning = QStringLiteral("no reply: the watchdog gave the request up");
        break;
    case TrafficKind::Purged:
        row.meaning = QStringLiteral("%1 unread bytes purged").arg(e.purged);
        break;
    }
    return row;
}

} // namespace kvx
