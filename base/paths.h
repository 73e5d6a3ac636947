// Folders beside the running executable, where the program keeps its data files.
#pragma once

#include <filesystem>

// The folder holding the running executable (from /proc/self/exe).
std::filesystem::path ExecutableDirectory();

// data/ beside the executable: the face cascade and the log files. The program never creates it.
std::filesystem::path DataDirectory();
