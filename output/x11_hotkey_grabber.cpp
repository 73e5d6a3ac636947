#include "output/x11_hotkey_grabber.h"

#include <QMetaObject>
#include <QSocketNotifier>
#include <atomic>

#include "output/virtual_keys.h"

// Xlib's macros (None, Bool, KeyPress) would break Qt's headers: Xlib comes last.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace {

constexpr int kEvdevToXKeycode = 8;

// Xlib reports a refused grab asynchronously, through one process-wide error handler: while a
// grab is checked, errors of this connection are noted and every other error goes on to the
// handler that was installed before.
std::atomic<Display*> g_checkedDisplay{nullptr};
std::atomic<bool> g_refused{false};
std::atomic<XErrorHandler> g_previousHandler{nullptr};

int NoteGrabError(Display* display, XErrorEvent* error) {
    if (display == g_checkedDisplay.load()) {
        g_refused = true;
        return 0;
    }
    const XErrorHandler previous = g_previousHandler.load();
    return previous ? previous(display, error) : 0;
}

unsigned int ModifierMaskOf(Display* display, KeySym keysym) {
    const KeyCode keycode = XKeysymToKeycode(display, keysym);
    XModifierKeymap* map = XGetModifierMapping(display);
    unsigned int mask = 0;
    for (int modifier = 0; map && keycode != 0 && modifier < 8; ++modifier)
        for (int k = 0; k < map->max_keypermod; ++k)
            if (map->modifiermap[modifier * map->max_keypermod + k] == keycode) mask = 1u << modifier;
    if (map) XFreeModifiermap(map);
    return mask;
}

unsigned int XModifiers(std::uint16_t flags) {
    return ((flags & HOTKEYF_SHIFT) ? ShiftMask : 0) | ((flags & HOTKEYF_CONTROL) ? ControlMask : 0) |
           ((flags & HOTKEYF_ALT) ? Mod1Mask : 0);
}

}  // namespace

CX11HotkeyGrabber::CX11HotkeyGrabber(const char* displayName) {
    m_display = XOpenDisplay(displayName);
    if (m_display == nullptr) {
        const char* name = displayName ? displayName : XDisplayName(nullptr);
        m_strUnavailable = std::string("cannot open the X11 display \"") + (name ? name : "") + "\"";
        return;
    }
    m_root = DefaultRootWindow(m_display);
    // A held key then repeats as presses without releases, which are told apart from new presses.
    XkbSetDetectableAutoRepeat(m_display, True, nullptr);
    const unsigned int locks[] = {LockMask, ModifierMaskOf(m_display, XK_Num_Lock),
                                  ModifierMaskOf(m_display, XK_Scroll_Lock)};
    m_lockStates = {0};
    for (unsigned int lock : locks) {
        if (lock == 0) continue;
        const std::size_t count = m_lockStates.size();
        for (std::size_t i = 0; i < count; ++i)
            if ((m_lockStates[i] & lock) == 0) m_lockStates.push_back(m_lockStates[i] | lock);
    }
    m_notifier = std::make_unique<QSocketNotifier>(ConnectionNumber(m_display), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { ReadEvents(); });
}

CX11HotkeyGrabber::~CX11HotkeyGrabber() {
    if (m_display == nullptr) return;
    m_notifier.reset();
    for (const auto& [id, grab] : m_grabs) UngrabAllVariants(grab);
    XCloseDisplay(m_display);
}

bool CX11HotkeyGrabber::Register(const std::string& id, std::uint16_t virtualKey, std::uint16_t flags,
                                 std::string& whyNot) {
    if (m_display == nullptr) {
        whyNot = m_strUnavailable;
        return false;
    }
    Unregister(id);
    const int keycode = KeycodeOf(virtualKey, (flags & HOTKEYF_EXT) != 0);
    if (keycode == 0) {
        whyNot = "the keyboard has no such key";
        return false;
    }
    const Grab grab{keycode, XModifiers(flags), virtualKey, flags};
    // Another id of ours may hold it already: one X grab serves both.
    if (!HeldByAnotherId(grab, id) && !GrabAllVariants(grab)) {
        whyNot = "another program holds it";
        return false;
    }
    m_grabs[id] = grab;
    return true;
}

int CX11HotkeyGrabber::KeycodeOf(std::uint16_t virtualKey, bool extended) const {
    if (!IsNamedByPlace(virtualKey)) {
        const KeySym keysym = VirtualKeyToKeySym(virtualKey, extended);
        return keysym == 0 ? 0 : XKeysymToKeycode(m_display, keysym);
    }
    // By its place: X key codes are the Linux input codes plus 8 (evdev key codes), and in the
    // main block of keys under older keyboard drivers too.
    const int keycode = VirtualKeyToEvdevCode(virtualKey) + kEvdevToXKeycode;
    int lowest = 0, highest = 0;
    XDisplayKeycodes(m_display, &lowest, &highest);
    if (keycode < lowest || keycode > highest) return 0;
    return XkbKeycodeToKeysym(m_display, static_cast<KeyCode>(keycode), 0, 0) == NoSymbol ? 0 : keycode;
}

void CX11HotkeyGrabber::Unregister(const std::string& id) {
    const auto it = m_grabs.find(id);
    if (it == m_grabs.end()) return;
    const Grab grab = it->second;
    m_grabs.erase(it);
    if (!HeldByAnotherId(grab, id)) UngrabAllVariants(grab);
}

std::uint16_t CX11HotkeyGrabber::VirtualKeyAt(std::uint32_t keycode) const {
    if (!m_display || keycode < std::uint32_t{kEvdevToXKeycode} || keycode > 255) return 0;  // X key codes fit a byte
    if (const std::uint16_t placed = PlacedVirtualKey(static_cast<int>(keycode) - kEvdevToXKeycode)) return placed;
    return KeySymToVirtualKey(XkbKeycodeToKeysym(m_display, static_cast<KeyCode>(keycode), 0, 0));
}

bool CX11HotkeyGrabber::HeldByAnotherId(const Grab& grab, const std::string& id) const {
    for (const auto& [other, held] : m_grabs)
        if (other != id && held.keycode == grab.keycode && held.state == grab.state) return true;
    return false;
}

bool CX11HotkeyGrabber::GrabAllVariants(const Grab& grab) {
    g_refused = false;
    g_checkedDisplay = m_display;
    g_previousHandler = XSetErrorHandler(NoteGrabError);
    for (unsigned int lock : m_lockStates)
        XGrabKey(m_display, grab.keycode, grab.state | lock, m_root, False, GrabModeAsync, GrabModeAsync);
    Sync();
    XSetErrorHandler(g_previousHandler.load());
    g_checkedDisplay = nullptr;
    if (!g_refused) return true;
    // Lets go of the variants that were granted; another client's grabs stay untouched.
    UngrabAllVariants(grab);
    return false;
}

void CX11HotkeyGrabber::UngrabAllVariants(const Grab& grab) {
    for (unsigned int lock : m_lockStates) XUngrabKey(m_display, grab.keycode, grab.state | lock, m_root);
    // Done when this returns: another program (a new copy of this one) may grab the key next.
    Sync();
}

void CX11HotkeyGrabber::Sync() {
    XSync(m_display, False);
    // Events that the round trip queued are not announced by the socket any more.
    if (m_notifier) {
        const auto read = [this] { ReadEvents(); };
        QMetaObject::invokeMethod(m_notifier.get(), read, Qt::QueuedConnection);
    }
}

void CX11HotkeyGrabber::ReadEvents() {
    while (XPending(m_display) > 0) {
        XEvent event;
        XNextEvent(m_display, &event);
        if (event.type == KeyRelease) m_downKeycodes.erase(static_cast<int>(event.xkey.keycode));
        if (event.type != KeyPress) continue;
        const int keycode = static_cast<int>(event.xkey.keycode);
        if (!m_downKeycodes.insert(keycode).second) continue;  // auto-repeat
        const unsigned int state = event.xkey.state & (ShiftMask | ControlMask | Mod1Mask);
        for (const auto& [id, grab] : m_grabs)
            if (grab.keycode == keycode && grab.state == state) {
                if (m_handler) m_handler(grab.virtualKey, grab.flags);
                break;
            }
    }
}
