#include "app/program_restart.h"

#include <spawn.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "app/termination_signals.h"
#include "base/paths.h"

extern char** environ;

bool StartProgramCopy(const std::vector<std::string>& arguments, std::string& error) {
    const std::string executable = RunningExecutable().string();
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
    // take the new copy with it. The end and restart signals blocked, so that one sent while the
    // new copy loads its libraries waits for its handler instead of ending it.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK);
    const sigset_t blocked = CTerminationSignals::Signals();
    posix_spawnattr_setsigmask(&attributes, &blocked);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, executable.c_str(), nullptr, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    if (spawned != 0) {
        error = "cannot start " + executable + ": " + std::strerror(spawned);
        return false;
    }
    return true;
}
