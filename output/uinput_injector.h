// Injection through a virtual input device made with uinput (libevdev): seen by the kernel like a
// real mouse and keyboard, so it works under X11 and Wayland alike. Needs write access to
// /dev/uinput.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

#include "output/input_injector.h"
#include "output/pressed_buttons.h"
#include "output/wheel_notches.h"

struct libevdev_uinput;

// One kernel input event: EV_REL/REL_X and the like.
struct EvdevEvent {
    unsigned int type;
    unsigned int code;
    int value;

    friend bool operator==(const EvdevEvent&, const EvdevEvent&) = default;
};

// The kernel events of one InputEvent, held in place so that the per-frame path allocates nothing.
class EvdevBatch {
public:
    static constexpr std::size_t kCapacity = 16;

    void Push(EvdevEvent event) { m_events[m_count++] = event; }
    std::size_t size() const { return m_count; }
    bool empty() const { return m_count == 0; }
    const EvdevEvent* begin() const { return m_events.data(); }
    const EvdevEvent* end() const { return m_events.data() + m_count; }
    const EvdevEvent& operator[](std::size_t i) const { return m_events[i]; }

private:
    std::array<EvdevEvent, kCapacity> m_events{};
    std::size_t m_count = 0;
};

// The kernel events for one InputEvent. Motion gives REL_X and REL_Y (a zero component is left
// out, as the kernel drops it anyway), each button transition an EV_KEY BTN_* with 1 or 0, a key
// event its KEY_* code with 1 or 0; each group ends with SYN_REPORT so that a press and a release
// in one event stay two reports. A wheel turn gives REL_WHEEL_HI_RES (or REL_HWHEEL_HI_RES) with
// the amount as it is, the same 120 a notch, and in the same report REL_WHEEL (REL_HWHEEL) with
// the whole notches that completes, counted in notches (a fresh count when null), so that readers
// of either axis scroll alike. An event that changes nothing, or names a key without a code,
// gives an empty batch.
EvdevBatch TranslateToEvdev(const InputEvent& event, CWheelNotches* notches = nullptr);

class CUinputInjector final : public IInputInjector {
public:
    static constexpr const char* kDeviceName = "Mivex virtual pointer";

    // Opens uinputPath for writing and creates the virtual device: REL_X/REL_Y, both wheels in
    // notches and in fine steps, the three buttons and the keys of virtual_keys.h. On failure
    // returns nullptr and says why in whyNot.
    static std::unique_ptr<CUinputInjector> Create(const char* uinputPath, std::string& whyNot);

    // Releases any button still held, then removes the device.
    ~CUinputInjector() override;
    CUinputInjector(const CUinputInjector&) = delete;
    CUinputInjector& operator=(const CUinputInjector&) = delete;

    void Send(const InputEvent& event) noexcept override;

    // The device node, e.g. /dev/input/event7; empty when the kernel did not say.
    std::string DeviceNode() const;

private:
    CUinputInjector(libevdev_uinput* device, int fd);
    void Write(const EvdevBatch& batch);

    std::mutex m_lock;
    libevdev_uinput* m_device;
    int m_fd;
    CPressedButtons m_pressed;
    CWheelNotches m_notches;
};
