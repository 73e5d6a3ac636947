#include "app/window_activation.h"

#include <unistd.h>

#include <QGuiApplication>
#include <QWidget>
#include <charconv>
#include <optional>
#include <string_view>

#include <X11/Xatom.h>
#include <X11/Xlib.h>  // after Qt: its macros break Qt's headers

namespace {

Display* QtDisplay() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->display() : nullptr;
}

// The server's time now: the time stamp of a property change on a window of a connection of this
// function's own (Qt's events must not be read here).
std::optional<Time> ServerTime(Display* qtDisplay) {
    Display* display = XOpenDisplay(DisplayString(qtDisplay));
    if (display == nullptr) return std::nullopt;
    const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    XSelectInput(display, window, PropertyChangeMask);
    XChangeProperty(display, window, XInternAtom(display, "_MIVEX_TIME", False), XA_STRING, 8, PropModeAppend, nullptr,
                    0);
    XEvent event;
    XWindowEvent(display, window, PropertyChangeMask, &event);
    XDestroyWindow(display, window);
    XCloseDisplay(display);
    return event.xproperty.time;
}

// The time in a startup id ("..._TIME<number>"), as the startup-notification rules place it.
std::optional<Time> StartupTime(std::string_view startupId) {
    const std::size_t at = startupId.rfind("_TIME");
    if (at == std::string_view::npos) return std::nullopt;
    const std::string_view digits = startupId.substr(at + 5);
    unsigned long time = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), time);
    if (error != std::errc() || end != digits.data() + digits.size() || time == 0) return std::nullopt;
    return static_cast<Time>(time);
}

}  // namespace

ActivationToken WithUserTime(ActivationToken token) {
    Display* display = QtDisplay();
    if (display == nullptr || !token.startupId.empty()) return token;
    if (const std::optional<Time> now = ServerTime(display))
        token.startupId = "mivex-" + std::to_string(::getpid()) + "_TIME" + std::to_string(*now);
    return token;
}

void PrepareActivation(QWidget& window, const ActivationToken& token) {
    // Wayland: Qt hands the token to the compositor with the window's next activation.
    if (!token.activationToken.empty())
        qputenv("XDG_ACTIVATION_TOKEN", QByteArray::fromStdString(token.activationToken));
    // X11, XWayland too: the window manager reads the startup id, with the time of the user's
    // action in it, when the window is mapped. Qt offers no way to hand it on, so it is set here.
    Display* display = QtDisplay();
    if (display == nullptr || token.startupId.empty()) return;
    XChangeProperty(display, window.winId(), XInternAtom(display, "_NET_STARTUP_ID", False),
                    XInternAtom(display, "UTF8_STRING", False), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(token.startupId.data()),
                    static_cast<int>(token.startupId.size()));
    XFlush(display);
}

void ActivateForUser(QWidget& window, const ActivationToken& token) {
    Display* display = QtDisplay();
    const std::optional<Time> time = StartupTime(token.startupId);
    if (display == nullptr || !time) return;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window.winId();
    event.xclient.message_type = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2;  // source: a direct action of the user
    event.xclient.data.l[1] = static_cast<long>(*time);
    XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XFlush(display);
}
