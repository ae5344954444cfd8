#include "settings/IniFile.h"

#include "settings/FileSave.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>

#ifdef Q_OS_UNIX
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kvx {

namespace {

const QByteArray kByteOrderMark("\xEF\xBB\xBF");

bool isSectionLine(const QString &line, QString *name = nullptr)
{
    const QString t = line.trimmed();
    if (!t.startsWith(QLatin1Char('[')) || !t.endsWith(QLatin1Char(']')))
        return false;
    if (name)
        *name = t.mid(1, t.size() - 2).trimmed();
    return true;
}

bool keyLine(const QString &line, QString *key, QString *value)
{
    const QString t = line.trimmed();
    if (t.isEmpty() || t.startsWith(QLatin1Char(';')) || t.startsWith(QLatin1Char('#')))
        return false;
    const qsizetype eq = t.indexOf(QLatin1Char('='));
    if (eq <= 0)
        return false;
    *key = t.left(eq).trimmed();
    *value = t.mid(eq + 1).trimmed();
    return true;
}

} // namespace

bool IniFile::readBounded(const QString &path, QByteArray *content)
{
#ifdef Q_OS_UNIX
    // Never block (a named pipe), never follow into a device (a link to /dev/zero), never read
    // more than a settings file can hold.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        m_unreadable = errno != ENOENT && errno != ENOTDIR;
        return false;
    }
    struct stat st
    {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxSize;
    if (ok) {
        content->resize(kMaxSize + 1);
        qsizetype got = 0;
        for (;;) {
            const ssize_t n = ::read(fd, content->data() + got, size_t(content->size() - got));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                ok = n == 0;
                break;
            }
            got += qsizetype(n);
            if (got > kMaxSize) {
                ok = false; // it grew while being read
                break;
            }
        }
        content->truncate(got);
    }
    ::close(fd);
    m_unreadable = !ok;
    return ok;
#else
    const QFileInfo info(path);
    if (!info.exists())
        return false;
    QFile file(path);
    if (!info.isFile() || info.size() > kMaxSize || !file.open(QIODevice::ReadOnly)) {
        m_unreadable = true;
        return false;
    }
    *content = file.read(kMaxSize + 1);
    m_unreadable = file.error() != QFileDevice::NoError || content->size() > kMaxSize;
    return !m_unreadable;
#endif
}

bool IniFile::load(const QString &path)
{
    m_lines.clear();
    m_garbled = false;
    m_unreadable = false;
    m_utf8 = true;
    m_marks.clear();
    QByteArray content;
    if (!readBounded(path, &content))
        return false;
    if (content.contains('\0')) {
        m_garbled = true;
        return false;
    }
    // Byte-order marks are no part of the first line (they would hide a section there, in one
    // encoding and not in the other); they are written back as they were. An editor that
    // added its own to a file that had one leaves two.
    while (content.startsWith(kByteOrderMark)) {
        m_marks += kByteOrderMark;
        content.remove(0, kByteOrderMark.size());
    }
    m_utf8 = QUtf8StringView(content).isValidUtf8();
    m_crlf = content.contains("\r\n");
    m_lines = content.split('\n');
    for (QByteArray &line : m_lines) {
        if (line.endsWith('\r'))
            line.chop(1);
    }
    if (!m_lines.isEmpty() && m_lines.last().isEmpty())
        m_lines.removeLast();
    return true;
}

QString IniFile::text(const QByteArray &line) const
{
    // A mark at the start of a later line is text, as it is in Windows-1252: fromUtf8 would
    // drop it and show a section there that the other reading does not.
    if (m_utf8)
        return QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom |
                                                        QStringDecoder::Flag::Stateless)(line);
    QStringDecoder ansi("windows-1252");
    if (ansi.isValid())
        return ansi(line);
    return QString::fromLatin1(line);
}

QByteArray IniFile::bytes(const QString &line) const
{
    if (m_utf8)
        return line.toUtf8();
    QStringEncoder ansi("windows-1252");
    if (ansi.isValid())
        return ansi(line);
    return line.toLatin1();
}

qsizetype IniFile::sectionLine(const QString &section) const
{
    QString name;
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        if (isSectionLine(text(m_lines[i]), &name) &&
            name.compare(section, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QList<IniFile::KeyLine> IniFile::keyLines(const QString &section, qsizetype *at) const
{
    QList<KeyLine> lines;
    const qsizetype start = sectionLine(section);
    if (at)
        *at = start;
    if (start < 0)
        return lines;
    KeyLine k;
    for (qsizetype i = start + 1; i < m_lines.size(); ++i) {
        const QString line = text(m_lines[i]);
        if (isSectionLine(line))
            break;
        if (keyLine(line, &k.key, &k.value)) {
            k.line = i;
            lines << k;
        }
    }
    return lines;
}

QMap<QString, QString> IniFile::section(const QString &section) const
{
    QMap<QString, QString> result;
    for (const KeyLine &k : keyLines(section)) {
        // Keys match without regard to case: the first spelling in the file is the key's.
        if (std::none_of(result.keyBegin(), result.keyEnd(), [&k](const QString &known) {
                return known.compare(k.key, Qt::CaseInsensitive) == 0;
            }))
            result.insert(k.key, k.value);
    }
    return result;
}

std::optional<QString> IniFile::value(const QString &section, const QString &key) const
{
    // The first line of the key in file order: the one setValue replaces.
    for (const KeyLine &k : keyLines(section)) {
        if (k.key.compare(key, Qt::CaseInsensitive) == 0)
            return k.value;
    }
    return std::nullopt;
}

int IniFile::intValue(const QString &section, const QString &key, int fallback) const
{
    bool ok = false;
    const int v = value(section, key).value_or(QString()).toInt(&ok);
    return ok ? v : fallback;
}

void IniFile::setValue(const QString &section, const QString &key, const QString &value)
{
    const QByteArray line = bytes(key + QLatin1Char('=') + value);
    qsizetype start = -1;
    const QList<KeyLine> keys = keyLines(section, &start);
    if (start < 0) {
        if (!m_lines.isEmpty() && !m_lines.last().trimmed().isEmpty())
            m_lines.append(QByteArray());
        m_lines.append(bytes(QLatin1Char('[') + section + QLatin1Char(']')));
        m_lines.append(line);
        return;
    }
    for (const KeyLine &k : keys) {
        if (k.key.compare(key, Qt::CaseInsensitive) == 0) {
            m_lines[k.line] = line;
            return;
        }
    }
    m_lines.insert((keys.isEmpty() ? start : keys.last().line) + 1, line);
}

void IniFile::removeKey(const QString &section, const QString &key)
{
    const QList<KeyLine> keys = keyLines(section);
    // From the last, so that the earlier lines keep their places.
    for (auto k = keys.crbegin(); k != keys.crend(); ++k) {
        if (k->key.compare(key, Qt::CaseInsensitive) == 0)
            m_lines.removeAt(k->line);
    }
}

bool IniFile::save(const QString &path)
{
    if (m_unreadable)
        return false;
    if (m_garbled && QFile::exists(path)) {
        const QString bad = path + QStringLiteral(".bad");
        QFile::remove(bad);
        if (!QFile::rename(path, bad))
            return false;
        m_garbled = false;
    }
    const QByteArray eol = m_crlf ? QByteArrayLiteral("\r\n") : QByteArrayLiteral("\n");
    QByteArray content = m_marks;
    for (const QByteArray &line : m_lines)
        content += line + eol;
    return saveWholeFile(path, content).isEmpty();
}

} // namespace kvx
