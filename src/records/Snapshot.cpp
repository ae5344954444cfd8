#include "records/Snapshot.h"

#include "chip/AccelScaling.h"
#include "chip/ValueFormat.h"

#include <QDateTime>

#include <QCoreApplication>
#include <QStringList>

#include <algorithm>
#include <tuple>

namespace kvx {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("Snapshot", text);
}

QString textOf(const Item &item, std::int64_t v)
{
    return valueText(item, withValue(item, 0, v));
}

QString sectionOf(int motor)
{
    return motor < 0 ? QStringLiteral("Common") : QStringLiteral("Motor %1").arg(motor + 1);
}

bool sameValue(const SnapshotValue &a, const SnapshotValue &b)
{
    return a.motor == b.motor && a.item.reg == b.item.reg && a.item.field == b.item.field;
}

QString rangeText(const ValueRange &r)
{
    return tr("%1 to %2").arg(r.low).arg(r.high);
}

// The comment that says a value outside the editor's range is what the board held; what
// follows "held:" is read back.
const QLatin1String kHeld("held:");

} // namespace

std::vector<const RegisterDef *> snapshotRegisters(bool common)
{
    std::vector<const RegisterDef *> regs;
    for (const Item &item : allItems()) {
        if (item.common() == common && item.setting() && (regs.empty() || regs.back() != item.reg))
            regs.push_back(item.reg);
    }
    return regs;
}

void addRegister(Snapshot &s, const RegisterDef &reg, int motor, std::uint32_t data)
{
    for (const Item &item : allItems()) {
        // The field's own bits: a reply's bits above a 12-bit field are no part of the setting.
        if (item.reg == &reg && item.setting())
            s.values.push_back({item, reg.common ? -1 : motor,
                                value(item, withValue(item, 0, unpackField(item.def(), data)))});
    }
}

QString snapshotHeading(const QString &program, const QString &device)
{
    return tr("%1 snapshot of the board on %2, %3\n"
              "NAME = VALUE as kvx310 read shows it; a line left out leaves that value as the "
              "board holds it.\n"
              "[RAM]: the 128 bytes, 8 rows of 16.")
        .arg(program, device, QDateTime::currentDateTime().toString(Qt::ISODate));
}

QByteArray snapshotText(const Snapshot &s, const QString &heading)
{
    QString out;
    for (const QString &line : heading.split(QLatin1Char('\n')))
        out += QStringLiteral("# %1\n").arg(line);
    QString section;
    for (const SnapshotValue &v : s.values) {
        if (sectionOf(v.motor) != section) {
            section = sectionOf(v.motor);
            out += QStringLiteral("\n[%1]\n").arg(section);
        }
        out += QStringLiteral("%1 = %2\n").arg(v.item.name, textOf(v.item, v.value));
        const ValueRange range = editorRange(v.item, v.motor);
        if (!range.contains(v.value))
            out += QStringLiteral("# %1 %2 = %3 (outside the editor's %4)\n")
                       .arg(kHeld, v.item.name, textOf(v.item, v.value), rangeText(range));
    }
    if (s.ram) {
        out += QStringLiteral("\n[RAM]\n");
        for (int row = 0; row < kRamByteCount / 16; ++row) {
            QStringList bytes;
            for (int c = 0; c < 16; ++c)
                bytes << QStringLiteral("%1")
                             .arg((*s.ram)[std::size_t(row * 16 + c)], 2, 16, QLatin1Char('0'))
                             .toUpper();
            out += QStringLiteral("%1 = %2\n").arg(row).arg(bytes.join(QLatin1Char(',')));
        }
    }
    return out.toUtf8();
}

std::optional<Snapshot> parseSnapshot(const QByteArray &text, QString *error)
{
    if (text.size() > kMaxSnapshotSize) {
        *error = tr("it is longer than %1 bytes, far more than a snapshot").arg(kMaxSnapshotSize);
        return std::nullopt;
    }
    Snapshot s;
    std::vector<SnapshotValue> held;
    enum class Section
    {
        None,
        Motor,
        Common,
        Ram
    } section = Section::None;
    int motor = -1;
    std::array<bool, kRamByteCount / 16> rowsSeen{};
    std::array<std::uint8_t, kRamByteCount> ram{};
    const QStringList lines = QString::fromUtf8(text).split(QLatin1Char('\n'));
    for (qsizetype n = 0; n < lines.size(); ++n) {
        const QString line = lines[n].trimmed();
        auto fail = [&](const QString &why) {
            *error = tr("line %1: %2").arg(n + 1).arg(why);
            return std::nullopt;
        };
        if (line.startsWith(QLatin1Char('#'))) {
            // "# held: NAME = VALUE (...)": any other comment, or one that does not read, is
            // a comment only.
            const QString body = line.mid(1).trimmed();
            const qsizetype eq = body.indexOf(QLatin1Char('='));
            if (!body.startsWith(kHeld) || eq < 0 || section == Section::None ||
                section == Section::Ram)
                continue;
            const std::vector<Item> items =
                findItems(body.mid(kHeld.size(), eq - kHeld.size()), nullptr);
            const QString typed = body.mid(eq + 1).section(QLatin1String(" ("), 0, 0);
            const std::optional<std::int64_t> v =
                items.size() == 1 ? parseValue(items[0], typed, nullptr, Range::Bits)
                                  : std::nullopt;
            if (v)
                held.push_back({items[0], section == Section::Common ? -1 : motor, *v, true});
            continue;
        }
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            const QString name = line.mid(1, line.size() - 2).trimmed();
            if (name.compare(QLatin1String("Common"), Qt::CaseInsensitive) == 0) {
                section = Section::Common;
            } else if (name.compare(QLatin1String("RAM"), Qt::CaseInsensitive) == 0) {
                section = Section::Ram;
            } else if (name.startsWith(QLatin1String("Motor "), Qt::CaseInsensitive) &&
                       name.mid(6).toInt() >= 1 && name.mid(6).toInt() <= kMotorCount) {
                section = Section::Motor;
                motor = name.mid(6).toInt() - 1;
            } else {
                return fail(tr("unknown section %1; the sections are [Motor 1] to [Motor 3], "
                               "[Common] and [RAM]")
                                .arg(quoted(line)));
            }
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0 || section == Section::None)
            return fail(tr("expected a section or NAME = VALUE, found %1").arg(quoted(line)));
        const QString key = line.left(eq).trimmed();
        const QString typed = line.mid(eq + 1).trimmed();
        if (section == Section::Ram) {
            bool ok = false;
            const int row = key.toInt(&ok);
            const QStringList bytes = typed.split(QLatin1Char(','));
            if (!ok || row < 0 || row >= int(rowsSeen.size()) || bytes.size() != 16)
                return fail(tr("a RAM line is ROW = 16 bytes, ROW 0 to 7"));
            for (int c = 0; c < 16; ++c) {
                const QString b = bytes[c].trimmed();
                const uint v = b.toUInt(&ok, 16);
                if (!ok || b.size() != 2)
                    return fail(tr("%1 is not a byte of two hexadecimal digits").arg(quoted(b)));
                ram[std::size_t(row * 16 + c)] = std::uint8_t(v);
            }
            rowsSeen[std::size_t(row)] = true;
            continue;
        }
        QString why;
        const std::vector<Item> items = findItems(key, &why);
        const bool common = section == Section::Common;
        if (items.size() != 1 || items[0].common() != common || !items[0].setting())
            return fail(items.empty() ? why
                                      : tr("%1 is no setting of [%2]")
                                            .arg(quoted(key), sectionOf(common ? -1 : motor)));
        const std::optional<std::int64_t> v = parseValue(items[0], typed, &why, Range::Bits);
        if (!v)
            return fail(why);
        const SnapshotValue value{items[0], common ? -1 : motor, *v, false};
        std::erase_if(s.values, [&](const SnapshotValue &o) { return sameValue(o, value); });
        s.values.push_back(value);
    }
    const auto seen = std::count(rowsSeen.begin(), rowsSeen.end(), true);
    if (seen != 0 && seen != qsizetype(rowsSeen.size())) {
        *error = tr("[RAM] needs all 8 rows or none");
        return std::nullopt;
    }
    if (seen != 0)
        s.ram = ram;
    for (SnapshotValue &v : s.values) {
        v.held = std::any_of(held.begin(), held.end(), [&v](const SnapshotValue &h) {
            return sameValue(h, v) && h.value == v.value;
        });
    }
    return s;
}

int commonRank(int registerIndex)
{
    // The global parameters (the driver chain's SPI settings among them) first.
    return registerIndex == common::GlobalParameters ? -1 : registerIndex;
}

int restoreRank(int registerIndex)
{
    static constexpr int kOrder[] = {
        motor::Dividers,        motor::Currents, motor::PMulPDiv, motor::DxRefTolerance,
        motor::Interrupts,      motor::VMin,     motor::VMax,     motor::AMax,
        motor::RefConfRampMode, motor::XActual,  motor::XTarget,  motor::VTarget,
        motor::VActual,
    };
    const auto it = std::find(std::begin(kOrder), std::end(kOrder), registerIndex);
    return int(it - std::begin(kOrder));
}

std::vector<Difference> differences(const Snapshot &board, const Snapshot &wanted)
{
    std::vector<Difference> out;
    if (board.ram && wanted.ram) {
        for (int b = 0; b < kRamByteCount; ++b) {
            const int was = (*board.ram)[std::size_t(b)];
            const int want = (*wanted.ram)[std::size_t(b)];
            if (was != want) {
                Difference d{{}, -1, b, was, want, {}, {}, {}};
                d.boardText = QStringLiteral("%1").arg(was, 2, 16, QLatin1Char('0')).toUpper();
                d.wantedText = QStringLiteral("%1").arg(want, 2, 16, QLatin1Char('0')).toUpper();
                out.push_back(d);
            }
        }
    }
    std::vector<Difference> regs;
    for (const SnapshotValue &w : wanted.values) {
        const auto b = std::find_if(board.values.begin(), board.values.end(),
                                    [&](const SnapshotValue &o) { return sameValue(o, w); });
        if (b == board.values.end() || b->value == w.value)
            continue;
        Difference d{w.item,
                     w.motor,
                     -1,
                     b->value,
                     w.value,
                     textOf(w.item, b->value),
                     textOf(w.item, w.value),
                     {}};
        const ValueRange range = editorRange(w.item, w.motor);
        if (!w.held && !range.contains(w.value))
            d.outside = rangeText(range);
        regs.push_back(d);
    }
    // Common first, then motor by motor in restore order; fields of one register together.
    std::stable_sort(regs.begin(), regs.end(), [](const Difference &a, const Difference &b) {
        auto key = [](const Difference &d) {
            return std::tuple(d.motor,
                              d.motor < 0 ? commonRank(d.item.reg->index)
                                          : restoreRank(d.item.reg->index),
                              d.item.field);
        };
        return key(a) < key(b);
    });
    out.insert(out.end(), regs.begin(), regs.end());
    return out;
}

QString label(const Difference &d)
{
    if (d.ramByte >= 0)
        return QStringLiteral("RAM 0x%1")
            .arg(d.ramByte, 2, 16, QLatin1Char('0'))
            .toUpper()
            .replace(QLatin1String("0X"), QLatin1String("0x"));
    if (d.motor < 0)
        return d.item.name;
    return QStringLiteral("M%1 %2").arg(d.motor + 1).arg(d.item.name);
}

RestoreRefusals restoreRefusals(const Snapshot &board, const std::vector<Difference> &diffs)
{
    RestoreRefusals out;
    for (const Difference &d : diffs) {
        if (!d.outside.isEmpty())
            out.outside
                << tr("%1 = %2, outside the editor's %3").arg(label(d), d.wantedText, d.outside);
    }
    for (int m = 0; m < kMotorCount; ++m) {
        // What the motor holds once the restore is done: the file's value where it differs.
        auto after = [&](int reg, int field) -> std::int64_t {
            for (const Difference &d : diffs) {
                if (d.motor == m && d.ramByte < 0 && d.item.reg->index == reg &&
                    d.item.field == field)
                    return d.wanted;
            }
            for (const SnapshotValue &v : board.values) {
                if (v.motor == m && v.item.reg->index == reg && v.item.field == field)
                    return v.value;
            }
            return 0;
        };
        const bool sets = std::any_of(diffs.begin(), diffs.end(), [m](const Difference &d) {
            if (d.motor != m || d.ramByte >= 0)
                return false;
            const int reg = d.item.reg->index;
            return reg == motor::XTarget || reg == motor::XActual ||
                   (reg == motor::RefConfRampMode && d.item.field == field::RefConf_RampMode);
        });
        // A positioning mode moves the motor only towards a target it does not stand at.
        const auto mode = after(motor::RefConfRampMode, field::RefConf_RampMode);
        if (!sets || mode > std::int64_t(RampMode::SoftMode) ||
            after(motor::XTarget, 0) == after(motor::XActual, 0))
            continue;
        const std::int64_t aMax = after(motor::AMax, 0);
        const int minimum = AMaxMinimum(int(after(motor::Dividers, field::Dividers_RampDiv)),
                                        int(after(motor::Dividers, field::Dividers_PulsDiv)));
        if (aMax < minimum)
            out.moves << tr("motor %1 would start with A_MAX %2, below %3, the least its dividers "
                            "allow")
                             .arg(m + 1)
                             .arg(aMax)
                             .arg(minimum);
    }
    return out;
}

} // namespace kvx
