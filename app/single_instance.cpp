#include "single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

std::filesystem::path CSingleInstance::DefaultLockFile() {
    const std::string name = kMutexName;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        std::error_code error;
        if (std::filesystem::is_directory(runtime, error)) return std::filesystem::path(runtime) / (name + ".lock");
    }
    // /tmp is shared: the user id keeps one user's copy from blocking another's.
    return std::filesystem::path("/tmp") / (name + "-" + std::to_string(::getuid()) + ".lock");
}

CSingleInstance::CSingleInstance(std::filesystem::path lockFile) : m_lockFile(std::move(lockFile)) {}

CSingleInstance::~CSingleInstance() { Release(); }

CSingleInstance::Result CSingleInstance::Acquire() {
    if (m_fd >= 0) return Result::Acquired;
    // Close-on-exec: a restarted copy must not inherit the lock of the copy that started it.
    const int fd = ::open(m_lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0) {
        const int error = errno;
        m_strError = "cannot open " + m_lockFile.string() + ": " + std::strerror(error);
        return error == EACCES || error == EPERM ? Result::AlreadyRunning : Result::Failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
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
    return Result::Acquired;
}

void CSingleInstance::Release() {
    if (m_fd < 0) return;
    // The file stays: removing it would let a starting copy lock a file that is about to vanish.
    ::close(m_fd);
    m_fd = -1;
}
