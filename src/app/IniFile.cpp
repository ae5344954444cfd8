#include "app/IniFile.h"

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>

namespace kvx {

namespace {

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

bool IniFile::load(const QString &path)
{
    m_lines.clear();
    m_garbled = false;
    m_unreadable = false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_unreadable = file.exists();
        return false;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        m_unreadable = true;
        return false;
    }
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8(bytes);
    if (utf8.hasError() || bytes.contains('\0')) {
        m_garbled = true;
        return false;
    }
    m_crlf = bytes.contains("\r\n");
    m_lines = text.split(QLatin1Char('\n'));
    for (QString &line : m_lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    if (!m_lines.isEmpty() && m_lines.last().isEmpty())
        m_lines.removeLast();
    return true;
}

qsizetype IniFile::sectionLine(const QString &section) const
{
    QString name;
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        if (isSectionLine(m_lines[i], &name) && name.compare(section, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QMap<QString, QString> IniFile::section(const QString &section) const
{
    QMap<QString, QString> result;
    const qsizetype start = sectionLine(section);
    if (start < 0)
        return result;
    QString key;
    QString value;
    for (qsizetype i = start + 1; i < m_lines.size() && !isSectionLine(m_lines[i]); ++i) {
        if (keyLine(m_lines[i], &key, &value) && !result.contains(key))
            result.insert(key, value);
    }
    return result;
}

std::optional<QString> IniFile::value(const QString &section, const QString &key) const
{
    const QMap<QString, QString> keys = this->section(section);
    for (auto it = keys.cbegin(); it != keys.cend(); ++it) {
        if (it.key().compare(key, Qt::CaseInsensitive) == 0)
            return it.value();
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
    const QString line = key + QLatin1Char('=') + value;
    const qsizetype start = sectionLine(section);
    if (start < 0) {
        if (!m_lines.isEmpty() && !m_lines.last().trimmed().isEmpty())
            m_lines.append(QString());
        m_lines.append(QLatin1Char('[') + section + QLatin1Char(']'));
        m_lines.append(line);
        return;
    }
    qsizetype lastKey = start;
    QString k;
    QString v;
    for (qsizetype i = start + 1; i < m_lines.size() && !isSectionLine(m_lines[i]); ++i) {
        if (!keyLine(m_lines[i], &k, &v))
            continue;
        if (k.compare(key, Qt::CaseInsensitive) == 0) {
            m_lines[i] = line;
            return;
        }
        lastKey = i;
    }
    m_lines.insert(lastKey + 1, line);
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
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QString eol = m_crlf ? QStringLiteral("\r\n") : QStringLiteral("\n");
    QString text;
    for (const QString &line : m_lines)
        text += line + eol;
    file.write(text.toUtf8());
    return file.commit();
}

} // namespace kvx
