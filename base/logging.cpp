#include "base/logging.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "base/paths.h"
#include "base/system_version.h"

namespace {

// Cuts text to at most limit bytes without splitting a UTF-8 character.
std::string_view CutToLimit(std::string_view text, std::size_t limit) {
    if (text.size() <= limit) return text;
    std::size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return text.substr(0, cut);
}

// One field of the start record: what to take from the local time, and what to write without it.
struct DateField {
    int (*value)(const std::tm&);
    int fallback;
    const char* suffix;
};

constexpr DateField kStartRecordFields[] = {
    {[](const std::tm& t) { return t.tm_year + 1900; }, 0, "Year-"},
    {[](const std::tm& t) { return t.tm_mon + 1; }, 0, "Month-"},
    {[](const std::tm& t) { return t.tm_hour; }, -1, "Hour-"},
    {[](const std::tm& t) { return t.tm_mday; }, 0, "Day-"},
    {[](const std::tm& t) { return t.tm_min; }, -1, "Min-"},
    {[](const std::tm& t) { return t.tm_sec; }, -1, "Sec"},
};

std::filesystem::path LogFile(const std::filesystem::path& folder, int number) {
    return folder / ("MivexLog" + std::to_string(number) + ".txt");
}

// The number after the most recently written log file in the folder (the higher number of two
// written in the same instant), or fallback when there is none.
int NumberAfterNewestLog(const std::filesystem::path& folder, int fallback) {
    std::optional<std::pair<std::filesystem::file_time_type, int>> newest;
    for (int number = Setting::kLogCount.minValue; number <= Setting::kLogCount.maxValue; ++number) {
        std::error_code missing;
        const auto written = std::filesystem::last_write_time(LogFile(folder, number), missing);
        if (!missing && (!newest || written >= newest->first)) newest.emplace(written, number);
    }
    if (!newest) return fallback;
    return newest->second < Setting::kLogCount.maxValue ? newest->second + 1 : Setting::kLogCount.minValue;
}

// "" when the opened file is one to write the log into, else why not.
std::string UnfitLogFile(int fd) {
    struct stat status = {};
    if (::fstat(fd, &status) != 0) return std::strerror(errno);
    if (!S_ISREG(status.st_mode)) return "not a regular file";
    if (status.st_uid != ::geteuid()) return "belongs to user " + std::to_string(status.st_uid);
    // Another name of the same file could be one of the user's own files, which emptying would destroy.
    if (status.st_nlink != 1) return "has other names (hard links)";
    return "";
}

}  // namespace

std::optional<std::tm> CLogging::SystemLocalTime() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (now == static_cast<std::time_t>(-1) || localtime_r(&now, &local) == nullptr) return std::nullopt;
    return local;
}

CLogging::CLogging(CSettingsStore& store, std::filesystem::path dataDirectory, LocalClock clock)
    : m_dataDirectory(std::move(dataDirectory)), m_localClock(std::move(clock)) {
    const int stored = store.Read(Setting::kLogCount);
    // A number outside the rotation (a hand-edited store) starts it again.
    const bool inRotation = stored >= Setting::kLogCount.minValue && stored <= Setting::kLogCount.maxValue;
    m_iLogCount = inRotation ? stored : 0;
    // Else every run would empty the same file.
    if (!store.Write(Setting::kLogCount, m_iLogCount + 1))
        m_iLogCount = NumberAfterNewestLog(m_dataDirectory, m_iLogCount);
}

CLogging::CLogging(CSettingsStore& store) : CLogging(store, LogDirectory()) {}

CLogging::~CLogging() {
    std::lock_guard lock(m_mutex);
    if (m_fd >= 0) ::close(m_fd);  // also drops the lock
}

std::filesystem::path CLogging::FilePath() const { return LogFile(m_dataDirectory, m_iLogCount); }

std::string CLogging::OpenError() const {
    std::lock_guard lock(m_mutex);
    return m_strOpenError;
}

bool CLogging::IsOpen() const {
    std::lock_guard lock(m_mutex);
    return m_fd >= 0;
}

bool CLogging::Open() {
    {
        std::lock_guard lock(m_mutex);
        if (m_fd >= 0) return true;
        const std::string path = FilePath().string();
        // Never through a link, which another user could point at any file of ours; without
        // waiting for a reader, should a FIFO be in the way.
        const int fd =
            ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0644);
        if (fd < 0) {
            const int reason = errno;
            m_strOpenError = path + ": " +
                             (reason == ELOOP   ? "a symbolic link"
                              : reason == ENXIO ? "not a regular file"  // a FIFO without a reader
                                                : std::strerror(reason));
            return true;
        }
        // Checked before emptying, and locked, so a second copy of the program cannot wipe the log
        // of the first.
        std::string unfit = UnfitLogFile(fd);
        if (unfit.empty() && ::flock(fd, LOCK_EX | LOCK_NB) != 0) unfit = "in use by another run";
        if (unfit.empty() && ::ftruncate(fd, 0) != 0) unfit = std::strerror(errno);
        if (!unfit.empty()) {
            ::close(fd);
            m_strOpenError = path + ": " + unfit;
            return true;
        }
        m_strOpenError.clear();
        m_fd = fd;
    }
    WriteStartRecord();
    return true;
}

void CLogging::WriteStartRecord() {
    for (const DateField& field : kStartRecordFields) {
        const std::optional<std::tm> now = m_localClock();
        WriteInt(now ? field.value(*now) : field.fallback, field.suffix, false);
    }
    const CSystemVersion version;
    Write(version.m_strSystem + m_strNewLine, true);
}

void CLogging::Write(std::string_view text, bool newLine) {
    std::string line(text);
    if (newLine) line += m_strNewLine;
    Append(line, kMaxTextBytes);
}

void CLogging::WriteInt(int value, std::string_view suffix, bool newLine) {
    std::string line = std::to_string(value);
    line += suffix;
    if (newLine) line += m_strNewLine;
    Append(line, kMaxIntBytes);
}

void CLogging::Append(std::string_view bytes, std::size_t limit) {
    std::string_view rest = CutToLimit(bytes, limit);
    std::lock_guard lock(m_mutex);
    if (m_fd < 0) return;
    while (!rest.empty()) {
        const ssize_t written = ::write(m_fd, rest.data(), rest.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;  // disk full or gone: the log is best effort
        rest.remove_prefix(static_cast<std::size_t>(written));
    }
}
