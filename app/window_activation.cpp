#include "app/window_activation.h"

#include <QGuiApplication>
#include <QWidget>

#include <X11/Xlib.h>  // after Qt: its macros break Qt's headers

void PrepareActivation(QWidget& window, const ActivationToken& token) {
    // Wayland: Qt hands the token to the compositor with the window's next activation.
    if (!token.activationToken.empty())
        qputenv("XDG_ACTIVATION_TOKEN", QByteArray::fromStdString(token.activationToken));
    // X11, XWayland too: the window manager reads the startup id, with the time of the user's
    // action in it, when the window is mapped. Qt offers no way to hand it on, so it is set here.
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr || token.startupId.empty()) return;
    Display* display = x11->display();
    XChangeProperty(display, window.winId(), XInternAtom(display, "_NET_STARTUP_ID", False),
                    XInternAtom(display, "UTF8_STRING", False), 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(token.startupId.data()),
                    static_cast<int>(token.startupId.size()));
    XFlush(display);
}
