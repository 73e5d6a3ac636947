#include "base/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

std::filesystem::path RunningExecutable() {
    std::error_code error;
    std::string path = std::filesystem::read_symlink("/proc/self/exe", error).string();
    constexpr std::string_view kDeleted = " (deleted)";
    if (path.ends_with(kDeleted)) path.erase(path.size() - kDeleted.size());
    return path;
}

std::filesystem::path ExecutableDirectory() {
    const std::filesystem::path exe = RunningExecutable();
    if (!exe.empty()) return exe.parent_path();
    std::error_code error;
    return std::filesystem::current_path(error);  // no /proc: the best guess left
}

std::filesystem::path ConfigHome() {
    const char* configHome = std::getenv("XDG_CONFIG_HOME");
    if (configHome && *configHome == '/') return configHome;
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home ? home : "") / ".config";
}

std::filesystem::path DataDirectory() { return ExecutableDirectory() / "data"; }

std::filesystem::path StateDirectory() {
    const char* stateHome = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    // A relative XDG_STATE_HOME is invalid by the XDG rules and ignored.
    const std::filesystem::path base = stateHome && *stateHome == '/'
                                           ? std::filesystem::path(stateHome)
                                           : std::filesystem::path(home ? home : "") / ".local" / "state";
    const std::filesystem::path folder = base / "KordO" / "Mivex";
    std::error_code ignored;  // a folder that cannot be made fails where it is written
    std::filesystem::create_directories(folder, ignored);
    return folder;
}

std::filesystem::path LogDirectory(const std::filesystem::path& data) {
    // Through a link too, as the face cascade is read: where it leads must be private enough.
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::canonical(data, error);
    if (!error && PrivateFolderProblem(folder, ::getuid(), S_IWGRP | S_IWOTH).empty()) return data;
    return StateDirectory();
}

std::string PrivateFolderProblem(const std::filesystem::path& folder, uid_t user, mode_t forbidden) {
    struct stat status = {};
    if (::lstat(folder.c_str(), &status) != 0) return folder.string() + ": " + std::strerror(errno);
    if (!S_ISDIR(status.st_mode)) return folder.string() + ": not a folder";
    if (status.st_uid != user)
        return folder.string() + ": belongs to user " + std::to_string(status.st_uid) + ", not to " +
               std::to_string(user);
    if ((status.st_mode & forbidden) != 0) return folder.string() + ": others have access to it";
    // Asked of the running process: a test may name a user other than the one it runs as.
    if (user == ::getuid() && ::access(folder.c_str(), W_OK | X_OK) != 0)
        return folder.string() + ": " + std::strerror(errno);
    return "";
}
