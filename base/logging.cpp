#include "logging.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "paths.h"
#include "system_version.h"

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
    store.Write(Setting::kLogCount, m_iLogCount + 1);
}

CLogging::CLogging(CSettingsStore& store) : CLogging(store, LogDirectory()) {}

CLogging::~CLogging() {
    std::lock_guard lock(m_mutex);
    if (m_fd >= 0) ::close(m_fd);  // also drops the lock
}

std::filesystem::path CLogging::FilePath() const {
    return m_dataDirectory / ("MivexLog" + std::to_string(m_iLogCount) + ".txt");
}

bool CLogging::IsOpen() const {
    std::lock_guard lock(m_mutex);
    return m_fd >= 0;
}

bool CLogging::Open() {
    {
        std::lock_guard lock(m_mutex);
        if (m_fd >= 0) return true;
        const int fd = ::open(FilePath().c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd < 0) return true;
        // Lock before emptying, so a second copy of the program cannot wipe the log of the first.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(fd, 0) != 0) {
            ::close(fd);
            return true;
        }
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
