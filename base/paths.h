// Folders beside the running executable, where the program keeps its data files.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

// The folder holding the running executable (from /proc/self/exe).
std::filesystem::path ExecutableDirectory();

// data/ beside the executable: the face cascade and the log files. The program never creates it.
std::filesystem::path DataDirectory();

// "" when the folder is a real folder (no link) of the user's, which the user may write to and
// which gives others none of the forbidden mode bits; else why not.
std::string PrivateFolderProblem(const std::filesystem::path& folder, uid_t user, mode_t forbidden);
