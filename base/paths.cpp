#include "paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

std::filesystem::path ExecutableDirectory() {
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) return exe.parent_path();
    return std::filesystem::current_path(error);  // no /proc: the best guess left
}

std::filesystem::path DataDirectory() { return ExecutableDirectory() / "data"; }

std::string PrivateFolderProblem(const std::filesystem::path& folder, uid_t user, mode_t forbidden) {
    struct stat status {};
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
