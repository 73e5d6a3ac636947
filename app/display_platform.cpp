#include "app/display_platform.h"

#include <QCoreApplication>
#include <QDir>
#include <algorithm>
#include <cstdlib>

namespace {

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

constexpr const char* kWaylandClientLoses =
    "As a Wayland client the floating window is not kept above other windows, and windows cannot be placed: "
    "stored window places are not used";

// Whether a QT_QPA_PLATFORM value names Wayland platforms alone: Qt tries the platforms of a list
// ("wayland;xcb") in turn, each possibly with options after a colon ("wayland:foo").
bool OnlyWaylandPlatforms(const std::string& qtPlatform) {
    std::size_t start = 0;
    do {
        const std::size_t end = std::min(qtPlatform.find(';', start), qtPlatform.size());
        const std::string entry = qtPlatform.substr(start, end - start);
        if (!entry.starts_with("wayland")) return false;
        start = end + 1;
    } while (start <= qtPlatform.size());
    return true;
}

}  // namespace

DisplayEnvironment DisplayEnvironment::OfProcess() {
    return {Variable("XDG_SESSION_TYPE"), Variable("WAYLAND_DISPLAY"), Variable("DISPLAY"),
            Variable("QT_QPA_PLATFORM")};
}

std::string ChooseQtPlatform(const DisplayEnvironment& environment) {
    const bool chosenByUser = !environment.qtPlatform.empty();
    return environment.IsWaylandSession() && !environment.x11Display.empty() && !chosenByUser ? "xcb" : "";
}

bool QtWaylandPlatformInstalled() {
    for (const QString& folder : QCoreApplication::libraryPaths())
        if (!QDir(folder + "/platforms").entryList({"libqwayland*"}, QDir::Files).isEmpty()) return true;
    return false;
}

std::string MissingDisplayPlatform(const DisplayEnvironment& environment, bool qtWaylandInstalled) {
    if (qtWaylandInstalled) return "";
    if (!environment.qtPlatform.empty()) {
        if (!OnlyWaylandPlatforms(environment.qtPlatform)) return "";
        return "QT_QPA_PLATFORM=" + environment.qtPlatform +
               " asks for Qt's Wayland platform, which is not installed: install the Debian package qt6-wayland" +
               (environment.x11Display.empty() ? "" : ", or unset QT_QPA_PLATFORM to use the X display");
    }
    if (!environment.IsWaylandSession() || !environment.x11Display.empty()) return "";
    return "this Wayland session offers no X display (XWayland) and Qt's Wayland platform is not installed: "
           "install the Debian package xwayland or qt6-wayland";
}

std::vector<std::string> DescribeDisplay(const DisplayEnvironment& environment, const std::string& chosenPlatform,
                                         const std::string& platformName) {
    std::string session;
    if (environment.IsWaylandSession()) {
        session =
            "Wayland session (" +
            (environment.waylandDisplay.empty() ? "no WAYLAND_DISPLAY"
                                                : "Wayland display " + environment.waylandDisplay) +
            (environment.x11Display.empty() ? ", no X display)" : ", XWayland on " + environment.x11Display + ")");
    } else {
        session =
            "X11 session (X display " + (environment.x11Display.empty() ? "not set" : environment.x11Display) + ")";
    }
    std::string why;
    if (!chosenPlatform.empty())
        why = ", chosen so that the floating window stays above other windows and takes no focus";
    else if (!environment.qtPlatform.empty())
        why = ", QT_QPA_PLATFORM=" + environment.qtPlatform;
    const bool waylandClient = platformName.starts_with("wayland");
    std::string server = platformName;
    if (waylandClient)
        server = "Wayland";
    else if (platformName == "xcb")
        server = environment.IsWaylandSession() ? "XWayland" : "X11";
    std::vector<std::string> lines{"Display: " + session + "; windows on " + server + " through Qt platform " +
                                   platformName + why};
    if (waylandClient) lines.push_back(kWaylandClientLoses);
    return lines;
}
