#include "program_restart.h"

#include <spawn.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

extern char** environ;

namespace {

// The running executable's path. After an upgrade replaced the file, the kernel names the old
// one "<path> (deleted)": the program now at that path is the one to start.
std::string RunningExecutable() {
    std::error_code error;
    std::string path = std::filesystem::read_symlink("/proc/self/exe", error).string();
    constexpr std::string_view kDeleted = " (deleted)";
    if (path.ends_with(kDeleted)) path.erase(path.size() - kDeleted.size());
    return path;
}

}  // namespace

bool StartProgramCopy(const std::vector<std::string>& arguments, std::string& error) {
    const std::string executable = RunningExecutable();
    if (executable.empty()) {
        error = "cannot find the running program's file";
        return false;
    }
    std::vector<std::string> argvStrings{executable};
    argvStrings.insert(argvStrings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : argvStrings) argv.push_back(argument.data());
    argv.push_back(nullptr);

    // A session of its own, so that the end of this copy's terminal or process group does not
    // take the new copy with it.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, executable.c_str(), nullptr, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0) {
        error = "cannot start " + executable + ": " + std::strerror(spawned);
        return false;
    }
    return true;
}
