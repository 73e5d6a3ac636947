#include "output/xtest_injector.h"

#include <cstdlib>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include "output/virtual_keys.h"

std::unique_ptr<CXTestInjector> CXTestInjector::Open(const char* displayName, std::string& whyNot) {
    const char* shown = displayName ? displayName : XDisplayName(nullptr);
    Display* display = XOpenDisplay(displayName);
    if (!display) {
        whyNot = std::string("cannot open X display \"") + (shown ? shown : "") + "\"";
        if (!displayName && (!shown || !*shown)) whyNot += " (DISPLAY is not set)";
        return nullptr;
    }
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor)) {
        whyNot = std::string("X display \"") + DisplayString(display) + "\" has no XTest extension";
        XCloseDisplay(display);
        return nullptr;
    }
    return std::unique_ptr<CXTestInjector>(new CXTestInjector(display, DisplayString(display)));
}

CXTestInjector::CXTestInjector(Display* display, std::string displayName)
    : m_display(display), m_displayName(std::move(displayName)) {}

CXTestInjector::~CXTestInjector() {
    // The server keeps a faked button down after the client is gone.
    if (const auto release = m_pressed.ReleaseEvent()) Inject(*release);
    XSync(m_display, False);
    XCloseDisplay(m_display);
}

void CXTestInjector::Send(const InputEvent& event) noexcept {
    std::lock_guard lock(m_lock);
    Inject(event);
    m_pressed.Note(event);
}

void CXTestInjector::Inject(const InputEvent& event) {
    if (event.type == INPUT_MOUSE) {
        const std::uint32_t flags = event.mi.dwFlags;
        // Zero motion is left out: it would only reset the screen saver's idle time.
        if ((flags & MOUSEEVENTF_MOVE) && (event.mi.dx != 0 || event.mi.dy != 0))
            XTestFakeRelativeMotionEvent(m_display, event.mi.dx, event.mi.dy, CurrentTime);
        // The order the flags are applied in: left, right, middle, press before release.
        struct Transition {
            std::uint32_t flag;
            unsigned int button;
            Bool press;
        };
        static constexpr Transition kTransitions[] = {
            {MOUSEEVENTF_LEFTDOWN, Button1, True},   {MOUSEEVENTF_LEFTUP, Button1, False},
            {MOUSEEVENTF_RIGHTDOWN, Button3, True},  {MOUSEEVENTF_RIGHTUP, Button3, False},
            {MOUSEEVENTF_MIDDLEDOWN, Button2, True}, {MOUSEEVENTF_MIDDLEUP, Button2, False},
        };
        for (const Transition& transition : kTransitions)
            if (flags & transition.flag)
                XTestFakeButtonEvent(m_display, transition.button, transition.press, CurrentTime);
        // The X server knows the wheel only as buttons: a click of one for each whole notch.
        struct Wheel {
            std::uint32_t flag;
            CWheelNotches::Axis axis;
            unsigned int forward, backward;  // for positive and negative amounts
        };
        static constexpr Wheel kWheels[] = {
            {MOUSEEVENTF_WHEEL, CWheelNotches::kVertical, Button4, Button5},
            {MOUSEEVENTF_HWHEEL, CWheelNotches::kHorizontal, 7, 6},
        };
        for (const Wheel& wheel : kWheels) {
            if (!(flags & wheel.flag)) continue;
            const int notches = m_notches.Add(wheel.axis, event.WheelAmount());
            for (int i = 0; i < std::abs(notches); ++i)
                for (const Bool press : {True, False})
                    XTestFakeButtonEvent(m_display, notches > 0 ? wheel.forward : wheel.backward, press, CurrentTime);
        }
    } else if (event.type == INPUT_KEYBOARD) {
        const KeySym keysym = VirtualKeyToKeySym(event.ki.wVk);
        const KeyCode keycode = keysym ? XKeysymToKeycode(m_display, keysym) : 0;
        if (keycode == 0) return;  // no such key on this keyboard map: dropped
        XTestFakeKeyEvent(m_display, keycode, (event.ki.dwFlags & KEYEVENTF_KEYUP) ? False : True, CurrentTime);
    }
    XFlush(m_display);
}
