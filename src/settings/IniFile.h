#pragma once

// A settings file in INI format, kept line by line as the bytes it was read as, so that
// writing one key leaves every other section, key and comment exactly as it was, in whatever
// encoding the file has (Windows tools write ANSI, not UTF-8). Sections and keys match without
// regard to case. Pure file logic; usable from any thread, one object at a time.

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

#include <optional>

namespace kvx {

class IniFile
{
public:
    // A settings file holds a few hundred bytes; a larger one is not read.
    static constexpr qsizetype kMaxSize = 64 * 1024;

    // False, with an empty content, when the file is missing, is not a regular file, is too
    // large, cannot be read, or is plainly not text (it holds NUL bytes): all count as missing.
    // Text that is not UTF-8 is read as Windows-1252.
    bool load(const QString &path);

    [[nodiscard]] std::optional<QString> value(const QString &section, const QString &key) const;
    // Integer value or the default, also for a value that is not a number.
    [[nodiscard]] int intValue(const QString &section, const QString &key, int fallback) const;
    // All keys of a section with their values, keys as written in the file.
    [[nodiscard]] QMap<QString, QString> section(const QString &section) const;

    void setValue(const QString &section, const QString &key, const QString &value);
    // Every line of `key` in `section`; other lines stay as they are.
    void removeKey(const QString &section, const QString &key);

    // Writes the file whole or not at all. A file that is not text is first kept beside it as
    // "<name>.bad", so that nothing the user had is lost; a file that exists but could not be
    // read whole (not a regular file, too large, unreadable) is left as it is.
    bool save(const QString &path);

private:
    [[nodiscard]] QString text(const QByteArray &line) const;
    [[nodiscard]] QByteArray bytes(const QString &line) const;
    [[nodiscard]] qsizetype sectionLine(const QString &section) const;
    struct KeyLine
    {
        qsizetype line = -1;
        QString key;
        QString value;
    };
    // The key lines of `section` in file order; `at` gets the section's line, -1 when none.
    [[nodiscard]] QList<KeyLine> keyLines(const QString &section, qsizetype *at = nullptr) const;
    [[nodiscard]] bool readBounded(const QString &path, QByteArray *content);

    QList<QByteArray> m_lines; // without line ends
    bool m_crlf = false;
    bool m_utf8 = true;
    QByteArray m_marks; // the UTF-8 byte-order marks the file began with
    bool m_garbled = false;
    bool m_unreadable = false;
};

} // namespace kvx
