#include "records/SnapshotTransfer.h"

#include "records/RamTable.h"

#include <QCoreApplication>
#include <QStringList>

namespace kvx {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("kvx310", text);
}

} // namespace

QString exchangeName(const QString &what, const RegisterDef &reg, int motor)
{
    const QString where = reg.common ? QString() : tr(" of motor %1").arg(motor + 1);
    return tr("%1 of %2%3").arg(what, nameOf(reg.name), where);
}

SnapshotTransfer::SnapshotTransfer(RequestChannel &channel, Unanswered unanswered)
    : m_channel(channel)
    , m_unanswered(std::move(unanswered))
{
    if (!m_unanswered) {
        m_unanswered = [](const QString &exchange) {
            return tr("the board did not answer the %1; check the cable and the power")
                .arg(exchange);
        };
    }
}

std::optional<std::uint32_t> SnapshotTransfer::registerData(const RegisterDef &reg, int motor)
{
    const std::pair key{&reg, reg.common ? -1 : motor};
    if (const auto it = m_read.find(key); it != m_read.end())
        return it->second;
    const std::optional<Reply> r =
        m_channel.DirectRequest(Datagram{readAddress(reg, motor < 0 ? 0 : motor), {}});
    if (!r)
        return std::nullopt;
    m_read[key] = r->data.value();
    return r->data.value();
}

std::optional<Snapshot> SnapshotTransfer::read(QString *why)
{
    Snapshot s;
    for (const bool common : {true, false}) {
        for (int m : common ? std::vector<int>{-1} : std::vector<int>{0, 1, 2}) {
            for (const RegisterDef *reg : snapshotRegisters(common)) {
                const std::optional<std::uint32_t> d = registerData(*reg, m);
                if (!d) {
                    *why = m_unanswered(exchangeName(tr("read"), *reg, m));
                    return std::nullopt;
                }
                addRegister(s, *reg, m, *d);
            }
        }
    }
    RequestChannel::Batch stopped;
    s.ram = readRam(m_channel, &stopped);
    if (!s.ram) {
        *why = m_unanswered(tr("read of RAM word %1").arg(stopped.failedAt));
        return std::nullopt;
    }
    return s;
}

QString SnapshotTransfer::restore(const std::vector<Difference> &diffs, const Snapshot &wanted,
                                  const std::function<void(const Difference &)> &written)
{
    QStringList done;
    // A write that went unanswered may have reached the chip all the same: its reply may be
    // what was lost, or the window that sent it may have gone before it could say so.
    auto failed = [&done](const QString &what, const QString &unknown = {}) {
        QString text =
            what + (done.isEmpty() ? tr("; nothing was written before it")
                                   : tr("; written before it: %1").arg(done.join(tr(", "))));
        if (!unknown.isEmpty())
            text += tr("; %1 may have been written").arg(unknown);
        return text;
    };
    auto tell = [&](std::size_t from, std::size_t to) {
        for (std::size_t k = from; written && k < to; ++k)
            written(diffs[k]);
    };
    // RAM words, then registers: each written once, with every field of it that differs.
    std::size_t i = 0;
    while (i < diffs.size() && diffs[i].ramByte >= 0) {
        const int word = diffs[i].ramByte / 2;
        const std::size_t first = i;
        while (i < diffs.size() && diffs[i].ramByte >= 0 && diffs[i].ramByte / 2 == word)
            ++i;
        const auto &ram = *wanted.ram;
        const Datagram d =
            Datagram::make(ramWordAddress(word, false),
                           packRamWord(ram[std::size_t(2 * word)], ram[std::size_t(2 * word + 1)]));
        if (!m_channel.DirectRequest(d))
            return failed(m_unanswered(tr("write of RAM word %1").arg(word)),
                          tr("RAM word %1").arg(word));
        done << tr("RAM word %1").arg(word);
        tell(first, i);
    }
    while (i < diffs.size()) {
        const Difference &first = diffs[i];
        const std::size_t from = i;
        while (i < diffs.size() && diffs[i].item.reg == first.item.reg &&
               diffs[i].motor == first.motor)
            ++i;
        const RegisterDef &reg = *first.item.reg;
        const int m = first.motor;
        // Read again just before: the writes before this one, or the chip itself (its
        // interrupt flags), may have changed the fields the file leaves alone.
        m_read.erase({&reg, m});
        std::optional<std::uint32_t> data = registerData(reg, m);
        if (!data)
            return failed(m_unanswered(exchangeName(tr("read"), reg, m)));
        for (std::size_t k = from; k < i; ++k)
            data = withValue(diffs[k].item, *data, diffs[k].wanted);
        if (!m_channel.DirectRequest(Datagram::make(*writeAddress(reg, m < 0 ? 0 : m), *data)))
            return failed(m_unanswered(exchangeName(tr("write"), reg, m)),
                          motorLabel(m) + nameOf(reg.name));
        m_read.erase({&reg, m});
        done << motorLabel(m) + nameOf(reg.name);
        tell(from, i);
    }
    return {};
}

} // namespace kvx
