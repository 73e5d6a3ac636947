#include "base/settings_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <thread>
#include <utility>
#include <vector>

#include "base/paths.h"

namespace {

// A settings file is a few kilobytes; a runaway script's 480,000 keys take 10 MB. Anything larger
// is not read at all, so that a link to a device or a huge file cannot fill the memory.
constexpr off_t kMaxFileBytes = 16 << 20;
constexpr const char* kMaxFileText = "16 MB";
// How long a write waits for another writer to finish: writes take milliseconds.
constexpr auto kLockWait = std::chrono::seconds(3);

// "section/key" (a key outside any section alone) to its value.
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

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0) ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }
    void reset(int fd) {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd;
};

std::string ErrorText(int error) {
    switch (error) {
        case ENOSPC:
            return "disk full";
        case EDQUOT:
            return "disk quota used up";
        default:
            return std::strerror(error);
    }
}

// Whether text is UTF-8 that reads back as the same bytes: no overlong forms, no surrogates,
// nothing beyond U+10FFFF.
bool ValidUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = [&](std::size_t at) { return at < text.size() ? static_cast<unsigned char>(text[at]) : 0; };
        const unsigned char lead = byte(i);
        int length = 0;
        unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
        if (lead < 0x80)
            length = 1;
        else if (lead >= 0xC2 && lead <= 0xDF)
            length = 2;
        else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else
            return false;
        if (length > 1 && (byte(i + 1) < low || byte(i + 1) > high)) return false;
        for (int k = 2; k < length; ++k)
            if ((byte(i + k) & 0xC0) != 0x80) return false;
        i += length;
    }
    return true;
}

std::string_view Trimmed(std::string_view text) {
    constexpr std::string_view kBlanks = " \t\f\v";
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// One line of a plain INI layout: "[section]" then "key=value" lines, names exactly as given, as
// a person would write the file. Lines end in "\n", "\r\n" or a lone "\r".
enum class LineKind { Blank, Comment, Section, BrokenSection, Key, Unreadable };
struct IniLine {
    std::size_t start = 0;  // in the file
    std::string_view text;  // without its line end
    std::string_view end;   // empty for a last line without one
    LineKind kind = LineKind::Blank;
    std::string_view name, value;  // a section's or key's name, a key's value; trimmed
};

IniLine ClassifiedLine(std::size_t start, std::string_view text, std::string_view end) {
    IniLine line;
    line.start = start, line.text = text, line.end = end;
    std::string_view content = Trimmed(start == 0 && text.starts_with("\xEF\xBB\xBF") ? text.substr(3) : text);
    if (content.empty()) return line;
    line.kind = LineKind::Comment;
    if (content[0] == ';' || content[0] == '#') return line;
    line.kind = LineKind::Unreadable;
    if (!ValidUtf8(content)) return line;
    if (content[0] == '[') {
        line.kind = content.back() == ']' ? LineKind::Section : LineKind::BrokenSection;
        if (line.kind == LineKind::Section) line.name = Trimmed(content.substr(1, content.size() - 2));
        return line;
    }
    const auto equals = content.find('=');
    if (equals == std::string_view::npos || equals == 0) return line;
    line.kind = LineKind::Key;
    line.name = Trimmed(content.substr(0, equals));
    line.value = Trimmed(content.substr(equals + 1));
    return line;
}

// Calls visit(line, section) for each line of bytes, with the section the line is in; keys under
// a broken section header belong to no section (null), so that none is taken for another's.
template <class Visit>
void ScanLines(std::string_view bytes, Visit visit) {
    std::string_view emptySection;
    const std::string_view* section = &emptySection;
    std::string_view current;
    for (std::size_t start = 0; start < bytes.size();) {
        const std::size_t stop = std::min(bytes.find_first_of("\r\n", start), bytes.size());
        std::size_t next = stop;
        if (next < bytes.size()) next += bytes.compare(next, 2, "\r\n") == 0 ? 2 : 1;
        const IniLine line = ClassifiedLine(start, bytes.substr(start, stop - start), bytes.substr(stop, next - stop));
        if (line.kind == LineKind::Section) current = line.name, section = &current;
        if (line.kind == LineKind::BrokenSection) section = nullptr;
        visit(line, section);
        start = next;
    }
}

// A file that holds NUL bytes is no text at all (UTF-16 among others): the store reads none of it.
bool IsText(std::string_view bytes) { return bytes.find('\0') == std::string_view::npos; }

// The lines that say nothing the store can read, in the order of the file.
std::vector<std::string_view> UnreadableLines(std::string_view bytes) {
    std::vector<std::string_view> lines;
    ScanLines(bytes, [&](const IniLine& line, const std::string_view*) {
        if (line.kind == LineKind::Unreadable || line.kind == LineKind::BrokenSection) lines.push_back(line.text);
    });
    return lines;
}

QString KeyPath(std::string_view section, std::string_view key) {
    const QString name = QString::fromUtf8(key.data(), static_cast<qsizetype>(key.size()));
    if (section.empty()) return name;
    return QString::fromUtf8(section.data(), static_cast<qsizetype>(section.size())) + u'/' + name;
}

// The file with key set to value: its line changed in place when it is there (the last one, which
// reads win), else a line added after the last key of the section's last block, else the section
// added at the end. Every other byte stays as it was.
std::string EditedText(std::string_view bytes, std::string_view section, std::string_view key, std::string_view value) {
    std::optional<IniLine> keyLine;
    std::optional<std::size_t> insertAt;  // after the section's last key, or its header
    bool blockOpen = section.empty();     // the lines before the first header form the unnamed block
    if (blockOpen) insertAt = 0;
    std::string_view lineEnd, lastEnd;
    IniLine last;
    ScanLines(bytes, [&](const IniLine& line, const std::string_view* lineSection) {
        if (lineEnd.empty()) lineEnd = line.end;
        if (line.kind == LineKind::Section || line.kind == LineKind::BrokenSection) {
            blockOpen = line.kind == LineKind::Section && line.name == section;
            if (blockOpen) insertAt = line.start + line.text.size() + line.end.size();
        }
        if (line.kind == LineKind::Key && blockOpen) {
            insertAt = line.start + line.text.size() + line.end.size();
            if (lineSection && *lineSection == section && line.name == key) keyLine = line;
        }
        last = line;
    });
    if (lineEnd.empty()) lineEnd = "\n";
    std::string text(bytes);
    if (keyLine) {
        // The key as written, its "=" and the blanks after it stay.
        const std::size_t equals = keyLine->text.find('=');
        std::size_t valueStart = equals + 1;
        while (valueStart < keyLine->text.size() &&
               (keyLine->text[valueStart] == ' ' || keyLine->text[valueStart] == '\t'))
            ++valueStart;
        text.replace(keyLine->start + valueStart, keyLine->text.size() - valueStart, value);
        return text;
    }
    const std::string keyText = std::string(key) + '=' + std::string(value);
    const bool endsOpen = !text.empty() && last.end.empty();  // a last line without its line end
    if (insertAt) {
        const bool atOpenEnd = *insertAt == text.size() && endsOpen;
        text.insert(*insertAt, (atOpenEnd ? std::string(lineEnd) : "") + keyText + std::string(lineEnd));
        return text;
    }
    if (endsOpen) text += lineEnd;
    if (!text.empty() && last.kind != LineKind::Blank) text += lineEnd;
    return text + '[' + std::string(section) + ']' + std::string(lineEnd) + keyText + std::string(lineEnd);
}

// What the last copy of an unreadable file left to say, until taken.
std::string& UnreadableNotice() {
    static std::string notice;
    return notice;
}

// A free name "<file>.unreadable-<date>[-n]" beside the file.
std::string UnreadableCopyName(const std::string& file) {
    const std::string base =
        file + ".unreadable-" + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")).toStdString();
    std::string name = base;
    for (int n = 2; std::filesystem::exists(std::filesystem::symlink_status(name)); ++n)
        name = base + '-' + std::to_string(n);
    return name;
}

// Whether a copy beside the file already holds the unreadable lines it holds now: a write keeps
// them as they are, so one copy of them is enough.
bool CopyHoldsLines(const std::string& file, std::string_view bytes) {
    const std::filesystem::path path(file);
    const std::string prefix = path.filename().string() + ".unreadable-";
    const std::vector<std::string_view> lines = UnreadableLines(bytes);
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(path.parent_path(), error)) {
        if (!entry.path().filename().string().starts_with(prefix) || !entry.is_regular_file(error) ||
            entry.file_size(error) > static_cast<std::uintmax_t>(kMaxFileBytes))
            continue;
        std::ifstream copy(entry.path(), std::ios::binary);
        const std::string copied((std::istreambuf_iterator<char>(copy)), std::istreambuf_iterator<char>());
        if (IsText(copied) && UnreadableLines(copied) == lines) return true;
    }
    return false;
}

}  // namespace

std::string WriteFileContents(int fd, std::string_view bytes) {
    for (std::size_t written = 0; written < bytes.size();) {
        const ssize_t count = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return ErrorText(count < 0 ? errno : ENOSPC);
        written += static_cast<std::size_t>(count);
    }
    if (::fsync(fd) != 0) return ErrorText(errno);
    return "";
}

struct CSettingsStore::ParsedFile {
    std::optional<FileVersion> version;  // none: no file, or one that could not be read
    std::string error;                   // why the file there could not be read; nothing of it is kept
    std::string bytes;                   // as read: a write changes only the lines of its key
    bool text = true;                    // false: the store reads none of it, a write replaces it
    std::vector<int> unreadableLines;    // numbers, from 1, of lines left out
    SettingsMap values;
    bool settled = false;  // the version shows every later change
};

namespace {

// Reads what can be read: every line that is blank, a comment, "[section]" or "key=value"; a
// file with NUL bytes is no settings file at all.
void Parse(CSettingsStore::ParsedFile& parsed) {
    parsed.text = IsText(parsed.bytes);
    if (!parsed.text) return;
    int number = 0;
    ScanLines(parsed.bytes, [&](const IniLine& line, const std::string_view* section) {
        ++number;
        if (line.kind == LineKind::Unreadable || line.kind == LineKind::BrokenSection)
            parsed.unreadableLines.push_back(number);
        if (line.kind == LineKind::Key && section)
            parsed.values.insert(KeyPath(*section, line.name),
                                 QString::fromUtf8(line.value.data(), static_cast<qsizetype>(line.value.size())));
    });
}

// The file as it is now. Opened without waiting (a pipe in its place would block), and only a
// regular file of at most kMaxFileBytes is read; a link to one is followed.
CSettingsStore::ParsedFile ReadSettingsFile(const std::string& path) {
    CSettingsStore::ParsedFile parsed;
    const auto fail = [&](const std::string& why) {
        parsed = {};
        parsed.error = path + ": " + why;
        return std::move(parsed);
    };
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (file.get() < 0) return errno == ENOENT || errno == ENOTDIR ? parsed : fail(std::strerror(errno));
    struct stat status = {};
    if (::fstat(file.get(), &status) != 0) return fail(std::strerror(errno));
    if (S_ISDIR(status.st_mode)) return fail("is a folder, not a file");
    if (!S_ISREG(status.st_mode)) return fail("is not a regular file (a pipe or a device)");
    if (status.st_size > kMaxFileBytes) return fail(std::string("is larger than ") + kMaxFileText);
    parsed.bytes.resize(static_cast<std::size_t>(status.st_size) + 1);
    std::size_t length = 0;
    for (;;) {
        if (length == parsed.bytes.size()) {
            if (length > static_cast<std::size_t>(kMaxFileBytes))
                return fail(std::string("is larger than ") + kMaxFileText);
            parsed.bytes.resize(std::min<std::size_t>(length * 2, kMaxFileBytes + 1));
        }
        const ssize_t count = ::read(file.get(), parsed.bytes.data() + length, parsed.bytes.size() - length);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return fail("cannot be read: " + std::string(std::strerror(errno)));
        if (count == 0) break;
        length += static_cast<std::size_t>(count);
    }
    parsed.bytes.resize(length);
    parsed.version = VersionOf(status);
    parsed.settled = Settled(*parsed.version);
    Parse(parsed);
    return parsed;
}

// Who holds the lock, as the holder wrote it into the lock file.
std::string LockHolder(int fd) {
    char text[32] = {};
    const ssize_t count = ::pread(fd, text, sizeof text - 1, 0);
    const int pid = count > 0 ? std::atoi(text) : 0;
    if (pid <= 0) return "another writer";
    std::string holder = "process " + std::to_string(pid);
    std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    if (!std::getline(comm, name)) return holder;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string fields;
    std::getline(stat, fields);
    const auto state = fields.rfind(')');
    const bool stopped = state != std::string::npos && state + 2 < fields.size() &&
                         (fields[state + 2] == 'T' || fields[state + 2] == 't');
    return holder + " (" + name + (stopped ? ", stopped" : "") + ")";
}

// The writers' lock beside the settings file: a lock of the kernel's (flock), which ends with its
// holder, so a writer killed at any moment leaves nothing behind to wait for.
class WriterLock {
public:
    // "" once held, else why not.
    std::string Take(const std::string& path) {
        m_file.reset(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK, 0600));
        const int fd = m_file.get();
        if (fd < 0 && errno == ELOOP) return path + " is a link; the lock must be a plain file (remove it)";
        if (fd < 0 && errno == EISDIR) return path + " is a folder; the lock must be a plain file (remove it)";
        if (fd < 0) return "cannot open " + path + ": " + std::strerror(errno);
        struct stat status = {};
        if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode))
            return path + " is not a regular file; the lock must be a plain file (remove it)";
        const auto deadline = std::chrono::steady_clock::now() + kLockWait;
        while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno == EINTR) continue;
            if (errno != EWOULDBLOCK) return "cannot lock " + path + ": " + std::strerror(errno);
            if (std::chrono::steady_clock::now() >= deadline)
                return "cannot lock " + path + ": " + LockHolder(fd) + " has held it for " +
                       std::to_string(kLockWait.count()) + " s";
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        // For whoever waits next, to name the holder. A full disk leaves it unnamed.
        const std::string pid = std::to_string(::getpid()) + "\n";
        if (::ftruncate(fd, 0) == 0) [[maybe_unused]]
            const ssize_t named = ::pwrite(fd, pid.data(), pid.size(), 0);
        return "";
    }

private:
    FileDescriptor m_file;  // closing it lets go
};

// Writes bytes into a new file beside target and renames it over target, so that a crash leaves
// the old or the new file whole. Returns why not, or "".
std::string ReplaceWhole(const std::string& target, std::string_view bytes, std::optional<mode_t> mode) {
    std::string temporary;
    FileDescriptor file;
    for (int n = 0; file.get() < 0; ++n) {
        temporary = target + ".new-" + std::to_string(::getpid()) + "-" + std::to_string(n);
        file.reset(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666));
        if (file.get() < 0 && errno != EEXIST) return "cannot be written (" + ErrorText(errno) + ")";
    }
    if (mode) ::fchmod(file.get(), *mode);  // the old file's: a private file stays private
    std::string why = WriteFileContents(file.get(), bytes);
    if (::close(file.release()) != 0 && why.empty()) why = ErrorText(errno);
    if (why.empty() && ::rename(temporary.c_str(), target.c_str()) != 0) why = ErrorText(errno);
    if (!why.empty()) {
        ::unlink(temporary.c_str());
        return "cannot be written (" + why + "); the file is left as it was";
    }
    // The rename itself reaches the disk with the folder; a folder that cannot be synced (some
    // file systems refuse) still holds the new file.
    const FileDescriptor folder(
        ::open(std::filesystem::path(target).parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0) ::fsync(folder.get());
    return "";
}

// Keeps the bytes of a file the store cannot wholly read beside it before a write changes it.
// Returns false when it must not be replaced.
bool KeepUnreadableFile(const std::string& path, const CSettingsStore::ParsedFile& parsed) {
    if (parsed.text && (parsed.unreadableLines.empty() || CopyHoldsLines(path, parsed.bytes))) return true;
    const std::string copy = UnreadableCopyName(path);
    const bool copied = ReplaceWhole(copy, parsed.bytes, std::nullopt).empty();
    std::string notice = "settings file " + path;
    if (!copied)
        notice += " could not be read, and a copy could not be made; it is left as it is and settings are not saved";
    else if (!parsed.text)
        notice += " could not be read, so defaults were used; it was kept as " + copy + " before being rewritten";
    else {
        std::string lines;
        for (const int line : parsed.unreadableLines) lines += (lines.empty() ? "" : ", ") + std::to_string(line);
        notice += " has lines that could not be read (" + lines +
                  "), whose settings are left out; the lines stay as they are, and a copy was kept as " + copy;
    }
    // A folder that refuses the copy refuses it on every write: that is said once.
    static std::string s_lastSaid;
    if (notice == s_lastSaid) return copied;
    s_lastSaid = notice;
    std::fprintf(stderr, "%s\n", notice.c_str());
    UnreadableNotice() = notice;
    return copied;
}

}  // namespace

std::string SettingsFilePath(const std::string& company) {
    // Reading XDG_CONFIG_HOME each time lets tests and tools point it elsewhere.
    return (ConfigHome() / company / (std::string(CSettingsStore::kAppTitle) + ".ini")).string();
}

CSettingsStore::CSettingsStore(const std::string& company)
    : m_strPath(SettingsFilePath(company)), m_pParsed(std::make_unique<ParsedFile>()) {}

CSettingsStore::~CSettingsStore() = default;

const CSettingsStore::ParsedFile& CSettingsStore::Current() const {
    struct stat status = {};
    if (::stat(m_strPath.c_str(), &status) != 0) {
        *m_pParsed = ParsedFile{};
        if (errno != ENOENT && errno != ENOTDIR) m_pParsed->error = m_strPath + ": " + std::strerror(errno);
        return *m_pParsed;
    }
    if (m_pParsed->settled && m_pParsed->version == VersionOf(status)) return *m_pParsed;
    *m_pParsed = ReadSettingsFile(m_strPath);
    return *m_pParsed;
}

std::optional<QString> CSettingsStore::ReadValue(const char* section, const char* key) const {
    const ParsedFile& parsed = Current();
    const auto found = parsed.values.constFind(KeyPath(section, key));
    if (found == parsed.values.cend()) return std::nullopt;
    return *found;
}

std::string CSettingsStore::ReadError() const { return Current().error; }

int CSettingsStore::GetProfileInt(const char* section, const char* key, int defaultValue) const {
    const std::optional<QString> value = ReadValue(section, key);
    if (!value) return defaultValue;
    bool ok = false;
    const int number = value->toInt(&ok);
    return ok ? number : defaultValue;
}

bool CSettingsStore::WriteProfileInt(const char* section, const char* key, int value) {
    return WriteValue(section, key, std::to_string(value));
}

std::string CSettingsStore::GetProfileString(const char* section, const char* key,
                                             const std::string& defaultValue) const {
    const std::optional<QString> value = ReadValue(section, key);
    return value ? value->toStdString() : defaultValue;
}

bool CSettingsStore::WriteProfileString(const char* section, const char* key, const std::string& value) {
    // The file holds one key a line as UTF-8 text: what it cannot hold would not read back.
    if (value.find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos || !ValidUtf8(value)) {
        m_strWriteError = kUnstorableText;
        return false;
    }
    return WriteValue(section, key, std::string(Trimmed(value)));
}

std::string CSettingsStore::ReadText(const TextSettingKey& key) const {
    return GetProfileString(key.section, key.key, key.defaultValue);
}

bool CSettingsStore::WriteText(const TextSettingKey& key, const std::string& value) {
    return WriteProfileString(key.section, key.key, value);
}

void CSettingsStore::SetWriteFailureHandler(std::function<void(const std::string&)> handler) {
    m_onWriteFailure = std::move(handler);
}

bool CSettingsStore::WriteValue(const char* section, const char* key, const std::string& value) {
    const std::string previous = std::exchange(m_strWriteError, ReplaceFile(section, key, value));
    if (!m_strWriteError.empty() && m_strWriteError != previous && m_onWriteFailure) m_onWriteFailure(m_strWriteError);
    return m_strWriteError.empty();
}

std::string CSettingsStore::ReplaceFile(const char* section, const char* key, const std::string& value) {
    const QString folder = QFileInfo(QString::fromStdString(m_strPath)).absolutePath();
    if (!QDir().mkpath(folder))
        return folder.toStdString() + (QFileInfo::exists(folder) ? " is not a folder" : ": the folder cannot be made");
    WriterLock lock;
    if (std::string why = lock.Take(m_strPath + ".lock"); !why.empty()) {
        if (::access(folder.toLocal8Bit().constData(), W_OK) != 0)
            return "cannot write in " + folder.toStdString() + ": " + std::strerror(errno);
        return why;
    }
    // Under the lock: what another process wrote since the last read stays.
    const ParsedFile& current = Current();
    if (!current.error.empty()) return current.error + "; it is left as it is";
    // A file kept elsewhere and linked here (a folder of dotfiles) is replaced where it lies.
    std::string target = m_strPath;
    std::optional<mode_t> mode;
    if (current.version) {
        std::error_code error;
        target = std::filesystem::canonical(m_strPath, error).string();
        if (error) return m_strPath + ": " + error.message() + "; it is left as it is";
        struct stat status = {};
        if (::stat(target.c_str(), &status) == 0) mode = status.st_mode & 07777;
    } else if (struct stat status{}; ::lstat(m_strPath.c_str(), &status) == 0) {
        return m_strPath + " is a link to a file that does not exist; it is left as it is";
    }
    if (!KeepUnreadableFile(m_strPath, current))
        return m_strPath + " could not be read, and a copy of it could not be made";
    ParsedFile written;
    written.bytes =
        EditedText(current.text ? std::string_view(current.bytes) : std::string_view(), section, key, value);
    if (std::string why = ReplaceWhole(target, written.bytes, mode); !why.empty()) return m_strPath + ": " + why;
    // What was written is what the file holds: no need to read it back.
    struct stat status = {};
    if (::stat(m_strPath.c_str(), &status) == 0) {
        written.version = VersionOf(status);
        written.settled = Settled(*written.version);
        written.unreadableLines = current.text ? current.unreadableLines : std::vector<int>{};
        written.values = current.text ? current.values : SettingsMap{};
        written.values.insert(KeyPath(section, key), QString::fromStdString(value));
        *m_pParsed = std::move(written);
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
