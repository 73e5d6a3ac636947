// Which display server the program's windows go to. In a Wayland session that offers an X display
// (XWayland) the windows go through X11 (Qt's xcb platform): a Wayland client can neither keep the
// floating window above the others nor keep it from taking the focus, and Qt would warn about a
// missing Wayland plugin where none is installed. A platform the user chose (QT_QPA_PLATFORM)
// stays the user's.
//
//   const DisplayEnvironment environment = DisplayEnvironment::OfProcess();
//   const std::string platform = ChooseQtPlatform(environment);   // before the QApplication
//   ... set QT_QPA_PLATFORM to it for the QApplication's construction, then restore it ...
//   for (const std::string& line : DescribeDisplay(environment, platform, qtPlatformName)) Log(line);
#pragma once

#include <string>
#include <vector>

struct DisplayEnvironment {
    std::string sessionType;     // XDG_SESSION_TYPE
    std::string waylandDisplay;  // WAYLAND_DISPLAY
    std::string x11Display;      // DISPLAY
    std::string qtPlatform;      // QT_QPA_PLATFORM: the user's choice

    static DisplayEnvironment OfProcess();
    bool IsWaylandSession() const { return sessionType == "wayland" || !waylandDisplay.empty(); }
};

// The Qt platform to start the QApplication on: "xcb" in a Wayland session with an X display
// where the user chose none, else "" (Qt's own choice, or the user's).
std::string ChooseQtPlatform(const DisplayEnvironment& environment);

// Whether Qt's Wayland platform is installed (Debian package qt6-wayland): looks in Qt's plugin
// folders, before the QApplication is made.
bool QtWaylandPlatformInstalled();

// A Wayland session without an X display, where the user chose no Qt platform, needs Qt's Wayland
// platform, and so does a QT_QPA_PLATFORM naming only Wayland platforms; without it Qt would end
// the program with a crash report. What to tell the user, or "".
std::string MissingDisplayPlatform(const DisplayEnvironment& environment, bool qtWaylandInstalled);

// The log's lines on the display: the session, the display server and the Qt platform that Qt
// started on (platformName) and why; for a Wayland client also what it loses. The loss line, when
// there is one, is the second.
std::vector<std::string> DescribeDisplay(const DisplayEnvironment& environment, const std::string& chosenPlatform,
                                         const std::string& platformName);
