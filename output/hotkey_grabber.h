// System-wide hotkeys: a combination of one key and Shift/Ctrl/Alt, grabbed under an id, reported
// on the user-interface thread whichever program has the focus.
//
//   grabber.SetHandler([](std::uint16_t vk, std::uint16_t modifiers) { ...act... });
//   std::string whyNot;
//   grabber.Unregister("mouseActive");
//   if (!grabber.Register("mouseActive", VK_F5, HOTKEYF_SHIFT, whyNot)) log(whyNot);
//
// The stored hotkey word keeps the hotkey control's layout: modifier flags (HOTKEYF_*) in the
// high 16 bits, the virtual-key code in the low 16 bits, 0 for none.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

inline constexpr std::uint16_t HOTKEYF_SHIFT = 0x01;
inline constexpr std::uint16_t HOTKEYF_CONTROL = 0x02;
inline constexpr std::uint16_t HOTKEYF_ALT = 0x04;
inline constexpr std::uint16_t HOTKEYF_EXT = 0x08;  // an extended key; no modifier

constexpr std::uint32_t MakeHotkeyWord(std::uint16_t virtualKey, std::uint16_t flags) {
    return static_cast<std::uint32_t>(flags) << 16 | virtualKey;
}
constexpr std::uint16_t HotkeyVirtualKey(std::uint32_t word) { return static_cast<std::uint16_t>(word & 0xFFFF); }
constexpr std::uint16_t HotkeyFlags(std::uint32_t word) { return static_cast<std::uint16_t>(word >> 16); }
// The flags that are modifiers: Shift, Ctrl and Alt.
constexpr std::uint16_t HotkeyModifiers(std::uint32_t word) {
    return HotkeyFlags(word) & (HOTKEYF_SHIFT | HOTKEYF_CONTROL | HOTKEYF_ALT);
}

class IHotkeyGrabber {
public:
    // A press of a registered combination: its virtual key and its HOTKEYF_* flags, as registered.
    using Handler = std::function<void(std::uint16_t virtualKey, std::uint16_t flags)>;

    IHotkeyGrabber() = default;
    virtual ~IHotkeyGrabber() = default;
    IHotkeyGrabber(const IHotkeyGrabber&) = delete;
    IHotkeyGrabber& operator=(const IHotkeyGrabber&) = delete;

    // Why no hotkey can work in this session (no X11 display), or empty when they can.
    virtual const std::string& Unavailable() const = 0;
    // Grabs the key with its Shift, Ctrl and Alt flags for the whole desktop under id; HOTKEYF_EXT
    // picks the extended key where two share a code (keypad Enter). False, with the reason, when
    // another program holds it, the keyboard has no such key, or hotkeys are unavailable. Whatever
    // the lock keys' state (Caps, Num, Scroll Lock), the combination is reported.
    virtual bool Register(const std::string& id, std::uint16_t virtualKey, std::uint16_t flags,
                          std::string& whyNot) = 0;
    // Lets go of what id holds; nothing when it holds nothing.
    virtual void Unregister(const std::string& id) = 0;
    // Called on the user-interface thread for every press of a registered combination; a key
    // held down is one press.
    virtual void SetHandler(Handler handler) = 0;
    // The virtual key of the keyboard key with this X key code, 0 when it names none here or
    // hotkeys are unavailable: a punctuation key by its place on the keyboard, any other key as it
    // reads without Shift (the key of "!" gives '1' on most layouts). A combination with Shift is
    // grabbed by that key.
    virtual std::uint16_t VirtualKeyAt(std::uint32_t keycode) const = 0;
};
