// The last step of a command-line run that printed its answer on standard output.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstring>

// Flushes standard output. When what was printed did not all arrive (a full disk, a closed pipe),
// says so on standard error as "program: cannot write to standard output: reason" and turns a
// successful exitCode into 1: a caller must not take a lost answer for an empty one.
inline int FinishStandardOutput(const char* program, int exitCode) {
    errno = 0;
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return exitCode;
    std::fprintf(stderr, "%s: cannot write to standard output: %s\n", program,
                 errno != 0 ? std::strerror(errno) : "an earlier write failed");
    return exitCode != 0 ? exitCode : 1;
}
