#include "base/settings_store.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QMap>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QStringTokenizer>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <utility>

namespace {

// "section/key" (a key outside any section alone) to its value, sorted so that each section's
// keys come together.
using SettingsMap = QMap<QString, QString>;

// Which version of the file was read. Every writer of this program replaces the file by a rename,
// which gives a new inode; an editor that writes in place changes the size or the times.
struct FileVersion {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    long long modifiedNs = 0, changedNs = 0;
    bool operator==(const FileVersion&) const = default;
};

long long Nanoseconds(const timespec& t) { return t.tv_sec * 1'000'000'000LL + t.tv_nsec; }

FileVersion VersionOf(const struct stat& status) {
    return {status.st_dev, status.st_ino, status.st_size, Nanoseconds(status.st_mtim), Nanoseconds(status.st_ctim)};
}

// File times come from the kernel's coarse clock: a change made within the same tick as the
// version seen would keep its times. Only a version older than the clock's present tick is
// trusted to show every later change.
bool Settled(const FileVersion& version) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
    return version.changedNs < Nanoseconds(now);
}

// A plain INI layout: "[section]" then "key=value" lines, names exactly as given, as a person
// would write the file.
// Returns false, leaving map untouched, for bytes that are not such a file: NUL bytes (UTF-16
// among others), text that is not UTF-8, or a line that is neither blank, a comment (";" or
// "#"), a "[section]" nor a "key=value".
bool ParseIni(const QByteArray& bytes, SettingsMap& map) {
    if (bytes.contains('\0')) return false;
    QStringDecoder decoder(QStringDecoder::Utf8);  // drops a leading byte order mark, as editors write one
    const QString text = decoder.decode(bytes);
    if (decoder.hasError()) return false;
    SettingsMap parsed;
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
    map.insert(parsed);
    return true;
}

QByteArray IniText(const SettingsMap& map) {
    QString rootLines;  // hand-written keys outside any section must stay above the first header
    QString sectionLines;
    QString section;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        const qsizetype slash = it.key().indexOf(u'/');
        const QString line = it.key().mid(slash + 1) + u'=' + it.value() + u'\n';
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
    return (rootLines + sectionLines).toUtf8();
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

// A file that exists but reads as nothing is copied aside before a write replaces it, so that
// what the user had in it can be recovered. Returns false when it should not be replaced.
bool KeepUnreadableFile(const QString& path) {
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
    if (*section == '\0') return QString::fromUtf8(key);
    return QString::fromUtf8(section) + u'/' + QString::fromUtf8(key);
}

}  // namespace

struct CSettingsStore::ParsedFile {
    std::optional<FileVersion> version;  // none: there is no file
    bool readable = true;                // false: the file holds something else than settings
    SettingsMap values;
    bool settled = false;  // the version shows every later change
};

std::string SettingsFilePath(const std::string& company) {
    // Reading XDG_CONFIG_HOME each time lets tests and tools point it elsewhere.
    const QString configHome = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    return (configHome + u'/' + QString::fromStdString(company) + u'/' + QString::fromUtf8(CSettingsStore::kAppTitle) +
            QStringLiteral(".ini"))
        .toStdString();
}

CSettingsStore::CSettingsStore(const std::string& company)
    : m_strPath(SettingsFilePath(company)), m_pParsed(std::make_unique<ParsedFile>()) {}

CSettingsStore::~CSettingsStore() = default;

const CSettingsStore::ParsedFile& CSettingsStore::Current() const {
    struct stat status {};
    if (::stat(m_strPath.c_str(), &status) != 0) {
        *m_pParsed = ParsedFile{};
        return *m_pParsed;
    }
    if (m_pParsed->settled && m_pParsed->version == VersionOf(status)) return *m_pParsed;
    ParsedFile parsed{VersionOf(status), true, {}};
    QFile file(QString::fromStdString(m_strPath));
    // A file that cannot be opened (a folder in its place, no permission) reads as all defaults.
    if (file.open(QIODevice::ReadOnly)) {
        // The version of what is read: the file may have been replaced since the look above.
        if (::fstat(file.handle(), &status) == 0) parsed.version = VersionOf(status);
        parsed.readable = ParseIni(file.readAll(), parsed.values);
    }
    parsed.settled = Settled(*parsed.version);
    *m_pParsed = std::move(parsed);
    return *m_pParsed;
}

std::optional<QString> CSettingsStore::ReadValue(const char* section, const char* key) const {
    const ParsedFile& parsed = Current();
    const auto found = parsed.values.constFind(KeyPath(section, key));
    if (found == parsed.values.cend()) return std::nullopt;
    return *found;
}

int CSettingsStore::GetProfileInt(const char* section, const char* key, int defaultValue) const {
    const std::optional<QString> value = ReadValue(section, key);
    if (!value) return defaultValue;
    bool ok = false;
    const int number = value->trimmed().toInt(&ok);
    return ok ? number : defaultValue;
}

bool CSettingsStore::WriteProfileInt(const char* section, const char* key, int value) {
    return WriteValue(section, key, QString::number(value));
}

std::string CSettingsStore::GetProfileString(const char* section, const char* key,
                                             const std::string& defaultValue) const {
    const std::optional<QString> value = ReadValue(section, key);
    return value ? value->trimmed().toStdString() : defaultValue;
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

bool CSettingsStore::WriteValue(const char* section, const char* key, const QString& value) {
    m_strWriteError = ReplaceFile(KeyPath(section, key), value);
    return m_strWriteError.empty();
}

std::string CSettingsStore::ReplaceFile(const QString& keyPath, const QString& value) {
    const QString path = QString::fromStdString(m_strPath);
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return folder.toStdString() + (QFileInfo::exists(folder) ? " is not a folder" : ": the folder cannot be made");
    QLockFile lock(path + QStringLiteral(".lock"));
    if (!lock.lock()) {
        if (::access(folder.toLocal8Bit().constData(), W_OK) != 0)
            return "cannot write in " + folder.toStdString() + ": " + std::strerror(errno);
        return "cannot lock " + m_strPath + ".lock";
    }
    // Under the lock: what another process wrote since the last read stays.
    const ParsedFile& current = Current();
    if (!current.readable && !KeepUnreadableFile(path))
        return m_strPath + " could not be read, and a copy of it could not be made";
    SettingsMap values = current.readable ? current.values : SettingsMap{};
    values.insert(keyPath, value);
    const QByteArray bytes = IniText(values);
    QSaveFile file(path);  // a temporary file renamed over the old one, which keeps its mode
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return m_strPath + ": " + file.errorString().toStdString();
    // What was written is what the file holds: no need to read it back.
    struct stat status {};
    if (::stat(m_strPath.c_str(), &status) == 0) {
        const FileVersion written = VersionOf(status);
        *m_pParsed = ParsedFile{written, true, std::move(values), Settled(written)};
    }
    return "";
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
    return ReadValue(section, key).has_value();
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
