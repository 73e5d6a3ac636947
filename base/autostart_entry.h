// The desktop session's autostart entry that starts the program at login:
// $XDG_CONFIG_HOME/autostart/KORDO_mivex!.desktop (default ~/.config/autostart), where desktop
// sessions look for the programs they start at login.
//
//   std::string error;
//   if (!SetRunAtStartup(true, RunningExecutable(), error)) log(error);
//
// The entry starts the given executable by its absolute path, quoted the way desktop entries
// quote their Exec lines, so a path with blanks or quotes works, followed by kAutostartOption.
#pragma once

#include <filesystem>
#include <string>

inline constexpr const char* kAutostartEntryName = "KORDO_mivex!.desktop";
// The option the entry starts the program with: at login a USB camera may not be there yet, and
// the program waits for it instead of ending. Entries written before it start the program as the
// user does.
inline constexpr const char* kAutostartOption = "--autostart";

// Where the entry lives, honouring XDG_CONFIG_HOME at the moment of the call.
std::filesystem::path AutostartEntryPath();

// Writes the entry (replacing it in one step) or removes it. False with the reason when the
// executable's path is not absolute (an empty one included: nothing is written then), or the
// folder or the file could not be written or removed; a missing entry to remove is no failure.
bool SetRunAtStartup(bool enable, const std::filesystem::path& executable, std::string& error);
