// Folders beside the running executable, where the program keeps its data files.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

// The running executable's file (from /proc/self/exe); empty when it cannot be found. After an
// upgrade replaced the file, the kernel names the old one "<path> (deleted)": the program now at
// that path is the one meant.
std::filesystem::path RunningExecutable();

// The folder holding the running executable.
std::filesystem::path ExecutableDirectory();

// $XDG_CONFIG_HOME, else ~/.config: where the settings file and the autostart entry live. A
// relative XDG_CONFIG_HOME is invalid by the XDG rules and ignored.
std::filesystem::path ConfigHome();

// data/ beside the executable: the face cascade and the log files. The program never creates it.
std::filesystem::path DataDirectory();

// $XDG_STATE_HOME/KordO/Mivex (default ~/.local/state/KordO/Mivex), made when missing: where an
// installed program keeps its log, and where camera recordings for a report go.
std::filesystem::path StateDirectory();

// Where the diagnostic log goes: the data folder while it is the user's to write and no one
// else's (data/ beside the executable in a build tree), else the state folder: an installed
// program's folder belongs to the system, and a folder others can write is one where they could
// lay traps for the log.
std::filesystem::path LogDirectory(const std::filesystem::path& data = DataDirectory());

// "" when the folder is a real folder (no link) of the user's, which the user may write to and
// which gives others none of the forbidden mode bits; else why not.
std::string PrivateFolderProblem(const std::filesystem::path& folder, uid_t user, mode_t forbidden);
