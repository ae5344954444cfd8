// Fuzzes the settings file (IniFile) as the program uses it: the input is the file's bytes,
// written to a file that is loaded, queried for every section and key it names, resolved into
// ports, written back unchanged, then with the two keys the program writes, and loaded again.
// The hand-picked files (encodings, unreadable and hostile ones) are tst_inifile's.
//
// Checked: a file loads unless it holds a NUL byte; every key a section lists can be asked
// for; written back unchanged, every line keeps its bytes (line ends become one kind); after
// setValue every other line is still there in its order, and the file gives back what was
// written, "COM3=sim:korve" resolving to that simulated board (two known exceptions are
// described where they are left out); a file that is not text is kept as "<name>.bad" byte
// for byte.

#include "FuzzInput.h"
#include "link/PortName.h"
#include "settings/IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdlib>
#include <vector>

using namespace kvx;
using kvxfuzz::require;

namespace {

const QString kSettings = QStringLiteral("Settings");
const QString kPortKey = QStringLiteral("COMPort");
const QString kPorts = QStringLiteral("Ports");
const QString kPortName = QStringLiteral("COM3");
const QString kPortValue = QStringLiteral("sim:korve");
// At most this many sections named in a file are queried, so that a run stays short.
constexpr int kMaxSections = 8;

// The files live in memory where the system offers it: saving syncs to disk, which would
// otherwise cost most of each run.
QString path(const char *name)
{
    static const QString memory = QStringLiteral("/dev/shm");
    static QTemporaryDir dir(QFileInfo(memory).isWritable()
                                 ? memory + QStringLiteral("/kvx-fuzz-XXXXXX")
                                 : QDir::tempPath() + QStringLiteral("/kvx-fuzz-XXXXXX"));
    require(dir.isValid(), "the harness gets a directory of its own");
    return dir.filePath(QLatin1String(name));
}

void writeFile(const QString &name, const QByteArray &bytes)
{
    QFile file(name);
    require(file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                file.write(bytes) == bytes.size(),
            "the harness writes its file");
}

QByteArray readFile(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QList<QByteArray> lines(const QByteArray &content)
{
    QList<QByteArray> result = content.split('\n');
    for (QByteArray &line : result) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    if (!result.isEmpty() && result.last().isEmpty())
        result.removeLast();
    return result;
}

// The file as it is written back unchanged: the byte-order marks it began with, then its
// lines, each ended alike.
QByteArray rewritten(QByteArray content)
{
    const QByteArray mark("\xEF\xBB\xBF");
    QByteArray result;
    while (content.startsWith(mark)) {
        result += mark;
        content.remove(0, mark.size());
    }
    const QByteArray eol = content.contains("\r\n") ? "\r\n" : "\n";
    for (const QByteArray &line : lines(content))
        result += line + eol;
    return result;
}

// How many lines of `a` are found in `b` in the same order (their longest common subsequence),
// counting only pairs whose positions differ by at most kBand: two keys set add at most six
// lines and replace at most two, so the lines kept never move further.
qsizetype commonLines(const QList<QByteArray> &a, const QList<QByteArray> &b)
{
    constexpr qsizetype kBand = 8;
    if (std::abs(a.size() - b.size()) > kBand)
        return 0;
    std::vector<qsizetype> previous(std::size_t(b.size() + 1), 0);
    std::vector<qsizetype> current(previous.size(), 0);
    for (qsizetype i = 1; i <= a.size(); ++i) {
        const qsizetype low = std::max<qsizetype>(1, i - kBand);
        const qsizetype high = std::min(b.size(), i + kBand);
        // Outside the band counts as nothing in common.
        current[std::size_t(low - 1)] = 0;
        for (qsizetype j = low; j <= high; ++j) {
            const auto at = std::size_t(j);
            current[at] = a[i - 1] == b[j - 1] ? previous[at - 1] + 1
                                               : std::max(previous[at], current[at - 1]);
        }
        if (high < b.size())
            current[std::size_t(high + 1)] = 0;
        std::swap(previous, current);
    }
    return previous[std::size_t(b.size())];
}

void querySections(const IniFile &ini, const QByteArray &content)
{
    int queried = 0;
    for (const QByteArray &line : lines(content)) {
        const QByteArray t = line.trimmed();
        if (!t.startsWith('[') || !t.endsWith(']') || ++queried > kMaxSections)
            continue;
        const QString name = QString::fromUtf8(t.mid(1, t.size() - 2)).trimmed();
        const QMap<QString, QString> keys = ini.section(name);
        for (auto it = keys.cbegin(); it != keys.cend(); ++it)
            require(ini.value(name, it.key()).has_value(), "every key a section lists is found");
    }
    (void)ini.intValue(kSettings, kPortKey, 0);
    const QMap<QString, QString> ports = ini.section(kPorts);
    for (int n = 1; n <= 9; ++n)
        (void)resolvePortName(QStringLiteral("COM%1").arg(n), ports);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray content(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString file = path("Eval310.ini");
    const QString copy = path("copy.ini");
    const QString bad = file + QStringLiteral(".bad");
    QFile::remove(bad);
    writeFile(file, content);

    IniFile ini;
    const bool loaded = ini.load(file);
    if (content.size() > IniFile::kMaxSize) {
        // Left as it is: nothing more to check than that it was not read.
        require(!loaded && !ini.save(file), "a file too large is neither read nor overwritten");
        return 0;
    }
    require(loaded == !content.contains('\0'), "a file loads unless it holds a NUL byte");
    if (loaded) {
        querySections(ini, content);
        require(ini.save(copy), "a file that loaded can be written");
        require(readFile(copy) == rewritten(content), "written back unchanged, it keeps its lines");
    }

    const int port = int(size % 9);
    ini.setValue(kSettings, kPortKey, QString::number(port));
    ini.setValue(kPorts, kPortName, kPortValue);
    require(ini.save(file), "the settings can be written");
    if (!loaded)
        require(readFile(bad) == content, "a file that is not text is kept as it was");

    const QByteArray written = readFile(file);
    IniFile again;
    require(again.load(file), "what was written loads");
    // What was written reads back, also from a file that began with a byte-order mark or held
    // the key in two spellings (both used to lose it).
    require(again.intValue(kSettings, kPortKey, -1) == port, "the port index reads back");
    require(again.value(kPorts, kPortName) == kPortValue, "the port entry reads back");
    const PortTarget target = resolvePortName(kPortName, again.section(kPorts));
    require(target.kind == PortTarget::Kind::Simulated && target.variant == QLatin1String("korve"),
            "the port entry resolves to what was written");

    // Only the lines of the two keys may have been replaced; the rest keep their order.
    const QList<QByteArray> before = loaded ? lines(content) : QList<QByteArray>();
    require(commonLines(before, lines(written)) >= before.size() - 2,
            "setting two keys leaves every other line in its order");
    return 0;
}
