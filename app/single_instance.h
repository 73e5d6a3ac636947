// Keeps the program to one copy per user: an advisory lock on a file named after the program's
// mutex, in the user's private runtime folder. The kernel drops the lock when the process ends,
// however it ends, so a crashed copy never blocks the next start.
//
//   CSingleInstance instance;
//   if (instance.Acquire() == CSingleInstance::Result::AlreadyRunning) { ...tell the user, end... }
//   ...
//   instance.Release();   // before starting a new copy of the program
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>

// The folder of the program's runtime files (the lock, the local socket): /run/user/<uid> when it
// is the user's own and private, else ~/.cache/KordO (made private when missing), with the home
// folder of the user database. It depends on the user alone, never on the environment, so that
// every copy of the user's finds the same one and no other user can plant files in it. Empty, with
// the reason in error, when neither is fit.
std::filesystem::path PrivateRuntimeDirectory(std::string& error);
// The same choice for a given user between a given per-user runtime folder and home folder.
std::filesystem::path PrivateRuntimeDirectory(const std::filesystem::path& userRuntime,
                                              const std::filesystem::path& home, uid_t user, std::string& error);

class CSingleInstance {
public:
    static constexpr const char* kMutexName = "KORDO mivex! running";

    enum class Result {
        Acquired,
        AlreadyRunning,  // another copy holds the lock
        Failed,          // no lock could be had for another reason: see Error(); the program goes on
    };

    // The lock file in this folder.
    static std::filesystem::path LockFileIn(const std::filesystem::path& folder);

    // The lock in PrivateRuntimeDirectory(); without one, Acquire fails with its reason.
    CSingleInstance();
    explicit CSingleInstance(std::filesystem::path lockFile);
    ~CSingleInstance();
    CSingleInstance(const CSingleInstance&) = delete;
    CSingleInstance& operator=(const CSingleInstance&) = delete;

    // Takes the lock and writes this process's id into the file, for Holder.
    Result Acquire();
    // The process that holds the lock on this file now, or none when no copy holds it (error says
    // why where that is not simply so).
    static std::optional<pid_t> Holder(const std::filesystem::path& lockFile, std::string& error);
    // Lets the next copy start. Harmless when nothing is held.
    void Release();

    // Whether this copy holds the lock now, not only goes on without one.
    bool Held() const { return m_fd >= 0; }
    const std::filesystem::path& LockFile() const { return m_lockFile; }
    const std::string& Error() const { return m_strError; }

private:
    std::filesystem::path m_lockFile;
    int m_fd = -1;
    std::string m_strError;
};
