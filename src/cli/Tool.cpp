#include "cli/Tool.h"

#include "records/SnapshotTransfer.h"

#include "chip/ValueFormat.h"
#include "cli/Commands.h"
#include "settings/FileRead.h"
#include "settings/ProgramSettings.h"
#include "settings/SettingsLocation.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QObject>

#include <cstdio>

namespace kvx::cli {

QString tr(const char *text)
{
    return QCoreApplication::translate("kvx310", text);
}

void printOut(const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
}

void printJson(const QJsonValue &v)
{
    const QByteArray text = v.isArray()
                                ? QJsonDocument(v.toArray()).toJson(QJsonDocument::Indented)
                                : QJsonDocument(v.toObject()).toJson(QJsonDocument::Indented);
    std::fwrite(text.constData(), 1, std::size_t(text.size()), stdout);
}

int error(int code, const QString &message)
{
    std::fflush(stdout);
    // One line, whatever a path or a file put into it.
    std::fprintf(stderr, "kvx310: %s\n", qPrintable(controlsEscaped(message)));
    return code;
}

int runCommand(const ToolOptions &options, SimulatedPortProvider simulated)
{
    Tool tool(options, std::move(simulated));
    return tool.run();
}

int Tool::run()
{
    m_command = m_o.words.value(0);
    m_sub = m_o.words.value(1);
    if (const int code = check(); code != kDone)
        return code;
    // The wave shape alone is computed here; it needs no board.
    if (m_command == QLatin1String("ram") && m_sub == QLatin1String("shape") && !m_o.write)
        return shape(false);
    // Only what watches the board live needs the poll cycle.
    const bool polling = m_command == QLatin1String("record") || m_command == QLatin1String("info");
    if (const int code = connectBoard(polling); code != kDone)
        return code;
    if (m_command == QLatin1String("info"))
        return info();
    if (m_command == QLatin1String("read"))
        return read();
    if (m_command == QLatin1String("write"))
        return write();
    if (m_command == QLatin1String("go"))
        return go();
    if (m_command == QLatin1String("stop"))
        return stop();
    if (m_command == QLatin1String("ram"))
        return ram();
    if (m_command == QLatin1String("snapshot"))
        return snapshot();
    return record();
}

int Tool::checkOptions()
{
    // What each command takes besides --port, --no-attach, --json and --quiet; an option given
    // to a command that does not take it would be dropped without a word.
    static const std::map<QString, QStringList> takes = {
        {QStringLiteral("info"), {}},
        {QStringLiteral("read"), {QStringLiteral("motor"), QStringLiteral("all")}},
        {QStringLiteral("write"),
         {QStringLiteral("motor"), QStringLiteral("all"), QStringLiteral("verify")}},
        {QStringLiteral("go"),
         {QStringLiteral("motor"), QStringLiteral("mode"), QStringLiteral("target"),
          QStringLiteral("vmin"), QStringLiteral("vmax"), QStringLiteral("amax"),
          QStringLiteral("wait"), QStringLiteral("timeout"), QStringLiteral("force")}},
        {QStringLiteral("stop"), {QStringLiteral("motor"), QStringLiteral("all")}},
        {QStringLiteral("ram read"), {}},
        {QStringLiteral("ram write"), {}},
        {QStringLiteral("ram shape"), {QStringLiteral("sigma"), QStringLiteral("write")}},
        {QStringLiteral("snapshot save"), {}},
        {QStringLiteral("snapshot diff"), {}},
        {QStringLiteral("snapshot restore"), {QStringLiteral("dry-run"), QStringLiteral("force")}},
        {QStringLiteral("record"),
         {QStringLiteral("duration"), QStringLiteral("rows"), QStringLiteral("motor")}},
    };
    static const QStringList everywhere = {QStringLiteral("port"), QStringLiteral("no-attach"),
                                           QStringLiteral("json"), QStringLiteral("quiet")};
    const bool withSub =
        m_command == QLatin1String("ram") || m_command == QLatin1String("snapshot");
    const QString command = withSub ? m_command + QLatin1Char(' ') + m_sub : m_command;
    const auto it = takes.find(command);
    // An unknown command or subcommand is told by its own check.
    if (it == takes.end())
        return kDone;
    for (const QString &option : m_o.given) {
        if (!everywhere.contains(option) && !it->second.contains(option))
            return error(kUsage, tr("%1 does not take --%2").arg(command, option));
    }
    const bool oneOrAll = m_command == QLatin1String("write") || m_command == QLatin1String("stop");
    if (oneOrAll && m_o.motor >= 0 && m_o.all)
        return error(kUsage, tr("%1 takes --motor N or --all, not both").arg(command));
    return kDone;
}

int Tool::check()
{
    if (m_command.isEmpty())
        return error(kUsage, tr("no command given; kvx310 --help lists them"));
    if (const int code = checkOptions(); code != kDone)
        return code;
    if (m_command == QLatin1String("info"))
        return m_o.words.size() > 1 ? error(kUsage, tr("info takes no arguments")) : kDone;
    if (m_command == QLatin1String("read"))
        return checkRead();
    if (m_command == QLatin1String("write"))
        return checkWrite();
    if (m_command == QLatin1String("go"))
        return checkGo();
    if (m_command == QLatin1String("stop"))
        return m_o.words.size() > 1
                   ? error(kUsage, tr("stop takes --motor N or --all, no other arguments"))
                   : kDone;
    if (m_command == QLatin1String("ram"))
        return checkRam();
    if (m_command == QLatin1String("snapshot"))
        return checkSnapshot();
    if (m_command == QLatin1String("record"))
        return checkRecord();
    return error(kUsage, tr("unknown command %1; kvx310 --help lists them").arg(quoted(m_command)));
}

int Tool::checkRead()
{
    if (m_o.all) {
        if (m_o.words.size() > 1)
            return error(kUsage, tr("read takes names or --all, not both"));
        m_items = allItems();
        return kDone;
    }
    if (m_o.words.size() < 2)
        return error(kUsage, tr("read needs a register or field name, or --all"));
    for (const QString &name : m_o.words.mid(1)) {
        QString why;
        const std::vector<Item> found = findItems(name, &why);
        if (found.empty())
            return error(kUsage, why);
        m_items.insert(m_items.end(), found.begin(), found.end());
    }
    return kDone;
}

int Tool::checkWrite()
{
    if (m_o.words.size() < 2)
        return error(kUsage, tr("write needs NAME=VALUE"));
    bool needsMotor = false;
    for (const QString &word : m_o.words.mid(1)) {
        const qsizetype eq = word.indexOf(QLatin1Char('='));
        if (eq <= 0)
            return error(kUsage, tr("%1 is not NAME=VALUE").arg(quoted(word)));
        QString why;
        const std::vector<Item> found = findItems(word.left(eq), &why);
        if (found.empty())
            return error(kUsage, why);
        if (found.size() > 1)
            return error(
                kUsage, tr("%1 has several fields; write them by name").arg(quoted(word.left(eq))));
        const Item &item = found.front();
        if (!item.writable())
            return error(kUsage, tr("%1 is read-only").arg(item.name));
        const std::optional<std::int64_t> v = parseValue(item, word.mid(eq + 1), &why);
        if (!v)
            return error(kUsage, why + tr("; nothing was written"));
        needsMotor = needsMotor || !item.common();
        m_assignments.push_back({item, *v});
    }
    if (needsMotor && m_o.motor < 0 && !m_o.all)
        return error(kUsage, tr("say which motor to write with --motor 1, 2 or 3 (or --all)"));
    // The Motor 3 page's own ranges.
    for (const Assignment &a : m_assignments) {
        for (int m : a.item.common() ? std::vector<int>{-1} : motors()) {
            const ValueRange r = editorRange(a.item, m);
            if (!r.contains(a.value))
                return error(kUsage, tr("%1%2 takes %3 to %4, not %5; nothing was written")
                                         .arg(motorLabel(m), a.item.name)
                                         .arg(r.low)
                                         .arg(r.high)
                                         .arg(a.value));
        }
    }
    return kDone;
}

int Tool::checkRam()
{
    const qsizetype n = m_o.words.size();
    if (m_sub == QLatin1String("read") && n <= 3)
        return kDone;
    if (m_sub == QLatin1String("write") && n == 3) {
        // Lines of any length are scanned up to the RAM file's limit, as the RAM page reads.
        const QString why = readRegularFile(m_o.words[2], kMaxScan, &m_file);
        return why.isEmpty() ? kDone
                             : error(kUsage, tr("could not read %1: %2").arg(m_o.words[2], why));
    }
    if (m_sub == QLatin1String("shape") && n == 2)
        return m_o.sigma ? kDone : error(kUsage, tr("ram shape needs --sigma S, S from -1 to 1"));
    return error(kUsage, tr("ram takes: read [FILE], write FILE, or shape --sigma S [--write]"));
}

int Tool::checkSnapshot()
{
    if (m_o.words.size() != 3 ||
        !QStringList{QStringLiteral("save"), QStringLiteral("diff"), QStringLiteral("restore")}
             .contains(m_sub))
        return error(kUsage,
                     tr("snapshot takes: save FILE, diff FILE, or restore FILE [--dry-run]"));
    const QString path = m_o.words[2];
    if (m_sub == QLatin1String("save")) {
        const QFileInfo folder(QFileInfo(path).absolutePath());
        return folder.isDir() ? kDone
                              : error(kUsage, tr("could not save %1: there is no folder %2")
                                                  .arg(path, folder.filePath()));
    }
    QByteArray text;
    QString why = readRegularFile(path, kMaxSnapshotSize, &text);
    if (!why.isEmpty())
        return error(kUsage, tr("could not read %1: %2").arg(path, why));
    m_wanted = parseSnapshot(text, &why);
    return m_wanted ? kDone : error(kUsage, tr("%1: %2; nothing was written").arg(path, why));
}

int Tool::checkRecord()
{
    if (m_o.words.size() != 2)
        return error(kUsage, tr("record takes one file name (- for the standard output)"));
    // Before the port is opened: a serial device named by mistake is not written to.
    const QFileInfo file(m_o.words[1]);
    if (m_o.words[1] != QLatin1String("-") && file.exists() && !file.isFile())
        return error(kUsage,
                     tr("could not record to %1: it is not a regular file").arg(m_o.words[1]));
    QString why;
    std::optional<std::vector<CsvRecorder::Column>> columns =
        CsvRecorder::columns(m_o.rows, m_o.motor, &why);
    if (!columns)
        return error(kUsage, why);
    m_columns = std::move(*columns);
    return kDone;
}

int Tool::connectBoard(bool polling)
{
    const ProgramSettings settings(defaultSettingsPath());
    const QString port =
        m_o.port.isEmpty() ? QStringLiteral("COM%1").arg(settings.portIndex() + 1) : m_o.port;
    QString why;
    m_client = BoardClient::open(port, settings.ports(), {m_o.attach, polling, m_simulated}, &why);
    if (!m_client)
        return error(kPortFailed, why);
    if (!m_client->waitForBoard(&why))
        return error(kBoardSaidNo, why);
    return kDone;
}

std::vector<int> Tool::motors() const
{
    if (m_o.motor >= 0)
        return {m_o.motor};
    return {0, 1, 2};
}

QString Tool::unanswered(const RegisterDef &reg, int motor, const QString &what) const
{
    return failedExchange(exchangeName(what, reg, motor));
}

QString Tool::failedExchange(const QString &exchange) const
{
    if (m_client->lost())
        return tr("the port %1 was lost (%2) at the %3")
            .arg(m_client->device(), m_client->lostReason(), exchange);
    return tr("the board did not answer the %1; check the cable and the power").arg(exchange);
}

std::optional<std::uint32_t> Tool::registerData(const RegisterDef &reg, int motor)
{
    const RegisterKey key{&reg, reg.common ? -1 : motor};
    if (const auto it = m_read.find(key); it != m_read.end())
        return it->second;
    const std::optional<std::uint32_t> d = m_client->read(readAddress(reg, motor < 0 ? 0 : motor));
    if (d)
        m_read[key] = *d;
    return d;
}

int Tool::info()
{
    const std::optional<QJsonObject> facts = m_client->facts();
    if (!facts)
        return error(
            kBoardSaidNo,
            tr("the port %1 was lost: %2").arg(m_client->device(), m_client->lostReason()));
    if (m_o.json) {
        printJson(*facts);
        return kDone;
    }
    auto text = [&facts](const char *key) { return facts->value(QLatin1String(key)).toString(); };
    auto number = [&facts](const char *key) { return facts->value(QLatin1String(key)).toDouble(); };
    const QString variant = text("variant");
    const QString idHex = text("identification");
    QString printable;
    for (char ch : QByteArray::fromHex(idHex.toLatin1()))
        printable += (ch >= 0x20 && ch < 0x7F) ? QChar(ch) : QChar('.');
    printOut(tr("device:         %1").arg(m_client->device()));
    printOut(tr("board:          %1")
                 .arg(variant == QLatin1String("korve")    ? tr("KORVE")
                      : variant == QLatin1String("pentar") ? tr("Pentar")
                                                           : tr("KVX310 evaluation board")));
    printOut(tr("identification: %1 (%2)").arg(idHex, printable));
    printOut(tr("polling:        %1 exchanges/s, %2 of what the line carries at 19200 baud")
                 .arg(number("exchangesPerSecond"), 0, 'f', 1)
                 .arg(number("lineShare"), 0, 'f', 3));
    printOut(tr("thrown away:    %1 stray bytes, %2 late bytes, %3 untrusted replies, "
                "%4 unanswered requests")
                 .arg(number("strayBytes"))
                 .arg(number("lateBytes"))
                 .arg(number("untrustedReplies"))
                 .arg(number("unanswered")));
    return kDone;
}

int Tool::read()
{
    const auto pause = m_client->pausePolling();
    // Motor by motor, then the common registers.
    std::vector<std::pair<Item, int>> reads;
    for (int m : motors()) {
        for (const Item &item : m_items) {
            if (!item.common())
                reads.emplace_back(item, m);
        }
    }
    for (const Item &item : m_items) {
        if (item.common() && !(m_o.all && m_o.motor >= 0))
            reads.emplace_back(item, -1);
    }
    QJsonArray json;
    for (const auto &[item, m] : reads) {
        const std::optional<std::uint32_t> d = registerData(*item.reg, m);
        if (!d)
            return error(kBoardSaidNo, unanswered(*item.reg, m, tr("read")));
        const QString text = valueText(item, *d);
        if (m_o.json) {
            QJsonObject o{{QStringLiteral("name"), item.name},
                          {QStringLiteral("register"), nameOf(item.reg->name)},
                          {QStringLiteral("value"), double(value(item, *d))},
                          {QStringLiteral("text"), text},
                          {QStringLiteral("data"),
                           QStringLiteral("%1").arg(*d, 6, 16, QLatin1Char('0')).toUpper()}};
            o.insert(QStringLiteral("motor"), m < 0 ? QJsonValue() : QJsonValue(m + 1));
            json.append(o);
        } else if (m_o.quiet) {
            printOut(text);
        } else {
            printOut(QStringLiteral("%1%2 = %3").arg(motorLabel(m), item.name, text));
        }
    }
    if (m_o.json)
        printJson(json);
    return kDone;
}

int Tool::write()
{
    const auto pause = m_client->pausePolling();
    // One write per register and motor, its fields set over what the board holds just then.
    std::vector<RegisterKey> order;
    std::map<RegisterKey, std::vector<const Assignment *>> byRegister;
    for (const Assignment &a : m_assignments) {
        for (int m : a.item.common() ? std::vector<int>{-1} : motors()) {
            const RegisterKey key{a.item.reg, m};
            if (!byRegister.contains(key))
                order.push_back(key);
            byRegister[key].push_back(&a);
        }
    }
    QJsonArray json;
    QStringList written;
    for (const RegisterKey &key : order) {
        const auto &[reg, m] = key;
        const std::vector<const Assignment *> &set = byRegister[key];
        std::uint32_t setMask = 0;
        for (const Assignment *a : set)
            setMask |= a->item.def().mask();
        std::uint32_t writableMask = 0;
        for (const FieldDef &f : reg->fields)
            writableMask |= f.readOnly ? 0u : f.mask();
        std::uint32_t data = 0;
        if (reg->access != Access::ReadWriteZero && (writableMask & ~setMask) != 0) {
            const std::optional<std::uint32_t> d = registerData(*reg, m);
            if (!d)
                return error(kBoardSaidNo,
                             unanswered(*reg, m, tr("read")) + tr("; nothing more was written"));
            data = *d;
        }
        for (const Assignment *a : set)
            data = withValue(a->item, data, a->value);
        if (!m_client->write(*writeAddress(*reg, m < 0 ? 0 : m), data)) {
            // Its answer may be what was lost: the write itself may have reached the chip.
            QStringList unknown;
            for (const Assignment *a : set)
                unknown << motorLabel(m) + a->item.name;
            return error(kBoardSaidNo,
                         unanswered(*reg, m, tr("write")) +
                             (written.isEmpty()
                                  ? tr("; nothing was written before it")
                                  : tr("; written before it: %1").arg(written.join(tr(", ")))) +
                             tr("; %1 may have been written").arg(unknown.join(tr(", "))));
        }
        m_read.erase(key);
        for (const Assignment *a : set) {
            const QString text = valueText(a->item, data);
            written << motorLabel(m) + a->item.name;
            if (m_o.json) {
                QJsonObject o{{QStringLiteral("name"), a->item.name},
                              {QStringLiteral("value"), double(a->value)},
                              {QStringLiteral("text"), text}};
                o.insert(QStringLiteral("motor"), m < 0 ? QJsonValue() : QJsonValue(m + 1));
                json.append(o);
            } else if (!m_o.quiet) {
                printOut(tr("wrote %1%2 = %3").arg(motorLabel(m), a->item.name, text));
            }
        }
        // A write that carries only zero is a command (latch, fetch the telegram), not a value
        // to read back.
        if (m_o.verify && reg->access != Access::ReadWriteZero) {
            const std::optional<std::uint32_t> back = registerData(*reg, m);
            if (!back)
                return error(kBoardSaidNo, unanswered(*reg, m, tr("read-back")));
            if ((*back & setMask) != (data & setMask))
                return error(kBoardSaidNo, tr("%1%2 reads back %3 after %4 was written")
                                               .arg(motorLabel(m), nameOf(reg->name))
                                               .arg(*back & setMask, 6, 16, QLatin1Char('0'))
                                               .arg(data & setMask, 6, 16, QLatin1Char('0')));
        }
    }
    if (m_o.json)
        printJson(json);
    return kDone;
}

} // namespace kvx::cli
