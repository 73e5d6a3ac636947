#include "paths.h"

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

std::filesystem::path DataDirectory() { return ExecutableDirectory() / "data"; }
