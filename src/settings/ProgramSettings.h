#pragma once

// The program's settings file, "Eval310.ini": the port chosen ([Settings] COMPort) and what
// COM1..COM9 stand for ([Ports]). The one place that knows the file's keys, for the windows,
// the program's command line and the scripts. Every call reads the file as it is now and a
// write changes only its own lines, so that an edit by hand or by another copy of the program
// is never overwritten with an older state. No widgets; one thread at a time.

#include "settings/PortCatalog.h"

#include <QMap>
#include <QString>

#include <optional>

namespace kvx {

class ProgramSettings
{
public:
    explicit ProgramSettings(QString path);

    [[nodiscard]] const QString &path() const { return m_path; }

    // The index of the port chosen last (0 = "COM1"); 0 when the file names none.
    [[nodiscard]] int portIndex() const;
    // Written when the main window closes; false when the file could not be written.
    bool setPortIndex(int index);

    // The [Ports] section, "COM1".."COM9" to a device path or a simulated board.
    [[nodiscard]] QMap<QString, QString> ports() const;
    [[nodiscard]] PortTargets portTargets() const;
    bool setPortTargets(const PortTargets &targets);
    // One port's entry: none when the port keeps its default.
    [[nodiscard]] std::optional<QString> portEntry(const QString &portName) const;
    bool setPortEntry(const QString &portName, const QString &value);

private:
    QString m_path;
};

} // namespace kvx
