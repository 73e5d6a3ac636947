#include "settings_store.h"

#include <QDateTime>
#include <QFile>
#include <QIODevice>
#include <QSettings>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QStringTokenizer>
#include <algorithm>
#include <cstdio>
#include <utility>

namespace {

// A plain INI layout: "[section]" then "key=value" lines, names exactly as given. QSettings' own
// INI format would store the section "general" as "[%General]" and read it back under another
// name, and escapes blanks in keys; this one keeps the file as a person would write it.
// Returns false, leaving map untouched, for bytes that are not such a file: NUL bytes (UTF-16
// among others), text that is not UTF-8, or a line that is neither blank, a comment (";" or
// "#"), a "[section]" nor a "key=value". map may be null to only check.
bool ParseIni(const QByteArray& bytes, QSettings::SettingsMap* map) {
    if (bytes.contains('\0')) return false;
    QStringDecoder decoder(QStringDecoder::Utf8);  // drops a leading byte order mark, as editors write one
    const QString text = decoder.decode(bytes);
    if (decoder.hasError()) return false;
    QSettings::SettingsMap parsed;
    QString section;
    for (const QStringView raw : QStringTokenizer(text, u'\n')) {
        const QStringView line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(u';') || line.startsWith(u'#')) continue;
        if (line.startsWith(u'[')) {
            if (!line.endsWith(u']')) return false;
            section = line.mid(1, line.size() - 2).trimmed().toString();
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (equals <= 0) return false;
        const QString key = line.left(equals).trimmed().toString();
        parsed.insert(section.isEmpty() ? key : section + u'/' + key, line.mid(equals + 1).trimmed().toString());
    }
    if (map) map->insert(parsed);
    return true;
}

bool ReadIni(QIODevice& device, QSettings::SettingsMap& map) { return ParseIni(device.readAll(), &map); }

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

// What the last copy of an unreadable file left to say, until taken.
std::string& UnreadableNotice() {
    static std::string notice;
    return notice;
}

// A free name "<file>.unreadable-<date>[-n]" beside the file.
QString UnreadableCopyName(const QString& file) {
    const QString base = file + QStringLiteral(".unreadable-") +
                         QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString name = base;
    for (int n = 2; QFile::exists(name); ++n) name = base + u'-' + QString::number(n);
    return name;
}

// A file that exists but would read as nothing is copied aside before a write replaces it, so
// that what the user had in it can be recovered. Returns false when it should not be replaced.
bool KeepUnreadableFile(const QString& path) {
    QFile file(path);
    if (!file.exists() || !file.open(QIODevice::ReadOnly)) return true;  // nothing to lose, or nothing to read
    if (ParseIni(file.readAll(), nullptr)) return true;
    file.close();
    const QString copy = UnreadableCopyName(path);
    std::string notice;
    const bool copied = QFile::copy(path, copy);
    if (copied)
        notice = "settings file " + path.toStdString() + " could not be read, so defaults were used; it was kept as " +
                 copy.toStdString() + " before being rewritten";
    else
        notice = "settings file " + path.toStdString() +
                 " could not be read, and a copy could not be made; it is left as it is and settings are not saved";
    // A folder that refuses the copy refuses it on every write: that is said once.
    static std::string s_lastSaid;
    if (notice == s_lastSaid) return copied;
    s_lastSaid = notice;
    std::fprintf(stderr, "%s\n", notice.c_str());
    UnreadableNotice() = notice;
    return copied;
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

QVariant CSettingsStore::ReadValue(const char* section, const char* key) const {
    return WithSettings([&](QSettings& settings) { return settings.value(KeyPath(section, key)); });
}

int CSettingsStore::GetProfileInt(const char* section, const char* key, int defaultValue) const {
    const QVariant value = ReadValue(section, key);
    if (!value.isValid()) return defaultValue;
    bool ok = false;
    const int number = value.toString().trimmed().toInt(&ok);
    return ok ? number : defaultValue;
}

bool CSettingsStore::WriteProfileInt(const char* section, const char* key, int value) {
    return WriteValue(section, key, value);
}

std::string CSettingsStore::GetProfileString(const char* section, const char* key,
                                             const std::string& defaultValue) const {
    const QVariant value = ReadValue(section, key);
    return value.isValid() ? value.toString().trimmed().toStdString() : defaultValue;
}

bool CSettingsStore::WriteProfileString(const char* section, const char* key, const std::string& value) {
    // The file holds one key a line: a line break would cut the value and make the file unreadable.
    if (value.find_first_of("\r\n") != std::string::npos) return false;
    return WriteValue(section, key, QString::fromStdString(value).trimmed());
}

std::string CSettingsStore::ReadText(const TextSettingKey& key) const {
    return GetProfileString(key.section, key.key, key.defaultValue);
}

bool CSettingsStore::WriteText(const TextSettingKey& key, const std::string& value) {
    return WriteProfileString(key.section, key.key, value);
}

bool CSettingsStore::WriteValue(const char* section, const char* key, const QVariant& value) {
    if (!KeepUnreadableFile(QString::fromStdString(m_strPath))) return false;
    return WithSettings([&](QSettings& settings) {
        settings.setAtomicSyncRequired(true);  // through a temporary file renamed over the old one
        settings.setValue(KeyPath(section, key), value);
        settings.sync();
        // A format error is the old file's, read before it was replaced; the write itself succeeded.
        return settings.status() == QSettings::NoError || settings.status() == QSettings::FormatError;
    });
}

std::string CSettingsStore::TakeUnreadableNotice() { return std::exchange(UnreadableNotice(), std::string()); }

int CSettingsStore::Read(const SettingKey& key) const { return GetProfileInt(key.section, key.key, key.defaultValue); }

int CSettingsStore::ReadClamped(const SettingKey& key) const {
    return std::clamp(Read(key), key.minValue, key.maxValue);
}

bool CSettingsStore::ReadBool(const SettingKey& key) const { return Read(key) != 0; }

bool CSettingsStore::WriteBool(const SettingKey& key, bool value) {
    return Write(key, value ? Setting::kTrue : Setting::kFalse);
}

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

const TextSettingKey* FindTextSettingKey(std::string_view name) {
    const auto slash = name.find('/');
    if (slash == std::string_view::npos) return nullptr;
    for (const TextSettingKey& key : Setting::kTextKeys)
        if (name.substr(0, slash) == key.section && name.substr(slash + 1) == key.key) return &key;
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
