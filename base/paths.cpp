#include "paths.h"

std::filesystem::path ExecutableDirectory() {
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) return exe.parent_path();
    return std::filesystem::current_path(error);  // no /proc: the best guess left
}

std::filesystem::path DataDirectory() { return ExecutableDirectory() / "data"; }
