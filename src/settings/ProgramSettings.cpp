#include "settings/ProgramSettings.h"

#include "settings/IniFile.h"
#include "settings/SettingsLocation.h"

namespace kvx {

namespace {

const QString kSettingsSection = QStringLiteral("Settings");
const QString kPortKey = QStringLiteral("COMPort");
const QString kPortsSection = QStringLiteral("Ports");

IniFile read(const QString &path)
{
    IniFile ini;
    ini.load(path);
    return ini;
}

// The folder is created on first use (the user's configuration folder).
bool write(IniFile &ini, const QString &path)
{
    return ensureSettingsFolder(path) && ini.save(path);
}

} // namespace

ProgramSettings::ProgramSettings(QString path)
    : m_path(std::move(path))
{}

int ProgramSettings::portIndex() const
{
    return read(m_path).intValue(kSettingsSection, kPortKey, 0);
}

bool ProgramSettings::setPortIndex(int index)
{
    IniFile ini = read(m_path);
    ini.setValue(kSettingsSection, kPortKey, QString::number(index));
    return write(ini, m_path);
}

QMap<QString, QString> ProgramSettings::ports() const
{
    return read(m_path).section(kPortsSection);
}

PortTargets ProgramSettings::portTargets() const
{
    return readPortTargets(read(m_path));
}

bool ProgramSettings::setPortTargets(const PortTargets &targets)
{
    IniFile ini = read(m_path);
    writePortTargets(ini, targets);
    return write(ini, m_path);
}

std::optional<QString> ProgramSettings::portEntry(const QString &portName) const
{
    return read(m_path).value(kPortsSection, portName);
}

bool ProgramSettings::setPortEntry(const QString &portName, const QString &value)
{
    IniFile ini = read(m_path);
    ini.setValue(kPortsSection, portName, value);
    return write(ini, m_path);
}

} // namespace kvx
