#include "output/uinput_injector.h"

#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <linux/input-event-codes.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "output/virtual_keys.h"

namespace {

void EndReport(EvdevBatch& batch) { batch.Push({EV_SYN, SYN_REPORT, 0}); }

}  // namespace

EvdevBatch TranslateToEvdev(const InputEvent& event, CWheelNotches* notches) {
    EvdevBatch batch;
    if (event.type == INPUT_MOUSE) {
        const std::uint32_t flags = event.mi.dwFlags;
        if (flags & MOUSEEVENTF_MOVE) {
            if (event.mi.dx != 0) batch.Push({EV_REL, REL_X, event.mi.dx});
            if (event.mi.dy != 0) batch.Push({EV_REL, REL_Y, event.mi.dy});
            if (!batch.empty()) EndReport(batch);
        }
        struct Transition {
            std::uint32_t flag;
            unsigned int button;
            int value;
        };
        static constexpr Transition kTransitions[] = {
            {MOUSEEVENTF_LEFTDOWN, BTN_LEFT, 1},     {MOUSEEVENTF_LEFTUP, BTN_LEFT, 0},
            {MOUSEEVENTF_RIGHTDOWN, BTN_RIGHT, 1},   {MOUSEEVENTF_RIGHTUP, BTN_RIGHT, 0},
            {MOUSEEVENTF_MIDDLEDOWN, BTN_MIDDLE, 1}, {MOUSEEVENTF_MIDDLEUP, BTN_MIDDLE, 0},
        };
        for (const Transition& transition : kTransitions) {
            if (!(flags & transition.flag)) continue;
            batch.Push({EV_KEY, transition.button, transition.value});
            EndReport(batch);
        }
        struct Wheel {
            std::uint32_t flag;
            CWheelNotches::Axis axis;
            unsigned int fine, notch;
        };
        static constexpr Wheel kWheels[] = {
            {MOUSEEVENTF_WHEEL, CWheelNotches::kVertical, REL_WHEEL_HI_RES, REL_WHEEL},
            {MOUSEEVENTF_HWHEEL, CWheelNotches::kHorizontal, REL_HWHEEL_HI_RES, REL_HWHEEL},
        };
        for (const Wheel& wheel : kWheels) {
            const std::int32_t amount = event.WheelAmount();
            if (!(flags & wheel.flag) || amount == 0) continue;
            CWheelNotches fresh;
            const int whole = (notches ? *notches : fresh).Add(wheel.axis, amount);
            batch.Push({EV_REL, wheel.fine, amount});
            if (whole != 0) batch.Push({EV_REL, wheel.notch, whole});
            EndReport(batch);
        }
    } else if (event.type == INPUT_KEYBOARD) {
        const int code = VirtualKeyToEvdevCode(event.ki.wVk);
        if (code < 0) return batch;
        batch.Push({EV_KEY, static_cast<unsigned int>(code), (event.ki.dwFlags & KEYEVENTF_KEYUP) ? 0 : 1});
        EndReport(batch);
    }
    return batch;
}

std::unique_ptr<CUinputInjector> CUinputInjector::Create(const char* uinputPath, std::string& whyNot) {
    const int fd = ::open(uinputPath, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        whyNot = std::string(uinputPath) + ": " + std::strerror(errno);
        return nullptr;
    }
    libevdev* description = libevdev_new();
    if (!description) {
        ::close(fd);
        whyNot = "libevdev_new failed";
        return nullptr;
    }
    libevdev_set_name(description, kDeviceName);
    libevdev_set_id_bustype(description, BUS_VIRTUAL);
    libevdev_enable_event_type(description, EV_REL);
    libevdev_enable_event_code(description, EV_REL, REL_X, nullptr);
    libevdev_enable_event_code(description, EV_REL, REL_Y, nullptr);
    for (unsigned int wheel : {REL_WHEEL, REL_HWHEEL, REL_WHEEL_HI_RES, REL_HWHEEL_HI_RES})
        libevdev_enable_event_code(description, EV_REL, wheel, nullptr);
    libevdev_enable_event_type(description, EV_KEY);
    for (unsigned int button : {BTN_LEFT, BTN_RIGHT, BTN_MIDDLE})
        libevdev_enable_event_code(description, EV_KEY, button, nullptr);
    for (int key : EvdevKeyCodes())
        libevdev_enable_event_code(description, EV_KEY, static_cast<unsigned int>(key), nullptr);

    libevdev_uinput* device = nullptr;
    const int result = libevdev_uinput_create_from_device(description, fd, &device);
    libevdev_free(description);
    if (result != 0) {
        ::close(fd);
        whyNot =
            std::string("creating the virtual device through ") + uinputPath + " failed: " + std::strerror(-result);
        return nullptr;
    }
    return std::unique_ptr<CUinputInjector>(new CUinputInjector(device, fd));
}

CUinputInjector::CUinputInjector(libevdev_uinput* device, int fd) : m_device(device), m_fd(fd) {}

CUinputInjector::~CUinputInjector() {
    if (const auto release = m_pressed.ReleaseEvent()) Write(TranslateToEvdev(*release));
    libevdev_uinput_destroy(m_device);
    ::close(m_fd);
}

void CUinputInjector::Send(const InputEvent& event) noexcept {
    std::lock_guard lock(m_lock);
    const EvdevBatch batch = TranslateToEvdev(event, &m_notches);
    if (batch.empty()) return;
    Write(batch);
    m_pressed.Note(event);
}

void CUinputInjector::Write(const EvdevBatch& batch) {
    // A refused write loses the event, as the system's refusal always did.
    for (const EvdevEvent& event : batch)
        (void)libevdev_uinput_write_event(m_device, event.type, event.code, event.value);
}

std::string CUinputInjector::DeviceNode() const {
    const char* node = libevdev_uinput_get_devnode(m_device);
    return node ? node : "";
}
