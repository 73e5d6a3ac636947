#include "settings_store.h"

#include <QIODevice>
#include <QSettings>
#include <QStandardPaths>
#include <algorithm>

namespace {

// A plain INI layout: "[section]" then "key=value" lines, names exactly as given. QSettings' own
// INI format would store the section "general" as "[%General]" and read it back under another
// name, and escapes blanks in keys; this one keeps the file as a person would write it.
bool ReadIni(QIODevice& device, QSettings::SettingsMap& map) {
    QString section;
    while (!device.atEnd()) {
        const QString line = QString::fromUtf8(device.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(u';') || line.startsWith(u'#')) continue;
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            section = line.mid(1, line.size() - 2).trimmed();
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (equals <= 0) continue;  // not a setting: ignored, and dropped at the next write
        const QString key = line.left(equals).trimmed();
        map.insert(section.isEmpty() ? key : section + u'/' + key, line.mid(equals + 1).trimmed());
    }
    return true;
}

bool WriteIni(QIODevice& device, const QSettings::SettingsMap& map) {
    QString rootLines;  // hand-written keys outside any section must stay above the first header
    QString sectionLines;
    QString section;
    // The map is sorted, so each section's keys come together.
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        const qsizetype slash = it.key().indexOf(u'/');
        const QString line = it.key().mid(slash + 1) + u'=' + it.value().toString() + u'\n';
        if (slash < 0) {
            rootLines += line;
            continue;
        }
        const QString keySection = it.key().left(slash);
        if (keySection != section || sectionLines.isEmpty()) {
            if (!sectionLines.isEmpty()) sectionLines += u'\n';
            sectionLines += u'[' + keySection + QStringLiteral("]\n");
            section = keySection;
        }
        sectionLines += line;
    }
    if (!rootLines.isEmpty() && !sectionLines.isEmpty()) rootLines += u'\n';
    const QByteArray bytes = (rootLines + sectionLines).toUtf8();
    return device.write(bytes) == bytes.size();
}

QSettings::Format IniFormat() {
    static const QSettings::Format format = QSettings::registerFormat(QStringLiteral("ini"), ReadIni, WriteIni);
    return format;
}

QString KeyPath(const char* section, const char* key) {
    return QString::fromUtf8(section) + u'/' + QString::fromUtf8(key);
}

}  // namespace

std::string SettingsFilePath(const std::string& company) {
    // The path is built here rather than left to QSettings, which fixes its folder once per
    // process: reading XDG_CONFIG_HOME each time lets tests and tools point it elsewhere.
    const QString configHome = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return (configHome + u'/' + QString::fromStdString(company) + u'/' + QString::fromUtf8(CSettingsStore::kAppTitle) +
            QStringLiteral(".ini"))
        .toStdString();
}

CSettingsStore::CSettingsStore(const std::string& company) : m_strPath(SettingsFilePath(company)) {}

// A QSettings per call: its error status is sticky, and a write must report its own outcome.
// Qt keeps the parsed file cached between instances, so this costs a stat, not a parse.
template <typename Use>
auto CSettingsStore::WithSettings(Use use) const {
    QSettings settings(QString::fromStdString(m_strPath), IniFormat());
    return use(settings);
}

int CSettingsStore::GetProfileInt(const char* section, const char* key, int defaultValue) const {
    const QVariant value = WithSettings([&](QSettings& settings) { return settings.value(KeyPath(section, key)); });
    if (!value.isValid()) return defaultValue;
    bool ok = false;
    const int number = value.toString().trimmed().toInt(&ok);
    return ok ? number : defaultValue;
}

bool CSettingsStore::WriteProfileInt(const char* section, const char* key, int value) {
    return WithSettings([&](QSettings& settings) {
        settings.setAtomicSyncRequired(true);  // through a temporary file renamed over the old one
        settings.setValue(KeyPath(section, key), value);
        settings.sync();
        return settings.status() == QSettings::NoError;
    });
}

int CSettingsStore::Read(const SettingKey& key) const { return GetProfileInt(key.section, key.key, key.defaultValue); }

int CSettingsStore::ReadClamped(const SettingKey& key) const {
    return std::clamp(Read(key), key.minValue, key.maxValue);
}

bool CSettingsStore::ReadBool(const SettingKey& key) const { return Read(key) != 0; }

bool CSettingsStore::Write(const SettingKey& key, int value) { return WriteProfileInt(key.section, key.key, value); }

bool CSettingsStore::Contains(const char* section, const char* key) const {
    return WithSettings([&](QSettings& settings) { return settings.contains(KeyPath(section, key)); });
}

const SettingKey* FindSettingKey(std::string_view section, std::string_view key) {
    auto matches = [&](const SettingKey& entry) { return entry.section == section && entry.key == key; };
    for (const SettingKey& entry : Setting::kNamedKeys)
        if (matches(entry)) return &entry;
    for (const auto& axis : Setting::kProfilePoints)
        for (const SettingKey& entry : axis)
            if (matches(entry)) return &entry;
    return nullptr;
}

const SettingKey* FindSettingKey(std::string_view name, std::string& error) {
    const auto slash = name.find('/');
    const SettingKey* key =
        slash == std::string_view::npos ? nullptr : FindSettingKey(name.substr(0, slash), name.substr(slash + 1));
    if (!key) error = "unknown key '" + std::string(name) + "' (expected SECTION/KEY, e.g. settings/sliderLrMouse)";
    return key;
}

std::optional<SettingAssignment> ParseSettingAssignment(std::string_view text, std::string& error) {
    const auto equals = text.find('=');
    if (equals == std::string_view::npos) {
        error = "expected SECTION/KEY=VALUE, not '" + std::string(text) + "'";
        return std::nullopt;
    }
    const SettingKey* key = FindSettingKey(text.substr(0, equals), error);
    if (!key) return std::nullopt;
    const std::string number(text.substr(equals + 1));
    bool ok = false;
    const int value = QString::fromStdString(number).toInt(&ok);
    if (!ok) {
        error = "'" + number + "' is not a whole number";
        return std::nullopt;
    }
    return SettingAssignment{key, value};
}
