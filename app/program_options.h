// The program's command line:
//   mivex [--camera-file FILE | --camera-replay FILE] [--no-dialogs] [--check-update] [--action NAME]
//         [--version] [--help]
//   (and --restart-count N, which a restart gives the copy it starts, and --autostart, which the
//   login's autostart entry gives)
//
//   std::string error;
//   auto options = ParseProgramOptions(arguments, error);   // arguments without the program name
//   if (!options) { print error and kProgramUsage; exit kUsageExitCode; }
#pragma once

#include <optional>
#include <string>
#include <vector>

struct ProgramOptions {
    std::string cameraFile;    // a video file that stands in for the camera list; empty: the webcams
    std::string cameraReplay;  // a camera recording played as the only camera; empty: none
    bool noDialogs = false;    // messages to standard error instead of message boxes
    bool checkUpdate = false;  // ask the update server, print the answer and end
    std::string action;        // a hotkey action to ask of the running copy, then end; empty: none
    bool version = false;
    bool help = false;
    // Restarts in a row before this start, handed over by the copy that restarted itself: the
    // restart guard holds even where the settings cannot be saved. None on a start by the user.
    std::optional<int> restartCount;
    bool autostart = false;              // started at login by the autostart entry
    std::vector<std::string> arguments;  // as given but for the restart count, for a restart with the same command line
};

inline constexpr const char* kRestartCountOption = "--restart-count";

inline constexpr int kUsageExitCode = 2;

// Environment variable that makes the program inject input through the X test extension even
// where /dev/uinput could be written (an X server that reads no kernel devices, such as Xvfb).
inline constexpr const char* kInjectorVariable = "MIVEX_INJECTOR";

extern const char* const kProgramUsage;

// The options, or nothing with the reason in error.
std::optional<ProgramOptions> ParseProgramOptions(const std::vector<std::string>& arguments, std::string& error);
