// Folders beside the running executable, where the program keeps its data files.
#pragma once

#include <filesystem>

// The running executable's file (from /proc/self/exe); empty when it cannot be found. After an
// upgrade replaced the file, the kernel names the old one "<path> (deleted)": the program now at
// that path is the one meant.
std::filesystem::path RunningExecutable();

// The folder holding the running executable.
std::filesystem::path ExecutableDirectory();

// data/ beside the executable: the face cascade and the log files. The program never creates it.
std::filesystem::path DataDirectory();
