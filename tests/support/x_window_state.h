// What a window manager says about the windows of an X display, read as a pager or a taskbar
// would: a window's ICCCM state, its EWMH states and allowed actions, its Motif hints, and the
// stacking order of the managed windows. Include after Qt's headers: Xlib's macros clash with them.
#pragma once

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <string>
#include <vector>

namespace test {

// The 32-bit items of a property, empty when it is absent or of another type.
inline std::vector<unsigned long> Property32(Display* x, Window window, const char* name, Atom type) {
    Atom actual = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<unsigned long> items;
    if (XGetWindowProperty(x, window, XInternAtom(x, name, False), 0, 1024, False, type, &actual, &format, &count,
                           &after, &data) == Success &&
        data != nullptr && format == 32)
        items.assign(reinterpret_cast<unsigned long*>(data), reinterpret_cast<unsigned long*>(data) + count);
    if (data != nullptr) XFree(data);
    return items;
}

// The names of the atoms in a property such as _NET_WM_STATE or _NET_WM_ALLOWED_ACTIONS.
inline std::vector<std::string> AtomNames(Display* x, Window window, const char* property) {
    std::vector<std::string> names;
    for (unsigned long atom : Property32(x, window, property, XA_ATOM)) {
        char* name = XGetAtomName(x, atom);
        if (name != nullptr) names.emplace_back(name), XFree(name);
    }
    return names;
}

inline bool Contains(const std::vector<std::string>& names, const std::string& name) {
    return std::ranges::find(names, name) != names.end();
}

// WM_STATE as the window manager set it: NormalState, IconicState, or WithdrawnState when unset.
inline long WmState(Display* x, Window window) {
    const std::vector<unsigned long> state = Property32(x, window, "WM_STATE", XInternAtom(x, "WM_STATE", False));
    return state.empty() ? WithdrawnState : static_cast<long>(state[0]);
}

inline bool Viewable(Display* x, Window window) {
    XWindowAttributes attributes{};
    return XGetWindowAttributes(x, window, &attributes) && attributes.map_state == IsViewable;
}

// _MOTIF_WM_HINTS: flags, functions, decorations; empty when unset.
inline std::vector<unsigned long> MotifHints(Display* x, Window window) {
    return Property32(x, window, "_MOTIF_WM_HINTS", XInternAtom(x, "_MOTIF_WM_HINTS", False));
}
inline constexpr unsigned long kMotifFunctionsGiven = 1UL << 0;
inline constexpr unsigned long kMotifAllFunctions = 1UL << 0;
inline constexpr unsigned long kMotifMinimise = 1UL << 3;
inline constexpr unsigned long kMotifMaximise = 1UL << 4;

// The managed windows from the bottom up, as the window manager publishes them.
inline std::vector<Window> StackingOrder(Display* x) {
    const std::vector<unsigned long> list = Property32(x, DefaultRootWindow(x), "_NET_CLIENT_LIST_STACKING", XA_WINDOW);
    return {list.begin(), list.end()};
}

// Whether `upper` lies above `lower` in the stacking order; false when either is not managed.
inline bool StackedAbove(Display* x, Window upper, Window lower) {
    const std::vector<Window> order = StackingOrder(x);
    const auto up = std::ranges::find(order, upper), low = std::ranges::find(order, lower);
    return up != order.end() && low != order.end() && up > low;
}

// The stacking order from the bottom up as names with their window types, for failure messages.
inline std::string DescribeStacking(Display* x) {
    std::string text;
    for (Window window : StackingOrder(x)) {
        char* title = nullptr;
        text += (XFetchName(x, window, &title) && title != nullptr) ? title : "(no name)";
        if (title != nullptr) XFree(title);
        for (const std::string& type : AtomNames(x, window, "_NET_WM_WINDOW_TYPE")) text += " " + type;
        text += "\n";
    }
    return text;
}

// A managed window named `name`, or None.
inline Window ClientNamed(Display* x, const std::string& name) {
    for (unsigned long window : Property32(x, DefaultRootWindow(x), "_NET_CLIENT_LIST", XA_WINDOW)) {
        char* title = nullptr;
        const bool named = XFetchName(x, window, &title) && title != nullptr && name == title;
        if (title != nullptr) XFree(title);
        if (named) return window;
    }
    return None;
}

inline Window FocusedWindow(Display* x) {
    Window focus = None;
    int revert = 0;
    XGetInputFocus(x, &focus, &revert);
    return focus;
}

// A plain window of the test's own, another program for the window manager: mapped, and given
// the focus as a click on it would.
inline Window MapOtherClient(Display* x, const std::string& name, int left, int top, int width, int height) {
    const Window window = XCreateSimpleWindow(x, DefaultRootWindow(x), left, top, width, height, 0, 0, 0xffffff);
    XStoreName(x, window, name.c_str());
    XSizeHints place{};
    place.flags = USPosition | USSize;
    place.x = left, place.y = top, place.width = width, place.height = height;
    XSetWMNormalHints(x, window, &place);
    XMapRaised(x, window);
    XSync(x, False);
    return window;
}

}  // namespace test
