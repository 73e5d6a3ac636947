// The tray tests run against a real system tray: a private Xvfb with trayer on it, started
// here before the application connects to it and stopped after the last test.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>

#include <QApplication>

#include "tray_desktop.h"
// Last: Xlib's macros (None, Bool, Status) clash with names in Qt's headers.
#include "trayer_process.h"
#include "xvfb_server.h"

namespace {

std::string g_desktopError;

}  // namespace

const std::string& test::TrayDesktopError() {
    return g_desktopError;
}

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);

    test::XvfbServer server;
    std::optional<test::TrayerProcess> trayer;
    if (!server.Ok()) {
        g_desktopError = server.Error();
    } else {
        ::setenv("DISPLAY", server.DisplayName().c_str(), 1);
        trayer.emplace(server.DisplayName());
        g_desktopError = trayer->Error();
    }
    if (g_desktopError.empty()) {
        qputenv("QT_QPA_PLATFORM", "xcb");
        // Keeps the icon on the private tray: with a session bus Qt could hand it to the
        // desktop's own notification area instead.
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    } else {
        // Enough for the tests to start and fail with the reason.
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // The application goes before the server and the tray it is connected to.
    auto app = std::make_unique<QApplication>(argc, argv);
    const int result = RUN_ALL_TESTS();
    app.reset();
    return result;
}
