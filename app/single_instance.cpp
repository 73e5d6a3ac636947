#include "app/single_instance.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "base/paths.h"

std::filesystem::path PrivateRuntimeDirectory(const std::filesystem::path& userRuntime,
                                              const std::filesystem::path& home, uid_t user, std::string& error) {
    const std::string runtimeUnfit = PrivateFolderProblem(userRuntime, user, S_IRWXG | S_IRWXO);
    if (runtimeUnfit.empty()) return userRuntime;
    if (home.empty()) {
        error = runtimeUnfit + "; no home folder";
        return {};
    }
    const std::filesystem::path cache = home / ".cache", folder = cache / "KordO";
    // Made private from the start; an existing folder is checked, not changed.
    ::mkdir(cache.c_str(), S_IRWXU);
    ::mkdir(folder.c_str(), S_IRWXU);
    const std::string homeUnfit = PrivateFolderProblem(folder, user, S_IWGRP | S_IWOTH);
    if (homeUnfit.empty()) return folder;
    error = runtimeUnfit + "; " + homeUnfit;
    return {};
}

std::filesystem::path PrivateRuntimeDirectory(std::string& error) {
    const uid_t user = ::getuid();
    // The user database, not $HOME: the folder must not follow the environment.
    const passwd* entry = ::getpwuid(user);
    const std::filesystem::path home = entry && entry->pw_dir ? entry->pw_dir : "";
    return PrivateRuntimeDirectory("/run/user/" + std::to_string(user), home, user, error);
}

std::filesystem::path CSingleInstance::LockFileIn(const std::filesystem::path& folder) {
    return folder / (std::string(kMutexName) + ".lock");
}

CSingleInstance::CSingleInstance() {
    const std::filesystem::path folder = PrivateRuntimeDirectory(m_strError);
    if (!folder.empty()) m_lockFile = LockFileIn(folder);
}

CSingleInstance::CSingleInstance(std::filesystem::path lockFile) : m_lockFile(std::move(lockFile)) {}

CSingleInstance::~CSingleInstance() { Release(); }

CSingleInstance::Result CSingleInstance::Acquire() {
    if (m_fd >= 0) return Result::Acquired;
    if (m_lockFile.empty()) return Result::Failed;  // the reason is the folder's, already in m_strError
    // Close-on-exec: a restarted copy must not inherit the lock of the copy that started it.
    const int fd = ::open(m_lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, S_IRUSR | S_IWUSR);
    if (fd < 0) {
        // Whatever the reason, no copy is known to run: refusing would keep the user out.
        m_strError = "cannot open " + m_lockFile.string() + ": " + std::strerror(errno);
        return Result::Failed;
    }
    // Holder's look at the lock holds it shared for an instant: a few tries tell that from a copy.
    int error = 0;
    for (int tries = 5; tries > 0; --tries) {
        error = ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : errno;
        if (error != EWOULDBLOCK || tries == 1) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (error != 0) {
        ::close(fd);
        if (error == EWOULDBLOCK) {
            m_strError = m_lockFile.string() + " is locked by a running copy";
            return Result::AlreadyRunning;
        }
        m_strError = "cannot lock " + m_lockFile.string() + ": " + std::strerror(error);
        return Result::Failed;
    }
    m_fd = fd;
    m_strError.clear();
    // Who holds the lock, for those who must tell this copy from another program. Where it cannot
    // be written, Holder says the file names no process: the lock itself still holds.
    const std::string pid = std::to_string(::getpid()) + "\n";
    [[maybe_unused]] const bool written =
        ::ftruncate(fd, 0) == 0 && ::pwrite(fd, pid.data(), pid.size(), 0) == static_cast<ssize_t>(pid.size());
    return Result::Acquired;
}

std::optional<pid_t> CSingleInstance::Holder(const std::filesystem::path& lockFile, std::string& error) {
    const int fd = ::open(lockFile.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        if (errno != ENOENT) error = "cannot open " + lockFile.string() + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::optional<pid_t> holder;
    // A shared lock is had only while no copy holds its exclusive one.
    if (::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        char text[32] = {};
        const ssize_t length = ::pread(fd, text, sizeof text - 1, 0);
        char* end = nullptr;
        const long pid = length > 0 ? std::strtol(text, &end, 10) : 0;
        if (pid > 0 && end != text)
            holder = static_cast<pid_t>(pid);
        else
            error = lockFile.string() + " is locked but names no process";
    }
    ::close(fd);
    return holder;
}

void CSingleInstance::Release() {
    if (m_fd < 0) return;
    // The file stays: removing it would let a starting copy lock a file that is about to vanish.
    ::close(m_fd);
    m_fd = -1;
}
