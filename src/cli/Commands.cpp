#include "cli/Commands.h"

#include "app/ProgramSettings.h"
#include "app/SettingsLocation.h"
#include "chip/ValueFormat.h"
#include "cli/BoardClient.h"
#include "cli/CsvRecorder.h"
#include "cli/RegisterNames.h"
#include "cli/Snapshot.h"
#include "controls/FileSave.h"
#include "editor/MicrostepShape.h"
#include "editor/RamTable.h"
#include "session/MotionCommands.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <map>
#include <memory>
#include <unistd.h>

namespace kvx::cli {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("kvx310", text);
}

QString nameOf(std::string_view n)
{
    return QString::fromUtf8(n.data(), qsizetype(n.size()));
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
    std::fprintf(stderr, "kvx310: %s\n", qPrintable(message));
    return code;
}

QString motorLabel(int motor)
{
    return motor < 0 ? QString() : QStringLiteral("M%1 ").arg(motor + 1);
}

// The write end of a pipe that SIGINT and SIGTERM write to, so that the event loop hears of
// them: a recording ends with its file whole.
int g_signalPipe[2] = {-1, -1};

extern "C" void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(g_signalPipe[1], &c, 1);
}

class Tool
{
public:
    explicit Tool(const ToolOptions &o)
        : m_o(o)
    {}

    int run();

private:
    int connectBoard();
    int info();
    int read();
    int write();
    int go();
    int stop();
    int ram();
    int snapshot();
    int record();

    // Register data by register and motor, read once each; nothing when unanswered.
    std::optional<std::uint32_t> registerData(const RegisterDef &reg, int motor);
    QString unanswered(const RegisterDef &reg, int motor, const QString &what) const;
    // The RAM's 128 bytes as cells; nothing when a read went unanswered (`error` says which).
    std::optional<RamCells> readRam(QString *why);
    int writeRam(const std::vector<Datagram> &requests, int firstWord);
    struct BoardState
    {
        Snapshot snapshot;
        std::map<std::pair<const RegisterDef *, int>, std::uint32_t> data;
    };
    std::optional<BoardState> readBoard(QString *why);
    std::optional<Snapshot> readSnapshotFile(const QString &path, int *code);
    std::vector<int> motors() const;

    ToolOptions m_o;
    std::unique_ptr<BoardClient> m_client;
    std::map<std::pair<const RegisterDef *, int>, std::uint32_t> m_read;
};

int Tool::run()
{
    const QString command = m_o.words.value(0);
    static const QStringList kCommands = {QStringLiteral("info"),     QStringLiteral("read"),
                                          QStringLiteral("write"),    QStringLiteral("go"),
                                          QStringLiteral("stop"),     QStringLiteral("ram"),
                                          QStringLiteral("snapshot"), QStringLiteral("record")};
    if (command.isEmpty())
        return error(kUsage, tr("no command given; kvx310 --help lists them"));
    if (!kCommands.contains(command))
        return error(kUsage, tr("unknown command \"%1\"; kvx310 --help lists them").arg(command));
    // The command line is checked whole before the port is opened.
    if (command == QLatin1String("info") && m_o.words.size() > 1)
        return error(kUsage, tr("info takes no arguments"));
    if (const int code = connectBoard(); code != kDone)
        return code;
    if (command == QLatin1String("info"))
        return info();
    if (command == QLatin1String("read"))
        return read();
    if (command == QLatin1String("write"))
        return write();
    if (command == QLatin1String("go"))
        return go();
    if (command == QLatin1String("stop"))
        return stop();
    if (command == QLatin1String("ram"))
        return ram();
    if (command == QLatin1String("snapshot"))
        return snapshot();
    return record();
}

int Tool::connectBoard()
{
    const ProgramSettings settings(defaultSettingsPath());
    const QString port =
        m_o.port.isEmpty() ? QStringLiteral("COM%1").arg(settings.portIndex() + 1) : m_o.port;
    m_client = std::make_unique<BoardClient>();
    QString why;
    if (!m_client->open(port, settings.ports(), &why))
        return error(kPortFailed, why);
    // Only what watches the board live needs the poll cycle.
    const QString command = m_o.words.value(0);
    const bool polling = command == QLatin1String("record") || command == QLatin1String("info");
    if (!m_client->waitForBoard(&why, polling))
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
    const QString where = reg.common ? QString() : tr(" of motor %1").arg(motor + 1);
    if (m_client->lost())
        return tr("the port %1 was lost (%2) at the %3 of %4%5")
            .arg(m_client->device(), m_client->lostReason(), what, nameOf(reg.name), where);
    return tr("the board did not answer the %1 of %2%3; check the cable and the power")
        .arg(what, nameOf(reg.name), where);
}

std::optional<std::uint32_t> Tool::registerData(const RegisterDef &reg, int motor)
{
    const auto key = std::pair{&reg, reg.common ? -1 : motor};
    if (const auto it = m_read.find(key); it != m_read.end())
        return it->second;
    const std::optional<std::uint32_t> d = m_client->read(readAddress(reg, motor));
    if (d)
        m_read[key] = *d;
    return d;
}

int Tool::info()
{
    BoardLink &link = m_client->link();
    // A second of polling shows what the line carries.
    int replies = 0;
    QObject::connect(&m_client->session().scheduler(), &PollScheduler::pollReplyShown,
                     [&replies] { ++replies; });
    const std::int64_t from = link.fineNow();
    m_client->pause(1000);
    const double seconds = double(link.fineNow() - from) / 1e6;
    const double rate = replies / seconds;
    const double bytesPerExchange = double(link.frame(Datagram{}).size() + BoardLink::kReplySize);
    const double wire = 1e6 / (link.transport().characterTime() * bytesPerExchange);
    const QString variant = link.KorveBoard()    ? QStringLiteral("KORVE")
                            : link.PentarBoard() ? QStringLiteral("Pentar")
                                                 : QStringLiteral("KVX310 evaluation board");
    const QByteArray id = m_client->identification();
    const LinkCounters &c = link.counters();
    if (m_o.json) {
        printJson(QJsonObject{
            {QStringLiteral("device"), m_client->device()},
            {QStringLiteral("variant"), link.KorveBoard()    ? QStringLiteral("korve")
                                        : link.PentarBoard() ? QStringLiteral("pentar")
                                                             : QStringLiteral("plain")},
            {QStringLiteral("identification"), QString::fromLatin1(id.toHex(' ').toUpper())},
            {QStringLiteral("exchangesPerSecond"), rate},
            {QStringLiteral("lineShare"), rate / wire},
            {QStringLiteral("strayBytes"), double(c.strayBytes)},
            {QStringLiteral("lateBytes"), double(c.lateBytes)},
            {QStringLiteral("untrustedReplies"), double(c.untrustedReplies)},
            {QStringLiteral("unanswered"), double(c.unanswered)},
        });
        return kDone;
    }
    QString printable;
    for (char ch : id)
        printable += (ch >= 0x20 && ch < 0x7F) ? QChar(ch) : QChar('.');
    printOut(tr("device:         %1").arg(m_client->device()));
    printOut(tr("board:          %1").arg(variant));
    printOut(
        tr("identification: %1 (%2)").arg(QString::fromLatin1(id.toHex(' ').toUpper()), printable));
    printOut(tr("polling:        %1 exchanges/s, %2 of what the line carries at 19200 baud")
                 .arg(rate, 0, 'f', 1)
                 .arg(rate / wire, 0, 'f', 3));
    printOut(tr("thrown away:    %1 stray bytes, %2 late bytes, %3 untrusted replies, "
                "%4 unanswered requests")
                 .arg(c.strayBytes)
                 .arg(c.lateBytes)
                 .arg(c.untrustedReplies)
                 .arg(c.unanswered));
    return kDone;
}

int Tool::read()
{
    std::vector<Item> items;
    if (m_o.all) {
        if (m_o.words.size() > 1)
            return error(kUsage, tr("read takes names or --all, not both"));
        items = allItems();
    } else {
        if (m_o.words.size() < 2)
            return error(kUsage, tr("read needs a register or field name, or --all"));
        for (const QString &name : m_o.words.mid(1)) {
            QString why;
            const std::vector<Item> found = findItems(name, &why);
            if (found.empty())
                return error(kUsage, why);
            items.insert(items.end(), found.begin(), found.end());
        }
    }
    const PollPause pause = m_client->link().PausePolling();
    QJsonArray json;
    // Motor by motor, then the common registers.
    std::vector<std::pair<Item, int>> reads;
    for (int m : motors()) {
        for (const Item &item : items) {
            if (!item.common())
                reads.emplace_back(item, m);
        }
    }
    for (const Item &item : items) {
        if (item.common() && !(m_o.all && m_o.motor >= 0))
            reads.emplace_back(item, -1);
    }
    for (const auto &[item, m] : reads) {
        {
            const std::optional<std::uint32_t> d = registerData(*item.reg, m < 0 ? 0 : m);
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
    }
    if (m_o.json)
        printJson(json);
    return kDone;
}

int Tool::write()
{
    if (m_o.words.size() < 2)
        return error(kUsage, tr("write needs NAME=VALUE"));
    struct Assignment
    {
        Item item;
        std::int64_t value;
    };
    std::vector<Assignment> assignments;
    bool needsMotor = false;
    for (const QString &word : m_o.words.mid(1)) {
        const qsizetype eq = word.indexOf(QLatin1Char('='));
        if (eq <= 0)
            return error(kUsage, tr("\"%1\" is not NAME=VALUE").arg(word));
        QString why;
        const std::vector<Item> found = findItems(word.left(eq), &why);
        if (found.empty())
            return error(kUsage, why);
        if (found.size() > 1)
            return error(kUsage,
                         tr("%1 has several fields; write them by name").arg(word.left(eq)));
        const Item &item = found.front();
        if (!item.writable())
            return error(kUsage, tr("%1 is read-only").arg(item.name));
        const std::optional<std::int64_t> v = parseValue(item, word.mid(eq + 1), &why);
        if (!v)
            return error(kUsage, why + tr("; nothing was written"));
        needsMotor = needsMotor || !item.common();
        assignments.push_back({item, *v});
    }
    if (needsMotor && m_o.motor < 0 && !m_o.all)
        return error(kUsage, tr("say which motor to write with --motor 1, 2 or 3 (or --all)"));

    const PollPause pause = m_client->link().PausePolling();
    // One write per register and motor, its fields set over what the board holds.
    std::vector<std::pair<const RegisterDef *, int>> order;
    std::map<std::pair<const RegisterDef *, int>, std::vector<const Assignment *>> byRegister;
    for (const Assignment &a : assignments) {
        for (int m : a.item.common() ? std::vector<int>{-1} : motors()) {
            const auto key = std::pair{a.item.reg, m};
            if (!byRegister.contains(key))
                order.push_back(key);
            byRegister[key].push_back(&a);
        }
    }
    QJsonArray json;
    QStringList written;
    for (const auto &key : order) {
        const auto &[reg, m] = key;
        const int motor = m < 0 ? 0 : m;
        const std::vector<const Assignment *> &set = byRegister[key];
        std::uint32_t data = 0;
        std::uint32_t setMask = 0;
        for (const Assignment *a : set)
            setMask |= a->item.def().mask();
        std::uint32_t writableMask = 0;
        for (const FieldDef &f : reg->fields)
            writableMask |= f.readOnly ? 0u : f.mask();
        if (reg->access != Access::ReadWriteZero && (writableMask & ~setMask) != 0) {
            const std::optional<std::uint32_t> d = registerData(*reg, motor);
            if (!d)
                return error(kBoardSaidNo,
                             unanswered(*reg, m, tr("read")) + tr("; nothing more was written"));
            data = *d;
        }
        for (const Assignment *a : set)
            data = withValue(a->item, data, a->value);
        if (!m_client->write(*writeAddress(*reg, motor), data)) {
            return error(kBoardSaidNo,
                         unanswered(*reg, m, tr("write")) +
                             (written.isEmpty()
                                  ? tr("; nothing was written before it")
                                  : tr("; written before it: %1").arg(written.join(tr(", ")))));
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
        if (m_o.verify) {
            const std::optional<std::uint32_t> back = registerData(*reg, motor);
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

int Tool::go()
{
    if (m_o.motor < 0)
        return error(kUsage, tr("go needs --motor 1, 2 or 3"));
    const auto mode = std::find_if(std::begin(kRampModeNames), std::end(kRampModeNames),
                                   [&](std::string_view n) { return nameOf(n) == m_o.mode; });
    if (mode == std::end(kRampModeNames))
        return error(kUsage, tr("--mode takes RAMP, SOFTMODE, VELOCITY or HOLD"));
    const int rampMode = int(mode - std::begin(kRampModeNames));
    if (!m_o.target)
        return error(kUsage, tr("go needs --target"));
    const int m = m_o.motor;
    const bool positioning = rampMode <= int(RampMode::SoftMode);
    // The ranges the main window's fields hold.
    const int targetReg = positioning                           ? motor::XTarget
                          : rampMode == int(RampMode::Velocity) ? motor::VTarget
                                                                : motor::VActual;
    const FieldDef &tf = motorRegister(targetReg).fields[0];
    if (*m_o.target < tf.minimum || *m_o.target > tf.maximum)
        return error(
            kUsage,
            tr("--target takes %1 to %2 in %3 mode").arg(tf.minimum).arg(tf.maximum).arg(m_o.mode));
    const PollPause pause = m_client->link().PausePolling();
    GoParameters p;
    p.mode = rampMode;
    p.xTarget = p.vTarget = p.vActual = int(*m_o.target);
    for (const auto &[given, reg, into] :
         {std::tuple{m_o.vMin, motor::VMin, &p.vMin}, std::tuple{m_o.vMax, motor::VMax, &p.vMax},
          std::tuple{m_o.aMax, motor::AMax, &p.aMax}}) {
        const FieldDef &f = motorRegister(reg).fields[0];
        if (given) {
            if (*given < f.minimum || *given > f.maximum)
                return error(kUsage, tr("%1 takes %2 to %3")
                                         .arg(nameOf(motorRegister(reg).name))
                                         .arg(f.minimum)
                                         .arg(f.maximum));
            *into = int(*given);
            continue;
        }
        const std::optional<std::uint32_t> d = registerData(motorRegister(reg), m);
        if (!d)
            return error(kBoardSaidNo, unanswered(motorRegister(reg), m, tr("read")) +
                                           tr("; nothing was written"));
        *into = int(std::clamp<std::int64_t>(readValue(*d, motorRegister(reg).valueClass),
                                             f.minimum, f.maximum));
    }
    int declined = -1;
    const QString stopped = goMotor(m_client->link(), m, p, [&](int minimum) {
        if (m_o.force)
            return true;
        declined = minimum;
        return false;
    });
    if (declined >= 0)
        return error(kBoardSaidNo,
                     tr("motor %1 was not started: A_MAX %2 is below %3, the least its dividers "
                        "allow; give --amax %3 or more, or --force (its ramp mode was written)")
                         .arg(m + 1)
                         .arg(p.aMax)
                         .arg(declined));
    if (!stopped.isEmpty())
        return error(kBoardSaidNo, tr("motor %1 was not started: %2").arg(m + 1).arg(stopped));
    if (!m_o.quiet && !m_o.json)
        printOut(
            tr("motor %1 started in %2 mode towards %3").arg(m + 1).arg(m_o.mode).arg(*m_o.target));
    if (!m_o.wait || rampMode == int(RampMode::Hold))
        return kDone;
    // Waits on the register that shows arrival: the position, or the velocity.
    const RegisterDef &actual = motorRegister(positioning ? motor::XActual : motor::VActual);
    QElapsedTimer clock;
    clock.start();
    std::int64_t now = 0;
    while (true) {
        const std::optional<std::uint32_t> d = m_client->read(readAddress(actual, m));
        if (!d)
            return error(kBoardSaidNo, unanswered(actual, m, tr("read")));
        now = readValue(*d, actual.valueClass);
        if (now == *m_o.target)
            break;
        if (clock.elapsed() > qint64(m_o.timeout * 1000))
            return error(kBoardSaidNo, tr("motor %1 did not reach %2 within %3 s (%4 is %5)")
                                           .arg(m + 1)
                                           .arg(*m_o.target)
                                           .arg(m_o.timeout)
                                           .arg(nameOf(actual.name))
                                           .arg(now));
        m_client->pause(10);
    }
    if (!m_o.quiet && !m_o.json)
        printOut(tr("motor %1 reached %2").arg(m + 1).arg(now));
    return kDone;
}

int Tool::stop()
{
    if (m_o.words.size() > 1)
        return error(kUsage, tr("stop takes --motor N or --all, no other arguments"));
    const PollPause pause = m_client->link().PausePolling();
    for (int m : motors()) {
        // X_ACTUAL takes the target position, as the main window's Stop writes it: a stale
        // number would move the motor's position count.
        const std::optional<std::uint32_t> target = registerData(motorRegister(motor::XTarget), m);
        if (!target)
            return error(kBoardSaidNo, unanswered(motorRegister(motor::XTarget), m, tr("read")) +
                                           tr("; motor %1 was not stopped").arg(m + 1));
        stopMotor(m_client->link(), m, int(readValue(*target, ValueClass::Signed23)));
        if (!m_o.quiet && !m_o.json)
            printOut(tr("motor %1 stopped").arg(m + 1));
    }
    return kDone;
}

std::optional<RamCells> Tool::readRam(QString *why)
{
    const std::vector<Datagram> requests = ramReadRequests();
    const BoardLink::Batch batch = m_client->link().directRequests(requests);
    if (batch.failedAt >= 0) {
        *why = m_client->lost()
                   ? tr("the port %1 was lost (%2) at RAM word %3")
                         .arg(m_client->device(), m_client->lostReason())
                         .arg(batch.failedAt)
                   : tr("the board did not answer the read of RAM word %1").arg(batch.failedAt);
        return std::nullopt;
    }
    RamCells cells;
    for (int w = 0; w < kRamWordCount; ++w)
        takeRamWord(cells, w, batch.replies[std::size_t(w)].data);
    return cells;
}

int Tool::writeRam(const std::vector<Datagram> &requests, int firstWord)
{
    const BoardLink::Batch batch = m_client->link().directRequests(requests);
    if (batch.failedAt < 0)
        return kDone;
    const int word = firstWord + batch.failedAt;
    return error(kBoardSaidNo,
                 (m_client->lost()
                      ? tr("the port %1 was lost (%2) at RAM word %3")
                            .arg(m_client->device(), m_client->lostReason())
                            .arg(word)
                      : tr("the board did not answer the write of RAM word %1").arg(word)) +
                     tr("; words %1 to %2 were written").arg(firstWord).arg(word - 1));
}

int Tool::ram()
{
    const QString sub = m_o.words.value(1);
    const PollPause pause = m_client->link().PausePolling();
    QString why;
    if (sub == QLatin1String("read") && m_o.words.size() <= 3) {
        const std::optional<RamCells> cells = readRam(&why);
        if (!cells)
            return error(kBoardSaidNo, why);
        if (m_o.words.size() == 3) {
            const QString reason = saveWholeFile(m_o.words[2], ramFileText(*cells));
            if (!reason.isEmpty())
                return error(kUsage, tr("could not save %1: %2").arg(m_o.words[2], reason));
        } else if (m_o.json) {
            QJsonArray bytes;
            for (const QString &c : *cells)
                bytes.append(c.toInt(nullptr, 16));
            printJson(QJsonObject{{QStringLiteral("ram"), bytes}});
        } else {
            std::fputs(QString::fromLatin1(ramFileText(*cells))
                           .remove(QLatin1Char('\r'))
                           .toLocal8Bit()
                           .constData(),
                       stdout);
        }
        return kDone;
    }
    if (sub == QLatin1String("write") && m_o.words.size() == 3) {
        QFile file(m_o.words[2]);
        if (!file.open(QIODevice::ReadOnly))
            return error(kUsage, tr("could not read %1: %2").arg(m_o.words[2], file.errorString()));
        // Rows a short file does not reach keep what the board holds, as the RAM page's grid
        // keeps what it shows.
        std::optional<RamCells> cells = readRam(&why);
        if (!cells)
            return error(kBoardSaidNo, why);
        const RamLoad load = loadRamFile(file, *cells);
        if (load != RamLoad::Done)
            return error(
                kUsage,
                load == RamLoad::Cut
                    ? tr("%1 is not a RAM file: no 8 lines in its first MiB; nothing was written")
                          .arg(m_o.words[2])
                    : tr("could not read %1 to its end: %2; nothing was written")
                          .arg(m_o.words[2], file.errorString()));
        if (const int bad = firstInvalidCell(*cells); bad >= 0)
            return error(kUsage, tr("%1: row %2, column %3 holds \"%4\", not two hexadecimal "
                                    "digits; nothing was written")
                                     .arg(m_o.words[2])
                                     .arg(bad / kRamColumns + 1)
                                     .arg(bad % kRamColumns + 1)
                                     .arg((*cells)[std::size_t(bad)]));
        if (const int code = writeRam(ramWriteRequests(*cells), 0); code != kDone)
            return code;
        if (!m_o.quiet && !m_o.json)
            printOut(tr("wrote the 128 RAM bytes from %1").arg(m_o.words[2]));
        return kDone;
    }
    if (sub == QLatin1String("shape") && m_o.words.size() == 2) {
        if (!m_o.sigma)
            return error(kUsage, tr("ram shape needs --sigma S, S from -1 to 1"));
        const ShapeTable table = CalcShapeTable(*m_o.sigma);
        RamCells cells;
        cells.fill(QStringLiteral("00"));
        for (int i = 0; i < kShapeSteps; ++i)
            cells[std::size_t(kShapeFirstByte + i)] =
                QStringLiteral("%1").arg(table[std::size_t(i)], 2, 16, QLatin1Char('0')).toUpper();
        if (m_o.write) {
            constexpr int kFirstWord = kShapeFirstByte / 2;
            if (const int code = writeRam(ramWriteRequests(cells, kFirstWord), kFirstWord);
                code != kDone)
                return code;
        }
        if (m_o.json) {
            QJsonArray values;
            for (int v : table)
                values.append(v);
            printJson(QJsonObject{{QStringLiteral("sigma"), *m_o.sigma},
                                  {QStringLiteral("shape"), values},
                                  {QStringLiteral("written"), m_o.write}});
        } else {
            for (int row = 0; row < kShapeSteps / kRamColumns; ++row) {
                QStringList bytes;
                for (int c = 0; c < kRamColumns; ++c)
                    bytes << cells[std::size_t(kShapeFirstByte + row * kRamColumns + c)];
                printOut(bytes.join(QLatin1Char(',')));
            }
            if (m_o.write && !m_o.quiet)
                printOut(tr("wrote the shape to RAM bytes 0x40 to 0x7F"));
        }
        return kDone;
    }
    return error(kUsage, tr("ram takes: read [FILE], write FILE, or shape --sigma S [--write]"));
}

std::optional<Tool::BoardState> Tool::readBoard(QString *why)
{
    BoardState state;
    for (int common = 1; common >= 0; --common) {
        for (int m : common ? std::vector<int>{0} : std::vector<int>{0, 1, 2}) {
            for (const RegisterDef *reg : snapshotRegisters(common != 0)) {
                const std::optional<std::uint32_t> d = registerData(*reg, m);
                if (!d) {
                    *why = unanswered(*reg, common ? -1 : m, tr("read"));
                    return std::nullopt;
                }
                state.data[{reg, common ? -1 : m}] = *d;
                addRegister(state.snapshot, *reg, m, *d);
            }
        }
    }
    const std::optional<RamCells> cells = readRam(why);
    if (!cells)
        return std::nullopt;
    std::array<std::uint8_t, kRamByteCount> ram{};
    for (int b = 0; b < kRamByteCount; ++b)
        ram[std::size_t(b)] = std::uint8_t((*cells)[std::size_t(b)].toUInt(nullptr, 16));
    state.snapshot.ram = ram;
    return state;
}

std::optional<Snapshot> Tool::readSnapshotFile(const QString &path, int *code)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *code = error(kUsage, tr("could not read %1: %2").arg(path, file.errorString()));
        return std::nullopt;
    }
    QString why;
    std::optional<Snapshot> s = parseSnapshot(file.readAll(), &why);
    if (!s)
        *code = error(kUsage, tr("%1: %2; nothing was written").arg(path, why));
    return s;
}

int Tool::snapshot()
{
    const QString sub = m_o.words.value(1);
    if (m_o.words.size() != 3 ||
        !QStringList{QStringLiteral("save"), QStringLiteral("diff"), QStringLiteral("restore")}
             .contains(sub))
        return error(kUsage,
                     tr("snapshot takes: save FILE, diff FILE, or restore FILE [--dry-run]"));
    const QString path = m_o.words[2];
    std::optional<Snapshot> wanted;
    if (sub != QLatin1String("save")) {
        int code = kDone;
        wanted = readSnapshotFile(path, &code);
        if (!wanted)
            return code;
    }
    const PollPause pause = m_client->link().PausePolling();
    QString why;
    const std::optional<BoardState> board = readBoard(&why);
    if (!board)
        return error(kBoardSaidNo, why);
    if (sub == QLatin1String("save")) {
        const QString heading =
            tr("kvx310 snapshot of the board on %1, %2\n"
               "NAME = VALUE as kvx310 read shows it; a line left out leaves that value as the "
               "board holds it.\n"
               "[RAM]: the 128 bytes, 8 rows of 16.")
                .arg(m_client->device(), QDateTime::currentDateTime().toString(Qt::ISODate));
        const QString reason = saveWholeFile(path, snapshotText(board->snapshot, heading));
        if (!reason.isEmpty())
            return error(kUsage, tr("could not save %1: %2").arg(path, reason));
        if (!m_o.quiet && !m_o.json)
            printOut(tr("saved %1 values and the RAM to %2")
                         .arg(board->snapshot.values.size())
                         .arg(path));
        return kDone;
    }
    const std::vector<Difference> diffs = differences(board->snapshot, *wanted);
    const bool restore = sub == QLatin1String("restore") && !m_o.dryRun;
    QJsonArray json;
    auto report = [&](const Difference &d) {
        if (m_o.json) {
            json.append(QJsonObject{{QStringLiteral("name"), label(d)},
                                    {QStringLiteral("board"), d.boardText},
                                    {QStringLiteral("file"), d.wantedText}});
        } else if (sub == QLatin1String("diff")) {
            printOut(tr("%1: board %2, file %3").arg(label(d), d.boardText, d.wantedText));
        } else {
            printOut(tr("%1%2: %3 -> %4")
                         .arg(restore ? QString() : tr("would set "), label(d), d.boardText,
                              d.wantedText));
        }
    };
    // RAM words, then registers: each written once, with every field of it that differs.
    std::size_t i = 0;
    std::vector<Datagram> ramWrites;
    std::vector<int> ramWords;
    for (; i < diffs.size() && diffs[i].ramByte >= 0; ++i) {
        const int word = diffs[i].ramByte / 2;
        if (ramWords.empty() || ramWords.back() != word) {
            ramWords.push_back(word);
            ramWrites.push_back(
                Datagram::make(ramWordAddress(word, false),
                               packRamWord((*wanted->ram)[std::size_t(2 * word)],
                                           (*wanted->ram)[std::size_t(2 * word + 1)])));
        }
        report(diffs[i]);
    }
    if (restore) {
        for (std::size_t w = 0; w < ramWrites.size(); ++w) {
            if (!m_client->link().DirectRequest(ramWrites[w]))
                return error(
                    kBoardSaidNo,
                    tr("the board did not answer the write of RAM word %1").arg(ramWords[w]));
        }
    }
    while (i < diffs.size()) {
        const Difference &first = diffs[i];
        const auto key = std::pair{first.item.reg, first.motor};
        std::uint32_t data = board->data.at(key);
        for (; i < diffs.size() && diffs[i].item.reg == first.item.reg &&
               diffs[i].motor == first.motor;
             ++i) {
            data = withValue(diffs[i].item, data, diffs[i].wanted);
            report(diffs[i]);
        }
        if (restore && !m_client->write(
                           *writeAddress(*first.item.reg, first.motor < 0 ? 0 : first.motor), data))
            return error(kBoardSaidNo, unanswered(*first.item.reg, first.motor, tr("write")));
    }
    if (m_o.json)
        printJson(json);
    return kDone;
}

int Tool::record()
{
    if (m_o.words.size() != 2)
        return error(kUsage, tr("record takes one file name (- for the standard output)"));
    QString why;
    const std::optional<std::vector<CsvRecorder::Column>> columns =
        CsvRecorder::columns(m_o.rows, m_o.motor, &why);
    if (!columns)
        return error(kUsage, why);
    const QString path = m_o.words[1];
    QFile file;
    const bool toStdout = path == QLatin1String("-");
    const bool opened =
        toStdout ? file.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered)
                 : (file.setFileName(path),
                    file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered));
    if (!opened)
        return error(kUsage, tr("could not create %1: %2").arg(path, file.errorString()));

    BoardSession &session = m_client->session();
    CsvRecorder recorder(session, file, *columns);
    if (!recorder.start())
        return error(kUsage, tr("could not write %1: %2").arg(path, recorder.errorString()));
    QEventLoop loop;
    int code = kDone;
    QString stoppedBy;
    const bool tty = ::isatty(STDERR_FILENO) != 0;
    quint64 printed = ~quint64{0};
    auto progress = [&](bool last) {
        // A log has the last figures once.
        if (m_o.quiet || (last && !tty && printed == recorder.lines()))
            return;
        printed = recorder.lines();
        const double s = recorder.seconds();
        std::fprintf(stderr, "%srecording: %.0f s, %.1f lines/s, %llu lines, %.1f KiB%s",
                     tty ? "\r" : "", s, s > 0 ? double(recorder.lines()) / s : 0.0,
                     static_cast<unsigned long long>(recorder.lines()),
                     double(recorder.bytesWritten()) / 1024.0, tty && !last ? "" : "\n");
        std::fflush(stderr);
    };
    QTimer everySecond;
    int ticks = 0;
    QObject::connect(&everySecond, &QTimer::timeout, &loop, [&] {
        if (!recorder.flush()) {
            code = error(kUsage, tr("could not write %1: %2").arg(path, recorder.errorString()));
            loop.quit();
            return;
        }
        // Every second on a terminal; now and then in a log.
        if (tty || ++ticks % 10 == 0)
            progress(false);
    });
    everySecond.start(1000);
    QObject::connect(m_client.get(), &BoardClient::deviceLost, &loop, [&](const QString &reason) {
        stoppedBy = tr("the port %1 was lost (%2)").arg(m_client->device(), reason);
        code = kBoardSaidNo;
        loop.quit();
    });
    if (m_o.duration >= 0)
        QTimer::singleShot(qint64(m_o.duration * 1000), &loop, &QEventLoop::quit);
    // Ctrl+C and SIGTERM end the recording with its file whole.
    if (::pipe(g_signalPipe) == 0) {
        struct sigaction sa
        {};
        sa.sa_handler = onSignal;
        ::sigaction(SIGINT, &sa, nullptr);
        ::sigaction(SIGTERM, &sa, nullptr);
    }
    QSocketNotifier interrupted(g_signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&interrupted, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
    loop.exec();
    everySecond.stop();
    const quint64 unanswered = m_client->link().counters().unanswered;
    if (!recorder.flush() && code == kDone)
        code = error(kUsage, tr("could not write %1: %2").arg(path, recorder.errorString()));
    file.close();
    progress(true);
    if (!stoppedBy.isEmpty())
        return error(code, stoppedBy + tr("; %1 keeps the %2 lines recorded")
                                           .arg(toStdout ? tr("the output") : path)
                                           .arg(recorder.lines()));
    if (code == kDone && unanswered > 0)
        return error(
            kBoardSaidNo,
            tr("the board left %1 poll requests unanswered during the recording").arg(unanswered));
    return code;
}

} // namespace

int runCommand(const ToolOptions &options)
{
    Tool tool(options);
    return tool.run();
}

} // namespace kvx::cli
