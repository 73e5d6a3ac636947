// Hotkeys through X11 passive grabs on the root window, on a display connection of the grabber's
// own, read on the thread that makes the grabber (the user-interface thread, with a running Qt
// event loop). Each combination is grabbed with every state of Caps, Num and Scroll Lock.
//
//   CX11HotkeyGrabber grabber;                 // $DISPLAY
//   if (!grabber.Unavailable().empty()) ...;   // no X11 session
#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "output/hotkey_grabber.h"

struct _XDisplay;
class QSocketNotifier;

class CX11HotkeyGrabber final : public IHotkeyGrabber {
public:
    // Opens the display (nullptr: $DISPLAY); Unavailable() says why when it cannot.
    explicit CX11HotkeyGrabber(const char* displayName = nullptr);
    // Lets go of every grab and closes the connection.
    ~CX11HotkeyGrabber() override;

    const std::string& Unavailable() const override { return m_strUnavailable; }
    bool Register(const std::string& id, std::uint16_t virtualKey, std::uint16_t flags, std::string& whyNot) override;
    void Unregister(const std::string& id) override;
    void SetHandler(Handler handler) override { m_handler = std::move(handler); }
    std::uint16_t VirtualKeyAt(std::uint32_t keycode) const override;

private:
    struct Grab {
        int keycode = 0;
        unsigned int state = 0;  // X modifier mask
        std::uint16_t virtualKey = 0;
        std::uint16_t flags = 0;
    };

    // True when the X server accepted every lock-state variant of the grab.
    bool GrabAllVariants(const Grab& grab);
    void UngrabAllVariants(const Grab& grab);
    // A round trip: the server has handled every request sent so far.
    void Sync();
    bool HeldByAnotherId(const Grab& grab, const std::string& id) const;
    // The X key code of a virtual key, 0 when the keyboard has no such key.
    int KeycodeOf(std::uint16_t virtualKey, bool extended) const;
    void ReadEvents();

    _XDisplay* m_display = nullptr;
    unsigned long m_root = 0;
    std::vector<unsigned int> m_lockStates;  // every combination of the lock modifiers
    std::map<std::string, Grab> m_grabs;
    std::set<int> m_downKeycodes;  // grabbed keys held down, so that auto-repeat is one press
    std::unique_ptr<QSocketNotifier> m_notifier;
    Handler m_handler;
    std::string m_strUnavailable;
};
