// Starts a new copy of the running program, for a restart.
#pragma once

#include <string>
#include <vector>

// Starts the running executable again with these arguments (without the program name), as a
// process of its own session with the end and restart signals blocked until its handler is in
// place, and does not wait for it. False, with the reason in error, when it cannot be started.
bool StartProgramCopy(const std::vector<std::string>& arguments, std::string& error);
