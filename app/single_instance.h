// Keeps the program to one copy per user: an advisory lock on a file named after the program's
// mutex, in the user's runtime folder. The kernel drops the lock when the process ends, however
// it ends, so a crashed copy never blocks the next start.
//
//   CSingleInstance instance;
//   if (instance.Acquire() == CSingleInstance::Result::AlreadyRunning) { ...tell the user, end... }
//   ...
//   instance.Release();   // before starting a new copy of the program
#pragma once

#include <filesystem>
#include <string>

class CSingleInstance {
public:
    static constexpr const char* kMutexName = "KORDO mivex! running";

    enum class Result {
        Acquired,
        AlreadyRunning,  // another copy holds the lock, or the lock file belongs to someone else
        Failed,          // no lock could be had for another reason: see Error(); the program goes on
    };

    // $XDG_RUNTIME_DIR/<mutex name>.lock, or a per-user file in /tmp without a runtime folder.
    static std::filesystem::path DefaultLockFile();

    explicit CSingleInstance(std::filesystem::path lockFile = DefaultLockFile());
    ~CSingleInstance();
    CSingleInstance(const CSingleInstance&) = delete;
    CSingleInstance& operator=(const CSingleInstance&) = delete;

    Result Acquire();
    // Lets the next copy start. Harmless when nothing is held.
    void Release();

    const std::filesystem::path& LockFile() const { return m_lockFile; }
    const std::string& Error() const { return m_strError; }

private:
    const std::filesystem::path m_lockFile;
    int m_fd = -1;
    std::string m_strError;
};
