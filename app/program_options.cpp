#include "app/program_options.h"

#include <charconv>

#include "base/autostart_entry.h"
#include "ui/hotkey_actions.h"

const char* const kProgramUsage =
    "Usage: mivex [--camera-file FILE | --camera-replay FILE] [--no-dialogs] [--check-update] [--action NAME]\n"
    "             [--version] [--help]\n"
    "Moves the pointer with the motion of your head, seen by a webcam. The program lives in the\n"
    "system tray; click its icon for the settings.\n"
    "\n"
    "  --camera-file FILE  use the video FILE as the only camera (played in a loop at the\n"
    "                      configured frame rate), e.g. one made by mivex-make-sequence\n"
    "  --camera-replay FILE  play the camera recording FILE (made with mivex-track --record or\n"
    "                      the camera page's \"Record 10 s for a report\") in a loop as the only\n"
    "                      camera, through the same road as a webcam's frames\n"
    "  --no-dialogs        write error messages to standard error instead of showing them\n"
    "  --check-update      ask the maker's web server for a newer version, print what the\n"
    "                      update window would show and exit (0: answered, 1: failed)\n"
    "  --action NAME       ask the running copy, over the session bus, for what a hotkey does,\n"
    "                      and exit (1: no copy answered); for the desktop's own keyboard\n"
    "                      shortcuts. NAME is an action of the Hotkeys tab: toggle, left-click,\n"
    "                      ... (a wrong NAME lists them all)\n"
    "  --version           print the version and exit\n"
    "  --help              print this help and exit\n"
    "  --restart-count N   restarts in a row before this start; a restarting copy gives it to\n"
    "                      the copy it starts, and a count above 30 ends the start\n"
    "  --autostart         started at login: a camera that is not there yet is waited for\n"
    "                      (as after a restart) instead of ending the program\n"
    "\n"
    "Signals: SIGTERM, SIGINT and SIGHUP end the program as its Exit menu item does;\n"
    "SIGUSR1 restarts it.\n"
    "Environment: MIVEX_INJECTOR=xtest moves the pointer through the X test extension even\n"
    "where /dev/uinput is writable. MIVEX_UPDATE_HOST=HOST[:PORT] makes the update check ask\n"
    "that server instead of the maker's (an IPv6 address in brackets); any other value is refused.\n";

std::optional<ProgramOptions> ParseProgramOptions(const std::vector<std::string>& arguments, std::string& error) {
    ProgramOptions options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::size_t first = i;
        const std::string& argument = arguments[i];
        if (argument == kRestartCountOption) {
            const std::string_view number = i + 1 < arguments.size() ? std::string_view(arguments[i + 1]) : "";
            int count = -1;
            const auto [end, failure] = std::from_chars(number.data(), number.data() + number.size(), count);
            if (failure != std::errc() || end != number.data() + number.size() || count < 0) {
                error = std::string(kRestartCountOption) + " needs a whole number of 0 or more";
                return std::nullopt;
            }
            options.restartCount = count;
            ++i;
        } else if (argument == "--camera-file" || argument == "--camera-replay" ||
                   argument.starts_with("--camera-file=") || argument.starts_with("--camera-replay=")) {
            const bool replay = argument.starts_with("--camera-replay");
            const std::string option = replay ? "--camera-replay" : "--camera-file";
            std::string& file = replay ? options.cameraReplay : options.cameraFile;
            if (argument.size() > option.size())
                file = argument.substr(option.size() + 1);
            else if (i + 1 < arguments.size())
                file = arguments[++i];
            if (file.empty()) {
                error = option + " needs a file name";
                return std::nullopt;
            }
            if (!options.cameraFile.empty() && !options.cameraReplay.empty()) {
                error = "give --camera-file or --camera-replay, not both";
                return std::nullopt;
            }
        } else if (argument == "--action" || argument.starts_with("--action=")) {
            if (argument == "--action")
                options.action = i + 1 < arguments.size() ? arguments[++i] : "";
            else
                options.action = argument.substr(std::string_view("--action=").size());
            if (FindHotkeyAction(options.action) == nullptr) {
                error = "--action needs one of " + HotkeyActionNames();
                return std::nullopt;
            }
        } else if (argument == kAutostartOption) {
            options.autostart = true;
        } else if (argument == "--no-dialogs") {
            options.noDialogs = true;
        } else if (argument == "--check-update") {
            options.checkUpdate = true;
        } else if (argument == "--version") {
            options.version = true;
        } else if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else {
            error = "unknown option " + argument;
            return std::nullopt;
        }
        // A restart gives the next copy a count of its own.
        if (argument != kRestartCountOption)
            options.arguments.insert(options.arguments.end(), arguments.begin() + first, arguments.begin() + i + 1);
    }
    return options;
}
