// `mivex --check-update`: the update window's check without windows, for scripts and tests. It
// needs no display and leaves a running copy alone: no lock, no settings, no log file.
//
//   return RunUpdateCheckCommand(stdout, stderr);   // 0: the server answered; 1: it did not, or
//                                                   // MIVEX_UPDATE_HOST names no server
#pragma once

#include <cstdio>

// Prints the lines the window would show to out, and the check's log lines to err.
int RunUpdateCheckCommand(std::FILE* out, std::FILE* err);
