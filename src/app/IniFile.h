#pragma once

// A settings file in INI format, kept line by line so that writing one key leaves every other
// section, key and comment exactly as it was. Sections and keys match without regard to case.
// Pure file logic; usable from any thread, one object at a time.

#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>

namespace kvx {

class IniFile
{
public:
    // False, with an empty content, when the file is missing, unreadable or garbled (binary
    // bytes or text that is not UTF-8): such a file counts as missing.
    bool load(const QString &path);

    [[nodiscard]] std::optional<QString> value(const QString &section, const QString &key) const;
    // Integer value or the default, also for a value that is not a number.
    [[nodiscard]] int intValue(const QString &section, const QString &key, int fallback) const;
    // All keys of a section with their values, keys as written in the file.
    [[nodiscard]] QMap<QString, QString> section(const QString &section) const;

    void setValue(const QString &section, const QString &key, const QString &value);

    // Writes the file whole or not at all. A garbled file found at load is first kept beside
    // it as "<name>.bad", so that nothing the user had is lost; a file that exists but could
    // not be read is not written at all, since its content is unknown.
    bool save(const QString &path);

private:
    [[nodiscard]] qsizetype sectionLine(const QString &section) const;

    QStringList m_lines;
    bool m_crlf = false;
    bool m_garbled = false;
    bool m_unreadable = false;
};

} // namespace kvx
